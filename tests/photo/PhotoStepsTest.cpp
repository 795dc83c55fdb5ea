// The photograph's steps one by one: size rule, caption, scaling, grey, JPEG, BMP, names.
#include "photo/Bmp.h"
#include "photo/Caption.h"
#include "photo/Grey.h"
#include "photo/Jpeg.h"
#include "photo/Names.h"
#include "photo/PhotoFile.h"
#include "photo/Scale.h"
#include "photo/SizeRule.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <jpeglib.h>

#include <QFontInfo>
#include <QLocale>
#include <QPainter>
#include <QTimeZone>

#include <gtest/gtest.h>

#include "support/JpegCheck.h"

using namespace PhotoPipeline;

namespace {

QImage Filled(int w, int h, uint8_t b, uint8_t g, uint8_t r) {
    QImage image(w, h, QImage::Format_BGR888);
    for (int y = 0; y < h; ++y) {
        uint8_t* p = image.scanLine(y);
        for (int x = 0; x < w; ++x, p += 3) {
            p[0] = b;
            p[1] = g;
            p[2] = r;
        }
    }
    return image;
}

// The bounding box of every pixel that differs from `before`.
QRect ChangedArea(const QImage& before, const QImage& after) {
    QRect box;
    for (int y = 0; y < after.height(); ++y) {
        for (int x = 0; x < after.width(); ++x) {
            if (std::memcmp(before.constScanLine(y) + 3 * x, after.constScanLine(y) + 3 * x, 3)) {
                box |= QRect(x, y, 1, 1);
            }
        }
    }
    return box;
}

const uint8_t* Pixel(const QImage& image, int x, int y) {
    return image.constScanLine(y) + 3 * x;
}

}  // namespace

TEST(PhotoSizeLimit, ChoosesOutputSizeAndQualityByKilobytes) {
    struct Case {
        uint16_t Kb;
        int32_t Resolution;
        int Quality;
    };
    const Case cases[] = {
        {0, 3, 100},  {1, 0, 80},    {5, 0, 80},    {6, 0, 90},    {10, 0, 90},
        {11, 1, 90},  {50, 1, 90},   {51, 2, 80},   {80, 2, 80},   {81, 2, 90},
        {120, 2, 90}, {121, 2, 100}, {200, 2, 100}, {201, 3, 80},  {260, 3, 80},
        {261, 3, 85}, {300, 3, 85},  {301, 3, 90},  {360, 3, 90},  {361, 3, 95},
        {400, 3, 95}, {401, 3, 100}, {500, 3, 100}, {501, 3, 100}, {65535, 3, 100},
    };
    for (const Case& c : cases) {
        const TSizeLimitChoice choice = SizeLimitChoice(c.Kb);
        EXPECT_EQ(choice.OutputResolution, c.Resolution) << c.Kb << " KB";
        EXPECT_EQ(choice.CompressionQuality, c.Quality) << c.Kb << " KB";
    }
}

TEST(PhotoCaption, FacesResolveToInstalledSongAndSmallSans) {
    const QString song = ResolveCaptionFamily(QStringLiteral("宋体"));
    EXPECT_TRUE(song.contains(QLatin1String("UMing"))) << song.toStdString();
    EXPECT_EQ(ResolveCaptionFamily(QStringLiteral("Small Fonts")), QStringLiteral("DejaVu Sans"));
    // Asking for the face by its own name lands on the same family.
    QFont byName(QStringLiteral("宋体"));
    EXPECT_EQ(QFontInfo(byName).family(), song);
}

