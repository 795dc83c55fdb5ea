// A small V4L2 program the preload library's tests run under LD_PRELOAD, doing what
// real clients do wrong or at once: plain C library calls on /dev/video99, each checked
// against what a driver answers. Prints one line per failed check and exits 1 when
// there was one.
//
//   vcam_client hostile  bad addresses for every request: EFAULT, and the camera works on
//   vcam_client two      two descriptors: the second streams only when the first does not
//   vcam_client busy     another program streams: format and buffers are busy
//   vcam_client unplug   unplugged through SNAPIX_VCAM_FAULTS_FILE while streaming
#include <fcntl.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/select.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <linux/videodev2.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr char kNode[] = "/dev/video99";
int gFailures = 0;

void Check(bool ok, const std::string& what) {
    if (!ok) {
        std::printf("FAIL: %s\n", what.c_str());
        ++gFailures;
    }
}

// The errno of an ioctl, 0 when it succeeded.
int Error(int fd, unsigned long request, void* arg) {
    return ::ioctl(fd, request, arg) == 0 ? 0 : errno;
}

void ExpectError(int fd, unsigned long request, void* arg, int expected, const std::string& what) {
    const int got = Error(fd, request, arg);
    Check(got == expected, what + ": " + std::strerror(got) + ", wanted " +
                               (expected ? std::strerror(expected) : "success"));
}

v4l2_format Format(uint32_t fourcc, uint32_t width, uint32_t height) {
    v4l2_format f{};
    f.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    f.fmt.pix.width = width;
    f.fmt.pix.height = height;
    f.fmt.pix.pixelformat = fourcc;
    return f;
}

v4l2_requestbuffers Buffers(uint32_t count) {
    v4l2_requestbuffers r{};
    r.count = count;
    r.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    r.memory = V4L2_MEMORY_MMAP;
    return r;
}

// A stream on `fd`: format, buffers mapped and queued, stream on.
struct Stream {
    int fd = -1;
    std::vector<std::pair<void*, std::size_t>> maps;

    bool Start(int descriptor, uint32_t fourcc = V4L2_PIX_FMT_YUYV) {
        fd = descriptor;
        v4l2_format f = Format(fourcc, 640, 480);
        v4l2_requestbuffers r = Buffers(3);
        if (Error(fd, VIDIOC_S_FMT, &f) || Error(fd, VIDIOC_REQBUFS, &r)) {
            return false;
        }
        for (uint32_t i = 0; i < r.count; ++i) {
            v4l2_buffer b{};
            b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            b.memory = V4L2_MEMORY_MMAP;
            b.index = i;
            if (Error(fd, VIDIOC_QUERYBUF, &b)) {
                return false;
            }
            void* p = ::mmap(nullptr, b.length, PROT_READ, MAP_SHARED, fd, b.m.offset);
            if (p == MAP_FAILED || Error(fd, VIDIOC_QBUF, &b)) {
                return false;
            }
            maps.emplace_back(p, b.length);
        }
        int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        return Error(fd, VIDIOC_STREAMON, &type) == 0;
    }
    // One frame, waited for with poll: its bytes used, or -errno.
    int Frame() {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 2000) != 1) {
            return -ETIMEDOUT;
        }
        v4l2_buffer b{};
        b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        b.memory = V4L2_MEMORY_MMAP;
        if (::ioctl(fd, VIDIOC_DQBUF, &b) != 0) {
            return -errno;
        }
        const int used = int(b.bytesused);
        ::ioctl(fd, VIDIOC_QBUF, &b);
        return used;
    }
    void Stop() {
        int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        ::ioctl(fd, VIDIOC_STREAMOFF, &type);
        for (auto& [p, length] : maps) {
            ::munmap(p, length);
        }
        maps.clear();
        v4l2_requestbuffers none = Buffers(0);
        ::ioctl(fd, VIDIOC_REQBUFS, &none);
    }
};

