// The virtual camera's device node in a program that loaded the preload library.
#include "vcam/Node.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/mman.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

#include <linux/videodev2.h>

#include "vcam/RealCalls.h"
#include "vcam/Switches.h"
#include "vcam/UserCopy.h"

namespace vcam::preload {

std::atomic<int> gOpenDescriptors{0};
std::atomic<bool> gCameraMade{false};

namespace {

// The character-device major number of every V4L2 node.
constexpr int kVideoMajor = 81;
constexpr char kDefaultNode[] = "/dev/video99";
constexpr std::size_t kMaxSwitchFile = 64 * 1024;

// The node's number in "/dev/videoN", or -1.
int NodeNumber(const std::string& path) {
    constexpr char kPrefix[] = "/dev/video";
    const std::size_t prefix = sizeof kPrefix - 1;
    if (path.compare(0, prefix, kPrefix) != 0 || path.size() == prefix ||
        path.size() > prefix + 6 ||
        path.find_first_not_of("0123456789", prefix) != std::string::npos) {
        return -1;
    }
    return std::atoi(path.c_str() + prefix);
}

std::string Environment(const char* name, const char* otherwise) {
    const char* value = std::getenv(name);
    return value && *value ? value : otherwise;
}

timespec NodeTime() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return now;
}

// The moment the node appeared: its stat times.
const timespec kCreated = NodeTime();

// The lock every program's camera of this node shares: the runtime folder when there
// is one, else a name of our own in /tmp.
std::string ShareLockPath(const std::string& name) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/') {
        return std::string(runtime) + "/snapix-vcam-" + name + ".lock";
    }
    return "/tmp/snapix-vcam-" + std::to_string(::getuid()) + "-" + name + ".lock";
}

}  // namespace

TNode* TNode::Instance() {
    static TNode* const node = []() -> TNode* {
        const std::string path = Environment("SNAPIX_VCAM_DEVICE", kDefaultNode);
        const int number = NodeNumber(path);
        if (number < 0) {
            std::fprintf(stderr,
                         "snapix-vcam: SNAPIX_VCAM_DEVICE=%s is not a video node path "
                         "(/dev/videoN); no virtual camera in this program\n",
                         path.c_str());
            return nullptr;
        }
        const std::string id = Environment("SNAPIX_VCAM_MODEL", "1080p");
        const vcam::TModel* model = vcam::FindModel(id);
        if (!model) {
            std::fprintf(stderr,
                         "snapix-vcam: SNAPIX_VCAM_MODEL=%s is not a model of the virtual "
                         "camera (1080p, vga, mjpeg); no virtual camera in this program\n",
                         id.c_str());
            return nullptr;
        }
        // Lives as long as the program: its threads may call in while it exits.
        return new TNode(path, number, *model);
    }();
    return node;
}

TNode::TNode(std::string path, int number, const vcam::TModel& model)
    : FPath(std::move(path)),
      FName("video" + std::to_string(number)),
      FNumber(number),
      FModel(model),
      FSwitchFile(Environment("SNAPIX_VCAM_FAULTS_FILE", "")) {
    const std::string stats = Environment("SNAPIX_VCAM_STATS_FILE", "");
    if (!stats.empty()) {
        FStatsFd = ::open(stats.c_str(),
                          O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
    }
}

VirtualCamera& TNode::Camera() {
    std::lock_guard lock(FMutex);
    if (!FCamera) {
        TInsideCamera inside;
        FCamera = std::make_unique<VirtualCamera>(FModel);
        const std::string lock = ShareLockPath(FName);
        if (!FCamera->ShareDeviceWithOtherPrograms(lock)) {
            std::fprintf(stderr, "snapix-vcam: cannot use %s; other programs on %s are not seen\n",
                         lock.c_str(), FPath.c_str());
        }
        TSwitches switches;
        std::string error;
        const std::string text = Environment("SNAPIX_VCAM_FAULTS", "");
        if (ParseSwitches(text, switches, error)) {
            ApplySwitches(*FCamera, switches);
        } else {
            std::fprintf(stderr, "snapix-vcam: SNAPIX_VCAM_FAULTS: %s; none switched on\n",
                         error.c_str());
        }
        if (!FSwitchFile.empty()) {
            // The file's words are the switches in force: those it holds already count
            // from the start (a missing file switches nothing).
            ReadSwitchFile();
            WatchSwitchFile();
        }
        gCameraMade.store(true, std::memory_order_release);
    }
    return *FCamera;
}

// ------------------------------------------------------------------ paths

bool TNode::IsNode(const char* path) const {
    return path && FPath == path;
}

int TNode::SysFile(const char* path) const {
    const std::string p = path ? path : "";
    const std::string devices =
        "/sys/dev/char/" + std::to_string(kVideoMajor) + ":" + std::to_string(FNumber);
    const std::string classDir = "/sys/class/video4linux/" + FName;
    std::string file;
    for (const std::string& folder : {devices, classDir}) {
        if (p.compare(0, folder.size(), folder) == 0 &&
            (p.size() == folder.size() || p[folder.size()] == '/')) {
            file = p.substr(folder.size());
        }
    }
    if (file.empty() && p != devices && p != classDir) {
        return 1;
    }
    std::string text;
    if (file == "/uevent") {
        text = "MAJOR=" + std::to_string(kVideoMajor) + "\nMINOR=" + std::to_string(FNumber) +
               "\nDEVNAME=" + FName + "\n";
    } else if (file == "/dev") {
        text = std::to_string(kVideoMajor) + ":" + std::to_string(FNumber) + "\n";
    } else if (file == "/name") {
        text = std::string(FModel.card) + "\n";
    } else {
        // No device, driver or media controller behind it: a camera on no bus.
        return -ENOENT;
    }
    const int fd = ::memfd_create("snapix-vcam-sysfs", MFD_CLOEXEC);
    if (fd < 0) {
        return -errno;
    }
    if (::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()) ||
        ::lseek(fd, 0, SEEK_SET) != 0) {
        const int error = errno;
        ::close(fd);
        return -error;
    }
    return fd;
}

