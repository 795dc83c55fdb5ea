// The photograph's fast path (row-wise enlarging, black and white inside the encoding,
// raw luminance planes, every vector level) against the plain chain: scale the whole
// picture plane by plane with libyuv, turn the whole picture grey, encode its B, G, R rows
// with plain libjpeg. Same bytes, or the fast path is wrong.
#include "photo/Exif.h"
#include "photo/Grey.h"
#include "photo/Jpeg.h"
#include "photo/PictureMemory.h"
#include "photo/Scale.h"
#include "photo/Simd.h"
#include "photo/SizeRule.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include <libyuv/planar_functions.h>
#include <libyuv/scale.h>

#include <gtest/gtest.h>

#include "support/JpegCheck.h"
#include "support/TestPictures.h"

using namespace PhotoPipeline;

namespace {

// Scaling the plain way: the whole picture split into planes, each plane widened by libyuv
// (bilinear; box where any side shrinks), interleaved again, and each target row blended
// from the two widened rows around its centre.
QImage PlainScale(const QImage& photo, int width, int height) {
    const int sw = photo.width(), sh = photo.height();
    if (sw == width && sh == height) {
        return photo;
    }
    const bool enlarging = width >= sw && height >= sh;
    const int th = enlarging ? sh : height;  // planes are scaled to this height
    std::vector<uint8_t> s(3 * size_t(sw) * sh), t(3 * size_t(width) * th);
    uint8_t* sp[3] = {&s[0], &s[size_t(sw) * sh], &s[2 * size_t(sw) * sh]};
    uint8_t* tp[3] = {&t[0], &t[size_t(width) * th], &t[2 * size_t(width) * th]};
    libyuv::SplitRGBPlane(photo.constBits(), int(photo.bytesPerLine()), sp[0], sw, sp[1], sw, sp[2],
                          sw, sw, sh);
    for (int c = 0; c < 3; ++c) {
        libyuv::ScalePlane(sp[c], sw, sw, sh, tp[c], width, width, th,
                           enlarging ? libyuv::kFilterBilinear : libyuv::kFilterBox);
    }
    QImage scaled(width, height, QImage::Format_BGR888);
    if (!enlarging) {
        libyuv::MergeRGBPlane(tp[0], width, tp[1], width, tp[2], width, scaled.bits(),
                              int(scaled.bytesPerLine()), width, height);
        return scaled;
    }
    std::vector<uint8_t> wide(3 * size_t(width) * sh);
    libyuv::MergeRGBPlane(tp[0], width, tp[1], width, tp[2], width, wide.data(), 3 * width, width,
                          sh);
    for (int y = 0; y < height; ++y) {
        const int64_t at =
            std::clamp<int64_t>(((2 * int64_t(y) + 1) * sh * 256) / (2 * int64_t(height)) - 128, 0,
                                int64_t(sh - 1) * 256);
        const uint8_t* top = &wide[size_t(at >> 8) * 3 * width];
        const uint8_t* below = (at >> 8) + 1 < sh ? top + 3 * width : top;
        libyuv::InterpolatePlane(top, 3 * width, below, 3 * width, scaled.scanLine(y),
                                 int(scaled.bytesPerLine()), 3 * width, 1, int(at & 255));
    }
    return scaled;
}

// Keeps the vector level limited for as long as it lives.
struct TSimdLimit {
    explicit TSimdLimit(TSimdLevel level) { LimitSimdLevel(level); }
    ~TSimdLimit() { LimitSimdLevel(slAvx2); }
};

const char* LevelName(TSimdLevel level) {
    return level == slAvx2 ? "avx2" : level == slSsse3 ? "ssse3" : "plain";
}

}  // namespace

