// TSnapixture: preview and photograph operations over the capture graph.
#include "capture/Snapixture.h"

#include <cerrno>
#include <exception>

#include <linux/videodev2.h>

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include "capture/DirectShowException.h"
#include "capture/FilterGraph.h"
#include "capture/StreamFormat.h"
#include "photo/SizeRule.h"

namespace {

struct Size {
    int32_t width, height;
};
constexpr Size kInputSizes[] = {{160, 120}, {320, 240}, {640, 480}, {1280, 1024}};
// How long a photograph waits for a good frame after a damaged one.
constexpr qint64 kGoodFrameWaitMs = 2000;

}  // namespace

TSnapixture::TSnapixture(QObject* owner) : QObject(owner) {
    SetInputResolution(4);
    SetOutputResolution(4);
    FFilterGraph = new TFilterGraph(this);
    FFilterGraph->Mode = gmCapture;
    FFilter = new TFilter(this);
    FSampleGrabber = new TSampleGrabber(this);
    FFilter->SetFilterGraph(FFilterGraph);
    FSampleGrabber->SetFilterGraph(FFilterGraph);
    FFilterGraph->OnStreamLost = [this](int error) { DeviceLost(error); };
}

TSnapixture::~TSnapixture() {
    // Stop streaming before any member goes; the video window is its owner's.
    // Everything is released even when the device complains.
    FFilterGraph->StopGraph();
    FFilterGraph->ClearInsertedFilters();
    FFilterGraph->SetActive(false);
    SetVideoWindow(nullptr);
    FSampleGrabber->SetFilterGraph(nullptr);
    FFilter->SetFilterGraph(nullptr);
    delete FSampleGrabber;
    delete FFilter;
    delete FFilterGraph;
}

void TSnapixture::SetVideoWindow(IFrameSink* window) {
    if (window == FVideoWindow) {
        return;
    }
    if (FVideoWindow) {
        FFilterGraph->RemoveSink(FVideoWindow);
    }
    FVideoWindow = window;
    if (window) {
        FFilterGraph->AddSink(window);
    }
}

void TSnapixture::SetInputResolution(int32_t value) {
    FInputResolution = value;
    if (value >= 0 && value < 4) {
        FInputWidth = kInputSizes[value].width;
        FInputHeight = kInputSizes[value].height;
    }
}

void TSnapixture::SetOutputResolution(int32_t value) {
    FOutputResolution = value;
    if (static_cast<uint32_t>(value) < PhotoPipeline::OutputSizes().size()) {
        FOutputWidth = PhotoPipeline::OutputSizes()[size_t(value)].width();
        FOutputHeight = PhotoPipeline::OutputSizes()[size_t(value)].height();
    }
}

QSize TSnapixture::NextPhotographSize() const {
    if (!UseOutputResolution) {
        return QSize(SampleWidth, SampleHeight);
    }
    if (PhotoSize == 1) {
        // The size rule picks the output size as the photograph begins.
        const int32_t chosen = PhotoPipeline::SizeLimitChoice(PhotoSize2).OutputResolution;
        if (static_cast<uint32_t>(chosen) < PhotoPipeline::OutputSizes().size()) {
            return PhotoPipeline::OutputSizes()[size_t(chosen)];
        }
    }
    return QSize(FOutputWidth, FOutputHeight);
}

void TSnapixture::Fire(const TNotifyEvent& event) {
    if (event) {
        event(this);
    }
}

void TSnapixture::Fail(const QString& reason) {
    FLastError = reason;
}

void TSnapixture::Raise(int error) {
    const EDirectShowException e(-error);
    Fail(e.Message());
    throw e;
}

namespace {
QString DeviceLostText(int error) {
    return error == -ENODEV ? QStringLiteral("摄像头已断开 (拔出或断电).")
                            : QStringLiteral("摄像头停止送出画面: %1")
                                  .arg(EDirectShowException(-error).Message());
}
}  // namespace

void TSnapixture::DeviceLost(int error) {
    FLostError = error;
    CaptureStatus = csStop;
    Fail(DeviceLostText(error));
    Fire(OnDeviceLost);
}

int TSnapixture::Connect() {
    try {
        Fire(OnConnecting);
        FFilterGraph->ClearInsertedFilters();
        FFilterGraph->SetActive(false);
        FFilter->SetBaseFilter(FMoniker);
        // A device that cannot be opened leaves the graph active without one;
        // the next run reports why.
        if (const int bound = FFilterGraph->SetActive(true); bound < 0) {
            Fail(EDirectShowException(-bound).Message());
        }
        Fire(Onconnected);
        return 0;
    } catch (const std::exception& e) {
        Fail(QString::fromUtf8(e.what()));
        return 1;
    }
}

