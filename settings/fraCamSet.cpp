// The settings panel: its controls, their defaults and handlers.
#include "settings/fraCamSet.h"

#include <algorithm>

#include <QCheckBox>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStandardPaths>
#include <QStyle>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include "capture/SysDevEnum.h"
#include "controls/AMStreamConfig.h"
#include "controls/VideoProcAmp.h"
#include "lang/LangTable.h"
#include "messages/MessageBoxes.h"
#include "messages/WindowMessages.h"
#include "settings/AppPaths.h"
#include "settings/IniFile.h"
#include "settings/SettingsStore.h"
#include "widgets/ComboBox.h"
#include "widgets/TrackBar.h"

namespace {

constexpr int kDefaultPhotoSize = 200;
constexpr quint16 kLargestPhotoSize = 65535;

TfraCamSet::TFolderChooser& FolderChooser() {
    static TfraCamSet::TFolderChooser chooser = [](QWidget* parent, const QString& title) {
        // Opens on the desktop with nothing chosen yet.
        QString start = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
        if (!QFileInfo(start).isDir()) {
            start = QDir::homePath();
        }
        return QFileDialog::getExistingDirectory(parent, title, start, QFileDialog::ShowDirsOnly);
    };
    return chooser;
}

QLabel* Label(const QString& text, QWidget* buddy) {
    auto* label = new QLabel(text);
    label->setBuddy(buddy);
    label->setToolTip(buddy->toolTip());
    return label;
}

TComboBox* List(const QStringList& entries, const QString& hint) {
    auto* list = new TComboBox;
    list->addItems(entries);
    list->setToolTip(hint);
    return list;
}

TTrackBar* Slider(int tag, const QString& hint) {
    auto* slider = new TTrackBar;
    slider->SetMin(0);
    slider->SetMax(100);
    slider->SetPosition(50);
    slider->Tag = tag;
    slider->setToolTip(hint);
    slider->setMinimumWidth(180);
    return slider;
}

QSpinBox* SpinField(int minimum, int maximum, int value, const QString& hint) {
    auto* field = new QSpinBox;
    field->setRange(minimum, maximum);
    field->setSingleStep(1);
    field->setValue(value);
    field->setToolTip(hint);
    field->setMinimumWidth(80);
    field->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    return field;
}

QFormLayout* Form() {
    auto* form = new QFormLayout;
    form->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    form->setVerticalSpacing(6);
    return form;
}

}  // namespace

TfraCamSet::TfraCamSet(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("fraCamSet"));

    vpaBrightness = new TVideoProcAmp(this);
    vpaContras = new TVideoProcAmp(this);
    vpaHue = new TVideoProcAmp(this);
    vpaColorEnable = new TVideoProcAmp(this);
    AMStreamConfig = new TAMStreamConfig(this);

    bsSkinPageControl1 = new QTabWidget;
    bsSkinPageControl1->addTab(BuildCameraTab(), QStringLiteral("摄像头参数"));
    bsSkinPageControl1->addTab(BuildPhotoTab(), QStringLiteral("照片属性"));
    bsSkinPageControl1->addTab(BuildModeTab(), QStringLiteral("拍照方式"));
    bsSkinPageControl1->addTab(BuildCaptionsTab(), QStringLiteral("照片字幕"));
    bsSkinPageControl1->setCurrentIndex(0);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(4);
    layout->addWidget(bsSkinPageControl1, 1);
    layout->addWidget(BuildButtonBar());

    vpaBrightness->VideoProcAmpCategory = VideoProcAmp_Brightness;
    vpaBrightness->SetBSFTrackBar(tbBrightness);
    vpaContras->VideoProcAmpCategory = VideoProcAmp_Contrast;
    vpaContras->SetBSFTrackBar(tbContras);
    vpaHue->VideoProcAmpCategory = VideoProcAmp_Hue;
    vpaHue->SetBSFTrackBar(tbHue);
    vpaColorEnable->VideoProcAmpCategory = VideoProcAmp_ColorEnable;

    ConnectHandlers();
    UpdatePhotoSizeControls();
}

