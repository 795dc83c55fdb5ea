// The stand-alone capture-format component against the virtual camera.
#include <cerrno>

#include <linux/videodev2.h>

#include "controls/AMStreamConfig.h"
#include "support/VirtualCameraFixture.h"

namespace {

class AMStreamConfigTest : public VirtualCameraTest {
  protected:
    std::pair<int, int> DeviceSize() {
        v4l2_format format;
        EXPECT_EQ(camera->Filter()->GetFormat(format), 0);
        EXPECT_EQ(format.fmt.pix.pixelformat, static_cast<uint32_t>(V4L2_PIX_FMT_BGR24));
        return {static_cast<int>(format.fmt.pix.width), static_cast<int>(format.fmt.pix.height)};
    }
};

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
        std::pair<int, int> deviceAfter;
    };
    const Case cases[] = {
        {"taken", 1280, 1024, false, false, 0, {1280, 1024}},
        {"adjusted by the device", 700, 500, false, false, 0, {640, 480}},
        {"streaming", 320, 240, true, false, -EBUSY, {640, 480}},
        {"size refused", 320, 240, false, true, -EINVAL, {640, 480}},
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
        EXPECT_EQ(DeviceSize(), c.deviceAfter);
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
    EXPECT_EQ(DeviceSize(), (std::pair{320, 240}));

    config.Width = 1280;
    config.Height = 1024;
    config.SetActive(false);
    EXPECT_EQ(DeviceSize(), (std::pair{320, 240}));
    // Assigning none keeps the device kept before.
    config.SetFilter(nullptr);
    EXPECT_EQ(config.ApplyFormat(), 0);
    EXPECT_EQ(DeviceSize(), (std::pair{1280, 1024}));
}
