// TfrmSnapixBas: the single photograph and its countdown.
#include "app/uSnapixBas.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QPushButton>
#include <QSoundEffect>
#include <QTimer>
#include <QUrl>

#include "app/MessageBoxes.h"
#include "capture/Snapixture.h"
#include "settings/AppPaths.h"
#include "widgets/ButtonBar.h"
#include "widgets/Image.h"

TfrmSnapixBas::TfrmSnapixBas(QWidget* parent) : TfrmSnapshotBas(parent) {
    cbDelay = new QCheckBox(QStringLiteral("延时"));
    cbDelay->setChecked(false);
    cbDelay->setFocusPolicy(Qt::NoFocus);
    btnCapture = new QPushButton(QStringLiteral("拍照(F8)"));
    btnCapture->setToolTip(QStringLiteral("拍照快捷键F8"));
    btnCapture->setFocusPolicy(Qt::StrongFocus);
    btnBrowse = new QPushButton(QStringLiteral("浏览"));
    btnBrowse->setFocusPolicy(Qt::NoFocus);
    bsSkinPanel11->AddControl(btnBrowse, QRect(128, 5, 66, 25));
    bsSkinPanel11->AddControl(cbDelay, QRect(277, 10, 60, 22));
    bsSkinPanel11->AddControl(btnCapture, QRect(344, 4, 120, 28));

    tmDelay = new QTimer(this);
    tmDelay->setInterval(1000);
    tmDelay->setTimerType(Qt::PreciseTimer);

    // Loaded in the background; without an audio device it stays silent.
    Shutter = new QSoundEffect(this);
    Shutter->setSource(QUrl(QStringLiteral("qrc:/resources/shutter.wav")));

    connect(btnCapture, &QPushButton::clicked, this, &TfrmSnapixBas::btnCaptureClick);
    connect(btnBrowse, &QPushButton::clicked, this, &TfrmSnapixBas::btnBrowseClick);
    connect(tmDelay, &QTimer::timeout, this, &TfrmSnapixBas::tmDelayTimer);

    Snapixture->OnBeforeCapture = [this](QObject* sender) { SnapixtureBeforeCapture(sender); };
    Snapixture->OnCapturing = [this](QObject* sender) { SnapixtureCapturing(sender); };
    Snapixture->OnCaptured = [this](QObject* sender) { SnapixtureCaptured(sender); };
}

TfrmSnapixBas::~TfrmSnapixBas() {
    // The component outlives this part of the window for a moment; it must not
    // call back into it.
    Snapixture->OnBeforeCapture = nullptr;
    Snapixture->OnCapturing = nullptr;
    Snapixture->OnCaptured = nullptr;
}

void TfrmSnapixBas::FormCreate() {
    TfrmSnapshotBas::FormCreate();
    FCaptureOptions.DelayTime = 5000;
    Snapixture->DelayTime = FCaptureOptions.DelayTime;
}

void TfrmSnapixBas::FormShow() {
    TfrmSnapshotBas::FormShow();
    cbDelay->setText(Lang("00000007"));
    btnCapture->setText(Lang("00000001"));
    cbDelay->setToolTip(Lang("00000017"));
    btnCapture->setToolTip(Lang("00000018"));
    btnBrowse->setText(Lang("00000002"));
}

void TfrmSnapixBas::FormKeyDown(int& key, Qt::KeyboardModifiers shift) {
    TfrmSnapshotBas::FormKeyDown(key, shift);
    // Whatever modifier keys are held.
    if (key == Qt::Key_F8 || key == Qt::Key_Return || key == Qt::Key_Enter) {
        key = 0;
        SendMessage(this, WM_CAPTURE_PRESS);
    }
}

void TfrmSnapixBas::FormCloseQuery(bool& canClose) {
    // Also during a countdown: the stream stops now, and the photograph call
    // that waits returns once the event loop ends.
    Snapixture->Stop();
    canClose = true;
}