int TSnapixture::Preview() {
    int result = 1;
    if (!FFilterGraph->Active()) {
        Connect();
    }
    if (!FFilterGraph->Active()) {
        return result;
    }
    Fire(OnBeforePreview);
    QSize wanted;
    v4l2_format format;
    if (FFilter->GetFormat(format) == 0) {
        // A V4L2 driver keeps the last size set, also when the device is
        // opened again; a device opened afresh is in its own format only the
        // first time. That size is what index 4 goes back to.
        const QSize current(static_cast<int>(format.fmt.pix.width),
                            static_cast<int>(format.fmt.pix.height));
        const QSize own = FOwnSizes.try_emplace(FMoniker.path, current).first->second;
        if (FInputResolution >= 0 && FInputResolution < 4) {
            wanted = QSize(FInputWidth, FInputHeight);
        } else if (FInputResolution == 4) {
            wanted = own;
        } else if (FInputResolution == kInputLargestLive) {
            wanted = LargestLiveSize(*FFilter, kLiveFrameRate);
        }
        // Any other index keeps the size the device has.
    }
    // The device streams the size asked (or the nearest it has) in the format with
    // the highest frame rate there; a size it refuses leaves it at its own. A device
    // that refuses the stream (held by another program, gone) is a refused run: it
    // escapes to the caller with its reason.
    const int rendered = FFilterGraph->RenderStream(wanted);
    if (rendered == 0) {
        SampleWidth = FFilterGraph->FrameWidth();
        SampleHeight = FFilterGraph->FrameHeight();
    } else if (rendered != -ENXIO) {
        Raise(rendered);
    }
    const int run = FFilterGraph->RunGraph();
    if (run == 0) {
        CaptureStatus = csPrev;
        FLostError = 0;
        result = 0;
        Fire(OnPreviewStarted);
    } else if (run != -ENXIO) {
        Raise(run);
    }
    return result;
}

QString TSnapixture::StreamText() const {
    return FFilterGraph->Running() ? StreamFormatText(FFilterGraph->StreamFormat()) : QString();
}

void TSnapixture::DelayWait(uint32_t ms) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < static_cast<qint64>(ms)) {
        // A nested event loop: timers, painting and input keep running, and
        // the grab happens no earlier than ms after the wait began.
        QEventLoop loop;
        bool timedOut = false;
        QTimer::singleShot(static_cast<int>(ms - clock.elapsed()), Qt::PreciseTimer, &loop, [&] {
            timedOut = true;
            loop.quit();
        });
        loop.exec();
        if (!timedOut) {
            // The application is quitting (its window closed during the wait):
            // stop waiting so the program can end.
            return;
        }
    }
}

int TSnapixture::Capture() {
    if (FBusy) {
        // A second photograph asked for while the first one waits (a timer, a
        // key, a handler running inside the delay): the first one goes on.
        Fail(QStringLiteral("上一张照片还没有拍完, 未拍照."));
        return 1;
    }
    // The guard is a flag of its own: CaptureStatus says what the device does (a
    // photograph is taken from the running preview), and a Stop or a lost device during
    // the wait says so there.
    FBusy = true;
    FLastError.clear();
    FNotice.clear();
    FWithinSizeLimit = true;
    int result = 1;
    try {
        result = CaptureSteps();
    } catch (const std::exception& e) {
        Fail(QString::fromUtf8(e.what()));
    }
    FBusy = false;
    return result;
}

int TSnapixture::CaptureSteps() {
    Fire(OnBeforeCapture);
    if (Delay) {
        DelayWait(DelayTime);
    }
    const int grabbed = GrabGoodFrame();
    // The moment of the photograph: its stamp, its EXIF block and a date-time name.
    FTaken = QDateTime::currentDateTime();
    if (grabbed < 0) {
        // Without a frame of its own a photograph would show the previous
        // one's picture: a moment the camera did not deliver now.
        if (FLostError) {
            Fail(DeviceLostText(FLostError) + QStringLiteral(" 未拍照."));
        } else if (grabbed == -ENOTCONN) {
            Fail(QStringLiteral("摄像头没有在预览, 未拍照."));
        } else if (grabbed == -EBADMSG) {
            Fail(QStringLiteral("摄像头送来的画面都已损坏, 未拍照."));
        } else {
            Fail(QStringLiteral("摄像头没有送来画面, 未拍照."));
        }
        return 1;
    }
    if (RunOutputPipeline() != 0) {
        return 1;
    }
    FLastError.clear();  // a refusal of a nested call is no failure of this one
    Fire(OnCaptured);
    return 0;
}

int TSnapixture::GrabGoodFrame() {
    int grabbed = FSampleGrabber->GrabBitmap(FBitmap);
    if (grabbed != -EBADMSG) {
        return grabbed;
    }
    // The newest frame is damaged: the photograph takes the next good one. The wait
    // keeps the events going, as the delay does; a camera that sends nothing else
    // fails the photograph.
    QElapsedTimer waited;
    waited.start();
    while (grabbed == -EBADMSG && waited.elapsed() < kGoodFrameWaitMs) {
        const uint64_t seen = FSampleGrabber->FramesArrived();
        QEventLoop loop;
        QTimer look;
        QObject::connect(&look, &QTimer::timeout, &loop, [&] {
            if (FSampleGrabber->FramesArrived() != seen ||
                waited.elapsed() >= kGoodFrameWaitMs || !FFilterGraph->Running()) {
                loop.quit();
            }
        });
        look.start(2);
        loop.exec();
        grabbed = FSampleGrabber->GrabBitmap(FBitmap);
    }
    return grabbed;
}

int TSnapixture::Stop() {
    const TCapStatus previous = CaptureStatus;
    const int r = FFilterGraph->ClearInsertedFilters();
    FFilterGraph->SetActive(false);  // the stream is released whatever the device said
    if (r == 0) {
        CaptureStatus = csStop;
        return 0;
    }
    CaptureStatus = previous;
    Fail(EDirectShowException(-r).Message());
    Fire(OnStopFailed);
    return 1;
}

// The meta-object code of this file's classes lives here, not in a shared object file
// that would tie every program using them to every other class of the core.
#include "moc_Snapixture.cpp"
