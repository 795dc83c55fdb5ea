// The seam under the capture layer: the raw calls a V4L2 driver answers (open, close,
// ioctl, mmap, munmap, poll). The system calls on /dev/video* stand behind it for real
// cameras, the virtual camera for machines without one; everything above it, the format
// choice and the conversion of the camera's frames included, is the same code for both.
// Plain C++: the virtual camera's core implements it without Qt.
#pragma once

#include <poll.h>

#include <cstddef>
#include <cstdint>
#include <string>

class VideoIo {
  public:
    virtual ~VideoIo() = default;

    // Each call answers as the kernel does, with -errno in place of -1 and errno.
    // Calls may come from the GUI thread and from a streaming thread at once.

    // A descriptor, or -errno. flags as for open(2); O_CLOEXEC is always added.
    virtual int Open(const std::string& path, int flags) = 0;
    virtual int Close(int fd) = 0;
    // 0 (or the driver's non-negative answer), or -errno. EINTR is retried.
    virtual int Ioctl(int fd, unsigned long request, void* arg) = 0;
    // A mapping of a buffer the driver offers at `offset` (VIDIOC_QUERYBUF's m.offset),
    // or nullptr with -errno in *error.
    virtual void* Mmap(std::size_t length, int prot, int flags, int fd, int64_t offset,
                       int* error) = 0;
    virtual int Munmap(void* address, std::size_t length) = 0;
    // poll(2) over descriptors of this seam and plain ones (an eventfd, say): the
    // number of entries with revents set, 0 on timeout, or -errno (-EINTR included).
    virtual int Poll(pollfd* fds, nfds_t count, int timeoutMs) = 0;
};
