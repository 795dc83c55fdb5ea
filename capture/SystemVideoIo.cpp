// VideoIo over the system calls.
#include "capture/SystemVideoIo.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

SystemVideoIo& SystemVideoIo::Instance() {
    static SystemVideoIo io;
    return io;
}

int SystemVideoIo::Open(const std::string& path, int flags) {
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
    return fd < 0 ? -errno : fd;
}

int SystemVideoIo::Close(int fd) {
    return ::close(fd) < 0 ? -errno : 0;
}

int SystemVideoIo::Ioctl(int fd, unsigned long request, void* arg) {
    int r;
    do {
        r = ::ioctl(fd, request, arg);
    } while (r < 0 && errno == EINTR);
    return r < 0 ? -errno : r;
}

void* SystemVideoIo::Mmap(std::size_t length, int prot, int flags, int fd, int64_t offset,
                          int* error) {
    void* p = ::mmap(nullptr, length, prot, flags, fd, static_cast<off_t>(offset));
    if (p == MAP_FAILED) {
        if (error) {
            *error = -errno;
        }
        return nullptr;
    }
    return p;
}

int SystemVideoIo::Munmap(void* address, std::size_t length) {
    return ::munmap(address, length) < 0 ? -errno : 0;
}

int SystemVideoIo::Poll(pollfd* fds, nfds_t count, int timeoutMs) {
    const int n = ::poll(fds, count, timeoutMs);
    return n < 0 ? -errno : n;
}
