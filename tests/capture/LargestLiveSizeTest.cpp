// The camera's largest size that still gives a live picture, asked for while an identity
// photo is cut.
#include <gtest/gtest.h>

#include "capture/Snapixture.h"
#include "support/VirtualCameraFixture.h"

TEST_F(VirtualCameraTest, TheLargestLiveSizeIsTheLargestTheCameraStreamsAtFifteenFramesOrMore) {
    camera->SetInputResolution(1);
    ASSERT_EQ(camera->Preview(), 0);
    EXPECT_EQ(QSize(camera->SampleWidth, camera->SampleHeight), QSize(320, 240));
    camera->Stop();
    camera->SetInputResolution(TSnapixture::kInputLargestLive);
    ASSERT_EQ(camera->Preview(), 0);
    EXPECT_EQ(QSize(camera->SampleWidth, camera->SampleHeight), QSize(1920, 1080));
}
