// The live picture: frames converted only while the window is seen, as large as it shows
// them, and stretched to the window, straight into its backing store or through a
// picture of its own, on every vector level.
#include "widgets/FrameStretcher.h"
#include "widgets/VideoWindow.h"

#include <functional>
#include <string>

#include <QPixmap>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

#include "capture/FilterGraph.h"
#include "photo/Simd.h"
#include "support/NativeFrames.h"

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
// the same size, odd sizes and single pixels, from 24 and from 32 bits, on each vector
// level.
TEST(FrameStretcher, EachPixelTakesTheFramePixelUnderItsCentre) {
    const QSize frames[] = {{1280, 1024}, {640, 480}, {17, 9}, {1, 1}};
    const QSize targets[] = {{1920, 1080}, {640, 480}, {364, 255}, {23, 11}, {1, 1}};
    const PhotoPipeline::TSimdLevel levels[] = {PhotoPipeline::SimdLevel(), PhotoPipeline::slSsse3,
                                                PhotoPipeline::slPlain};
    TFrameStretcher stretcher;  // one for all: it must notice every change of size
    for (const QSize f : frames) {
        const QImage frame = Frame(f.width(), f.height());
        const QImage wide = frame.convertToFormat(QImage::Format_RGB32);
        for (const QSize t : targets) {
            const QImage expected = Stretched(frame, t.width(), t.height());
            for (const auto level : levels) {
                PhotoPipeline::LimitSimdLevel(level);
                for (const QImage& source : {frame, wide}) {
                    QImage picture(t, QImage::Format_RGB32);
                    picture.fill(Qt::magenta);
                    stretcher.Stretch(source, picture);
                    EXPECT_TRUE(picture == expected)
                        << f.width() << "x" << f.height() << " from " << source.depth()
                        << " bits to " << t.width() << "x" << t.height() << " at level "
                        << int(level) << ": " << FirstDifference(picture, expected);
                }
            }
        }
    }
    PhotoPipeline::LimitSimdLevel(PhotoPipeline::slAvx2);
}

// A shown window paints straight into its backing store (what the screen shows); a device
// of another pixel layout gets the ordinary way, a picture painted by the painter. Both
// show the frame's picture stretched, and a new frame is converted and painted once.
TEST(VideoWindow, ShowsTheFrameStretchedOnScreenAndOnOtherDevices) {
    TFilterGraph graph;
    TVideoWindow window;
    graph.AddSink(&window);
    window.resize(301, 157);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const TNativeFrame frame = YuyvFrame(Frame(200, 120));
    window.FrameArrived(frame);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.FramesPainted() == 1; }, 5000));
    QImage picture;
    ASSERT_EQ(graph.ConvertFrame(frame, picture), 0);
    const QImage expected = Stretched(picture, 301, 157);

    const QImage onScreen =
        window.screen()->grabWindow(window.winId()).toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_TRUE(onScreen == expected) << FirstDifference(onScreen, expected);
    QImage other(window.size(), QImage::Format_RGB888);
    window.render(&other);
    other.convertTo(QImage::Format_RGB32);
    EXPECT_TRUE(other == expected) << FirstDifference(other, expected);
    EXPECT_EQ(window.FramesPainted(), 1u) << "repaints without a new frame convert nothing";

    window.FrameGone();
    QTest::qWait(50);
    const QImage black =
        window.screen()->grabWindow(window.winId()).toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(black.pixel(150, 78), qRgb(0, 0, 0));
    EXPECT_EQ(window.FramesPainted(), 1u);
}

