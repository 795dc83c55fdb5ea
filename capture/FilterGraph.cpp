// The capture graph over the VideoIo seam.
#include "capture/FilterGraph.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <thread>

#include <fcntl.h>

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <unistd.h>

#include <linux/videodev2.h>

#include <QMetaObject>
#include <QMutexLocker>

#include "capture/V4lConvert.h"

namespace {
constexpr uint32_t kBufferCount = 4;
constexpr int kPollTimeoutMs = 1000;
// Frame memories kept for reuse: the buffers' worth and one held by each kind of sink.
constexpr std::size_t kPoolSize = 6;
}  // namespace

// Owns one running stream: the mapped buffers and the streaming thread.
class StreamWorker {
  public:
    using FrameHandler = std::function<void(const TNativeFrame&)>;
    using LostHandler = std::function<void(int error)>;

    StreamWorker(VideoIo* io, int fd, const TNativeFrame& shape, FrameHandler onFrame,
                 LostHandler onLost)
        : FIo(io),
          FFd(fd),
          FShape(shape),
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
    struct TMapped {
        TDeviceMapping mapping;
        std::size_t length;
    };

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
            void* p = FIo->Mmap(buf.length, PROT_READ | PROT_WRITE, MAP_SHARED, FFd, buf.m.offset,
                                &error);
            if (!p) {
                return error;
            }
            FMappings.push_back({TDeviceMapping(FIo, p, buf.length), buf.length});
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
        for (TMapped& m : FMappings) {
            note(m.mapping.Release());
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

    // Memory for a frame's bytes: a block nobody else holds any more (frames already
    // handed out are never written again), else a new one.
    std::shared_ptr<std::vector<uint8_t>> NextBytes(std::size_t size) {
        for (auto& bytes : FPool) {
            if (bytes.use_count() == 1) {
                // The sinks' last reads of these bytes happened before they let go.
                std::atomic_thread_fence(std::memory_order_acquire);
                if (bytes->size() < size) {
                    bytes->resize(size);
                }
                return bytes;
            }
        }
        auto bytes = std::make_shared<std::vector<uint8_t>>(size);
        if (FPool.size() < kPoolSize) {
            FPool.push_back(bytes);
        }
        return bytes;
    }

    // Streaming thread: no program code beyond keeping frames for the sinks runs here.
    void Run() {
        for (;;) {
            pollfd fds[2] = {{FFd, POLLIN, 0}, {FWake.Get(), POLLIN, 0}};
            const int ready = FIo->Poll(fds, 2, kPollTimeoutMs);
            if (ready == -EINTR || ready == 0) {
                continue;
            }
            if (ready < 0) {
                return FOnLost(ready);
            }
            if (fds[1].revents & POLLIN) {
                return;
            }
            if (!(fds[0].revents & (POLLIN | POLLERR | POLLHUP | POLLNVAL))) {
                continue;
            }
            v4l2_buffer buf{};
            buf.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            buf.memory = V4L2_MEMORY_MMAP;
            // After POLLERR (unplugged, a device error) the dequeue gives the driver's
            // reason; one that has none is final all the same.
            const int r = FIo->Ioctl(FFd, VIDIOC_DQBUF, &buf);
            if (r == -EAGAIN && !(fds[0].revents & (POLLERR | POLLHUP | POLLNVAL))) {
                continue;
            }
            if (r < 0 || buf.index >= FMappings.size()) {
                return FOnLost(r < 0 && r != -EAGAIN ? r : -EIO);
            }
            if (!(buf.flags & V4L2_BUF_FLAG_ERROR) && buf.bytesused > 0) {
                Keep(buf, static_cast<const uint8_t*>(FMappings[buf.index].mapping.Address()),
                     FMappings[buf.index].length);
            }
            // A failed re-queue is final: the buffer is not tried again.
            if (const int q = FIo->Ioctl(FFd, VIDIOC_QBUF, &buf); q < 0) {
                return FOnLost(q);
            }
        }
    }

    void Keep(const v4l2_buffer& buf, const uint8_t* data, std::size_t length) {
        const std::size_t size = std::min<std::size_t>(buf.bytesused, length);
        std::shared_ptr<std::vector<uint8_t>> bytes = NextBytes(size);
        std::memcpy(bytes->data(), data, size);
        TNativeFrame frame = FShape;
        frame.Bytes = std::move(bytes);
        frame.Size = size;
        frame.Sequence = buf.sequence;
        FDelivered.fetch_add(1, std::memory_order_relaxed);
        FOnFrame(frame);
    }

    VideoIo* FIo;
    int FFd;  // borrowed from the device filter, which outlives the worker
    const TNativeFrame FShape;  // format, size and line length of every frame
    FrameHandler FOnFrame;
    LostHandler FOnLost;
    TUniqueFd FWake;
    bool FRequested = false;
    bool FStreaming = false;
    std::vector<TMapped> FMappings;
    std::thread FThread;
    std::atomic<uint64_t> FDelivered{0};
    std::vector<std::shared_ptr<std::vector<uint8_t>>> FPool;
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
    const int fd = FMoniker.io->Open(FMoniker.path.toStdString(), O_RDWR | O_NONBLOCK);
    if (fd < 0) {
        return fd;
    }
    FDevice = TDeviceFd(FMoniker.io, fd);
    // Without libv4lconvert (it refused the device) requests go to the device alone
    // and our own decoders convert.
    FConverter = std::make_unique<TV4lConvert>(FMoniker.io, fd);
    return 0;
}

void TFilter::Unbind() {
    FConverter.reset();
    FDevice.Reset();
}

int TFilter::Ioctl(unsigned long request, void* arg) const {
    if (!FDevice.Valid()) {
        return -ENXIO;
    }
    switch (request) {
        case VIDIOC_QUERYCTRL:
        case VIDIOC_G_CTRL:
        case VIDIOC_S_CTRL:
        case VIDIOC_G_EXT_CTRLS:
        case VIDIOC_S_EXT_CTRLS:
        case VIDIOC_TRY_EXT_CTRLS:
            return FConverter->ControlIoctl(request, arg);
        default:
            return FDevice.Io()->Ioctl(FDevice.Get(), request, arg);
    }
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
    return Grab(bitmap, QSize());
}

int TSampleGrabber::GrabPreview(QImage& picture, QSize atLeast) const {
    return Grab(picture, atLeast);
}

int TSampleGrabber::Grab(QImage& picture, QSize atLeast) const {
    if (!FGraph || !FGraph->Active()) {
        return -ENOTCONN;
    }
    TNativeFrame frame;
    {
        QMutexLocker lock(&FMutex);
        frame = FLatest;
    }
    if (frame.IsNull()) {
        return -EAGAIN;
    }
    // Converted outside the lock: the streaming thread never waits for a picture.
    QImage converted;
    const int r = FGraph->ConvertFrame(frame, converted, atLeast);
    if (r < 0) {
        return r;
    }
    picture = std::move(converted);
    return 0;
}

uint64_t TSampleGrabber::FramesArrived() const {
    QMutexLocker lock(&FMutex);
    return FArrived;
}

void TSampleGrabber::FrameArrived(const TNativeFrame& frame) {
    QMutexLocker lock(&FMutex);
    FLatest = frame;
    ++FArrived;
}

void TSampleGrabber::FrameGone() {
    QMutexLocker lock(&FMutex);
    FLatest = TNativeFrame();
    FArrived = 0;
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

void TFilterGraph::Deliver(const TNativeFrame& frame) {
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

int TFilterGraph::RenderStream(QSize wanted) {
    if (FWorker) {
        // Already running on a rendered stream: the format is fixed while the
        // device streams.
        return 0;
    }
    FRendered = false;
    if (!FActive || !FFilter || !FFilter->HasDevice()) {
        return -ENXIO;
    }
    TStreamFormat current;
    if (const int r = CurrentStreamFormat(*FFilter, current); r < 0) {
        return r;
    }
    // The format with the highest frame rate for the size asked; a size the device
    // refuses keeps the one it has, still at its best format.
    TStreamFormat chosen;
    int r = ChooseStreamFormat(*FFilter, wanted.isValid() ? wanted : current.Size, chosen);
    if (r < 0 && wanted.isValid()) {
        r = ChooseStreamFormat(*FFilter, current.Size, chosen);
    }
    if (r == 0) {
        r = ApplyStreamFormat(*FFilter, chosen);
        if (r == -EBUSY) {
            return r;
        }
    }
    if (const int read = CurrentStreamFormat(*FFilter, FFormat); read < 0) {
        return read;
    }
    v4l2_format format;
    if (const int read = FFilter->GetFormat(format); read < 0) {
        return read;
    }
    if (!ConvertibleFormat(FFormat.PixelFormat) || FFormat.Size.isEmpty()) {
        return -ENOTSUP;  // a camera that sends only what we cannot turn into pictures
    }
    FBytesPerLine = format.fmt.pix.bytesperline;
    // Uncompressed YUV is limited range unless the driver says otherwise.
    FFullRange = format.fmt.pix.quantization == V4L2_QUANTIZATION_FULL_RANGE;
    FRendered = true;
    return 0;
}

int TFilterGraph::ConvertFrame(const TNativeFrame& frame, QImage& picture, QSize atLeast,
                               QImage::Format format) {
    TV4lConvert* converter = FFilter ? FFilter->Converter() : nullptr;
    // libv4lconvert's flips and processing apply to whole B, G, R pictures, and only it
    // knows when they are on: then it converts, at full size, as for every program.
    const auto convert = [&] {
        const int r = converter->Convert(frame, picture);
        if (r == 0 && format != QImage::Format_BGR888) {
            picture.convertTo(format);
        }
        return r;
    };
    if (converter && converter->Processing()) {
        return convert();
    }
    const int r = FDecoder.Decode(frame, picture, atLeast, format);
    if (r == -ENOTSUP && converter) {
        return convert();
    }
    return r;
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
    TNativeFrame shape;
    shape.PixelFormat = FFormat.PixelFormat;
    shape.Width = FFormat.Size.width();
    shape.Height = FFormat.Size.height();
    shape.BytesPerLine = FBytesPerLine;
    shape.FullRange = FFullRange;
    auto worker = std::make_unique<StreamWorker>(
        FFilter->FDevice.Io(), FFilter->FDevice.Get(), shape,
        [this](const TNativeFrame& frame) { Deliver(frame); },
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
