// A camera that lives in this process and answers the V4L2 calls the way a
// driver does, so the capture code is exercised on machines without a camera.
// It sends BGR24 at a steady 30 frames per second: a test pattern with a
// moving square and a frame counter, changed by its picture controls.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <mutex>
#include <vector>

#include "capture/VideoIo.h"

class VirtualCamera final : public VideoIo {
  public:
    static constexpr char kPath[] = "virtual:0";
    static constexpr char kName[] = "Snapix Virtual Camera";
    static constexpr int kFramesPerSecond = 30;

    // The ways a real device fails, switchable by tests.
    struct Faults {
        bool busyOnOpen = false;      // open fails with EBUSY (another program holds it)
        bool refuseSizes = false;     // any size other than the current one: EINVAL
        bool noControls = false;      // no user controls at all
        bool streamOnFails = false;   // VIDIOC_STREAMON fails with EIO
        bool noFrames = false;        // streams, but never delivers a frame
        bool streamOffFails = false;  // VIDIOC_STREAMOFF fails with EIO
        // Opens, but another program streams from it: what USB cameras answer.
        bool busyOnFormat = false;   // VIDIOC_S_FMT fails with EBUSY
        bool busyOnBuffers = false;  // VIDIOC_REQBUFS fails with EBUSY
    };

    // The process-wide camera that the device list offers.
    static VirtualCamera& Instance();

    VirtualCamera();
    ~VirtualCamera() override;

    // Back to a newly plugged camera: 640x480, default controls, no faults.
    // Only while nobody has it open.
    void Reset();
    void SetFaults(const Faults& faults);
    // Grain on every component, as a real sensor gives: the pictures that make
    // the largest JPEG files. Off after Reset.
    void SetSensorNoise(bool on);
    // Unplugged: every call on an open descriptor fails with ENODEV from now
    // on, and opening fails too, until it is plugged in again.
    void Unplug();
    void PlugIn();
    // The flags its control query reports for control id (for example
    // V4L2_CTRL_FLAG_INACTIVE), until the next Reset.
    void SetControlFlags(uint32_t id, uint32_t flags);

    // Introspection for tests.
    int OpenDescriptors() const;
    int LiveMappings() const;
    // Buffers queued on a descriptor that had already been told the camera
    // is gone (ENODEV). One buffer dequeued just before the unplug and queued
    // just after it is normal and not counted: re-queueing after being told is
    // the fault.
    int BuffersQueuedAfterUnplug() const;
    uint64_t FramesDelivered() const;
    bool Streaming() const;

    int Open(const std::string& path) override;
    int Close(int fd) override;
    int Ioctl(int fd, unsigned long request, void* arg) override;
    void* Mmap(std::size_t length, int fd, int64_t offset, int* error) override;
    int Munmap(void* address, std::size_t length) override;
    int Poll(int fd, int wakeFd, int timeoutMs) override;

    // The sizes it offers, smallest first.
    static const std::vector<std::pair<int, int>>& Sizes();

  private:
    using Clock = std::chrono::steady_clock;

    struct Control {
        uint32_t id;
        const char* name;
        int32_t minimum, maximum, step, defaultValue, value;
        uint32_t flags = 0;
    };
    // A buffer's bytes, left unwritten until its first frame: a driver's buffers
    // cost the processor nothing at VIDIOC_REQBUFS.
    struct Memory {
        std::unique_ptr<uint8_t[]> bytes;
        std::size_t length = 0;
        uint8_t* data() { return bytes.get(); }
        std::size_t size() const { return length; }
    };
    struct Buffer {
        Memory memory;
        bool queued = false;
        bool mapped = false;
        uint32_t bytesUsed = 0;
        // What the memory holds from its last fill: the pattern of this
        // generation (0: nothing known) with the square at squareX. Readers of
        // a mapped buffer only read, as from a real device's.
        uint64_t holdsBase = 0;
        int squareX = 0;
    };

    // All below: guarded by mutex_ (the GUI thread and the streaming thread
    // both call in).
    int IoctlLocked(int fd, unsigned long request, void* arg);
    Control* FindControl(uint32_t id);
    void RenderBaseIfStale();
    void FillFrame(Buffer& buffer, uint64_t sequence);
    std::chrono::nanoseconds TimeToNextFrameLocked() const;
    bool FrameDueLocked() const;
    void ReleaseBuffersLocked();

    mutable std::mutex mutex_;
    Faults faults_;
    bool unplugged_ = false;
    std::map<int, bool> descriptors_;  // open fds
    int nextFd_ = 10000;
    int streamOwner_ = -1;  // fd that owns the buffers, -1 when none
    int width_ = 640;
    int height_ = 480;
    std::vector<Control> controls_;
    std::vector<Buffer> buffers_;
    std::vector<uint32_t> queue_;  // queued buffer indexes, in order
    bool streaming_ = false;
    Clock::time_point streamStart_;
    uint64_t sequence_ = 0;   // frames delivered since stream on
    uint64_t delivered_ = 0;  // frames delivered in total
    int queuedAfterUnplug_ = 0;
    bool sensorNoise_ = false;
    std::set<int> toldGone_;  // fds answered ENODEV since the unplug
    int liveMappings_ = 0;

    // The pattern for the current size and control values, rendered once and
    // copied into every frame.
    std::vector<uint8_t> base_;
    int baseWidth_ = 0, baseHeight_ = 0;
    bool baseStale_ = true;
    uint64_t baseGeneration_ = 0;  // counts renderings of base_
};
