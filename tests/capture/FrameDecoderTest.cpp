// Camera frames into pictures: what a USB camera sends decodes, at full size or scaled by
// the JPEG decoder; what is damaged, short or not a camera's frame is refused whole.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>

#include <jpeglib.h>

#include <QBuffer>
#include <QImageWriter>

#include <gtest/gtest.h>

#include "capture/FrameDecoder.h"
#include "support/HostileImages.h"
#include "support/NativeFrames.h"

namespace {

// Smooth ramps, red across and green down, over 240 pixels: a picture shifted by a row
// or a column shows.
QImage Stripes(int w, int h) {
    QImage picture(w, h, QImage::Format_BGR888);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            picture.setPixelColor(x, y, QColor(std::min(x, 255), std::min(y, 255), 128));
        }
    }
    return picture;
}

TNativeFrame Reframed(TNativeFrame frame, int width, int height) {
    frame.Width = width;
    frame.Height = height;
    return frame;
}

TNativeFrame WithBytesAfterTheEnd(const TNativeFrame& frame) {
    std::vector<uint8_t> bytes(frame.Data(), frame.Data() + frame.Size);
    bytes.resize(bytes.size() + 5000, 0xA5);
    return NativeFrameOf(frame.PixelFormat, frame.Width, frame.Height, std::move(bytes));
}

TNativeFrame Progressive(const QImage& picture) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setProgressiveScanWrite(true);
    writer.write(picture);
    return NativeFrameOf(V4L2_PIX_FMT_MJPEG, picture.width(), picture.height(),
                         std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

// A picture whose every pixel has grain, over ramps and squares: every coefficient of
// every block counts. Grey, or in colours that stay clear of 0 and 255 (where clamping
// would hide differences).
QImage Grainy(int w, int h, bool grey) {
    QImage picture(w, h, QImage::Format_BGR888);
    uint32_t seed = 1;
    for (int y = 0; y < h; ++y) {
        uint8_t* p = picture.scanLine(y);
        for (int x = 0; x < w; ++x, p += 3) {
            seed = seed * 1664525u + 1013904223u;
            const int grain = int(seed >> 28) - 8;
            const int square = ((x / 7 + y / 5) % 2) * 30;
            if (grey) {
                p[0] = p[1] = p[2] = uint8_t(20 + x * 180 / w + square + grain);
            } else {
                p[0] = uint8_t(60 + square + grain);
                p[1] = uint8_t(40 + y * 150 / h + grain);
                p[2] = uint8_t(40 + x * 150 / w + grain);
            }
        }
    }
    return picture;
}

// How a camera might code its frames: luma blocks per chroma block (across, down) and a
// restart marker every so many MCUs (0: none).
struct TCoding {
    int across, down;
    unsigned restart;
};

// A baseline JPEG of `picture` made by libjpeg with that coding, as a camera frame.
TNativeFrame Encoded(const QImage& picture, TCoding coding) {
    hostile::TJpegSettings settings;
    settings.LumaAcross = coding.across;
    settings.LumaDown = coding.down;
    settings.RestartMcus = coding.restart;
    const QByteArray jpeg = hostile::EncodeJpeg(picture, settings);
    return NativeFrameOf(V4L2_PIX_FMT_MJPEG, picture.width(), picture.height(),
                         std::vector<uint8_t>(jpeg.begin(), jpeg.end()));
}

// libjpeg-turbo's own decoding of `frame` at eighths/8, chroma repeated rather than
// interpolated (as ours repeats it).
QImage LibjpegDecoded(const TNativeFrame& frame, int eighths) {
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, frame.Data(), static_cast<unsigned long>(frame.Size));
    jpeg_read_header(&info, TRUE);
    info.scale_num = unsigned(eighths);
    info.scale_denom = 8;
    info.out_color_space = JCS_EXT_BGR;
    info.do_fancy_upsampling = FALSE;
    jpeg_start_decompress(&info);
    QImage picture(int(info.output_width), int(info.output_height), QImage::Format_BGR888);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = picture.scanLine(int(info.output_scanline));
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return picture;
}

