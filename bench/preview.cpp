// Preview benchmark: the virtual 1080p USB camera into video windows.
//
// First the default stream (640x480 YUYV at 30 fps) in the video area at the main window's
// design size: frames delivered and painted, process CPU time per frame, time from the
// stream's start to the first painted frame.
//
// Then the camera at 1920x1080 and at 1280x720, where Motion-JPEG gives 30 fps, in turns
// of a second (argument: the number of turns, default 5): frames delivered per second;
// process CPU time per frame the plain way (every frame converted to
// full-size BGR24 by libv4lconvert in the streaming thread, as libv4l2 converts, copied into
// a picture and stretched into the window when painted), our way with the window shown at
// the main window's size (the frame decoded once per paint at the eighths of its size that
// cover the window) and with the window hidden (nothing converted); the time from a
// photograph's request to its full-size picture; and the ratios to the plain way.
//
// Last, shown top-level windows of 640x480 and 1920x1080 (the full-screen case) on the
// 1920x1080 stream: CPU per frame and the share of frames painted.
//
// Offscreen unless QT_QPA_PLATFORM says otherwise (for example xcb under Xvfb, where the
// window system's share of the work is the X server's and not this process's).
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <QApplication>
#include <QElapsedTimer>
#include <QMutex>
#include <QPainter>
#include <QThread>
#include <QTimer>
#include <QWindow>

#include <libv4l-plugin.h>
#include <libv4lconvert.h>

#include "bench/BenchSupport.h"
#include "capture/FilterGraph.h"
#include "capture/Snapixture.h"
#include "capture/VirtualCamera.h"
#include "widgets/FrameStretcher.h"
#include "widgets/VideoWindow.h"