// Every output size enlarged from the camera's 640 x 480, a picture kept at its own odd
// size, one shrunk in width; smooth and grainy; quality 1, 80 and 100; colour and black and
// white; with and without the size rule; each case on one of the vector levels in turn.
TEST(PhotoBytes, FastPathWritesThePlainChainsBytesForEveryCase) {
    const QSize outputs[] = {{1600, 1200}, {2048, 1536}, {2580, 1936},
                             {2816, 2112}, {3264, 2448}, {3876, 2584}};
    struct Case {
        QSize Source;
        QSize Output;    // empty: not scaled
        uint16_t Limit;  // size rule in kilobytes, 0 for none
        bool Noise;
        bool BlackAndWhite;
        int Quality;  // unless the size rule chooses it
    };
    std::vector<Case> cases;
    const int qualities[] = {1, 80, 100};
    for (int i = 0; i < 6; ++i) {
        for (const bool noise : {false, true}) {
            for (const bool bw : {false, true}) {
                const int quality = qualities[(i + noise + 2 * bw) % 3];
                cases.push_back({{640, 480}, outputs[i], 0, noise, bw, quality});
            }
        }
    }
    for (const bool bw : {false, true}) {
        cases.push_back({{177, 133}, {}, 0, !bw, bw, 80});            // kept as it is
        cases.push_back({{1920, 1080}, outputs[0], 0, bw, bw, 100});  // narrower
        cases.push_back({{800, 600}, outputs[0], 0, !bw, bw, 1});     // exactly twice as wide
    }
    const uint16_t limits[] = {0, 5, 51, 300};  // 2816 x 2112 q100, 1600 q80, 2580 q80, 2816 q85
    for (int i = 0; i < 4; ++i) {
        const int32_t index = SizeLimitChoice(limits[i]).OutputResolution;
        cases.push_back({{640, 480}, outputs[index], limits[i], i % 2 == 1, i < 2, 0});
    }
    const TSimdLevel levels[] = {SimdLevel(), slSsse3, slPlain};

    for (size_t n = 0; n < cases.size(); ++n) {
        const Case& c = cases[n];
        const TSimdLevel level = levels[n % 3];
        const int quality =
            c.Limit || c.Quality == 0 ? SizeLimitChoice(c.Limit).CompressionQuality : c.Quality;
        const std::string what =
            std::to_string(c.Source.width()) + "x" + std::to_string(c.Source.height()) + " to " +
            std::to_string(c.Output.width()) + "x" + std::to_string(c.Output.height()) +
            (c.Noise ? " grainy" : " smooth") + (c.BlackAndWhite ? " black and white" : " colour") +
            " q" + std::to_string(quality) + (c.Limit ? " size rule " : "") +
            (c.Limit ? std::to_string(c.Limit) + " KB" : "") + " " + LevelName(level);
        SCOPED_TRACE(what);

        const QImage source = Picture(c.Source.width(), c.Source.height(), c.Noise);
        const QSize size = c.Output.isEmpty() ? c.Source : c.Output;
        QImage plain = PlainScale(source, size.width(), size.height());
        if (c.BlackAndWhite) {
            ToGrey(plain);
        }
        const QByteArray expected = PlainLibjpeg(plain, quality);

        TSimdLimit limit(level);
        QImage photo = source;
        ASSERT_TRUE(ScalePhoto(photo, size.width(), size.height()));
        QByteArray streamed, jpeg;
        int pieces = 0;
        TJpegHooks hooks;
        // With an EXIF block in every third case: the bytes after it are the same.
        if (n % 3 == 1) {
            hooks.Exif = ExifBlock(
                {QDateTime(QDate(2024, 12, 25), QTime(14, 30, 5)), QStringLiteral("Camera"),
                 QStringLiteral("Snapix"), n % 2 ? QStringLiteral("caption") : QString()},
                size);
            ASSERT_FALSE(hooks.Exif.isEmpty());
        }
        const auto withoutExif = [&hooks](const QByteArray& jpeg) {
            if (hooks.Exif.isEmpty()) {
                return jpeg;
            }
            const ExifSplit split = SplitAtExif(jpeg);
            EXPECT_TRUE(split.Found && split.Exif == hooks.Exif) << "the block after JFIF";
            return split.WithoutExif();
        };
        // Streamed to a file in pieces, as photographs are, or kept whole.
        if (n % 2 == 0) {
            hooks.Output = [&](const char* data, size_t bytes) {
                streamed.append(data, qsizetype(bytes));
                ++pieces;
            };
        }
        QString why;
        ASSERT_TRUE(c.BlackAndWhite ? EncodeBlackAndWhiteJpeg(photo, quality, jpeg, why, hooks)
                                    : EncodeJpeg(photo, quality, jpeg, why, hooks))
            << why.toStdString();

        EXPECT_TRUE(photo == plain) << "the photo after its steps";
        ASSERT_EQ(withoutExif(jpeg).size(), expected.size());
        EXPECT_TRUE(withoutExif(jpeg) == expected);
        if (hooks.Output) {
            EXPECT_TRUE(streamed == jpeg) << "streamed bytes";
            if (jpeg.size() > 2 << 20) {
                EXPECT_GE(pieces, 2) << "a large stream goes out in pieces";
            }
        }
        const StrictJpeg decoded = StrictDecode(jpeg);
        EXPECT_TRUE(decoded.Ok()) << decoded.Error.toStdString();
        EXPECT_EQ(QSize(decoded.Width, decoded.Height), size);
        EXPECT_EQ(decoded.Components, 3);

        // The same photograph enlarged on a second thread while it is encoded.
        TEnlargement enlargement;
        if (size == c.Source || !enlargement.Begin(source, size.width(), size.height())) {
            EXPECT_FALSE(size.width() >= c.Source.width() && size.height() >= c.Source.height() &&
                         size != c.Source)
                << "an enlargement that could not begin";
            continue;
        }
        QImage made = enlargement.TakePicture();
        QByteArray whileMade;
        streamed.clear();
        ASSERT_TRUE(EncodeJpegWhileMaking(
            made, c.BlackAndWhite, quality,
            [&](int first, int count) { enlargement.MakeRows(first, count); }, whileMade, why,
            hooks))
            << why.toStdString();
        EXPECT_TRUE(made == plain) << "the photo made while encoded";
        EXPECT_TRUE(withoutExif(whileMade) == expected) << "bytes of the photo made while encoded";
        if (hooks.Output) {
            EXPECT_TRUE(streamed == whileMade) << "streamed bytes of the photo made while encoded";
        }
    }
}

