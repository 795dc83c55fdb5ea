// The settings panel on its own: defaults, handlers, the messages it answers
// and sends, and the camera values, against the virtual camera.
#include "settings/fraCamSet.h"

#include <functional>
#include <vector>

#include <linux/videodev2.h>

#include <QCheckBox>
#include <QEnterEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QToolButton>

#include "controls/AMStreamConfig.h"
#include "controls/VideoProcAmp.h"
#include "messages/MessageBoxes.h"
#include "settings/AppPaths.h"
#include "settings/IniFile.h"
#include "support/MessageRecorder.h"
#include "support/TestFiles.h"
#include "support/VirtualCameraFixture.h"
#include "widgets/ComboBox.h"
#include "widgets/TrackBar.h"

namespace {

using Sent = MessageRecorder::Sent;

QStringList Entries(const QComboBox* list) {
    QStringList entries;
    for (int i = 0; i < list->count(); ++i) {
        entries << list->itemText(i);
    }
    return entries;
}

struct Sliders {
    int brightness, contrast, hue;
    bool operator==(const Sliders&) const = default;
};

void PrintTo(const Sliders& s, std::ostream* os) {
    *os << "{" << s.brightness << ", " << s.contrast << ", " << s.hue << "}";
}

class CamSetFrameTest : public VirtualCameraTest {
  protected:
    void SetUp() override {
        VirtualCameraTest::SetUp();
        // The colour box needs a device with a colour killer (a capture card's control;
        // USB cameras have none, and then the box is left as it stands).
        VirtualCamera::Instance().SetColourKiller(true);
        ASSERT_TRUE(appDir.isValid());
        saved = {AppPath, IniFileName, SavePath, DefaultSavePath};
        AppPath = appDir.path() + QLatin1Char('/');
        IniFileName = AppPath + QStringLiteral("snapix.ini");
        SavePath = AppPath;
        DefaultSavePath = AppPath;
        SetMessageBoxRecorder([this](const TShownMessageBox& box) { boxes.push_back(box); });
        TfraCamSet::SetFolderChooser([this](QWidget*, const QString& title) {
            chooserTitles << title;
            return chooserAnswer;
        });
        mainWindow = std::make_unique<MessageRecorder>();
        mainWindow->setWindowTitle(QStringLiteral("Snapix 拍照"));
        frame = std::make_unique<TfraCamSet>();
        frame->resize(744, 234);
        frame->show();
    }

    void TearDown() override {
        frame.reset();
        mainWindow.reset();
        SetMessageBoxRecorder(nullptr);
        AppPath = saved[0];
        IniFileName = saved[1];
        SavePath = saved[2];
        DefaultSavePath = saved[3];
        VirtualCameraTest::TearDown();
    }

    // As the main window does at every show.
    void BindCamera() {
        for (TVideoProcAmp* amp :
             {frame->vpaBrightness, frame->vpaContras, frame->vpaHue, frame->vpaColorEnable}) {
            amp->SetFilter(camera->Filter());
        }
        frame->AMStreamConfig->SetFilter(camera->Filter());
    }

    int DeviceValue(uint32_t id) {
        v4l2_control c{id, 0};
        EXPECT_EQ(camera->Filter()->Ioctl(VIDIOC_G_CTRL, &c), 0);
        return c.value;
    }
    void SetDeviceValue(uint32_t id, int value) {
        v4l2_control c{id, value};
        ASSERT_EQ(camera->Filter()->Ioctl(VIDIOC_S_CTRL, &c), 0);
    }

    // The messages the frame sent, other than status texts.
    std::vector<Sent> Requests() const {
        std::vector<Sent> found;
        for (const Sent& m : mainWindow->messages) {
            if (m.msg != WM_STATUS_TEXT) {
                found.push_back(m);
            }
        }
        return found;
    }

    Sliders SliderPositions() const {
        return {frame->tbBrightness->Position(), frame->tbContras->Position(),
                frame->tbHue->Position()};
    }

    QTemporaryDir appDir;
    QStringList saved;
    std::vector<TShownMessageBox> boxes;
    QStringList chooserTitles;
    QString chooserAnswer;
    std::unique_ptr<MessageRecorder> mainWindow;
    std::unique_ptr<TfraCamSet> frame;
};

}  // namespace