// `picture` reduced to eighths/8 of its size by averaging the pixels each new one covers
// (in part, where 8 / eighths is no whole number).
QImage AreaAveraged(const QImage& picture, int eighths) {
    const int w = (picture.width() * eighths + 7) / 8, h = (picture.height() * eighths + 7) / 8;
    const double group = 8.0 / eighths;
    QImage out(w, h, QImage::Format_BGR888);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            double sum[3] = {}, weight = 0;
            for (int j = int(y * group); j < std::min(picture.height(), int((y + 1) * group) + 1);
                 ++j) {
                const double wy = std::min(j + 1.0, (y + 1) * group) - std::max(1.0 * j, y * group);
                for (int i = int(x * group);
                     i < std::min(picture.width(), int((x + 1) * group) + 1); ++i) {
                    const double wx =
                        std::min(i + 1.0, (x + 1) * group) - std::max(1.0 * i, x * group);
                    if (wx <= 0 || wy <= 0) {
                        continue;
                    }
                    for (int c = 0; c < 3; ++c) {
                        sum[c] += wx * wy * picture.constScanLine(j)[3 * i + c];
                    }
                    weight += wx * wy;
                }
            }
            for (int c = 0; c < 3; ++c) {
                out.scanLine(y)[3 * x + c] = uint8_t(sum[c] / weight + 0.5);
            }
        }
    }
    return out;
}

// The largest and the mean difference of any component between two pictures of a size.
struct TDifference {
    int worst = 0;
    double mean = 0;
};
TDifference Difference(const QImage& a, const QImage& b) {
    TDifference d;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < 3 * a.width(); ++x) {
            const int e = std::abs(a.constScanLine(y)[x] - b.constScanLine(y)[x]);
            d.worst = std::max(d.worst, e);
            d.mean += e;
        }
    }
    d.mean /= 3.0 * a.width() * a.height();
    return d;
}

// `frame` with the bytes from `at` (a fraction of its size) replaced by `with`, and
// `drop` bytes left out there.
TNativeFrame Spliced(const TNativeFrame& frame, double at, std::vector<uint8_t> with,
                     std::size_t drop = 0) {
    std::vector<uint8_t> bytes(frame.Data(), frame.Data() + frame.Size);
    const auto from = bytes.begin() + std::ptrdiff_t(bytes.size() * at);
    const auto to = from + std::ptrdiff_t(std::min<std::size_t>(drop, bytes.end() - from));
    bytes.insert(bytes.erase(from, to), with.begin(), with.end());
    return NativeFrameOf(frame.PixelFormat, frame.Width, frame.Height, std::move(bytes));
}

// `frame` with the Huffman tables its scan names for its first component renumbered
// to `numbers` (DC in the high four bits, AC in the low).
TNativeFrame ScanTablesNumbered(const TNativeFrame& frame, uint8_t numbers) {
    std::vector<uint8_t> bytes(frame.Data(), frame.Data() + frame.Size);
    for (std::size_t i = 0; i + 6 < bytes.size(); ++i) {
        if (bytes[i] == 0xFF && bytes[i + 1] == 0xDA) {  // length, count, first id, tables
            bytes[i + 6] = numbers;
            break;
        }
    }
    return NativeFrameOf(frame.PixelFormat, frame.Width, frame.Height, std::move(bytes));
}

// Where the restart marker `n` (0..7) is, counting from the frame's start: its first
// `skip` occurrences passed over.
std::size_t RestartMarker(const TNativeFrame& frame, int n, int skip) {
    for (std::size_t i = 0; i + 1 < frame.Size; ++i) {
        if (frame.Data()[i] == 0xFF && frame.Data()[i + 1] == 0xD0 + n && skip-- == 0) {
            return i;
        }
    }
    return 0;
}

}  // namespace

// A camera's frame made smaller for the live picture is our own reading of its
// coefficients: at 1/8, 1/4 and 1/2 the reduction libjpeg-turbo makes, at 3/8 the area
// average of the whole picture; in every chroma sampling, with restart markers or none,
// with Huffman tables or the standard ones. As 32-bit pixels, the same colours.
TEST(FrameDecoder, ReducesMotionJpegAsLibjpegTurboAndTheAreaAverage) {
    const QImage colour = Grainy(320, 240, false), grey = Grainy(320, 240, true);
    const struct {
        const char* name;
        TCoding coding;
    } codings[] = {
        {"4:2:2", {2, 1, 0}},
        {"4:2:0, restarts every 3 MCUs", {2, 2, 3}},
        {"4:4:4, restarts every MCU", {1, 1, 1}},
        {"4:2:2, restarts every 7 MCUs", {2, 1, 7}},
    };
    TFrameDecoder decoder;
    for (const auto& c : codings) {
        SCOPED_TRACE(c.name);
        for (int eighths = 1; eighths <= 4; ++eighths) {
            SCOPED_TRACE(eighths);
            const bool averaged = eighths == 3;  // libjpeg-turbo reduces 3/8 another way
            const TNativeFrame frame = Encoded(averaged ? grey : colour, c.coding);
            const QSize wanted(320 * eighths / 8, 240 * eighths / 8);
            QImage picture, wide;
            ASSERT_EQ(decoder.Decode(frame, picture, wanted), 0);
            ASSERT_EQ(picture.size(), wanted);
            const QImage expected = averaged ? AreaAveraged(LibjpegDecoded(frame, 8), 3)
                                             : LibjpegDecoded(frame, eighths);
            const TDifference d = Difference(picture, expected);
            EXPECT_LE(d.worst, averaged ? 8 : 3);
            EXPECT_LE(d.mean, 0.5);
            ASSERT_EQ(decoder.Decode(frame, wide, wanted, QImage::Format_RGB32), 0);
            ASSERT_EQ(wide.format(), QImage::Format_RGB32);
            EXPECT_TRUE(wide == picture.convertToFormat(QImage::Format_RGB32));
        }
    }
    // A camera's own frames: no Huffman tables, then its first frame with them.
    for (const bool tables : {false, true}) {
        const TNativeFrame frame = MjpegFrame(colour, {tables, false});
        QImage picture;
        ASSERT_EQ(decoder.Decode(frame, picture, {80, 60}), 0);
        EXPECT_LE(Difference(picture, LibjpegDecoded(frame, 2)).worst, 3);
    }
}

