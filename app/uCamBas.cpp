// TfrmCamBas: window frame, status line, tray icon and window messages.
#include "app/uCamBas.h"

#include <QAction>
#include <QApplication>
#include <QBoxLayout>
#include <QCloseEvent>
#include <QIcon>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolButton>

#include "app/AboutPanel.h"
#include "app/AppInfo.h"
#include "app/MessageBoxes.h"
#include "capture/SysDevEnum.h"
#include "widgets/VideoWindow.h"
#include "lang/LangTable.h"
#include "photocut/ImageFileLoader.h"
#include "settings/AppPaths.h"
#include "settings/Startup.h"
#include "settings/SettingsStore.h"
#include "widgets/ButtonBar.h"
#include "widgets/ElidedLabel.h"
#include "widgets/Image.h"
#include "widgets/SkinPanel.h"

namespace {

constexpr int kSplitterThickness = 10;
constexpr int kBorderStrip = 11;
constexpr int kStatusBarHeight = 29;
constexpr int kStatusPanelWidth = 219;
constexpr int kButtonBarHeight = 37;
constexpr int kUpperAreaMin = 37;  // also the lower area's: the button bar stays whole
const QSize kButtonBarDesign(744, kButtonBarHeight);

std::optional<bool> gTrayOverride;

QSplitter* NewSplitter(Qt::Orientation orientation, QWidget* parent) {
    auto* splitter = new QSplitter(orientation, parent);
    splitter->setHandleWidth(kSplitterThickness);
    splitter->setChildrenCollapsible(false);
    return splitter;
}

// A panel whose only child fills it.
QBoxLayout* FillLayout(QWidget* panel, QWidget* child) {
    auto* layout = new QVBoxLayout(panel);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    if (child) {
        layout->addWidget(child);
    }
    return layout;
}

// Sets the sizes of a two-pane splitter so that pane `fixedIndex` gets
// `fixedSize` and the other pane the rest of the splitter's current room.
void SetPaneSize(QSplitter* splitter, int fixedIndex, int fixedSize) {
    const QList<int> sizes = splitter->sizes();
    int total = 0;
    for (int s : sizes) {
        total += s;
    }
    QList<int> target{0, 0};
    target[fixedIndex] = fixedSize;
    target[1 - fixedIndex] = std::max(0, total - fixedSize);
    splitter->setSizes(target);
}

}  // namespace

QString StatusKindText(quint16 kind, quint16 value) {
    const QString number = QString::number(value);
    switch (kind) {
        case 0:
            return QStringLiteral("预览中.");
        case 1:
            return QStringLiteral("拍照中.");
        case 2:
            return QStringLiteral("拍照完成.");
        case 3:
            return QStringLiteral("连续拍照中.");
        case 4:
            return QStringLiteral("照片品质最低值:0 最高值:100 当前值:") + number;
        case 5:
            return QStringLiteral("亮度最低值:0 最高值:40 当前值:") + number;
        case 6:
            return QStringLiteral("对比度最低值:0 最高值:40 当前值:") + number;
        case 7:
            return QStringLiteral("色调最低值:0 最高值:36 当前值:") + number;
        default:
            return QString();
    }
}

TfrmCamBas::TfrmCamBas(QWidget* parent) : QWidget(parent) {
    BuildFrame();
    setMinimumSize(kMinWidth, kMinHeight);
    resize(kMinWidth, kMinHeight);
    setWindowTitle(AppInfo::Title());
    setWindowIcon(QIcon(QStringLiteral(":/resources/snapix.png")));
    // Keys reach FormKeyDown before the focused control sees them.
    qApp->installEventFilter(this);
}

TfrmCamBas::~TfrmCamBas() = default;

