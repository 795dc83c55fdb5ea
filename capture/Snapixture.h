// TSnapixture: the one component through which the program reaches the camera:
// live preview into a video window, and photographs through the output pipeline.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>

#include <QByteArray>
#include <QDateTime>
#include <QImage>
#include <QObject>
#include <QSize>
#include <QString>

#include "capture/SysDevEnum.h"

class IFrameSink;
class TFilterGraph;
class TFilter;
class TSampleGrabber;

enum TCapStatus : uint8_t { csNone, csPrev, csReco, csStop, csCapt };

// The caption lines drawn on the next photograph; an empty line draws nothing.
struct TRecTitle {
    QString Line1, Line2, Line3, Line4, Line5;
};

// Notification events carry only the sender and run only when assigned.
using TNotifyEvent = std::function<void(QObject* sender)>;

class TSnapixture : public QObject {
    Q_OBJECT

  public:
    explicit TSnapixture(QObject* owner = nullptr);
    ~TSnapixture() override;

    // The four operations; each returns 0 on success and 1 on failure, with
    // LastError saying why.
    virtual int Connect();
    // A run the device refuses escapes as EDirectShowException. Runs with or
    // without a video window: the grabber always gets the frames.
    virtual int Preview();
    // Refused (1) while a photograph is under way, for instance when called
    // again from an event handler during the delay wait.
    virtual int Capture();
    // A device that refuses to stop is released all the same; the result is 1
    // and OnStopFailed fires.
    virtual int Stop();

    // Whether a photograph is under way (Capture has not returned yet).
    bool Busy() const { return FBusy; }

    // What the camera delivers while the preview runs, "1920x1080 MJPEG 30 fps";
    // empty otherwise.
    QString StreamText() const;

    // --- Properties with setters or read-only access -------------------------
    const TMoniker& Moniker() const { return FMoniker; }
    void SetMoniker(const TMoniker& moniker) { FMoniker = moniker; }

    TFilter* Filter() const { return FFilter; }
    TSampleGrabber* SampleGrabber() const { return FSampleGrabber; }
    TFilterGraph* FilterGraph() const { return FFilterGraph; }

    // The sink that shows the live picture (borrowed; none by default). A new
    // one replaces the previous one in the graph.
    IFrameSink* VideoWindow() const { return FVideoWindow; }
    void SetVideoWindow(IFrameSink* window);

    // The photograph: 24 bits per pixel, bytes B G R, row 0 on top
    // (QImage::Format_BGR888). Empty until the first frame is grabbed.
    const QImage& ABitmap() const { return FBitmap; }
    // The last JPEG encoding of ABitmap; empty when there is none.
    const QByteArray& AJpeg() const { return FJpeg; }
    const QString& FileName() const { return FFileName; }

    // The size asked of the device at the next Preview: 0..3 a size of the
    // table, 4 the device's own size (the one it had when first opened here),
    // any other the size it has.
    // Beyond the source sizes 0..4: the device's largest size that still delivers a live
    // picture (at least kLiveFrameRate frames a second), for identity photos.
    static constexpr int32_t kInputLargestLive = 16;
    static constexpr double kLiveFrameRate = 15;
    int32_t InputResolution() const { return FInputResolution; }
    void SetInputResolution(int32_t value);
    int32_t OutputResolution() const { return FOutputResolution; }
    void SetOutputResolution(int32_t value);
    int32_t InputWidth() const { return FInputWidth; }
    int32_t InputHeight() const { return FInputHeight; }
    int32_t OutputWidth() const { return FOutputWidth; }
    int32_t OutputHeight() const { return FOutputHeight; }
    // The width and height of the photograph Capture would take now, with the
    // options as they stand and the live picture at SampleWidth x SampleHeight;
    // for a size-limited photograph the size it starts from (it may be stored
    // smaller to keep its limit).
    QSize NextPhotographSize() const;

    // Why the last failed operation failed, in words a user can act on (the
    // file name and the system's error text where a file was involved).
    // Cleared at the start of each Capture.
    const QString& LastError() const { return FLastError; }
    // What the last photograph, though stored, could not be made to do, in words
    // a user can act on; empty when it did all that was asked. Cleared at the
    // start of each Capture.
    const QString& Notice() const { return FNotice; }
    // Whether the last photograph's file is within its size limit (PhotoSize 1);
    // true for a photograph without one.
    bool WithinSizeLimit() const { return FWithinSizeLimit; }

