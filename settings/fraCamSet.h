// TfraCamSet: the settings panel of the main window, four tabs (camera,
// photo properties, capture mode, captions) above 默认值 / 确定 / 应用. It is
// also the live store of every option of the run: the main window reads the
// controls, through the getters below, when it starts the preview and when
// it takes a photograph. Camera values act on the device at once.
//
// Window messages it answers: WM_SETUP_LOAD, WM_CAMERA_DEFAULTS,
// WM_CAMERA_RELOAD, WM_SAVE_MAXFILENO. It sends WM_SAVEPATH_CHANGED,
// WM_SETUP_TOGGLE, WM_INPUT_RESOLUTION and WM_STATUS_TEXT to the application's
// main window. GUI thread only.
#pragma once

#include <array>
#include <functional>
#include <memory>

#include <QString>
#include <QStringList>
#include <QWidget>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTabWidget;
class QToolButton;
class TAMStreamConfig;
class TComboBox;
class TTrackBar;
class TVideoProcAmp;
class TWindowMessage;

class TfraCamSet : public QWidget {
    Q_OBJECT

  public:
    explicit TfraCamSet(QWidget* parent = nullptr);
    ~TfraCamSet() override;

    // --- Options as the main window reads them ------------------------------
    // Source resolution index 0..4; -1 until the defaults first select one.
    int InputResolution() const;
    int CompressionQuality() const;  // 0..100
    int PhotoStyle() const;          // 0 colour, 1 black and white
    int PhotoSize() const;           // 0 as taken, 1 limited to PhotoSize2 KB
    // The size limit in KB: 200 when the field holds no number, 65535 for
    // any number above that (never wrapped into 16 bits).
    quint16 PhotoSize2() const;
    int FileFormat() const;  // 0 JPEG, 1 BMP
    QString FileHeader() const;
    int FileNameType() const;  // 0 date and time, 1 serial number
    bool UseOutputResolution() const;
    int OutputResolution() const;  // 0..5
    quint32 DelayTime() const;     // milliseconds
    bool Sequential() const;
    int SequentialInterval() const;  // seconds, 1..60
    // The three caption lines while 照片使用字幕 is ticked, else empty lines.
    std::array<QString, 3> CaptionLines() const;
    bool PrintDate() const;
    bool PrintTime() const;

    // The serial-number counter: the last number used for a photograph name.
    quint32 FileNo() const { return FFileNo; }
    void SetFileNo(quint32 counter) { FFileNo = counter; }

    // The device last picked in the device list by the user (0 until then):
    // the one the window selects whenever it is shown again.
    int DeviceIndex() const { return FDeviceIndex; }

    // The folder chooser; tests replace it. Returns the chosen folder, empty
    // when the user cancelled.
    using TFolderChooser = std::function<QString(QWidget* parent, const QString& title)>;
    static void SetFolderChooser(TFolderChooser chooser);

    // --- Controls -------------------------------------------------------------
    QTabWidget* bsSkinPageControl1;

    // Tab 1, camera.
    TComboBox* cbDevice;
    TComboBox* cbAMStreamConfig;
    TTrackBar* tbBrightness;
    TTrackBar* tbContras;
    TTrackBar* tbHue;
    QCheckBox* cbColorEnable;

    // Tab 2, photo properties.
    TComboBox* cbFileFormat;
    QLineEdit* edtHeader;
    TComboBox* cbFileNameType;
    QLineEdit* edtsPath;
    QToolButton* bsSkinSpeedButton1;  // folder chooser
    TTrackBar* tbPhoto;
    QGroupBox* gbOutput;
    TComboBox* cbOutput;

    // Tab 3, capture mode.
    QSpinBox* seDelay;
    QCheckBox* cbSequential;
    QSpinBox* seSequential;
    TComboBox* cbPhotoStyle;
    TComboBox* cbPhotoSize;
    QLabel* lblPhotoSizeLeft;
    QLineEdit* edtPhotoSize;
    QLabel* lblPhotoSizeRight;

    // Tab 4, captions.
    QCheckBox* cbShowWord;
    QLineEdit* edtWord1;
    QLineEdit* edtWord2;
    QLineEdit* edtWord3;
    QCheckBox* cbShowDate;
    QCheckBox* cbShowTime;

    QPushButton* btnDefault;
    QPushButton* btnOK;
    QPushButton* btnApply;

    // Camera controls; the main window gives them the capture filter.
    TVideoProcAmp* vpaBrightness;
    TVideoProcAmp* vpaContras;
    TVideoProcAmp* vpaHue;
    TVideoProcAmp* vpaColorEnable;
    TAMStreamConfig* AMStreamConfig;

  signals:
    // The user picked a device in the list (DeviceIndex is already updated).
    void DeviceChosen(int index);

  public slots:
    void btnDefaultClick();
    void btnOKClick();
    void btnApplyClick();
    void bsSkinSpeedButton1Click();
    void cbColorEnableClick();
    void cbAMStreamConfigChange();
    void bsSkinPageControl1Change(int index);
    void cbPhotoSizeDropDown();
    void cbPhotoSizeChange();
    void edtPhotoSizeExit();
    void tbPhotoChange();
    void tbBrightnessMouseEnter(QObject* sender);
    void tbPhotoMouseLeave();
    void cbShowWordEnter();

  public:
    // Run by the window messages (and by the handlers above).
    void InitSettings();
    void FillDeviceList();
    void RestoreDefaults();
    void ReloadCamera();
    void LoadFileNo();
    bool StoreFileNo();
    void UpdatePhotoSizeControls();

  protected:
    virtual void WndProc(TWindowMessage& message);
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QWidget* BuildCameraTab();
    QWidget* BuildPhotoTab();
    QWidget* BuildModeTab();
    QWidget* BuildCaptionsTab();
    QWidget* BuildButtonBar();
    void ConnectHandlers();
    // The picture sliders move to the device's defaults (true) or current
    // values, and the colour box follows the device.
    void LoadCamera(bool useDefaults);
    QString LangText(const char* key);

    quint32 FFileNo = 0;
    bool FSizeDropDown = false;
    int FDeviceIndex = 0;
    std::unique_ptr<QStringList> FLang;
};
