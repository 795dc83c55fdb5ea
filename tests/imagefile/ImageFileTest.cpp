// The picture-file loader against hostile files built here: legal files that are dear to
// decode, files cut short or lying about their size, overflowing headers, and the large
// valid files that must load. Also built with AddressSanitizer and UBSan (ctest
// "Sanitized.*"), so this file uses nothing of the program but the loader.
#include <sys/stat.h>

#include <chrono>
#include <thread>

#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "photocut/ImageFile.h"
#include "support/HostileImages.h"

namespace {

using ImageFile::LoadImageFile;
using ImageFile::TBudget;
using ImageFile::TDecoded;

QByteArray Grey16Png(int width, int height) {
    QImage picture(width, height, QImage::Format_RGBA64);
    picture.fill(QColor(20, 140, 200));
    return hostile::Png(picture);
}

// An RLE8 picture cut to `percent` of its size.
QByteArray Cut(const QByteArray& file, int percent) {
    return file.left(file.size() * percent / 100);
}

struct Case {
    const char* name;
    QByteArray bytes;
    QSize loads;         // the size it loads at; empty: refused
    const char* reason;  // part of the refusal's text
};

class ImageFileTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(folder.isValid()); }

    QString Write(const char* name, const QByteArray& bytes) {
        const QString path = folder.filePath(QString::fromUtf8(name));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
        return path;
    }

    TDecoded Load(const char* name, const QByteArray& bytes, const TBudget& budget = {}) {
        const QString path = Write(name, bytes);
        TDecoded decoded = LoadImageFile(path, budget);
        QFile::remove(path);
        return decoded;
    }

    void Expect(const std::vector<Case>& cases) {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            const TDecoded decoded = Load(c.name, c.bytes);
            EXPECT_FALSE(decoded.Cancelled);
            if (!c.loads.isEmpty()) {
                EXPECT_TRUE(decoded.Error.isEmpty()) << decoded.Error.toStdString();
                EXPECT_EQ(decoded.Picture.size(), c.loads);
                EXPECT_EQ(decoded.Picture.format(), QImage::Format_BGR888);
            } else {
                EXPECT_TRUE(decoded.Picture.isNull());
                EXPECT_TRUE(decoded.Error.contains(QString::fromUtf8(c.reason)))
                    << decoded.Error.toStdString();
                EXPECT_TRUE(decoded.Error.contains(c.name)) << "the reason names the file";
            }
        }
    }

    QTemporaryDir folder;
};

TEST_F(ImageFileTest, JpegsLoadOnlyWhenWholeAndAffordable) {
    const QImage scene = hostile::Scene(640, 480);
    const QByteArray baseline = hostile::EncodeJpeg(scene);
    const QByteArray arithmetic = hostile::EncodeJpeg(scene, {.Arithmetic = true});
    const QByteArray progressive = hostile::EncodeJpeg(scene, {.Progressive = true});
    const QByteArray arithmeticProgressive =
        hostile::EncodeJpeg(scene, {.Arithmetic = true, .Progressive = true});
    const QByteArray cmyk = hostile::CmykJpeg(256, 256);
    const QByteArray corruptCmyk = hostile::CorruptHuffmanCodes(cmyk);
    ASSERT_FALSE(corruptCmyk.isEmpty());
    QByteArray huge = baseline;  // the frame claims 65535 x 65535
    const qsizetype sof = huge.indexOf("\xFF\xC0");
    huge.replace(sof + 5, 4, QByteArray("\xFF\xFF\xFF\xFF", 4));

    Expect({
        {"baseline.jpg", baseline, {640, 480}, ""},
        {"arithmetic.jpg", arithmetic, {640, 480}, ""},
        {"arithmetic-restarts.jpg",
         hostile::EncodeJpeg(scene, {.Arithmetic = true, .RestartRows = 1}), {640, 480}, ""},
        {"progressive.jpg", progressive, {640, 480}, ""},
        {"arithmetic-progressive.jpg", arithmeticProgressive, {640, 480}, ""},
        {"cmyk.jpg", cmyk, {256, 256}, ""},
        // 1 + 63 x 14 scans: legal, 300 KB, and 883 passes over a 256 MB picture.
        {"scan-bomb.jpg", hostile::ProgressiveScanBomb(9459, 9459), {}, "883 次扫描"},
        // A bomb small enough for the work budget loads, whole.
        {"many-scans.jpg", hostile::ProgressiveScanBomb(320, 240), {320, 240}, ""},
        {"half-baseline.jpg", hostile::HalfScanWithEndMarker(baseline), {}, "不完整"},
        {"half-progressive.jpg", hostile::HalfScanWithEndMarker(progressive), {}, "不完整"},
        // Arithmetic-coded data has no end of its own: the decoder would make up the
        // bottom half from zeros without a word.
        {"half-arithmetic.jpg", hostile::HalfScanWithEndMarker(arithmetic), {}, "不完整"},
        {"no-end-marker.jpg", baseline.chopped(2), {}, "截断"},
        // libjpeg's fast path reads these codes as "nothing" without a warning.
        {"corrupt-cmyk.jpg", corruptCmyk, {}, "bad Huffman code"},
        {"65535-square.jpg", huge, {}, "65535 x 65535 过大"},
    });
}