TfraCamSet::~TfraCamSet() = default;

void TfraCamSet::SetFolderChooser(TFolderChooser chooser) {
    FolderChooser() = std::move(chooser);
}

// ------------------------------------------------------------------ layout

QWidget* TfraCamSet::BuildCameraTab() {
    cbDevice = List({}, QStringLiteral("请选择视频采集设备"));
    cbDevice->setMinimumWidth(200);
    cbAMStreamConfig =
        List({QStringLiteral("160*120"), QStringLiteral("320*240"), QStringLiteral("640*480"),
              QStringLiteral("1280*1024"), QStringLiteral("默认分辨率")},
             QStringLiteral("采集设备的图像分辨率,这个分辨率越高,采集到的照片越清晰"));
    // Until the defaults select an entry the list shows the device's own
    // format with nothing selected.
    cbAMStreamConfig->setPlaceholderText(QStringLiteral("默认分辨率"));
    cbAMStreamConfig->setCurrentIndex(-1);
    // It reads as a choice, not as a greyed-out prompt.
    QPalette shown = cbAMStreamConfig->palette();
    shown.setColor(QPalette::PlaceholderText, shown.color(QPalette::ButtonText));
    cbAMStreamConfig->setPalette(shown);
    tbBrightness = Slider(5, QStringLiteral("亮度"));
    tbContras = Slider(6, QStringLiteral("对比度"));
    tbHue = Slider(7, QStringLiteral("色调"));
    cbColorEnable = new QCheckBox(QStringLiteral("彩色"));
    cbColorEnable->setToolTip(QStringLiteral("采集到的图像是否是彩色(勾选为彩色)"));

    auto* left = Form();
    left->addRow(Label(QStringLiteral("视频采集设备"), cbDevice), cbDevice);
    left->addRow(Label(QStringLiteral("视频源分辨率"), cbAMStreamConfig), cbAMStreamConfig);
    left->addRow(QString(), cbColorEnable);
    auto* right = Form();
    right->addRow(Label(QStringLiteral("亮度"), tbBrightness), tbBrightness);
    right->addRow(Label(QStringLiteral("对比度"), tbContras), tbContras);
    right->addRow(Label(QStringLiteral("色调"), tbHue), tbHue);

    auto* page = new QWidget;
    auto* columns = new QHBoxLayout(page);
    columns->addLayout(left, 1);
    columns->addSpacing(16);
    columns->addLayout(right, 1);
    return page;
}