TEST_F(CamSetFrameTest, NewFrameShowsTheDefaultsOfEveryTab) {
    TfraCamSet& f = *frame;
    const QStringList tabs = {"摄像头参数", "照片属性", "拍照方式", "照片字幕"};
    ASSERT_EQ(f.bsSkinPageControl1->count(), 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(f.bsSkinPageControl1->tabText(i), tabs[i]);
    }
    EXPECT_EQ(f.bsSkinPageControl1->currentIndex(), 0);

    // Lists: entries, selection, what they show, hint.
    struct ListCase {
        TComboBox* list;
        QStringList entries;
        int index;
        QString shown;
        QString hint;
    };
    const ListCase lists[] = {
        {f.cbAMStreamConfig,
         {"160*120", "320*240", "640*480", "1280*1024", "默认分辨率"},
         -1,
         "默认分辨率",
         "采集设备的图像分辨率,这个分辨率越高,采集到的照片越清晰"},
        {f.cbFileFormat,
         {".jpg", ".bmp"},
         0,
         ".jpg",
         "jpg格式,照片品质好,生成的照片文件小;\nbmp格式,照片品质好，生成的照片文件大;"},
        {f.cbFileNameType,
         {"日期时间", "流水号"},
         0,
         "日期时间",
         "日期时间文件名根据拍照时的日期时间自动命名照片文件;\n流水号根据拍照的次数，自动累加;"},
        {f.cbOutput,
         {"1600*1200", "2048*1536", "2580*1936", "2816*2112", "3264*2448", "3876*2584"},
         0,
         "1600*1200",
         "根据您不同的需要,输出不同分辨率的照片,分辨率越大,照片文件越大"},
        {f.cbPhotoStyle,
         {"彩色", "黑白"},
         0,
         "彩色",
         "一些视频采集设备无法通过 摄像头参数 页内的 彩色 项设置彩色/黑白照,\n"
         "可以通过这个选项,设置拍摄彩色/黑白照;"},
        {f.cbPhotoSize,
         {"默认大小", "自定义大小(单位KB)"},
         0,
         "默认大小",
         "默认大小,拍摄的照片大小将不进行任何处理;\n"
         "自定义大小,拍摄的照片大小将限制在 自定义大小 以内(含);"},
        {f.cbDevice, {}, -1, "", "请选择视频采集设备"},
    };
    for (const ListCase& c : lists) {
        SCOPED_TRACE(c.hint.toStdString());
        EXPECT_EQ(Entries(c.list), c.entries);
        EXPECT_EQ(c.list->currentIndex(), c.index);
        EXPECT_EQ(c.list->ShownText(), c.shown);
        EXPECT_EQ(c.list->toolTip(), c.hint);
    }

    struct SliderCase {
        TTrackBar* slider;
        int tag, position;
        QString hint;
    };
    const SliderCase sliders[] = {{f.tbBrightness, 5, 50, "亮度"},
                                  {f.tbContras, 6, 50, "对比度"},
                                  {f.tbHue, 7, 50, "色调"},
                                  {f.tbPhoto, 0, 75, "照片品质越高,拍摄的照片越清晰"}};
    for (const SliderCase& c : sliders) {
        SCOPED_TRACE(c.hint.toStdString());
        EXPECT_EQ(c.slider->Min(), 0);
        EXPECT_EQ(c.slider->Max(), 100);
        EXPECT_EQ(c.slider->Position(), c.position);
        EXPECT_EQ(c.slider->Tag, c.tag);
        EXPECT_EQ(c.slider->toolTip(), c.hint);
    }

    struct CheckCase {
        QAbstractButton* box;
        QString caption, hint;
    };
    const CheckCase checks[] = {
        {f.cbColorEnable, "彩色", "采集到的图像是否是彩色(勾选为彩色)"},
        {f.cbSequential, "连续拍照", ""},
        {f.cbShowWord, "照片使用字幕", "提示:头像拍摄模式(160*120分辨率)不显示字幕"},
        {f.cbShowDate, "照片显示日期", "照片显示日期"},
        {f.cbShowTime, "照片显示时间", "照片显示时间"},
    };
    for (const CheckCase& c : checks) {
        SCOPED_TRACE(c.caption.toStdString());
        EXPECT_EQ(c.box->text(), c.caption);
        EXPECT_FALSE(c.box->isChecked());
        EXPECT_EQ(c.box->toolTip(), c.hint);
    }

    struct SpinCase {
        QSpinBox* field;
        int minimum, maximum, value;
        QString hint;
    };
    for (const SpinCase& c : {SpinCase{f.seDelay, 0, 60, 5, "延迟时间"},
                              SpinCase{f.seSequential, 1, 60, 1, "连拍时间间隔"}}) {
        EXPECT_EQ(c.field->minimum(), c.minimum);
        EXPECT_EQ(c.field->maximum(), c.maximum);
        EXPECT_EQ(c.field->singleStep(), 1);
        EXPECT_EQ(c.field->value(), c.value);
        EXPECT_EQ(c.field->toolTip(), c.hint);
    }

    struct TextCase {
        QLineEdit* field;
        QString text, hint;
    };
    const TextCase texts[] = {
        {f.edtHeader, "TAVRIN", "显示在照片文件名的前面"},
        {f.edtsPath, SavePath, "照片存储路径"},
        {f.edtPhotoSize, "200", "当设置的 自定义大小 大于500KB时,将按500KB大小生成照片;"},
        {f.edtWord1, "", "字幕一"},
        {f.edtWord2, "", "字幕二"},
        {f.edtWord3, "", "字幕三"},
    };
    for (const TextCase& c : texts) {
        SCOPED_TRACE(c.hint.toStdString());
        EXPECT_EQ(c.field->text(), c.text);
        EXPECT_EQ(c.field->toolTip(), c.hint);
    }

    EXPECT_EQ(f.gbOutput->title(), "启用输出照片分辨率");
    EXPECT_TRUE(f.gbOutput->isCheckable());
    EXPECT_FALSE(f.gbOutput->isChecked());
    EXPECT_FALSE(f.cbOutput->isEnabled());
    EXPECT_FALSE(f.edtPhotoSize->isEnabled());
    EXPECT_FALSE(f.lblPhotoSizeLeft->isEnabled());
    EXPECT_FALSE(f.lblPhotoSizeRight->isEnabled());
    EXPECT_EQ(f.lblPhotoSizeLeft->text(), "自定义大小");
    EXPECT_EQ(f.lblPhotoSizeRight->text(), "KB 以内(含)");
    EXPECT_EQ(f.btnDefault->text(), "默认值");
    EXPECT_EQ(f.btnOK->text(), "确定");
    EXPECT_EQ(f.btnApply->text(), "应用");
    EXPECT_TRUE(f.btnApply->isEnabled());

    // The options as the main window reads them.
    EXPECT_EQ(f.InputResolution(), -1);
    EXPECT_EQ(f.CompressionQuality(), 75);
    EXPECT_EQ(f.PhotoStyle(), 0);
    EXPECT_EQ(f.PhotoSize(), 0);
    EXPECT_EQ(f.PhotoSize2(), 200);
    EXPECT_EQ(f.FileFormat(), 0);
    EXPECT_EQ(f.FileHeader(), "TAVRIN");
    EXPECT_EQ(f.FileNameType(), 0);
    EXPECT_EQ(f.FileNo(), 0u);
    EXPECT_FALSE(f.UseOutputResolution());
    EXPECT_EQ(f.OutputResolution(), 0);
    EXPECT_EQ(f.DelayTime(), 5000u);
    EXPECT_FALSE(f.Sequential());
    EXPECT_EQ(f.SequentialInterval(), 1);
    EXPECT_EQ(f.CaptionLines(), (std::array<QString, 3>{}));
    EXPECT_FALSE(f.PrintDate());
    EXPECT_FALSE(f.PrintTime());
    EXPECT_EQ(f.DeviceIndex(), 0);

    // Camera components: nothing bound, nothing active.
    for (TVideoProcAmp* amp : {f.vpaBrightness, f.vpaContras, f.vpaHue, f.vpaColorEnable}) {
        EXPECT_FALSE(amp->Active());
        EXPECT_EQ(amp->Filter(), nullptr);
    }
    EXPECT_EQ(f.vpaBrightness->VideoProcAmpCategory, VideoProcAmp_Brightness);
    EXPECT_EQ(f.vpaContras->VideoProcAmpCategory, VideoProcAmp_Contrast);
    EXPECT_EQ(f.vpaHue->VideoProcAmpCategory, VideoProcAmp_Hue);
    EXPECT_EQ(f.vpaColorEnable->VideoProcAmpCategory, VideoProcAmp_ColorEnable);
    EXPECT_EQ(f.vpaBrightness->BSFTrackBar(), f.tbBrightness);
    EXPECT_EQ(f.vpaColorEnable->BSFTrackBar(), nullptr);
    EXPECT_FALSE(f.AMStreamConfig->Active());
    EXPECT_EQ(f.AMStreamConfig->Width, 0);
    EXPECT_EQ(f.AMStreamConfig->Height, 0);
    EXPECT_TRUE(mainWindow->messages.empty());
}