// What libjpeg's own strict reader (djpeg -strict) says of the same files. It reads the
// file 4096 bytes at a time, so it checks the corrupt codes too; it cannot tell the
// half arithmetic-coded file from a whole one, which is why we watch that data
// ourselves.
TEST_F(ImageFileTest, StrictDjpegAgreesOnEveryJpegItCanJudge) {
    const QString djpeg = QStandardPaths::findExecutable(QStringLiteral("djpeg"));
    ASSERT_FALSE(djpeg.isEmpty()) << "djpeg (libjpeg-turbo-progs) is installed by setup.sh";
    const QImage scene = hostile::Scene(640, 480);
    const QByteArray baseline = hostile::EncodeJpeg(scene);
    const QByteArray progressive = hostile::EncodeJpeg(scene, {.Progressive = true});
    const QByteArray cmyk = hostile::CmykJpeg(256, 256);
    const struct {
        const char* name;
        QByteArray bytes;
    } files[] = {
        {"baseline.jpg", baseline},
        {"progressive.jpg", progressive},
        {"cmyk.jpg", cmyk},
        {"corrupt-cmyk.jpg", hostile::CorruptHuffmanCodes(cmyk)},
        {"half-baseline.jpg", hostile::HalfScanWithEndMarker(baseline)},
        {"half-progressive.jpg", hostile::HalfScanWithEndMarker(progressive)},
        {"many-scans.jpg", hostile::ProgressiveScanBomb(320, 240)},
    };
    for (const auto& file : files) {
        SCOPED_TRACE(file.name);
        const QString path = Write(file.name, file.bytes);
        QProcess process;
        process.setStandardOutputFile(QProcess::nullDevice());
        process.start(djpeg, {QStringLiteral("-strict"), path});
        ASSERT_TRUE(process.waitForFinished(60000));
        const bool djpegLoads = process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
        EXPECT_EQ(LoadImageFile(path).Loaded(), djpegLoads);
    }
}

TEST_F(ImageFileTest, RleBitmapsMustEndInsideTheFileAndFillTheirRows) {
    const QByteArray rle = hostile::Rle8Bmp(320, 200);
    Expect({
        {"rle8.bmp", rle, {320, 200}, ""},
        {"cut-25.bmp", Cut(rle, 25), {}, "截断"},
        {"cut-50.bmp", Cut(rle, 50), {}, "截断"},
        {"cut-75.bmp", Cut(rle, 75), {}, "截断"},
        {"claims-100000-rows.bmp", hostile::Rle8Bmp(320, 100, 0, 100000), {}, "320 x 100000 不符"},
        {"claims-100000-wide.bmp", hostile::Rle8Bmp(320, 100, 100000, 0), {}, "100000 x 100 不符"},
        {"claims-fewer-rows.bmp", hostile::Rle8Bmp(320, 100, 0, 50), {}, "320 x 50 不符"},
        {"ends-before-last-row.bmp", hostile::Rle8Bmp(320, 100, 0, 200), {}, "320 x 200 不符"},
    });
}

