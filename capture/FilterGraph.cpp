// The capture graph over the VideoIo seam.
#include "capture/FilterGraph.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <thread>

#include <sys/eventfd.h>
#include <unistd.h>

#include <linux/videodev2.h>

#include <QMetaObject>
#include <QMutexLocker>

namespace {
constexpr uint32_t kBufferCount = 4;
constexpr int kPollTimeoutMs = 1000;
}  // namespace

// Owns one running stream: the mapped buffers and the streaming thread.
class StreamWorker {
  public:
    using FrameHandler = std::function<void(const QImage&)>;
    using LostHandler = std::function<void(int error)>;

    StreamWorker(VideoIo* io, int fd, int width, int height, int stride, FrameHandler onFrame,
                 LostHandler onLost)
        : FIo(io),
          FFd(fd),
          FWidth(width),
          FHeight(height),
          FStride(stride),
          FOnFrame(std::move(onFrame)),
          FOnLost(std::move(onLost)) {}

    ~StreamWorker() { Stop(); }

    // GUI thread. 0, or -errno with everything released again.
    int Start() {
        FWake.Reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
        if (!FWake.Valid()) {
            return -errno;
        }
        const int r = Prepare();
        if (r < 0) {
            Release();
            return r;
        }
        FThread = std::thread([this] { Run(); });
        return 0;
    }

    // GUI thread. Ends the thread and releases the buffers; returns the first
    // error the device gave other than "gone" (everything is released anyway).
    int Stop() {
        if (FThread.joinable()) {
            const uint64_t one = 1;
            [[maybe_unused]] auto n = ::write(FWake.Get(), &one, sizeof one);
            FThread.join();
        }
        return Release();
    }

    uint64_t Delivered() const { return FDelivered.load(std::memory_order_relaxed); }

  private:
    // Buffers requested, mapped and queued, stream on.
    int Prepare() {
        v4l2_requestbuffers req{};
        req.count = kBufferCount;
        req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        req.memory = V4L2_MEMORY_MMAP;
        if (const int r = FIo->Ioctl(FFd, VIDIOC_REQBUFS, &req); r < 0) {
            return r;
        }
        FRequested = true;
        if (req.count == 0) {
            return -ENOMEM;
        }
        for (uint32_t i = 0; i < req.count; ++i) {
            v4l2_buffer buf{};
            buf.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            buf.memory = V4L2_MEMORY_MMAP;
            buf.index = i;
            if (const int r = FIo->Ioctl(FFd, VIDIOC_QUERYBUF, &buf); r < 0) {
                return r;
            }
            int error = -EIO;
            void* p = FIo->Mmap(buf.length, FFd, buf.m.offset, &error);
            if (!p) {
                return error;
            }
            FMappings.emplace_back(FIo, p, buf.length);
            if (const int r = FIo->Ioctl(FFd, VIDIOC_QBUF, &buf); r < 0) {
                return r;
            }
        }
        int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (const int r = FIo->Ioctl(FFd, VIDIOC_STREAMON, &type); r < 0) {
            return r;
        }
        FStreaming = true;
        return 0;
    }

    int Release() {
        int first = 0;
        auto note = [&first](int r) {
            if (r < 0 && r != -ENODEV && first == 0) {
                first = r;
            }
        };
        if (FStreaming) {
            int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            note(FIo->Ioctl(FFd, VIDIOC_STREAMOFF, &type));
            FStreaming = false;
        }
        for (TDeviceMapping& m : FMappings) {
            note(m.Release());
        }
        FMappings.clear();
        if (FRequested) {
            v4l2_requestbuffers req{};
            req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            req.memory = V4L2_MEMORY_MMAP;
            note(FIo->Ioctl(FFd, VIDIOC_REQBUFS, &req));
            FRequested = false;
        }
        FWake.Reset();
        return first;
    }

    // A frame image to fill: one that nobody else holds any more, so frames
    // already handed out are never written again.
    QImage& NextImage() {
        for (QImage& image : FPool) {
            if (image.isDetached() && image.width() == FWidth && image.height() == FHeight) {
                return image;
            }
        }
        for (QImage& image : FPool) {
            if (image.isNull() || image.isDetached()) {
                image = QImage(FWidth, FHeight, QImage::Format_BGR888);
                return image;
            }
        }
        // All held elsewhere (a slow painter and a grab at once): a new one.
        FSpare = QImage(FWidth, FHeight, QImage::Format_BGR888);
        return FSpare;
    }

    // Streaming thread: no program code beyond handing frames on runs here.
    void Run() {
        for (;;) {
            const int ready = FIo->Poll(FFd, FWake.Get(), kPollTimeoutMs);
            if (ready < 0) {
                return FOnLost(ready);
            }
            if (ready & VideoIo::kPollWoken) {
                return;
            }
            if (!(ready & VideoIo::kPollFrame)) {
                continue;
            }
            v4l2_buffer buf{};
            buf.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            buf.memory = V4L2_MEMORY_MMAP;
            const int r = FIo->Ioctl(FFd, VIDIOC_DQBUF, &buf);
            if (r == -EAGAIN) {
                continue;
            }
            if (r < 0 || buf.index >= FMappings.size()) {
                return FOnLost(r < 0 ? r : -EIO);
            }
            if (!(buf.flags & V4L2_BUF_FLAG_ERROR) &&
                buf.bytesused >= static_cast<uint32_t>(FStride) * FHeight) {
                Deliver(static_cast<const uint8_t*>(FMappings[buf.index].Address()));
            }
            // A failed re-queue is final: the buffer is not tried again.
            if (const int q = FIo->Ioctl(FFd, VIDIOC_QBUF, &buf); q < 0) {
                return FOnLost(q);
            }
        }
    }

