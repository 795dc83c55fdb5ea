// Our programs and their peers on the same camera: the virtual 1080p USB camera given to
// every program as /dev/video99 by libsnapix-vcam.so, the exposure settled from the first
// frame.
//
// One photograph as a whole process, 1920x1080 Motion-JPEG in, a JPEG file out, the first
// frame taken: snapix-shot against ffmpeg -frames:v 1 and fswebcam; the median wall
// time and CPU time of each, started in turns (argument: the number of turns, default 11).
//
// A live picture of 1280x720 Motion-JPEG at 30 fps under Xvfb, ten seconds after a
// second to settle: CPU time per frame delivered of the program's whole process
// (sampled from /proc, frames counted by the library; also without the camera's own
// work, which the library counts and which a device's processor would do): snapix as
// users start it (the picture in its window's video area), our video window shown at
// the frame's own size, and ffplay -f v4l2 (which shows it at that size).
//
//   bench_peers [turns]          the benchmark
//   bench_peers --window         (internal) our video window on /dev/video99, 1280x720
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QFile>
#include <QImageReader>
#include <QTemporaryDir>
#include <QTimer>

#include "bench/BenchSupport.h"
#include "capture/Snapixture.h"
#include "capture/SystemVideoIo.h"
#include "widgets/VideoWindow.h"

extern char** environ;

namespace {

using bench::Clock;
using bench::Median;
using bench::MsSince;

constexpr char kNode[] = "/dev/video99";
constexpr int kLiveSeconds = 10;

// A program started with the camera: its environment is ours with `extra` on top.
class TChild {
  public:
    TChild(const std::vector<std::string>& args, const std::vector<std::string>& extra,
           const std::string& outputFile = "/dev/null") {
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            const std::string name = entry.substr(0, entry.find('='));
            bool replaced = name == "QT_QPA_PLATFORM" || name == "SNAPIX_VIRTUAL_CAMERA";
            for (const std::string& x : extra) {
                replaced = replaced || x.substr(0, x.find('=')) == name;
            }
            if (!replaced) {
                env.push_back(entry);
            }
        }
        env.insert(env.end(), extra.begin(), extra.end());
        std::vector<char*> envp, argv;
        for (std::string& e : env) {
            envp.push_back(e.data());
        }
        envp.push_back(nullptr);
        std::vector<std::string> argStore = args;
        for (std::string& a : argStore) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        posix_spawn_file_actions_t files;
        posix_spawn_file_actions_init(&files);
        posix_spawn_file_actions_addopen(&files, 1, outputFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&files, 1, 2);
        FStart = Clock::now();
        if (posix_spawnp(&FPid, argv[0], &files, nullptr, argv.data(), envp.data()) != 0) {
            FPid = -1;
        }
        posix_spawn_file_actions_destroy(&files);
    }
    ~TChild() { Stop(); }

    pid_t Pid() const { return FPid; }
    // Waits for the end: true when it exited 0; its wall time and its CPU time (user and
    // system, all its threads) in milliseconds.
    bool Wait(double& ms, double* cpuMs = nullptr) {
        int status = 0;
        rusage usage{};
        if (FPid < 0 || wait4(FPid, &status, 0, &usage) != FPid) {
            return false;
        }
        ms = MsSince(FStart);
        if (cpuMs) {
            *cpuMs = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
                     (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
        }
        FPid = -1;
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    void Stop() {
        if (FPid > 0) {
            kill(FPid, SIGTERM);
            int status;
            waitpid(FPid, &status, 0);
            FPid = -1;
        }
    }

  private:
    pid_t FPid = -1;
    Clock::time_point FStart;
};

// user + system time of a process, in milliseconds; negative when it is gone.
double ProcessCpuMs(pid_t pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) {
        return -1;
    }
    const QByteArray line = stat.readAll();
    // The fields after the command name, which may hold spaces, in its parentheses.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13) {
        return -1;
    }
    return (fields[11].toDouble() + fields[12].toDouble()) * 1000.0 / sysconf(_SC_CLK_TCK);
}

// The library's count: "<pid> <frames> <camera's own CPU time in µs>".
struct TStats {
    pid_t pid = 0;
    long long frames = 0;
    double cameraCpuMs = 0;
};

