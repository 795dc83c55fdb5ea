// Keeping a photograph within its size limit (the quality search, the size steps, the
// photograph's policy on real pictures) and the EXIF block, read back by exiv2.
#include "photo/Exif.h"
#include "photo/Jpeg.h"
#include "photo/Scale.h"
#include "photo/SizeLimit.h"
#include "photo/SizeRule.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>

#include "support/ExifRead.h"
#include "support/JpegCheck.h"
#include "support/TestFiles.h"
#include "support/TestPictures.h"

using namespace PhotoPipeline;

// An encoder whose file at quality q is 1000 + 100 q bytes: the search's choices, its
// number of encodings, and that what it returns is an encoding it made.
TEST(PhotoSizeLimit, QualitySearchFindsTheHighestQualityThatFitsInAtMostNineEncodings) {
    struct Case {
        int64_t MaxBytes;
        int Lowest, Highest;
        int Quality;
        bool Fits;
    };
    const Case cases[] = {
        {1000000, 1, 100, 100, true},  // a generous limit: one encoding
        {1000 + 100 * 60, 1, 100, 60, true},
        {1000 + 100 * 60 - 1, 1, 100, 59, true},
        {1000 + 100 * 99, 1, 100, 99, true},
        {1100, 1, 100, 1, true},
        {1099, 1, 100, 1, false},  // none fits: the smallest
        {1000 + 100 * 42, 2, 99, 42, true},
        {1000 + 100 * 30, 40, 40, 40, false},  // one quality only
        {1000 + 100 * 40, 40, 41, 40, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.MaxBytes) + " bytes, qualities " + std::to_string(c.Lowest) +
                     ".." + std::to_string(c.Highest));
        std::vector<int> tried;
        const TEncodeAtQuality encode = [&tried](int quality, QByteArray& jpeg, QString&) {
            tried.push_back(quality);
            jpeg = QByteArray(1000 + 100 * quality, char(quality));
            return true;
        };
        TQualityFound found;
        QString why;
        ASSERT_TRUE(HighestQualityWithin(c.MaxBytes, c.Lowest, c.Highest, encode, found, why));
        EXPECT_EQ(found.Quality, c.Quality);
        EXPECT_EQ(found.Fits, c.Fits);
        EXPECT_EQ(found.Jpeg, QByteArray(1000 + 100 * c.Quality, char(c.Quality)));
        EXPECT_EQ(found.Encodes, int(tried.size()));
        // One when the highest fits, two when not even the lowest does, else a bisection.
        const int most = c.Quality == c.Highest ? 1
                         : !c.Fits              ? 2
                                   : 2 + int(std::ceil(std::log2(double(c.Highest - c.Lowest))));
        EXPECT_LE(found.Encodes, most);
        if (!c.Fits) {
            EXPECT_EQ(tried.back(), c.Lowest) << "the smallest is the last one made";
        }
    }

    // A failing encoder fails the search with its reason; so does an empty range.
    TQualityFound found;
    QString why;
    EXPECT_FALSE(HighestQualityWithin(
        5000, 1, 100,
        [](int, QByteArray&, QString& error) {
            error = QStringLiteral("disk on fire");
            return false;
        },
        found, why));
    EXPECT_EQ(why, QStringLiteral("disk on fire"));
    QImage picture = Picture(8, 8, false);
    EXPECT_FALSE(HighestQualityWithin(5000, 50, 49, JpegEncoderOf(picture, false), found, why));
}

// On a real picture the search lands where encoding every quality says it should.
TEST(PhotoSizeLimit, QualitySearchAgreesWithEncodingEveryQuality) {
    QImage picture = Picture(320, 240, true);
    const TEncodeAtQuality encode = JpegEncoderOf(picture, false);
    std::vector<qsizetype> sizes(101);
    for (int q = 1; q <= 100; ++q) {
        QByteArray jpeg;
        QString why;
        ASSERT_TRUE(encode(q, jpeg, why));
        sizes[size_t(q)] = jpeg.size();
    }
    for (const int q : {1, 17, 50, 83, 99, 100}) {
        for (const int64_t limit : {int64_t(sizes[size_t(q)]), int64_t(sizes[size_t(q)]) - 1}) {
            int expected = 0;
            for (int k = 1; k <= 100; ++k) {
                if (sizes[size_t(k)] <= limit) {
                    expected = k;
                }
            }
            TQualityFound found;
            QString why;
            ASSERT_TRUE(HighestQualityWithin(limit, 1, 100, encode, found, why));
            EXPECT_EQ(found.Fits, expected > 0) << limit;
            EXPECT_EQ(found.Quality, expected > 0 ? expected : 1) << limit;
            EXPECT_EQ(found.Jpeg.size(), sizes[size_t(found.Quality)]) << limit;
        }
    }
}

