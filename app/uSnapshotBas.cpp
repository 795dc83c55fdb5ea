// TfrmSnapshotBas: the capture component, the preview restarts and the
// full-screen switch.
#include "app/uSnapshotBas.h"

#include <climits>

#include <QLabel>
#include <QScreen>
#include <QToolButton>

#include "app/MessageBoxes.h"
#include "app/uFullScreen.h"
#include "capture/CaptureOptions.h"
#include "capture/DeviceWatch.h"
#include "capture/Snapixture.h"
#include "capture/SysDevEnum.h"
#include "widgets/ButtonBar.h"
#include "widgets/ElidedLabel.h"
#include "widgets/VideoWindow.h"

TfrmSnapshotBas::TfrmSnapshotBas(QWidget* parent) : TfrmCamBas(parent) {
    Snapixture = new TSnapixture(this);
    Snapixture->SetVideoWindow(VideoWindow);
    // The photograph's options as the window starts; the fixed values and the
    // settings are copied over them before every photograph.
    FCaptureOptions.CompressionQuality = 80;
    FCaptureOptions.FileNameType = 0;
    FCaptureOptions.MaxNo = 0;
    FCaptureOptions.PrintDate = false;
    FCaptureOptions.PrintTime = false;
    FCaptureOptions.PhotoSize2 = 0;
    FCaptureOptions.UseOutputResolution = false;
    FCaptureOptions.OutputResolution = 0;
    ApplyCaptureOptions(FCaptureOptions, *Snapixture);
    // 4 keeps the device's own format, which is what the source list shows
    // ("默认分辨率") until the user picks a size. Starting at 0 would ask for
    // 160x120 behind the list's back and keep every photograph that small.
    Snapixture->SetInputResolution(4);
    Snapixture->SampleWidth = 0;
    Snapixture->SampleHeight = 0;
    Snapixture->OnStopFailed = [this](QObject*) {
        ShowMessageBox(nullptr, QStringLiteral("Error:"), QStringLiteral("Stop Device Fail!"));
    };
    // Said at once, not only at the next photograph: the picture went black.
    // Then the window waits for the camera to come back.
    Snapixture->OnDeviceLost = [this](QObject*) {
        SetStatusText(QStringLiteral("摄像头已断开."));
        FLostText = Snapixture->LastError();
        // A photograph stored at the instant of the loss keeps its name in view.
        if (!FStoredFile.isEmpty() && stbInfo->text() == FStoredFileText) {
            ShowStoredFile(FStoredFile);
        } else {
            SetInfoText(FLostText);
        }
        WatchLostDevice();
    };
    // When the live picture starts, the left panel says what the camera delivers.
    Snapixture->OnPreviewStarted = [this](QObject*) { SetStreamInfo(Snapixture->StreamText()); };
    FDeviceWatch = new TDeviceWatch(this);
    FDeviceWatch->OnReturned = [this](const TMoniker& moniker) { DeviceReturned(moniker); };

    bsSkinSpeedButton1 = new QToolButton();
    bsSkinSpeedButton1->setText(QStringLiteral("全"));
    bsSkinSpeedButton1->setFocusPolicy(Qt::NoFocus);
    bsSkinPanel11->AddControl(bsSkinSpeedButton1, QRect(32, 5, 25, 25));
    connect(bsSkinSpeedButton1, &QToolButton::clicked, this,
            [this] { SendMessage(this, WM_FULLSCREEN_ENTER); });
}

TfrmSnapshotBas::~TfrmSnapshotBas() {
    // The component stops its stream while the video windows it paints into
    // still exist.
    FDeviceWatch->OnReturned = nullptr;
    Snapixture->OnDeviceLost = nullptr;
    Snapixture->OnPreviewStarted = nullptr;
    delete Snapixture;
    FFullScreenWindow.reset();
}

void TfrmSnapshotBas::FormShow() {
    TfrmCamBas::FormShow();
    SendMessage(this, WM_DEVICE_SELECT, FDeviceIndex);
}

void TfrmSnapshotBas::FormKeyDown(int& key, Qt::KeyboardModifiers shift) {
    TfrmCamBas::FormKeyDown(key, shift);
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && (shift & Qt::AltModifier)) {
        // The gesture only switches: a photograph taken by the same key would
        // meet the preview just restarted, with no picture yet.
        key = 0;
        SendMessage(this, WM_FULLSCREEN_ENTER);
    }
}

void TfrmSnapshotBas::VideoWindowDblClick() {
    SendMessage(this, WM_FULLSCREEN_ENTER);
}

