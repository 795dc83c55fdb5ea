// VideoIo over libv4l2: real camera nodes, with libv4l2's format emulation
// turning whatever the camera sends (MJPEG, YUYV, ...) into BGR24.
#pragma once

#include "capture/VideoIo.h"

class LibV4l2Io final : public VideoIo {
  public:
    static LibV4l2Io& Instance();

    int Open(const std::string& path) override;
    int Close(int fd) override;
    int Ioctl(int fd, unsigned long request, void* arg) override;
    void* Mmap(std::size_t length, int fd, int64_t offset, int* error) override;
    int Munmap(void* address, std::size_t length) override;
    int Poll(int fd, int wakeFd, int timeoutMs) override;
};