QWidget* TfraCamSet::BuildPhotoTab() {
    cbFileFormat = List({QStringLiteral(".jpg"), QStringLiteral(".bmp")},
                        QStringLiteral("jpg格式,照片品质好,生成的照片文件小;\n"
                                       "bmp格式,照片品质好，生成的照片文件大;"));
    edtHeader = new QLineEdit(QStringLiteral("TAVRIN"));
    edtHeader->setToolTip(QStringLiteral("显示在照片文件名的前面"));
    cbFileNameType = List({QStringLiteral("日期时间"), QStringLiteral("流水号")},
                          QStringLiteral("日期时间文件名根据拍照时的日期时间自动命名照片文件;\n"
                                         "流水号根据拍照的次数，自动累加;"));
    // The folder changes only through the chooser, so what the field shows is
    // always where photographs go.
    edtsPath = new QLineEdit(::SavePath);
    edtsPath->setReadOnly(true);
    edtsPath->setToolTip(QStringLiteral("照片存储路径"));
    bsSkinSpeedButton1 = new QToolButton;
    bsSkinSpeedButton1->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
    bsSkinSpeedButton1->setAutoRaise(true);

    auto* pathRow = new QHBoxLayout;
    pathRow->setSpacing(2);
    pathRow->addWidget(edtsPath, 1);
    pathRow->addWidget(bsSkinSpeedButton1);

    auto* save = new QGroupBox(QStringLiteral("保存参数"));
    auto* saveForm = Form();
    saveForm->addRow(Label(QStringLiteral("输出照片格式"), cbFileFormat), cbFileFormat);
    saveForm->addRow(Label(QStringLiteral("照片文件名前缀"), edtHeader), edtHeader);
    saveForm->addRow(Label(QStringLiteral("照片文件名命名方式"), cbFileNameType), cbFileNameType);
    saveForm->addRow(Label(QStringLiteral("照片存储路径"), edtsPath), pathRow);
    save->setLayout(saveForm);

    tbPhoto = new TTrackBar;
    tbPhoto->SetMin(0);
    tbPhoto->SetMax(100);
    tbPhoto->SetPosition(75);
    tbPhoto->setToolTip(QStringLiteral("照片品质越高,拍摄的照片越清晰"));
    auto* quality = new QGroupBox(QStringLiteral("照片品质"));
    auto* qualityRow = new QHBoxLayout(quality);
    qualityRow->addWidget(Label(QStringLiteral("低"), tbPhoto));
    qualityRow->addWidget(tbPhoto, 1);
    qualityRow->addWidget(Label(QStringLiteral("高"), tbPhoto));

    const QString outputHint =
        QStringLiteral("根据您不同的需要,输出不同分辨率的照片,分辨率越大,照片文件越大");
    cbOutput = List(
        {QStringLiteral("1600*1200"), QStringLiteral("2048*1536"), QStringLiteral("2580*1936"),
         QStringLiteral("2816*2112"), QStringLiteral("3264*2448"), QStringLiteral("3876*2584")},
        outputHint);
    // A checkable group enables its inner controls exactly while it is ticked.
    gbOutput = new QGroupBox(QStringLiteral("启用输出照片分辨率"));
    gbOutput->setCheckable(true);
    gbOutput->setChecked(false);
    gbOutput->setToolTip(outputHint);
    auto* outputForm = Form();
    outputForm->addRow(Label(QStringLiteral("插值分辨率"), cbOutput), cbOutput);
    gbOutput->setLayout(outputForm);

    auto* right = new QVBoxLayout;
    right->addWidget(quality);
    right->addWidget(gbOutput);
    right->addStretch(1);

    auto* page = new QWidget;
    auto* columns = new QHBoxLayout(page);
    columns->addWidget(save, 3);
    columns->addLayout(right, 2);
    return page;
}

