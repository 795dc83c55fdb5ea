// Preview benchmark: the virtual camera at 1280x1024, 30 fps, shown in a video
// window offscreen for 10 s. Prints frames delivered and painted, process CPU
// time per frame, and the time from Preview to the first painted frame.
#include <cstdio>
#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include "capture/FilterGraph.h"
#include "capture/Snapixture.h"
#include "widgets/VideoWindow.h"
#include "capture/VirtualCamera.h"

static double CpuMs() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 +
           (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;

    TVideoWindow window;
    window.resize(364, 255);  // the video area at the main window's design size
    window.show();
    TSnapixture camera;
    camera.SetVideoWindow(&window);
    camera.SetMoniker(TMoniker{VirtualCamera::kPath, &VirtualCamera::Instance()});
    camera.SetInputResolution(3);
    camera.Stop();

    QElapsedTimer clock;
    clock.start();
    const double cpuStart = CpuMs();
    if (camera.Preview() != 0 || camera.SampleWidth != 1280 || camera.SampleHeight != 1024) {
        std::fprintf(stderr, "preview did not start at 1280x1024\n");
        return 1;
    }
    qint64 firstFrameMs = -1;
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        if (firstFrameMs < 0 && window.FramesPainted() > 0) {
            firstFrameMs = clock.elapsed();
        }
    });
    probe.start(1);
    QTimer::singleShot(seconds * 1000, &app, &QApplication::quit);
    app.exec();

    const uint64_t delivered = camera.FilterGraph()->FramesDelivered();
    const uint64_t painted = window.FramesPainted();
    const double cpu = CpuMs() - cpuStart;
    camera.Stop();

    std::printf("frames_delivered %llu frames\n", static_cast<unsigned long long>(delivered));
    std::printf("frames_painted %llu frames\n", static_cast<unsigned long long>(painted));
    std::printf("cpu_ms_per_frame %.2f ms\n", delivered ? cpu / delivered : 0.0);
    std::printf("first_frame_ms %lld ms\n", static_cast<long long>(firstFrameMs));
    std::printf("painted_ratio %.3f\n", delivered ? static_cast<double>(painted) / delivered : 0.0);
    return 0;
}