    // --- Plain properties: the owner sets them before Capture, at the latest
    // in OnBeforeCapture; the pipeline reads them as they stand. ------------
    TCapStatus CaptureStatus = csNone;
    bool SaveAsFile = true;
    bool Delay = false;
    uint32_t DelayTime = 5000;
    uint8_t CompressionQuality = 80;
    QString SavePath;  // ends with "/"; the component adds no separator
    QString FileHeader;
    uint8_t FileNameType = 0;  // 0 date-time, 1 serial number, other: prefix only
    uint32_t MaxNo = 0;        // last serial number used
    uint32_t FontColor = 0;    // 0x00BBGGRR
    TRecTitle Title;
    bool PrintDate = false;
    bool PrintTime = false;
    uint8_t PhotoStyle = 0;   // 1: black and white
    // 1: the photograph's file is kept within PhotoSize2 kilobytes (at most 500;
    // 0 stands for no limit), starting from the size rule's output size (when
    // UseOutputResolution) and quality and going down until it fits. Afterwards
    // CompressionQuality is the quality of the stored file.
    uint8_t PhotoSize = 0;
    uint16_t PhotoSize2 = 0;
    uint8_t FileFormat = 0;   // 0 JPEG, 1 BMP, other: nothing stored
    bool UseOutputResolution = false;
    int32_t SampleWidth = 0;
    int32_t SampleHeight = 0;

    TNotifyEvent OnConnecting;
    TNotifyEvent Onconnected;
    TNotifyEvent OnBeforePreview;
    // The preview runs (the end of a Preview that started the stream).
    TNotifyEvent OnPreviewStarted;
    TNotifyEvent OnBeforeCapture;
    TNotifyEvent OnCapturing;
    TNotifyEvent OnCaptured;
    // The running preview lost its device (unplugged, or failed for good). The
    // stream is already released; LastError says why. GUI thread.
    TNotifyEvent OnDeviceLost;
    // Stop met a device that refused to stop; LastError says why.
    TNotifyEvent OnStopFailed;

  private:
    void Fire(const TNotifyEvent& event);
    // Waits `ms` milliseconds while the GUI thread keeps dispatching events.
    void DelayWait(uint32_t ms);
    void Fail(const QString& reason);
    // The component's one translation of a device error: LastError, then
    // EDirectShowException. Never returns.
    [[noreturn]] void Raise(int error);
    void DeviceLost(int error);
    int CaptureSteps();
    // The newest frame into ABitmap, or the next good one after a damaged frame: the
    // grab's 0 or -errno.
    int GrabGoodFrame();

    // Steps 4 to 10 of a photograph, on ABitmap: size rule, caption, scaling,
    // OnCapturing, black and white, encoding, naming and writing. Returns 0
    // when the photograph is complete (stored when SaveAsFile), 1 otherwise
    // with LastError set.
    int RunOutputPipeline();

    TMoniker FMoniker;
    TFilterGraph* FFilterGraph = nullptr;      // owned (Qt child)
    TFilter* FFilter = nullptr;                // owned (Qt child)
    TSampleGrabber* FSampleGrabber = nullptr;  // owned (Qt child)
    IFrameSink* FVideoWindow = nullptr;        // borrowed

    QImage FBitmap;
    QByteArray FJpeg;
    QString FFileName;
    QString FLastError;
    QString FNotice;
    bool FWithinSizeLimit = true;
    QDateTime FTaken;    // when the photograph's frame was grabbed
    int FLostError = 0;  // -errno that ended the stream; 0 after a Preview runs
    bool FBusy = false;  // inside Capture

    int32_t FInputResolution = 4;
    // Each device's size when this component first opened it, by node path.
    std::map<QString, QSize> FOwnSizes;
    int32_t FOutputResolution = 4;
    int32_t FInputWidth = 0;
    int32_t FInputHeight = 0;
    int32_t FOutputWidth = 0;
    int32_t FOutputHeight = 0;
};
