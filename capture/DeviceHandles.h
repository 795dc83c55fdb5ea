// Owners of what the capture layer takes from a device through the VideoIo
// seam, and of plain descriptors: each gives it back exactly once, on every path.
#pragma once

#include <cstddef>
#include <utility>

#include <unistd.h>

#include "capture/VideoIo.h"

// A plain file descriptor (the streaming thread's wake eventfd).
class TUniqueFd {
  public:
    TUniqueFd() = default;
    explicit TUniqueFd(int fd) : FFd(fd) {}
    TUniqueFd(TUniqueFd&& other) noexcept : FFd(std::exchange(other.FFd, -1)) {}
    TUniqueFd& operator=(TUniqueFd&& other) noexcept {
        if (this != &other) {
            Reset(std::exchange(other.FFd, -1));
        }
        return *this;
    }
    ~TUniqueFd() { Reset(); }

    int Get() const { return FFd; }
    bool Valid() const { return FFd >= 0; }
    void Reset(int fd = -1) {
        if (FFd >= 0) {
            ::close(FFd);
        }
        FFd = fd;
    }

  private:
    int FFd = -1;
};

// A device opened through the seam; closed through it.
class TDeviceFd {
  public:
    TDeviceFd() = default;
    TDeviceFd(VideoIo* io, int fd) : FIo(io), FFd(fd) {}
    TDeviceFd(TDeviceFd&& other) noexcept
        : FIo(std::exchange(other.FIo, nullptr)), FFd(std::exchange(other.FFd, -1)) {}
    TDeviceFd& operator=(TDeviceFd&& other) noexcept {
        if (this != &other) {
            Reset();
            FIo = std::exchange(other.FIo, nullptr);
            FFd = std::exchange(other.FFd, -1);
        }
        return *this;
    }
    ~TDeviceFd() { Reset(); }

    VideoIo* Io() const { return FIo; }
    int Get() const { return FFd; }
    bool Valid() const { return FFd >= 0; }
    void Reset() {
        if (FFd >= 0) {
            FIo->Close(FFd);
        }
        FFd = -1;
        FIo = nullptr;
    }

  private:
    VideoIo* FIo = nullptr;
    int FFd = -1;
};

// A buffer mapping of a device; unmapped through the seam. Release() reports
// the unmap's result for callers that want it.
class TDeviceMapping {
  public:
    TDeviceMapping(VideoIo* io, void* address, std::size_t length)
        : FIo(io), FAddress(address), FLength(length) {}
    TDeviceMapping(TDeviceMapping&& other) noexcept
        : FIo(other.FIo),
          FAddress(std::exchange(other.FAddress, nullptr)),
          FLength(other.FLength) {}
    TDeviceMapping& operator=(TDeviceMapping&&) = delete;
    ~TDeviceMapping() { Release(); }

    const void* Address() const { return FAddress; }
    int Release() { return FAddress ? FIo->Munmap(std::exchange(FAddress, nullptr), FLength) : 0; }

  private:
    VideoIo* FIo;
    void* FAddress;
    std::size_t FLength;
};