TEST_F(CamSetFrameTest, HandlersSendTheirRequestsToTheMainWindow) {
    auto enter = [](QWidget* w) {
        QEnterEvent event(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
        QCoreApplication::sendEvent(w, &event);
    };
    auto leave = [](QWidget* w) {
        QEvent event(QEvent::Leave);
        QCoreApplication::sendEvent(w, &event);
    };
    auto leaveSizeField = [this](const QString& text, int listIndex) {
        frame->bsSkinPageControl1->setCurrentIndex(2);
        frame->cbPhotoSize->setCurrentIndex(listIndex);
        frame->edtPhotoSize->setText(text);
        if (frame->edtPhotoSize->isEnabled()) {
            frame->edtPhotoSize->setFocus();
            ASSERT_TRUE(frame->edtPhotoSize->hasFocus());
            frame->btnDefault->setFocus();
        } else {
            // A disabled field cannot be left: the handler alone.
            frame->edtPhotoSizeExit();
        }
        frame->bsSkinPageControl1->setCurrentIndex(0);
    };
    struct Case {
        const char* name;
        std::function<void()> act;
        std::vector<Sent> sent;
    };
    const Case cases[] = {
        {"resolution picked",
         [&] { frame->cbAMStreamConfig->setCurrentIndex(2); },
         {{WM_INPUT_RESOLUTION, 0, 2}}},
        {"quality moved", [&] { frame->tbPhoto->SetPosition(90); }, {{WM_STATUS_TEXT, 4, 90}}},
        {"mouse on quality", [&] { enter(frame->tbPhoto); }, {{WM_STATUS_TEXT, 4, 90}}},
        {"mouse on brightness", [&] { enter(frame->tbBrightness); }, {{WM_STATUS_TEXT, 5, 50}}},
        {"mouse on contrast", [&] { enter(frame->tbContras); }, {{WM_STATUS_TEXT, 6, 50}}},
        {"mouse on hue", [&] { enter(frame->tbHue); }, {{WM_STATUS_TEXT, 7, 50}}},
        {"mouse leaves hue", [&] { leave(frame->tbHue); }, {{WM_STATUS_TEXT, 0, 0}}},
        {"mouse leaves quality", [&] { leave(frame->tbPhoto); }, {{WM_STATUS_TEXT, 0, 0}}},
        {"size field left at 500",
         [&] { leaveSizeField("500", 1); },
         {{WM_INPUT_RESOLUTION, 0, 3}}},
        {"size field left at 200", [&] { leaveSizeField("200", 1); }, {}},
        {"size field left empty", [&] { leaveSizeField("", 1); }, {}},
        {"size field disabled", [&] { leaveSizeField("500", 0); }, {}},
        {"OK",
         [&] { frame->btnOK->click(); },
         {{WM_SAVEPATH_CHANGED, 0, 0}, {WM_SETUP_TOGGLE, 0, 0}}},
        {"apply", [&] { frame->btnApply->click(); }, {{WM_SAVEPATH_CHANGED, 0, 0}}},
    };
    frame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame.get()));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        mainWindow->messages.clear();
        c.act();
        EXPECT_EQ(mainWindow->messages, c.sent);
    }
    // The size-limit request leaves the resolution list as it was.
    EXPECT_EQ(frame->cbAMStreamConfig->currentIndex(), 2);
}