void TfrmCamBas::BuildFrame() {
    bsSkinPanel4 = new TSkinPanel(this);
    bsSkinPanel4->setFixedHeight(kBorderStrip);
    bsSkinPanel1 = new TSkinPanel(this);
    bsSkinPanel1->setFixedHeight(kBorderStrip);
    bsSkinPanel3 = new TSkinPanel(this);
    bsSkinPanel3->setFixedWidth(kBorderStrip);
    bsSkinPanel2 = new TSkinPanel(this);
    bsSkinPanel2->setFixedWidth(kBorderStrip);
    bsSkinPanel5 = new TSkinPanel(this, true);

    StatusBar = new QStatusBar(this);
    StatusBar->setSizeGripEnabled(false);
    StatusBar->setFixedHeight(kStatusBarHeight);
    stbInfo = new TElidedLabel(StatusBar);
    stbInfo->setObjectName(QStringLiteral("stbInfo"));
    stbInfo->setContentsMargins(6, 0, 0, 0);
    stbStatus = new QLabel(StatusBar);
    stbStatus->setObjectName(QStringLiteral("stbStatus"));
    stbStatus->setFixedWidth(kStatusPanelWidth);
    stbStatus->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    stbStatus->setContentsMargins(0, 0, 8, 0);
    StatusBar->addWidget(stbInfo, 1);
    StatusBar->addPermanentWidget(stbStatus);

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);
    root->addWidget(bsSkinPanel4);
    auto* middle = new QHBoxLayout();
    middle->setSpacing(0);
    middle->addWidget(bsSkinPanel3);
    middle->addWidget(bsSkinPanel5, 1);
    middle->addWidget(bsSkinPanel2);
    root->addLayout(middle, 1);
    root->addWidget(bsSkinPanel1);
    root->addWidget(StatusBar);

    // Content: the upper area over the lower one. When the window grows, the
    // lower area takes the room; the upper area keeps its height.
    bsSkinSplitter2 = NewSplitter(Qt::Vertical, bsSkinPanel5);
    FillLayout(bsSkinPanel5, bsSkinSplitter2);

    pnlClient = new QWidget(bsSkinSplitter2);
    bsSkinPanel12 = new TSkinPanel(pnlClient);
    bsSkinPanel12->setFixedHeight(8);
    bsSkinSplitter7 = NewSplitter(Qt::Horizontal, pnlClient);
    FillLayout(pnlClient, bsSkinPanel12)->addWidget(bsSkinSplitter7, 1);

    // Video column: the picture, with spacer panels right and below that the
    // user drags to shrink it.
    pnlCamClientLeft = new TSkinPanel(bsSkinSplitter7, true);
    CamRight = NewSplitter(Qt::Horizontal, pnlCamClientLeft);
    FillLayout(pnlCamClientLeft, CamRight);
    pnlCam = new QWidget(CamRight);
    pnlCamRight = new QWidget(CamRight);
    CamBottom = NewSplitter(Qt::Vertical, pnlCam);
    FillLayout(pnlCam, CamBottom);
    VideoWindow = new TVideoWindow(CamBottom);
    pnlCamBottom = new QWidget(CamBottom);
    CamRight->setStretchFactor(0, 1);
    CamRight->setStretchFactor(1, 0);
    CamBottom->setStretchFactor(0, 1);
    CamBottom->setStretchFactor(1, 0);

    // Photo column: spacer on the left and below, the last photograph filling
    // the rest.
    bsSkinPanel8 = new TSkinPanel(bsSkinSplitter7, true);
    PhotoLeft = NewSplitter(Qt::Horizontal, bsSkinPanel8);
    FillLayout(bsSkinPanel8, PhotoLeft);
    pnlPhotoLeft = new QWidget(PhotoLeft);
    pnlPhoto = new TSkinPanel(PhotoLeft, true);
    PhotoBottom = NewSplitter(Qt::Vertical, pnlPhoto);
    FillLayout(pnlPhoto, PhotoBottom);
    Image = new TImage(PhotoBottom);
    pnlPhotoBottom = new QWidget(PhotoBottom);
    PhotoLeft->setStretchFactor(0, 0);
    PhotoLeft->setStretchFactor(1, 1);
    PhotoBottom->setStretchFactor(0, 1);
    PhotoBottom->setStretchFactor(1, 0);

    bsSkinSplitter7->setStretchFactor(0, 0);
    bsSkinSplitter7->setStretchFactor(1, 1);

    // Lower area: the button bar on top of the exchangeable panel.
    bsSkinPanel7 = new TSkinPanel(bsSkinSplitter2);
    bsSkinPanel11 = new TButtonBar(kButtonBarDesign, bsSkinPanel7);
    bsSkinPanel11->setFixedHeight(kButtonBarHeight);
    pnlAdv = new QWidget(bsSkinPanel7);
    FillLayout(bsSkinPanel7, bsSkinPanel11)->addWidget(pnlAdv, 1);

    bsSkinSplitter2->setStretchFactor(0, 0);
    bsSkinSplitter2->setStretchFactor(1, 1);
    pnlClient->setMinimumHeight(kUpperAreaMin);
    bsSkinPanel7->setMinimumHeight(kUpperAreaMin);

    btnReset = new QPushButton(QStringLiteral("恢复屏幕"));
    btnSetup = new QPushButton(QStringLiteral("设置"));
    btnAbout = new QPushButton(QStringLiteral("关于"));
    btnClose = new QToolButton();
    btnClose->setIcon(style()->standardIcon(QStyle::SP_TitleBarCloseButton));
    btnClose->setAutoRaise(true);
    bsSkinPanel11->AddControl(btnReset, QRect(59, 5, 66, 25));
    bsSkinPanel11->AddControl(btnSetup, QRect(496, 5, 66, 25));
    bsSkinPanel11->AddControl(btnAbout, QRect(564, 5, 66, 25));
    bsSkinPanel11->AddControl(btnClose, QRect(702, 5, 25, 25));
    for (QWidget* w : {static_cast<QWidget*>(btnReset), static_cast<QWidget*>(btnSetup),
                       static_cast<QWidget*>(btnAbout), static_cast<QWidget*>(btnClose)}) {
        w->setFocusPolicy(Qt::NoFocus);
    }
    connect(btnReset, &QPushButton::clicked, this, &TfrmCamBas::btnResetClick);
    connect(btnAbout, &QPushButton::clicked, this, &TfrmCamBas::btnAboutClick);
    connect(btnClose, &QToolButton::clicked, this, &TfrmCamBas::btnCloseClick);
    connect(bsSkinPanel4, &TSkinPanel::DoubleClicked, this, &TfrmCamBas::bsSkinPanel4DblClick);

    // Tray icon: hidden until the first minimise, then kept for the run.
    CoolTrayIcon = new QSystemTrayIcon(QIcon(QStringLiteral(":/resources/snapix.png")), this);
    PopupMenu = new QMenu(this);
    F81 = PopupMenu->addAction(QStringLiteral("拍照(&S)"));
    F81->setVisible(false);
    N4 = PopupMenu->addSeparator();
    N4->setVisible(false);
    N1 = PopupMenu->addAction(QStringLiteral("显示主界面(&M)"));
    N2 = PopupMenu->addSeparator();
    N3 = PopupMenu->addAction(QStringLiteral("退出(&X)"));
    CoolTrayIcon->setContextMenu(PopupMenu);
    connect(F81, &QAction::triggered, this, &TfrmCamBas::F81Click);
    connect(N1, &QAction::triggered, this, &TfrmCamBas::N1Click);
    connect(N3, &QAction::triggered, this, &TfrmCamBas::N3Click);
    connect(CoolTrayIcon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                // Some desktops report a click on the icon only as Trigger.
                if (reason == QSystemTrayIcon::DoubleClick || reason == QSystemTrayIcon::Trigger) {
                    N1Click();
                }
            });
}