// A damaged frame is refused whether it is decoded whole for a photograph (libjpeg-turbo)
// or made smaller for the live picture (ours).
TEST(FrameDecoder, RefusesADamagedFrameAtEverySize) {
    const QImage picture = Grainy(320, 240, false);
    const TNativeFrame camera = MjpegFrame(picture);
    const TNativeFrame restarts = Encoded(picture, {2, 1, 4});
    const std::size_t second = RestartMarker(restarts, 1, 0);
    ASSERT_GT(second, 0u);
    const double atSecond = double(second) / restarts.Size;
    const struct {
        const char* name;
        TNativeFrame frame;
    } cases[] = {
        {"cut short", Cut(camera, 0.6)},
        {"the end marker missing", Cut(camera, 1.0 - 2.0 / camera.Size)},
        {"the end marker halfway", Spliced(camera, 0.55, {0xFF, 0xD9}, camera.Size)},
        {"a segment in the data", Spliced(camera, 0.5, {0xFF, 0xC4, 0x00, 0x02})},
        {"bits that are no code", Spliced(camera, 0.5, std::vector<uint8_t>(64, 0xFF), 64)},
        {"a restart marker out of turn", Spliced(restarts, atSecond, {0xFF, 0xD3}, 2)},
        {"a restart marker missing", Spliced(restarts, atSecond, {}, 2)},
        {"a second scan", Spliced(camera, 1.0 - 2.0 / camera.Size,
                                  {0xFF, 0xDA, 0x00, 0x08, 0x01, 0x01, 0x00, 0x00, 0x3F, 0x00})},
        {"a Huffman table that cannot be", ScanTablesNumbered(camera, 0x99)},
    };
    TFrameDecoder decoder;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (const QSize atLeast :
             {QSize(), QSize(40, 30), QSize(80, 60), QSize(120, 90), QSize(160, 120)}) {
            SCOPED_TRACE(atLeast.width());
            QImage out;
            EXPECT_EQ(decoder.Decode(c.frame, out, atLeast), -EBADMSG);
        }
        QImage out;
        ASSERT_EQ(decoder.Decode(camera, out, {80, 60}), 0) << "a refused frame spoils the next";
    }
}

// Frames damaged at random (bits flipped, bytes changed, cut, markers put in, bytes left
// out) in every coding: made smaller for the live picture, a frame is shown only where
// libjpeg-turbo would decode it whole without a warning, and nothing is read outside it
// (this test runs again under AddressSanitizer and UBSan: ctest "Sanitized.*").
TEST(FrameDecoder, AFrameDamagedAtRandomIsShownOnlyWhereItDecodesWhole) {
    const QImage picture = Grainy(96, 64, false);
    const TNativeFrame seeds[] = {
        MjpegFrame(picture),         MjpegFrame(picture, {true, true}), Encoded(picture, {2, 1, 3}),
        Encoded(picture, {2, 2, 1}), Encoded(picture, {1, 1, 5}),
    };
    std::mt19937 random(2024);
    TFrameDecoder decoder;
    int shown = 0;
    for (int i = 0; i < 4000; ++i) {
        const TNativeFrame& seed = seeds[random() % std::size(seeds)];
        std::vector<uint8_t> bytes(seed.Data(), seed.Data() + seed.Size);
        const int how = int(random() % 5), times = 1 + int(random() % 4);
        for (int t = 0; t < times && bytes.size() > 4; ++t) {
            const std::size_t at = random() % bytes.size();
            switch (how) {
                case 0:
                    bytes[at] ^= uint8_t(1u << (random() % 8));
                    break;
                case 1:
                    bytes[at] = uint8_t(random());
                    break;
                case 2:
                    bytes.resize(at);
                    break;
                case 3:
                    bytes.insert(bytes.begin() + std::ptrdiff_t(at),
                                 {0xFF, uint8_t(0xC0 + random() % 64)});
                    break;
                default:
                    bytes.erase(bytes.begin() + std::ptrdiff_t(at));
                    break;
            }
        }
        const TNativeFrame frame =
            NativeFrameOf(V4L2_PIX_FMT_MJPEG, seed.Width, seed.Height, std::move(bytes));
        const int eighths = 1 + int(i % 4);
        QImage out;
        const int reduced = decoder.Decode(frame, out, {96 * eighths / 8, 64 * eighths / 8},
                                           i % 2 ? QImage::Format_RGB32 : QImage::Format_BGR888);
        ASSERT_TRUE(reduced == 0 || reduced == -EBADMSG) << i;
        if (reduced == 0) {
            ++shown;
            EXPECT_EQ(decoder.Decode(frame, out), 0) << i << ": shown, yet damaged whole";
        }
    }
    EXPECT_GT(shown, 0) << "some changes leave a frame whole (a byte after its end)";
}

