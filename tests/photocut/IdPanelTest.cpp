// The cutting panel with an identity-photo standard: 自动对准 on a real face, the cut
// at the standard's pixels in its KB range, a photo without a face, the print sheet of
// a cut, and a custom standard.
#include <random>

#include <QDir>
#include <QLineEdit>
#include <QTest>
#include <QTransform>

#include "photocut/IdBackground.h"
#include "photocut/PhotoShopFixture.h"
#include "photocut/Portraits.h"
#include "photocut/PrintSheet.h"
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
    // A photograph arrives and is framed and cut for the chosen standard.
    bool Framed(const QImage& photo) {
        frame.NewPhoto(photo);
        return QTest::qWaitFor([this] { return !frame.CutPhoto().isNull() && !frame.Busy(); },
                               20000);
    }
    // The cut laid out on `paper` (0: 6 inches, 1: A4): the sheet the preview showed, and
    // the file stored (then taken away, so the next is the only one).
    QImage PrintOn(int paper, QByteArray& stored, QString& name) {
        frame.cbPaper->setCurrentIndex(paper);
        const size_t before = dialogs->sheets.size();
        frame.btnPrintClick();
        if (!QTest::qWaitFor([&] { return dialogs->sheets.size() > before && !frame.Busy(); },
                             20000)) {
            return QImage();
        }
        const QStringList files = EntriesOf(folder.path());
        if (files.size() == 1) {
            name = files.front();
            stored = ReadBytes(folder.filePath(name));
            QFile::remove(folder.filePath(name));
        }
        return dialogs->sheets.back();
    }
};

// How much a picture changes from one pixel to the next, on average: its fine detail.
double Detail(const QImage& picture) {
    const QImage grey = picture.convertToFormat(QImage::Format_Grayscale8);
    double sum = 0;
    for (int y = 0; y < grey.height(); ++y) {
        const uchar* line = grey.constScanLine(y);
        for (int x = 1; x < grey.width(); ++x) {
            sum += std::abs(line[x] - line[x - 1]);
        }
    }
    return sum / (double(grey.width() - 1) * grey.height());
}

// The mean difference of two pictures of one size, per channel value.
double MeanDifference(const QImage& a, const QImage& b) {
    const QImage x = a.convertToFormat(QImage::Format_RGB888);
    const QImage y = b.convertToFormat(QImage::Format_RGB888);
    double sum = 0;
    for (int row = 0; row < x.height(); ++row) {
        const uchar* p = x.constScanLine(row);
        const uchar* q = y.constScanLine(row);
        for (int i = 0; i < 3 * x.width(); ++i) {
            sum += std::abs(p[i] - q[i]);
        }
    }
    return sum / (3.0 * x.width() * x.height());
}

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