void TNode::Stat(struct stat& st) const {
    std::memset(&st, 0, sizeof st);
    st.st_dev = makedev(0, 5);  // devtmpfs
    st.st_ino = 1000 + ino_t(FNumber);
    st.st_mode = S_IFCHR | 0660;
    st.st_nlink = 1;
    st.st_uid = ::getuid();
    st.st_gid = ::getgid();
    st.st_rdev = makedev(kVideoMajor, FNumber);
    st.st_blksize = 4096;
    st.st_atim = st.st_mtim = st.st_ctim = kCreated;
}

void TNode::Statx(struct statx& stx) const {
    struct stat st;
    Stat(st);
    std::memset(&stx, 0, sizeof stx);
    stx.stx_mask = STATX_BASIC_STATS;
    stx.stx_blksize = uint32_t(st.st_blksize);
    stx.stx_nlink = uint32_t(st.st_nlink);
    stx.stx_uid = st.st_uid;
    stx.stx_gid = st.st_gid;
    stx.stx_mode = uint16_t(st.st_mode);
    stx.stx_ino = st.st_ino;
    const statx_timestamp created{kCreated.tv_sec, uint32_t(kCreated.tv_nsec), 0};
    stx.stx_atime = stx.stx_btime = stx.stx_ctime = stx.stx_mtime = created;
    stx.stx_rdev_major = kVideoMajor;
    stx.stx_rdev_minor = uint32_t(FNumber);
    stx.stx_dev_major = 0;
    stx.stx_dev_minor = 5;
}

// ------------------------------------------------------------ descriptors

int TNode::CameraFd(int fd) const {
    if (gOpenDescriptors.load(std::memory_order_acquire) == 0) {
        return -1;
    }
    std::lock_guard lock(FMutex);
    const auto it = FCameraFdOf.find(fd);
    return it == FCameraFdOf.end() ? -1 : it->second;
}

int TNode::Open(int flags) {
    VirtualCamera& camera = Camera();
    TInsideCamera inside;
    const int fd = camera.Open(FModel.path, flags);
    if (fd >= 0) {
        std::lock_guard lock(FMutex);
        FCameraFdOf[fd] = fd;
        FUsers[fd] = 1;
        gOpenDescriptors.fetch_add(1, std::memory_order_release);
    }
    return fd;
}

int TNode::Close(int fd) {
    int cameraFd = -1;
    bool last = false;
    {
        std::lock_guard lock(FMutex);
        const auto it = FCameraFdOf.find(fd);
        if (it == FCameraFdOf.end()) {
            return -EBADF;
        }
        cameraFd = it->second;
        FCameraFdOf.erase(it);
        last = --FUsers[cameraFd] == 0;
        if (last) {
            FUsers.erase(cameraFd);
        }
        gOpenDescriptors.fetch_sub(1, std::memory_order_release);
    }
    TInsideCamera inside;
    // The camera's own descriptor stays open while a duplicate needs its number.
    if (fd != cameraFd) {
        ::close(fd);
    }
    if (!last) {
        return 0;
    }
    VirtualCamera& camera = Camera();
    const int result = camera.Close(cameraFd);
    // The camera's work up to the end, for a program that ends after its last frame.
    WriteStats(camera);
    return result;
}

void TNode::Duplicated(int fd, int copy) {
    std::lock_guard lock(FMutex);
    const auto it = FCameraFdOf.find(fd);
    if (it == FCameraFdOf.end()) {
        return;
    }
    FCameraFdOf[copy] = it->second;
    ++FUsers[it->second];
    gOpenDescriptors.fetch_add(1, std::memory_order_release);
}

