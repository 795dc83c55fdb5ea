// Identity photos from a real face: framing against the standards' rules, the KB range,
// the background on a plain wall, and the standards table.
#include <cmath>

#include <QLineF>
#include <QTransform>

#include <gtest/gtest.h>

#include "photo/Jpeg.h"
#include "photocut/IdBackground.h"
#include "photocut/IdPhoto.h"
#include "photocut/IdPhotoJpeg.h"
#include "photocut/IdPhotoStandard.h"
#include "photocut/Portraits.h"
#include "support/JpegCheck.h"

namespace {

TIdPhotoStandard Standard(const char* name) {
    const auto s = IdPhotoStandards::Find(QString::fromUtf8(name));
    EXPECT_TRUE(s.has_value()) << name;
    return s.value_or(TIdPhotoStandard{});
}

// Where a point of the photograph lands in the cut.
QPointF InCut(const TIdFrame& frame, QSize pixels, QPointF p) {
    const QPointF q = IdPhotoFraming::Straightened(frame, p);
    return QPointF((q.x() - frame.Crop.left()) * pixels.width() / frame.Crop.width(),
                   (q.y() - frame.Crop.top()) * pixels.height() / frame.Crop.height());
}

struct TFramingCase {
    const char* Name;
    QSize Canvas;
    double Scale;
    QPointF Centre;
    double Degrees;
};

const TFramingCase kFramingCases[] = {
    {"640x480", {640, 480}, 0.9, {320, 240}, 0},
    {"1920x1080", {1920, 1080}, 2.0, {960, 540}, 0},
    {"1920x1080 turned 8 degrees", {1920, 1080}, 2.0, {900, 560}, 8},
    {"640x480 turned -12 degrees, shifted", {640, 480}, 0.9, {300, 250}, -12},
    {"1920x1080 small face off centre", {1920, 1080}, 0.9, {700, 500}, 0},
};

}  // namespace

// For every test picture and every standard: the true chin and crown (read off the
// portrait, not found by the code under test) land where the standard wants them, the
// true eyes are level and the face is centred.
TEST(IdPhotoFraming, TheTrueHeadLandsInsideEveryStandardsRules) {
    ASSERT_PORTRAIT();
    for (const TFramingCase& c : kFramingCases) {
        SCOPED_TRACE(c.Name);
        const TPlaced placed = Place(c.Canvas, c.Scale, c.Centre, c.Degrees);
        for (const TIdPhotoStandard& s : IdPhotoStandards::All()) {
            SCOPED_TRACE(s.Name.toStdString());
            const TIdPhotoFraming framing = IdPhoto::Locate(placed.Picture, s);
            ASSERT_TRUE(framing.Ok()) << framing.Error.toStdString();
            EXPECT_EQ(framing.Face.Count, 1);
            const QSize px = s.Pixels;
            const TTruth& t = placed.Truth;
            const QPointF crown = InCut(framing.Frame, px, t.Crown);
            const QPointF chin = InCut(framing.Frame, px, t.Chin);
            const QPointF left = InCut(framing.Frame, px, t.LeftEye);
            const QPointF right = InCut(framing.Frame, px, t.RightEye);
            const double height = px.height();
            // A pixel or two of the standard either way is what reading the truth off
            // the picture by hand is worth.
            const double slack = 2.5 / height;
            const TShareRange head = s.Head.IsSet() || s.FaceWidth.IsSet()
                                         ? s.Head
                                         : (s.EyesAbove.IsSet() ? TShareRange{}
                                                                : IdPhotoStandards::kStudioHead);
            if (head.IsSet()) {
                const double share = (chin.y() - crown.y()) / height;
                EXPECT_GE(share, head.Min - slack - 0.02) << "head share";
                EXPECT_LE(share, head.Max + slack + 0.02) << "head share";
            }
            const TShareRange crownRule =
                s.Crown.IsSet() ? s.Crown
                                : (s.HasHeadRule() ? TShareRange{} : IdPhotoStandards::kStudioCrown);
            if (crownRule.IsSet()) {
                EXPECT_GE(crown.y() / height, crownRule.Min - slack - 0.01) << "crown margin";
                EXPECT_LE(crown.y() / height, crownRule.Max + slack + 0.01) << "crown margin";
            }
            if (s.EyesAbove.IsSet()) {
                const double above = 1 - (left.y() + right.y()) / 2 / height;
                EXPECT_TRUE(s.EyesAbove.Contains(above)) << "eyes above the bottom " << above;
            }
            if (s.FaceWidth.IsSet()) {
                // 93 px cheek to cheek in the portrait.
                const double width = 93 * c.Scale * px.width() / framing.Frame.Crop.width();
                EXPECT_GE(width / px.width(), s.FaceWidth.Min - 0.02);
                EXPECT_LE(width / px.width(), s.FaceWidth.Max + 0.02);
            }
            const double tilt =
                std::atan2(right.y() - left.y(), right.x() - left.x()) * 180 / 3.14159265;
            EXPECT_LT(std::abs(tilt), 1.0) << "eyes level";
            const double middle = (left.x() + right.x()) / 2;
            EXPECT_LT(std::abs(middle - px.width() / 2.0), 0.02 * px.width()) << "centred";
        }
    }
}

