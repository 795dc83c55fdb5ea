// A USB camera that lives in this process and answers the raw V4L2 calls the way its
// driver would, so that the capture code, conversion included, runs on machines
// without a camera. It sends YUYV and Motion-JPEG frames of a test pattern (colour
// bars, a grey ramp, a moving square and a frame counter) at the frame rates its model
// offers, settles its exposure after the stream starts, and its controls change the
// picture. Plain C++ with libjpeg (no Qt), so that other programs can be given it too.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <linux/videodev2.h>

#include "capture/VideoIo.h"
#include "capture/VirtualCameraModels.h"
#include "capture/VirtualControls.h"
#include "capture/VirtualPicture.h"

class VirtualCamera final : public VideoIo {
  public:
    // The 1080p model, the one SNAPIX_VIRTUAL_CAMERA=1 lists.
    static constexpr char kPath[] = "virtual:0";
    static constexpr char kName[] = "Snapix Virtual Camera";

    // The ways a real device fails, switchable by tests.
    struct Faults {
        bool busyOnOpen = false;      // open fails with EBUSY (another program holds it)
        bool refuseSizes = false;     // any size other than the current one: EINVAL
        bool noControls = false;      // no controls at all
        bool streamOnFails = false;   // VIDIOC_STREAMON fails with EIO
        bool noFrames = false;        // streams, but never delivers a frame
        bool streamOffFails = false;  // VIDIOC_STREAMOFF fails with EIO
        // Opens, but another program streams from it: what USB cameras answer.
        bool busyOnFormat = false;   // VIDIOC_S_FMT fails with EBUSY
        bool busyOnBuffers = false;  // VIDIOC_REQBUFS fails with EBUSY
        // Every Nth frame (0: none) damaged: a Motion-JPEG frame whose data breaks off
        // into its end marker halfway; or short: fewer bytes than a whole frame.
        int corruptEvery = 0;
        int shortEvery = 0;
        // The sensor is mounted upside down, and the driver says so (the input's
        // status carries V4L2_IN_ST_HFLIP and V4L2_IN_ST_VFLIP).
        bool upsideDown = false;
    };

    // The process-wide camera of a model (the 1080p one by default).
    static VirtualCamera& Instance(const vcam::TModel& model = vcam::Models().front());

    explicit VirtualCamera(const vcam::TModel& model);
    ~VirtualCamera() override;
    VirtualCamera(const VirtualCamera&) = delete;
    VirtualCamera& operator=(const VirtualCamera&) = delete;

    const vcam::TModel& Model() const { return FModel; }

    // Back to a newly plugged camera: its default format, default controls, no faults,
    // exposure settling on. Only while nobody streams from it.
    void Reset();
    void SetFaults(const Faults& faults);
    // Strong grain on every component, as a poor sensor in dim light gives: the
    // pictures that make the largest JPEG files. Off after Reset.
    void SetSensorNoise(bool on);
    // Whether the picture starts dark and brightens over about a second after the
    // stream starts (the automatic exposure settling). On after Reset; tests that
    // check exact pixels turn it off.
    void SetSettling(bool on);
    // Shows a picture in place of the test pattern: width x height B, G, R pixels, rows
    // `stride` bytes apart, copied. It fills every size the camera sends as a sensor crops
    // (scaled to cover, the middle kept); the controls and the exposure act on it as on
    // the pattern, and the frame counter stays in its corner, but no square moves over
    // it. nullptr brings the pattern back, as Reset does. false, and nothing changed,
    // for an empty size, a stride shorter than a row or no memory for the copy.
    bool SetPicture(const uint8_t* bgr, int width, int height, std::size_t stride);
    // A colour killer control, as some capture devices (not USB cameras) have. Off
    // after Reset.
    void SetColourKiller(bool on);
    // Unplugged: polls report POLLERR | POLLHUP and every call on an open descriptor
    // fails with ENODEV from now on, and opening fails too, until it is plugged in again.
    void Unplug();
    void PlugIn();
    // Flags its control query adds for control id (V4L2_CTRL_FLAG_DISABLED, ...),
    // until the next Reset.
    void SetControlFlags(uint32_t id, uint32_t flags);

