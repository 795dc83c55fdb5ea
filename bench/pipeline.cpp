// Photograph throughput: Capture from the virtual camera's 640x480 picture to the placed
// file, against libjpeg alone encoding the same final picture, plus peak memory.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include <sys/resource.h>

#include <jpeglib.h>

#include <QApplication>
#include <QTemporaryDir>
#include <QElapsedTimer>
#include <QThread>

#include "capture/FilterGraph.h"
#include "capture/Snapixture.h"
#include "widgets/VideoWindow.h"
#include "capture/VirtualCamera.h"

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// The reference: the plainest libjpeg encoding of the picture into memory, at quality 100,
// rows handed straight from the image.
double EncodeFloorMs(const QImage& picture) {
    const auto start = Clock::now();
    jpeg_compress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = JDIMENSION(picture.width());
    info.image_height = JDIMENSION(picture.height());
    info.input_components = 3;
    info.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 100, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(picture.constScanLine(int(info.next_scanline)));
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    free(buffer);
    return MsSince(start);
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("SNAPIX_VIRTUAL_CAMERA", "1");
    QApplication app(argc, argv);
    constexpr int Photos = 20;

    QTemporaryDir folder;
    TVideoWindow window;
    window.resize(320, 240);
    window.show();
    TSnapixture camera;
    camera.SetVideoWindow(&window);
    camera.SetMoniker(TMoniker{VirtualCamera::kPath, &VirtualCamera::Instance()});
    camera.SetInputResolution(2);  // 640 x 480
    auto frameArrived = [&camera] {
        QElapsedTimer waited;
        waited.start();
        QImage frame;
        while (camera.SampleGrabber()->GrabBitmap(frame) != 0) {
            if (waited.elapsed() > 3000) {
                return false;
            }
            QCoreApplication::processEvents();
            QThread::msleep(5);
        }
        return true;
    };
    if (camera.Preview() != 0 || !frameArrived()) {
        std::fprintf(stderr, "the virtual camera delivers no picture\n");
        return 1;
    }
    camera.SavePath = folder.path() + QLatin1Char('/');
    camera.FileNameType = 1;

    // The full photograph: two caption lines, date and time, scaled to 3876 x 2584, black
    // and white, JPEG quality 100.
    camera.Title.Line1 = QStringLiteral("Snapix 测试照片");
    camera.Title.Line3 = QStringLiteral("第二行 caption");
    camera.PrintDate = true;
    camera.PrintTime = true;
    camera.UseOutputResolution = true;
    camera.SetOutputResolution(5);
    camera.PhotoStyle = 1;
    camera.CompressionQuality = 100;

    std::vector<double> photo, floor;
    for (int i = 0; i < Photos; ++i) {
        const auto start = Clock::now();
        if (camera.Capture() != 0) {
            std::fprintf(stderr, "capture failed: %s\n", qPrintable(camera.LastError()));
            return 1;
        }
        photo.push_back(MsSince(start));
        if (camera.ABitmap().size() != QSize(3876, 2584)) {
            std::fprintf(stderr, "unexpected photo size\n");
            return 1;
        }
        floor.push_back(EncodeFloorMs(camera.ABitmap()));
    }

    // The small photograph: the live picture as it is, quality 75.
    camera.Title = TRecTitle{};
    camera.PrintDate = camera.PrintTime = false;
    camera.UseOutputResolution = false;
    camera.PhotoStyle = 0;
    camera.CompressionQuality = 75;
    std::vector<double> small;
    for (int i = 0; i < Photos; ++i) {
        const auto start = Clock::now();
        if (camera.Capture() != 0) {
            std::fprintf(stderr, "capture failed: %s\n", qPrintable(camera.LastError()));
            return 1;
        }
        small.push_back(MsSince(start));
    }
    camera.Stop();

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const double photoMs = Median(photo), floorMs = Median(floor);
    std::printf("photo_ms %.1f ms\n", photoMs);
    std::printf("encode_floor_ms %.1f ms\n", floorMs);
    std::printf("peak_rss_mb %.1f MB\n", usage.ru_maxrss / 1024.0);
    std::printf("photo_small_ms %.1f ms\n", Median(small));
    std::printf("ratio_vs_floor %.2f x\n", floorMs > 0 ? photoMs / floorMs : 0.0);
    return 0;
}
