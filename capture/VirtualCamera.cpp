// The virtual camera: a USB camera's driver answered in process.
#include "capture/VirtualCamera.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <new>
#include <thread>

#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include <linux/version.h>

namespace {

// Adds the processor time of the calling thread between its making and its end to a
// counter: the camera's own work, wherever it runs.
class TWorkClock {
  public:
    explicit TWorkClock(std::atomic<uint64_t>& total) : FTotal(total), FStart(Now()) {}
    ~TWorkClock() { FTotal.fetch_add(Now() - FStart, std::memory_order_relaxed); }
    TWorkClock(const TWorkClock&) = delete;
    TWorkClock& operator=(const TWorkClock&) = delete;

  private:
    static uint64_t Now() {
        timespec t{};
        ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return uint64_t(t.tv_sec) * 1000000000u + uint64_t(t.tv_nsec);
    }
    std::atomic<uint64_t>& FTotal;
    const uint64_t FStart;
};

constexpr uint32_t kMinBuffers = 2;
constexpr uint32_t kMaxBuffers = 8;
// The most buffers VIDIOC_CREATE_BUFS may add up to, as uvcvideo allows.
constexpr uint32_t kMaxCreatedBuffers = 32;
// Motion-JPEG frames encoded once per scene: the square takes this many places in turn.
constexpr std::size_t kRingSlots = 8;
constexpr int kMjpegQuality = 80;
// The automatic exposure settles over this long after stream on, in ten steps.
constexpr auto kSettleTime = std::chrono::milliseconds(1000);

std::size_t PageAligned(std::size_t n) {
    const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    return (n + page - 1) / page * page;
}

void CopyText(uint8_t* field, std::size_t size, const char* text) {
    std::memset(field, 0, size);
    std::strncpy(reinterpret_cast<char*>(field), text, size - 1);
}

timespec TimespecOf(std::chrono::nanoseconds ns) {
    const int64_t n = std::max<int64_t>(ns.count(), 0);
    return {static_cast<time_t>(n / 1'000'000'000), static_cast<long>(n % 1'000'000'000)};
}

const vcam::TFormat* FindFormat(const vcam::TModel& model, uint32_t fourcc) {
    for (const vcam::TFormat& f : model.formats) {
        if (f.fourcc == fourcc) {
            return &f;
        }
    }
    return nullptr;
}

const vcam::TSize* FindSize(const vcam::TFormat& format, uint32_t width, uint32_t height) {
    for (const vcam::TSize& s : format.sizes) {
        if (uint32_t(s.width) == width && uint32_t(s.height) == height) {
            return &s;
        }
    }
    return nullptr;
}

timespec TimespecOf(std::chrono::steady_clock::time_point t) {
    return TimespecOf(std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()));
}

// The requests a descriptor of lower priority than another may not make, as the
// kernel's V4L2 core refuses them.
bool ChangesTheDevice(unsigned long request) {
    switch (request) {
        case VIDIOC_S_FMT:
        case VIDIOC_S_PARM:
        case VIDIOC_S_INPUT:
        case VIDIOC_S_CTRL:
        case VIDIOC_S_EXT_CTRLS:
        case VIDIOC_REQBUFS:
        case VIDIOC_CREATE_BUFS:
        case VIDIOC_STREAMON:
        case VIDIOC_STREAMOFF:
        case VIDIOC_S_PRIORITY:
            return true;
        default:
            return false;
    }
}

bool ValidPriority(uint32_t p) {
    return p == V4L2_PRIORITY_BACKGROUND || p == V4L2_PRIORITY_INTERACTIVE ||
           p == V4L2_PRIORITY_RECORD;
}

void FillPixFormat(v4l2_pix_format& pix, uint32_t fourcc, int width, int height) {
    std::memset(&pix, 0, sizeof pix);
    pix.width = uint32_t(width);
    pix.height = uint32_t(height);
    pix.pixelformat = fourcc;
    pix.field = V4L2_FIELD_NONE;
    // Compressed frames have no line length; their buffers hold the largest frame the
    // camera may send.
    pix.bytesperline = fourcc == V4L2_PIX_FMT_YUYV ? uint32_t(width) * 2 : 0;
    pix.sizeimage = uint32_t(width) * uint32_t(height) * 2;
    pix.colorspace = V4L2_COLORSPACE_SRGB;
}

}  // namespace

VirtualCamera& VirtualCamera::Instance(const vcam::TModel& model) {
    static std::mutex mutex;
    static std::map<const vcam::TModel*, std::unique_ptr<VirtualCamera>> cameras;
    std::lock_guard lock(mutex);
    std::unique_ptr<VirtualCamera>& camera = cameras[&model];
    if (!camera) {
        camera = std::make_unique<VirtualCamera>(model);
    }
    return *camera;
}

VirtualCamera::VirtualCamera(const vcam::TModel& model) : FModel(model) {
    FWakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    Reset();
}

VirtualCamera::~VirtualCamera() {
    std::lock_guard lock(FMutex);
    for (auto& [address, length] : FMappings) {
        ::munmap(address, length);
    }
    ReleaseBuffersLocked();
    for (const auto& [fd, d] : FDescriptors) {
        ::close(fd);
    }
    if (FWakeFd >= 0) {
        ::close(FWakeFd);
    }
    if (FShareLockFd >= 0) {
        ::close(FShareLockFd);
    }
}

VirtualCamera::BufferMemory::~BufferMemory() {
    if (data) {
        ::munmap(data, length);
    }
}

void VirtualCamera::Reset() {
    std::lock_guard lock(FMutex);
    FFaults = {};
    FSensorNoise = false;
    FSettling = true;
    FColourKiller = false;
    FUnplugged = false;
    uint64_t drain;
    [[maybe_unused]] auto n = ::read(FWakeFd, &drain, sizeof drain);
    for (auto& [fd, d] : FDescriptors) {
        d.toldGone = false;
    }
    FFourcc = FModel.defaultFourcc;
    FWidth = FModel.defaultWidth;
    FHeight = FModel.defaultHeight;
    FFps = SizeLocked().maxFps;
    FControls.Reset(false);
    FPicture.reset();
    FPictureAtSize.reset();
    ArmLocked();
}

void VirtualCamera::SetFaults(const Faults& faults) {
    std::lock_guard lock(FMutex);
    FFaults = faults;
    ArmLocked();
}

void VirtualCamera::SetSensorNoise(bool on) {
    std::lock_guard lock(FMutex);
    FSensorNoise = on;
}

void VirtualCamera::SetSettling(bool on) {
    std::lock_guard lock(FMutex);
    FSettling = on;
}