TEST(PhotoCaption, InkIsDecidedByBlueAloneOverEveryTouchedPixel) {
    // Blue 128 on a bright pixel turns white, blue 129 on a dark one turns black.
    QImage photo(4, 1, QImage::Format_BGR888);
    const uint8_t px[4][3] = {{128, 255, 255}, {129, 0, 0}, {200, 1, 2}, {10, 20, 30}};
    std::memcpy(photo.scanLine(0), px, sizeof px);
    QImage mask(4, 1, QImage::Format_RGB32);
    mask.setPixel(0, 0, qRgb(0, 0, 0));
    mask.setPixel(1, 0, qRgb(200, 0, 0));
    mask.setPixel(2, 0, qRgb(255, 255, 254));  // an anti-aliased edge counts as touched
    mask.setPixel(3, 0, qRgb(255, 255, 255));  // untouched

    InkThroughMask(photo, mask);

    const uint8_t expected[4][3] = {{255, 255, 255}, {0, 0, 0}, {0, 0, 0}, {10, 20, 30}};
    EXPECT_EQ(std::memcmp(photo.constScanLine(0), expected, sizeof expected), 0);
}

namespace {

// The locales the stamp is tried in, with the clock text each writes at 14:30:05.
struct TLocaleStamp {
    const char* Name;
    const char16_t* Afternoon;
};
const TLocaleStamp kLocaleStamps[] = {
    {"zh_CN", u"14:30:05"}, {"zh_TW", u"下午2:30:05"},  {"zh_HK", u"下午2:30:05"},
    {"ja_JP", u"14:30:05"}, {"ko_KR", u"오후 2:30:05"}, {"en_US", u"2:30:05 PM"},
    {"de_DE", u"14:30:05"}, {"fa_IR", u"۱۴:۳۰:۰۵"},     {"ar_EG", u"٢:٣٠:٠٥ م"},
    {"C", u"14:30:05"},
};

}  // namespace

// The date and the time of day and nothing else: no zone, no brackets, no letters the
// locale's format holds literally, the locale's own digits and day period.
TEST(PhotoCaption, StampIsTheDateAndTheClockTimeInEveryLocale) {
    const QDateTime afternoon(QDate(2024, 12, 25), QTime(14, 30, 5), QTimeZone::systemTimeZone());
    for (const TLocaleStamp& l : kLocaleStamps) {
        SCOPED_TRACE(l.Name);
        const QLocale locale(QString::fromLatin1(l.Name));
        const QString date = locale.toString(afternoon.date(), QLocale::ShortFormat);
        const QString time = QString::fromUtf16(l.Afternoon);
        EXPECT_EQ(StampText(afternoon, true, true, locale), date + QLatin1Char(' ') + time);
        EXPECT_EQ(StampText(afternoon, true, false, locale), date);
        EXPECT_EQ(StampText(afternoon, false, true, locale), time);
        EXPECT_EQ(StampText(afternoon, false, false, locale), QString());
    }

    // The 12-hour clocks around midnight and noon, leading zeros on both kinds of clock.
    struct Case {
        const char* Locale;
        QTime Time;
        const char16_t* Text;
    };
    const Case cases[] = {
        {"en_US", QTime(0, 30, 0), u"12:30:00 AM"},     {"en_US", QTime(12, 0, 1), u"12:00:01 PM"},
        {"en_US", QTime(9, 5, 7), u"9:05:07 AM"},       {"zh_TW", QTime(9, 5, 7), u"上午9:05:07"},
        {"ko_KR", QTime(23, 59, 59), u"오후 11:59:59"}, {"de_DE", QTime(9, 5, 7), u"09:05:07"},
        {"ja_JP", QTime(9, 5, 7), u"9:05:07"},          {"C", QTime(0, 0, 1), u"00:00:01"},
        {"fi_FI", QTime(9, 5, 7), u"9.05.07"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ClockText(c.Time, QLocale(QString::fromLatin1(c.Locale))),
                  QString::fromUtf16(c.Text))
            << c.Locale;
    }

    // At exactly midnight the date stands alone; the time alone is still shown.
    const QLocale c(QLocale::C);
    const QDateTime midnight(QDate(2024, 3, 15), QTime(0, 0, 0));
    EXPECT_EQ(StampText(midnight, true, true, c), QStringLiteral("15 Mar 2024"));
    EXPECT_EQ(StampText(midnight, false, true, c), QStringLiteral("00:00:00"));
    EXPECT_EQ(StampText(midnight.addSecs(1), true, true, c),
              QStringLiteral("15 Mar 2024 00:00:01"));
}