TEST_F(CamSetFrameTest, DefaultsRestartThePreviewOnlyWhenTheResolutionShownChanges) {
    // Nothing selected yet shows the default entry's text: no request.
    SendMessage(frame.get(), WM_CAMERA_DEFAULTS);
    EXPECT_EQ(frame->InputResolution(), 4);
    EXPECT_TRUE(Requests().empty());

    frame->cbAMStreamConfig->setCurrentIndex(2);
    mainWindow->messages.clear();
    frame->btnDefault->click();
    EXPECT_EQ(frame->cbAMStreamConfig->ShownText(), "默认分辨率");
    EXPECT_EQ(Requests(), (std::vector<Sent>{{WM_INPUT_RESOLUTION, 0, 4}}));
}

TEST_F(CamSetFrameTest, CameraMessagesMoveSlidersToDeviceDefaultsOrCurrentValues) {
    ASSERT_EQ(camera->Preview(), 0);
    BindCamera();
    SetDeviceValue(V4L2_CID_BRIGHTNESS, 10);
    SetDeviceValue(V4L2_CID_CONTRAST, 80);
    SetDeviceValue(V4L2_CID_HUE, -30);
    SetDeviceValue(V4L2_CID_COLOR_KILLER, 1);

    SendMessage(frame.get(), WM_CAMERA_RELOAD);
    EXPECT_EQ(SliderPositions(), (Sliders{10, 80, -30}));
    EXPECT_EQ(frame->tbHue->Min(), -180);
    EXPECT_FALSE(frame->cbColorEnable->isChecked());
    EXPECT_EQ(DeviceValue(V4L2_CID_COLOR_KILLER), 1);
    EXPECT_EQ(mainWindow->Of(WM_STATUS_TEXT),
              (std::vector<Sent>{
                  {WM_STATUS_TEXT, 5, 10}, {WM_STATUS_TEXT, 6, 80}, {WM_STATUS_TEXT, 7, -30}}));

    // The user's choices stick on the device at once.
    frame->tbContras->SetPosition(60);
    EXPECT_EQ(DeviceValue(V4L2_CID_CONTRAST), 60);
    frame->cbColorEnable->setChecked(true);
    EXPECT_EQ(DeviceValue(V4L2_CID_COLOR_KILLER), 0);

    // The hue slider stands only on the camera's steps of 5.
    frame->tbHue->SetPosition(-43);
    EXPECT_EQ(frame->tbHue->Position(), -45);
    EXPECT_EQ(DeviceValue(V4L2_CID_HUE), -45);

    // Defaults: sliders to the device defaults, written; colour on.
    SetDeviceValue(V4L2_CID_COLOR_KILLER, 1);  // the box still shows colour
    SendMessage(frame.get(), WM_CAMERA_DEFAULTS);
    EXPECT_EQ(SliderPositions(), (Sliders{128, 128, 0}));
    EXPECT_EQ(DeviceValue(V4L2_CID_BRIGHTNESS), 128);
    EXPECT_EQ(DeviceValue(V4L2_CID_CONTRAST), 128);
    EXPECT_EQ(DeviceValue(V4L2_CID_HUE), 0);
    EXPECT_TRUE(frame->cbColorEnable->isChecked());
    EXPECT_EQ(DeviceValue(V4L2_CID_COLOR_KILLER), 0);

    // Showing the second tab reads the device again; other tabs do not.
    SetDeviceValue(V4L2_CID_BRIGHTNESS, 33);
    frame->bsSkinPageControl1->setCurrentIndex(2);
    EXPECT_EQ(frame->tbBrightness->Position(), 128);
    frame->bsSkinPageControl1->setCurrentIndex(1);
    EXPECT_EQ(frame->tbBrightness->Position(), 33);

    // OK and Apply read the current values too.
    SetDeviceValue(V4L2_CID_HUE, 45);
    frame->btnApply->click();
    EXPECT_EQ(frame->tbHue->Position(), 45);
}

