// TfrmMainForm: the program's window: the lower-area panels and the settings
// wiring.
#include "app/uMainForm.h"

#include <algorithm>

#include <QBoxLayout>
#include <QCheckBox>
#include <QFrame>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QTimer>

#include "app/MessageBoxes.h"
#include "capture/Snapixture.h"
#include "controls/AMStreamConfig.h"
#include "controls/VideoProcAmp.h"
#include "photocut/fraPhotoShop.h"
#include "settings/AppPaths.h"
#include "settings/SettingsStore.h"
#include "settings/fraCamSet.h"
#include "widgets/ButtonBar.h"
#include "widgets/SkinPanel.h"
#include "widgets/VideoWindow.h"

namespace {

// The index the source list and WM_INPUT_RESOLUTION give to "320*240".
constexpr int kCutResolution = 1;

QWidget* FilledPanel(QWidget* panel, QWidget* child) {
    auto* layout = new QVBoxLayout(panel);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(child);
    return panel;
}

}  // namespace

TfrmMainForm::TfrmMainForm(QWidget* parent) : TfrmSnapixBas(parent) {
    setObjectName(QStringLiteral("frmMainForm"));
    btnPhotoshop = new QPushButton(QStringLiteral("照片剪切"));
    btnPhotoshop->setFocusPolicy(Qt::NoFocus);
    bsSkinPanel11->AddControl(btnPhotoshop, QRect(197, 5, 66, 25));
    connect(VideoWindow, &TVideoWindow::DoubleClicked, this, &TfrmMainForm::VideoWindowDblClick);

    // The lower area holds the links panel and the two panels that take its
    // place; only the links panel shows at start.
    fraCamSet = new TfraCamSet;
    pnlSetup = FilledPanel(new QWidget, fraCamSet);
    pnlSetup->setObjectName(QStringLiteral("pnlSetup"));
    fraPhotoShop = new TfraPhotoShop;
    pnlPhotoShop = new QFrame;
    pnlPhotoShop->setObjectName(QStringLiteral("pnlPhotoShop"));
    pnlPhotoShop->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    FilledPanel(pnlPhotoShop, fraPhotoShop);
    auto* lower = static_cast<QBoxLayout*>(bsSkinPanel7->layout());
    lower->addWidget(pnlSetup, 1);
    lower->addWidget(pnlPhotoShop, 1);
    pnlSetup->hide();
    pnlPhotoShop->hide();

    connect(btnSetup, &QPushButton::clicked, this, &TfrmMainForm::btnSetupClick);
    connect(btnPhotoshop, &QPushButton::clicked, this, &TfrmMainForm::btnPhotoshopClick);
    connect(fraCamSet, &TfraCamSet::DeviceChosen, this, &TfrmMainForm::fraCamSetcbDeviceChange);

    fraPhotoShop->SetPhotoNaming([this] {
        MakeDefaultSavePath();
        return TPhotoNaming{::SavePath, fraCamSet->FileHeader()};
    });
    connect(fraPhotoShop, &TfraPhotoShop::SaveRequested, this,
            [this] { SendMessage(this, WM_PHOTOCUT_SAVE); });
    connect(fraPhotoShop, &TfraPhotoShop::CopyRequested, this,
            [this] { SendMessage(this, WM_PHOTOCUT_COPY); });
    connect(fraPhotoShop, &TfraPhotoShop::InfoText, this, &TfrmMainForm::SetInfoText);
    connect(fraPhotoShop, &TfraPhotoShop::StandardChosen, this, [this] {
        if (FLowerPanel == TLowerPanel::PhotoShop) {
            SendMessage(this, WM_INPUT_RESOLUTION, 0, CutResolution());
        }
    });

    Snapixture->OnBeforePreview = [this](QObject* sender) { SnapixtureBeforePreview(sender); };

    tmSequential = new QTimer(this);
    tmSequential->setSingleShot(true);
    tmSequential->setTimerType(Qt::PreciseTimer);
    connect(tmSequential, &QTimer::timeout, this, &TfrmMainForm::tmSequentialTimer);
    SetApplicationMainWindow(this);
}

TfrmMainForm::~TfrmMainForm() {
    Snapixture->OnBeforePreview = nullptr;
    if (ApplicationMainWindow() == this) {
        SetApplicationMainWindow(nullptr);
    }
}

void TfrmMainForm::FormShow() {
    fraCamSet->AMStreamConfig->SetFilter(Snapixture->Filter());
    // The device last picked in the settings panel, not always the first one.
    FDeviceIndex = static_cast<uint8_t>(fraCamSet->DeviceIndex());
    TfrmSnapixBas::FormShow();
    for (TVideoProcAmp* amp : {fraCamSet->vpaBrightness, fraCamSet->vpaContras, fraCamSet->vpaHue,
                               fraCamSet->vpaColorEnable}) {
        amp->SetFilter(Snapixture->Filter());
    }
    SendMessage(fraCamSet, WM_CAMERA_DEFAULTS);
    if (!FFileNoLoaded) {
        // Before the first photograph can be taken.
        FFileNoLoaded = true;
        fraCamSet->LoadFileNo();
    }
    if (FSeries.Running()) {
        // Back from full screen or the tray with a series still running: the
        // button and the status say so, not the captions of an idle window.
        btnCapture->setText(QStringLiteral("停止连拍(F8)"));
        SendMessage(this, WM_STATUS_TEXT, 3);
    } else {
        SendMessage(this, WM_STATUS_TEXT, 0);
    }
}