namespace {

QRect InkedBox(const QImage& mask) {
    QRect box;
    for (int y = 0; y < mask.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(mask.constScanLine(y));
        for (int x = 0; x < mask.width(); ++x) {
            if ((row[x] & 0xFFFFFF) != 0xFFFFFF) {
                box |= QRect(x, y, 1, 1);
            }
        }
    }
    return box;
}

// The stamp alone at `pixelSize` in the face the layout gives `width`, drawn where it has
// all the room it needs: its glyphs' pixels, cut to their bounding box.
QImage StampWithRoom(int width, int pixelSize, const QString& stamp) {
    QImage canvas(4000, 200, QImage::Format_RGB32);
    canvas.fill(Qt::white);
    QPainter painter(&canvas);
    painter.setRenderHint(QPainter::TextAntialiasing, false);
    QFont font(ResolveCaptionFamily(CaptionLayout(width).FontName));
    font.setPixelSize(pixelSize);
    font.setStyleStrategy(QFont::NoAntialias);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawText(QRect(100, 50, 3800, 150),
                     Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine | Qt::TextDontClip, stamp);
    painter.end();
    return canvas.copy(InkedBox(canvas));
}

}  // namespace

// At every width of the layout table, and at 176 and 1920, in every locale: the whole
// stamp is on the photograph, at the table's place where it fits and otherwise moved left
// just enough to end at the right edge.
TEST(PhotoCaption, TheWholeStampIsOnThePhotographInEveryLocaleAndWidth) {
    const QDateTime afternoon(QDate(2024, 12, 25), QTime(14, 30, 5));
    const QSize sizes[] = {{160, 120}, {176, 144},   {320, 240},
                           {640, 480}, {1280, 1024}, {1920, 1080}};
    for (const TLocaleStamp& l : kLocaleStamps) {
        const QLocale locale(QString::fromLatin1(l.Name));
        for (const QSize size : sizes) {
            for (const bool both : {true, false}) {
                SCOPED_TRACE(std::string(l.Name) + " " + std::to_string(size.width()) +
                             (both ? " date and time" : " date"));
                const QString stamp = StampText(afternoon, true, both, locale);
                const QImage mask = CaptionMask(size, {}, true, both, 0, afternoon, locale);
                ASSERT_FALSE(mask.isNull());
                const QRect inked = InkedBox(mask);
                // The same glyphs as the stamp drawn with room to spare, at the layout's
                // size or, where even the whole width is too narrow for that, smaller.
                const TCaptionLayout layout = CaptionLayout(size.width());
                int drawnAt = 0;
                for (int pixels = layout.PixelSize; pixels >= 8 && !drawnAt; --pixels) {
                    if (StampWithRoom(size.width(), pixels, stamp) == mask.copy(inked)) {
                        drawnAt = pixels;
                    }
                }
                EXPECT_NE(drawnAt, 0) << "every pixel of the stamp is on the photograph";
                const QPoint offset = both ? layout.StampOffsetBoth : layout.StampOffsetOne;
                const QPoint place(size.width() - offset.x(), size.height() - offset.y());
                EXPECT_GE(inked.top(), place.y());
                // A place left of the photo (a narrow one) is its left edge.
                const int left = std::max(place.x(), 0);
                if (inked.left() < left) {
                    EXPECT_GE(inked.right(), size.width() - 5) << "moved left just enough";
                } else {
                    EXPECT_LE(inked.left(), left + 3) << "the table's place";
                }
            }
        }
    }
}