// Every request the camera answers, with addresses that are not the caller's to give:
// none, a page that is not mapped, one that is only readable (for answers), and an
// argument running off the end of a mapped page. The kernel answers EFAULT to all.
void Hostile() {
    const int fd = ::open(kNode, O_RDWR | O_NONBLOCK);
    Check(fd >= 0, "open");
    const long page = ::sysconf(_SC_PAGESIZE);
    auto* pages = static_cast<uint8_t*>(
        ::mmap(nullptr, 3 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ::mprotect(pages + page, page, PROT_NONE);
    ::mprotect(pages + 2 * page, page, PROT_READ);
    void* unmapped = pages + page;
    void* readOnly = pages + 2 * page;
    const struct {
        const char* name;
        unsigned long request;
    } requests[] = {
        {"QUERYCAP", VIDIOC_QUERYCAP},     {"ENUM_FMT", VIDIOC_ENUM_FMT},
        {"G_FMT", VIDIOC_G_FMT},           {"S_FMT", VIDIOC_S_FMT},
        {"TRY_FMT", VIDIOC_TRY_FMT},       {"ENUM_FRAMESIZES", VIDIOC_ENUM_FRAMESIZES},
        {"ENUM_FRAMEINTERVALS", VIDIOC_ENUM_FRAMEINTERVALS},
        {"G_PARM", VIDIOC_G_PARM},         {"S_PARM", VIDIOC_S_PARM},
        {"REQBUFS", VIDIOC_REQBUFS},       {"CREATE_BUFS", VIDIOC_CREATE_BUFS},
        {"QUERYBUF", VIDIOC_QUERYBUF},     {"QBUF", VIDIOC_QBUF},
        {"DQBUF", VIDIOC_DQBUF},           {"STREAMON", VIDIOC_STREAMON},
        {"STREAMOFF", VIDIOC_STREAMOFF},   {"QUERYCTRL", VIDIOC_QUERYCTRL},
        {"QUERY_EXT_CTRL", VIDIOC_QUERY_EXT_CTRL}, {"QUERYMENU", VIDIOC_QUERYMENU},
        {"G_CTRL", VIDIOC_G_CTRL},         {"S_CTRL", VIDIOC_S_CTRL},
        {"G_EXT_CTRLS", VIDIOC_G_EXT_CTRLS}, {"S_EXT_CTRLS", VIDIOC_S_EXT_CTRLS},
        {"ENUMINPUT", VIDIOC_ENUMINPUT},   {"G_INPUT", VIDIOC_G_INPUT},
        {"S_INPUT", VIDIOC_S_INPUT},       {"G_PRIORITY", VIDIOC_G_PRIORITY},
        {"S_PRIORITY", VIDIOC_S_PRIORITY}, {"SUBSCRIBE_EVENT", VIDIOC_SUBSCRIBE_EVENT},
        {"DQEVENT", VIDIOC_DQEVENT},
    };
    for (const auto& r : requests) {
        const std::string name = r.name;
        const std::size_t size = _IOC_SIZE(r.request);
        ExpectError(fd, r.request, nullptr, EFAULT, name + " with no address");
        ExpectError(fd, r.request, unmapped, EFAULT, name + " on an unmapped page");
        ExpectError(fd, r.request, pages + page - size / 2, EFAULT, name + " off a page's end");
        if (_IOC_DIR(r.request) & _IOC_READ) {
            ExpectError(fd, r.request, readOnly, EFAULT, name + " answering into read-only memory");
        }
        Check(::syscall(SYS_ioctl, fd, r.request, unmapped) == -1 && errno == EFAULT,
              name + " through syscall(2)");
    }
    // The control array of an extended-control request is the caller's memory too.
    v4l2_ext_controls ext{};
    ext.count = 1;
    ext.controls = static_cast<v4l2_ext_control*>(unmapped);
    ExpectError(fd, VIDIOC_G_EXT_CTRLS, &ext, EFAULT, "G_EXT_CTRLS with an unmapped array");
    ext.controls = static_cast<v4l2_ext_control*>(readOnly);
    ExpectError(fd, VIDIOC_S_EXT_CTRLS, &ext, EFAULT, "S_EXT_CTRLS with a read-only array");
    ext.count = 1u << 30;
    ext.controls = reinterpret_cast<v4l2_ext_control*>(pages);
    ExpectError(fd, VIDIOC_TRY_EXT_CTRLS, &ext, EINVAL, "TRY_EXT_CTRLS with a billion controls");
    // A refused answer changed nothing: the failed S_CTRL set no brightness.
    v4l2_control brightness{V4L2_CID_BRIGHTNESS, 0};
    ExpectError(fd, VIDIOC_G_CTRL, &brightness, 0, "G_CTRL after the bad ones");
    Check(brightness.value == 128, "brightness untouched by refused requests");
    // The other calls that take the caller's memory, while the camera is open.
    struct stat st;
    Check(::fstat(fd, static_cast<struct stat*>(unmapped)) == -1 && errno == EFAULT,
          "fstat into an unmapped page: EFAULT");
    Check(::stat(kNode, static_cast<struct stat*>(readOnly)) == -1 && errno == EFAULT,
          "stat into read-only memory: EFAULT");
    Check(::stat(kNode, &st) == 0 && S_ISCHR(st.st_mode) && major(st.st_rdev) == 81,
          "stat: a character device of V4L2's major number");
    Check(::open(static_cast<const char*>(unmapped), O_RDWR) == -1 && errno == EFAULT,
          "open of an unmapped path: EFAULT");
    Check(::poll(static_cast<pollfd*>(unmapped), 1, 0) == -1 && errno == EFAULT,
          "poll of an unmapped array: EFAULT");
    fd_set* badSet = static_cast<fd_set*>(unmapped);
    Check(::select(fd + 1, badSet, nullptr, nullptr, nullptr) == -1 && errno == EFAULT,
          "select of an unmapped set: EFAULT");
    // Buffers mapped at places the camera never offered.
    Check(::mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd, 0) == MAP_FAILED && errno == EINVAL,
          "mmap before any buffer: EINVAL");
    // And the camera still streams.
    Stream s;
    Check(s.Start(fd), "a stream after the hostile requests");
    Check(s.Frame() > 0, "a frame after the hostile requests");
    Check(::mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd, 12345) == MAP_FAILED && errno == EINVAL,
          "mmap at an offset no buffer has: EINVAL");
    Check(::read(fd, pages, 16) == -1 && errno == EINVAL, "read: EINVAL (no read I/O)");
    s.Stop();
    ::close(fd);
}

