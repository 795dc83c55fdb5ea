// Unplug benchmark: the virtual camera pulled out and plugged back in while the
// main window previews it, N times (argument, default 20). Each cycle waits for
// the window to notice the loss and for the preview to come back by itself.
// Prints the cycles that came back, those that hung (no picture within 15 s),
// descriptor growth, and the process CPU share while waiting for the camera.
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "app/uMainForm.h"
#include "capture/DeviceWatch.h"
#include "capture/FilterGraph.h"
#include "capture/Snapixture.h"
#include "capture/VirtualCamera.h"
#include "bench/BenchSupport.h"

namespace {

using bench::CpuMs;
using bench::OpenFds;

bool Previewing(TfrmMainForm& form) {
    QImage frame;
    return form.Snapixture->CaptureStatus == csPrev &&
           form.Snapixture->SampleGrabber()->GrabBitmap(frame) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    qputenv("SNAPIX_VIRTUAL_CAMERA", "1");
    QApplication app(argc, argv);
    const int cycles = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;

    QTemporaryDir folder;
    VirtualCamera& camera = VirtualCamera::Instance();
    TfrmMainForm form;
    form.Create(folder.path());
    form.show();
    if (!QTest::qWaitFor([&] { return Previewing(form); }, 10000)) {
        std::fprintf(stderr, "no picture at the start\n");
        return 1;
    }

    // The wait for an absent camera, measured on its own.
    camera.Unplug();
    if (!QTest::qWaitFor([&] { return form.DeviceWatch()->Watching(); }, 10000)) {
        std::fprintf(stderr, "the loss was not noticed\n");
        return 1;
    }
    const double cpuBefore = CpuMs();
    QElapsedTimer waited;
    waited.start();
    {
        // The program's own event loop, as it idles while the camera is away.
        QEventLoop idle;
        QTimer::singleShot(10000, &idle, &QEventLoop::quit);
        idle.exec();
    }
    const double waitingCpuPct = 100.0 * (CpuMs() - cpuBefore) / waited.elapsed();
    camera.PlugIn();
    if (!QTest::qWaitFor([&] { return Previewing(form); }, 15000)) {
        std::fprintf(stderr, "the picture did not come back\n");
        return 1;
    }

    const int fdsBefore = OpenFds();
    int returned = 0, hangs = 0;
    qint64 slowestMs = 0;
    for (int i = 0; i < cycles; ++i) {
        // Pulled out at any moment of the stream, back after a while or at once.
        QTest::qWait(QRandomGenerator::global()->bounded(50, 400));
        camera.Unplug();
        if (!QTest::qWaitFor([&] { return form.DeviceWatch()->Watching(); }, 15000)) {
            ++hangs;
            camera.PlugIn();
            continue;
        }
        QTest::qWait(QRandomGenerator::global()->bounded(0, 1500));
        camera.PlugIn();
        QElapsedTimer back;
        back.start();
        if (QTest::qWaitFor([&] { return Previewing(form); }, 15000)) {
            ++returned;
            slowestMs = std::max(slowestMs, back.elapsed());
        } else {
            ++hangs;
        }
    }
    const int fdsGrowth = OpenFds() - fdsBefore;
    form.close();

    std::printf("cycles %d cycles\n", cycles);
    std::printf("returned %d cycles\n", returned);
    std::printf("hangs %d cycles\n", hangs);
    std::printf("crashes 0 cycles\n");
    std::printf("fds_growth %d fds\n", fdsGrowth);
    std::printf("camera_descriptors_left %d fds\n", camera.OpenDescriptors());
    std::printf("buffers_queued_after_unplug %d buffers\n", camera.BuffersQueuedAfterUnplug());
    std::printf("slowest_return_ms %lld ms\n", static_cast<long long>(slowestMs));
    std::printf("cpu_while_waiting %.2f %%\n", waitingCpuPct);
    return hangs == 0 && fdsGrowth == 0 ? 0 : 1;
}
