// A picture shown by the virtual camera in place of its pattern: sent in every native
// format at every size of every model, covering the frame as a sensor crops it, with
// no square moving over it; and the exposure acting on it as on the pattern.
#include <cmath>
#include <cstring>
#include <string>

#include <fcntl.h>

#include <linux/videodev2.h>

#include <QImage>

#include <gtest/gtest.h>

#include "capture/FrameDecoder.h"
#include "capture/StreamFormat.h"
#include "capture/VirtualCamera.h"
#include "support/NativeFrames.h"
#include "support/RawStream.h"

namespace {

// A picture of neither 4:3 nor 16:9 whose colour says where each pixel came from: red
// grows left to right, green top to bottom, blue is constant.
constexpr int kWidth = 600, kHeight = 400, kBlue = 96;

QImage Gradient() {
    QImage picture(kWidth, kHeight, QImage::Format_BGR888);
    for (int y = 0; y < kHeight; ++y) {
        uint8_t* p = picture.scanLine(y);
        for (int x = 0; x < kWidth; ++x, p += 3) {
            p[0] = kBlue;
            p[1] = uint8_t(y * 255 / (kHeight - 1));
            p[2] = uint8_t(x * 255 / (kWidth - 1));
        }
    }
    return picture;
}

// One frame of `fourcc` at width x height through the camera's raw calls, as any V4L2
// program takes it; a null frame when a call fails.
TNativeFrame OneFrame(VirtualCamera& camera, uint32_t fourcc, int width, int height) {
    const int fd = camera.Open(camera.Model().path, O_RDWR | O_NONBLOCK);
    if (fd < 0) {
        return TNativeFrame();
    }
    TNativeFrame frame;
    {
        TRawStream stream(camera, fd);
        v4l2_buffer b{};
        if (stream.Start(fourcc, width, height, 2) == 0 && stream.Next(b, 3000) == 0) {
            const uint8_t* bytes = stream.Data(b);
            frame = NativeFrameOf(fourcc, width, height,
                                  std::vector<uint8_t>(bytes, bytes + b.bytesused));
        }
    }
    camera.Close(fd);
    return frame;
}

}  // namespace

// Every model, format and size: the picture covers the frame at one scale, its middle
// kept (what a pixel shows is where the gradient says it came from), and the middle row,
// where the pattern's square moves, is the picture's own.
TEST(VirtualPicture, EveryFormatAndSizeOfEveryModelShowsThePictureAsASensorCropsIt) {
    const QImage gradient = Gradient();
    TFrameDecoder decoder;
    for (const vcam::TModel& model : vcam::Models()) {
        VirtualCamera& camera = VirtualCamera::Instance(model);
        camera.Reset();
        camera.SetSettling(false);
        ASSERT_TRUE(camera.SetPicture(gradient.constBits(), kWidth, kHeight,
                                      size_t(gradient.bytesPerLine())));
        for (const vcam::TFormat& format : model.formats) {
            for (const vcam::TSize& size : format.sizes) {
                const int w = size.width, h = size.height;
                SCOPED_TRACE(std::string(model.id) + " " + FourccName(format.fourcc).toStdString() +
                             " " + std::to_string(w) + "x" + std::to_string(h));
                const TNativeFrame frame = OneFrame(camera, format.fourcc, w, h);
                ASSERT_FALSE(frame.IsNull());
                QImage picture;
                ASSERT_EQ(decoder.Decode(frame, picture), 0);
                ASSERT_EQ(picture.size(), QSize(w, h));
                // Source pixels per frame pixel, and where the kept middle starts.
                const double step = std::min(double(kWidth) / w, double(kHeight) / h);
                const double left = (kWidth - w * step) / 2, top = (kHeight - h * step) / 2;
                const int tolerance = format.compressed ? 12 : 6;
                const auto expectAt = [&](int x, int y) {
                    const double sx = left + (x + 0.5) * step - 0.5;
                    const double sy = top + (y + 0.5) * step - 0.5;
                    const uint8_t* p = picture.constScanLine(y) + 3 * x;
                    EXPECT_NEAR(p[2], sx * 255 / (kWidth - 1), tolerance) << x << "," << y;
                    EXPECT_NEAR(p[1], sy * 255 / (kHeight - 1), tolerance) << x << "," << y;
                    EXPECT_NEAR(p[0], kBlue, tolerance) << x << "," << y;
                };
                // Below the frame counter in the top-left corner.
                for (const double fy : {0.35, 0.6, 0.9}) {
                    for (const double fx : {0.05, 0.3, 0.5, 0.7, 0.95}) {
                        expectAt(int(fx * w), int(fy * h));
                    }
                }
                for (int x = 0; x < w && !HasFailure(); x += 4) {
                    expectAt(x, h / 2);
                }
            }
        }
        camera.Reset();
    }
}

// The exposure and the controls act on the picture as on the pattern; settled with
// every control at its default the picture comes through unchanged, upside down it is
// turned round.
TEST(VirtualPicture, TheExposureAndTheControlsActOnThePicture) {
    auto picture = std::make_shared<vcam::TPicture>();
    picture->width = 4;
    picture->height = 2;
    picture->bgr = {10,  20,  30,  40,  50,  60,  70,  80,  90,  100, 110, 120,
                    130, 140, 150, 160, 170, 180, 190, 200, 210, 220, 230, 240};
    vcam::TLook look;
    look.width = 4;
    look.height = 2;
    look.picture = picture;
    std::vector<uint8_t> scene;
    vcam::RenderScene(look, scene);
    EXPECT_EQ(scene, picture->bgr);

    look.exposure = 0.5;
    vcam::RenderScene(look, scene);
    for (std::size_t i = 0; i < scene.size(); ++i) {
        EXPECT_NEAR(scene[i], picture->bgr[i] / 2.0, 0.51) << i;
    }

    look.exposure = 1;
    look.brightness = 128 + 40;
    vcam::RenderScene(look, scene);
    for (std::size_t i = 0; i < scene.size(); ++i) {
        EXPECT_NEAR(scene[i], std::min(picture->bgr[i] + 40, 255), 1) << i;
    }

    look.brightness = 128;
    look.upsideDown = true;
    vcam::RenderScene(look, scene);
    EXPECT_EQ(std::vector<uint8_t>(scene.begin(), scene.begin() + 3),
              std::vector<uint8_t>(picture->bgr.end() - 3, picture->bgr.end()));
}
