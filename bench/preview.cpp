// Preview benchmark: the virtual camera at 1280x1024, 30 fps, shown in a video window.
// First the video area at the main window's design size (frames delivered and painted,
// process CPU time per frame, time from Preview to the first painted frame); then a shown
// top-level video window of 640x480 and one of 1920x1080 (the full-screen case), each with
// the process CPU time per frame, paint included, and the share of frames painted.
//
// Offscreen unless QT_QPA_PLATFORM says otherwise (for example xcb under Xvfb, where the
// window system's share of the work is the X server's and not this process's).
#include <cstdio>
#include <cstdlib>
#include <string>

#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QWindow>
#include <QTimer>

#include "capture/FilterGraph.h"
#include "capture/Snapixture.h"
#include "capture/VirtualCamera.h"
#include "widgets/VideoWindow.h"
#include "bench/BenchSupport.h"

namespace {

using bench::CpuMs;

struct TRun {
    uint64_t Delivered = 0, Painted = 0;
    double CpuMs = 0;
    qint64 FirstFrameMs = -1;
    bool Ok = false;
};

// Previews at 1280x1024 into `window` for `seconds`.
TRun Preview(TVideoWindow& window, int seconds) {
    TRun run;
    TSnapixture camera;
    camera.SetVideoWindow(&window);
    camera.SetMoniker(TMoniker{VirtualCamera::kPath, &VirtualCamera::Instance()});
    camera.SetInputResolution(3);
    camera.Stop();

    const uint64_t paintedBefore = window.FramesPainted();
    QElapsedTimer clock;
    clock.start();
    const double cpuStart = CpuMs();
    if (camera.Preview() != 0 || camera.SampleWidth != 1280 || camera.SampleHeight != 1024) {
        std::fprintf(stderr, "preview did not start at 1280x1024\n");
        return run;
    }
    // Looks for the first painted frame every millisecond, and then stops: its wake-ups
    // would otherwise be most of the CPU time measured.
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        if (window.FramesPainted() > paintedBefore) {
            run.FirstFrameMs = clock.elapsed();
            probe.stop();
        }
    });
    probe.start(1);
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();

    run.Delivered = camera.FilterGraph()->FramesDelivered();
    run.Painted = window.FramesPainted() - paintedBefore;
    run.CpuMs = CpuMs() - cpuStart;
    camera.Stop();
    run.Ok = run.Delivered > 0;
    return run;
}

bool WaitExposed(QWidget& window) {
    QElapsedTimer waited;
    waited.start();
    while (!(window.windowHandle() && window.windowHandle()->isExposed())) {
        if (waited.elapsed() > 5000) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;

    {
        TVideoWindow window;
        window.resize(364, 255);  // the video area at the main window's design size
        window.show();
        const TRun run = Preview(window, seconds);
        if (!run.Ok) {
            return 1;
        }
        std::printf("frames_delivered %llu frames\n",
                    static_cast<unsigned long long>(run.Delivered));
        std::printf("frames_painted %llu frames\n", static_cast<unsigned long long>(run.Painted));
        std::printf("cpu_ms_per_frame %.2f ms\n", run.CpuMs / run.Delivered);
        std::printf("first_frame_ms %lld ms\n", static_cast<long long>(run.FirstFrameMs));
        std::printf("painted_ratio %.3f\n", double(run.Painted) / run.Delivered);
    }

    for (const QSize size : {QSize(640, 480), QSize(1920, 1080)}) {
        TVideoWindow window;
        window.resize(size);
        window.show();
        if (!WaitExposed(window)) {
            std::fprintf(stderr, "the %dx%d window was never shown\n", size.width(), size.height());
            return 1;
        }
        const TRun run = Preview(window, seconds);
        if (!run.Ok) {
            return 1;
        }
        const std::string name = std::to_string(size.width()) + "x" + std::to_string(size.height());
        std::printf("window_cpu_ms_per_frame_%s %.2f ms\n", name.c_str(),
                    run.CpuMs / run.Delivered);
        std::printf("window_painted_ratio_%s %.3f\n", name.c_str(),
                    double(run.Painted) / run.Delivered);
    }
    return 0;
}
