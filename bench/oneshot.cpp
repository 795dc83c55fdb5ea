// One photograph as a whole process: snapix-shot started without a display, the
// virtual camera at 640x480, the photograph scaled to 3876x2584, black and white, two
// caption lines, date and time, JPEG quality 100 - against the same photograph taken
// inside a running process.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QThread>

#include "capture/CaptureOptions.h"
#include "capture/FilterGraph.h"
#include "capture/Snapixture.h"
#include "capture/VirtualCamera.h"
#include "cli/ShotOptions.h"
#include "bench/BenchSupport.h"

extern char** environ;

namespace {

using bench::Median;
using bench::MsSince;

using bench::Clock;
constexpr int kRuns = 15;

// The photograph's options, as the tool is given them and as the in-process run uses them.
// The camera's first picture is photographed: the benchmark measures the tool, not the
// second the camera's exposure takes to settle, which the tool otherwise waits for.
QStringList PhotoArguments() {
    return {"--skip=0",
            "--size=640x480",
            "--output-size=3876x2584",
            "--bw",
            "--caption=Snapix 测试",
            "--caption=second line",
            "--date",
            "--time",
            "--quality=100"};
}

struct ProcessRun {
    bool Ok = false;
    double Ms = 0;
    double PeakRssMb = 0;
};

// Starts the tool, waits for it, and takes its time and peak memory from wait4.
ProcessRun RunTool(const std::vector<std::string>& args, const std::string& errorFile) {
    // No display of any kind: the tool must not need one.
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        const bool dropped = entry.rfind("DISPLAY=", 0) == 0 ||
                             entry.rfind("WAYLAND_DISPLAY=", 0) == 0 ||
                             entry.rfind("QT_QPA_PLATFORM=", 0) == 0 ||
                             entry.rfind("SNAPIX_VIRTUAL_CAMERA=", 0) == 0;
        if (!dropped) {
            env.push_back(entry);
        }
    }
    std::vector<char*> envp, argv;
    for (auto& e : env) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);
    std::vector<std::string> argStore = args;
    for (auto& a : argStore) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);

    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&files, 2, errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    ProcessRun run;
    const auto start = Clock::now();
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &files, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&files);
    if (spawned != 0) {
        return run;
    }
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) {
        return run;
    }
    run.Ms = MsSince(start);
    run.PeakRssMb = usage.ru_maxrss / 1024.0;
    run.Ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return run;
}

// The same photograph taken by a component that is already streaming.
bool InProcessPhotoMs(const QString& folder, std::vector<double>& times) {
    const TShotParse parsed = ParseShotOptions(PhotoArguments());
    if (!parsed.Ok()) {
        std::fprintf(stderr, "options: %s\n", qPrintable(parsed.Error));
        return false;
    }
    TSnapixture camera;
    camera.SetMoniker(TMoniker{VirtualCamera::kPath, &VirtualCamera::Instance()});
    camera.SetInputResolution(2);  // 640 x 480
    if (camera.Preview() != 0) {
        std::fprintf(stderr, "preview: %s\n", qPrintable(camera.LastError()));
        return false;
    }
    QElapsedTimer waited;
    waited.start();
    QImage frame;
    while (camera.SampleGrabber()->GrabBitmap(frame) != 0) {
        if (waited.elapsed() > 5000) {
            std::fprintf(stderr, "the virtual camera delivers no picture\n");
            return false;
        }
        QCoreApplication::processEvents();
        QThread::msleep(2);
    }
    ApplyCaptureOptions(CaptureOptionsFor(parsed.Options, folder + QLatin1Char('/'), 0), camera);
    for (int i = 0; i < kRuns; ++i) {
        const auto start = Clock::now();
        if (camera.Capture() != 0) {
            std::fprintf(stderr, "capture failed: %s\n", qPrintable(camera.LastError()));
            return false;
        }
        times.push_back(MsSince(start));
        QFile::remove(camera.FileName());
    }
    camera.Stop();
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    int qtArgc = 3;
    char platformFlag[] = "-platform";
    char platformName[] = "offscreen";
    char* qtArgv[] = {argv[0], platformFlag, platformName, nullptr};
    QGuiApplication app(qtArgc, qtArgv);
    qputenv("SNAPIX_VIRTUAL_CAMERA", "1");

    QTemporaryDir folder;
    const std::string errorFile = folder.filePath(QStringLiteral("stderr.txt")).toStdString();
    const QString photos = folder.filePath(QStringLiteral("photos"));
    QDir().mkdir(photos);
    std::vector<std::string> args = {SNAPIX_SHOT_BINARY, "--virtual-camera", "--output",
                                     photos.toStdString()};
    for (const QString& a : PhotoArguments()) {
        args.push_back(a.toStdString());
    }

    // One run first, unmeasured: it brings the program and its libraries into memory.
    std::vector<double> times, rss;
    for (int i = 0; i <= kRuns; ++i) {
        const ProcessRun run = RunTool(args, errorFile);
        if (!run.Ok) {
            QFile errors(QString::fromStdString(errorFile));
            errors.open(QIODevice::ReadOnly);
            std::fprintf(stderr, "snapix-shot failed: %s\n", errors.readAll().constData());
            return 1;
        }
        if (i > 0) {
            times.push_back(run.Ms);
            rss.push_back(run.PeakRssMb);
        }
    }
    const int stored = static_cast<int>(QDir(photos).entryList(QDir::Files).size());
    if (stored != kRuns + 1) {
        std::fprintf(stderr, "expected %d photographs, found %d\n", kRuns + 1, stored);
        return 1;
    }

    std::vector<double> inProcess;
    if (!InProcessPhotoMs(folder.path(), inProcess)) {
        return 1;
    }
    const double oneshotMs = Median(times), photoMs = Median(inProcess);
    std::printf("oneshot_ms %.1f ms\n", oneshotMs);
    std::printf("oneshot_peak_rss_mb %.1f MB\n", *std::max_element(rss.begin(), rss.end()));
    std::printf("inprocess_photo_ms %.1f ms\n", photoMs);
    std::printf("oneshot_vs_inprocess %.2f x\n", photoMs > 0 ? oneshotMs / photoMs : 0.0);
    return 0;
}