    // Introspection for tests.
    int OpenDescriptors() const;
    int LiveMappings() const;
    // Buffers queued on a descriptor that had already been told the camera is gone
    // (ENODEV). One buffer dequeued just before the unplug and queued just after it is
    // normal and not counted: re-queueing after being told is the fault.
    int BuffersQueuedAfterUnplug() const;
    uint64_t FramesDelivered() const;
    // Processor time the camera itself has spent making frames (rendering, encoding,
    // writing buffers), in nanoseconds, on whichever threads: a device does this work
    // without the computer's processor, so benchmarks take it out of a program's time.
    uint64_t WorkCpuNs() const;
    bool Streaming() const;
    // The format it is in: fourcc, size and frame rate.
    uint32_t PixelFormat() const;
    std::pair<int, int> FrameSize() const;
    uint32_t FramesPerSecond() const;

    // One device for several programs: while one camera object (in any process) holds
    // buffers, every other one that shares `lockPath` answers EBUSY to format changes
    // and buffer requests, as a driver answers a second program; and the format one of
    // them sets is the one the others find when they start, as a driver keeps it. Off
    // when not called; false (and off) when the file cannot be used.
    bool ShareDeviceWithOtherPrograms(const std::string& lockPath);

    // Each descriptor is a real one (a timer descriptor) that becomes readable when a
    // frame can be dequeued or the camera is unplugged, so programs that wait with
    // epoll see what poll shows; its O_NONBLOCK flag (fcntl) decides whether a dequeue
    // waits.
    int Open(const std::string& path, int flags) override;
    int Close(int fd) override;
    int Ioctl(int fd, unsigned long request, void* arg) override;
    void* Mmap(std::size_t length, int prot, int flags, int fd, int64_t offset,
               int* error) override;
    int Munmap(void* address, std::size_t length) override;
    int Poll(pollfd* fds, nfds_t count, int timeoutMs) override;

  private:
    using Clock = std::chrono::steady_clock;

    struct Descriptor {
        bool toldGone = false;  // answered ENODEV since the unplug
        uint32_t priority = 0;  // V4L2_PRIORITY_*, the default on open
        Clock::time_point armedFor = Clock::time_point::min();  // its timer (min: off)
        // Control events: the subscriptions (control id -> V4L2_EVENT_SUB_FL_*) and the
        // events waiting, at most one per control (a newer one merges into it).
        std::map<uint32_t, uint32_t> subscriptions;
        std::vector<v4l2_event> events;
        uint32_t eventSequence = 0;
    };
    // A buffer's memory as the camera writes it: its own mapping of the buffer's part of
    // the memory file, kept alive by a frame being written into it after the buffers
    // were freed.
    struct BufferMemory {
        uint8_t* data = nullptr;
        std::size_t length = 0;
        ~BufferMemory();
    };
    struct Buffer {
        std::shared_ptr<BufferMemory> memory;
        std::size_t offset = 0;  // in the memory file: VIDIOC_QUERYBUF's m.offset
        std::size_t length = 0;
        bool queued = false;
        bool filling = false;  // dequeued, its frame being written outside the lock
        uint32_t bytesUsed = 0;
        // What the memory holds from its last fill: the scene of this generation (0:
        // nothing known) with the square of frame `sequence`.
        uint64_t holdsScene = 0;
        uint64_t sequence = 0;
        Clock::time_point captured;
    };
    // Everything a frame is made from, taken under FMutex and used outside it.
    struct FrameJob {
        vcam::TLook look;
        uint32_t fourcc;
        uint64_t sequence;
        bool damaged, cut, upsideDown;
        std::shared_ptr<BufferMemory> memory;
        uint64_t holdsScene, heldSequence;  // what the buffer holds before this fill
        uint32_t bytesUsed = 0;             // the results
        uint64_t nowHolds = 0;
    };

