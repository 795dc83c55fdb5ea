// Photograph throughput: Capture from the virtual camera's 640x480 picture to the placed
// file, against libjpeg alone encoding the same final picture, plus peak memory. Two
// pictures (the camera's test pattern, and the same with sensor grain, which makes the
// largest files), each in black and white and in colour.
//
// Each figure is a median, in wall time and in CPU time of the whole process (a photograph
// that nobody watches while it is made is enlarged on a second thread while the GUI thread
// encodes it; the live preview's share is in both figures); on a machine shared with other
// work the CPU figures are the steadier.
// The photo folder is on tmpfs where there is one, so that the figures are the pipeline's
// and not the disk's: placing a file waits for it to be flushed to disk.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <time.h>

#include <jpeglib.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>

#include "capture/FilterGraph.h"
#include "capture/Snapixture.h"
#include "capture/VirtualCamera.h"
#include "widgets/VideoWindow.h"
#include "bench/BenchSupport.h"

namespace {

using bench::Median;

using bench::Clock;

// Wall time, and CPU time of this process, in milliseconds.
struct TTimes {
    double Wall, Cpu;
};

TTimes Now() {
    timespec cpu{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu);
    return {std::chrono::duration<double, std::milli>(Clock::now().time_since_epoch()).count(),
            cpu.tv_sec * 1e3 + cpu.tv_nsec / 1e6};
}

TTimes Since(TTimes start) {
    const TTimes now = Now();
    return {now.Wall - start.Wall, now.Cpu - start.Cpu};
}

// The reference: the plainest libjpeg encoding of the picture into memory, at quality 100,
// rows handed straight from the image.
TTimes EncodeFloor(const QImage& picture) {
    const TTimes start = Now();
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
    return Since(start);
}

bool FrameArrived(TSnapixture& camera) {
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
}

bool StartPreview(TSnapixture& camera, bool noise) {
    camera.Stop();
    VirtualCamera::Instance().SetSensorNoise(noise);
    return camera.Preview() == 0 && FrameArrived(camera);
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("SNAPIX_VIRTUAL_CAMERA", "1");
    QApplication app(argc, argv);
    constexpr int Photos = 20;

    QTemporaryDir folder(QStringLiteral("/dev/shm/snapix-bench-XXXXXX"));
    TVideoWindow window;
    window.resize(320, 240);
    window.show();
    TSnapixture camera;
    camera.SetVideoWindow(&window);
    camera.SetMoniker(TMoniker{VirtualCamera::kPath, &VirtualCamera::Instance()});
    camera.SetInputResolution(2);  // 640 x 480
    camera.SavePath = folder.path() + QLatin1Char('/');
    camera.FileNameType = 1;

    // The full photograph: two caption lines, date and time, scaled to 3876 x 2584, JPEG
    // quality 100; black and white or colour. The two styles alternate, so that both meet
    // the same moments of a shared machine.
    camera.Title.Line1 = QStringLiteral("Snapix 测试照片");
    camera.Title.Line3 = QStringLiteral("第二行 caption");
    camera.PrintDate = true;
    camera.PrintTime = true;
    camera.UseOutputResolution = true;
    camera.SetOutputResolution(5);
    camera.CompressionQuality = 100;

    struct TFigures {
        std::vector<double> Photo, Floor, PhotoCpu, FloorCpu;
    };
    const char* const pictures[2] = {"pattern", "noise"};
    const char* const styles[2] = {"colour", "bw"};
    TFigures figures[2][2];  // [picture][style]
    for (int picture = 0; picture < 2; ++picture) {
        if (!StartPreview(camera, picture == 1)) {
            std::fprintf(stderr, "the virtual camera delivers no picture\n");
            return 1;
        }
        for (int i = 0; i < 2 * Photos; ++i) {
            const int style = i % 2;
            camera.PhotoStyle = uint8_t(style);
            TFigures& f = figures[picture][style];
            const TTimes start = Now();
            if (camera.Capture() != 0) {
                std::fprintf(stderr, "capture failed: %s\n", qPrintable(camera.LastError()));
                return 1;
            }
            const TTimes photo = Since(start);
            if (camera.ABitmap().size() != QSize(3876, 2584)) {
                std::fprintf(stderr, "unexpected photo size\n");
                return 1;
            }
            const TTimes floor = EncodeFloor(camera.ABitmap());
            f.Photo.push_back(photo.Wall);
            f.PhotoCpu.push_back(photo.Cpu);
            f.Floor.push_back(floor.Wall);
            f.FloorCpu.push_back(floor.Cpu);
        }
    }

    // The small photograph: the live picture as it is, quality 75.
    if (!StartPreview(camera, false)) {
        std::fprintf(stderr, "the virtual camera delivers no picture\n");
        return 1;
    }
    camera.Title = TRecTitle{};
    camera.PrintDate = camera.PrintTime = false;
    camera.UseOutputResolution = false;
    camera.PhotoStyle = 0;
    camera.CompressionQuality = 75;
    std::vector<double> small;
    for (int i = 0; i < Photos; ++i) {
        const TTimes start = Now();
        if (camera.Capture() != 0) {
            std::fprintf(stderr, "capture failed: %s\n", qPrintable(camera.LastError()));
            return 1;
        }
        small.push_back(Since(start).Wall);
    }
    camera.Stop();
    VirtualCamera::Instance().SetSensorNoise(false);

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto print = [](const std::string& name, const std::vector<double>& photo,
                          const std::vector<double>& floor, const char* kind) {
        const double photoMs = Median(photo), floorMs = Median(floor);
        std::printf("%s_photo%s_ms %.1f ms\n", name.c_str(), kind, photoMs);
        std::printf("%s_encode_floor%s_ms %.1f ms\n", name.c_str(), kind, floorMs);
        std::printf("%s_ratio_vs_floor%s %.2f x\n", name.c_str(), kind,
                    floorMs > 0 ? photoMs / floorMs : 0.0);
    };
    for (int picture = 0; picture < 2; ++picture) {
        for (int style = 0; style < 2; ++style) {
            const std::string name = std::string(pictures[picture]) + "_" + styles[style];
            const TFigures& f = figures[picture][style];
            print(name, f.Photo, f.Floor, "");
            print(name, f.PhotoCpu, f.FloorCpu, "_cpu");
        }
    }
    std::printf("photo_small_ms %.1f ms\n", Median(small));
    std::printf("peak_rss_mb %.1f MB\n", usage.ru_maxrss / 1024.0);
    return 0;
}
