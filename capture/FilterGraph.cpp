// The capture graph over the VideoIo seam.
#include "capture/FilterGraph.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>
#include <sys/eventfd.h>
#include <unistd.h>

#include <linux/videodev2.h>

#include <QMetaObject>
#include <QMutexLocker>

#include "capture/DirectShowException.h"
#include "capture/VideoIo.h"
#include "capture/VideoWindow.h"

namespace {
constexpr uint32_t kBufferCount = 4;
constexpr int kPollTimeoutMs = 1000;
}  // namespace

// Owns one running stream: the mapped buffers and the streaming thread.
class StreamWorker {
  public:
    StreamWorker(VideoIo* io, int fd, int width, int height, int stride, TSampleGrabber* grabber,
                 TVideoWindow* renderer, std::function<void(int)> onLost)
        : FIo(io),
          FFd(fd),
          FWidth(width),
          FHeight(height),
          FStride(stride),
          FGrabber(grabber),
          FRenderer(renderer),
          FOnLost(std::move(onLost)) {}

    ~StreamWorker() { Stop(); }

    // GUI thread. 0, or -errno with everything released again.
    int Start() {
        FWakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (FWakeFd < 0) {
            return -errno;
        }
        v4l2_requestbuffers req{};
        req.count = kBufferCount;
        req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        req.memory = V4L2_MEMORY_MMAP;
        int r = FIo->Ioctl(FFd, VIDIOC_REQBUFS, &req);
        if (r < 0) {
            Release();
            return r;
        }
        FRequested = true;
        if (req.count == 0) {
            Release();
            return -ENOMEM;
        }
        for (uint32_t i = 0; i < req.count; ++i) {
            v4l2_buffer buf{};
            buf.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            buf.memory = V4L2_MEMORY_MMAP;
            buf.index = i;
            if ((r = FIo->Ioctl(FFd, VIDIOC_QUERYBUF, &buf)) < 0) {
                Release();
                return r;
            }
            int error = -EIO;
            void* p = FIo->Mmap(buf.length, FFd, buf.m.offset, &error);
            if (!p) {
                Release();
                return error;
            }
            FMappings.push_back({p, buf.length});
            if ((r = FIo->Ioctl(FFd, VIDIOC_QBUF, &buf)) < 0) {
                Release();
                return r;
            }
        }
        int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if ((r = FIo->Ioctl(FFd, VIDIOC_STREAMON, &type)) < 0) {
            Release();
            return r;
        }
        FStreaming = true;
        FThread = std::thread([this] { Run(); });
        return 0;
    }

    // GUI thread. Ends the thread and releases the buffers; returns the first
    // error the device gave other than "gone" (everything is released anyway).
    int Stop() {
        if (FThread.joinable()) {
            const uint64_t one = 1;
            [[maybe_unused]] auto n = ::write(FWakeFd, &one, sizeof one);
            FThread.join();
        }
        return Release();
    }

    uint64_t Delivered() const { return FDelivered.load(std::memory_order_relaxed); }

  private:
    struct Mapping {
        void* address;
        std::size_t length;
    };

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
        for (const Mapping& m : FMappings) {
            note(FIo->Munmap(m.address, m.length));
        }
        FMappings.clear();
        if (FRequested) {
            v4l2_requestbuffers req{};
            req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            req.memory = V4L2_MEMORY_MMAP;
            note(FIo->Ioctl(FFd, VIDIOC_REQBUFS, &req));
            FRequested = false;
        }
        if (FWakeFd >= 0) {
            ::close(FWakeFd);
            FWakeFd = -1;
        }
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
            const int ready = FIo->Poll(FFd, FWakeFd, kPollTimeoutMs);
            if (ready < 0) {
                return Lost(ready);
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
                return Lost(r < 0 ? r : -EIO);
            }
            if (!(buf.flags & V4L2_BUF_FLAG_ERROR) &&
                buf.bytesused >= static_cast<uint32_t>(FStride) * FHeight) {
                Deliver(static_cast<const uint8_t*>(FMappings[buf.index].address));
            }
            // A failed re-queue is final: the buffer is not tried again.
            if (const int q = FIo->Ioctl(FFd, VIDIOC_QBUF, &buf); q < 0) {
                return Lost(q);
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
        if (FGrabber) {
            FGrabber->StoreFrame(image);
        }
        if (FRenderer) {
            FRenderer->PresentFrame(image);
        }
    }

    void Lost(int error) { FOnLost(error); }

    VideoIo* FIo;
    int FFd;
    int FWidth, FHeight, FStride;
    TSampleGrabber* FGrabber;
    TVideoWindow* FRenderer;
    std::function<void(int)> FOnLost;
    int FWakeFd = -1;
    bool FRequested = false;
    bool FStreaming = false;
    std::vector<Mapping> FMappings;
    std::thread FThread;
    std::atomic<uint64_t> FDelivered{0};
    QImage FPool[3];
    QImage FSpare;
};

// ---------------------------------------------------------------- TFilter

TFilter::TFilter(QObject* owner) : QObject(owner) {}