int TNode::Ioctl(int fd, unsigned long request, void* user) {
    const int cameraFd = CameraFd(fd);
    if (cameraFd < 0) {
        return -EBADF;
    }
    VirtualCamera& camera = Camera();
    TInsideCamera inside;
    // The kernel takes the request as 32 bits, whatever a caller's sign extension made.
    const unsigned command = static_cast<unsigned>(request);
    const int result = UserIoctl(camera, cameraFd, command, user);
    if (command == VIDIOC_DQBUF && result == 0) {
        ++FFrames;
        WriteStats(camera);
    }
    return result;
}

void TNode::WriteStats(const VirtualCamera& camera) {
    if (FStatsFd < 0) {
        return;
    }
    // Fixed width, so that a shorter line never leaves the end of a longer one behind.
    char text[96];
    const int n = std::snprintf(text, sizeof text, "%d %20llu %20llu\n", int(::getpid()),
                                static_cast<unsigned long long>(FFrames.load()),
                                static_cast<unsigned long long>(camera.WorkCpuNs() / 1000));
    [[maybe_unused]] ssize_t w = ::pwrite(FStatsFd, text, std::size_t(n), 0);
}

void* TNode::Mmap(std::size_t length, int prot, int flags, int fd, int64_t offset, int* error) {
    const int cameraFd = CameraFd(fd);
    if (cameraFd < 0) {
        *error = -EBADF;
        return nullptr;
    }
    VirtualCamera& camera = Camera();
    TInsideCamera inside;
    return camera.Mmap(length, prot, flags, cameraFd, offset, error);
}

int TNode::Munmap(void* address, std::size_t length) {
    VirtualCamera* camera;
    {
        std::lock_guard lock(FMutex);
        camera = FCamera.get();
    }
    if (!camera) {
        return -EINVAL;
    }
    TInsideCamera inside;
    return camera->Munmap(address, length);
}

int TNode::Poll(pollfd* fds, nfds_t count, int timeoutMs) {
    // The camera knows its descriptors by its own numbers.
    std::vector<pollfd> asked(fds, fds + count);
    for (pollfd& p : asked) {
        if (const int cameraFd = CameraFd(p.fd); cameraFd >= 0) {
            p.fd = cameraFd;
        }
    }
    VirtualCamera& camera = Camera();
    TInsideCamera inside;
    const int result = camera.Poll(asked.data(), count, timeoutMs);
    for (nfds_t i = 0; i < count; ++i) {
        fds[i].revents = asked[i].revents;
    }
    return result;
}

// ---------------------------------------------------------------- switches

void TNode::ReadSwitchFile() {
    const int fd = ::open(FSwitchFile.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return;  // removed: the switches stay as they are
    }
    std::string text;
    struct stat st;
    const bool regular =
        ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= off_t(kMaxSwitchFile);
    if (regular) {
        char buffer[4096];
        ssize_t n;
        while (text.size() < kMaxSwitchFile && (n = ::read(fd, buffer, sizeof buffer)) > 0) {
            text.append(buffer, std::size_t(n));
        }
    }
    ::close(fd);
    TSwitches switches;
    std::string error;
    if (!regular) {
        error = "not a file of switches (a regular file of at most 64 KB)";
    } else if (ParseSwitches(text, switches, error)) {
        ApplySwitches(*FCamera, switches);
        return;
    }
    std::fprintf(stderr, "snapix-vcam: %s: %s; the switches stay as they were\n",
                 FSwitchFile.c_str(), error.c_str());
}

void TNode::WatchSwitchFile() {
    const std::size_t slash = FSwitchFile.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : FSwitchFile.substr(0, slash + 1);
    const std::string name =
        slash == std::string::npos ? FSwitchFile : FSwitchFile.substr(slash + 1);
    const int watch = ::inotify_init1(IN_CLOEXEC);
    if (watch < 0 || ::inotify_add_watch(watch, folder.c_str(), IN_CLOSE_WRITE | IN_MOVED_TO) < 0) {
        std::fprintf(stderr, "snapix-vcam: cannot watch %s: %s\n", FSwitchFile.c_str(),
                     std::strerror(errno));
        if (watch >= 0) {
            ::close(watch);
        }
        return;
    }
    // The watcher takes no signal of the program's: they go to the program's own threads.
    sigset_t all, before;
    sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &before);
    std::thread([this, watch, name] {
        TInsideCamera inside;
        alignas(inotify_event) char events[4096];
        for (;;) {
            const ssize_t n = ::read(watch, events, sizeof events);
            if (n <= 0) {
                if (n < 0 && errno == EINTR) {
                    continue;
                }
                return;
            }
            for (ssize_t at = 0; at < n;) {
                const auto* e = reinterpret_cast<const inotify_event*>(events + at);
                if (e->len && name == e->name) {
                    ReadSwitchFile();
                }
                at += ssize_t(sizeof(inotify_event) + e->len);
            }
        }
    }).detach();
    ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

}  // namespace vcam::preload
