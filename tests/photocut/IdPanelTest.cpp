// The cutting panel with an identity-photo standard: 自动对准 on a real face, the cut
// at the standard's pixels in its KB range, and a photo without a face.
#include <QLineEdit>
#include <QTest>

#include "photocut/PhotoShopFixture.h"
#include "photocut/Portraits.h"
#include "support/JpegCheck.h"
#include "support/TestFiles.h"

namespace {

class IdPanelTest : public PhotoShopTest {
  protected:
    void Choose(const QString& name) {
        frame.cbStandard->setCurrentIndex(frame.cbStandard->findText(name));
        frame.cbStandardChange();
    }
    bool Settled() {
        return QTest::qWaitFor([this] { return !frame.Busy(); }, 20000);
    }
};

}  // namespace

TEST_F(IdPanelTest, APhotographArrivingIsFramedCutAndEncodedForTheStandard) {
    ASSERT_PORTRAIT();
    Choose(QStringLiteral("护照"));
    frame.edtKb->setText(QStringLiteral("14-20"));
    const QSize box = frame.pnlCut->size();
    EXPECT_NEAR(double(box.width()) / box.height(), 390.0 / 567, 0.01);
    frame.NewPhoto(Place({1920, 1080}, 2.0, {900, 560}, 8).Picture);
    ASSERT_TRUE(Settled());
    // Straightening, aligning and cutting come back one after the other.
    ASSERT_TRUE(QTest::qWaitFor([this] { return !frame.CutPhoto().isNull() && !frame.Busy(); }, 20000));
    EXPECT_TRUE(frame.IdInfo().startsWith(QStringLiteral("已对准"))) << frame.IdInfo().toStdString();
    EXPECT_TRUE(frame.IdInfo().contains(QStringLiteral("扶正"))) << frame.IdInfo().toStdString();
    EXPECT_EQ(frame.CutPhoto().size(), QSize(390, 567));
    const TIdJpeg& jpeg = frame.CutJpeg();
    ASSERT_TRUE(jpeg.Ok());
    EXPECT_GE(jpeg.Data.size(), 14 * 1024);
    EXPECT_LE(jpeg.Data.size(), 20 * 1000);
    EXPECT_TRUE(StrictDecode(jpeg.Data).Ok());
    EXPECT_TRUE(frame.IdInfo().contains(QStringLiteral("KB"))) << frame.IdInfo().toStdString();

    // Saved as the standard's file.
    dialogs->saveAnswers.push_back({folder.filePath(QStringLiteral("p.jpg")), false});
    const QString stored = frame.SaveCutPhoto();
    EXPECT_TRUE(dialogs->proposals.back().contains(QStringLiteral("_护照.jpg")));
    EXPECT_EQ(ReadBytes(stored), jpeg.Data);
}

TEST_F(IdPanelTest, WithoutAFaceThePanelSaysSoAndTheBoxStays) {
    Choose(QStringLiteral("一寸"));
    frame.NewPhoto(Filled(1280, 720, QColor(90, 120, 160)));
    const QRect before = frame.pnlCut->geometry();
    ASSERT_TRUE(QTest::qWaitFor([this] { return !frame.Busy(); }, 20000));
    EXPECT_EQ(frame.IdInfo(), QStringLiteral("未检测到人脸"));
    EXPECT_EQ(frame.pnlCut->geometry(), before);
}

TEST_F(IdPanelTest, NotUsingAStandardGivesThePhotoFormatsBackAsTheyWere) {
    Choose(QStringLiteral("二寸"));
    EXPECT_FALSE(frame.cbOutput->isEnabled());
    frame.cbStandard->setCurrentIndex(0);
    frame.cbStandardChange();
    EXPECT_TRUE(frame.cbOutput->isEnabled());
    EXPECT_EQ(frame.pnlCut->size(), QSize(110, 154));
    EXPECT_FALSE(frame.btnAlign->isEnabled());
}
