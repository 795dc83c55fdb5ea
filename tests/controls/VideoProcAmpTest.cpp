// Picture properties bound to sliders, against the virtual camera's controls.
#include <functional>
#include <vector>

#include <linux/videodev2.h>

#include <QSlider>

#include "controls/VideoProcAmp.h"
#include "support/MessageRecorder.h"
#include "support/VirtualCameraFixture.h"
#include "widgets/TrackBar.h"

namespace {

using Sent = MessageRecorder::Sent;

class VideoProcAmpTest : public VirtualCameraTest {
  protected:
    void SetUp() override {
        VirtualCameraTest::SetUp();
        slider.SetMin(0);
        slider.SetMax(100);
        slider.SetPosition(50);
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
    std::vector<Sent> Status() const { return mainWindow.Of(WM_STATUS_TEXT); }

    MessageRecorder mainWindow;
    TTrackBar slider;
};

struct Range {
    int min, max, position;
    bool operator==(const Range&) const = default;
};

Range Of(const QSlider& s) {
    return {s.minimum(), s.maximum(), s.value()};
}

void PrintTo(const Range& r, std::ostream* os) {
    *os << r.min << ".." << r.max << " @" << r.position;
}

uint32_t ControlOf(tagVideoProcAmpProperty p) {
    switch (p) {
        case VideoProcAmp_Contrast:
            return V4L2_CID_CONTRAST;
        case VideoProcAmp_Hue:
            return V4L2_CID_HUE;
        case VideoProcAmp_Saturation:
            return V4L2_CID_SATURATION;
        default:
            return V4L2_CID_BRIGHTNESS;
    }
}

}  // namespace

TEST_F(VideoProcAmpTest, LoadPutsDeviceRangeAndValueOnSliderAndWritesOnlyWhenItMoves) {
    struct Case {
        const char* name;
        tagVideoProcAmpProperty category;
        Range before;
        int device;  // value on the device before the load
        bool isDefault;
        Range after;
        std::vector<Sent> status;
        int deviceAfter;
    };
    const Case cases[] = {
        {"current value",
         VideoProcAmp_Brightness,
         {0, 100, 50},
         10,
         false,
         {0, 255, 10},
         {{WM_STATUS_TEXT, 5, 10}},
         10},
        {"default already shown",
         VideoProcAmp_Brightness,
         {0, 255, 128},
         10,
         true,
         {0, 255, 128},
         {},
         10},
        {"default moves the slider",
         VideoProcAmp_Brightness,
         {0, 255, 10},
         10,
         true,
         {0, 255, 128},
         {{WM_STATUS_TEXT, 5, 128}},
         128},
        // The range change pulls 300 to 255 without notifying; 255 is then
        // where the slider already stands.
        {"range pulls position silently",
         VideoProcAmp_Brightness,
         {0, 300, 300},
         255,
         false,
         {0, 255, 255},
         {},
         255},
        {"contrast",
         VideoProcAmp_Contrast,
         {0, 100, 50},
         70,
         false,
         {0, 255, 70},
         {{WM_STATUS_TEXT, 6, 70}},
         70},
        {"hue",
         VideoProcAmp_Hue,
         {0, 100, 50},
         -90,
         false,
         {-180, 180, -90},
         {{WM_STATUS_TEXT, 7, -90}},
         -90},
        {"saturation has no status text",
         VideoProcAmp_Saturation,
         {0, 100, 50},
         30,
         false,
         {0, 255, 30},
         {},
         30},
    };
    ASSERT_EQ(camera->Connect(), 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TVideoProcAmp amp;
        amp.VideoProcAmpCategory = c.category;
        slider.SetMin(c.before.min);
        slider.SetMax(c.before.max);
        slider.SetPosition(c.before.position);
        ASSERT_EQ(Of(slider), c.before);
        amp.SetBSFTrackBar(&slider);
        amp.SetFilter(camera->Filter());
        SetDeviceValue(ControlOf(c.category), c.device);
        mainWindow.messages.clear();

        amp.IsDefault = c.isDefault;
        amp.SetActive(true);

        EXPECT_TRUE(amp.Loaded());
        EXPECT_EQ(Of(slider), c.after);
        EXPECT_EQ(Status(), c.status);
        EXPECT_EQ(DeviceValue(ControlOf(c.category)), c.deviceAfter);
        EXPECT_EQ(amp.MinValue(), c.after.min);
        EXPECT_EQ(amp.MaxValue(), c.after.max);
    }
}

TEST_F(VideoProcAmpTest, MovingTheSliderWritesEachPositionAndReportsIt) {
    ASSERT_EQ(camera->Preview(), 0);
    TVideoProcAmp amp;
    amp.SetBSFTrackBar(&slider);
    amp.SetFilter(camera->Filter());
    SetDeviceValue(V4L2_CID_BRIGHTNESS, 10);
    amp.SetActive(true);
    mainWindow.messages.clear();

    slider.SetPosition(20);
    EXPECT_EQ(DeviceValue(V4L2_CID_BRIGHTNESS), 20);
    EXPECT_EQ(amp.Value, 20);
    // The same position again is no change: nothing more is sent.
    slider.SetPosition(20);
    EXPECT_EQ(Status(), (std::vector<Sent>{{WM_STATUS_TEXT, 5, 20}}));

    // Restoring the default is a load with IsDefault: the slider moves, and
    // its change writes the default.
    amp.IsDefault = true;
    amp.SetActive(true);
    EXPECT_EQ(slider.Position(), 128);
    EXPECT_EQ(DeviceValue(V4L2_CID_BRIGHTNESS), 128);
}

// Hue moves in steps of 5 on this camera: a slider never stands between two of them,
// whether bound as the skinned slider or as a plain one, and the device gets only
// values it holds.
TEST_F(VideoProcAmpTest, SlidersMoveInTheDevicesSteps) {
    ASSERT_EQ(camera->Connect(), 0);
    const struct {
        int moveTo, stands;
    } moves[] = {{7, 5}, {8, 10}, {-3, -5}, {-2, 0}, {179, 180}, {-500, -180}};
    QSlider plain(Qt::Horizontal);
    for (const bool skinned : {true, false}) {
        SCOPED_TRACE(skinned ? "skinned slider" : "plain slider");
        TVideoProcAmp amp;
        amp.VideoProcAmpCategory = VideoProcAmp_Hue;
        if (skinned) {
            amp.SetBSFTrackBar(&slider);
        } else {
            amp.SetTrackBar(&plain);
        }
        amp.SetFilter(camera->Filter());
        amp.SetActive(true);
        ASSERT_EQ(amp.StepValue(), 5);
        QSlider& bound = skinned ? static_cast<QSlider&>(slider) : plain;
        EXPECT_EQ(bound.singleStep(), 5);
        for (const auto& m : moves) {
            mainWindow.messages.clear();
            bound.setValue(m.moveTo);
            EXPECT_EQ(bound.value(), m.stands) << m.moveTo;
            EXPECT_EQ(DeviceValue(V4L2_CID_HUE), m.stands) << m.moveTo;
            // One report, of the value the device holds.
            EXPECT_EQ(Status(), (std::vector<Sent>{{WM_STATUS_TEXT, 7, m.stands}}))
                << m.moveTo;
        }
    }
}

// A manual setting whose automatic twin is on (the white balance temperature under
// automatic white balance) is not a slider's until the automatic one is off; then it
// moves in the camera's steps of 10 kelvin.
TEST_F(VideoProcAmpTest, AManualSettingUnderItsAutomaticTwinIsMissingUntilThatIsOff) {
    ASSERT_EQ(camera->Connect(), 0);
    TVideoProcAmp amp;
    amp.VideoProcAmpCategory = VideoProcAmp_WhiteBalance;
    amp.SetBSFTrackBar(&slider);
    amp.SetFilter(camera->Filter());
    amp.SetActive(true);
    EXPECT_FALSE(amp.Loaded());
    EXPECT_EQ(Of(slider), (Range{0, 100, 50}));

    SetDeviceValue(V4L2_CID_AUTO_WHITE_BALANCE, 0);
    amp.SetActive(true);
    ASSERT_TRUE(amp.Loaded());
    EXPECT_EQ(Of(slider), (Range{2800, 6500, 4600}));
    slider.SetPosition(3333);
    EXPECT_EQ(slider.Position(), 3330);
    EXPECT_EQ(DeviceValue(V4L2_CID_WHITE_BALANCE_TEMPERATURE), 3330);
}

TEST_F(VideoProcAmpTest, MissingPropertyLeavesSliderAndPropertiesAsTheyWere) {
    struct Case {
        const char* name;
        std::function<void(TVideoProcAmp&)> arrange;
    };
    const Case cases[] = {
        {"no filter", [](TVideoProcAmp&) {}},
        {"graph not built", [this](TVideoProcAmp& amp) { amp.SetFilter(camera->Filter()); }},
        {"device without controls",
         [this](TVideoProcAmp& amp) {
             VirtualCamera::Faults faults;
             faults.noControls = true;
             VirtualCamera::Instance().SetFaults(faults);
             ASSERT_EQ(camera->Connect(), 0);
             amp.SetFilter(camera->Filter());
         }},
        {"control disabled",
         [this](TVideoProcAmp& amp) {
             VirtualCamera::Instance().SetControlFlags(V4L2_CID_BRIGHTNESS,
                                                       V4L2_CTRL_FLAG_DISABLED);
             ASSERT_EQ(camera->Connect(), 0);
             amp.SetFilter(camera->Filter());
         }},
        {"control inactive",
         [this](TVideoProcAmp& amp) {
             VirtualCamera::Instance().SetControlFlags(V4L2_CID_BRIGHTNESS,
                                                       V4L2_CTRL_FLAG_INACTIVE);
             ASSERT_EQ(camera->Connect(), 0);
             amp.SetFilter(camera->Filter());
         }},
        {"camera unplugged",
         [this](TVideoProcAmp& amp) {
             ASSERT_EQ(camera->Connect(), 0);
             amp.SetFilter(camera->Filter());
             VirtualCamera::Instance().Unplug();
         }},
        {"filter gone",
         [this](TVideoProcAmp& amp) {
             ASSERT_EQ(camera->Connect(), 0);
             amp.SetFilter(camera->Filter());
             camera.reset();
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        TVideoProcAmp amp;
        amp.SetBSFTrackBar(&slider);
        c.arrange(amp);
        mainWindow.messages.clear();

        amp.IsDefault = false;
        amp.SetActive(true);
        amp.IsDefault = true;
        amp.SetActive(true);
        EXPECT_TRUE(amp.ApplyToDevice(false));

        EXPECT_FALSE(amp.Loaded());
        EXPECT_EQ(Of(slider), (Range{0, 100, 50}));
        EXPECT_TRUE(Status().empty());
        EXPECT_EQ(amp.MinValue(), 0);
        EXPECT_EQ(amp.MaxValue(), 0);
        EXPECT_EQ(amp.DefaultValue(), 0);
        EXPECT_EQ(amp.Value, 0);
    }
}

TEST_F(VideoProcAmpTest, CameraUnpluggedAfterLoadKeepsTheValuesItHad) {
    ASSERT_EQ(camera->Preview(), 0);
    TVideoProcAmp amp;
    amp.SetBSFTrackBar(&slider);
    amp.SetFilter(camera->Filter());
    SetDeviceValue(V4L2_CID_BRIGHTNESS, 10);
    amp.SetActive(true);
    VirtualCamera::Instance().Unplug();
    // The stream notices and the graph lets the device go.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !camera->Filter()->HasDevice(); }, 5000));

    amp.IsDefault = true;
    amp.SetActive(true);
    EXPECT_EQ(Of(slider), (Range{0, 255, 10}));
    EXPECT_EQ(amp.Value, 10);
    // A move by the user goes nowhere, quietly.
    slider.SetPosition(30);
    EXPECT_TRUE(amp.ApplyToDevice(false));
    EXPECT_EQ(slider.Position(), 30);
}

TEST_F(VideoProcAmpTest, WithBothSlidersOnlyTheStandardOneIsLoadedAndWritten) {
    ASSERT_EQ(camera->Connect(), 0);
    QSlider standard(Qt::Horizontal);
    standard.setRange(0, 100);
    standard.setValue(50);
    int otherHandlerRuns = 0;
    QObject::connect(&standard, &QSlider::valueChanged, [&] { ++otherHandlerRuns; });
    TVideoProcAmp amp;
    amp.SetTrackBar(&standard);
    amp.SetBSFTrackBar(&slider);
    amp.SetFilter(camera->Filter());
    SetDeviceValue(V4L2_CID_BRIGHTNESS, 10);

    amp.SetActive(true);
    EXPECT_EQ(Of(standard), (Range{0, 255, 10}));
    EXPECT_EQ(Of(slider), (Range{0, 100, 50}));
    // Binding replaced the slider's own handler.
    EXPECT_EQ(otherHandlerRuns, 0);

    // Moving the skinned slider writes the standard slider's position.
    slider.SetPosition(80);
    EXPECT_EQ(DeviceValue(V4L2_CID_BRIGHTNESS), 10);
    standard.setValue(5);
    EXPECT_EQ(DeviceValue(V4L2_CID_BRIGHTNESS), 5);
    EXPECT_EQ(mainWindow.Of(WM_STATUS_TEXT).back(), (Sent{WM_STATUS_TEXT, 5, 5}));
}

// Capture devices with a colour killer (USB cameras have none).
TEST_F(VideoProcAmpTest, ColourEnableIsTheColourKillerTurnedRound) {
    VirtualCamera::Instance().SetColourKiller(true);
    ASSERT_EQ(camera->Connect(), 0);
    TVideoProcAmp amp;
    amp.VideoProcAmpCategory = VideoProcAmp_ColorEnable;
    amp.SetFilter(camera->Filter());

    // Activating reads into the properties only; the device is not written.
    SetDeviceValue(V4L2_CID_COLOR_KILLER, 1);
    amp.SetActive(true);
    EXPECT_TRUE(amp.Loaded());
    EXPECT_EQ(amp.MinValue(), 0);
    EXPECT_EQ(amp.MaxValue(), 1);
    EXPECT_EQ(amp.DefaultValue(), 1);  // the killer is off by default: colour
    EXPECT_EQ(amp.Value, 0);
    EXPECT_EQ(DeviceValue(V4L2_CID_COLOR_KILLER), 1);

    amp.Value = 1;
    EXPECT_EQ(DeviceValue(V4L2_CID_COLOR_KILLER), 1);
    EXPECT_FALSE(amp.ApplyToDevice(false));
    EXPECT_EQ(DeviceValue(V4L2_CID_COLOR_KILLER), 0);
    amp.Value = 0;
    EXPECT_FALSE(amp.ApplyToDevice(false));
    EXPECT_EQ(DeviceValue(V4L2_CID_COLOR_KILLER), 1);
    EXPECT_FALSE(amp.ApplyToDevice(true));
    EXPECT_EQ(DeviceValue(V4L2_CID_COLOR_KILLER), 0);
    EXPECT_TRUE(mainWindow.messages.empty());
}

// A USB camera has no colour killer: colour off is its saturation at its minimum, colour
// on its saturation at its default, and the picture goes grey and back.
TEST_F(VideoProcAmpTest, ColourEnableOnAUsbCameraIsItsSaturation) {
    VirtualCamera::Instance().SetSettling(false);
    ASSERT_EQ(camera->Preview(), 0);
    TVideoProcAmp amp;
    amp.VideoProcAmpCategory = VideoProcAmp_ColorEnable;
    amp.SetFilter(camera->Filter());
    amp.SetActive(true);
    ASSERT_TRUE(amp.Loaded());
    EXPECT_EQ(amp.MinValue(), 0);
    EXPECT_EQ(amp.MaxValue(), 1);
    EXPECT_EQ(amp.DefaultValue(), 1);
    EXPECT_EQ(amp.Value, 1);

    // The red bar's colour, a few frames after each change.
    auto redBar = [this] {
        const uint64_t seen = camera->SampleGrabber()->FramesArrived();
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return camera->SampleGrabber()->FramesArrived() >= seen + 2; }, 2000));
        QImage frame;
        EXPECT_EQ(camera->SampleGrabber()->GrabBitmap(frame), 0);
        return frame.pixelColor(5 * 640 / 8 + 10, 100);
    };
    amp.Value = 0;
    EXPECT_FALSE(amp.ApplyToDevice(false));
    EXPECT_EQ(DeviceValue(V4L2_CID_SATURATION), 0);
    const QColor grey = redBar();
    EXPECT_LE(std::abs(grey.red() - grey.green()), 2);
    amp.Value = 1;
    EXPECT_FALSE(amp.ApplyToDevice(false));
    EXPECT_EQ(DeviceValue(V4L2_CID_SATURATION), 128);
    EXPECT_GT(redBar().red(), 200);

    // Loading reads it back: any saturation above the minimum is colour.
    SetDeviceValue(V4L2_CID_SATURATION, 40);
    amp.SetActive(true);
    EXPECT_EQ(amp.Value, 1);
    SetDeviceValue(V4L2_CID_SATURATION, 0);
    amp.SetActive(true);
    EXPECT_EQ(amp.Value, 0);
}