// One program, two descriptors: the first to ask for buffers owns the stream; the
// other may look but not change the format, take buffers or stream, until the first
// lets go.
void Two() {
    const int first = ::open(kNode, O_RDWR);
    const int second = ::open(kNode, O_RDWR);
    Check(first >= 0 && second >= 0, "two opens");
    Stream a;
    Check(a.Start(first), "the first streams");
    Check(a.Frame() > 0, "the first has a frame");
    v4l2_format f{};
    f.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    ExpectError(second, VIDIOC_G_FMT, &f, 0, "the second reads the format");
    v4l2_format g = Format(V4L2_PIX_FMT_MJPEG, 1280, 720);
    ExpectError(second, VIDIOC_S_FMT, &g, EBUSY, "the second sets a format");
    v4l2_requestbuffers r = Buffers(2);
    ExpectError(second, VIDIOC_REQBUFS, &r, EBUSY, "the second asks for buffers");
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    ExpectError(second, VIDIOC_STREAMON, &type, EBUSY, "the second starts the stream");
    ExpectError(second, VIDIOC_STREAMOFF, &type, EBUSY, "the second stops the stream");
    Check(a.Frame() > 0, "the first streams on");
    a.Stop();
    Stream b;
    Check(b.Start(second, V4L2_PIX_FMT_MJPEG), "the second streams once the first let go");
    Check(b.Frame() > 0, "the second has a frame");
    v4l2_requestbuffers r2 = Buffers(2);
    ExpectError(first, VIDIOC_REQBUFS, &r2, EBUSY, "now the first is the one refused");
    b.Stop();
    // A duplicate is the same open: it may do what its original may.
    const int copy = ::dup(first);
    Stream c;
    Check(c.Start(copy), "a duplicate streams for its original");
    ::close(first);
    Check(c.Frame() > 0, "the duplicate streams on after its original closed");
    c.Stop();
    ::close(copy);
    ::close(second);
}