TEST(PhotoSizeLimit, StepsGoFromTheStartThroughSmallerOutputSizesToTheLivePictureAndItsHalves) {
    struct Case {
        QSize Start, Live;
        std::vector<QSize> Steps;
    };
    const Case cases[] = {
        {{2816, 2112},
         {1280, 1024},
         {{2816, 2112},
          {2580, 1936},
          {2048, 1536},
          {1600, 1200},
          {1280, 1024},
          {640, 512},
          {320, 256},
          {160, 128},
          {80, 64},
          {40, 32},
          {20, 16},
          {10, 8}}},
        {{2048, 1536},
         {640, 480},
         {{2048, 1536},
          {1600, 1200},
          {640, 480},
          {320, 240},
          {160, 120},
          {80, 60},
          {40, 30},
          {20, 15}}},
        // The live picture larger than the rule's size: only its halves are smaller.
        {{1600, 1200},
         {1920, 1080},
         {{1600, 1200},
          {960, 540},
          {480, 270},
          {240, 135},
          {120, 67},
          {60, 33},
          {30, 16},
          {15, 8}}},
        // Not scaled: the live picture and its halves.
        {{160, 120}, {160, 120}, {{160, 120}, {80, 60}, {40, 30}, {20, 15}}},
        {{12, 12}, {12, 12}, {{12, 12}}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SizeLimitSteps(c.Start, c.Live), c.Steps)
            << c.Start.width() << " from " << c.Live.width();
    }
}

// The photograph's policy on the pictures a camera gives: every limit of the table kept
// by the largest size that can keep it, at the highest quality that does, the bytes
// libjpeg writes for what is returned, read by a strict decoder.
TEST(PhotoSizeLimit, EveryLimitIsKeptByTheLargestSizeAndHighestQualityThatCan) {
    struct Source {
        const char* Name;
        QSize Size;
        bool Grain;
    };
    const Source sources[] = {
        {"640x480", {640, 480}, false},
        {"1920x1080", {1920, 1080}, false},
        {"1920x1080 grain", {1920, 1080}, true},
    };
    const TExifFields fields{QDateTime(QDate(2024, 12, 25), QTime(14, 30, 5)),
                             QStringLiteral("Camera"), QStringLiteral("Snapix"),
                             QStringLiteral("a caption line")};
    int n = 0;
    for (const Source& source : sources) {
        const QImage live = Picture(source.Size.width(), source.Size.height(), source.Grain);
        for (const uint16_t kb : {5, 20, 50, 200, 500}) {
            const bool blackAndWhite = n++ % 2 == 1;
            SCOPED_TRACE(std::string(source.Name) + ", " + std::to_string(kb) + " KB" +
                         (blackAndWhite ? ", black and white" : ""));
            const TSizeLimitChoice choice = SizeLimitChoice(kb);
            const QSize start = OutputSizes()[size_t(choice.OutputResolution)];
            QImage photo = live;
            ASSERT_TRUE(ScalePhoto(photo, start.width(), start.height()));
            TSizeLimit limit;
            limit.MaxBytes = SizeLimitBytes(kb);
            limit.HighestQuality = choice.CompressionQuality;
            limit.BlackAndWhite = blackAndWhite;
            limit.ExifFor = [&fields](QSize size) { return ExifBlock(fields, size); };
            const std::vector<QSize> steps = SizeLimitSteps(start, source.Size);
            TSizeLimited result;
            QString why;
            ASSERT_TRUE(EncodeWithinSizeLimit(photo, live, steps, limit, result, why))
                << why.toStdString();

            ASSERT_TRUE(result.Fits);
            EXPECT_LE(result.Jpeg.size(), kb * 1024);
            const StrictJpeg decoded = StrictDecode(result.Jpeg);
            ASSERT_TRUE(decoded.Ok()) << decoded.Error.toStdString();
            EXPECT_EQ(QSize(decoded.Width, decoded.Height), photo.size());
            const ExifSplit split = SplitAtExif(result.Jpeg);
            EXPECT_TRUE(split.Found);
            EXPECT_EQ(split.Exif, ExifBlock(fields, photo.size()));
            EXPECT_TRUE(split.WithoutExif() == PlainLibjpeg(photo, result.Quality))
                << "the stored bytes encode the returned photograph";

            // No larger size of the steps could have kept the limit, and no higher quality.
            const auto step = std::find(steps.begin(), steps.end(), photo.size());
            ASSERT_NE(step, steps.end());
            const auto encodedSize = [&](QSize size, int quality) {
                QImage picture = live;
                EXPECT_TRUE(ScalePhoto(picture, size.width(), size.height()));
                QByteArray jpeg;
                QString error;
                TJpegHooks hooks;
                hooks.Exif = ExifBlock(fields, size);
                EXPECT_TRUE(blackAndWhite
                                ? EncodeBlackAndWhiteJpeg(picture, quality, jpeg, error, hooks)
                                : EncodeJpeg(picture, quality, jpeg, error, hooks));
                return jpeg.size();
            };
            if (step != steps.begin()) {
                EXPECT_GT(encodedSize(*(step - 1), 1), limit.MaxBytes);
            }
            if (result.Quality < limit.HighestQuality) {
                EXPECT_GT(encodedSize(photo.size(), result.Quality + 1), limit.MaxBytes);
            }
            // Two for each size passed by, at most nine for the one that keeps the limit.
            EXPECT_LE(result.Encodes, 2 * int(step - steps.begin()) + 9);
        }
    }
}