TEST_F(CamSetFrameTest, CameraWithoutControlsOrGoneLeavesEverythingAsItWas) {
    struct Case {
        const char* name;
        std::function<void()> arrange;
    };
    const Case cases[] = {
        {"no controls",
         [] {
             VirtualCamera::Faults faults;
             faults.noControls = true;
             VirtualCamera::Instance().SetFaults(faults);
         }},
        {"unplugged", [] { VirtualCamera::Instance().Unplug(); }},
        // A device switch tears the graph down before the next one is built.
        {"device switch", [this] { camera->FilterGraph()->SetActive(false); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        ASSERT_EQ(camera->Preview(), 0);
        BindCamera();
        SetDeviceValue(V4L2_CID_BRIGHTNESS, 10);
        SendMessage(frame.get(), WM_CAMERA_RELOAD);
        frame->cbColorEnable->setChecked(true);
        const Sliders before = SliderPositions();
        ASSERT_EQ(before, (Sliders{10, 128, 0}));
        c.arrange();
        mainWindow->messages.clear();

        SendMessage(frame.get(), WM_CAMERA_DEFAULTS);
        SendMessage(frame.get(), WM_SETUP_LOAD);
        frame->btnOK->click();
        frame->btnApply->click();

        EXPECT_EQ(SliderPositions(), before);
        EXPECT_EQ(frame->tbBrightness->Min(), 0);
        EXPECT_TRUE(frame->cbColorEnable->isChecked());
        EXPECT_TRUE(mainWindow->Of(WM_STATUS_TEXT).empty());
        EXPECT_TRUE(boxes.empty());
    }
}

TEST_F(CamSetFrameTest, SetupLoadFillsTheFrameFromDevicesStoreAndCamera) {
    WriteBytes(IniFileName, "[Snapix]\nMaxFileNo=41\n");
    SavePath = appDir.path() + QStringLiteral("/photos/");
    ASSERT_EQ(camera->Preview(), 0);
    BindCamera();
    SetDeviceValue(V4L2_CID_BRIGHTNESS, 77);

    SendMessage(frame.get(), WM_SETUP_LOAD);
    EXPECT_EQ(frame->edtsPath->text(), SavePath);
    EXPECT_EQ(frame->FileNo(), 41u);
    EXPECT_EQ(frame->tbBrightness->Position(), 77);
    ASSERT_GE(frame->cbDevice->count(), 1);
    EXPECT_EQ(frame->cbDevice->itemText(frame->cbDevice->count() - 1), VirtualCamera::kName);
    EXPECT_EQ(frame->cbDevice->currentIndex(), 0);

    frame->SetFileNo(42);
    SendMessage(frame.get(), WM_SAVE_MAXFILENO);
    EXPECT_EQ(ReadIniValue(IniFileName, "Snapix", "MaxFileNo", ""), "42");
}

TEST_F(CamSetFrameTest, DevicePickedByTheUserIsRemembered) {
    SendMessage(frame.get(), WM_SETUP_LOAD);
    std::vector<int> chosen;
    QObject::connect(frame.get(), &TfraCamSet::DeviceChosen,
                     [&](int index) { chosen.push_back(index); });
    // Refilling the list is not a choice.
    frame->FillDeviceList();
    EXPECT_TRUE(chosen.empty());

    // A second entry to pick from (this machine may have one camera only).
    frame->cbDevice->addItem(QStringLiteral("Second camera"));
    frame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame.get()));
    frame->cbDevice->setFocus();
    QTest::keyClick(frame->cbDevice, Qt::Key_End);
    const int last = frame->cbDevice->count() - 1;
    EXPECT_EQ(frame->DeviceIndex(), last);
    EXPECT_EQ(chosen, std::vector<int>{last});
    // A program change of the list leaves the choice alone.
    frame->cbDevice->setCurrentIndex(0);
    EXPECT_EQ(frame->DeviceIndex(), last);
}

