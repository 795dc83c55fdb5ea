// The stand-alone capture-format component against the virtual camera.
#include <cerrno>

#include <linux/videodev2.h>

#include "capture/StreamFormat.h"
#include "controls/AMStreamConfig.h"
#include "support/VirtualCameraFixture.h"

namespace {

// What the camera is set to: its own format, size and frame rate.
struct DeviceFormat {
    uint32_t fourcc;
    int width, height;
    uint32_t fps;
    bool operator==(const DeviceFormat&) const = default;
};

void PrintTo(const DeviceFormat& f, std::ostream* os) {
    *os << FourccName(f.fourcc).toStdString() << " " << f.width << "x" << f.height << " @"
        << f.fps;
}

class AMStreamConfigTest : public VirtualCameraTest {
  protected:
    DeviceFormat Device() {
        const VirtualCamera& vc = VirtualCamera::Instance();
        return {vc.PixelFormat(), vc.FrameSize().first, vc.FrameSize().second,
                vc.FramesPerSecond()};
    }
};

constexpr uint32_t kYuyv = V4L2_PIX_FMT_YUYV;
constexpr uint32_t kMjpeg = V4L2_PIX_FMT_MJPEG;

}  // namespace

TEST_F(AMStreamConfigTest, NewComponentHoldsNothing) {
    TAMStreamConfig config;
    EXPECT_FALSE(config.Active());
    EXPECT_EQ(config.Filter(), nullptr);
    EXPECT_EQ(config.Rectangle, nullptr);
    EXPECT_EQ(config.Width, 0);
    EXPECT_EQ(config.Height, 0);
    EXPECT_EQ(config.ApplyFormat(), 1);
}

TEST_F(AMStreamConfigTest, ResultIsZeroTheDevicesRefusalOrOne) {
    struct Case {
        const char* name;
        uint16_t width, height;
        bool streaming;
        bool refuseSizes;
        int result;
        DeviceFormat deviceAfter;
    };
    // The camera's own format with the highest frame rate at the size, ties to YUYV.
    const Case cases[] = {
        {"taken", 320, 240, false, false, 0, {kYuyv, 320, 240, 30}},
        {"faster compressed", 1920, 1080, false, false, 0, {kMjpeg, 1920, 1080, 30}},
        {"adjusted by the device", 1280, 1024, false, false, 0, {kMjpeg, 1280, 720, 30}},
        {"adjusted to a tie", 700, 500, false, false, 0, {kYuyv, 640, 480, 30}},
        {"streaming", 320, 240, true, false, -EBUSY, {kYuyv, 640, 480, 30}},
        {"size refused", 320, 240, false, true, -EINVAL, {kYuyv, 640, 480, 30}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        VirtualCamera::Faults faults;
        faults.refuseSizes = c.refuseSizes;
        VirtualCamera::Instance().SetFaults(faults);
        ASSERT_EQ(c.streaming ? camera->Preview() : camera->Connect(), 0);
        TAMStreamConfig config;
        config.SetFilter(camera->Filter());
        config.Width = c.width;
        config.Height = c.height;
        EXPECT_EQ(config.ApplyFormat(), c.result);
        EXPECT_EQ(Device(), c.deviceAfter);
    }
}

TEST_F(AMStreamConfigTest, NoDeviceGivesOne) {
    TAMStreamConfig config;
    config.Width = 320;
    config.Height = 240;
    // A filter whose graph is not built has no device.
    config.SetFilter(camera->Filter());
    EXPECT_EQ(config.ApplyFormat(), 1);
    // A device kept from an earlier assignment that has gone since.
    ASSERT_EQ(camera->Connect(), 0);
    config.SetFilter(camera->Filter());
    camera->Stop();
    camera->FilterGraph()->SetActive(false);
    EXPECT_EQ(config.ApplyFormat(), 1);
}

TEST_F(AMStreamConfigTest, ActivatingAppliesTheFormatAndDeactivatingLeavesIt) {
    TAMStreamConfig config;
    config.Width = 320;
    config.Height = 240;
    // Assigned before the graph was built: activation asks the filter again.
    config.SetFilter(camera->Filter());
    ASSERT_EQ(camera->Connect(), 0);
    config.SetActive(true);
    EXPECT_TRUE(config.Active());
    EXPECT_EQ(Device(), (DeviceFormat{kYuyv, 320, 240, 30}));

    config.Width = 1280;
    config.Height = 720;
    config.SetActive(false);
    EXPECT_EQ(Device(), (DeviceFormat{kYuyv, 320, 240, 30}));
    // Assigning none keeps the device kept before.
    config.SetFilter(nullptr);
    EXPECT_EQ(config.ApplyFormat(), 0);
    EXPECT_EQ(Device(), (DeviceFormat{kMjpeg, 1280, 720, 30}));
}