QWidget* TfraCamSet::BuildModeTab() {
    seDelay = SpinField(0, 60, 5, QStringLiteral("延迟时间"));
    auto* delay = new QGroupBox(QStringLiteral("延时拍照"));
    auto* delayForm = Form();
    delayForm->addRow(Label(QStringLiteral("延迟时间(秒)"), seDelay), seDelay);
    delay->setLayout(delayForm);

    cbSequential = new QCheckBox(QStringLiteral("连续拍照"));
    seSequential = SpinField(1, 60, 1, QStringLiteral("连拍时间间隔"));
    auto* series = new QGroupBox;
    auto* seriesForm = Form();
    seriesForm->addRow(QString(), cbSequential);
    seriesForm->addRow(Label(QStringLiteral("连拍时间间隔(秒)"), seSequential), seSequential);
    series->setLayout(seriesForm);

    cbPhotoStyle =
        List({QStringLiteral("彩色"), QStringLiteral("黑白")},
             QStringLiteral("一些视频采集设备无法通过 摄像头参数 页内的 彩色 "
                            "项设置彩色/黑白照,\n可以通过这个选项,设置拍摄彩色/黑白照;"));
    cbPhotoSize = List({QStringLiteral("默认大小"), QStringLiteral("自定义大小(单位KB)")},
                       QStringLiteral("默认大小,拍摄的照片大小将不进行任何处理;\n"
                                      "自定义大小,拍摄的照片大小将限制在 自定义大小 以内(含);"));
    edtPhotoSize = new QLineEdit(QString::number(kDefaultPhotoSize));
    edtPhotoSize->setToolTip(
        QStringLiteral("当设置的 自定义大小 大于500KB时,将按500KB大小生成照片;"));
    // Only digits can be typed or pasted.
    edtPhotoSize->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), this));
    edtPhotoSize->setMaximumWidth(90);
    // Disabled, the field takes the button-face colour.
    QPalette palette = edtPhotoSize->palette();
    palette.setColor(QPalette::Disabled, QPalette::Base, palette.color(QPalette::Button));
    edtPhotoSize->setPalette(palette);
    lblPhotoSizeLeft = Label(QStringLiteral("自定义大小"), edtPhotoSize);
    lblPhotoSizeRight = new QLabel(QStringLiteral("KB 以内(含)"));

    auto* sizeRow = new QHBoxLayout;
    sizeRow->addWidget(edtPhotoSize);
    sizeRow->addWidget(lblPhotoSizeRight);
    sizeRow->addStretch(1);
    auto* photo = new QGroupBox;
    auto* photoForm = Form();
    photoForm->addRow(Label(QStringLiteral("拍照状态"), cbPhotoStyle), cbPhotoStyle);
    photoForm->addRow(Label(QStringLiteral("照片大小"), cbPhotoSize), cbPhotoSize);
    photoForm->addRow(lblPhotoSizeLeft, sizeRow);
    photo->setLayout(photoForm);

    auto* left = new QVBoxLayout;
    left->addWidget(delay);
    left->addWidget(series);
    left->addStretch(1);
    auto* right = new QVBoxLayout;
    right->addWidget(photo);
    right->addStretch(1);

    auto* page = new QWidget;
    auto* columns = new QHBoxLayout(page);
    columns->addLayout(left, 1);
    columns->addLayout(right, 1);
    return page;
}

QWidget* TfraCamSet::BuildCaptionsTab() {
    cbShowWord = new QCheckBox(QStringLiteral("照片使用字幕"));
    cbShowWord->setToolTip(QStringLiteral("提示:头像拍摄模式(160*120分辨率)不显示字幕"));
    auto line = [](const QString& hint) {
        auto* edit = new QLineEdit;
        edit->setToolTip(hint);
        return edit;
    };
    edtWord1 = line(QStringLiteral("字幕一"));
    edtWord2 = line(QStringLiteral("字幕二"));
    edtWord3 = line(QStringLiteral("字幕三"));
    cbShowDate = new QCheckBox(QStringLiteral("照片显示日期"));
    cbShowDate->setToolTip(QStringLiteral("照片显示日期"));
    cbShowTime = new QCheckBox(QStringLiteral("照片显示时间"));
    cbShowTime->setToolTip(QStringLiteral("照片显示时间"));

    auto* words = Form();
    words->addRow(QString(), cbShowWord);
    words->addRow(Label(QStringLiteral("字幕一"), edtWord1), edtWord1);
    words->addRow(Label(QStringLiteral("字幕二"), edtWord2), edtWord2);
    words->addRow(Label(QStringLiteral("字幕三"), edtWord3), edtWord3);
    auto* stamp = new QVBoxLayout;
    stamp->addWidget(cbShowDate);
    stamp->addWidget(cbShowTime);
    stamp->addStretch(1);

    auto* page = new QWidget;
    auto* columns = new QHBoxLayout(page);
    columns->addLayout(words, 3);
    columns->addSpacing(16);
    columns->addLayout(stamp, 1);
    return page;
}

QWidget* TfraCamSet::BuildButtonBar() {
    btnDefault = new QPushButton(QStringLiteral("默认值"));
    btnOK = new QPushButton(QStringLiteral("确定"));
    btnApply = new QPushButton(QStringLiteral("应用"));
    auto* bar = new QWidget;
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(0, 0, 0, 0);
    row->addStretch(1);
    row->addWidget(btnDefault);
    row->addWidget(btnOK);
    row->addWidget(btnApply);
    return bar;
}

