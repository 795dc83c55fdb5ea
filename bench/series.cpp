// Series soak benchmark: the main window on the virtual camera, offscreen, with
// a series at a 1-second interval for N seconds (argument, default 60).
// Prints the photographs taken and expected, the largest distance of a
// photograph from its slot (start + k seconds), and the growth of resident
// memory and open descriptors from the fifth photograph to the end.
#include <cstdio>
#include <cstdlib>
#include <cmath>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "app/uMainForm.h"
#include "capture/FilterGraph.h"
#include "capture/Snapixture.h"
#include "settings/AppPaths.h"
#include "settings/fraCamSet.h"
#include "bench/BenchSupport.h"

namespace {

using bench::OpenFds;
using bench::RssMb;

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    qputenv("SNAPIX_VIRTUAL_CAMERA", "1");
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(6, std::atoi(argv[1])) : 60;
    constexpr qint64 kIntervalMs = 1000;

    QTemporaryDir folder;
    TfrmMainForm form;
    form.Create(folder.path());
    form.show();
    if (!QTest::qWaitFor(
            [&] {
                QImage frame;
                return form.Snapixture->SampleGrabber()->GrabBitmap(frame) == 0;
            },
            10000)) {
        std::fprintf(stderr, "no picture at the start\n");
        return 1;
    }
    form.fraCamSet->cbSequential->setChecked(true);
    form.fraCamSet->seSequential->setValue(1);

    // The moment each photograph began, from the series' start.
    QElapsedTimer clock;
    std::vector<qint64> taken;
    double rssAfterFive = 0;
    int fdsAfterFive = 0;
    const TNotifyEvent before = form.Snapixture->OnBeforeCapture;
    form.Snapixture->OnBeforeCapture = [&](QObject* sender) {
        taken.push_back(clock.elapsed());
        before(sender);
    };
    const TNotifyEvent captured = form.Snapixture->OnCaptured;
    int stored = 0;
    form.Snapixture->OnCaptured = [&](QObject* sender) {
        captured(sender);
        ++stored;
        if (stored == 5) {
            rssAfterFive = RssMb();
            fdsAfterFive = OpenFds();
        }
        // The folder stays small on a long run; what was stored is counted.
        QFile::remove(form.Snapixture->FileName());
    };

    clock.start();
    form.btnCapture->click();
    // Past the last slot by half an interval, then stopped.
    QEventLoop loop;
    // Precise: a coarse timer of this length may end the run seconds late.
    QTimer::singleShot(seconds * kIntervalMs + kIntervalMs / 2, Qt::PreciseTimer, &loop,
                       &QEventLoop::quit);
    loop.exec();
    form.btnCapture->click();
    // The slots that fell before the series stopped.
    const qint64 expected = clock.elapsed() / kIntervalMs;
    const double rssEnd = RssMb();
    const int fdsEnd = OpenFds();

    qint64 maxDrift = 0;
    for (size_t k = 0; k < taken.size(); ++k) {
        const qint64 slot = static_cast<qint64>(k + 1) * kIntervalMs;
        maxDrift = std::max(maxDrift, std::abs(taken[k] - slot));
    }
    std::printf("photos_taken %d photos\n", stored);
    std::printf("photos_expected %lld photos\n", static_cast<long long>(expected));
    std::printf("max_drift_ms %lld ms\n", static_cast<long long>(maxDrift));
    std::printf("rss_growth_mb %.2f MB\n", rssEnd - rssAfterFive);
    std::printf("fds_growth %d fds\n", fdsEnd - fdsAfterFive);
    std::printf("taken_ratio %.3f\n", static_cast<double>(stored) / expected);
    form.close();
    return 0;
}