TEST(FrameDecoder, DecodesCameraFramesAndRefusesWhatIsNotOneWhole) {
    const QImage picture = Stripes(320, 240);
    const TNativeFrame mjpeg = MjpegFrame(picture);
    const struct {
        const char* name;
        TNativeFrame frame;
        QSize atLeast;
        int result;
        QSize size;
    } cases[] = {
        {"YUYV", YuyvFrame(picture), {}, 0, {320, 240}},
        {"YUYV, scaling not asked of it", YuyvFrame(picture), {40, 30}, 0, {320, 240}},
        {"Motion-JPEG without Huffman tables", mjpeg, {}, 0, {320, 240}},
        {"with them and an AVI1 segment", MjpegFrame(picture, {true, true}), {}, 0, {320, 240}},
        {"with bytes after the end", WithBytesAfterTheEnd(mjpeg), {}, 0, {320, 240}},
        {"at 1/2", mjpeg, {150, 100}, 0, {160, 120}},
        {"at 3/8", mjpeg, {100, 90}, 0, {120, 90}},
        {"at 1/4", mjpeg, {80, 60}, 0, {80, 60}},
        {"at 1/8", mjpeg, {1, 1}, 0, {40, 30}},
        {"padded to whole blocks",
         Reframed(MjpegFrame(Stripes(320, 248)), 320, 240),
         {},
         0,
         {320, 240}},
        {"YUYV short", Cut(YuyvFrame(picture), 0.99), {}, -EBADMSG, {}},
        {"Motion-JPEG cut short", Cut(mjpeg, 0.6), {}, -EBADMSG, {}},
        {"a picture larger than the format", Reframed(mjpeg, 160, 120), {}, -EBADMSG, {}},
        {"smaller than the format", Reframed(mjpeg, 640, 480), {}, -EBADMSG, {}},
        {"progressive", Progressive(picture), {}, -EBADMSG, {}},
        {"not a JPEG",
         NativeFrameOf(V4L2_PIX_FMT_MJPEG, 320, 240, std::vector<uint8_t>(9000, 7)),
         {},
         -EBADMSG,
         {}},
        {"nothing at all", NativeFrameOf(V4L2_PIX_FMT_MJPEG, 320, 240, {}), {}, -EBADMSG, {}},
        {"a format it does not know",
         NativeFrameOf(V4L2_PIX_FMT_SBGGR8, 320, 240, std::vector<uint8_t>(320 * 240)),
         {},
         -ENOTSUP,
         {}},
    };
    TFrameDecoder decoder;  // one for all: a refused frame must not spoil the next
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QImage out;
        ASSERT_EQ(decoder.Decode(c.frame, out, c.atLeast), c.result);
        if (c.result != 0) {
            continue;
        }
        EXPECT_EQ(out.size(), c.size);
        EXPECT_EQ(out.format(), QImage::Format_BGR888);
        // Near the source where it is whole; scaled pictures by their average colour.
        const QImage expected =
            picture.scaled(out.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        int worst = 0;
        for (int y = 0; y < out.height(); y += 7) {
            for (int x = 0; x < out.width(); x += 5) {
                const QColor a = out.pixelColor(x, y), b = expected.pixelColor(x, y);
                worst =
                    std::max({worst, std::abs(a.red() - b.red()), std::abs(a.green() - b.green())});
            }
        }
        EXPECT_LE(worst, out.size() == picture.size() ? 6 : 12);
    }
}
