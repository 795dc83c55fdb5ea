// TfrmSnapshotBas: adds the capture component and answers the requests that
// stop and restart the live preview (device, source resolution, reconnection,
// full screen), and brings the preview back when a lost camera returns.
#pragma once

#include <memory>

#include "app/uCamBas.h"
#include "capture/CaptureOptions.h"

class TDeviceWatch;
class TSnapixture;
class TfrmFullScreen;
struct TMoniker;

class TfrmSnapshotBas : public TfrmCamBas {
    Q_OBJECT

  public:
    explicit TfrmSnapshotBas(QWidget* parent = nullptr);
    ~TfrmSnapshotBas() override;

    TSnapixture* Snapixture;  // owned; lives as long as the window

    // The options the next photograph is taken with.
    TCaptureOptions& CaptureOptions() { return FCaptureOptions; }
    QToolButton* bsSkinSpeedButton1;  // full screen

    // Whether the live picture is in the full-screen window.
    bool FullScreenActive() const { return FFullScreen; }
    // Waits for the camera after it was lost (unplugged).
    TDeviceWatch* DeviceWatch() const { return FDeviceWatch; }

  public slots:
    void VideoWindowDblClick();

  protected:
    void FormShow() override;

    // What the next photograph is taken with; handed to Snapixture in its
    // before-capture step. MaxNo follows the component's after each photograph.
    TCaptureOptions FCaptureOptions;
    void FormKeyDown(int& key, Qt::KeyboardModifiers shift) override;
    void WndProc(TWindowMessage& message) override;

    // The preview runs again on the camera that had been lost; sets the
    // status. GUI thread.
    virtual void PreviewResumed();

    // Shows a stored photograph's file name in the information panel; while
    // the camera is lost, the lost-camera text stands beside it.
    void ShowStoredFile(const QString& fileName);

  private:
    // Stop, choose `moniker`, preview: the one way the device changes.
    void StartDevice(const TMoniker& moniker);
    // Preview, unless the device in use is the lost one still being waited
    // for: its return restarts the preview by itself.
    void PreviewUnlessAway();
    void WatchLostDevice();
    void DeviceReturned(const TMoniker& moniker);
    void FullScreenEnter();
    void FullScreenLeave();

    TDeviceWatch* FDeviceWatch;  // owned (Qt child)
    // The run's full-screen window: a top-level window of its own, made on
    // the first switch and kept until this window goes.
    std::unique_ptr<TfrmFullScreen> FFullScreenWindow;
    bool FFullScreen = false;
    QString FLostText;        // why the camera is away; empty while it is here
    QString FStoredFile;       // the file name ShowStoredFile last showed
    QString FStoredFileText;   // and the panel's whole text then
};