TEST_F(CamSetFrameTest, FolderChooserStoresThePathWithATrailingSlash) {
    struct Case {
        const char* name;
        QString answer;
        QString stored;  // "" : nothing changes
    };
    const QString photos = appDir.path() + QStringLiteral("/photos");
    const Case cases[] = {
        {"folder", photos, photos + "/"},
        {"folder with slash", photos + "/", photos + "/"},
        {"root", "/", "/"},
        {"cancelled", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SavePath = AppPath;
        frame->edtsPath->setText(AppPath);
        QFile::remove(IniFileName);
        frame->btnApply->setEnabled(false);
        chooserTitles.clear();
        chooserAnswer = c.answer;

        frame->bsSkinSpeedButton1->click();
        EXPECT_EQ(chooserTitles, QStringList{"照片存储路径:"});
        EXPECT_TRUE(frame->btnApply->isEnabled());
        const QString expected = c.stored.isEmpty() ? AppPath : c.stored;
        EXPECT_EQ(frame->edtsPath->text(), expected);
        EXPECT_EQ(SavePath, expected);
        EXPECT_EQ(ReadIniValue(IniFileName, "Snapix", "SavePath", "<none>"),
                  c.stored.isEmpty() ? "<none>" : c.stored);
    }
    EXPECT_TRUE(boxes.empty());
}

TEST_F(CamSetFrameTest, FolderThatCannotBeStoredIsReportedAndUsedForThisRun) {
    IniFileName = appDir.path() + QStringLiteral("/missing/snapix.ini");
    chooserAnswer = appDir.path();
    frame->bsSkinSpeedButton1->click();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].kind, TMessageBoxKind::Error);
    EXPECT_EQ(boxes[0].caption, "Snapix 拍照");
    EXPECT_EQ(boxes[0].text, "Unable to write to " + IniFileName);
    EXPECT_EQ(SavePath, appDir.path() + "/");
    EXPECT_EQ(frame->edtsPath->text(), SavePath);
}