bool VirtualCamera::SetPicture(const uint8_t* bgr, int width, int height, std::size_t stride) {
    std::shared_ptr<vcam::TPicture> picture;
    if (bgr) {
        const std::size_t row = std::size_t(std::max(width, 0)) * 3;
        if (width <= 0 || height <= 0 || stride < row) {
            return false;
        }
        try {
            picture = std::make_shared<vcam::TPicture>();
            picture->bgr.resize(row * std::size_t(height));
        } catch (const std::bad_alloc&) {
            return false;
        }
        picture->width = width;
        picture->height = height;
        for (int y = 0; y < height; ++y) {
            std::memcpy(picture->bgr.data() + row * y, bgr + stride * y, row);
        }
    }
    std::lock_guard lock(FMutex);
    FPicture = std::move(picture);
    FPictureAtSize.reset();
    return true;
}

void VirtualCamera::SetColourKiller(bool on) {
    std::lock_guard lock(FMutex);
    FColourKiller = on;
    FControls.Reset(on);
}

void VirtualCamera::Unplug() {
    std::lock_guard lock(FMutex);
    FUnplugged = true;
    const uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(FWakeFd, &one, sizeof one);
    ArmLocked();
}

void VirtualCamera::PlugIn() {
    std::lock_guard lock(FMutex);
    FUnplugged = false;
    uint64_t drain;
    [[maybe_unused]] auto n = ::read(FWakeFd, &drain, sizeof drain);
    for (auto& [fd, d] : FDescriptors) {
        d.toldGone = false;
    }
    ArmLocked();
}

void VirtualCamera::SetControlFlags(uint32_t id, uint32_t flags) {
    std::lock_guard lock(FMutex);
    FControls.ImposeFlags(id, flags);
}

bool VirtualCamera::ShareDeviceWithOtherPrograms(const std::string& lockPath) {
    const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::getuid()) {
        if (fd >= 0) {
            ::close(fd);
        }
        return false;
    }
    std::lock_guard lock(FMutex);
    if (FShareLockFd >= 0) {
        ::close(FShareLockFd);
    }
    FShareLockFd = fd;
    LoadSharedFormatLocked();
    return true;
}

void VirtualCamera::LoadSharedFormatLocked() {
    char text[64] = {};
    if (::pread(FShareLockFd, text, sizeof text - 1, 0) <= 0) {
        return;
    }
    char fourcc[5] = {};
    int width = 0, height = 0;
    unsigned fps = 0;
    if (std::sscanf(text, "%4s %d %d %u", fourcc, &width, &height, &fps) != 4) {
        return;
    }
    const uint32_t code = v4l2_fourcc(fourcc[0], fourcc[1], fourcc[2], fourcc[3]);
    const vcam::TFormat* format = FindFormat(FModel, code);
    const vcam::TSize* size =
        format ? FindSize(*format, uint32_t(width), uint32_t(height)) : nullptr;
    if (!size ||
        std::find(std::begin(vcam::kFrameRates), std::end(vcam::kFrameRates), fps) ==
            std::end(vcam::kFrameRates) ||
        fps > size->maxFps) {
        return;  // another model's format, or not one at all
    }
    FFourcc = code;
    FWidth = width;
    FHeight = height;
    FFps = fps;
}

void VirtualCamera::StoreSharedFormatLocked() const {
    if (FShareLockFd < 0) {
        return;
    }
    char text[64];
    const int n =
        std::snprintf(text, sizeof text, "%c%c%c%c %d %d %u\n", char(FFourcc), char(FFourcc >> 8),
                      char(FFourcc >> 16), char(FFourcc >> 24), FWidth, FHeight, FFps);
    if (::pwrite(FShareLockFd, text, std::size_t(n), 0) == n) {
        [[maybe_unused]] int r = ::ftruncate(FShareLockFd, n);
    }
}

bool VirtualCamera::OtherProgramStreams() const {
    if (FShareLockFd < 0 || !FBuffers.empty()) {
        return false;  // while this camera holds buffers, it holds the lock
    }
    if (::flock(FShareLockFd, LOCK_EX | LOCK_NB) != 0) {
        return errno == EWOULDBLOCK;
    }
    ::flock(FShareLockFd, LOCK_UN);
    return false;
}

int VirtualCamera::OpenDescriptors() const {
    std::lock_guard lock(FMutex);
    return static_cast<int>(FDescriptors.size());
}

int VirtualCamera::LiveMappings() const {
    std::lock_guard lock(FMutex);
    return static_cast<int>(FMappings.size());
}

int VirtualCamera::BuffersQueuedAfterUnplug() const {
    std::lock_guard lock(FMutex);
    return FQueuedAfterUnplug;
}

uint64_t VirtualCamera::FramesDelivered() const {
    std::lock_guard lock(FMutex);
    return FDelivered;
}

uint64_t VirtualCamera::WorkCpuNs() const {
    return FWorkCpuNs.load(std::memory_order_relaxed);
}

bool VirtualCamera::Streaming() const {
    std::lock_guard lock(FMutex);
    return FStreaming;
}

uint32_t VirtualCamera::PixelFormat() const {
    std::lock_guard lock(FMutex);
    return FFourcc;
}

std::pair<int, int> VirtualCamera::FrameSize() const {
    std::lock_guard lock(FMutex);
    return {FWidth, FHeight};
}

uint32_t VirtualCamera::FramesPerSecond() const {
    std::lock_guard lock(FMutex);
    return FFps;
}

const vcam::TFormat* VirtualCamera::FormatLocked() const {
    return FindFormat(FModel, FFourcc);
}

const vcam::TSize& VirtualCamera::SizeLocked() const {
    return *FindSize(*FormatLocked(), uint32_t(FWidth), uint32_t(FHeight));
}

// ------------------------------------------------------------ descriptors

int VirtualCamera::Open(const std::string& path, int flags) {
    std::lock_guard lock(FMutex);
    if (path != FModel.path) {
        return -ENOENT;
    }
    if (FUnplugged) {
        return -ENODEV;
    }
    if (FFaults.busyOnOpen) {
        return -EBUSY;
    }
    // A real descriptor stands for each open: its number is never another file's, and
    // its timer makes it readable when a frame can be dequeued.
    const int fd =
        ::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | ((flags & O_NONBLOCK) ? TFD_NONBLOCK : 0));
    if (fd < 0) {
        return -errno;
    }
    Descriptor d;
    d.priority = V4L2_PRIORITY_DEFAULT;
    FDescriptors[fd] = std::move(d);
    return fd;
}

int VirtualCamera::Close(int fd) {
    std::lock_guard lock(FMutex);
    if (!FDescriptors.erase(fd)) {
        return -EBADF;
    }
    ::close(fd);
    if (FStreamOwner == fd) {
        // Closing the owner frees the queue, as a driver does; memory that is still
        // mapped stays valid until it is unmapped.
        FStreaming = false;
        ++FStreamGeneration;
        FStreamOwner = -1;
        ReleaseBuffersLocked();
    }
    return 0;
}

