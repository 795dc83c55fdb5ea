// The window on a virtual camera that shows a picture (SNAPIX_VIRTUAL_CAMERA_PICTURE):
// the cutting panel frames the portrait the camera sees; a picture that cannot be
// shown is said, and the camera stays black rather than showing its pattern.
#include <QComboBox>
#include <QPushButton>

#include "photocut/Portraits.h"
#include "photocut/fraPhotoShop.h"
#include "tests/app/MainWindowFixture.h"

namespace {

class CameraPictureTest : public MainWindowTest {
  protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        // The window's photograph takes the frame of the moment: a settled one.
        VirtualCamera::Instance().SetSettling(false);
    }
    void TearDown() override {
        MainWindowTest::TearDown();
        qunsetenv("SNAPIX_VIRTUAL_CAMERA_PICTURE");
    }
    void ShowPicture(const QString& path) {
        qputenv("SNAPIX_VIRTUAL_CAMERA_PICTURE", path.toLocal8Bit());
    }
    // The live picture's pixel at a share of its width and height.
    QRgb LivePixel(double x, double y) {
        QImage frame;
        if (form->Snapixture->SampleGrabber()->GrabBitmap(frame) != 0) {
            return 0;
        }
        return frame.pixel(int(x * frame.width()), int(y * frame.height()));
    }
};

}  // namespace

TEST_F(CameraPictureTest, TheCuttingPanelFramesThePortraitTheCameraSees) {
    ASSERT_PORTRAIT();
    const QColor wall(67, 142, 219);
    const TComposite scene = OnWall({1920, 1080}, 2.0, {960, 600}, false, wall);
    const QString picture = folder.filePath(QStringLiteral("scene.png"));
    ASSERT_TRUE(scene.Picture.save(picture));
    ShowPicture(picture);
    StartWithPicture();
    // The scene, once read, in place of the pattern: the wall at the top.
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return qAbs(qBlue(LivePixel(0.5, 0.1)) - wall.blue()) < 16; }, 5000));

    TfraPhotoShop& panel = *form->fraPhotoShop;
    form->btnPhotoshop->click();
    panel.cbStandard->setCurrentIndex(panel.cbStandard->findText(QStringLiteral("护照")));
    panel.cbStandardChange();
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->Snapixture->SampleWidth == 1920; }, 5000));
    ASSERT_TRUE(WaitForFrame());
    QTest::keyClick(form.get(), Qt::Key_F8);
    EXPECT_EQ(Status(), QStringLiteral("拍照完成.")) << Info().toStdString();
    EXPECT_EQ(panel.ImgSave().size(), QSize(1920, 1080));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return !panel.CutPhoto().isNull() && !panel.Busy(); }, 20000));
    EXPECT_TRUE(panel.IdInfo().startsWith(QStringLiteral("已对准")))
        << panel.IdInfo().toStdString();
    ExpectFramed(panel.CutPhoto().convertToFormat(QImage::Format_BGR888), *panel.Standard());
    EXPECT_TRUE(boxes.empty());
}

TEST_F(CameraPictureTest, APictureTheCameraCannotShowIsSaidAndTheCameraStaysBlack) {
    ShowPicture(folder.filePath(QStringLiteral("missing.png")));
    StartWithPicture();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return Info().startsWith(QStringLiteral("虚拟摄像头的图片无法使用")); }, 5000));
    EXPECT_TRUE(Info().contains(QStringLiteral("missing.png"))) << Info().toStdString();
    // Where the pattern has its white bar, black; the stream's own text does not cover
    // the reason.
    ASSERT_TRUE(WaitForFrame());
    EXPECT_LT(qGray(LivePixel(1 / 16.0, 0.25)), 8);
    EXPECT_TRUE(Info().startsWith(QStringLiteral("虚拟摄像头的图片无法使用")));
    EXPECT_TRUE(boxes.empty());
}