void TfrmMainForm::FormCloseQuery(bool& canClose) {
    StopSeries();
    TfrmSnapixBas::FormCloseQuery(canClose);
}

void TfrmMainForm::btnCaptureClick() {
    // A running series always stops here, whatever the box shows meanwhile.
    if (!FSeries.Running() && !fraCamSet->Sequential()) {
        TfrmSnapixBas::btnCaptureClick();
        return;
    }
    if (FSeries.Running()) {
        StopSeries();
    } else {
        FSeries.Start(std::min(60, fraCamSet->SequentialInterval()) * 1000);
        FSeriesFailing = false;
        ArmSequential();
    }
    const bool running = FSeries.Running();
    fraCamSet->cbSequential->setEnabled(!running);
    if (running) {
        btnCapture->setText(QStringLiteral("停止连拍(F8)"));
        SendMessage(this, WM_STATUS_TEXT, 3);
    } else {
        btnCapture->setText(QStringLiteral("拍照(F8)"));
        SendMessage(this, WM_STATUS_TEXT, 2);
    }
    // F8 and Enter reach it only while it is enabled: they stop the series.
    btnCapture->setEnabled(true);
}

void TfrmMainForm::ArmSequential() {
    tmSequential->start(static_cast<int>(FSeries.MsToNext()));
}

void TfrmMainForm::StopSeries() {
    FSeries.Stop();
    tmSequential->stop();
}

void TfrmMainForm::tmSequentialTimer() {
    if (!FSeries.TakeDue()) {
        // Woken before the slot (a coarse system timer): wait for the rest.
        if (FSeries.Running()) {
            ArmSequential();
        }
        return;
    }
    if (Snapixture->Busy()) {
        // A photograph that waits while events run (a delayed one started by
        // a handler) is still under way: this slot passes without one, and
        // nothing is queued to fire later.
        FSeries.Decline();
        ArmSequential();
        return;
    }
    QString reason;
    if (TakePhotograph(false, reason)) {
        if (FSeriesFailing) {
            FSeriesFailing = false;
            SendMessage(this, WM_STATUS_TEXT, 3);
        }
        ShowStoredFile(StoredText());
    } else {
        // Said at every failed slot, and the series goes on: it resumes by
        // itself when the cause goes away (space freed, camera back).
        FSeriesFailing = true;
        ShowPhotographFailed(reason);
    }
    // A handler inside the photograph may have stopped the series.
    if (FSeries.Running()) {
        ArmSequential();
    }
}

void TfrmMainForm::PreviewResumed() {
    TfrmSnapixBas::PreviewResumed();
    if (FSeries.Running()) {
        SendMessage(this, WM_STATUS_TEXT, 3);
    }
}

void TfrmMainForm::WndProc(TWindowMessage& message) {
    switch (message.Msg) {
        case WM_SETUP_TOGGLE:
            ShowLowerPanel(FLowerPanel == TLowerPanel::Setup ? TLowerPanel::Links
                                                             : TLowerPanel::Setup);
            break;
        case WM_PHOTOCUT_TOGGLE:
            ShowLowerPanel(FLowerPanel == TLowerPanel::PhotoShop ? TLowerPanel::Links
                                                                 : TLowerPanel::PhotoShop);
            break;
        case WM_PHOTOCUT_SAVE:
            SaveCutPhoto();
            break;
        case WM_PHOTOCUT_COPY:
            CopyCutPhoto();
            break;
        case WM_INPUT_RESOLUTION:
            // While the cutting panel is open the camera stays at 320*240 (the
            // defaults of a window show would change it); the settings' choice
            // comes back when the panel closes.
            if (FLowerPanel == TLowerPanel::PhotoShop && message.LParam != CutResolution()) {
                break;
            }
            TfrmSnapixBas::WndProc(message);
            break;
        default:
            TfrmSnapixBas::WndProc(message);
            break;
    }
}