void TfraCamSet::ConnectHandlers() {
    connect(btnDefault, &QPushButton::clicked, this, &TfraCamSet::btnDefaultClick);
    connect(btnOK, &QPushButton::clicked, this, &TfraCamSet::btnOKClick);
    connect(btnApply, &QPushButton::clicked, this, &TfraCamSet::btnApplyClick);
    connect(bsSkinSpeedButton1, &QToolButton::clicked, this, &TfraCamSet::bsSkinSpeedButton1Click);
    // Every change of the box's state, the user's or the program's.
    connect(cbColorEnable, &QCheckBox::toggled, this, &TfraCamSet::cbColorEnableClick);
    cbAMStreamConfig->OnChange = [this](QObject*) { cbAMStreamConfigChange(); };
    connect(bsSkinPageControl1, &QTabWidget::currentChanged, this,
            &TfraCamSet::bsSkinPageControl1Change);
    connect(cbPhotoSize, &TComboBox::DroppedDown, this, &TfraCamSet::cbPhotoSizeDropDown);
    cbPhotoSize->OnChange = [this](QObject*) { cbPhotoSizeChange(); };
    edtPhotoSize->installEventFilter(this);
    tbPhoto->OnChange = [this](QObject*) { tbPhotoChange(); };
    connect(tbPhoto, &TTrackBar::MouseEntered, this, &TfraCamSet::tbPhotoChange);
    for (TTrackBar* slider : {tbBrightness, tbContras, tbHue}) {
        connect(slider, &TTrackBar::MouseEntered, this, &TfraCamSet::tbBrightnessMouseEnter);
    }
    for (TTrackBar* slider : {tbBrightness, tbContras, tbHue, tbPhoto}) {
        connect(slider, &TTrackBar::MouseLeft, this, &TfraCamSet::tbPhotoMouseLeave);
    }
    for (QWidget* control : std::initializer_list<QWidget*>{cbShowWord, edtWord1, edtWord2,
                                                            edtWord3, cbShowDate, cbShowTime}) {
        control->installEventFilter(this);
    }
    connect(cbDevice, &QComboBox::activated, this, [this](int index) {
        FDeviceIndex = index;
        emit DeviceChosen(index);
    });
}

// ----------------------------------------------------------------- options

int TfraCamSet::InputResolution() const {
    return cbAMStreamConfig->currentIndex();
}

int TfraCamSet::CompressionQuality() const {
    return tbPhoto->Position();
}

int TfraCamSet::PhotoStyle() const {
    return cbPhotoStyle->currentIndex();
}

int TfraCamSet::PhotoSize() const {
    return cbPhotoSize->currentIndex();
}

quint16 TfraCamSet::PhotoSize2() const {
    const QString text = edtPhotoSize->text();
    if (text.isEmpty() ||
        !std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; })) {
        return kDefaultPhotoSize;
    }
    bool ok = false;
    const qulonglong number = text.toULongLong(&ok);
    // Digits too many to parse are a number too large all the same.
    return (!ok || number > kLargestPhotoSize) ? kLargestPhotoSize : static_cast<quint16>(number);
}

int TfraCamSet::FileFormat() const {
    return cbFileFormat->currentIndex();
}

QString TfraCamSet::FileHeader() const {
    return edtHeader->text();
}

int TfraCamSet::FileNameType() const {
    return cbFileNameType->currentIndex();
}

bool TfraCamSet::UseOutputResolution() const {
    return gbOutput->isChecked();
}

int TfraCamSet::OutputResolution() const {
    return cbOutput->currentIndex();
}

quint32 TfraCamSet::DelayTime() const {
    return static_cast<quint32>(std::min(seDelay->value(), 60)) * 1000;
}

bool TfraCamSet::Sequential() const {
    return cbSequential->isChecked();
}

int TfraCamSet::SequentialInterval() const {
    return std::min(seSequential->value(), 60);
}

std::array<QString, 3> TfraCamSet::CaptionLines() const {
    if (!cbShowWord->isChecked()) {
        return {};
    }
    return {edtWord1->text(), edtWord2->text(), edtWord3->text()};
}

