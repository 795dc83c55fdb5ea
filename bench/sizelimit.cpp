// Size-limited photographs. The time of a photograph kept within 50 KB from the virtual
// camera at 1920x1080 (at the camera's size, and at the size rule's 2048x1536), against one
// plain libjpeg encoding of the same frame at the rule's quality; then what each limit of
// the table gives from the camera's pictures: file size, width and quality.
// The photo folder is on tmpfs, so that the figures are the pipeline's and not the disk's.
#include <cstdio>
#include <string>
#include <vector>

#include <linux/videodev2.h>

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>

#include "bench/BenchSupport.h"
#include "capture/FilterGraph.h"
#include "capture/Snapixture.h"
#include "capture/VirtualCamera.h"
// libjpeg alone, as the tests compare our photographs with it.
#include "tests/support/JpegCheck.h"

namespace {

using bench::Clock;
using bench::Median;
using bench::MsSince;

// Streams the camera at width x height (its format set before the preview starts, which
// keeps it), with or without sensor grain, until a frame has come.
bool StartCamera(TSnapixture& camera, int width, int height, bool grain) {
    camera.Stop();
    VirtualCamera::Instance().SetSensorNoise(grain);
    if (camera.Connect() != 0 || !camera.Filter()->HasDevice()) {
        return false;
    }
    v4l2_format format;
    if (camera.Filter()->GetFormat(format) != 0) {
        return false;
    }
    format.fmt.pix.width = uint32_t(width);
    format.fmt.pix.height = uint32_t(height);
    if (camera.Filter()->SetFormat(format) != 0 || camera.Preview() != 0) {
        return false;
    }
    return QTest::qWaitFor(
        [&camera] {
            QImage frame;
            return camera.SampleGrabber()->GrabBitmap(frame) == 0;
        },
        3000);
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("SNAPIX_VIRTUAL_CAMERA", "1");
    QApplication app(argc, argv);
    constexpr int Photos = 15;

    QTemporaryDir folder(QStringLiteral("/dev/shm/snapix-bench-XXXXXX"));
    TSnapixture camera;
    camera.SetMoniker(TMoniker{VirtualCamera::kPath, &VirtualCamera::Instance()});
    camera.SetInputResolution(-1);  // the size set on the device stays
    camera.SavePath = folder.path() + QLatin1Char('/');
    camera.FileNameType = 1;
    camera.PhotoSize = 1;

    // 50 KB from 1920x1080: at the camera's size and at the rule's size, alternating, and
    // the plain encoding of the same frame at the rule's quality (90 for 50 KB).
    if (!StartCamera(camera, 1920, 1080, false)) {
        std::fprintf(stderr, "the virtual camera delivers no 1920x1080 picture\n");
        return 1;
    }
    std::vector<double> live, scaled, plain;
    for (int i = 0; i < 2 * Photos; ++i) {
        camera.UseOutputResolution = i % 2 == 1;
        camera.PhotoSize2 = 50;
        const auto start = Clock::now();
        if (camera.Capture() != 0) {
            std::fprintf(stderr, "capture failed: %s\n", qPrintable(camera.LastError()));
            return 1;
        }
        (camera.UseOutputResolution ? scaled : live).push_back(MsSince(start));
        if (camera.AJpeg().size() > 50 * 1024) {
            std::fprintf(stderr, "the limit was not kept\n");
            return 1;
        }
        QImage frame;
        if (camera.SampleGrabber()->GrabBitmap(frame) != 0) {
            return 1;
        }
        frame.convertTo(QImage::Format_BGR888);
        const auto encodeStart = Clock::now();
        PlainLibjpeg(frame, 90);
        plain.push_back(MsSince(encodeStart));
    }
    const double liveMs = Median(live), scaledMs = Median(scaled), plainMs = Median(plain);
    std::printf("limit50_1080p_photo_ms %.1f ms\n", liveMs);
    std::printf("limit50_1080p_scaled_photo_ms %.1f ms\n", scaledMs);
    std::printf("plain_encode_1080p_ms %.1f ms\n", plainMs);

    // The table: every limit from each picture, the output size from the rule (as
    // snapix-shot --max-kb and the window with its output size ticked).
    struct TSource {
        const char* Name;
        int Width, Height;
        bool Grain;
    };
    const TSource sources[] = {
        {"640x480", 640, 480, false},
        {"1920x1080", 1920, 1080, false},
        {"1920x1080_grain", 1920, 1080, true},
    };
    camera.UseOutputResolution = true;
    for (const TSource& source : sources) {
        if (!StartCamera(camera, source.Width, source.Height, source.Grain)) {
            std::fprintf(stderr, "the virtual camera delivers no %s picture\n", source.Name);
            return 1;
        }
        for (const uint16_t kb : {5, 20, 50, 200, 500}) {
            camera.PhotoSize2 = kb;
            if (camera.Capture() != 0) {
                std::fprintf(stderr, "capture failed: %s\n", qPrintable(camera.LastError()));
                return 1;
            }
            const std::string name = "sizelimit_" + std::to_string(kb) + "kb_" + source.Name;
            std::printf("%s_kb %.1f KB\n", name.c_str(), camera.AJpeg().size() / 1024.0);
            std::printf("%s_width %d px\n", name.c_str(), camera.ABitmap().width());
            std::printf("%s_quality %d q\n", name.c_str(), int(camera.CompressionQuality));
        }
    }
    camera.Stop();
    VirtualCamera::Instance().SetSensorNoise(false);

    std::printf("limit50_1080p_vs_plain_encode %.2f x\n", plainMs > 0 ? liveMs / plainMs : 0.0);
    std::printf("limit50_1080p_scaled_vs_plain_encode %.2f x\n",
                plainMs > 0 ? scaledMs / plainMs : 0.0);
    return 0;
}
