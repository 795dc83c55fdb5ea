// VideoIo over libv4l2.
#include "capture/LibV4l2Io.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>

#include <libv4l2.h>

LibV4l2Io& LibV4l2Io::Instance() {
    static LibV4l2Io io;
    return io;
}

int LibV4l2Io::Open(const std::string& path) {
    const int fd = v4l2_open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    return fd < 0 ? -errno : fd;
}

int LibV4l2Io::Close(int fd) {
    return v4l2_close(fd) < 0 ? -errno : 0;
}

int LibV4l2Io::Ioctl(int fd, unsigned long request, void* arg) {
    int r;
    do {
        r = v4l2_ioctl(fd, request, arg);
    } while (r < 0 && errno == EINTR);
    return r < 0 ? -errno : 0;
}

void* LibV4l2Io::Mmap(std::size_t length, int fd, int64_t offset, int* error) {
    void* p = v4l2_mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, offset);
    if (p == MAP_FAILED) {
        if (error) {
            *error = -errno;
        }
        return nullptr;
    }
    return p;
}

int LibV4l2Io::Munmap(void* address, std::size_t length) {
    return v4l2_munmap(address, length) < 0 ? -errno : 0;
}

int LibV4l2Io::Poll(int fd, int wakeFd, int timeoutMs) {
    pollfd fds[2] = {{fd, POLLIN | POLLPRI, 0}, {wakeFd, POLLIN, 0}};
    const int n = ::poll(fds, wakeFd >= 0 ? 2 : 1, timeoutMs);
    if (n < 0) {
        return errno == EINTR ? 0 : -errno;
    }
    int result = 0;
    // POLLERR on the device (unplugged, stream stopped) is reported as a frame:
    // the dequeue that follows returns the driver's real error.
    if (fds[0].revents & (POLLIN | POLLPRI | POLLERR | POLLHUP)) {
        result |= kPollFrame;
    }
    if (wakeFd >= 0 && (fds[1].revents & POLLIN)) {
        result |= kPollWoken;
    }
    return result;
}