// Where the caption lands, by photo width: each case draws one thing on a plain photo
// whose blue is above 128 (so ink is black) and checks the inked area.
TEST(PhotoCaption, TextLandsWhereTheLayoutForTheWidthPutsIt) {
    struct Case {
        const char* What;
        int Width, Height;
        int LineIndex;  // -1: no line, the stamp only
        bool Date, Time;
        QPoint TopLeft;
        int PixelSize;
    };
    const QDateTime now(QDate(2024, 3, 15), QTime(14, 30, 5));
    const Case cases[] = {
        {"640 stamp with date and time", 640, 480, -1, true, true, {480, 450}, 16},
        {"640 stamp with date only", 640, 480, -1, true, false, {520, 450}, 16},
        {"640 Line1", 640, 480, 0, false, false, {10, 10}, 16},
        {"320 Line5", 320, 240, 4, false, false, {10, 70}, 12},
        {"160 Line2 in small fonts", 160, 120, 1, false, false, {5, 5}, 8},
        {"160 stamp with time only", 160, 120, -1, false, true, {110, 105}, 8},
        {"1280 Line3", 1280, 1024, 2, false, false, {10, 50}, 24},
        {"1280 stamp with date and time", 1280, 1024, -1, true, true, {1000, 954}, 24},
        {"176 uses the other widths' layout", 176, 144, 0, false, false, {10, 10}, 16},
        {"176 stamp with date only", 176, 144, -1, true, false, {16, 114}, 16},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.What);
        const QImage before = Filled(c.Width, c.Height, 200, 30, 40);
        QImage photo = before;
        TCaptionLines lines;
        if (c.LineIndex >= 0) {
            lines[c.LineIndex] = QStringLiteral("Snapix 照片 Wg");
        }
        // A locale whose stamp fits every place of the table.
        DrawCaption(photo, lines, c.Date, c.Time, 0x0000FF /* red: any non-white ink */, now,
                    QLocale(QStringLiteral("de_DE")));

        const QRect inked = ChangedArea(before, photo);
        ASSERT_FALSE(inked.isEmpty());
        EXPECT_GE(inked.left(), c.TopLeft.x());
        EXPECT_LE(inked.left(), c.TopLeft.x() + 3);
        EXPECT_GE(inked.top(), c.TopLeft.y());
        // Glyphs of a pixel height fit in a cell of that height plus its descent.
        EXPECT_LE(inked.bottom(), c.TopLeft.y() + c.PixelSize + c.PixelSize / 2);
        EXPECT_GE(inked.height(), c.PixelSize / 2);
        for (int y = inked.top(); y <= inked.bottom(); ++y) {
            for (int x = inked.left(); x <= inked.right(); ++x) {
                const uint8_t* p = Pixel(photo, x, y);
                const bool untouched = p[0] == 200 && p[1] == 30 && p[2] == 40;
                ASSERT_TRUE(untouched || (p[0] == 0 && p[1] == 0 && p[2] == 0))
                    << "the caption colour itself never shows, at " << x << "," << y;
            }
        }
    }
}

// The ink rule inks every touched pixel: the mask is drawn without anti-aliasing, so a
// pixel is either untouched or the caption colour, and small glyphs keep their gaps.
TEST(PhotoCaption, MaskPixelsAreUntouchedOrInkAtEverySize) {
    const QDateTime now(QDate(2024, 12, 25), QTime(14, 30, 5));
    const uint32_t colour = 0x00336699;  // 0x00BBGGRR
    const QRgb ink = qRgb(0x99, 0x66, 0x33);
    const TCaptionLines lines = {QStringLiteral("Snapix 照片 Wg"), QStringLiteral("第二行 Mm"),
                                 QStringLiteral("third"), QStringLiteral("fourth"),
                                 QStringLiteral("fifth")};
    for (const QSize size :
         {QSize(160, 120), QSize(320, 240), QSize(640, 480), QSize(1280, 1024), QSize(176, 144)}) {
        const QImage mask = CaptionMask(size, lines, true, true, colour, now, QLocale(QLocale::C));
        ASSERT_FALSE(mask.isNull());
        int inked = 0, other = 0;
        for (int y = 0; y < mask.height(); ++y) {
            const auto* row = reinterpret_cast<const QRgb*>(mask.constScanLine(y));
            for (int x = 0; x < mask.width(); ++x) {
                const QRgb p = row[x] & 0xFFFFFF;
                inked += p == (ink & 0xFFFFFF);
                other += p != 0xFFFFFF && p != (ink & 0xFFFFFF);
            }
        }
        EXPECT_GT(inked, 50) << size.width();
        EXPECT_EQ(other, 0) << size.width() << ": pixels between the caption colour and white";
    }
}