TEST(IdPhotoFraming, AHeadTiltedLessThanTwoDegreesStaysAsItIsMoreIsStraightenedUpToFifteen) {
    EXPECT_EQ(IdPhotoFraming::StraighteningFor(1.9), 0);
    EXPECT_EQ(IdPhotoFraming::StraighteningFor(-2.0), 0);
    EXPECT_DOUBLE_EQ(IdPhotoFraming::StraighteningFor(7.5), -7.5);
    EXPECT_DOUBLE_EQ(IdPhotoFraming::StraighteningFor(-30), 15);
}

TEST(IdPhotoFraming, APictureWithoutAFaceSaysSo) {
    QImage wall(640, 480, QImage::Format_BGR888);
    wall.fill(QColor(200, 190, 180));
    QPainter painter(&wall);
    painter.setBrush(QColor(40, 60, 90));
    painter.drawEllipse(QRect(200, 100, 200, 260));
    painter.end();
    const TIdPhotoFraming framing = IdPhoto::Locate(wall, Standard("一寸"));
    EXPECT_EQ(framing.Error, IdPhoto::kNoFace);
    EXPECT_FALSE(framing.Face.Found());
}

// A person a step back from the camera, a plain wall filling most of a wide frame: the
// wall must not drown the face's contrast. The eyes and the head's height come out true.
TEST(IdPhotoFraming, ASmallFaceBeforeAWidePlainWallIsFramed) {
    ASSERT_PORTRAIT();
    const TIdPhotoStandard s = Standard("护照");
    for (const QColor wall : {QColor(67, 142, 219), QColor(230, 230, 230)}) {
        SCOPED_TRACE(wall.name().toStdString());
        const TComposite far = OnWall({1920, 1080}, 1.5, {960, 700}, false, wall);
        const TIdPhotoFraming framing = IdPhoto::Locate(far.Picture, s);
        ASSERT_TRUE(framing.Ok()) << framing.Error.toStdString();
        EXPECT_EQ(framing.Face.Count, 1);
        EXPECT_TRUE(framing.Face.EyesFound);
        const double eyes = QLineF(far.Truth.LeftEye, far.Truth.RightEye).length();
        EXPECT_LT(QLineF(framing.Face.LeftEye, far.Truth.LeftEye).length(), 0.1 * eyes);
        EXPECT_LT(QLineF(framing.Face.RightEye, far.Truth.RightEye).length(), 0.1 * eyes);
        const double head = (InCut(framing.Frame, s.Pixels, far.Truth.Chin).y() -
                             InCut(framing.Frame, s.Pixels, far.Truth.Crown).y()) /
                            s.Pixels.height();
        EXPECT_GE(head, s.Head.Min - 0.02);
        EXPECT_LE(head, s.Head.Max + 0.02);
    }
}