void TfrmCamBas::Create(const QString& executableFolder) {
    FExecutableFolder = executableFolder;
    FormCreate();
}

void TfrmCamBas::FormCreate() {
    TStartup startup = StartUp(FExecutableFolder.isEmpty() ? QCoreApplication::applicationDirPath()
                                                           : FExecutableFolder);
    FLanguage = std::move(startup.Language);
    FDeviceIndex = 0;
    FVideoDevices = std::move(startup.Devices);
    if (FVideoDevices->DeviceCount() == 0) {
        // Start-up goes on: the window opens with a black picture.
        ShowMessageBox(this, QString(), Lang("00000014"));
    }
    ShowVirtualCameraPicture();
}

void TfrmCamBas::ShowVirtualCameraPicture() {
    const QString path = TSysDevEnum::VirtualCameraPicture();
    if (path.isEmpty()) {
        return;
    }
    // Black until the file is read, and black when it cannot be: the pattern would pass
    // for a picture shown.
    QImage black(1, 1, QImage::Format_BGR888);
    black.fill(Qt::black);
    TSysDevEnum::ShowOnVirtualCameras(black);
    const auto refused = [this](const QString& reason) {
        // Short, so that the file and the reason fit the panel; the whole is its tooltip.
        SetInfoText(QStringLiteral("虚拟摄像头的图片无法使用: %1").arg(reason.simplified()));
        FInfoHoldsWarning = true;
    };
    auto* loader = new TImageFileLoader(this);
    connect(loader, &TImageFileLoader::Loaded, this,
            [loader, refused](const QString&, const QImage& picture) {
                if (!TSysDevEnum::ShowOnVirtualCameras(picture)) {
                    refused(QStringLiteral("内存不足."));
                }
                loader->deleteLater();
            });
    connect(loader, &TImageFileLoader::Failed, this,
            [loader, refused](const QString&, const QString& reason) {
                refused(reason);
                loader->deleteLater();
            });
    loader->Load(path);
}