    void Deliver(const uint8_t* data) {
        QImage& image = NextImage();
        const int rowBytes = FWidth * 3;
        if (FStride == image.bytesPerLine()) {
            std::memcpy(image.bits(), data, static_cast<std::size_t>(FStride) * FHeight);
        } else {
            for (int y = 0; y < FHeight; ++y) {
                std::memcpy(image.scanLine(y), data + static_cast<std::size_t>(y) * FStride,
                            rowBytes);
            }
        }
        FDelivered.fetch_add(1, std::memory_order_relaxed);
        FOnFrame(image);
    }

    VideoIo* FIo;
    int FFd;  // borrowed from the device filter, which outlives the worker
    int FWidth, FHeight, FStride;
    FrameHandler FOnFrame;
    LostHandler FOnLost;
    TUniqueFd FWake;
    bool FRequested = false;
    bool FStreaming = false;
    std::vector<TDeviceMapping> FMappings;
    std::thread FThread;
    std::atomic<uint64_t> FDelivered{0};
    QImage FPool[3];
    QImage FSpare;
};

// ---------------------------------------------------------------- TFilter

TFilter::TFilter(QObject* owner) : QObject(owner) {}

TFilter::~TFilter() {
    SetFilterGraph(nullptr);
}

void TFilter::SetFilterGraph(TFilterGraph* graph) {
    TFilterGraph::Move(this, FGraph, graph);
}

int TFilter::Bind() {
    Unbind();
    if (FMoniker.IsNone()) {
        return 0;
    }
    const int fd = FMoniker.io->Open(FMoniker.path.toStdString());
    if (fd < 0) {
        return fd;
    }
    FDevice = TDeviceFd(FMoniker.io, fd);
    return 0;
}

int TFilter::Ioctl(unsigned long request, void* arg) const {
    return FDevice.Valid() ? FDevice.Io()->Ioctl(FDevice.Get(), request, arg) : -ENXIO;
}

int TFilter::GetFormat(v4l2_format& format) const {
    std::memset(&format, 0, sizeof format);
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    return Ioctl(VIDIOC_G_FMT, &format);
}

int TFilter::SetFormat(v4l2_format& format) const {
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    return Ioctl(VIDIOC_S_FMT, &format);
}

// --------------------------------------------------------- TSampleGrabber

TSampleGrabber::TSampleGrabber(QObject* owner) : QObject(owner) {}

TSampleGrabber::~TSampleGrabber() {
    SetFilterGraph(nullptr);
}

void TSampleGrabber::SetFilterGraph(TFilterGraph* graph) {
    TFilterGraph::Move(this, FGraph, graph);
}

int TSampleGrabber::GrabBitmap(QImage& bitmap) const {
    if (!FGraph || !FGraph->Active()) {
        return -ENOTCONN;
    }
    QMutexLocker lock(&FMutex);
    if (FLatest.isNull()) {
        return -EAGAIN;
    }
    // Frames are never written once handed out, so sharing is a safe copy;
    // the photo pipeline's first write detaches it.
    bitmap = FLatest;
    return 0;
}

void TSampleGrabber::FrameArrived(const QImage& frame) {
    QMutexLocker lock(&FMutex);
    FLatest = frame;
}

void TSampleGrabber::FrameGone() {
    QMutexLocker lock(&FMutex);
    FLatest = QImage();
}

// ----------------------------------------------------------- TFilterGraph

TFilterGraph::TFilterGraph(QObject* owner) : QObject(owner) {}

TFilterGraph::~TFilterGraph() {
    SetActive(false);
    if (FFilter) {
        FFilter->FGraph = nullptr;
    }
    if (FGrabber) {
        FGrabber->SetFilterGraph(nullptr);
    }
    while (!FSinks.empty()) {
        RemoveSink(FSinks.back());
    }
}

void TFilterGraph::Join(TSampleGrabber* g) {
    FGrabber = g;
    AddSink(g);
}

void TFilterGraph::Leave(TFilter* f) {
    // The device goes with its filter: the streaming thread stops first.
    if (f == FFilter) {
        ReleaseDevice();
        FFilter = nullptr;
    }
}

void TFilterGraph::Leave(TSampleGrabber* g) {
    RemoveSink(g);
    if (g == FGrabber) {
        FGrabber = nullptr;
    }
}

void TFilterGraph::AddSink(IFrameSink* sink) {
    {
        QMutexLocker lock(&FSinksMutex);
        if (!sink || std::find(FSinks.begin(), FSinks.end(), sink) != FSinks.end()) {
            return;
        }
        FSinks.push_back(sink);
    }
    sink->GraphChanged(this);
}

