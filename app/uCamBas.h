// TfrmCamBas: the frame of the program's one window: border strips, video and
// photo columns, button bar, status bar, tray icon, the message table and the
// device list made at start, and the handling of window messages.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include <QPointer>
#include <QStringList>
#include <QWidget>

#include "app/AboutPanel.h"
#include "messages/WindowMessages.h"

class QAction;
class QKeyEvent;
class QLabel;
class QMenu;
class QPushButton;
class QSplitter;
class QStatusBar;
class QSystemTrayIcon;
class QToolButton;
class TButtonBar;
class TElidedLabel;
class TImage;
class TSkinPanel;
class TSysDevEnum;
class TVideoWindow;

class TfrmCamBas : public QWidget {
    Q_OBJECT

  public:
    // Builds the controls; nothing else happens until Create().
    explicit TfrmCamBas(QWidget* parent = nullptr);
    ~TfrmCamBas() override;

    // Second phase of creation: runs the creation handlers, base part first.
    // executableFolder: the program folder rule's starting point; empty means
    // the folder of the running executable.
    void Create(const QString& executableFolder = QString());

    // Shows the window in its normal state (neither minimised nor maximised)
    // and brings it forward: what a second start of the program asks for.
    void ShowWindowNormal();

    // Where the desktop has no tray, minimising keeps a normal minimised
    // window. Tests force either answer; nullopt asks the desktop.
    static void SetTrayAvailabilityOverride(std::optional<bool> available);
    static bool TrayAvailable();

    // --- Controls -----------------------------------------------------------
    TSkinPanel* bsSkinPanel4;  // top border strip; double-click exports the language files
    TSkinPanel* bsSkinPanel1;  // bottom border strip
    TSkinPanel* bsSkinPanel3;  // left border strip
    TSkinPanel* bsSkinPanel2;  // right border strip
    QStatusBar* StatusBar;
    TElidedLabel* stbInfo;     // left panel: information texts
    QLabel* stbStatus;         // right panel: status texts
    TSkinPanel* bsSkinPanel5;  // content

    QSplitter* bsSkinSplitter2;  // upper area | lower area
    QWidget* pnlClient;          // upper area
    TSkinPanel* bsSkinPanel12;   // spacer above the columns
    QSplitter* bsSkinSplitter7;  // video column | photo column
    TSkinPanel* pnlCamClientLeft;
    QSplitter* CamRight;  // pnlCam | pnlCamRight
    QWidget* pnlCam;
    QSplitter* CamBottom;  // VideoWindow | pnlCamBottom
    TVideoWindow* VideoWindow;
    QWidget* pnlCamBottom;
    QWidget* pnlCamRight;
    TSkinPanel* bsSkinPanel8;
    QSplitter* PhotoLeft;  // pnlPhotoLeft | pnlPhoto
    QWidget* pnlPhotoLeft;
    TSkinPanel* pnlPhoto;
    QSplitter* PhotoBottom;  // Image | pnlPhotoBottom
    TImage* Image;
    QWidget* pnlPhotoBottom;

    TSkinPanel* bsSkinPanel7;   // lower area
    TButtonBar* bsSkinPanel11;  // button bar
    QWidget* pnlAdv;            // links panel

    QPushButton* btnReset;
    QPushButton* btnSetup;
    QPushButton* btnAbout;
    QToolButton* btnClose;

    QSystemTrayIcon* CoolTrayIcon;
    QMenu* PopupMenu;
    QAction* F81;
    QAction* N4;
    QAction* N1;
    QAction* N2;
    QAction* N3;

    // The information panel, once the about button made it.
    TAboutPanel* AboutPanel() const { return FAbout; }

    // Design sizes of the frame.
    static constexpr int kMinWidth = 776;
    static constexpr int kMinHeight = 632;

  public slots:
    void btnCloseClick();
    void btnAboutClick();
    void btnResetClick();
    void N1Click();
    void F81Click();
    void N3Click();
    void bsSkinPanel4DblClick();

  protected:
    // Handler chain: a derived class redefines a handler and calls its base
    // explicitly, before or after its own work.
    virtual void FormCreate();
    virtual void FormShow();
    // Sees every key pressed in this window before the focused control does.
    // A handler that acts on a key sets it to 0, which also keeps the key
    // from the focused control.
    virtual void FormKeyDown(int& key, Qt::KeyboardModifiers shift);
    virtual void FormCloseQuery(bool& canClose);
    // Handles this class's window messages and passes the rest to the base.
    virtual void WndProc(TWindowMessage& message);
    // Run by WM_SAVEPATH_CHANGED: SavePath := the stored photo folder.
    virtual void SavePathChanged();

    // The message table's text for key; empty when the key is missing.
    QString Lang(const char* key) const;
    void SetStatusText(const QString& text);
    void SetInfoText(const QString& text);
    // What the camera delivers ("1920x1080 MJPEG 30 fps"), in the left panel unless it
    // holds a warning nothing has replaced yet.
    void SetStreamInfo(const QString& text);

    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

    std::unique_ptr<QStringList> FLanguage;
    uint8_t FDeviceIndex = 0;
    std::unique_ptr<TSysDevEnum> FVideoDevices;

  private:
    void BuildFrame();
    void MinimiseToTray();
    // The picture SNAPIX_VIRTUAL_CAMERA_PICTURE names, read off the GUI thread and handed
    // to the virtual cameras; what keeps it from them is said in the left panel.
    void ShowVirtualCameraPicture();

    QString FExecutableFolder;
    bool FLaidOut = false;
    // The stored photo folder last reported as unusable; empty while it is usable.
    QString FReportedUnusableFolder;
    // The left panel shows a warning that no later text has replaced.
    bool FInfoHoldsWarning = false;
    // Leftover temporary photo files are cleared once, at the first show.
    bool FTempFilesSwept = false;
    QPointer<TAboutPanel> FAbout;  // child window of this one, kept once made
};

// The fixed text of a status kind; value is shown as an unsigned 16-bit number.
QString StatusKindText(quint16 kind, quint16 value);