bool ReadStats(const QString& file, TStats& stats) {
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly)) {
        return false;
    }
    const QList<QByteArray> fields = f.readAll().simplified().split(' ');
    if (fields.size() != 3) {
        return false;
    }
    stats.pid = fields[0].toInt();
    stats.frames = fields[1].toLongLong();
    stats.cameraCpuMs = fields[2].toDouble() / 1000.0;
    return stats.pid > 0;
}

struct TLive {
    bool ok = false;
    double cpuMsPerFrame = 0;
    double cameraCpuMsPerFrame = 0;  // the camera's own share of it
    double fps = 0;
};

// A program showing the live picture: CPU per frame over kLiveSeconds, after a second
// of frames to settle in.
TLive MeasureLive(const std::vector<std::string>& args, std::vector<std::string> env,
                  const QString& stats) {
    QFile::remove(stats);
    env.push_back("SNAPIX_VCAM_STATS_FILE=" + stats.toStdString());
    TChild child(args, env);
    TLive live;
    TStats at0, at1;
    const auto started = Clock::now();
    while (!(ReadStats(stats, at0) && at0.frames >= 30)) {
        if (MsSince(started) > 15000) {
            return live;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const double cpu0 = ProcessCpuMs(at0.pid);
    const auto t0 = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(kLiveSeconds));
    const bool read = ReadStats(stats, at1);
    const double cpu1 = ProcessCpuMs(at0.pid);
    const double seconds = MsSince(t0) / 1000.0;
    if (!read || cpu0 < 0 || cpu1 < 0 || at1.frames <= at0.frames) {
        return live;
    }
    const double frames = double(at1.frames - at0.frames);
    live.ok = true;
    live.cpuMsPerFrame = (cpu1 - cpu0) / frames;
    live.cameraCpuMsPerFrame = (at1.cameraCpuMs - at0.cameraCpuMs) / frames;
    live.fps = frames / seconds;
    return live;
}

// A JPEG of the size asked for.
bool IsJpegOf(const QString& file, QSize size) {
    QImageReader reader(file);
    return reader.format() == "jpeg" && reader.size() == size;
}

// An X server of our own for the live pictures; its display, or empty.
std::string StartXvfb(std::unique_ptr<TChild>& server) {
    for (int n = 90; n < 140; ++n) {
        const std::string socket = "/tmp/.X11-unix/X" + std::to_string(n);
        if (access(socket.c_str(), F_OK) == 0 ||
            access(("/tmp/.X" + std::to_string(n) + "-lock").c_str(), F_OK) == 0) {
            continue;
        }
        server = std::make_unique<TChild>(
            std::vector<std::string>{"Xvfb", ":" + std::to_string(n), "-screen", "0",
                                     "1920x1080x24", "-nolisten", "tcp"},
            std::vector<std::string>{});
        for (int i = 0; i < 100 && access(socket.c_str(), F_OK) != 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return access(socket.c_str(), F_OK) == 0 ? ":" + std::to_string(n) : std::string();
    }
    return {};
}

// Our video window as the only thing on the screen, at the frame's size.
int RunWindow(int argc, char** argv) {
    QApplication app(argc, argv);
    TVideoWindow window;
    window.resize(1280, 720);
    window.show();
    TSnapixture camera;
    camera.SetVideoWindow(&window);
    camera.SetMoniker(TMoniker{QString::fromLatin1(kNode), &SystemVideoIo::Instance()});
    camera.SetInputResolution(4);  // the format the camera is in
    if (camera.Preview() != 0) {
        std::fprintf(stderr, "preview: %s\n", qPrintable(camera.LastError()));
        return 1;
    }
    std::signal(SIGTERM, [](int) { QMetaObject::invokeMethod(qApp, &QCoreApplication::quit); });
    return app.exec();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "--window") {
        return RunWindow(argc, argv);
    }
    const int turns = argc > 1 ? std::max(1, std::atoi(argv[1])) : 11;
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString();
    const std::string library = SNAPIX_VCAM_LIBRARY;
    // Every program meets the same camera; the runtime folder holds the node's shared
    // state (its format), the benchmark's own.
    const std::vector<std::string> camera = {"LD_PRELOAD=" + library,
                                             "SNAPIX_VCAM_MODEL=1080p",
                                             "SNAPIX_VCAM_FAULTS=settling=0",
                                             "XDG_RUNTIME_DIR=" + folder,
                                             "DISPLAY=",
                                             "WAYLAND_DISPLAY="};

    // ------------------------------------------------------------ one photograph
    const struct {
        const char* name;
        std::vector<std::string> args;
        std::string file;  // where the photograph is; empty: the only file in `out`
    } shooters[] = {
        {"snapix_shot",
         {SNAPIX_SHOT_BINARY, "--device", kNode, "--size", "1920x1080", "--skip", "0", "--output",
          folder + "/shot"},
         ""},
        {"ffmpeg",
         {"ffmpeg", "-hide_banner", "-loglevel", "error", "-f", "v4l2", "-input_format", "mjpeg",
          "-video_size", "1920x1080", "-i", kNode, "-frames:v", "1", "-update", "1", "-y",
          folder + "/ffmpeg.jpg"},
         folder + "/ffmpeg.jpg"},
        {"fswebcam",
         {"fswebcam", "-q", "-d", kNode, "-p", "MJPEG", "-r", "1920x1080", "--no-banner",
          folder + "/fswebcam.jpg"},
         folder + "/fswebcam.jpg"},
    };
    std::vector<std::vector<double>> photoMs(std::size(shooters)), photoCpuMs(std::size(shooters)),
        photoOwnCpuMs(std::size(shooters));
    const QString photoStats = dir.filePath(QStringLiteral("photo-stats"));
    std::vector<std::string> counted = camera;
    counted.push_back("SNAPIX_VCAM_STATS_FILE=" + photoStats.toStdString());
    for (int turn = 0; turn < turns; ++turn) {
        for (std::size_t k = 0; k < std::size(shooters); ++k) {
            QDir(QString::fromStdString(folder + "/shot")).removeRecursively();
            QDir().mkpath(QString::fromStdString(folder + "/shot"));
            double ms = 0, cpuMs = 0;
            QFile::remove(photoStats);
            TChild child(shooters[k].args, counted, folder + "/" + shooters[k].name + ".log");
            const bool exited = child.Wait(ms, &cpuMs);
            QString file = QString::fromStdString(shooters[k].file);
            if (file.isEmpty()) {
                // snapix-shot names its photograph by the time it was taken.
                const QDir shot(QString::fromStdString(folder + "/shot"));
                file = shot.filePath(shot.entryList(QDir::Files).value(0));
            }
            if (!exited || !IsJpegOf(file, QSize(1920, 1080))) {
                std::fprintf(stderr, "%s took no 1920x1080 JPEG photograph (see %s/%s.log)\n",
                             shooters[k].name, folder.c_str(), shooters[k].name);
                dir.setAutoRemove(false);
                return 1;
            }
            photoMs[k].push_back(ms);
            photoCpuMs[k].push_back(cpuMs);
            TStats stats;
            if (!ReadStats(photoStats, stats)) {
                std::fprintf(stderr, "%s: the camera kept no count\n", shooters[k].name);
                return 1;
            }
            photoOwnCpuMs[k].push_back(cpuMs - stats.cameraCpuMs);
        }
    }
    std::vector<double> medians, cpuMedians, ownCpuMedians;
    for (std::size_t k = 0; k < std::size(shooters); ++k) {
        medians.push_back(Median(photoMs[k]));
        cpuMedians.push_back(Median(photoCpuMs[k]));
        ownCpuMedians.push_back(Median(photoOwnCpuMs[k]));
        std::printf("photo_%s_ms %.1f ms\n", shooters[k].name, medians.back());
        std::printf("photo_%s_cpu_ms %.1f ms\n", shooters[k].name, cpuMedians.back());
        // Without the camera's own work in the same process (a device's processor does it).
        std::printf("photo_%s_cpu_without_camera_ms %.1f ms\n", shooters[k].name,
                    ownCpuMedians.back());
    }
    std::printf("photo_ffmpeg_over_snapix_shot %.2f\n", medians[1] / medians[0]);
    std::printf("photo_fswebcam_over_snapix_shot %.2f\n", medians[2] / medians[0]);
    // Every program waits one frame period after stream on for its first frame, as with
    // a real camera: the same floor under all three. Their times beyond it:
    const double period = 1000.0 / 30;
    std::printf("photo_ffmpeg_over_snapix_shot_beyond_first_frame %.2f\n",
                (medians[1] - period) / (medians[0] - period));
    std::printf("photo_fswebcam_over_snapix_shot_beyond_first_frame %.2f\n",
                (medians[2] - period) / (medians[0] - period));
    std::printf("photo_cpu_ffmpeg_over_snapix_shot %.2f\n", cpuMedians[1] / cpuMedians[0]);
    std::printf("photo_cpu_fswebcam_over_snapix_shot %.2f\n", cpuMedians[2] / cpuMedians[0]);
    std::printf("photo_cpu_without_camera_ffmpeg_over_snapix_shot %.2f\n",
                ownCpuMedians[1] / ownCpuMedians[0]);
    std::printf("photo_cpu_without_camera_fswebcam_over_snapix_shot %.2f\n",
                ownCpuMedians[2] / ownCpuMedians[0]);

    // ------------------------------------------------------------- live picture
    std::unique_ptr<TChild> xvfb;
    const std::string display = StartXvfb(xvfb);
    if (display.empty()) {
        std::fprintf(stderr, "Xvfb did not start\n");
        return 1;
    }
    std::vector<std::string> shown;
    for (const std::string& e : camera) {
        if (e.rfind("DISPLAY=", 0) != 0) {
            shown.push_back(e);
        }
    }
    shown.push_back("DISPLAY=" + display);
    shown.push_back("QT_QPA_PLATFORM=xcb");
    // The camera in 1280x720 Motion-JPEG at 30 fps: the format every program then finds.
    {
        TChild set({"v4l2-ctl", "-d", kNode,
                    "--set-fmt-video=width=1280,height=720,pixelformat=MJPG", "--set-parm=30"},
                   camera);
        double ms;
        if (!set.Wait(ms)) {
            std::fprintf(stderr, "v4l2-ctl could not set 1280x720 Motion-JPEG\n");
            return 1;
        }
    }
    // snapix keeps its files beside itself: a copy of it in a folder of its own.
    const QString program = dir.filePath(QStringLiteral("snapix/snapix"));
    QDir().mkpath(dir.filePath(QStringLiteral("snapix")));
    QFile::copy(QStringLiteral(SNAPIX_BINARY), program);
    const QString stats = dir.filePath(QStringLiteral("stats"));
    const struct {
        const char* name;
        std::vector<std::string> args;
    } viewers[] = {
        {"snapix_window", {program.toStdString()}},
        {"video_window_1280x720", {argv[0], "--window"}},
        {"ffplay",
         {"ffplay", "-hide_banner", "-loglevel", "error", "-f", "v4l2", "-input_format", "mjpeg",
          "-video_size", "1280x720", "-framerate", "30", "-i", kNode}},
    };
    const int liveTurns = std::max(1, turns / 5);
    std::vector<std::vector<double>> cpu(std::size(viewers)), own(std::size(viewers)),
        fps(std::size(viewers));
    for (int turn = 0; turn < liveTurns; ++turn) {
        for (std::size_t k = 0; k < std::size(viewers); ++k) {
            const TLive live = MeasureLive(viewers[k].args, shown, stats);
            if (!live.ok) {
                std::fprintf(stderr, "%s showed no live picture\n", viewers[k].name);
                return 1;
            }
            cpu[k].push_back(live.cpuMsPerFrame);
            own[k].push_back(live.cpuMsPerFrame - live.cameraCpuMsPerFrame);
            fps[k].push_back(live.fps);
        }
    }
    for (std::size_t k = 0; k < std::size(viewers); ++k) {
        std::printf("live_%s_cpu_ms_per_frame %.3f ms\n", viewers[k].name, Median(cpu[k]));
        std::printf("live_%s_cpu_without_camera_ms_per_frame %.3f ms\n", viewers[k].name,
                    Median(own[k]));
        std::printf("live_%s_fps %.1f fps\n", viewers[k].name, Median(fps[k]));
    }
    std::printf("live_snapix_window_over_ffplay %.2f\n", Median(cpu[0]) / Median(cpu[2]));
    std::printf("live_video_window_1280x720_over_ffplay %.2f\n", Median(cpu[1]) / Median(cpu[2]));
    std::printf("live_without_camera_snapix_window_over_ffplay %.2f\n",
                Median(own[0]) / Median(own[2]));
    return 0;
}
