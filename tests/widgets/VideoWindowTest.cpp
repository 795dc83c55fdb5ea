// The live picture: frames stretched to the video window, straight into its backing
// store or through a picture of its own, on every vector level.
#include "widgets/FrameStretcher.h"
#include "widgets/VideoWindow.h"

#include <string>

#include <QPixmap>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

#include "photo/Simd.h"

namespace {

// A frame in which every pixel differs from its neighbours in each component.
QImage Frame(int w, int h) {
    QImage frame(w, h, QImage::Format_BGR888);
    for (int y = 0; y < h; ++y) {
        uint8_t* p = frame.scanLine(y);
        for (int x = 0; x < w; ++x, p += 3) {
            p[0] = uint8_t(x * 7 + y);
            p[1] = uint8_t(x + y * 5);
            p[2] = uint8_t(x * 3 + y * 11 + 1);
        }
    }
    return frame;
}

// The source pixel under the centre of each target pixel, opaque.
QImage Stretched(const QImage& frame, int w, int h) {
    QImage picture(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
        const int sy = int((2 * int64_t(y) + 1) * frame.height() / (2 * int64_t(h)));
        for (int x = 0; x < w; ++x) {
            const int sx = int((2 * int64_t(x) + 1) * frame.width() / (2 * int64_t(w)));
            const uint8_t* p = frame.constScanLine(sy) + 3 * sx;
            picture.setPixel(x, y, qRgb(p[2], p[1], p[0]));
        }
    }
    return picture;
}

// The first pixel where two pictures differ, for the failure message.
std::string FirstDifference(const QImage& a, const QImage& b) {
    if (a.size() != b.size()) {
        return "sizes differ";
    }
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            if (a.pixel(x, y) != b.pixel(x, y)) {
                return "first at " + std::to_string(x) + "," + std::to_string(y);
            }
        }
    }
    return "none";
}

}  // namespace

// Enlarging (gathered in pieces of four pixels, the last ones pixel by pixel), shrinking,
// the same size, odd sizes and single pixels, on each vector level.
TEST(FrameStretcher, EachPixelTakesTheFramePixelUnderItsCentre) {
    const QSize frames[] = {{1280, 1024}, {640, 480}, {17, 9}, {1, 1}};
    const QSize targets[] = {{1920, 1080}, {640, 480}, {364, 255}, {23, 11}, {1, 1}};
    const PhotoPipeline::TSimdLevel levels[] = {PhotoPipeline::SimdLevel(), PhotoPipeline::slSsse3,
                                                PhotoPipeline::slPlain};
    TFrameStretcher stretcher;  // one for all: it must notice every change of size
    for (const QSize f : frames) {
        const QImage frame = Frame(f.width(), f.height());
        for (const QSize t : targets) {
            for (const auto level : levels) {
                PhotoPipeline::LimitSimdLevel(level);
                QImage picture(t, QImage::Format_RGB32);
                picture.fill(Qt::magenta);
                stretcher.Stretch(frame, picture);
                const QImage expected = Stretched(frame, t.width(), t.height());
                EXPECT_TRUE(picture == expected)
                    << f.width() << "x" << f.height() << " to " << t.width() << "x" << t.height()
                    << " at level " << int(level) << ": " << FirstDifference(picture, expected);
            }
        }
    }
    PhotoPipeline::LimitSimdLevel(PhotoPipeline::slAvx2);
}

// A shown window paints straight into its backing store (what the screen shows); a device
// of another pixel layout gets the ordinary way, a picture painted by the painter. Both
// show the frame stretched, and a new frame counts as painted once.
TEST(VideoWindow, ShowsTheFrameStretchedOnScreenAndOnOtherDevices) {
    TVideoWindow window;
    window.resize(301, 157);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const QImage frame = Frame(200, 120);
    window.FrameArrived(frame);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.FramesPainted() == 1; }, 5000));
    const QImage expected = Stretched(frame, 301, 157);

    const QImage onScreen =
        window.screen()->grabWindow(window.winId()).toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_TRUE(onScreen == expected) << FirstDifference(onScreen, expected);
    QImage other(window.size(), QImage::Format_RGB888);
    window.render(&other);
    other.convertTo(QImage::Format_RGB32);
    EXPECT_TRUE(other == expected) << FirstDifference(other, expected);

    window.FrameGone();
    QTest::qWait(50);
    const QImage black =
        window.screen()->grabWindow(window.winId()).toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(black.pixel(150, 78), qRgb(0, 0, 0));
    EXPECT_EQ(window.FramesPainted(), 1u);
}