void TfrmMainForm::ShowLowerPanel(TLowerPanel panel) {
    const TLowerPanel previous = FLowerPanel;
    FLowerPanel = panel;
    pnlSetup->setVisible(panel == TLowerPanel::Setup);
    pnlPhotoShop->setVisible(panel == TLowerPanel::PhotoShop);
    pnlAdv->setVisible(panel == TLowerPanel::Links);

    const QRect screenRect = screen()->geometry();
    if (panel == TLowerPanel::Setup && previous != TLowerPanel::Setup) {
        // The upper area goes back to its design height, which leaves the
        // settings their room.
        const QList<int> sizes = bsSkinSplitter2->sizes();
        bsSkinSplitter2->setSizes(
            {kClientHeight, std::max(0, sizes[0] + sizes[1] - kClientHeight)});
    }
    if (panel == TLowerPanel::PhotoShop && previous != TLowerPanel::PhotoShop) {
        resize(width(), kPhotoShopHeight);
        move(x(), screenRect.top());
        if (Snapixture->InputResolution() != CutResolution()) {
            SendMessage(this, WM_INPUT_RESOLUTION, 0, CutResolution());
        }
    } else if (previous == TLowerPanel::PhotoShop && panel != TLowerPanel::PhotoShop) {
        // A file still being decoded is not wanted once the panel is closed.
        fraPhotoShop->CancelLoading();
        resize(width(), kMinHeight);
        move(x(), screenRect.top() + (screenRect.height() - kMinHeight) / 2);
        SendMessage(this, WM_INPUT_RESOLUTION, 0, fraCamSet->InputResolution());
    }
}

void TfrmMainForm::btnSetupClick() {
    SendMessage(this, WM_SETUP_TOGGLE);
    // Also when the panel has just been hidden.
    SendMessage(fraCamSet, WM_SETUP_LOAD);
}

int TfrmMainForm::CutResolution() const {
    // An identity photo by a standard is cut from the camera's largest live picture; the
    // two photo formats are cut from the 320 x 240 view.
    return fraPhotoShop->Standard() ? TSnapixture::kInputLargestLive : kCutResolution;
}

void TfrmMainForm::btnPhotoshopClick() {
    SendMessage(this, WM_PHOTOCUT_TOGGLE);
}

void TfrmMainForm::fraCamSetcbDeviceChange(int index) {
    // Kept for the rest of the run: every later show selects it again.
    FDeviceIndex = static_cast<uint8_t>(index);
    SendMessage(this, WM_DEVICE_SELECT, static_cast<quintptr>(index));
    // The sliders show the new device's values.
    SendMessage(fraCamSet, WM_CAMERA_RELOAD);
}

void TfrmMainForm::SnapixtureBeforePreview(QObject*) {
    if (FLowerPanel != TLowerPanel::PhotoShop) {
        Snapixture->SetInputResolution(fraCamSet->InputResolution());
    }
}

void TfrmMainForm::SnapixtureBeforeCapture(QObject*) {
    ApplyFixedCaptureValues();
    CopySettings();
    ApplyCaptureOptions(FCaptureOptions, *Snapixture);
    StartCountdown();
}

void TfrmMainForm::CopySettings() {
    TCaptureOptions& o = FCaptureOptions;
    o.CompressionQuality = static_cast<uint8_t>(fraCamSet->CompressionQuality());
    o.PhotoStyle = static_cast<uint8_t>(fraCamSet->PhotoStyle());
    o.PhotoSize = static_cast<uint8_t>(fraCamSet->PhotoSize());
    o.PhotoSize2 = fraCamSet->PhotoSize2();
    o.FileFormat = static_cast<uint8_t>(fraCamSet->FileFormat());
    o.FileHeader = fraCamSet->FileHeader();
    o.FileNameType = static_cast<uint8_t>(fraCamSet->FileNameType());
    o.MaxNo = fraCamSet->FileNo();
    o.UseOutputResolution = fraCamSet->UseOutputResolution();
    o.OutputResolution = fraCamSet->OutputResolution();
    o.DelayTime = fraCamSet->DelayTime();
    const std::array<QString, 3> lines = fraCamSet->CaptionLines();
    o.Title = CaptionTitle(lines[0], lines[1], lines[2]);
    o.PrintDate = fraCamSet->PrintDate();
    o.PrintTime = fraCamSet->PrintTime();
}

void TfrmMainForm::SnapixtureCaptured(QObject* sender) {
    if (FLowerPanel == TLowerPanel::PhotoShop) {
        fraPhotoShop->NewPhoto(Snapixture->ABitmap());
    }
    // The picture controls and the source resolution stay as the user left
    // them. The counter goes to the settings file after the run's first
    // photograph, whatever its naming (so the file exists from then on), and
    // after that whenever a serial name moves it; a write that failed is tried
    // again after the next photograph.
    if (!FFileNoStored || Snapixture->MaxNo != fraCamSet->FileNo()) {
        fraCamSet->SetFileNo(Snapixture->MaxNo);
        FFileNoStored = SendMessage(fraCamSet, WM_SAVE_MAXFILENO) != 0;
    }
    TfrmSnapixBas::SnapixtureCaptured(sender);
}

void TfrmMainForm::SaveCutPhoto() {
    fraPhotoShop->SaveCutPhoto();
}

void TfrmMainForm::CopyCutPhoto() {
    fraPhotoShop->CopyCutPhoto();
}

void TfrmMainForm::SavePathChanged() {
    Snapixture->SavePath = ::SavePath;
    // While the stored folder cannot be used, SavePath only stands in for it
    // this run; storing the stand-in would lose the user's folder.
    if (!SavePathIsStandIn()) {
        WriteSavePathSetting(::SavePath);
    }
    TfrmSnapixBas::SavePathChanged();
}