TEST_F(CamSetFrameTest, PhotoFolderFieldCannotBeTypedInto) {
    frame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame.get()));
    frame->bsSkinPageControl1->setCurrentIndex(1);
    frame->edtsPath->setFocus();
    QTest::keyClicks(frame->edtsPath, "/elsewhere/");
    QTest::keyClick(frame->edtsPath, Qt::Key_Backspace);
    EXPECT_EQ(frame->edtsPath->text(), SavePath);
    EXPECT_TRUE(frame->edtsPath->isReadOnly());
}

TEST_F(CamSetFrameTest, CustomSizeNoticeNeedsTheListOpenedByTheUser) {
    auto notices = [this] {
        return std::count_if(boxes.begin(), boxes.end(), [](const TShownMessageBox& b) {
            return b.kind == TMessageBoxKind::Information && b.caption == "Information" &&
                   b.text ==
                       "提示:\n照片大小选择 自定义大小 时,\n"
                       "照片分辨率将根据拍照环境智能调整,不允许设置;";
        });
    };
    frame->bsSkinPageControl1->setCurrentIndex(2);
    // Reached without opening the list: no notice, the field opens up.
    frame->cbPhotoSize->setCurrentIndex(1);
    EXPECT_EQ(notices(), 0);
    EXPECT_TRUE(frame->edtPhotoSize->isEnabled());
    EXPECT_TRUE(frame->lblPhotoSizeLeft->isEnabled());
    EXPECT_TRUE(frame->lblPhotoSizeRight->isEnabled());
    frame->cbPhotoSize->setCurrentIndex(0);
    EXPECT_FALSE(frame->edtPhotoSize->isEnabled());

    frame->cbPhotoSize->showPopup();
    frame->cbPhotoSize->hidePopup();
    frame->cbPhotoSize->setCurrentIndex(1);
    EXPECT_EQ(notices(), 1);
    // Chosen again without opening the list: once was enough.
    frame->cbPhotoSize->setCurrentIndex(0);
    frame->cbPhotoSize->setCurrentIndex(1);
    EXPECT_EQ(notices(), 1);
    // Loading the panel forgets an opening.
    frame->cbPhotoSize->setCurrentIndex(0);
    frame->cbPhotoSize->showPopup();
    frame->cbPhotoSize->hidePopup();
    SendMessage(frame.get(), WM_SETUP_LOAD);
    frame->cbPhotoSize->setCurrentIndex(1);
    EXPECT_EQ(notices(), 1);
    EXPECT_EQ(boxes.size(), 1u);
}