void TFilterGraph::RemoveSink(IFrameSink* sink) {
    {
        // Taken while the streaming thread may be delivering: once we hold the
        // lock, no delivery to this sink is under way or will start.
        QMutexLocker lock(&FSinksMutex);
        const auto it = std::find(FSinks.begin(), FSinks.end(), sink);
        if (it == FSinks.end()) {
            return;
        }
        FSinks.erase(it);
    }
    sink->GraphChanged(nullptr);
}

void TFilterGraph::Deliver(const QImage& frame) {
    QMutexLocker lock(&FSinksMutex);
    for (IFrameSink* sink : FSinks) {
        sink->FrameArrived(frame);
    }
}

void TFilterGraph::PictureGone() {
    std::vector<IFrameSink*> sinks;
    {
        QMutexLocker lock(&FSinksMutex);
        sinks = FSinks;
    }
    for (IFrameSink* sink : sinks) {
        sink->FrameGone();
    }
}

void TFilterGraph::ReleaseDevice() {
    FWorker.reset();
    FRendered = false;
    if (FFilter) {
        FFilter->Unbind();
    }
}

int TFilterGraph::SetActive(bool active) {
    if (!active) {
        ReleaseDevice();
        PictureGone();
        FBindError = 0;
        FActive = false;
        return 0;
    }
    if (FActive) {
        return 0;
    }
    FBindError = FFilter ? FFilter->Bind() : 0;
    FActive = true;
    return FBindError;
}

int TFilterGraph::ClearInsertedFilters() {
    FRendered = false;
    if (!FWorker) {
        return 0;
    }
    const int r = FWorker->Stop();
    FWorker.reset();
    PictureGone();
    return r;
}

int TFilterGraph::RenderStream() {
    if (FWorker) {
        // Already running on a rendered stream: the format is fixed while the
        // device streams.
        return 0;
    }
    FRendered = false;
    if (!FActive || !FFilter || !FFilter->HasDevice()) {
        return -ENXIO;
    }
    v4l2_format format;
    if (const int r = FFilter->GetFormat(format); r < 0) {
        return r;
    }
    // libv4l2 converts whatever the camera sends into BGR24 at the size the
    // camera runs at.
    format.fmt.pix.pixelformat = V4L2_PIX_FMT_BGR24;
    format.fmt.pix.field = V4L2_FIELD_ANY;
    format.fmt.pix.bytesperline = 0;
    format.fmt.pix.sizeimage = 0;
    if (const int r = FFilter->SetFormat(format); r < 0) {
        return r;
    }
    if (format.fmt.pix.pixelformat != V4L2_PIX_FMT_BGR24 || format.fmt.pix.width == 0 ||
        format.fmt.pix.height == 0) {
        return -EINVAL;  // no conversion to 24-bit colour for this camera
    }
    FWidth = static_cast<int>(format.fmt.pix.width);
    FHeight = static_cast<int>(format.fmt.pix.height);
    FStride = std::max<int>(static_cast<int>(format.fmt.pix.bytesperline), FWidth * 3);
    FRendered = true;
    return 0;
}

int TFilterGraph::RunGraph() {
    if (!FActive || !FFilter) {
        return -ENXIO;
    }
    if (!FFilter->HasDevice()) {
        // The device could not be opened (held by another program, gone):
        // the run is refused with the device's own reason.
        return FBindError ? FBindError : -ENXIO;
    }
    if (FWorker) {
        return 0;
    }
    if (!FRendered) {
        return -ENXIO;
    }
    const uint64_t generation = ++FGeneration;
    auto worker = std::make_unique<StreamWorker>(
        FFilter->FDevice.Io(), FFilter->FDevice.Get(), FWidth, FHeight, FStride,
        [this](const QImage& frame) { Deliver(frame); },
        [this, generation](int error) {
            // Streaming thread: hand the teardown to the GUI thread.
            QMetaObject::invokeMethod(
                this, [this, generation, error] { StreamLost(generation, error); },
                Qt::QueuedConnection);
        });
    if (const int r = worker->Start(); r < 0) {
        return r;
    }
    FWorker = std::move(worker);
    return 0;
}

int TFilterGraph::StopGraph() {
    if (!FWorker) {
        return 0;
    }
    const int r = FWorker->Stop();
    FWorker.reset();
    return r;
}

void TFilterGraph::StreamLost(uint64_t generation, int error) {
    if (generation != FGeneration || !FWorker) {
        return;
    }
    // The device is gone for this session: stop the thread, unmap, close. A
    // later Stop and Preview open it afresh.
    ReleaseDevice();
    // A frozen last frame would look like a live camera, and a photograph of
    // it would show a moment the camera no longer delivers.
    PictureGone();
    if (OnStreamLost) {
        OnStreamLost(error);
    }
}

uint64_t TFilterGraph::FramesDelivered() const {
    return FWorker ? FWorker->Delivered() : 0;
}

// The meta-object code of this file's classes lives here, not in a shared object file
// that would tie every program using them to every other class of the core.
#include "moc_FilterGraph.cpp"