bool VirtualCamera::NonBlocking(int fd) const {
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && (flags & O_NONBLOCK);
}

void VirtualCamera::ReleaseBuffersLocked() {
    if (FMemoryFd >= 0) {
        ::close(FMemoryFd);
        FMemoryFd = -1;
    }
    if (FShareLockFd >= 0 && !FBuffers.empty()) {
        ::flock(FShareLockFd, LOCK_UN);
    }
    FMemorySize = 0;
    FBuffers.clear();
    FQueue.clear();
    ++FBuffersGeneration;
}

void* VirtualCamera::Mmap(std::size_t length, int prot, int flags, int fd, int64_t offset,
                          int* error) {
    std::lock_guard lock(FMutex);
    auto fail = [error](int code) -> void* {
        if (error) {
            *error = code;
        }
        return nullptr;
    };
    if (!FDescriptors.count(fd)) {
        return fail(-EBADF);
    }
    if (FUnplugged) {
        return fail(-ENODEV);
    }
    const auto buffer = std::find_if(FBuffers.begin(), FBuffers.end(), [offset](const Buffer& b) {
        return offset >= 0 && b.offset == std::size_t(offset);
    });
    if (buffer == FBuffers.end() || length == 0 || length > buffer->length) {
        return fail(-EINVAL);
    }
    void* p = ::mmap(nullptr, length, prot, flags, FMemoryFd, offset);
    if (p == MAP_FAILED) {
        return fail(-errno);
    }
    FMappings[p] = length;
    return p;
}

int VirtualCamera::Munmap(void* address, std::size_t length) {
    std::lock_guard lock(FMutex);
    const auto it = FMappings.find(address);
    if (it == FMappings.end()) {
        return -EINVAL;
    }
    ::munmap(address, it->second);
    FMappings.erase(it);
    return 0;
}

// --------------------------------------------------------------- frames