bool TfraCamSet::PrintDate() const {
    return cbShowDate->isChecked();
}

bool TfraCamSet::PrintTime() const {
    return cbShowTime->isChecked();
}

// ---------------------------------------------------------------- messages

bool TfraCamSet::event(QEvent* event) {
    if (event->type() == TWindowMessage::Type()) {
        WndProc(static_cast<TWindowMessage&>(*event));
        return true;
    }
    return QWidget::event(event);
}

void TfraCamSet::WndProc(TWindowMessage& message) {
    switch (message.Msg) {
        case WM_SETUP_LOAD:
            InitSettings();
            break;
        case WM_CAMERA_DEFAULTS:
            RestoreDefaults();
            break;
        case WM_CAMERA_RELOAD:
            ReloadCamera();
            break;
        case WM_SAVE_MAXFILENO:
            // 1 when the counter reached the settings file.
            message.Result = StoreFileNo() ? 1 : 0;
            break;
        default:
            break;
    }
}

bool TfraCamSet::eventFilter(QObject* watched, QEvent* event) {
    if (watched == edtPhotoSize && event->type() == QEvent::FocusOut) {
        edtPhotoSizeExit();
    } else if (event->type() == QEvent::FocusIn && watched != edtPhotoSize) {
        // One of the caption controls.
        cbShowWordEnter();
    }
    return QWidget::eventFilter(watched, event);
}

// -------------------------------------------------------------- algorithms

void TfraCamSet::InitSettings() {
    FSizeDropDown = false;
    FLang = LoadLangTable();
    FillDeviceList();
    edtsPath->setText(::SavePath);
    LoadFileNo();
    SendMessage(this, WM_CAMERA_RELOAD);
    UpdatePhotoSizeControls();
}

void TfraCamSet::FillDeviceList() {
    const TSysDevEnum devices;
    if (devices.DeviceCount() == 0) {
        return;
    }
    // One notification at most, and only when the entry shown differs.
    cbDevice->BeginUpdate();
    cbDevice->clear();
    for (int i = 0; i < devices.DeviceCount(); ++i) {
        cbDevice->addItem(devices.DeviceName(i));
    }
    // The device in use is the one last picked (the first until then).
    cbDevice->setCurrentIndex(FDeviceIndex < devices.DeviceCount() ? FDeviceIndex : 0);
    cbDevice->EndUpdate();
}

void TfraCamSet::RestoreDefaults() {
    cbAMStreamConfig->setCurrentIndex(4);
    LoadCamera(true);
}

void TfraCamSet::ReloadCamera() {
    LoadCamera(false);
}

void TfraCamSet::LoadCamera(bool useDefaults) {
    for (TVideoProcAmp* amp : {vpaBrightness, vpaContras, vpaHue}) {
        amp->IsDefault = useDefaults;
        amp->SetActive(true);
    }
    // Colour reads range, default and value only; the box then writes.
    vpaColorEnable->SetActive(true);
    // A device without a colour switch leaves the box as it stands.
    if (!vpaColorEnable->Loaded()) {
        return;
    }
    const int wanted = useDefaults ? vpaColorEnable->DefaultValue() : vpaColorEnable->Value;
    {
        const QSignalBlocker quiet(cbColorEnable);
        cbColorEnable->setChecked(wanted == 1);
    }
    cbColorEnableClick();
}

void TfraCamSet::LoadFileNo() {
    FFileNo = ::LoadFileNo(FFileNo);
}

bool TfraCamSet::StoreFileNo() {
    return ::StoreFileNo(FFileNo);
}

void TfraCamSet::UpdatePhotoSizeControls() {
    const bool custom = cbPhotoSize->currentIndex() == 1;
    edtPhotoSize->setEnabled(custom);
    lblPhotoSizeLeft->setEnabled(custom);
    lblPhotoSizeRight->setEnabled(custom);
}