// The print sheet of a standard's cut on either paper: every copy at the cut's real size
// at 300 dpi, as many as fit (turned when more fit that way), each with its cut marks,
// and the stored sheet a strict JPEG of 300 dpi. A cut of 300 dpi is printed as its very
// pixels; a finer one (350 dpi) averaged down to the same millimetres; a coarser one
// (111 dpi) cut again from the photograph rather than enlarged.
TEST_F(IdPanelTest, ThePrintSheetHoldsTheCutAtItsRealSizeOnEitherPaper) {
    ASSERT_PORTRAIT();
    enum TFrom { kCutItself, kCutAveraged, kCutAgain };
    const struct {
        const char* Standard;
        QSize Copy;  // upright, in the sheet's pixels
        TFrom From;
        int Copies[2];
        bool Turned[2];
    } cases[] = {
        {"一寸", {295, 413}, kCutItself, {12, 56}, {true, false}},
        {"二寸", {413, 579}, kCutItself, {4, 32}, {false, true}},
        {"美国签证", {600, 600}, kCutItself, {2, 15}, {false, false}},
        {"身份证", {307, 378}, kCutAveraged, {12, 60}, {true, true}},  // 26.0 x 32.0 mm
        {"英语四六级", {389, 519}, kCutAgain, {8, 32}, {false, true}},
    };
    const QSize papers[2] = {{1800, 1200}, {2480, 3508}};  // 152 x 102 mm, 210 x 297 mm
    // Grain finer than the small cut's pixels, which a copy cut again keeps.
    QImage photo = Place({1600, 1200}, 2.4, {800, 620}, 0).Picture;
    std::mt19937 random(3);
    std::uniform_int_distribution<int> grain(-16, 16);
    for (int y = 0; y < photo.height(); ++y) {
        uchar* p = photo.scanLine(y);
        for (int i = 0; i < 3 * photo.width(); ++i) {
            p[i] = uchar(std::clamp(p[i] + grain(random), 0, 255));
        }
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Standard);
        Choose(QString::fromUtf8(c.Standard));
        ASSERT_TRUE(Framed(photo));
        const QImage cut = frame.CutPhoto();
        QImage expected = cut;
        if (c.From != kCutItself) {
            expected = cut.scaled(c.Copy, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        }
        for (int paper = 0; paper < 2; ++paper) {
            SCOPED_TRACE(paper == 0 ? "6 inches" : "A4");
            QByteArray stored;
            QString name;
            const QImage sheet = PrintOn(paper, stored, name);
            ASSERT_EQ(sheet.size(), papers[paper]);
            EXPECT_EQ(dialogs->copies.back(), c.Copies[paper]);
            const QSize placed = c.Turned[paper] ? c.Copy.transposed() : c.Copy;
            const QVector<QRect> places = PrintSheet::Layout(placed, sheet.size());
            ASSERT_EQ(places.size(), c.Copies[paper]);
            for (const QRect& place : places) {
                QImage copy = sheet.copy(place).convertToFormat(cut.format());
                if (c.Turned[paper]) {
                    // Either way round; the test takes the one that matches.
                    const QImage left = copy.transformed(QTransform().rotate(-90));
                    const QImage right = copy.transformed(QTransform().rotate(90));
                    copy = MeanDifference(left, expected) < MeanDifference(right, expected) ? left
                                                                                            : right;
                }
                switch (c.From) {
                    case kCutItself:
                        ASSERT_TRUE(copy == cut) << "copy at " << place.x() << "," << place.y();
                        break;
                    case kCutAveraged:
                        EXPECT_LT(MeanDifference(copy, expected), 2.0);
                        break;
                    case kCutAgain:
                        // The same frame, with the detail the photograph has and the
                        // small cut lacks.
                        EXPECT_LT(MeanDifference(copy.scaled(cut.size(), Qt::IgnoreAspectRatio,
                                                             Qt::SmoothTransformation),
                                                 cut),
                                  4.0);
                        EXPECT_GT(Detail(copy), 1.3 * Detail(expected));
                        break;
                }
                // A grey mark continues each edge out from every corner.
                const int l = place.left() - 1, t = place.top() - 1;
                const int r = place.right() + 1, b = place.bottom() + 1;
                for (const QPoint mark : {QPoint(l - 6, t), QPoint(l, t - 6), QPoint(r + 6, t),
                                          QPoint(r, b + 6), QPoint(l - 6, b), QPoint(r + 6, b)}) {
                    EXPECT_EQ(sheet.pixel(mark), PrintSheet::kMarkColour)
                        << mark.x() << "," << mark.y();
                }
            }
            EXPECT_TRUE(
                name.endsWith(QStringLiteral("_%1排版.jpg").arg(QString::fromUtf8(c.Standard))))
                << name.toStdString();
            const StrictJpeg read = StrictDecode(stored);
            ASSERT_TRUE(read.Ok()) << read.Error.toStdString();
            EXPECT_EQ(QSize(read.Width, read.Height), sheet.size());
            EXPECT_EQ(read.DensityUnit, 1);
            EXPECT_EQ(read.XDensity, 300);
            EXPECT_EQ(read.YDensity, 300);
        }
    }
}