std::chrono::nanoseconds VirtualCamera::FramePeriodLocked() const {
    return std::chrono::nanoseconds(1'000'000'000 / std::max<uint32_t>(FFps, 1));
}

VirtualCamera::Clock::time_point VirtualCamera::NextFrameDueLocked() const {
    // Frame n is captured one period after frame n - 1, the first one period after
    // stream on.
    return FStreamStart + FramePeriodLocked() * static_cast<int64_t>(FSequence + 1);
}

bool VirtualCamera::FrameReadyLocked() const {
    return FStreaming && !FFaults.noFrames && !FQueue.empty() &&
           Clock::now() >= NextFrameDueLocked();
}

short VirtualCamera::ReventsLocked(int fd, short events) const {
    const auto it = FDescriptors.find(fd);
    if (it == FDescriptors.end()) {
        return POLLNVAL;
    }
    if (FUnplugged) {
        return POLLERR | POLLHUP;
    }
    // A control event is urgent data; the queue answers only those who ask for frames.
    short revents = (events & POLLPRI) && !it->second.events.empty() ? POLLPRI : 0;
    if (events & (POLLIN | POLLRDNORM)) {
        if (FStreamOwner != fd || !FStreaming) {
            revents |= POLLERR;
        } else if (FrameReadyLocked()) {
            revents |= events & (POLLIN | POLLRDNORM);
        }
    }
    return revents;
}

void VirtualCamera::ArmLocked() {
    for (auto& [fd, d] : FDescriptors) {
        Clock::time_point when = Clock::time_point::min();  // disarmed
        if (FUnplugged) {
            when = Clock::time_point(Clock::duration(1));  // long past: readable now
        } else if (fd == FStreamOwner && FStreaming && !FFaults.noFrames && !FQueue.empty()) {
            when = NextFrameDueLocked();
        }
        if (when == d.armedFor) {
            continue;
        }
        d.armedFor = when;
        itimerspec timer{};
        if (when != Clock::time_point::min()) {
            timer.it_value = TimespecOf(when);
            if (timer.it_value.tv_sec == 0 && timer.it_value.tv_nsec == 0) {
                timer.it_value.tv_nsec = 1;  // zero would disarm it
            }
        }
        ::timerfd_settime(fd, TFD_TIMER_ABSTIME, &timer, nullptr);
    }
}

int VirtualCamera::Poll(pollfd* fds, nfds_t count, int timeoutMs) {
    const bool forever = timeoutMs < 0;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    std::vector<pollfd> others;
    std::vector<nfds_t> otherAt;
    for (;;) {
        int ready = 0;
        bool ours = false;
        Clock::time_point frameDue = Clock::time_point::max();
        others.clear();
        otherAt.clear();
        {
            std::lock_guard lock(FMutex);
            for (nfds_t i = 0; i < count; ++i) {
                if (!FDescriptors.count(fds[i].fd)) {
                    others.push_back({fds[i].fd, fds[i].events, 0});
                    otherAt.push_back(i);
                    continue;
                }
                ours = true;
                fds[i].revents = ReventsLocked(fds[i].fd, fds[i].events);
                if (fds[i].revents) {
                    ++ready;
                } else if (FStreaming && !FFaults.noFrames && !FQueue.empty()) {
                    frameDue = std::min(frameDue, NextFrameDueLocked());
                }
            }
        }
        if (ours) {
            others.push_back({FWakeFd, POLLIN, 0});  // an unplug ends the wait at once
            if (!ready && frameDue != Clock::time_point::max()) {
                PrepareNextFrame();
            }
        }
        // The other descriptors are asked as they are when one of ours is ready, else
        // waited on until the next frame is due or the time is up.
        const Clock::time_point now = Clock::now();
        const Clock::time_point until =
            ready ? now : std::min(frameDue, forever ? Clock::time_point::max() : deadline);
        const timespec span = TimespecOf(until == Clock::time_point::max()
                                             ? std::chrono::nanoseconds(0)
                                             : std::max(until - now, Clock::duration(0)));
        const bool endless = until == Clock::time_point::max();
        if (::ppoll(others.data(), others.size(), endless ? nullptr : &span, nullptr) < 0) {
            return -errno;
        }
        for (std::size_t k = 0; k < otherAt.size(); ++k) {
            fds[otherAt[k]].revents = others[k].revents;
            ready += others[k].revents != 0;
        }
        if (ready > 0 || (!forever && Clock::now() >= deadline)) {
            return ready;
        }
        // A frame came due, or the camera went: look again.
    }
}

vcam::TLook VirtualCamera::LookLocked(Clock::time_point now) {
    vcam::TLook look;
    look.width = FWidth;
    look.height = FHeight;
    look.brightness = FControls.Value(V4L2_CID_BRIGHTNESS);
    look.contrast = FControls.Value(V4L2_CID_CONTRAST);
    look.saturation = FControls.Value(V4L2_CID_SATURATION);
    look.hue = FControls.Value(V4L2_CID_HUE);
    look.gamma = FControls.Value(V4L2_CID_GAMMA);
    look.gain = FControls.Value(V4L2_CID_GAIN);
    look.backlight = FControls.Value(V4L2_CID_BACKLIGHT_COMPENSATION);
    look.autoWhiteBalance = FControls.Value(V4L2_CID_AUTO_WHITE_BALANCE) != 0;
    look.temperature = FControls.Value(V4L2_CID_WHITE_BALANCE_TEMPERATURE);
    look.colourKiller = FColourKiller && FControls.Value(V4L2_CID_COLOR_KILLER) != 0;
    look.grain = FSensorNoise;
    look.upsideDown = FFaults.upsideDown;
    if (FPicture &&
        (!FPictureAtSize || FPictureAtSize->width != FWidth || FPictureAtSize->height != FHeight)) {
        FPictureAtSize = std::make_shared<const vcam::TPicture>(
            vcam::CoveringPicture(*FPicture, FWidth, FHeight));
    }
    look.picture = FPicture ? FPictureAtSize : nullptr;
    if (FControls.Value(V4L2_CID_EXPOSURE_AUTO) == V4L2_EXPOSURE_MANUAL) {
        look.exposure = FControls.Value(V4L2_CID_EXPOSURE_ABSOLUTE) / 250.0;
    } else if (FSettling && FStreaming && now - FStreamStart < kSettleTime) {
        // Dark at first, brightening quickly and then more slowly, in tenths.
        const double t = std::floor(10.0 * (now - FStreamStart) / kSettleTime) / 10.0;
        look.exposure = 1.0 - 0.75 * (1.0 - t) * (1.0 - t);
    }
    return look;
}

void VirtualCamera::PrepareScene(const vcam::TLook& look, uint32_t fourcc) {
    if (FSceneGeneration == 0 || !(look == FLook)) {
        FLook = look;
        ++FSceneGeneration;
        vcam::RenderScene(look, FSceneBgr);
        FRing.assign(kRingSlots, {});
    }
    if (fourcc == V4L2_PIX_FMT_YUYV && FSceneYuyvGeneration != FSceneGeneration) {
        FSceneYuyv.resize(std::size_t(look.width) * look.height * 2);
        vcam::BgrToYuyv(FSceneBgr.data(), look.width, look.height, FSceneYuyv.data());
        FSceneYuyvGeneration = FSceneGeneration;
    }
}

const std::vector<uint8_t>& VirtualCamera::MjpegSlot(uint64_t sequence, bool upsideDown) {
    std::vector<uint8_t>& frame = FRing[sequence % kRingSlots];
    if (frame.empty()) {
        const auto slot = static_cast<uint32_t>(sequence % kRingSlots);
        const int width = FLook.width, height = FLook.height;
        FScratch = FSceneBgr;
        vcam::AddGrain(FScratch.data(), FScratch.size(), slot);
        vcam::PaintBgr(FScratch.data(), width, height,
                       vcam::FrameMarks(width, height, sequence, upsideDown, !FLook.picture));
        // Most frames come without Huffman tables; the first of the ring has them.
        vcam::EncodeMjpeg(FScratch.data(), width, height, kMjpegQuality,
                          {slot == 0, FModel.avi1Segment}, frame);
    }
    return frame;
}

void VirtualCamera::WriteFrame(FrameJob& job) {
    std::lock_guard picture(FPictureMutex);
    PrepareScene(job.look, job.fourcc);
    const int width = job.look.width, height = job.look.height;
    uint8_t* memory = job.memory->data;
    if (job.fourcc == V4L2_PIX_FMT_YUYV) {
        const std::size_t size = std::size_t(width) * height * 2;
        if (job.holdsScene == FSceneGeneration) {
            // A device writes its frames without the processor; copying the whole scene
            // per frame made this simulated one most of a preview's CPU time. The buffer
            // still holds its last frame: only the square's old place is put back.
            vcam::RestoreYuyv(memory, FSceneYuyv.data(), width, height,
                              vcam::SquareOf(width, height, job.heldSequence, job.upsideDown));
        } else {
            std::memcpy(memory, FSceneYuyv.data(), size);
        }
        job.nowHolds = FSceneGeneration;
        vcam::PaintYuyv(
            memory, width, height,
            vcam::FrameMarks(width, height, job.sequence, job.upsideDown, !job.look.picture));
        job.bytesUsed = static_cast<uint32_t>(job.cut ? size / 2 : size);
        return;
    }
    const std::vector<uint8_t>& frame = MjpegSlot(job.sequence, job.upsideDown);
    const std::size_t length = job.memory->length;
    std::size_t used = std::min(frame.size(), length);
    std::memcpy(memory, frame.data(), used);
    job.nowHolds = 0;
    if (job.damaged && used > 4) {
        // The data breaks off halfway into the end marker.
        used = used * 11 / 20;
        memory[used++] = 0xFF;
        memory[used++] = 0xD9;
    } else if (job.cut) {
        used = used * 11 / 20;
    } else if (FModel.bytesAfterEnd) {
        // Padded up to the transfer's size with whatever the camera's memory held.
        const std::size_t padded = std::min(length, (used + 16383) / 16384 * 16384);
        uint32_t seed = static_cast<uint32_t>(job.sequence) * 2654435761u;
        for (std::size_t i = used; i < padded; ++i) {
            seed = seed * 1664525u + 1013904223u;
            memory[i] = static_cast<uint8_t>(seed >> 24);
        }
        used = padded;
    }
    job.bytesUsed = static_cast<uint32_t>(used);
}

void VirtualCamera::PrepareNextFrame() {
    TWorkClock work(FWorkCpuNs);
    vcam::TLook look;
    uint32_t fourcc;
    uint64_t sequence;
    bool upsideDown;
    {
        std::lock_guard lock(FMutex);
        if (!FStreaming || FFaults.noFrames || FQueue.empty()) {
            return;
        }
        look = LookLocked(NextFrameDueLocked());
        fourcc = FFourcc;
        sequence = FSequence;
        upsideDown = FFaults.upsideDown;
    }
    std::lock_guard picture(FPictureMutex);
    PrepareScene(look, fourcc);
    if (fourcc == V4L2_PIX_FMT_MJPEG) {
        MjpegSlot(sequence, upsideDown);
    }
}

uint32_t VirtualCamera::ClaimFrameLocked(FrameJob& job) {
    const Clock::time_point now = Clock::now();
    // The newest frame captured: a frame nobody had a buffer for was dropped.
    const auto period = FramePeriodLocked();
    const uint64_t newest = static_cast<uint64_t>((now - FStreamStart) / period) - 1;
    const uint64_t sequence = std::max(newest, FSequence);
    const uint32_t index = FQueue.front();
    FQueue.erase(FQueue.begin());
    Buffer& buffer = FBuffers[index];
    buffer.queued = false;
    buffer.filling = true;
    FSequence = sequence + 1;
    ++FDelivered;

    // The picture as the sensor saw it when the frame was captured.
    job.look = LookLocked(FStreamStart + period * static_cast<int64_t>(sequence + 1));
    job.fourcc = FFourcc;
    job.sequence = sequence;
    const uint64_t every = uint64_t(std::max(FFaults.corruptEvery, 0));
    const uint64_t shortEvery = uint64_t(std::max(FFaults.shortEvery, 0));
    job.damaged = every > 0 && sequence % every == every - 1;
    job.cut = shortEvery > 0 && sequence % shortEvery == shortEvery - 1;
    job.upsideDown = FFaults.upsideDown;
    job.memory = buffer.memory;
    job.holdsScene = buffer.holdsScene;
    job.heldSequence = buffer.sequence;
    ArmLocked();
    return index;
}

int VirtualCamera::FinishDequeueLocked(uint32_t index, const FrameJob& job,
                                       uint64_t buffersGeneration, uint64_t streamGeneration,
                                       v4l2_buffer& out) {
    if (buffersGeneration != FBuffersGeneration || streamGeneration != FStreamGeneration) {
        // The stream stopped or the buffers went while the frame was written.
        if (buffersGeneration == FBuffersGeneration) {
            FBuffers[index].filling = false;
            FBuffers[index].holdsScene = 0;
        }
        return -EINVAL;
    }
    Buffer& buffer = FBuffers[index];
    buffer.filling = false;
    buffer.bytesUsed = job.bytesUsed;
    buffer.holdsScene = job.nowHolds;
    buffer.sequence = job.sequence;
    buffer.captured = FStreamStart + FramePeriodLocked() * static_cast<int64_t>(job.sequence + 1);

    std::memset(&out, 0, sizeof out);
    out.index = index;
    out.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    out.memory = V4L2_MEMORY_MMAP;
    out.bytesused = buffer.bytesUsed;
    out.length = static_cast<uint32_t>(buffer.length);
    out.m.offset = static_cast<uint32_t>(buffer.offset);
    out.field = V4L2_FIELD_NONE;
    out.sequence = static_cast<uint32_t>(job.sequence);
    out.flags =
        V4L2_BUF_FLAG_MAPPED | V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC | V4L2_BUF_FLAG_TSTAMP_SRC_SOE;
    const auto since = std::chrono::duration_cast<std::chrono::microseconds>(
        buffer.captured.time_since_epoch());
    out.timestamp.tv_sec = static_cast<time_t>(since.count() / 1'000'000);
    out.timestamp.tv_usec = static_cast<suseconds_t>(since.count() % 1'000'000);
    return 0;
}

// ------------------------------------------------------------- requests

int VirtualCamera::Ioctl(int fd, unsigned long request, void* arg) {
    std::unique_lock lock(FMutex);
    auto it = FDescriptors.find(fd);
    if (it == FDescriptors.end()) {
        return -EBADF;
    }
    if (!arg) {
        return -EFAULT;
    }
    Descriptor& d = it->second;
    if (FUnplugged) {
        if (request == VIDIOC_QBUF && d.toldGone) {
            ++FQueuedAfterUnplug;
        }
        d.toldGone = true;
        return -ENODEV;
    }
    if (ChangesTheDevice(request) && !MayChangeLocked(fd)) {
        return -EBUSY;
    }
    const bool waits = !NonBlocking(fd);
    for (;;) {
        if (request == VIDIOC_DQBUF) {
            auto* b = static_cast<v4l2_buffer*>(arg);
            int r = b->type != V4L2_BUF_TYPE_VIDEO_CAPTURE ? -EINVAL
                    : FStreamOwner != fd                   ? (FStreamOwner < 0 ? -EINVAL : -EBUSY)
                    : !FStreaming                          ? -EINVAL
                    : FrameReadyLocked()                   ? 0
                                                           : -EAGAIN;
            if (r == 0) {
                // The frame is written with the lock released: a control call from
                // another thread never waits for a picture to be made.
                TWorkClock work(FWorkCpuNs);
                FrameJob job;
                const uint32_t index = ClaimFrameLocked(job);
                const uint64_t buffers = FBuffersGeneration, stream = FStreamGeneration;
                lock.unlock();
                WriteFrame(job);
                lock.lock();
                return FinishDequeueLocked(index, job, buffers, stream, *b);
            }
            if (r != -EAGAIN || !waits) {
                return r;
            }
        } else if (request == VIDIOC_DQEVENT) {
            const int r = EventRequest(fd, request, arg);
            if (r != -ENOENT || !waits) {
                return r;
            }
        } else {
            return IoctlLocked(fd, request, arg);
        }
        // A blocking dequeue waits for its frame or event, as the driver's does.
        const auto due = FQueue.empty() || FFaults.noFrames || !FStreaming
                             ? Clock::now() + std::chrono::milliseconds(10)
                             : NextFrameDueLocked();
        lock.unlock();
        if (request == VIDIOC_DQBUF) {
            PrepareNextFrame();
        }
        std::this_thread::sleep_until(std::min(due, Clock::now() + std::chrono::milliseconds(10)));
        lock.lock();
        if (FUnplugged || !FDescriptors.count(fd)) {
            return FUnplugged ? -ENODEV : -EBADF;
        }
    }
}

uint32_t VirtualCamera::PriorityLocked() const {
    uint32_t highest = V4L2_PRIORITY_UNSET;
    for (const auto& [fd, d] : FDescriptors) {
        highest = std::max(highest, d.priority);
    }
    return highest;
}

bool VirtualCamera::MayChangeLocked(int fd) const {
    return FDescriptors.at(fd).priority >= PriorityLocked();
}

int VirtualCamera::IoctlLocked(int fd, unsigned long request, void* arg) {
    switch (request) {
        case VIDIOC_QUERYCAP: {
            auto* cap = static_cast<v4l2_capability*>(arg);
            std::memset(cap, 0, sizeof *cap);
            CopyText(cap->driver, sizeof cap->driver, "snapix-virtual");
            CopyText(cap->card, sizeof cap->card, FModel.card);
            // On no real bus: "usb-" because it is a USB camera in all it does.
            CopyText(cap->bus_info, sizeof cap->bus_info,
                     (std::string("usb-snapix-virtual-") + FModel.id).c_str());
            cap->version = KERNEL_VERSION(6, 1, 0);
            cap->device_caps = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING | V4L2_CAP_EXT_PIX_FORMAT;
            cap->capabilities = cap->device_caps | V4L2_CAP_DEVICE_CAPS;
            return 0;
        }
        case VIDIOC_G_PRIORITY:
            *static_cast<uint32_t*>(arg) = PriorityLocked();
            return 0;
        case VIDIOC_S_PRIORITY: {
            const uint32_t p = *static_cast<uint32_t*>(arg);
            if (!ValidPriority(p)) {
                return -EINVAL;
            }
            FDescriptors.at(fd).priority = p;
            return 0;
        }
        case VIDIOC_ENUMINPUT: {
            auto* input = static_cast<v4l2_input*>(arg);
            if (input->index != 0) {
                return -EINVAL;
            }
            std::memset(input, 0, sizeof *input);
            CopyText(input->name, sizeof input->name, "Camera 1");
            input->type = V4L2_INPUT_TYPE_CAMERA;
            input->status = FFaults.upsideDown ? V4L2_IN_ST_HFLIP | V4L2_IN_ST_VFLIP : 0;
            return 0;
        }
        case VIDIOC_G_INPUT:
            *static_cast<int*>(arg) = 0;
            return 0;
        case VIDIOC_S_INPUT:
            return *static_cast<int*>(arg) == 0 ? 0 : -EINVAL;
        case VIDIOC_ENUM_FMT:
        case VIDIOC_ENUM_FRAMESIZES:
        case VIDIOC_ENUM_FRAMEINTERVALS:
        case VIDIOC_G_FMT:
        case VIDIOC_S_FMT:
        case VIDIOC_TRY_FMT:
        case VIDIOC_G_PARM:
        case VIDIOC_S_PARM:
            return FormatRequest(request, arg);
        case VIDIOC_REQBUFS:
        case VIDIOC_CREATE_BUFS:
        case VIDIOC_QUERYBUF:
        case VIDIOC_QBUF:
        case VIDIOC_STREAMON:
        case VIDIOC_STREAMOFF: {
            const int r = BufferRequest(fd, request, arg);
            ArmLocked();
            return r;
        }
        case VIDIOC_QUERYCTRL:
        case VIDIOC_QUERY_EXT_CTRL:
        case VIDIOC_QUERYMENU:
        case VIDIOC_G_CTRL:
        case VIDIOC_S_CTRL:
        case VIDIOC_G_EXT_CTRLS:
        case VIDIOC_S_EXT_CTRLS:
        case VIDIOC_TRY_EXT_CTRLS:
            return ControlRequest(fd, request, arg);
        case VIDIOC_SUBSCRIBE_EVENT:
        case VIDIOC_UNSUBSCRIBE_EVENT:
            return EventRequest(fd, request, arg);
        default:
            return -ENOTTY;
    }
}

int VirtualCamera::ControlRequest(int fd, unsigned long request, void* arg) {
    if (FFaults.noControls) {
        return -EINVAL;
    }
    switch (request) {
        case VIDIOC_QUERYCTRL:
            return FControls.Query(*static_cast<v4l2_queryctrl*>(arg));
        case VIDIOC_QUERY_EXT_CTRL:
            return FControls.QueryExt(*static_cast<v4l2_query_ext_ctrl*>(arg));
        case VIDIOC_QUERYMENU:
            return FControls.QueryMenu(*static_cast<v4l2_querymenu*>(arg));
        case VIDIOC_G_CTRL: {
            auto* c = static_cast<v4l2_control*>(arg);
            return FControls.Get(c->id, c->value);
        }
        case VIDIOC_G_EXT_CTRLS:
            return FControls.GetExt(*static_cast<v4l2_ext_controls*>(arg));
        case VIDIOC_TRY_EXT_CTRLS:
            return FControls.SetExt(*static_cast<v4l2_ext_controls*>(arg), false);
        default:
            break;
    }
    // A change: whoever subscribed to a control whose value or flags it changed hears of
    // it (the one who made it only when it asked for that).
    std::vector<std::pair<int32_t, uint32_t>> before;
    const std::vector<uint32_t> ids = FControls.Ids();
    for (const uint32_t id : ids) {
        before.emplace_back(FControls.Value(id), FControls.Flags(id));
    }
    const int r = request == VIDIOC_S_CTRL
                      ? FControls.Set(static_cast<v4l2_control*>(arg)->id,
                                      static_cast<v4l2_control*>(arg)->value)
                      : FControls.SetExt(*static_cast<v4l2_ext_controls*>(arg), true);
    if (r < 0) {
        return r;
    }
    for (std::size_t i = 0; i < ids.size(); ++i) {
        const uint32_t changes =
            (FControls.Value(ids[i]) != before[i].first ? V4L2_EVENT_CTRL_CH_VALUE : 0) |
            (FControls.Flags(ids[i]) != before[i].second ? V4L2_EVENT_CTRL_CH_FLAGS : 0);
        if (!changes) {
            continue;
        }
        for (auto& [other, d] : FDescriptors) {
            const auto sub = d.subscriptions.find(ids[i]);
            if (sub != d.subscriptions.end() &&
                (other != fd || (sub->second & V4L2_EVENT_SUB_FL_ALLOW_FEEDBACK))) {
                QueueControlEventLocked(d, ids[i], changes);
            }
        }
    }
    return r;
}

void VirtualCamera::QueueControlEventLocked(Descriptor& d, uint32_t id, uint32_t changes) {
    v4l2_query_ext_ctrl q{};
    q.id = id;
    if (FControls.QueryExt(q) < 0) {
        return;
    }
    const auto pending = std::find_if(d.events.begin(), d.events.end(),
                                      [id](const v4l2_event& e) { return e.id == id; });
    v4l2_event& e = pending != d.events.end() ? *pending : d.events.emplace_back();
    const uint32_t merged = pending != d.events.end() ? e.u.ctrl.changes : 0;
    std::memset(&e, 0, sizeof e);
    e.type = V4L2_EVENT_CTRL;
    e.id = id;
    e.u.ctrl.changes = changes | merged;
    e.u.ctrl.type = q.type;
    e.u.ctrl.value = FControls.Value(id);
    e.u.ctrl.flags = q.flags;
    e.u.ctrl.minimum = static_cast<int32_t>(q.minimum);
    e.u.ctrl.maximum = static_cast<int32_t>(q.maximum);
    e.u.ctrl.step = static_cast<int32_t>(q.step);
    e.u.ctrl.default_value = static_cast<int32_t>(q.default_value);
    e.sequence = d.eventSequence++;
    ::clock_gettime(CLOCK_MONOTONIC, &e.timestamp);
}

int VirtualCamera::EventRequest(int fd, unsigned long request, void* arg) {
    Descriptor& d = FDescriptors.at(fd);
    if (request == VIDIOC_DQEVENT) {
        if (d.events.empty()) {
            return -ENOENT;
        }
        auto* e = static_cast<v4l2_event*>(arg);
        *e = d.events.front();
        d.events.erase(d.events.begin());
        e->pending = static_cast<uint32_t>(d.events.size());
        return 0;
    }
    auto* sub = static_cast<v4l2_event_subscription*>(arg);
    if (request == VIDIOC_UNSUBSCRIBE_EVENT) {
        if (sub->type == V4L2_EVENT_ALL) {
            d.subscriptions.clear();
            d.events.clear();
        } else if (sub->type == V4L2_EVENT_CTRL) {
            d.subscriptions.erase(sub->id);
            std::erase_if(d.events, [sub](const v4l2_event& e) { return e.id == sub->id; });
        }
        return 0;
    }
    // Control events only, as USB cameras offer.
    v4l2_query_ext_ctrl q{};
    q.id = sub->id;
    if (sub->type != V4L2_EVENT_CTRL || FFaults.noControls || FControls.QueryExt(q) < 0) {
        return -EINVAL;
    }
    d.subscriptions[sub->id] = sub->flags;
    if ((sub->flags & V4L2_EVENT_SUB_FL_SEND_INITIAL) && q.type != V4L2_CTRL_TYPE_CTRL_CLASS) {
        QueueControlEventLocked(d, sub->id, V4L2_EVENT_CTRL_CH_VALUE | V4L2_EVENT_CTRL_CH_FLAGS);
    }
    return 0;
}
int VirtualCamera::FormatRequest(unsigned long request, void* arg) {
    switch (request) {
        case VIDIOC_ENUM_FMT: {
            auto* f = static_cast<v4l2_fmtdesc*>(arg);
            if (f->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || f->index >= FModel.formats.size()) {
                return -EINVAL;
            }
            const vcam::TFormat& format = FModel.formats[f->index];
            const uint32_t index = f->index;
            std::memset(f, 0, sizeof *f);
            f->index = index;
            f->type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            f->flags = format.compressed ? V4L2_FMT_FLAG_COMPRESSED : 0;
            CopyText(f->description, sizeof f->description, format.description);
            f->pixelformat = format.fourcc;
            return 0;
        }
        case VIDIOC_ENUM_FRAMESIZES: {
            auto* s = static_cast<v4l2_frmsizeenum*>(arg);
            const vcam::TFormat* format = FindFormat(FModel, s->pixel_format);
            if (!format || s->index >= format->sizes.size()) {
                return -EINVAL;
            }
            const vcam::TSize& size = format->sizes[s->index];
            std::memset(&s->reserved, 0, sizeof s->reserved);
            s->type = V4L2_FRMSIZE_TYPE_DISCRETE;
            s->discrete.width = uint32_t(size.width);
            s->discrete.height = uint32_t(size.height);
            return 0;
        }
        case VIDIOC_ENUM_FRAMEINTERVALS: {
            auto* i = static_cast<v4l2_frmivalenum*>(arg);
            const vcam::TFormat* format = FindFormat(FModel, i->pixel_format);
            const vcam::TSize* size = format ? FindSize(*format, i->width, i->height) : nullptr;
            if (!size) {
                return -EINVAL;
            }
            uint32_t n = 0;
            for (const uint32_t fps : vcam::kFrameRates) {
                if (fps <= size->maxFps && n++ == i->index) {
                    std::memset(&i->reserved, 0, sizeof i->reserved);
                    i->type = V4L2_FRMIVAL_TYPE_DISCRETE;
                    i->discrete = {1, fps};
                    return 0;
                }
            }
            return -EINVAL;
        }
        case VIDIOC_G_FMT:
        case VIDIOC_S_FMT:
        case VIDIOC_TRY_FMT: {
            auto* f = static_cast<v4l2_format*>(arg);
            if (f->type != V4L2_BUF_TYPE_VIDEO_CAPTURE) {
                return -EINVAL;
            }
            if (request == VIDIOC_G_FMT) {
                FillPixFormat(f->fmt.pix, FFourcc, FWidth, FHeight);
                return 0;
            }
            // Like the driver: a format it lacks becomes its first one, a size the
            // nearest it has in that format.
            const vcam::TFormat* format = FindFormat(FModel, f->fmt.pix.pixelformat);
            if (!format) {
                format = &FModel.formats.front();
            }
            const vcam::TSize& size =
                vcam::NearestSize(*format, int(std::min<uint32_t>(f->fmt.pix.width, 65535)),
                                  int(std::min<uint32_t>(f->fmt.pix.height, 65535)));
            if (FFaults.refuseSizes && (size.width != FWidth || size.height != FHeight)) {
                return -EINVAL;
            }
            if (request == VIDIOC_S_FMT) {
                if (!FBuffers.empty() || FFaults.busyOnFormat || OtherProgramStreams()) {
                    return -EBUSY;
                }
                FFourcc = format->fourcc;
                FWidth = size.width;
                FHeight = size.height;
                FFps = size.maxFps;  // a new size starts at its fastest rate
                StoreSharedFormatLocked();
            }
            FillPixFormat(f->fmt.pix, format->fourcc, size.width, size.height);
            return 0;
        }
        case VIDIOC_G_PARM:
        case VIDIOC_S_PARM: {
            auto* p = static_cast<v4l2_streamparm*>(arg);
            if (p->type != V4L2_BUF_TYPE_VIDEO_CAPTURE) {
                return -EINVAL;
            }
            if (request == VIDIOC_S_PARM) {
                if (FStreaming) {
                    return -EBUSY;
                }
                const v4l2_fract wanted = p->parm.capture.timeperframe;
                // The offered rate nearest to the one asked for; none asked: the fastest.
                const double fps = wanted.numerator && wanted.denominator
                                       ? double(wanted.denominator) / wanted.numerator
                                       : 1e9;
                uint32_t best = 0;
                for (const uint32_t offered : vcam::kFrameRates) {
                    if (offered <= SizeLocked().maxFps &&
                        (best == 0 || std::abs(offered - fps) < std::abs(best - fps))) {
                        best = offered;
                    }
                }
                FFps = best;
                StoreSharedFormatLocked();
            }
            std::memset(&p->parm, 0, sizeof p->parm);
            p->parm.capture.capability = V4L2_CAP_TIMEPERFRAME;
            p->parm.capture.timeperframe = {1, FFps};
            p->parm.capture.readbuffers = 0;
            return 0;
        }
        default:
            return -ENOTTY;
    }
}

int VirtualCamera::AllocateLocked(int fd, uint32_t count, std::size_t length) {
    // New buffers go at the end of the memory file, each at a page-aligned offset; the
    // camera maps each one for itself.
    const bool first = FBuffers.empty();
    if (first && FShareLockFd >= 0 && ::flock(FShareLockFd, LOCK_EX | LOCK_NB) != 0) {
        return -EBUSY;  // another program's camera streams
    }
    if (FMemoryFd < 0) {
        FMemoryFd = ::memfd_create("snapix-virtual-camera", MFD_CLOEXEC);
        if (FMemoryFd < 0) {
            const int error = errno;
            ReleaseBuffersLocked();
            return -error;
        }
    }
    const std::size_t stride = PageAligned(length);
    if (::ftruncate(FMemoryFd, off_t(FMemorySize + stride * count)) != 0) {
        const int error = errno;
        if (first) {
            ReleaseBuffersLocked();
        }
        return -error;
    }
    for (uint32_t i = 0; i < count; ++i) {
        void* data = ::mmap(nullptr, stride, PROT_READ | PROT_WRITE, MAP_SHARED, FMemoryFd,
                            off_t(FMemorySize));
        if (data == MAP_FAILED) {
            const int error = errno;
            if (first) {
                ReleaseBuffersLocked();
            }
            return -error;
        }
        Buffer buffer;
        buffer.memory = std::make_shared<BufferMemory>();
        buffer.memory->data = static_cast<uint8_t*>(data);
        buffer.memory->length = stride;
        buffer.offset = FMemorySize;
        buffer.length = length;
        FBuffers.push_back(std::move(buffer));
        FMemorySize += stride;
    }
    FStreamOwner = fd;
    return 0;
}

void VirtualCamera::FillBuffer(uint32_t index, v4l2_buffer& out) const {
    const Buffer& buffer = FBuffers[index];
    std::memset(&out, 0, sizeof out);
    out.index = index;
    out.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    out.memory = V4L2_MEMORY_MMAP;
    out.length = static_cast<uint32_t>(buffer.length);
    out.m.offset = static_cast<uint32_t>(buffer.offset);
    out.field = V4L2_FIELD_NONE;
    out.flags = (buffer.queued ? V4L2_BUF_FLAG_QUEUED : 0) | V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC |
                V4L2_BUF_FLAG_TSTAMP_SRC_SOE;
}

int VirtualCamera::BufferRequest(int fd, unsigned long request, void* arg) {
    // The buffers belong to the descriptor that asked for them; the others are busy.
    const bool others = FStreamOwner >= 0 && FStreamOwner != fd;
    if (request == VIDIOC_STREAMON || request == VIDIOC_STREAMOFF) {
        if (*static_cast<int*>(arg) != V4L2_BUF_TYPE_VIDEO_CAPTURE) {
            return -EINVAL;
        }
        if (others) {
            return -EBUSY;
        }
        if (request == VIDIOC_STREAMOFF) {
            // Also without buffers: there is nothing to stop.
            if (FFaults.streamOffFails) {
                return -EIO;
            }
            if (FStreaming) {
                ++FStreamGeneration;
            }
            FStreaming = false;
            FQueue.clear();
            for (Buffer& b : FBuffers) {
                b.queued = false;
            }
            return 0;
        }
        if (FStreamOwner < 0) {
            return -EINVAL;
        }
        if (FFaults.streamOnFails) {
            return -EIO;
        }
        if (!FStreaming) {
            FStreaming = true;
            ++FStreamGeneration;
            FStreamStart = Clock::now();
            FSequence = 0;
        }
        return 0;
    }
    if (request == VIDIOC_REQBUFS) {
        auto* r = static_cast<v4l2_requestbuffers*>(arg);
        if (r->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || r->memory != V4L2_MEMORY_MMAP) {
            return -EINVAL;
        }
        if (others || FStreaming || (FFaults.busyOnBuffers && r->count > 0)) {
            return -EBUSY;
        }
        // Buffers still mapped stay valid for their mapping; the queue forgets them.
        ReleaseBuffersLocked();
        std::memset(r->reserved, 0, sizeof r->reserved);
        r->capabilities = V4L2_BUF_CAP_SUPPORTS_MMAP | V4L2_BUF_CAP_SUPPORTS_ORPHANED_BUFS;
        r->flags = 0;  // no cache hints
        FStreamOwner = -1;
        if (r->count == 0) {
            return 0;
        }
        r->count = std::clamp(r->count, kMinBuffers, kMaxBuffers);
        return AllocateLocked(fd, r->count, std::size_t(FWidth) * FHeight * 2);
    }
    if (request == VIDIOC_CREATE_BUFS) {
        auto* c = static_cast<v4l2_create_buffers*>(arg);
        std::memset(c->reserved, 0, sizeof c->reserved);
        c->capabilities = V4L2_BUF_CAP_SUPPORTS_MMAP | V4L2_BUF_CAP_SUPPORTS_ORPHANED_BUFS;
        c->flags = 0;
        c->index = static_cast<uint32_t>(FBuffers.size());
        if (c->format.type != V4L2_BUF_TYPE_VIDEO_CAPTURE || c->memory != V4L2_MEMORY_MMAP) {
            return -EINVAL;
        }
        if (others || (FFaults.busyOnBuffers && c->count > 0)) {
            return -EBUSY;
        }
        if (c->count == 0) {
            return 0;
        }
        // Buffers for the size the format names, at least the current format's frames.
        const std::size_t current = std::size_t(FWidth) * FHeight * 2;
        if (c->format.fmt.pix.sizeimage < current) {
            return -EINVAL;
        }
        if (FBuffers.size() >= kMaxCreatedBuffers) {
            return -ENOBUFS;
        }
        c->count = std::min<uint32_t>(c->count, kMaxCreatedBuffers - uint32_t(FBuffers.size()));
        return AllocateLocked(fd, c->count, c->format.fmt.pix.sizeimage);
    }

    auto* b = static_cast<v4l2_buffer*>(arg);
    if (b->type != V4L2_BUF_TYPE_VIDEO_CAPTURE) {
        return -EINVAL;
    }
    if (others) {
        return -EBUSY;
    }
    if (b->index >= FBuffers.size()) {
        return -EINVAL;
    }
    Buffer& buffer = FBuffers[b->index];
    if (request == VIDIOC_QBUF) {
        if (b->memory != V4L2_MEMORY_MMAP || buffer.queued || buffer.filling) {
            return -EINVAL;
        }
        buffer.queued = true;
        FQueue.push_back(b->index);
    }
    FillBuffer(b->index, *b);
    return 0;
}