QString TfraCamSet::LangText(const char* key) {
    if (!FLang) {
        FLang = LoadLangTable();
    }
    return ::LangText(*FLang, QString::fromLatin1(key));
}

// ---------------------------------------------------------------- handlers

void TfraCamSet::btnDefaultClick() {
    SendMessage(this, WM_CAMERA_DEFAULTS);
}

void TfraCamSet::btnOKClick() {
    for (TVideoProcAmp* amp : {vpaBrightness, vpaContras, vpaHue}) {
        amp->IsDefault = false;
        amp->SetActive(true);
    }
    SendMessage(ApplicationMainWindow(), WM_SAVEPATH_CHANGED);
    SendMessage(ApplicationMainWindow(), WM_SETUP_TOGGLE);
}

void TfraCamSet::btnApplyClick() {
    btnApply->setEnabled(false);
    for (TVideoProcAmp* amp : {vpaBrightness, vpaContras, vpaHue}) {
        amp->IsDefault = false;
        amp->SetActive(true);
    }
    SendMessage(ApplicationMainWindow(), WM_SAVEPATH_CHANGED);
}

void TfraCamSet::bsSkinSpeedButton1Click() {
    btnApply->setEnabled(true);
    QWidget* owner = ApplicationMainWindow() ? ApplicationMainWindow() : window();
    QString path = FolderChooser()(owner, LangText("00000008"));
    if (path.isEmpty()) {
        return;
    }
    if (!path.endsWith(QLatin1Char('/'))) {
        path += QLatin1Char('/');
    }
    edtsPath->setText(path);
    ::SavePath = path;
    try {
        WriteSavePathSetting(path);
    } catch (const EIniWriteError& error) {
        // The folder stays in effect for this run; only storing it failed.
        ShowMessageBox(owner, owner->windowTitle(), error.message(), TMessageBoxKind::Error);
    }
}

void TfraCamSet::cbColorEnableClick() {
    vpaColorEnable->Value = cbColorEnable->isChecked() ? 1 : 0;
    vpaColorEnable->ApplyToDevice(false);
}

void TfraCamSet::cbAMStreamConfigChange() {
    SendMessage(ApplicationMainWindow(), WM_INPUT_RESOLUTION, 0, cbAMStreamConfig->currentIndex());
}

void TfraCamSet::bsSkinPageControl1Change(int index) {
    if (index == 1) {
        SendMessage(this, WM_CAMERA_RELOAD);
    }
}

void TfraCamSet::cbPhotoSizeDropDown() {
    FSizeDropDown = true;
}

void TfraCamSet::cbPhotoSizeChange() {
    if (cbPhotoSize->currentIndex() == 1 && FSizeDropDown) {
        ShowMessageBox(this, QStringLiteral("Information"),
                       QStringLiteral("提示:\n照片大小选择 自定义大小 时,\n"
                                      "照片分辨率将根据拍照环境智能调整,不允许设置;"),
                       TMessageBoxKind::Information);
        FSizeDropDown = false;
    }
    UpdatePhotoSizeControls();
}

void TfraCamSet::edtPhotoSizeExit() {
    if (edtPhotoSize->isEnabled() && PhotoSize2() > kDefaultPhotoSize) {
        SendMessage(ApplicationMainWindow(), WM_INPUT_RESOLUTION, 0, 3);
    }
}

void TfraCamSet::tbPhotoChange() {
    SendMessage(ApplicationMainWindow(), WM_STATUS_TEXT, 4, tbPhoto->Position());
}

void TfraCamSet::tbBrightnessMouseEnter(QObject* sender) {
    if (auto* slider = qobject_cast<TTrackBar*>(sender)) {
        SendMessage(ApplicationMainWindow(), WM_STATUS_TEXT, slider->Tag, slider->Position());
    }
}

void TfraCamSet::tbPhotoMouseLeave() {
    SendMessage(ApplicationMainWindow(), WM_STATUS_TEXT, 0, 0);
}

void TfraCamSet::cbShowWordEnter() {
    btnApply->setEnabled(true);
}
