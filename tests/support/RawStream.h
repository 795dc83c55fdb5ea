// A stream through a camera's raw driver calls, as any V4L2 program runs one: the format
// set, buffers requested, mapped and queued, the stream started, frames dequeued, and
// all of it let go at the end. For tests that talk to the driver seam directly.
#pragma once

#include <poll.h>
#include <sys/mman.h>

#include <cerrno>
#include <cstdint>
#include <utility>
#include <vector>

#include <linux/videodev2.h>

#include "capture/VideoIo.h"

class TRawStream {
  public:
    // On a descriptor the caller opened and closes (after this is gone or stopped).
    TRawStream(VideoIo& io, int fd) : FIo(io), FFd(fd) {}
    ~TRawStream() { Stop(); }
    TRawStream(const TRawStream&) = delete;
    TRawStream& operator=(const TRawStream&) = delete;

    // Sets the format, which must be taken as asked, requests `count` buffers, maps and
    // queues them, and starts the stream. 0, or the -errno of the first call that failed
    // (-EINVAL when the driver chose another format).
    int Start(uint32_t fourcc, int width, int height, uint32_t count = 4) {
        v4l2_format format{};
        format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        format.fmt.pix.width = uint32_t(width);
        format.fmt.pix.height = uint32_t(height);
        format.fmt.pix.pixelformat = fourcc;
        int r = FIo.Ioctl(FFd, VIDIOC_S_FMT, &format);
        if (r != 0) {
            return r;
        }
        if (format.fmt.pix.width != uint32_t(width) || format.fmt.pix.height != uint32_t(height) ||
            format.fmt.pix.pixelformat != fourcc) {
            return -EINVAL;
        }
        v4l2_requestbuffers request{};
        request.count = count;
        request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        request.memory = V4L2_MEMORY_MMAP;
        if ((r = FIo.Ioctl(FFd, VIDIOC_REQBUFS, &request)) != 0) {
            return r;
        }
        for (uint32_t i = 0; i < request.count; ++i) {
            v4l2_buffer buffer = Blank();
            buffer.index = i;
            if ((r = FIo.Ioctl(FFd, VIDIOC_QUERYBUF, &buffer)) != 0) {
                return r;
            }
            void* p = FIo.Mmap(buffer.length, PROT_READ | PROT_WRITE, MAP_SHARED, FFd,
                               buffer.m.offset, &r);
            if (p == nullptr) {
                return r;
            }
            FMappings.emplace_back(static_cast<uint8_t*>(p), buffer.length);
            if ((r = FIo.Ioctl(FFd, VIDIOC_QBUF, &buffer)) != 0) {
                return r;
            }
        }
        int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if ((r = FIo.Ioctl(FFd, VIDIOC_STREAMON, &type)) == 0) {
            FStreaming = true;
        }
        return r;
    }

    // Waits up to `timeoutMs` for the next frame and dequeues its buffer (the caller
    // queues it again when it wants more). 0, -ETIMEDOUT, or the -errno of the call.
    int Next(v4l2_buffer& buffer, int timeoutMs = 2000) {
        pollfd ready{FFd, POLLIN, 0};
        const int r = FIo.Poll(&ready, 1, timeoutMs);
        if (r <= 0) {
            return r == 0 ? -ETIMEDOUT : r;
        }
        buffer = Blank();
        return FIo.Ioctl(FFd, VIDIOC_DQBUF, &buffer);
    }

    // The bytes of a dequeued buffer.
    const uint8_t* Data(const v4l2_buffer& buffer) const { return FMappings[buffer.index].first; }

    // The stream stopped and every buffer unmapped. 0, or the -errno of the first unmapping
    // that failed.
    int Stop() {
        if (FStreaming) {
            int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            FIo.Ioctl(FFd, VIDIOC_STREAMOFF, &type);  // fails on an unplugged camera: fine
            FStreaming = false;
        }
        int result = 0;
        for (const auto& [address, length] : FMappings) {
            const int r = FIo.Munmap(address, length);
            result = result != 0 ? result : r;
        }
        FMappings.clear();
        return result;
    }

  private:
    static v4l2_buffer Blank() {
        v4l2_buffer buffer{};
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        return buffer;
    }

    VideoIo& FIo;
    const int FFd;
    bool FStreaming = false;
    std::vector<std::pair<uint8_t*, std::size_t>> FMappings;
};