// 自定义: a size in pixels or in millimetres at a dpi, written in the panel's dialog, with
// the KB field and a background colour of the user's choice. The cut has those pixels, its
// file that dpi and a size in that range, and the wall that colour. A size that is not
// one is explained and the standard in force stays; so does a cancelled dialog.
TEST_F(IdPanelTest, ACustomStandardCutsTheSizeDpiKbRangeAndColourTheUserGave) {
    ASSERT_PORTRAIT();
    const TComposite wall = OnWall({1280, 960}, 2.0, {640, 520}, false);
    const QRgb green = qRgb(46, 139, 87);
    const struct {
        const char* Written;
        QSize Pixels;
        int Dpi;
        const char* Kb;
        int MinBytes, MaxBytes;
        bool Colour;  // 自选 and a colour, or 原样
    } cases[] = {
        {"33x48mm@300", {390, 567}, 300, "20-40", 20 * 1024, 40 * 1000, true},
        {" 480 x 640 @ 350 ", {480, 640}, 350, "-30", 0, 30 * 1000, false},
    };
    const int custom = frame.cbStandard->count() - 1;
    // The colour dialog cancelled before any colour was chosen: the choice before stays.
    Choose(QStringLiteral("一寸"));
    frame.cbBackground->setCurrentIndex(1);
    frame.cbBackgroundChange();
    frame.cbBackground->setCurrentIndex(4);
    frame.cbBackgroundChange();
    EXPECT_EQ(frame.cbBackground->currentIndex(), 1);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Written);
        dialogs->customSizeAnswers.push_back(QString::fromUtf8(c.Written));
        frame.cbStandard->setCurrentIndex(custom);
        frame.cbStandardChange();
        ASSERT_TRUE(frame.Standard() && frame.Standard()->Custom);
        frame.edtKb->setText(QString::fromUtf8(c.Kb));
        if (c.Colour) {
            dialogs->colourAnswers.push_back(green);
            frame.cbBackground->setCurrentIndex(4);
        } else {
            frame.cbBackground->setCurrentIndex(0);
        }
        frame.cbBackgroundChange();
        ASSERT_TRUE(Framed(wall.Picture));

        const QImage& cut = frame.CutPhoto();
        EXPECT_EQ(cut.size(), c.Pixels);
        const TIdJpeg& jpeg = frame.CutJpeg();
        ASSERT_TRUE(jpeg.Ok()) << jpeg.Error.toStdString();
        EXPECT_GE(jpeg.Data.size(), c.MinBytes);
        EXPECT_LE(jpeg.Data.size(), c.MaxBytes);
        const StrictJpeg read = StrictDecode(jpeg.Data);
        ASSERT_TRUE(read.Ok()) << read.Error.toStdString();
        EXPECT_EQ(QSize(read.Width, read.Height), c.Pixels);
        EXPECT_EQ(read.DensityUnit, 1);
        EXPECT_EQ(read.XDensity, c.Dpi);
        EXPECT_EQ(read.YDensity, c.Dpi);
        // The top corners show the wall.
        for (const QPoint corner : {QPoint(4, 4), QPoint(cut.width() - 5, 4)}) {
            const QColor seen = cut.pixelColor(corner);
            const QColor wanted = c.Colour ? QColor(green) : QColor(110, 150, 205);
            EXPECT_LE(std::abs(seen.red() - wanted.red()) +
                          std::abs(seen.green() - wanted.green()) +
                          std::abs(seen.blue() - wanted.blue()),
                      18)
                << seen.name().toStdString() << " " << frame.IdInfo().toStdString();
        }
    }
    // The dialog proposed the size last written; the colour dialog started from white
    // both times (no colour had been chosen yet).
    EXPECT_EQ(dialogs->customSizesProposed.back(), QStringLiteral("33x48mm@300"));
    EXPECT_EQ(dialogs->coloursProposed, std::vector<QRgb>(2, IdBackground::kWhite));

    // Not a size, then cancelled: the 480 x 640 standard stays, and the list says so.
    dialogs->messages.clear();
    for (const QString& answer : {QStringLiteral("480x640@20"), QStringLiteral("abc"), QString()}) {
        SCOPED_TRACE(answer.toStdString());
        dialogs->customSizeAnswers.push_back(answer);
        frame.cbStandard->setCurrentIndex(custom);
        frame.cbStandardChange();
        ASSERT_TRUE(frame.Standard());
        EXPECT_EQ(frame.Standard()->Pixels, QSize(480, 640));
        EXPECT_EQ(frame.cbStandard->currentIndex(), custom);
    }
    EXPECT_EQ(dialogs->messages, std::vector<QString>(2, TfraPhotoShop::kCustomSizeText));
}
