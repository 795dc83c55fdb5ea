// Finding a lost camera again: the same node, only while it answers.
#include <QTest>

#include <gtest/gtest.h>

#include "capture/DeviceWatch.h"
#include "capture/SystemVideoIo.h"
#include "capture/VirtualCamera.h"

namespace {

TDeviceIdentity VirtualDevice() {
    return {TMoniker{VirtualCamera::kPath, &VirtualCamera::Instance()},
            QString::fromLatin1(VirtualCamera::kName), QString::fromLatin1(VirtualCamera::kPath)};
}

}  // namespace

TEST(DeviceWatch, FindsTheDeviceOnlyWhileItAnswersAndNothingForNoneOrAbsentNodes) {
    VirtualCamera& camera = VirtualCamera::Instance();
    camera.Reset();
    EXPECT_EQ(TDeviceWatch::FindDevice(VirtualDevice()), VirtualDevice().moniker);
    camera.Unplug();
    EXPECT_FALSE(TDeviceWatch::FindDevice(VirtualDevice()));
    camera.PlugIn();
    EXPECT_EQ(TDeviceWatch::FindDevice(VirtualDevice()), VirtualDevice().moniker);
    EXPECT_EQ(camera.OpenDescriptors(), 0) << "every look closes what it opened";

    EXPECT_FALSE(TDeviceWatch::FindDevice(TDeviceIdentity{}));
    const TDeviceIdentity absent{TMoniker{"/dev/video-snapix-absent", &SystemVideoIo::Instance()},
                                 "No Such Camera", "usb-0000:00:00.0-9"};
    EXPECT_FALSE(TDeviceWatch::FindDevice(absent));
    camera.Reset();
}

TEST(DeviceWatch, ReportsTheReturnOnceFromItsOwnTimer) {
    VirtualCamera& camera = VirtualCamera::Instance();
    camera.Reset();
    camera.Unplug();
    TDeviceWatch watch;
    int returned = 0;
    TMoniker where;
    watch.OnReturned = [&](const TMoniker& moniker) {
        ++returned;
        where = moniker;
    };
    watch.Watch(VirtualDevice());
    EXPECT_FALSE(watch.Poll());
    camera.PlugIn();
    ASSERT_TRUE(QTest::qWaitFor([&] { return returned > 0; }, 5000));
    EXPECT_EQ(where, VirtualDevice().moniker);
    EXPECT_FALSE(watch.Watching());
    QTest::qWait(TDeviceWatch::kPollMs + 200);
    EXPECT_EQ(returned, 1);
    camera.Reset();
}