void TfrmCamBas::FormShow() {
    pnlClient->setMinimumHeight(kUpperAreaMin);
    bsSkinPanel7->setMinimumHeight(kUpperAreaMin);
    btnSetup->setText(Lang("00000003"));
    btnAbout->setText(Lang("00000004"));
    btnClose->setToolTip(Lang("00000005"));
    setWindowTitle(AppInfo::Title());
    CoolTrayIcon->setToolTip(windowTitle());
    if (const std::optional<TSavePathFallback> fallback = LoadSavePathAtShow()) {
        // Said once per unusable folder, not at every show: the stored folder
        // stays and is used again at the first show that finds it.
        if (fallback->Unusable != FReportedUnusableFolder) {
            FReportedUnusableFolder = fallback->Unusable;
            SetInfoText(QStringLiteral("照片文件夹 \"%1\" 无法使用, 本次照片暂存到 \"%2\".")
                            .arg(fallback->Unusable, fallback->UsedInstead));
            FInfoHoldsWarning = true;
        }
    } else {
        FReportedUnusableFolder.clear();
    }
    if (!FTempFilesSwept) {
        // Where a folder's file system has no unnamed files, a copy killed
        // while writing leaves its temporary file behind.
        FTempFilesSwept = true;
        RemoveLeftoverTempFiles(SavePath);
    }
    SendMessage(this, WM_STATUS_TEXT, 0);
}

void TfrmCamBas::FormKeyDown(int&, Qt::KeyboardModifiers) {}

void TfrmCamBas::FormCloseQuery(bool& canClose) {
    canClose = true;
}

void TfrmCamBas::WndProc(TWindowMessage& message) {
    switch (message.Msg) {
        case WM_SAVEPATH_CHANGED:
            SavePathChanged();
            break;
        case WM_STATUS_TEXT:
            stbStatus->setText(StatusKindText(static_cast<quint16>(message.WParam & 0xFFFF),
                                              static_cast<quint16>(message.LParam & 0xFFFF)));
            break;
        default:
            break;
    }
}

void TfrmCamBas::SavePathChanged() {
    ReadSavePathSetting();
}

QString TfrmCamBas::Lang(const char* key) const {
    return FLanguage ? LangText(*FLanguage, QString::fromLatin1(key)) : QString();
}

void TfrmCamBas::SetStatusText(const QString& text) {
    stbStatus->setText(text);
}

void TfrmCamBas::SetStreamInfo(const QString& text) {
    if (!FInfoHoldsWarning) {
        SetInfoText(text);
    }
}

void TfrmCamBas::SetInfoText(const QString& text) {
    FInfoHoldsWarning = false;
    // A long path or reason may not fit the panel: it is shortened in the middle, and
    // the whole text is a hover away.
    stbInfo->SetFullText(text);
}