// The fields read back by exiv2: names, the moment with its offset from UTC, the pixel
// size, the caption lines in UTF-8; a description too long for one segment is cut at a
// character boundary, and the block still fits.
TEST(PhotoExif, ExivReadsBackEveryFieldWeWrite) {
    QTemporaryDir dir;
    QImage picture = Picture(64, 48, false);
    struct Case {
        const char* What;
        QString Description;
        int OffsetSeconds;
        const char* Offset;
    };
    const QString longText = QString(30000, QChar(0x7167));  // 90000 bytes of "照"
    const Case cases[] = {
        {"captions east of UTC", QStringLiteral("Snapix 照片\nsecond line"), 8 * 3600, "+08:00"},
        {"no caption west of UTC", QString(), -(3 * 3600 + 30 * 60), "-03:30"},
        {"a caption longer than a segment", longText, 0, "+00:00"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.What);
        const TExifFields fields{
            QDateTime(QDate(2024, 12, 25), QTime(14, 30, 5), QTimeZone(c.OffsetSeconds)),
            QStringLiteral("USB Camera: HD Webcam"), QStringLiteral("Snapix 1.0.0"), c.Description};
        TJpegHooks hooks;
        hooks.Exif = ExifBlock(fields, QSize(4000, 3000));
        ASSERT_FALSE(hooks.Exif.isEmpty());
        EXPECT_LE(hooks.Exif.size(), MaxApp1Bytes);
        QByteArray jpeg;
        QString why;
        ASSERT_TRUE(EncodeJpeg(picture, 80, jpeg, why, hooks)) << why.toStdString();
        const QString file = dir.filePath(QStringLiteral("exif.jpg"));
        WriteBytes(file, jpeg);

        const QMap<QString, QString> tags = ExifTags(file);
        EXPECT_EQ(tags.value("Exif.Image.Model"), "USB Camera: HD Webcam");
        EXPECT_EQ(tags.value("Exif.Image.Software"), "Snapix 1.0.0");
        EXPECT_EQ(tags.value("Exif.Image.Orientation"), "1");
        EXPECT_EQ(tags.value("Exif.Photo.DateTimeOriginal"), "2024:12:25 14:30:05");
        EXPECT_EQ(tags.value("Exif.Photo.OffsetTimeOriginal"), QString::fromLatin1(c.Offset));
        EXPECT_EQ(tags.value("Exif.Photo.PixelXDimension"), "4000");
        EXPECT_EQ(tags.value("Exif.Photo.PixelYDimension"), "3000");
        EXPECT_EQ(tags.value("Exif.Photo.ColorSpace"), "1");
        if (c.Description.isEmpty()) {
            EXPECT_FALSE(tags.contains("Exif.Image.ImageDescription"));
        } else if (c.Description.size() < 1000) {
            EXPECT_EQ(tags.value("Exif.Image.ImageDescription"), c.Description);
        } else {
            const QString kept = tags.value("Exif.Image.ImageDescription");
            EXPECT_GT(kept.size(), 15000);
            EXPECT_TRUE(c.Description.startsWith(kept)) << "whole characters only";
        }
        EXPECT_TRUE(StrictDecode(jpeg).Ok());
    }
}