TEST(IdPhotoFraming, TheCutComesFromThePhotographsOwnPixelsAndSaysWhenItEnlarged) {
    ASSERT_PORTRAIT();
    const TPlaced big = Place({1920, 1080}, 2.0, {960, 540}, 0);
    const TIdPhotoStandard s = Standard("小一寸");
    const TIdPhotoFraming framing = IdPhoto::Locate(big.Picture, s);
    ASSERT_TRUE(framing.Ok());
    const TIdPhotoCut cut = IdPhoto::Cut(big.Picture, framing.Frame, s.Pixels, framing.Face.Face);
    EXPECT_EQ(cut.Picture.size(), s.Pixels);
    EXPECT_LT(cut.Enlargement, 1);
    EXPECT_FALSE(IdPhoto::Remarks(framing, cut).contains(QStringLiteral("放大")));

    const TPlaced small = Place({640, 480}, 0.9, {320, 240}, 0);
    const TIdPhotoFraming f2 = IdPhoto::Locate(small.Picture, Standard("二寸"));
    const TIdPhotoCut enlarged =
        IdPhoto::Cut(small.Picture, f2.Frame, QSize(413, 579), f2.Face.Face);
    EXPECT_EQ(enlarged.Picture.size(), QSize(413, 579));
    EXPECT_GT(enlarged.Enlargement, 1.5);
    EXPECT_TRUE(IdPhoto::Remarks(f2, enlarged).contains(QStringLiteral("已放大")));
}

// --- KB range -------------------------------------------------------------------------

