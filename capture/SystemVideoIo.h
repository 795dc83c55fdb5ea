// VideoIo over the system calls: real camera nodes, exactly as the kernel answers.
#pragma once

#include "capture/VideoIo.h"

class SystemVideoIo final : public VideoIo {
  public:
    static SystemVideoIo& Instance();

    int Open(const std::string& path, int flags) override;
    int Close(int fd) override;
    int Ioctl(int fd, unsigned long request, void* arg) override;
    void* Mmap(std::size_t length, int prot, int flags, int fd, int64_t offset,
               int* error) override;
    int Munmap(void* address, std::size_t length) override;
    int Poll(pollfd* fds, nfds_t count, int timeoutMs) override;
};
