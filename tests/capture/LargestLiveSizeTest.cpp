// The camera's largest size that still gives a live picture, asked for while an identity
// photo is cut: on each model of the virtual camera, by the frame rates of its formats.
#include <string>

#include <linux/videodev2.h>

#include <gtest/gtest.h>

#include "capture/Snapixture.h"
#include "capture/VirtualCamera.h"

// The 1080p model sends 1920x1080 in YUYV at 5 fps only, but in Motion-JPEG at 30; the
// VGA model has YUYV alone, 640x480 at most; the Motion-JPEG model runs 30 everywhere.
TEST(LargestLiveSize, TheLargestLiveSizeIsTheLargestTheCameraStreamsAtFifteenFramesOrMore) {
    const struct {
        const char* model;
        uint32_t fourcc;
        QSize size;
        uint32_t fps;
    } cases[] = {
        {"1080p", V4L2_PIX_FMT_MJPEG, {1920, 1080}, 30},
        {"vga", V4L2_PIX_FMT_YUYV, {640, 480}, 30},
        {"mjpeg", V4L2_PIX_FMT_MJPEG, {1920, 1080}, 30},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.model);
        VirtualCamera& device = VirtualCamera::Instance(*vcam::FindModel(c.model));
        device.Reset();
        TSnapixture component;
        component.SetMoniker(TMoniker{QString::fromLatin1(device.Model().path), &device});
        // From the panel's small size, as the cutting panel switches.
        component.SetInputResolution(1);
        ASSERT_EQ(component.Preview(), 0);
        EXPECT_EQ(QSize(component.SampleWidth, component.SampleHeight), QSize(320, 240));
        component.Stop();
        component.SetInputResolution(TSnapixture::kInputLargestLive);
        ASSERT_EQ(component.Preview(), 0);
        EXPECT_EQ(QSize(component.SampleWidth, component.SampleHeight), c.size);
        EXPECT_EQ(device.PixelFormat(), c.fourcc);
        EXPECT_EQ(device.FramesPerSecond(), c.fps);
        EXPECT_GE(device.FramesPerSecond(), TSnapixture::kLiveFrameRate);
        component.Stop();
        device.Reset();
    }
}