void TfrmSnapshotBas::WndProc(TWindowMessage& message) {
    switch (message.Msg) {
        case WM_DEVICE_SELECT: {
            TMoniker moniker;
            if (FVideoDevices && message.WParam <= static_cast<quintptr>(INT_MAX)) {
                moniker = FVideoDevices->DeviceMoniker(static_cast<int>(message.WParam));
            }
            StartDevice(moniker);
            break;
        }
        case WM_INPUT_RESOLUTION:
            Snapixture->Stop();
            Snapixture->SetInputResolution(static_cast<int32_t>(message.LParam));
            Snapixture->Preview();
            break;
        case WM_DEVICE_RECONNECT:
            Snapixture->Connect();
            break;
        case WM_FULLSCREEN_ENTER:
            FullScreenEnter();
            break;
        case WM_FULLSCREEN_LEAVE:
            FullScreenLeave();
            break;
        default:
            TfrmCamBas::WndProc(message);
            break;
    }
}

void TfrmSnapshotBas::StartDevice(const TMoniker& moniker) {
    Snapixture->Stop();
    // Another device ends the wait for the lost one.
    if (FDeviceWatch->Watching() && !(moniker == FDeviceWatch->Device().moniker)) {
        FDeviceWatch->Cancel();
    }
    Snapixture->SetMoniker(moniker);
    PreviewUnlessAway();
}

void TfrmSnapshotBas::PreviewUnlessAway() {
    if (FDeviceWatch->Watching() && Snapixture->Moniker() == FDeviceWatch->Device().moniker) {
        // Asking now would only fail; the status already says the camera is gone.
        return;
    }
    Snapixture->Preview();
}

void TfrmSnapshotBas::WatchLostDevice() {
    const TMoniker lost = Snapixture->Moniker();
    TDeviceIdentity device{lost, {}, {}};
    if (const int index = FVideoDevices ? FVideoDevices->IndexOf(lost) : -1; index >= 0) {
        device = FVideoDevices->DeviceIdentity(index);
    }
    FDeviceWatch->Watch(device);
}

void TfrmSnapshotBas::DeviceReturned(const TMoniker& moniker) {
    const TDeviceIdentity lost = FDeviceWatch->Device();
    if (FVideoDevices) {
        // Back under another node number: the list names it there from now on.
        FVideoDevices->SetDeviceMoniker(FVideoDevices->IndexOf(lost.moniker), moniker);
    }
    try {
        StartDevice(moniker);
    } catch (const std::exception& e) {
        // It answers but will not stream yet (still waking up, or taken by
        // another program meanwhile): keep waiting rather than box each try.
        SetInfoText(ErrorText(e));
    }
    if (Snapixture->CaptureStatus == csPrev) {
        PreviewResumed();
    } else if (!FDeviceWatch->Watching()) {
        FDeviceWatch->Watch(TDeviceIdentity{moniker, lost.card, lost.busInfo});
    }
}

void TfrmSnapshotBas::ShowStoredFile(const QString& fileName) {
    SetInfoText(FLostText.isEmpty() ? fileName : fileName + QStringLiteral("    ") + FLostText);
    // So that a loss reported later can tell whether the panel still shows it.
    FStoredFile = fileName;
    FStoredFileText = stbInfo->text();
}

void TfrmSnapshotBas::PreviewResumed() {
    FLostText.clear();
    SendMessage(this, WM_STATUS_TEXT, 0);
    SetInfoText(QStringLiteral("摄像头已重新连接."));
}

void TfrmSnapshotBas::FullScreenEnter() {
    if (FFullScreen) {
        return;
    }
    FFullScreen = true;
    hide();
    Snapixture->Stop();
    if (!frmFullScreen) {
        FFullScreenWindow = std::make_unique<TfrmFullScreen>();
        frmFullScreen = FFullScreenWindow.get();
    }
    // The screen without its panels and task bar.
    frmFullScreen->setGeometry(screen()->availableGeometry());
    frmFullScreen->show();
    frmFullScreen->raise();
    Snapixture->SetVideoWindow(nullptr);
    Snapixture->SetVideoWindow(frmFullScreen->VideoWindow);
    PreviewUnlessAway();
}

void TfrmSnapshotBas::FullScreenLeave() {
    if (!FFullScreen) {
        return;
    }
    FFullScreen = false;
    if (frmFullScreen) {
        frmFullScreen->hide();
    }
    // Becoming visible runs the show sequence; its preview still draws into
    // the full-screen picture, moved back below.
    show();
    raise();
    activateWindow();
    Snapixture->Stop();
    Snapixture->SetVideoWindow(nullptr);
    Snapixture->SetVideoWindow(VideoWindow);
    PreviewUnlessAway();
}