void TfrmSnapixBas::WndProc(TWindowMessage& message) {
    if (message.Msg == WM_CAPTURE_PRESS) {
        // Disabled while a photograph is under way, which keeps a second one
        // from starting inside the first one's delay.
        if (btnCapture->isEnabled()) {
            btnCapture->click();
        }
        return;
    }
    TfrmSnapshotBas::WndProc(message);
}

void TfrmSnapixBas::btnCaptureClick() {
    SendMessage(this, WM_STATUS_TEXT, 1);
    SetInfoText(QString());
    btnCapture->setEnabled(false);
    QString reason;
    const bool stored = TakePhotograph(cbDelay->isChecked(), reason);
    btnCapture->setEnabled(true);
    if (stored) {
        SendMessage(this, WM_STATUS_TEXT, 2);
        ShowStoredFile(StoredText());
    } else {
        ShowPhotographFailed(reason);
    }
}

bool TfrmSnapixBas::TakePhotograph(bool delay, QString& reason) {
    Snapixture->Delay = delay;
    int result = 1;
    try {
        result = Snapixture->Capture();
    } catch (const std::exception& e) {
        reason = ErrorText(e);
    }
    tmDelay->stop();
    // A serial number, once used, stays used, also by a photograph that failed later.
    FCaptureOptions.MaxNo = Snapixture->MaxNo;
    if (result == 0) {
        return true;
    }
    if (reason.isEmpty()) {
        reason = Snapixture->LastError();
    }
    if (reason.isEmpty()) {
        reason = QStringLiteral("照片未能保存.");
    }
    return false;
}

QString TfrmSnapixBas::StoredText() const {
    const QString& notice = Snapixture->Notice();
    return notice.isEmpty() ? Snapixture->FileName()
                            : notice + QLatin1Char(' ') + Snapixture->FileName();
}

void TfrmSnapixBas::ShowPhotographFailed(const QString& reason) {
    // A photograph that was not stored is never reported as done.
    SetStatusText(QStringLiteral("拍照失败."));
    SetInfoText(reason);
}

void TfrmSnapixBas::ApplyFixedCaptureValues() {
    FCaptureOptions.CompressionQuality = 80;
    FCaptureOptions.PrintDate = false;
    FCaptureOptions.PrintTime = false;
    MakeDefaultSavePath();
    FCaptureOptions.SavePath = ::SavePath;
    // Whoever asked for the photograph decided whether it waits: the delay
    // box for a single photograph, never for one of a series.
    FCaptureOptions.Delay = Snapixture->Delay;
}

void TfrmSnapixBas::StartCountdown() {
    if (cbDelay->isChecked()) {
        FDelayCount = 0;
        SetStatusText(CountdownText(Snapixture->DelayTime / 1000));
        tmDelay->start();
    } else {
        tmDelay->stop();
    }
}

void TfrmSnapixBas::SnapixtureBeforeCapture(QObject*) {
    ApplyFixedCaptureValues();
    ApplyCaptureOptions(FCaptureOptions, *Snapixture);
    StartCountdown();
}

void TfrmSnapixBas::SnapixtureCapturing(QObject*) {
    // Returns at once; the click plays while the photograph is encoded and
    // stored.
    Shutter->play();
}

void TfrmSnapixBas::SnapixtureCaptured(QObject*) {
    Image->SetPicture(Snapixture->ABitmap());
    tmDelay->stop();
    if (cbDelay->isChecked()) {
        SetStatusText(CountdownText(0));
    }
}

void TfrmSnapixBas::tmDelayTimer() {
    // Unticking the box during the countdown freezes the text; the photograph
    // is still taken when the wait ends.
    if (!cbDelay->isChecked()) {
        return;
    }
    ++FDelayCount;
    SetStatusText(CountdownText(static_cast<qint64>(Snapixture->DelayTime / 1000) - FDelayCount));
}

void TfrmSnapixBas::btnBrowseClick() {
    MakeDefaultSavePath();
    QDesktopServices::openUrl(QUrl::fromLocalFile(::SavePath));
}

QString TfrmSnapixBas::CountdownText(qint64 seconds) const {
    return QStringLiteral("延时拍照倒计时 ") + QString::number(seconds) + QStringLiteral(" 秒");
}