bool TfrmCamBas::event(QEvent* event) {
    if (event->type() == TWindowMessage::Type()) {
        auto& message = static_cast<TWindowMessage&>(*event);
        try {
            WndProc(message);
        } catch (const std::exception& e) {
            // The handler ends here; its sender goes on as if it had returned.
            ShowErrorBox(this, e);
        }
        return true;
    }
    return QWidget::event(event);
}

bool TfrmCamBas::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->window() == this) {
        auto* keyEvent = static_cast<QKeyEvent*>(event);
        int key = keyEvent->key();
        FormKeyDown(key, keyEvent->modifiers());
        if (key == 0) {
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TfrmCamBas::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // Spontaneous show events come from the window system (a restore from the
    // minimised state); the show sequence runs when the window becomes
    // visible.
    if (event->spontaneous()) {
        return;
    }
    if (!FLaidOut) {
        // The design layout, centred on the screen, the first time only.
        FLaidOut = true;
        btnResetClick();
    }
    FormShow();
}

void TfrmCamBas::closeEvent(QCloseEvent* event) {
    bool canClose = true;
    FormCloseQuery(canClose);
    if (!canClose) {
        event->ignore();
        return;
    }
    event->accept();
    // The run ends with the main window, also when another window (the
    // information panel) is still open.
    if (ApplicationMainWindow() == this) {
        QCoreApplication::quit();
    }
}

void TfrmCamBas::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isMinimized() && TrayAvailable()) {
        // Hiding inside the state change confuses some window managers; do it
        // once the change has been handled.
        QTimer::singleShot(0, this, &TfrmCamBas::MinimiseToTray);
    }
}

void TfrmCamBas::MinimiseToTray() {
    if (!isMinimized() || !TrayAvailable()) {
        return;
    }
    CoolTrayIcon->show();
    hide();
}

void TfrmCamBas::SetTrayAvailabilityOverride(std::optional<bool> available) {
    gTrayOverride = available;
}

bool TfrmCamBas::TrayAvailable() {
    return gTrayOverride ? *gTrayOverride : QSystemTrayIcon::isSystemTrayAvailable();
}

void TfrmCamBas::ShowWindowNormal() {
    showNormal();
    raise();
    activateWindow();
}

void TfrmCamBas::btnCloseClick() {
    close();
}

void TfrmCamBas::btnAboutClick() {
    if (!FAbout) {
        FAbout = new TAboutPanel(this);
    }
    FAbout->show();
    FAbout->raise();
    FAbout->activateWindow();
}

void TfrmCamBas::btnResetClick() {
    // Geometry reaches nested layouts through posted events; apply each step
    // before the next one measures its splitter.
    auto settle = [this] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        layout()->activate();
    };
    resize(kMinWidth, kMinHeight);
    settle();
    SetPaneSize(bsSkinSplitter2, 0, 266);
    settle();
    SetPaneSize(bsSkinSplitter7, 0, 364);
    settle();
    const QRect screenRect = screen()->geometry();
    move(screenRect.left() + (screenRect.width() - kMinWidth) / 2,
         screenRect.top() + (screenRect.height() - kMinHeight) / 2);
    SetPaneSize(CamRight, 1, 30);
    SetPaneSize(PhotoLeft, 0, 30);
    settle();
    SetPaneSize(CamBottom, 1, 3);
    SetPaneSize(PhotoBottom, 1, 3);
}

void TfrmCamBas::N1Click() {
    if (isMinimized()) {
        showNormal();
    } else {
        show();
    }
    raise();
    activateWindow();
}

void TfrmCamBas::F81Click() {
    SendMessage(this, WM_CAPTURE_PRESS);
}

void TfrmCamBas::N3Click() {
    close();
}

void TfrmCamBas::bsSkinPanel4DblClick() {
    QString error;
    if (ExportLangFiles(&error, AppPath)) {
        SetInfoText(QStringLiteral("语言文件已写入 ") + AppPath);
    } else {
        ShowErrorBox(this, error);
    }
}