TEST_F(ImageFileTest, OneBudgetForEveryFormatCheckedBeforeDecoding) {
    // 0x7FFFFFFF squared and 0xFFFFFFFF squared overflow 64 bits once multiplied by the
    // bytes of a pixel; they are refused, not wrapped into something small.
    const QByteArray png = hostile::Png(hostile::Scene(16, 16));
    Expect({
        {"overflow.bmp", hostile::BmpHeaders(0x7FFFFFFF, 0x7FFFFFFF, 24, 0, 0, 0) + QByteArray(64, 'x'),
         {}, "2147483647 x 2147483647 过大"},
        {"overflow.png", hostile::PngClaiming(png, 0xFFFFFFFFu, 0xFFFFFFFFu), {}, "4294967295 x 4294967295 过大"},
        {"tall.png", hostile::PngClaiming(png, 1, 0x7FFFFFFFu), {}, "1 x 2147483647 过大"},
        {"lying.bmp", hostile::Bmp24(8, 8).left(200), {}, "文件头与文件内容不符"},
        {"lying.png", hostile::PngClaiming(png, 17, 16), {}, "无法解码"},
        {"half-idat.png", hostile::PngHalfData(hostile::Png(hostile::Scene(256, 256))), {}, "无法解码"},
        // Valid, within our 256 MB, beyond Qt's own default 128 MB limit: they load.
        {"6000x6000.bmp", hostile::Bmp24(6000, 6000), {6000, 6000}, ""},
        {"4200x4200-16bit.png", Grey16Png(4200, 4200), {4200, 4200}, ""},
    });
    EXPECT_GE(QImageReader::allocationLimit(), 256);
}

TEST_F(ImageFileTest, TheBudgetIsTheCallersToChoose) {
    TBudget small;
    small.Bytes = 100 << 10;  // 100 KB: a 320 x 240 picture takes 225 KB as JPEG
    const TDecoded refused = Load("small.jpg", hostile::EncodeJpeg(hostile::Scene(320, 240)), small);
    EXPECT_TRUE(refused.Error.contains("320 x 240 过大")) << refused.Error.toStdString();

    // Work: 64 scans of a 320 x 240 picture are 14 MB of work.
    TBudget lazy;
    lazy.Work = 10 << 20;
    const TDecoded tooMuch = Load("work.jpg", hostile::ProgressiveScanBomb(320, 240, 63, 1), lazy);
    EXPECT_TRUE(tooMuch.Error.contains("64 次扫描")) << tooMuch.Error.toStdString();
    EXPECT_TRUE(Load("work.jpg", hostile::ProgressiveScanBomb(320, 240, 63, 1)).Loaded());
}

TEST_F(ImageFileTest, CancelStopsADecodingInProgress) {
    // 64 full passes over a 7000 x 7000 picture: seconds of work, within a wider budget.
    const QString path = Write("slow.jpg", hostile::ProgressiveScanBomb(7000, 7000, 63, 1));
    TBudget wide;
    wide.Work = qint64(64) << 30;
    ImageFile::TCancelFlag cancel{false};
    std::thread canceller([&cancel] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        cancel = true;
    });
    const TDecoded decoded = LoadImageFile(path, wide, &cancel);
    canceller.join();
    EXPECT_TRUE(decoded.Cancelled);
    EXPECT_TRUE(decoded.Picture.isNull());
    EXPECT_TRUE(decoded.Error.isEmpty());

    ImageFile::TCancelFlag already{true};
    EXPECT_TRUE(LoadImageFile(Write("bmp.bmp", hostile::Bmp24(64, 64)), {}, &already).Cancelled);
}

TEST_F(ImageFileTest, SpecialAndOddFilesNeverBlock) {
    const QString fifo = folder.filePath("pipe.jpg");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    for (const QString& path :
         {fifo, folder.filePath("missing.jpg"), folder.path(), QStringLiteral("/dev/zero")}) {
        SCOPED_TRACE(path.toStdString());
        const TDecoded decoded = LoadImageFile(path);
        EXPECT_FALSE(decoded.Loaded());
        EXPECT_TRUE(decoded.Error.contains(path));
    }
    EXPECT_TRUE(Load("text.jpg", "hello\n").Error.contains("不是 JPEG、BMP 或 PNG"));
    EXPECT_TRUE(Load("empty.jpg", "").Error.contains("空的"));
}

// An APP1 segment holding the TIFF structure `tiff`, put right after the start marker.
QByteArray WithExif(const QByteArray& jpeg, const QByteArray& tiff) {
    const QByteArray body = QByteArray("Exif\0\0", 6) + tiff;
    const qsizetype length = body.size() + 2;
    QByteArray segment("\xFF\xE1", 2);
    segment += char(length >> 8);
    segment += char(length & 0xFF);
    return jpeg.left(2) + segment + body + jpeg.mid(2);
}