TEST_F(CamSetFrameTest, SizeLimitTakesDigitsOnlyAndReadsWithoutWrapping) {
    frame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame.get()));
    frame->bsSkinPageControl1->setCurrentIndex(2);
    frame->cbPhotoSize->setCurrentIndex(1);
    frame->edtPhotoSize->clear();
    frame->edtPhotoSize->setFocus();
    QTest::keyClicks(frame->edtPhotoSize, "12a3-4. 5");
    EXPECT_EQ(frame->edtPhotoSize->text(), "12345");
    QTest::keyClick(frame->edtPhotoSize, Qt::Key_Backspace);
    EXPECT_EQ(frame->edtPhotoSize->text(), "1234");

    const struct {
        QString text;
        quint16 limit;
    } cases[] = {{"", 200},
                 {"x1", 200},
                 {"0", 0},
                 {"500", 500},
                 {"65535", 65535},
                 {"70000", 65535},
                 {"4294967297", 65535},
                 {"123456789012345678901234567890", 65535}};
    for (const auto& c : cases) {
        frame->edtPhotoSize->setText(c.text);
        EXPECT_EQ(frame->PhotoSize2(), c.limit) << c.text.toStdString();
    }
}

TEST_F(CamSetFrameTest, ApplyStaysDisabledUntilFolderButtonOrACaptionControl) {
    frame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame.get()));
    frame->btnApply->click();
    EXPECT_FALSE(frame->btnApply->isEnabled());
    frame->bsSkinPageControl1->setCurrentIndex(3);
    for (QWidget* control :
         std::initializer_list<QWidget*>{frame->cbShowWord, frame->edtWord1, frame->edtWord2,
                                         frame->edtWord3, frame->cbShowDate, frame->cbShowTime}) {
        frame->btnApply->setEnabled(false);
        frame->btnDefault->setFocus();
        control->setFocus();
        EXPECT_TRUE(frame->btnApply->isEnabled()) << control->toolTip().toStdString();
    }
    // Other controls do not.
    frame->btnApply->setEnabled(false);
    frame->bsSkinPageControl1->setCurrentIndex(1);
    frame->edtHeader->setFocus();
    EXPECT_FALSE(frame->btnApply->isEnabled());
}

TEST_F(CamSetFrameTest, OptionsFollowTheControls) {
    TfraCamSet& f = *frame;
    f.tbPhoto->SetPosition(90);
    f.cbPhotoStyle->setCurrentIndex(1);
    f.cbPhotoSize->setCurrentIndex(1);
    f.edtPhotoSize->setText("70000");
    f.cbFileFormat->setCurrentIndex(1);
    f.edtHeader->setText("IMG_");
    f.cbFileNameType->setCurrentIndex(1);
    f.gbOutput->setChecked(true);
    f.cbOutput->setCurrentIndex(5);
    f.seDelay->setValue(60);
    f.cbSequential->setChecked(true);
    f.seSequential->setValue(7);
    f.edtWord1->setText("one");
    f.edtWord2->setText("two");
    f.edtWord3->setText("three");
    f.cbShowDate->setChecked(true);
    f.cbShowTime->setChecked(true);

    EXPECT_TRUE(f.cbOutput->isEnabled());
    EXPECT_EQ(f.CompressionQuality(), 90);
    EXPECT_EQ(f.PhotoStyle(), 1);
    EXPECT_EQ(f.PhotoSize(), 1);
    EXPECT_EQ(f.PhotoSize2(), 65535);
    EXPECT_EQ(f.FileFormat(), 1);
    EXPECT_EQ(f.FileHeader(), "IMG_");
    EXPECT_EQ(f.FileNameType(), 1);
    EXPECT_TRUE(f.UseOutputResolution());
    EXPECT_EQ(f.OutputResolution(), 5);
    EXPECT_EQ(f.DelayTime(), 60000u);
    EXPECT_TRUE(f.Sequential());
    EXPECT_EQ(f.SequentialInterval(), 7);
    // The caption lines count only while their box is ticked.
    EXPECT_EQ(f.CaptionLines(), (std::array<QString, 3>{}));
    f.cbShowWord->setChecked(true);
    EXPECT_EQ(f.CaptionLines(), (std::array<QString, 3>{"one", "two", "three"}));
    EXPECT_TRUE(f.PrintDate());
    EXPECT_TRUE(f.PrintTime());
}