TFilter::~TFilter() {
    SetFilterGraph(nullptr);
    Unbind();
}

void TFilter::SetFilterGraph(TFilterGraph* graph) {
    TFilterGraph::Move(this, FGraph, graph);
}

void TFilter::Bind() {
    Unbind();
    FBindError = 0;
    if (FMoniker.IsNone()) {
        return;
    }
    const int fd = FMoniker.io->Open(FMoniker.path.toStdString());
    if (fd < 0) {
        FBindError = -fd;
        return;
    }
    FIo = FMoniker.io;
    FFd = fd;
}

void TFilter::Unbind() {
    if (FFd >= 0) {
        FIo->Close(FFd);
    }
    FFd = -1;
    FIo = nullptr;
}

int TFilter::Ioctl(unsigned long request, void* arg) const {
    return FFd >= 0 ? FIo->Ioctl(FFd, request, arg) : -ENXIO;
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

bool TSampleGrabber::GrabBitmap(QImage& bitmap) const {
    if (!FGraph || !FGraph->Active()) {
        throw EDirectShowException(ENOTCONN);
    }
    QMutexLocker lock(&FMutex);
    if (FLatest.isNull()) {
        return false;
    }
    // Frames are never written once handed out, so sharing is a safe copy;
    // the photo pipeline's first write detaches it.
    bitmap = FLatest;
    return true;
}

void TSampleGrabber::StoreFrame(const QImage& frame) {
    QMutexLocker lock(&FMutex);
    FLatest = frame;
}

void TSampleGrabber::ClearFrame() {
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
    if (FRenderer) {
        FRenderer->SetFilterGraph(nullptr);
    }
}

void TFilterGraph::Join(TVideoWindow* w) {
    if (FRenderer && FRenderer != w) {
        FRenderer->SetFilterGraph(nullptr);
    }
    FRenderer = w;
}

void TFilterGraph::Leave(QObject* member) {
    // A member leaving a running graph stops the stream first, so the
    // streaming thread never touches a member that is gone.
    if (member == FFilter || member == FGrabber || member == FRenderer) {
        FWorker.reset();
        FRendered = false;
    }
    if (member == FFilter) {
        FFilter->Unbind();
        FFilter = nullptr;
    } else if (member == FGrabber) {
        FGrabber = nullptr;
    } else if (member == FRenderer) {
        FRenderer = nullptr;
    }
}

void TFilterGraph::ReleaseDevice() {
    FWorker.reset();
    FRendered = false;
    if (FFilter) {
        FFilter->Unbind();
    }
}

void TFilterGraph::SetActive(bool active) {
    if (!active) {
        ReleaseDevice();
        if (FGrabber) {
            FGrabber->ClearFrame();
        }
        FActive = false;
        return;
    }
    if (FActive) {
        return;
    }
    if (FFilter) {
        FFilter->Bind();
    }
    FActive = true;
}

void TFilterGraph::ClearInsertedFilters() {
    FRendered = false;
    if (!FWorker) {
        return;
    }
    const int r = FWorker->Stop();
    FWorker.reset();
    if (FRenderer) {
        FRenderer->ClearFrame();
    }
    if (r < 0) {
        throw EDirectShowException(-r);
    }
}

int TFilterGraph::RenderStream() {
    if (FWorker) {
        // Already running on a rendered path: the format is fixed while the
        // device streams.
        return 0;
    }
    FRendered = false;
    if (!FActive || !FFilter || !FFilter->HasDevice() || !FGrabber || !FRenderer) {
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

bool TFilterGraph::RunGraph() {
    if (!FActive || !FFilter) {
        return false;
    }
    if (!FFilter->HasDevice()) {
        // The device could not be opened (held by another program, gone):
        // the run is refused with the device's own reason.
        if (FFilter->FBindError != 0) {
            throw EDirectShowException(FFilter->FBindError);
        }
        return false;
    }
    if (FWorker) {
        return true;
    }
    if (!FRendered) {
        return false;
    }
    const uint64_t generation = ++FGeneration;
    auto worker = std::make_unique<StreamWorker>(
        FFilter->FIo, FFilter->FFd, FWidth, FHeight, FStride, FGrabber, FRenderer,
        [this, generation](int error) {
            // Streaming thread: hand the teardown to the GUI thread.
            QMetaObject::invokeMethod(
                this, [this, generation, error] { StreamLost(generation, error); },
                Qt::QueuedConnection);
        });
    const int r = worker->Start();
    if (r < 0) {
        throw EDirectShowException(-r);
    }
    FWorker = std::move(worker);
    return true;
}

void TFilterGraph::StopGraph() {
    if (!FWorker) {
        return;
    }
    const int r = FWorker->Stop();
    FWorker.reset();
    if (r < 0) {
        throw EDirectShowException(-r);
    }
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
    if (FRenderer) {
        FRenderer->ClearFrame();
    }
    if (FGrabber) {
        FGrabber->ClearFrame();
    }
    if (OnStreamLost) {
        OnStreamLost(error);
    }
}

uint64_t TFilterGraph::FramesDelivered() const {
    return FWorker ? FWorker->Delivered() : 0;
}