TEST(PhotoCaption, LinesNotLaidOutForAWidthAreNotDrawn) {
    const QDateTime now(QDate(2024, 3, 15), QTime(14, 30, 5));
    struct Case {
        int Width;
        int LineIndex;
    };
    // 160 draws only Line2; every other width leaves Line2 out.
    const Case cases[] = {{160, 0}, {160, 2}, {160, 4}, {640, 1}, {1280, 1}, {176, 1}};
    for (const Case& c : cases) {
        const QImage before = Filled(c.Width, 120, 200, 30, 40);
        QImage photo = before;
        TCaptionLines lines;
        lines[c.LineIndex] = QStringLiteral("Snapix");
        DrawCaption(photo, lines, false, false, 0, now);
        EXPECT_EQ(photo, before) << "width " << c.Width << " Line" << c.LineIndex + 1;
    }
}

TEST(PhotoCaption, WhiteCaptionColourAndEmptyPhotoChangeNothing) {
    const QDateTime now(QDate(2024, 3, 15), QTime(14, 30, 5));
    const QImage before = Filled(640, 480, 200, 30, 40);
    QImage photo = before;
    DrawCaption(photo, {QStringLiteral("Snapix")}, true, true, 0x00FFFFFF, now);
    EXPECT_EQ(photo, before);

    QImage empty;
    DrawCaption(empty, {QStringLiteral("Snapix")}, true, true, 0, now);
    EXPECT_TRUE(empty.isNull());
}

TEST(PhotoScale, AveragesWhenShrinkingAndIgnoresAspect) {
    // Each 2x2 block holds 0, 100, 200, 100: its average is 100 in every component.
    QImage photo(4, 4, QImage::Format_BGR888);
    const uint8_t pattern[2][2] = {{0, 100}, {100, 200}};
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 4; ++x) {
            std::memset(photo.scanLine(y) + 3 * x, pattern[y % 2][x % 2], 3);
        }
    }
    ASSERT_TRUE(ScalePhoto(photo, 2, 2));
    ASSERT_EQ(photo.size(), QSize(2, 2));
    EXPECT_EQ(photo.format(), QImage::Format_BGR888);
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 2; ++x) {
            for (int c = 0; c < 3; ++c) {
                EXPECT_NEAR(Pixel(photo, x, y)[c], 100, 1);
            }
        }
    }

    // Enlarging interpolates between the centres of the source pixels.
    QImage column(1, 2, QImage::Format_BGR888);
    std::memset(column.scanLine(0), 0, 3);
    std::memset(column.scanLine(1), 200, 3);
    ASSERT_TRUE(ScalePhoto(column, 3, 4));
    const int expected[4] = {0, 50, 150, 200};
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 3; ++x) {
            EXPECT_NEAR(Pixel(column, x, y)[1], expected[y], 1) << x << "," << y;
        }
    }

    QImage wide = Filled(640, 480, 1, 2, 3);
    ASSERT_TRUE(ScalePhoto(wide, 3876, 2584));
    EXPECT_EQ(wide.size(), QSize(3876, 2584));
    for (const QPoint at : {QPoint(0, 0), QPoint(1937, 1291), QPoint(3875, 2583)}) {
        EXPECT_EQ(std::memcmp(Pixel(wide, at.x(), at.y()), "\x01\x02\x03", 3), 0)
            << "flat stays flat";
    }
}

TEST(PhotoScale, FailureKeepsThePhotoAsItWas) {
    QImage empty;
    EXPECT_FALSE(ScalePhoto(empty, 1600, 1200));
    EXPECT_TRUE(empty.isNull());

    const QImage before = Filled(8, 6, 1, 2, 3);
    QImage photo = before;
    EXPECT_FALSE(ScalePhoto(photo, 0, 1200));
    EXPECT_FALSE(ScalePhoto(photo, 1600, -1));
    EXPECT_EQ(photo, before);
}

