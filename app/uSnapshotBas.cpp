// TfrmSnapshotBas: the capture component and the preview restarts.
#include "app/uSnapshotBas.h"

#include <climits>

#include <QToolButton>

#include "app/MessageBoxes.h"
#include "capture/CaptureOptions.h"
#include "capture/Snapixture.h"
#include "capture/SysDevEnum.h"
#include "widgets/ButtonBar.h"
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
    Snapixture->OnDeviceLost = [this](QObject*) {
        SetStatusText(QStringLiteral("摄像头已断开."));
        SetInfoText(Snapixture->LastError());
    };

    bsSkinSpeedButton1 = new QToolButton();
    bsSkinSpeedButton1->setText(QStringLiteral("全"));
    bsSkinSpeedButton1->setFocusPolicy(Qt::NoFocus);
    bsSkinPanel11->AddControl(bsSkinSpeedButton1, QRect(32, 5, 25, 25));
    connect(bsSkinSpeedButton1, &QToolButton::clicked, this,
            [this] { SendMessage(this, WM_FULLSCREEN_ENTER); });
}

TfrmSnapshotBas::~TfrmSnapshotBas() {
    // The component stops its stream while the video window it paints into
    // still exists.
    delete Snapixture;
}

void TfrmSnapshotBas::FormShow() {
    TfrmCamBas::FormShow();
    SendMessage(this, WM_DEVICE_SELECT, FDeviceIndex);
}

void TfrmSnapshotBas::FormKeyDown(int& key, Qt::KeyboardModifiers shift) {
    TfrmCamBas::FormKeyDown(key, shift);
    // The key stays set: the capture-key test after this one sees it too.
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && (shift & Qt::AltModifier)) {
        SendMessage(this, WM_FULLSCREEN_ENTER);
    }
}

void TfrmSnapshotBas::WndProc(TWindowMessage& message) {
    switch (message.Msg) {
        case WM_DEVICE_SELECT: {
            Snapixture->Stop();
            TMoniker moniker;
            if (FVideoDevices && message.WParam <= static_cast<quintptr>(INT_MAX)) {
                moniker = FVideoDevices->DeviceMoniker(static_cast<int>(message.WParam));
            }
            Snapixture->SetMoniker(moniker);
            Snapixture->Preview();
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
        default:
            TfrmCamBas::WndProc(message);
            break;
    }
}