// A photo made while it is encoded is whole (and grey) when the encoding returns, also
// when libjpeg refuses it; a shared photo is made first, in one go, and then encoded.
TEST(PhotoBytes, APhotoMadeWhileEncodedIsWholeAlsoWhenTheEncodingFails) {
    struct Case {
        QSize Source, Size;
        bool Shared, Fails;
    };
    const Case cases[] = {
        {{320, 240}, {1600, 1200}, false, false},
        {{320, 240}, {1600, 1200}, true, false},
        {{16, 16}, {65504, 40}, false, true},  // wider than JPEG allows
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.Size.width()) + (c.Shared ? " shared" : ""));
        const QImage source = Picture(c.Source.width(), c.Source.height(), true);
        QImage plain = PlainScale(source, c.Size.width(), c.Size.height());
        ToGrey(plain);
        TEnlargement enlargement;
        ASSERT_TRUE(enlargement.Begin(source, c.Size.width(), c.Size.height()));
        QImage made = enlargement.TakePicture();
        const QImage other = c.Shared ? made : QImage();
        std::atomic<int> calls{0};
        QByteArray out("kept");
        QString why;
        const bool encoded = EncodeJpegWhileMaking(
            made, true, 100,
            [&](int first, int count) {
                ++calls;
                enlargement.MakeRows(first, count);
            },
            out, why);
        EXPECT_EQ(encoded, !c.Fails) << why.toStdString();
        if (c.Fails) {
            EXPECT_EQ(out, QByteArray("kept"));
            EXPECT_FALSE(why.isEmpty());
        } else {
            EXPECT_TRUE(out == PlainLibjpeg(plain, 100));
        }
        EXPECT_EQ(calls, c.Shared ? 1 : (c.Size.height() + 15) / 16);
        EXPECT_TRUE(made == plain) << "the photo made whole and grey";
    }
}

// A picture's memory goes back for reuse only when its last copy is gone.
TEST(PhotoBytes, MemoryOfAPictureStillInUseIsNeverHandedOutAgain) {
    QImage first = NewBgrPicture(3876, 2584);
    ASSERT_FALSE(first.isNull());
    ASSERT_EQ(first.format(), QImage::Format_BGR888);
    std::memset(first.bits(), 0x5A, size_t(first.sizeInBytes()));
    const QImage kept = first;  // as the window keeps the last photograph
    first = QImage();

    QImage second = NewBgrPicture(3876, 2584);
    ASSERT_FALSE(second.isNull());
    EXPECT_NE(second.constBits(), kept.constBits());
    std::memset(second.bits(), 0xA5, size_t(second.sizeInBytes()));
    for (int y = 0; y < kept.height(); y += 97) {
        ASSERT_EQ(kept.constScanLine(y)[0], 0x5A) << "row " << y;
        ASSERT_EQ(kept.constScanLine(y)[3 * 3875 + 2], 0x5A) << "row " << y;
    }
}

// A photograph's two large blocks (its picture and its luminance plane) both come back
// for the next photograph, whichever order they were given back in.
TEST(PhotoBytes, APhotographsLargeBlocksAreReusedByTheNext) {
    const size_t planeBytes = size_t(3904) * 2592;
    for (const bool planeFirst : {false, true}) {
        SCOPED_TRACE(planeFirst ? "plane given back first" : "picture given back first");
        QImage picture = NewBgrPicture(3876, 2584);
        TPictureMemory plane = AllocatePictureMemory(planeBytes);
        ASSERT_FALSE(picture.isNull());
        ASSERT_TRUE(plane);
        const uint8_t* const pictureAt = picture.constBits();
        const uint8_t* const planeAt = plane.get();
        if (planeFirst) {
            plane.reset();
            picture = QImage();
        } else {
            picture = QImage();
            plane.reset();
        }
        EXPECT_EQ(KeptPictureBlocks(), 2);
        const QImage next = NewBgrPicture(3876, 2584);
        const TPictureMemory nextPlane = AllocatePictureMemory(planeBytes);
        EXPECT_EQ(KeptPictureBlocks(), 0) << "both taken again";
        EXPECT_EQ(next.constBits(), pictureAt);
        EXPECT_EQ(nextPlane.get(), planeAt);
    }
}