    // All below: guarded by FMutex (the GUI thread and a streaming thread both call in).
    const vcam::TFormat* FormatLocked() const;
    const vcam::TSize& SizeLocked() const;
    int IoctlLocked(int fd, unsigned long request, void* arg);
    int FormatRequest(unsigned long request, void* arg);
    int BufferRequest(int fd, unsigned long request, void* arg);
    int ControlRequest(int fd, unsigned long request, void* arg);
    int EventRequest(int fd, unsigned long request, void* arg);
    int AllocateLocked(int fd, uint32_t count, std::size_t length);
    // Claims the next frame for the first queued buffer and describes it; the caller
    // writes it with the lock released and finishes with FinishDequeueLocked.
    uint32_t ClaimFrameLocked(FrameJob& job);
    int FinishDequeueLocked(uint32_t index, const FrameJob& job, uint64_t buffersGeneration,
                            uint64_t streamGeneration, v4l2_buffer& out);
    std::chrono::nanoseconds FramePeriodLocked() const;
    // When the next frame is due; whether a queued buffer can take it.
    Clock::time_point NextFrameDueLocked() const;
    bool FrameReadyLocked() const;
    short ReventsLocked(int fd, short events) const;
    // Sets every descriptor's timer to when it next becomes readable.
    void ArmLocked();
    bool NonBlocking(int fd) const;
    void ReleaseBuffersLocked();
    // Priorities: the highest any descriptor holds; whether `fd` may change the device.
    uint32_t PriorityLocked() const;
    bool MayChangeLocked(int fd) const;
    bool OtherProgramStreams() const;
    // The format in the shared file: taken when it is one this model has, written when
    // set.
    void LoadSharedFormatLocked();
    void StoreSharedFormatLocked() const;
    // A control event for subscribers of `id` whose value or flags changed.
    void QueueControlEventLocked(Descriptor& d, uint32_t id, uint32_t changes);
    // The picture as the controls, the exposure at `now` and a picture shown in place of
    // the pattern (scaled to the size once per size) make it.
    vcam::TLook LookLocked(Clock::time_point now);
    // VIDIOC_QUERYBUF's and VIDIOC_QBUF's answer for a buffer.
    void FillBuffer(uint32_t index, v4l2_buffer& out) const;

    // Makes the picture of the frame due next while a client waits for it, as a camera
    // has its frame ready when it says so: the dequeue only copies it.
    void PrepareNextFrame();

    // Guarded by FPictureMutex: the picture cache, used while writing a frame.
    void PrepareScene(const vcam::TLook& look, uint32_t fourcc);
    void WriteFrame(FrameJob& job);
    const std::vector<uint8_t>& MjpegSlot(uint64_t sequence, bool upsideDown);

    const vcam::TModel& FModel;
    mutable std::mutex FMutex;
    Faults FFaults;
    bool FUnplugged = false;
    bool FSensorNoise = false;
    bool FSettling = true;
    bool FColourKiller = false;
    int FWakeFd = -1;  // readable while unplugged: ends every poll at once
    int FShareLockFd = -1;  // the lock other programs' cameras share, -1 when none
    std::map<int, Descriptor> FDescriptors;
    int FStreamOwner = -1;  // fd that owns the buffers, -1 when none

    // The format, kept across opens as drivers keep it.
    uint32_t FFourcc = 0;
    int FWidth = 0, FHeight = 0;
    uint32_t FFps = 0;

    vcam::TControls FControls;

    // The picture shown in place of the pattern: as given, and covering the current size
    // (made when a frame of that size is first filled).
    std::shared_ptr<const vcam::TPicture> FPicture, FPictureAtSize;

    // The buffers: one memory file, each buffer at a page-aligned offset. The camera
    // writes through its own mappings; clients map their buffers of the same file.
    int FMemoryFd = -1;
    std::size_t FMemorySize = 0;
    std::vector<Buffer> FBuffers;
    uint64_t FBuffersGeneration = 0;  // counts every freeing of the buffers
    std::vector<uint32_t> FQueue;  // queued buffer indexes, in order
    std::map<void*, std::size_t> FMappings;

    bool FStreaming = false;
    uint64_t FStreamGeneration = 0;  // counts every stream on and off
    Clock::time_point FStreamStart;
    uint64_t FSequence = 0;   // the last frame slot handed out since stream on
    uint64_t FDelivered = 0;  // frames delivered in total
    int FQueuedAfterUnplug = 0;

    // The scene for the current look, rendered once per change: B, G, R rows and, for
    // YUYV, the same in YUYV. Motion-JPEG frames are encoded once per ring slot and
    // scene, so a steady stream costs the processor a copy per frame. Rendering and
    // encoding happen under this lock alone, so a control call never waits for them.
    std::mutex FPictureMutex;
    vcam::TLook FLook;
    uint64_t FSceneGeneration = 0;
    std::vector<uint8_t> FSceneBgr;
    std::vector<uint8_t> FSceneYuyv;
    uint64_t FSceneYuyvGeneration = 0;
    std::vector<std::vector<uint8_t>> FRing;
    std::vector<uint8_t> FScratch;
    std::atomic<uint64_t> FWorkCpuNs{0};
};