TEST(IdPhotoJpeg, TheFileKeepsTheKbRangeDecodesStrictlyAndCarriesTheDpi) {
    ASSERT_PORTRAIT();
    const QImage photo = Portrait().scaled(413, 531).convertToFormat(QImage::Format_BGR888);
    const QImage small = Portrait().scaled(144, 192).convertToFormat(QImage::Format_BGR888);
    const struct {
        const QImage* Photo;
        int Min, Max;
        bool Padded;
    } cases[] = {
        {&photo, 0, 0, false},   {&photo, 0, 20, false},  {&photo, 14, 20, false},
        {&photo, 30, 100, false}, {&small, 20, 200, false}, {&small, 40, 200, true}, {&small, 60, 0, true},
        {&photo, 300, 400, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(QStringLiteral("%1-%2 KB").arg(c.Min).arg(c.Max).toStdString());
        const TIdJpeg jpeg = IdPhotoJpeg::Encode(*c.Photo, 350, c.Min, c.Max);
        ASSERT_TRUE(jpeg.Ok()) << jpeg.Error.toStdString();
        const qsizetype size = jpeg.Data.size();
        if (c.Max > 0) {
            EXPECT_LE(size, c.Max * 1000);
        }
        EXPECT_GE(size, c.Min * 1024);
        EXPECT_EQ(jpeg.Padding > 0, c.Padded);
        const StrictJpeg decoded = StrictDecode(jpeg.Data);
        ASSERT_TRUE(decoded.Ok()) << decoded.Error.toStdString();
        EXPECT_EQ(QSize(decoded.Width, decoded.Height), c.Photo->size());
        // Density in dots per inch in the JFIF header; the stream ends at its end marker.
        EXPECT_EQ(jpeg.Data[13], 1);
        EXPECT_EQ((uchar(jpeg.Data[14]) << 8) | uchar(jpeg.Data[15]), 350);
        EXPECT_TRUE(jpeg.Data.endsWith("\xFF\xD9"));
        if (c.Max > 0 && jpeg.Quality < 100) {
            // The quality is the highest that fits: one more would not.
            QByteArray higher;
            QString error;
            ASSERT_TRUE(PhotoPipeline::EncodeJpeg(*c.Photo, jpeg.Quality + 1, higher, error));
            EXPECT_GT(higher.size(), c.Max * 1000);
        }
        if (c.Padded) {
            // The padding changes nothing of the picture.
            QByteArray plain;
            QString error;
            ASSERT_TRUE(PhotoPipeline::EncodeJpeg(*c.Photo, jpeg.Quality, plain, error));
            EXPECT_EQ(StrictDecode(plain).Picture, decoded.Picture);
        }
    }
}

TEST(IdPhotoJpeg, AMaximumEvenTheLowestQualityExceedsIsAnErrorNotALargerFile) {
    ASSERT_PORTRAIT();
    const TIdJpeg jpeg = IdPhotoJpeg::Encode(Portrait(), 300, 0, 1);
    EXPECT_FALSE(jpeg.Ok());
    EXPECT_TRUE(jpeg.Data.isEmpty());
}

// --- Background -----------------------------------------------------------------------

TEST(IdBackground, AWallOfOneColourTakesTheNewColourAndTheFaceStaysAsItWas) {
    ASSERT_PORTRAIT();
    for (const QSize canvas : {QSize(640, 480), QSize(1920, 1080)}) {
        SCOPED_TRACE(canvas.width());
        const double scale = canvas.width() / 640.0;
        const TComposite wall = OnWall(canvas, scale, QPointF(320, 260) * scale, false);
        const TIdPhotoStandard s = Standard("二寸");
        const TIdPhotoFraming framing = IdPhoto::Locate(wall.Picture, s);
        ASSERT_TRUE(framing.Ok());
        const TIdPhotoCut plain = IdPhoto::Cut(wall.Picture, framing.Frame, s.Pixels, framing.Face.Face);
        const TIdPhotoCut blue = IdPhoto::Cut(wall.Picture, framing.Frame, s.Pixels,
                                              framing.Face.Face, IdBackground::kBlue);
        ASSERT_TRUE(blue.BackgroundChanged) << blue.BackgroundRefused.toStdString();
        // The wall's mask cut the same way.
        const TIdPhotoCut mask = IdPhoto::Cut(wall.Wall.convertToFormat(QImage::Format_BGR888),
                                              framing.Frame, s.Pixels, framing.Face.Face);
        int wallPixels = 0, coloured = 0;
        for (int y = 0; y < s.Pixels.height(); ++y) {
            for (int x = 0; x < s.Pixels.width(); ++x) {
                if (qGray(mask.Picture.pixel(x, y)) == 255) {
                    ++wallPixels;
                    const QRgb p = blue.Picture.pixel(x, y);
                    const QRgb c = IdBackground::kBlue;
                    // Within the rounding of the enlargement.
                    coloured += std::abs(qRed(p) - qRed(c)) <= 2 &&
                                std::abs(qGreen(p) - qGreen(c)) <= 2 &&
                                std::abs(qBlue(p) - qBlue(c)) <= 2;
                }
            }
        }
        ASSERT_GT(wallPixels, 1000);
        EXPECT_GE(coloured, wallPixels * 0.98) << coloured << " of " << wallPixels;
        // The face's pixels (from the truth, not from the finder) are untouched.
        const QRectF face = QRectF(InCut(framing.Frame, s.Pixels, wall.Truth.Face.topLeft()),
                                   InCut(framing.Frame, s.Pixels, wall.Truth.Face.bottomRight()));
        int facePixels = 0, changed = 0;
        for (int y = int(face.top()); y < int(face.bottom()); ++y) {
            for (int x = int(face.left()); x < int(face.right()); ++x) {
                ++facePixels;
                changed += plain.Picture.pixel(x, y) != blue.Picture.pixel(x, y);
            }
        }
        ASSERT_GT(facePixels, 1000);
        EXPECT_LT(changed, facePixels / 100);
    }
}

TEST(IdBackground, ABusyWallIsRefusedAndLeftExactlyAsItWas) {
    ASSERT_PORTRAIT();
    const TComposite wall = OnWall({640, 480}, 1.0, {320, 260}, true);
    const TIdPhotoStandard s = Standard("二寸");
    const TIdPhotoFraming framing = IdPhoto::Locate(wall.Picture, s);
    ASSERT_TRUE(framing.Ok());
    const TIdPhotoCut plain = IdPhoto::Cut(wall.Picture, framing.Frame, s.Pixels, framing.Face.Face);
    const TIdPhotoCut red = IdPhoto::Cut(wall.Picture, framing.Frame, s.Pixels, framing.Face.Face,
                                         IdBackground::kRed);
    EXPECT_FALSE(red.BackgroundChanged);
    EXPECT_EQ(red.BackgroundRefused, IdBackground::kNotPlain);
    EXPECT_EQ(red.Picture, plain.Picture);
}

// --- Standards ------------------------------------------------------------------------

TEST(IdPhotoStandards, NamesAliasesAndCustomSizes) {
    EXPECT_EQ(Standard("一寸").Pixels, QSize(295, 413));
    EXPECT_EQ(Standard("2INCH").Pixels, QSize(413, 579));
    EXPECT_EQ(Standard("身份证").Dpi, 350);
    EXPECT_EQ(Standard("申根").Pixels, QSize(413, 531));
    EXPECT_EQ(Standard("美国签证").MaxKb, 240);
    const auto custom = IdPhotoStandards::Find(QStringLiteral("custom:240x320@200"));
    ASSERT_TRUE(custom);
    EXPECT_EQ(custom->Pixels, QSize(240, 320));
    EXPECT_EQ(custom->Dpi, 200);
    EXPECT_EQ(IdPhotoStandards::Find(QStringLiteral("custom:240x320"))->Dpi, 300);
    // Millimetres at a dpi: the pixels they make, the millimetres as written.
    const auto mm = IdPhotoStandards::Find(QStringLiteral("custom:33x48mm@300"));
    ASSERT_TRUE(mm);
    EXPECT_EQ(mm->Pixels, QSize(390, 567));
    EXPECT_EQ(mm->Millimetres, QSizeF(33, 48));
    EXPECT_EQ(IdPhotoStandards::Find(QStringLiteral("custom:35.5x45MM"))->Pixels, QSize(419, 531));
    for (const char* bad : {"三寸", "custom:0x100", "custom:240x320@9", "custom:5000x100", "",
                            "custom:240.5x320", "custom:1x1mm@300", "custom:", "custom:33x48cm"}) {
        QString why;
        EXPECT_FALSE(IdPhotoStandards::Find(QString::fromUtf8(bad), &why)) << bad;
        EXPECT_FALSE(why.isEmpty()) << bad;
    }
    // Every standard's pixels and millimetres agree with its dpi within a pixel.
    for (const TIdPhotoStandard& s : IdPhotoStandards::All()) {
        EXPECT_NEAR(s.Millimetres.height() * s.Dpi / 25.4, s.Pixels.height(), 3) << s.Name.toStdString();
    }
}

TEST(IdPhotoStandards, KbRanges) {
    const struct {
        const char* Text;
        bool Ok;
        int Min, Max;
    } cases[] = {{"14-20", true, 14, 20}, {"30-100", true, 30, 100}, {"-20", true, 0, 20},
                 {"20-", true, 20, 0},    {" 5 - 9 ", true, 5, 9},   {"20-14", false, 0, 0},
                 {"-", false, 0, 0},      {"abc", false, 0, 0},      {"10-0", false, 0, 0}};
    for (const auto& c : cases) {
        int lo = -1, hi = -1;
        EXPECT_EQ(IdPhotoStandards::ParseKbRange(QString::fromUtf8(c.Text), lo, hi), c.Ok) << c.Text;
        if (c.Ok) {
            EXPECT_EQ(lo, c.Min) << c.Text;
            EXPECT_EQ(hi, c.Max) << c.Text;
        }
    }
}
