// A camera unplugged and plugged back in: the window says so, waits without
// bothering the user, and brings the preview back by itself, also in full
// screen.
#include <QToolButton>

#include "app/uFullScreen.h"
#include "capture/DeviceWatch.h"
#include "tests/app/MainWindowFixture.h"
#include "widgets/VideoWindow.h"

namespace {
constexpr int kReturnTimeoutMs = 8000;  // a poll a second, on a busy machine
}

TEST_F(MainWindowTest, UnpluggedCameraIsWaitedForAndThePreviewComesBackByItself) {
    StartWithPicture();
    VirtualCamera& camera = VirtualCamera::Instance();
    camera.Unplug();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Status() == QStringLiteral("摄像头已断开."); }, 3000));
    EXPECT_TRUE(form->DeviceWatch()->Watching());
    EXPECT_TRUE(form->VideoWindow->CurrentFrame().IsNull()) << "no frozen picture";
    // Still away at the next looks: the wait goes on quietly.
    EXPECT_FALSE(form->DeviceWatch()->Poll());
    EXPECT_TRUE(form->DeviceWatch()->Watching());

    camera.PlugIn();
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->Snapixture->CaptureStatus == csPrev; },
                                kReturnTimeoutMs));
    EXPECT_FALSE(form->DeviceWatch()->Watching());
    EXPECT_EQ(Status(), QStringLiteral("预览中."));
    EXPECT_EQ(Info(), QStringLiteral("摄像头已重新连接."));
    EXPECT_TRUE(WaitForFrame());
    EXPECT_EQ(camera.OpenDescriptors(), 1) << "the lost session was closed";

    QTest::keyClick(form.get(), Qt::Key_F8);
    EXPECT_EQ(Status(), QStringLiteral("拍照完成."));
    EXPECT_EQ(Photos().size(), 1);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(MainWindowTest, CameraAwayDuringTheFullScreenSwitchesGivesNoBoxAndReturnsIntoFullScreen) {
    StartWithPicture();
    VirtualCamera& camera = VirtualCamera::Instance();
    camera.Unplug();
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->DeviceWatch()->Watching(); }, 3000));

    // Both switches and the show sequence between them meet the camera away.
    form->bsSkinSpeedButton1->click();
    QTest::keyClick(frmFullScreen->VideoWindow, Qt::Key_Escape);
    form->bsSkinSpeedButton1->click();
    EXPECT_TRUE(boxes.empty());
    EXPECT_TRUE(form->DeviceWatch()->Watching());
    EXPECT_EQ(form->Snapixture->VideoWindow(), frmFullScreen->VideoWindow);

    camera.PlugIn();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return !frmFullScreen->VideoWindow->CurrentFrame().IsNull(); }, kReturnTimeoutMs));
    EXPECT_TRUE(form->FullScreenActive());
    QTest::keyClick(frmFullScreen->VideoWindow, Qt::Key_Escape);
    EXPECT_TRUE(WaitForFrame());
    EXPECT_TRUE(boxes.empty());
}

TEST_F(MainWindowTest, ChoosingAnotherDeviceEndsTheWaitForTheLostOne) {
    StartWithPicture();
    VirtualCamera::Instance().Unplug();
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->DeviceWatch()->Watching(); }, 3000));
    SendMessage(form.get(), WM_DEVICE_SELECT, 99);  // outside the list: no device
    EXPECT_FALSE(form->DeviceWatch()->Watching());
    VirtualCamera::Instance().PlugIn();
    QTest::qWait(2 * TDeviceWatch::kPollMs);
    EXPECT_NE(form->Snapixture->CaptureStatus, csPrev) << "the lost camera is not taken back";
}
