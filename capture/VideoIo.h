// The seam under the capture layer: the device calls a V4L2 driver answers.
// libv4l2 stands behind it for real cameras, the virtual camera for machines
// without one, so the same capture code runs against both.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class VideoIo {
  public:
    // Poll results, or'ed together; 0 means the timeout passed.
    static constexpr int kPollFrame = 1;  // a buffer can be dequeued
    static constexpr int kPollWoken = 2;  // the wake descriptor became readable

    virtual ~VideoIo() = default;

    // Every call returns a descriptor or 0 on success and -errno on failure.
    // Calls may come from the GUI thread and from a streaming thread at once.
    virtual int Open(const std::string& path) = 0;
    virtual int Close(int fd) = 0;
    virtual int Ioctl(int fd, unsigned long request, void* arg) = 0;
    // Returns nullptr on failure (errno-style code in *error when given).
    virtual void* Mmap(std::size_t length, int fd, int64_t offset, int* error) = 0;
    virtual int Munmap(void* address, std::size_t length) = 0;
    // Waits until a frame can be dequeued from fd, wakeFd (an eventfd, or -1)
    // becomes readable, or timeoutMs passes.
    virtual int Poll(int fd, int wakeFd, int timeoutMs) = 0;
};