// A Motion-JPEG frame is decoded at the fewest eighths of its size, up to a half, that
// still cover the window, else whole; an uncompressed one whole.
TEST(VideoWindow, DecodesOnlyAsLargeAsItShowsThePicture) {
    const struct {
        uint32_t fourcc;
        QSize window, decoded;
    } cases[] = {
        {V4L2_PIX_FMT_MJPEG, {364, 255}, {480, 270}},  // the main window's video area
        {V4L2_PIX_FMT_MJPEG, {100, 50}, {240, 135}},
        {V4L2_PIX_FMT_MJPEG, {481, 271}, {720, 405}},
        {V4L2_PIX_FMT_MJPEG, {721, 300}, {960, 540}},
        {V4L2_PIX_FMT_MJPEG, {961, 540}, {1920, 1080}},
        {V4L2_PIX_FMT_MJPEG, {1920, 1080}, {1920, 1080}},
        {V4L2_PIX_FMT_YUYV, {364, 255}, {1920, 1080}},
    };
    const QImage bars = Frame(1920, 1080);
    const TNativeFrame mjpeg = MjpegFrame(bars), yuyv = YuyvFrame(bars);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.window.width());
        TFilterGraph graph;
        TVideoWindow window;
        graph.AddSink(&window);
        window.resize(c.window);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        window.FrameArrived(c.fourcc == V4L2_PIX_FMT_YUYV ? yuyv : mjpeg);
        ASSERT_TRUE(QTest::qWaitFor([&] { return window.FramesPainted() == 1; }, 5000));
        EXPECT_EQ(window.Picture().size(), c.decoded);
    }
}

// A damaged frame is not shown: the window keeps the picture of the last good one.
TEST(VideoWindow, ADamagedFrameNeverReplacesThePicture) {
    TFilterGraph graph;
    TVideoWindow window;
    graph.AddSink(&window);
    window.resize(160, 120);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    window.FrameArrived(MjpegFrame(Filled(320, 240, Qt::red)));
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.FramesPainted() == 1; }, 5000));
    const QImage red = window.Picture();
    for (const TNativeFrame& bad : {Cut(MjpegFrame(Filled(320, 240, Qt::blue)), 0.5),
                                    Cut(YuyvFrame(Filled(320, 240, Qt::blue)), 0.9)}) {
        const uint64_t refused = window.FramesRefused();
        window.FrameArrived(bad);
        ASSERT_TRUE(QTest::qWaitFor([&] { return window.FramesRefused() == refused + 1; }, 5000));
        EXPECT_EQ(window.Picture(), red);
        const QImage onScreen = window.screen()->grabWindow(window.winId()).toImage();
        EXPECT_GT(qRed(onScreen.pixel(80, 60)), 200);
        EXPECT_LT(qBlue(onScreen.pixel(80, 60)), 50);
    }
    EXPECT_EQ(window.FramesPainted(), 1u);
}

// Nobody sees a hidden or minimised window: it converts no frame until it is shown
// again, and then the newest one only.
TEST(VideoWindow, AWindowNobodySeesConvertsNothing) {
    TFilterGraph graph;
    QWidget top;
    auto* window = new TVideoWindow(&top);
    graph.AddSink(window);
    window->resize(320, 240);
    top.resize(320, 240);
    top.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&top));
    const TNativeFrame frame = MjpegFrame(Frame(640, 480));
    window->FrameArrived(frame);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->FramesPainted() == 1; }, 5000));

    const std::function<void()> hideWays[] = {[&] { top.hide(); }, [&] { top.showMinimized(); }};
    for (const auto& hideWay : hideWays) {
        hideWay();
        QTest::qWait(20);
        const uint64_t painted = window->FramesPainted();
        for (int i = 0; i < 10; ++i) {
            window->FrameArrived(frame);
            QTest::qWait(5);
        }
        QTest::qWait(50);
        EXPECT_EQ(window->FramesPainted(), painted);
        EXPECT_EQ(window->FramesRefused(), 0u);
        top.showNormal();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&top));
        EXPECT_TRUE(QTest::qWaitFor([&] { return window->FramesPainted() == painted + 1; }, 5000));
        QTest::qWait(50);
        EXPECT_EQ(window->FramesPainted(), painted + 1) << "the newest frame, once";
    }
}