namespace {

using bench::Clock;
using bench::CpuMs;
using bench::MsSince;

constexpr QSize kVideoArea(364, 255);  // the video area at the main window's design size

bool WaitExposed(QWidget& window) {
    QElapsedTimer waited;
    waited.start();
    while (!(window.windowHandle() && window.windowHandle()->isExposed())) {
        if (waited.elapsed() > 5000) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

void Spin(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// libv4lconvert needs a device to be made on; the conversion itself asks it nothing.
struct TPlainDevice {
    static int Ioctl(void*, int, unsigned long request, void* arg) {
        if (request == VIDIOC_QUERYCAP) {
            auto* cap = static_cast<v4l2_capability*>(arg);
            std::memset(cap, 0, sizeof *cap);
            cap->capabilities = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
            return 0;
        }
        if (request == VIDIOC_ENUM_FMT && static_cast<v4l2_fmtdesc*>(arg)->index < 2) {
            auto* f = static_cast<v4l2_fmtdesc*>(arg);
            f->pixelformat = f->index == 0 ? V4L2_PIX_FMT_YUYV : V4L2_PIX_FMT_MJPEG;
            return 0;
        }
        errno = EINVAL;
        return -1;
    }
    static ssize_t Read(void*, int, void*, size_t) { return -1; }
    static ssize_t Write(void*, int, const void*, size_t) { return -1; }
    static void* Init(int) { return nullptr; }
    static void Close(void*) {}
};
const libv4l_dev_ops kPlainOps = {TPlainDevice::Init, TPlainDevice::Close, TPlainDevice::Ioctl,
                                  TPlainDevice::Read, TPlainDevice::Write, nullptr,
                                  nullptr,            nullptr,             nullptr,
                                  nullptr,            nullptr,             nullptr};

// The program before frames were kept as the camera sent them: libv4l2 converted every
// frame in the dequeue to full-size BGR24 in its own buffer, the streaming thread copied
// that into a picture, and the window stretched the picture when it painted, into its
// backing store as ours does.
class TPlainWindow : public QWidget, public IFrameSink {
  public:
    TPlainWindow() : FConvert(v4lconvert_create_with_dev_ops(-1, nullptr, &kPlainOps)) {
        setAttribute(Qt::WA_OpaquePaintEvent);
    }
    ~TPlainWindow() override {
        if (FGraph) {
            FGraph->RemoveSink(this);
        }
        v4lconvert_destroy(FConvert);
    }
    void GraphChanged(TFilterGraph* graph) override { FGraph = graph; }
    void FrameGone() override {}

    void FrameArrived(const TNativeFrame& frame) override {  // streaming thread
        v4l2_format source{}, target{};
        source.type = target.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        source.fmt.pix.pixelformat = frame.PixelFormat;
        source.fmt.pix.width = target.fmt.pix.width = uint32_t(frame.Width);
        source.fmt.pix.height = target.fmt.pix.height = uint32_t(frame.Height);
        source.fmt.pix.bytesperline = frame.BytesPerLine;
        target.fmt.pix.pixelformat = V4L2_PIX_FMT_BGR24;
        target.fmt.pix.bytesperline = uint32_t(frame.Width) * 3;
        const std::size_t size = std::size_t(frame.Width) * frame.Height * 3;
        target.fmt.pix.sizeimage = uint32_t(size);
        FConverted.resize(size);
        if (v4lconvert_convert(FConvert, &source, &target, const_cast<uint8_t*>(frame.Data()),
                               int(frame.Size), FConverted.data(), int(size)) < 0) {
            return;
        }
        // A picture nobody holds any more is written again, as the program's pool did.
        QImage* free = nullptr;
        for (QImage& pooled : FPool) {
            if (pooled.isDetached() && pooled.width() == frame.Width &&
                pooled.height() == frame.Height) {
                free = &pooled;
                break;
            }
        }
        for (QImage& pooled : FPool) {
            if (!free && (pooled.isNull() || pooled.isDetached())) {
                pooled = QImage(frame.Width, frame.Height, QImage::Format_BGR888);
                free = &pooled;
            }
        }
        QImage spare;
        if (!free) {
            spare = QImage(frame.Width, frame.Height, QImage::Format_BGR888);
            free = &spare;
        }
        QImage& picture = *free;
        for (int y = 0; y < frame.Height; ++y) {
            std::memcpy(picture.scanLine(y), FConverted.data() + std::size_t(y) * frame.Width * 3,
                        std::size_t(frame.Width) * 3);
        }
        {
            QMutexLocker lock(&FMutex);
            FLatest = picture;
        }
        // At most one repaint pending, as the program asked for them.
        if (!FRepaintPending.exchange(true)) {
            QMetaObject::invokeMethod(this, [this] { update(); }, Qt::QueuedConnection);
        }
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        FRepaintPending.store(false);
        QImage picture;
        {
            QMutexLocker lock(&FMutex);
            picture = FLatest;
        }
        if (picture.isNull()) {
            return;
        }
        QPainter painter(this);
        FStretcher.Paint(painter, *this, picture);
    }

  private:
    TFilterGraph* FGraph = nullptr;
    v4lconvert_data* FConvert;
    std::vector<uint8_t> FConverted;
    QImage FPool[3];  // streaming thread
    QMutex FMutex;
    QImage FLatest;
    TFrameStretcher FStretcher;
    std::atomic<bool> FRepaintPending{false};
};

// The camera streaming at `size` to whatever `join` adds to the graph.
struct TStream {
    TFilterGraph graph;
    TFilter device;
    TSampleGrabber grabber;

    bool Start(QSize size) {
        device.SetFilterGraph(&graph);
        grabber.SetFilterGraph(&graph);
        device.SetBaseFilter(TMoniker{VirtualCamera::kPath, &VirtualCamera::Instance()});
        return graph.SetActive(true) == 0 && graph.RenderStream(size) == 0 &&
               graph.FrameWidth() == size.width() && graph.RunGraph() == 0;
    }
    ~TStream() {
        graph.SetActive(false);
        grabber.SetFilterGraph(nullptr);
        device.SetFilterGraph(nullptr);
    }
};

// Frames and CPU time over one or more measured stretches.
struct TRun {
    uint64_t frames = 0;
    double cpuMs = 0, seconds = 0;
    double Fps() const { return seconds > 0 ? frames / seconds : 0; }
    double CpuMsPerFrame() const { return frames ? cpuMs / frames : 0; }
    void Add(const TRun& other) {
        frames += other.frames;
        cpuMs += other.cpuMs;
        seconds += other.seconds;
    }
};

// Shows `window` at `shown` and streams the camera at `size` to it.
template <class Window>
bool ShowAndStream(Window& window, QSize shown, TStream& stream, QSize size) {
    window.resize(shown);
    window.show();
    if (!WaitExposed(window)) {
        std::fprintf(stderr, "the %dx%d window was never shown\n", shown.width(), shown.height());
        return false;
    }
    if (!stream.Start(size)) {
        std::fprintf(stderr, "no %dx%d stream\n", size.width(), size.height());
        return false;
    }
    stream.graph.AddSink(&window);
    return true;
}

// The stream's frames and the process's CPU time over `ms`, after `warmMs` (the camera
// encodes its ring of frames, the first paints size their pictures).
TRun Measure(TStream& stream, int ms, int warmMs) {
    Spin(warmMs);
    const uint64_t before = stream.graph.FramesDelivered();
    const double cpu = CpuMs();
    const Clock::time_point start = Clock::now();
    Spin(ms);
    TRun run;
    run.frames = stream.graph.FramesDelivered() - before;
    run.cpuMs = CpuMs() - cpu;
    run.seconds = MsSince(start) / 1000.0;
    return run;
}

// The default stream in the video area: what the window shows at start.
int DefaultStream(int seconds) {
    TVideoWindow window;
    window.resize(kVideoArea);
    window.show();
    TSnapixture camera;
    camera.SetVideoWindow(&window);
    camera.SetMoniker(TMoniker{VirtualCamera::kPath, &VirtualCamera::Instance()});
    camera.Stop();
    const uint64_t paintedBefore = window.FramesPainted();
    QElapsedTimer clock;
    clock.start();
    const double cpuStart = CpuMs();
    if (camera.Preview() != 0 || camera.SampleWidth != 640) {
        std::fprintf(stderr, "the default stream did not start at 640x480\n");
        return 1;
    }
    // Looks for the first painted frame every millisecond, and then stops: its wake-ups
    // would otherwise be most of the CPU time measured.
    qint64 firstFrameMs = -1;
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        if (window.FramesPainted() > paintedBefore) {
            firstFrameMs = clock.elapsed();
            probe.stop();
        }
    });
    probe.start(1);
    Spin(seconds * 1000);
    const uint64_t delivered = camera.FilterGraph()->FramesDelivered();
    const uint64_t painted = window.FramesPainted() - paintedBefore;
    const double cpu = CpuMs() - cpuStart;
    camera.Stop();
    if (delivered == 0) {
        return 1;
    }
    std::printf("default_stream %s\n", "640x480_YUYV_30fps");
    std::printf("frames_delivered %llu frames\n", static_cast<unsigned long long>(delivered));
    std::printf("frames_painted %llu frames\n", static_cast<unsigned long long>(painted));
    std::printf("cpu_ms_per_frame %.3f ms\n", cpu / delivered);
    std::printf("first_frame_ms %lld ms\n", static_cast<long long>(firstFrameMs));
    std::printf("painted_ratio %.3f\n", double(painted) / delivered);
    return 0;
}

// The plain way and ours at one size, in turns of a second each (the plain way, ours
// shown, ours hidden), so that what else the machine does weighs on all three alike.
int Compare(QSize size, int rounds) {
    const std::string name = "mjpeg" + std::to_string(size.height());
    TRun plain, shown, hidden;
    uint64_t painted = 0;
    double photoMs = 0, frameKb = 0;
    for (int round = 0; round < rounds; ++round) {
        {
            TPlainWindow window;
            TStream stream;
            if (!ShowAndStream(window, kVideoArea, stream, size)) {
                return 1;
            }
            plain.Add(Measure(stream, 1000, 300));
        }
        TVideoWindow window;
        TStream stream;
        if (!ShowAndStream(window, kVideoArea, stream, size)) {
            return 1;
        }
        const uint64_t paintedBefore = window.FramesPainted();
        shown.Add(Measure(stream, 1000, 300));
        painted += window.FramesPainted() - paintedBefore;
        window.hide();
        const uint64_t convertedBefore = window.FramesPainted();
        hidden.Add(Measure(stream, 1000, 100));
        if (window.FramesPainted() != convertedBefore) {
            std::fprintf(stderr, "the hidden window converted frames\n");
            return 1;
        }
        if (round + 1 < rounds) {
            continue;
        }
        frameKb = window.CurrentFrame().Size / 1024.0;
        // From a photograph's request to its full-size picture: the newest frame decoded.
        std::vector<double> times;
        for (int i = 0; i < 20; ++i) {
            Spin(40);
            QImage picture;
            const Clock::time_point start = Clock::now();
            if (stream.grabber.GrabBitmap(picture) != 0 || picture.size() != size) {
                std::fprintf(stderr, "no photograph\n");
                return 1;
            }
            times.push_back(MsSince(start));
        }
        photoMs = bench::Median(times);
    }
    std::printf("%s_frame_kb %.1f KB\n", name.c_str(), frameKb);
    std::printf("%s_fps_delivered %.1f fps\n", name.c_str(), shown.Fps());
    std::printf("%s_plain_fps_delivered %.1f fps\n", name.c_str(), plain.Fps());
    std::printf("%s_shown_painted_share %.3f\n", name.c_str(),
                std::min(1.0, double(painted) / std::max<uint64_t>(shown.frames, 1)));
    std::printf("%s_plain_cpu_ms_per_frame %.3f ms\n", name.c_str(), plain.CpuMsPerFrame());
    std::printf("%s_shown_cpu_ms_per_frame %.3f ms\n", name.c_str(), shown.CpuMsPerFrame());
    std::printf("%s_hidden_cpu_ms_per_frame %.3f ms\n", name.c_str(), hidden.CpuMsPerFrame());
    std::printf("%s_photo_ms %.2f ms\n", name.c_str(), photoMs);
    std::printf("%s_shown_vs_plain %.3f\n", name.c_str(),
                shown.CpuMsPerFrame() / plain.CpuMsPerFrame());
    std::printf("%s_hidden_vs_plain %.3f\n", name.c_str(),
                hidden.CpuMsPerFrame() / plain.CpuMsPerFrame());
    return 0;
}

// Shown top-level windows on the 1920x1080 stream.
int Windows(int seconds) {
    for (const QSize size : {QSize(640, 480), QSize(1920, 1080)}) {
        TVideoWindow window;
        TStream stream;
        if (!ShowAndStream(window, size, stream, QSize(1920, 1080))) {
            return 1;
        }
        const uint64_t paintedBefore = window.FramesPainted();
        const TRun run = Measure(stream, seconds * 1000, 1000);
        const double painted = double(window.FramesPainted() - paintedBefore);
        const std::string name = std::to_string(size.width()) + "x" + std::to_string(size.height());
        std::printf("window_cpu_ms_per_frame_%s %.3f ms\n", name.c_str(), run.CpuMsPerFrame());
        std::printf("window_painted_ratio_%s %.3f\n", name.c_str(),
                    std::min(1.0, painted / std::max<uint64_t>(run.frames, 1)));
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    // The benchmark measures the program: the camera's exposure is settled from the start.
    VirtualCamera::Instance().Reset();
    VirtualCamera::Instance().SetSettling(false);
    if (DefaultStream(seconds) != 0) {
        return 1;
    }
    for (const QSize size : {QSize(1920, 1080), QSize(1280, 720)}) {
        if (Compare(size, seconds) != 0) {
            return 1;
        }
    }
    return Windows(seconds);
}