// A TIFF structure whose first directory holds one entry: `tag` of `type`, `count`, with
// `value` in the entry (little- or big-endian), and `claimed` entries said to be there.
QByteArray Tiff(uint16_t value, bool little = true, uint16_t tag = 0x0112, uint16_t type = 3,
                uint32_t count = 1, uint16_t claimed = 1, uint32_t directory = 8) {
    QByteArray t;
    auto put16 = [&](uint32_t v) {
        t += char(little ? v & 0xFF : v >> 8 & 0xFF);
        t += char(little ? v >> 8 & 0xFF : v & 0xFF);
    };
    auto put32 = [&](uint32_t v) {
        if (little) {
            put16(v & 0xFFFF), put16(v >> 16);
        } else {
            put16(v >> 16), put16(v & 0xFFFF);
        }
    };
    t += little ? "II" : "MM";
    put16(42);
    put32(directory);
    put16(claimed);
    put16(tag), put16(type), put32(count), put16(value), put16(0);
    put32(0);  // no next directory
    return t;
}

}  // namespace

// A photograph stored as the sensor read it, with the EXIF orientation saying how the
// camera was held (phones write 6 for a portrait): it loads the way it was taken. Four
// quadrants, red, green, blue and white, show where each corner went.
TEST_F(ImageFileTest, APhotographLoadsAsTheCameraWasHeld) {
    QImage stored(64, 32, QImage::Format_BGR888);
    const QColor red(220, 30, 30), green(30, 200, 30), blue(30, 30, 220), white(240, 240, 240);
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 64; ++x) {
            stored.setPixelColor(x, y, y < 16 ? (x < 32 ? red : green) : (x < 32 ? blue : white));
        }
    }
    const QByteArray jpeg = hostile::EncodeJpeg(stored);
    enum Corner { kTopLeft, kTopRight, kBottomLeft, kBottomRight };
    const struct {
        int orientation;
        bool little;
        Corner red, green;  // where the stored top-left and top-right corners are shown
    } cases[] = {
        {1, true, kTopLeft, kTopRight},        {2, true, kTopRight, kTopLeft},
        {3, false, kBottomRight, kBottomLeft}, {4, true, kBottomLeft, kBottomRight},
        {5, true, kTopLeft, kBottomLeft},      {6, true, kTopRight, kBottomRight},
        {6, false, kTopRight, kBottomRight},   {7, true, kBottomRight, kTopRight},
        {8, true, kBottomLeft, kTopLeft},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.orientation);
        SCOPED_TRACE(c.little ? "II" : "MM");
        const TDecoded decoded = Load("turned.jpg", WithExif(jpeg, Tiff(c.orientation, c.little)));
        ASSERT_TRUE(decoded.Loaded()) << decoded.Error.toStdString();
        EXPECT_EQ(decoded.Picture.format(), QImage::Format_BGR888);
        const bool across = c.orientation >= 5;
        ASSERT_EQ(decoded.Picture.size(), across ? QSize(32, 64) : QSize(64, 32));
        const int w = decoded.Picture.width(), h = decoded.Picture.height();
        auto at = [&](Corner corner) {
            const int x = corner == kTopLeft || corner == kBottomLeft ? w / 4 : 3 * w / 4;
            const int y = corner == kTopLeft || corner == kTopRight ? h / 4 : 3 * h / 4;
            return decoded.Picture.pixelColor(x, y);
        };
        EXPECT_GT(at(c.red).red(), 180);
        EXPECT_LT(at(c.red).green(), 80);
        EXPECT_GT(at(c.green).green(), 160);
        EXPECT_LT(at(c.green).red(), 80);
    }

    // Metadata that is broken or out of place turns nothing and refuses nothing.
    const struct {
        const char* name;
        QByteArray tiff;
    } broken[] = {
        {"value 9", Tiff(9)},
        {"a LONG, not a SHORT", Tiff(6, true, 0x0112, 4)},
        {"two values", Tiff(6, true, 0x0112, 3, 2)},
        {"entries beyond the segment", Tiff(6, true, 0x0112, 3, 1, 5000)},
        {"directory beyond the segment", Tiff(6, true, 0x0112, 3, 1, 1, 0xFFFFFFF0u)},
        {"directory inside the header", Tiff(6, true, 0x0112, 3, 1, 1, 2)},
        {"not TIFF", QByteArray("XX\x2A\x00\x08\x00\x00\x00", 8)},
        {"header only", QByteArray("II", 2)},
    };
    for (const auto& b : broken) {
        SCOPED_TRACE(b.name);
        const TDecoded decoded = Load("odd.jpg", WithExif(jpeg, b.tiff));
        ASSERT_TRUE(decoded.Loaded()) << decoded.Error.toStdString();
        EXPECT_EQ(decoded.Picture.size(), QSize(64, 32));
        EXPECT_GT(decoded.Picture.pixelColor(16, 8).red(), 180);
    }
}
