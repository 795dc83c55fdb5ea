// Camera frames into pictures: what a USB camera sends decodes, at full size or scaled by
// the JPEG decoder; what is damaged, short or not a camera's frame is refused whole.
#include <QBuffer>
#include <QImageWriter>

#include <gtest/gtest.h>

#include "capture/FrameDecoder.h"
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

}  // namespace

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
        {"at 1/2", mjpeg, {150, 120}, 0, {160, 120}},
        {"at 1/4", mjpeg, {80, 60}, 0, {80, 60}},
        {"at 1/8", mjpeg, {1, 1}, 0, {40, 30}},
        {"padded to whole blocks", Reframed(MjpegFrame(Stripes(320, 248)), 320, 240), {}, 0,
         {320, 240}},
        {"YUYV short", Cut(YuyvFrame(picture), 0.99), {}, -EBADMSG, {}},
        {"Motion-JPEG cut short", Cut(mjpeg, 0.6), {}, -EBADMSG, {}},
        {"a picture larger than the format", Reframed(mjpeg, 160, 120), {}, -EBADMSG, {}},
        {"smaller than the format", Reframed(mjpeg, 640, 480), {}, -EBADMSG, {}},
        {"progressive", Progressive(picture), {}, -EBADMSG, {}},
        {"not a JPEG", NativeFrameOf(V4L2_PIX_FMT_MJPEG, 320, 240, std::vector<uint8_t>(9000, 7)),
         {}, -EBADMSG, {}},
        {"nothing at all", NativeFrameOf(V4L2_PIX_FMT_MJPEG, 320, 240, {}), {}, -EBADMSG, {}},
        {"a format it does not know", NativeFrameOf(V4L2_PIX_FMT_SBGGR8, 320, 240,
                                                     std::vector<uint8_t>(320 * 240)),
         {}, -ENOTSUP, {}},
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
        const QImage expected = picture.scaled(out.size(), Qt::IgnoreAspectRatio,
                                               Qt::SmoothTransformation);
        int worst = 0;
        for (int y = 0; y < out.height(); y += 7) {
            for (int x = 0; x < out.width(); x += 5) {
                const QColor a = out.pixelColor(x, y), b = expected.pixelColor(x, y);
                worst = std::max({worst, std::abs(a.red() - b.red()),
                                  std::abs(a.green() - b.green())});
            }
        }
        EXPECT_LE(worst, out.size() == picture.size() ? 6 : 12);
    }
}