// Another program streams from the camera: this one may open it and ask, not take it.
void Busy() {
    const int fd = ::open(kNode, O_RDWR);
    Check(fd >= 0, "open while another program streams");
    v4l2_capability cap{};
    ExpectError(fd, VIDIOC_QUERYCAP, &cap, 0, "QUERYCAP");
    v4l2_format f = Format(V4L2_PIX_FMT_YUYV, 320, 240);
    ExpectError(fd, VIDIOC_S_FMT, &f, EBUSY, "S_FMT");
    v4l2_requestbuffers r = Buffers(2);
    ExpectError(fd, VIDIOC_REQBUFS, &r, EBUSY, "REQBUFS");
    ::close(fd);
}

void WriteSwitches(const char* text) {
    const char* file = std::getenv("SNAPIX_VCAM_FAULTS_FILE");
    Check(file != nullptr, "SNAPIX_VCAM_FAULTS_FILE is set");
    if (file) {
        std::ofstream(file) << text;
    }
}

// Unplugged mid-stream through the switch file: as the capture layer's tests expect of
// a driver, poll reports POLLERR | POLLHUP, the dequeue ENODEV, a new open ENODEV;
// an epoll wait wakes. Plugged in again, it opens.
void Unplug() {
    const int fd = ::open(kNode, O_RDWR);
    Stream s;
    Check(s.Start(fd), "stream");
    Check(s.Frame() > 0, "a frame before the unplug");
    const int ep = ::epoll_create1(EPOLL_CLOEXEC);
    epoll_event ev{};
    ev.events = EPOLLIN;
    ::epoll_ctl(ep, EPOLL_CTL_ADD, fd, &ev);
    WriteSwitches("unplugged\n");
    pollfd p{fd, POLLIN, 0};
    const auto start = std::chrono::steady_clock::now();
    int ready = 0;
    // The switch file is read as it changes; until then frames keep coming.
    while (std::chrono::steady_clock::now() - start < std::chrono::seconds(3)) {
        ready = ::poll(&p, 1, 100);
        if (ready == 1 && (p.revents & POLLERR)) {
            break;
        }
        if (ready == 1) {
            s.Frame();
        }
    }
    Check(ready == 1 && p.revents == (POLLERR | POLLHUP), "poll: POLLERR | POLLHUP");
    Check(::epoll_wait(ep, &ev, 1, 1000) == 1, "epoll wakes");
    v4l2_buffer b{};
    b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    b.memory = V4L2_MEMORY_MMAP;
    ExpectError(fd, VIDIOC_DQBUF, &b, ENODEV, "DQBUF after the unplug");
    v4l2_capability cap{};
    ExpectError(fd, VIDIOC_QUERYCAP, &cap, ENODEV, "QUERYCAP after the unplug");
    Check(::open(kNode, O_RDWR) == -1 && errno == ENODEV, "open after the unplug: ENODEV");
    for (auto& [address, length] : s.maps) {
        Check(::munmap(address, length) == 0, "munmap after the unplug");
    }
    Check(::close(fd) == 0, "close after the unplug");
    ::close(ep);
    WriteSwitches("");
    int again = -1;
    for (int i = 0; i < 300 && again < 0; ++i) {
        again = ::open(kNode, O_RDWR);
        if (again < 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    Check(again >= 0, "open once plugged in again");
    ::close(again);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "hostile") {
        Hostile();
    } else if (mode == "two") {
        Two();
    } else if (mode == "busy") {
        Busy();
    } else if (mode == "unplug") {
        Unplug();
    } else {
        std::fprintf(stderr, "usage: %s hostile|two|busy|unplug\n", argv[0]);
        return 2;
    }
    std::printf("%s: %d failed\n", mode.c_str(), gFailures);
    return gFailures ? 1 : 0;
}