TEST(PhotoGrey, AveragesTheThreeComponentsTruncatingForEverySum) {
    // One pixel per possible sum 0..765, plus the classic (red 255, green 0, blue 1).
    QImage photo(767, 1, QImage::Format_BGR888);
    uint8_t* p = photo.scanLine(0);
    for (int sum = 0; sum <= 765; ++sum, p += 3) {
        const int r = qMin(sum, 255), g = qMin(sum - r, 255), b = sum - r - g;
        p[0] = uint8_t(b);
        p[1] = uint8_t(g);
        p[2] = uint8_t(r);
    }
    p[0] = 1, p[1] = 0, p[2] = 255;

    ToGrey(photo);

    for (int sum = 0; sum <= 765; ++sum) {
        const uint8_t* q = Pixel(photo, sum, 0);
        ASSERT_TRUE(q[0] == sum / 3 && q[1] == sum / 3 && q[2] == sum / 3) << "sum " << sum;
    }
    EXPECT_EQ(std::memcmp(Pixel(photo, 766, 0), "\x55\x55\x55", 3), 0);  // 85
}

namespace {

// Decodes strictly; a warning fails the test that asked.
StrictJpeg Decode(const QByteArray& data) {
    StrictJpeg d = StrictDecode(data);
    EXPECT_TRUE(d.Ok()) << d.Error.toStdString();
    return d;
}

}  // namespace

TEST(PhotoJpeg, BaselineJfif420WithRowsTopDownInBlueGreenRedOrder) {
    // Top half red, bottom half blue: a swapped channel order or a flipped picture shows.
    QImage photo = Filled(64, 48, 0, 0, 255);
    const QImage blue = Filled(64, 24, 255, 0, 0);
    for (int y = 0; y < 24; ++y) {
        std::memcpy(photo.scanLine(24 + y), blue.constScanLine(y), 64 * 3);
    }
    QByteArray jpeg;
    QString why;
    ASSERT_TRUE(EncodeJpeg(photo, 90, jpeg, why)) << why.toStdString();
    const StrictJpeg d = Decode(jpeg);
    EXPECT_EQ(d.Width, 64);
    EXPECT_EQ(d.Height, 48);
    EXPECT_TRUE(d.Jfif);
    EXPECT_FALSE(d.Progressive);
    EXPECT_EQ(d.Components, 3);
    EXPECT_EQ(std::make_tuple(d.LumaH, d.LumaV, d.ChromaH, d.ChromaV), std::make_tuple(2, 2, 1, 1));
    // Baseline: a start-of-frame 0 marker.
    EXPECT_TRUE(jpeg.contains(QByteArray("\xFF\xC0", 2)));
    const QRgb top = QImage(d.Picture).pixel(32, 5), bottom = QImage(d.Picture).pixel(32, 40);
    EXPECT_GT(qRed(top), 200);
    EXPECT_LT(qBlue(top), 60);
    EXPECT_GT(qBlue(bottom), 200);
    EXPECT_LT(qRed(bottom), 60);
}

TEST(PhotoJpeg, GreyPhotoStillHasThreeComponentsAndQualityIsClamped) {
    QImage photo = Filled(32, 32, 90, 90, 90);
    QByteArray q0, q1, q100, q255;
    QString why;
    ASSERT_TRUE(EncodeJpeg(photo, 0, q0, why));
    ASSERT_TRUE(EncodeJpeg(photo, 1, q1, why));
    ASSERT_TRUE(EncodeJpeg(photo, 100, q100, why));
    ASSERT_TRUE(EncodeJpeg(photo, 255, q255, why));
    EXPECT_EQ(Decode(q100).Components, 3);
    EXPECT_EQ(q0, q1);
    EXPECT_EQ(q100, q255);
    EXPECT_EQ(Decode(q100).FirstLumaQuant, 1u);  // quality 100: every step is 1
    EXPECT_NE(q1, q100);
}

// Either encoder; black and white leaves the photo grey even when libjpeg refuses it.
TEST(PhotoJpeg, PicturesLibjpegRefusesFailCleanlyAndLeaveTheOutputAlone) {
    struct Case {
        const char* What;
        QImage Photo;
    };
    const Case cases[] = {
        {"no frame yet (0 x 0)", QImage()},
        {"wider than JPEG allows", Filled(70000, 1, 1, 2, 3)},
    };
    for (const Case& c : cases) {
        for (const bool blackAndWhite : {false, true}) {
            SCOPED_TRACE(std::string(c.What) + (blackAndWhite ? ", black and white" : ", colour"));
            QImage photo = c.Photo;
            QByteArray out("previous photograph");
            QString why;
            EXPECT_FALSE(blackAndWhite ? EncodeBlackAndWhiteJpeg(photo, 80, out, why)
                                       : EncodeJpeg(photo, 80, out, why));
            EXPECT_FALSE(why.isEmpty());
            EXPECT_EQ(out, QByteArray("previous photograph"));
            if (blackAndWhite && !photo.isNull()) {
                EXPECT_EQ(std::memcmp(Pixel(photo, 69999, 0), "\x02\x02\x02", 3), 0);
            }
        }
    }
}

TEST(PhotoBmp, TwentyFourBitBottomUpRowsPaddedToFourBytes) {
    QImage photo(3, 2, QImage::Format_BGR888);
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 3; ++x) {
            uint8_t* p = photo.scanLine(y) + 3 * x;
            p[0] = uint8_t(10 * y + x), p[1] = 100, p[2] = 200;
        }
    }
    QByteArray file;
    ASSERT_TRUE(WriteBmp(photo, [&file](const char* data, size_t size) {
        file.append(data, qsizetype(size));
        return true;
    }));
    ASSERT_EQ(file.size(), 54 + 2 * 12);
    auto le32 = [&file](int at) {
        uint32_t v;
        std::memcpy(&v, file.constData() + at, 4);
        return v;
    };
    auto le16 = [&file](int at) {
        uint16_t v;
        std::memcpy(&v, file.constData() + at, 2);
        return v;
    };
    EXPECT_EQ(file.left(2), QByteArray("BM"));
    EXPECT_EQ(le32(2), 78u);   // file size
    EXPECT_EQ(le32(10), 54u);  // pixel data offset
    EXPECT_EQ(le32(14), 40u);  // information header size
    EXPECT_EQ(le32(18), 3u);
    EXPECT_EQ(le32(22), 2u);  // positive: bottom-up
    EXPECT_EQ(le16(26), 1);
    EXPECT_EQ(le16(28), 24);
    EXPECT_EQ(le32(30), 0u);  // uncompressed
    const char firstRow[12] = {10, 100, char(200), 11, 100, char(200), 12, 100, char(200), 0, 0, 0};
    EXPECT_EQ(file.mid(54, 12), QByteArray(firstRow, 12)) << "the bottom row comes first";
    EXPECT_EQ(QImage::fromData(file, "BMP").convertToFormat(QImage::Format_BGR888), photo);
}

TEST(PhotoNames, SerialDateTimeAndExtension) {
    const std::pair<uint32_t, const char*> serials[] = {{0, "00000000"},
                                                        {1, "00000001"},
                                                        {99999999, "99999999"},
                                                        {100000000, "100000000"},
                                                        {4294967295u, "4294967295"}};
    for (const auto& [number, text] : serials) {
        EXPECT_EQ(SerialName(number), QLatin1String(text));
    }
    EXPECT_EQ(DateTimeName(QDateTime(QDate(2024, 3, 15), QTime(14, 30, 5))),
              QStringLiteral("20240315143005"));
    EXPECT_EQ(DateTimeName(QDateTime(QDate(2024, 1, 2), QTime(3, 4, 5))),
              QStringLiteral("20240102030405"));
    EXPECT_EQ(Extension(0), QStringLiteral(".jpg"));
    EXPECT_EQ(Extension(1), QStringLiteral(".bmp"));
    EXPECT_EQ(Extension(2), QStringLiteral(".jpg"));
    EXPECT_EQ(Extension(255), QStringLiteral(".jpg"));
}
