// The virtual camera: a USB camera's driver answered in process.
#include "capture/VirtualCamera.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <new>
#include <thread>

#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <linux/version.h>
#include <linux/videodev2.h>

namespace {

constexpr uint32_t kMinBuffers = 2;
constexpr uint32_t kMaxBuffers = 8;
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
}

void VirtualCamera::SetFaults(const Faults& faults) {
    std::lock_guard lock(FMutex);
    FFaults = faults;
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
}

void VirtualCamera::PlugIn() {
    std::lock_guard lock(FMutex);
    FUnplugged = false;
    uint64_t drain;
    [[maybe_unused]] auto n = ::read(FWakeFd, &drain, sizeof drain);
    for (auto& [fd, d] : FDescriptors) {
        d.toldGone = false;
    }
}

void VirtualCamera::SetControlFlags(uint32_t id, uint32_t flags) {
    std::lock_guard lock(FMutex);
    FControls.ImposeFlags(id, flags);
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
    // A real descriptor stands for each open: its number is never another file's.
    const int fd = ::eventfd(0, EFD_CLOEXEC);
    if (fd < 0) {
        return -errno;
    }
    FDescriptors[fd] = Descriptor{(flags & O_NONBLOCK) != 0, false};
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
        FStreamOwner = -1;
        ReleaseBuffersLocked();
    }
    return 0;
}

void VirtualCamera::ReleaseBuffersLocked() {
    if (FMemory) {
        ::munmap(FMemory, FMemorySize);
        FMemory = nullptr;
    }
    if (FMemoryFd >= 0) {
        ::close(FMemoryFd);
        FMemoryFd = -1;
    }
    FMemorySize = 0;
    FBuffers.clear();
    FQueue.clear();
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
    if (FBuffers.empty() || offset < 0 || FBufferStride == 0 ||
        std::size_t(offset) % FBufferStride != 0 ||
        std::size_t(offset) / FBufferStride >= FBuffers.size() || length == 0 ||
        length > FBufferLength) {
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
    if (!FDescriptors.count(fd)) {
        return POLLNVAL;
    }
    if (FUnplugged) {
        return POLLERR | POLLHUP;
    }
    if (FStreamOwner != fd || !FStreaming) {
        return POLLERR;
    }
    return FrameReadyLocked() ? short(events & (POLLIN | POLLRDNORM)) : short(0);
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

void VirtualCamera::PrepareSceneLocked(const vcam::TLook& look) {
    if (FSceneGeneration != 0 && look == FLook) {
        return;
    }
    FLook = look;
    ++FSceneGeneration;
    vcam::RenderScene(look, FSceneBgr);
    if (FFourcc == V4L2_PIX_FMT_YUYV) {
        FSceneYuyv.resize(std::size_t(FWidth) * FHeight * 2);
        vcam::BgrToYuyv(FSceneBgr.data(), FWidth, FHeight, FSceneYuyv.data());
    }
    FRing.assign(kRingSlots, {});
}

const std::vector<uint8_t>& VirtualCamera::MjpegSlotLocked(uint64_t sequence) {
    std::vector<uint8_t>& frame = FRing[sequence % kRingSlots];
    if (frame.empty()) {
        const auto slot = static_cast<uint32_t>(sequence % kRingSlots);
        FScratch = FSceneBgr;
        vcam::AddGrain(FScratch.data(), FScratch.size(), slot);
        vcam::PaintBgr(
            FScratch.data(), FWidth, FHeight,
            vcam::FrameMarks(FWidth, FHeight, sequence, FFaults.upsideDown, !FLook.picture));
        // Most frames come without Huffman tables; the first of the ring has them.
        vcam::EncodeMjpeg(FScratch.data(), FWidth, FHeight, kMjpegQuality,
                          {slot == 0, FModel.avi1Segment}, frame);
    }
    return frame;
}

void VirtualCamera::FillFrameLocked(Buffer& buffer, uint8_t* memory, uint64_t sequence) {
    PrepareSceneLocked(LookLocked(Clock::now()));
    const bool damaged = FFaults.corruptEvery > 0 &&
                         sequence % uint64_t(FFaults.corruptEvery) == uint64_t(FFaults.corruptEvery) - 1;
    const bool cut = FFaults.shortEvery > 0 &&
                     sequence % uint64_t(FFaults.shortEvery) == uint64_t(FFaults.shortEvery) - 1;
    if (FFourcc == V4L2_PIX_FMT_YUYV) {
        const std::size_t size = std::size_t(FWidth) * FHeight * 2;
        if (buffer.holdsScene == FSceneGeneration) {
            // A device writes its frames without the processor; copying the whole scene
            // per frame made this simulated one most of a preview's CPU time. The buffer
            // still holds its last frame: only the square's old place is put back.
            vcam::RestoreYuyv(memory, FSceneYuyv.data(), FWidth, FHeight,
                              vcam::SquareOf(FWidth, FHeight, buffer.sequence, FFaults.upsideDown));
        } else {
            std::memcpy(memory, FSceneYuyv.data(), size);
            buffer.holdsScene = FSceneGeneration;
        }
        vcam::PaintYuyv(
            memory, FWidth, FHeight,
            vcam::FrameMarks(FWidth, FHeight, sequence, FFaults.upsideDown, !FLook.picture));
        buffer.bytesUsed = static_cast<uint32_t>(cut ? size / 2 : size);
        return;
    }
    const std::vector<uint8_t>& frame = MjpegSlotLocked(sequence);
    std::size_t used = std::min(frame.size(), FBufferLength);
    std::memcpy(memory, frame.data(), used);
    buffer.holdsScene = 0;
    if (damaged && used > 4) {
        // The data breaks off halfway into the end marker.
        used = used * 11 / 20;
        memory[used++] = 0xFF;
        memory[used++] = 0xD9;
    } else if (cut) {
        used = used * 11 / 20;
    } else if (FModel.bytesAfterEnd) {
        // Padded up to the transfer's size with whatever the camera's memory held.
        const std::size_t padded = std::min(FBufferLength, (used + 16383) / 16384 * 16384);
        uint32_t seed = static_cast<uint32_t>(sequence) * 2654435761u;
        for (std::size_t i = used; i < padded; ++i) {
            seed = seed * 1664525u + 1013904223u;
            memory[i] = static_cast<uint8_t>(seed >> 24);
        }
        used = padded;
    }
    buffer.bytesUsed = static_cast<uint32_t>(used);
}

int VirtualCamera::DequeueLocked(void* arg) {
    auto* b = static_cast<v4l2_buffer*>(arg);
    const Clock::time_point now = Clock::now();
    // The newest frame captured: a frame nobody had a buffer for was dropped.
    const auto period = FramePeriodLocked();
    const uint64_t newest = static_cast<uint64_t>((now - FStreamStart) / period) - 1;
    const uint64_t sequence = std::max(newest, FSequence);
    const uint32_t index = FQueue.front();
    FQueue.erase(FQueue.begin());
    Buffer& buffer = FBuffers[index];
    buffer.queued = false;
    FillFrameLocked(buffer, FMemory + index * FBufferStride, sequence);
    buffer.sequence = sequence;
    buffer.captured = FStreamStart + period * static_cast<int64_t>(sequence + 1);
    FSequence = sequence + 1;
    ++FDelivered;

    std::memset(b, 0, sizeof *b);
    b->index = index;
    b->type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    b->memory = V4L2_MEMORY_MMAP;
    b->bytesused = buffer.bytesUsed;
    b->length = static_cast<uint32_t>(FBufferLength);
    b->m.offset = static_cast<uint32_t>(index * FBufferStride);
    b->field = V4L2_FIELD_NONE;
    b->sequence = static_cast<uint32_t>(sequence);
    b->flags = V4L2_BUF_FLAG_MAPPED | V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC |
               V4L2_BUF_FLAG_TSTAMP_SRC_SOE;
    const auto since = std::chrono::duration_cast<std::chrono::microseconds>(
        buffer.captured.time_since_epoch());
    b->timestamp.tv_sec = static_cast<time_t>(since.count() / 1'000'000);
    b->timestamp.tv_usec = static_cast<suseconds_t>(since.count() % 1'000'000);
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
    if (request != VIDIOC_DQBUF || d.nonBlocking) {
        return IoctlLocked(fd, request, arg);
    }
    // A blocking dequeue waits for its frame, as the driver's does.
    for (;;) {
        const int r = IoctlLocked(fd, request, arg);
        if (r != -EAGAIN) {
            return r;
        }
        const auto due = FQueue.empty() || FFaults.noFrames
                             ? Clock::now() + std::chrono::milliseconds(10)
                             : NextFrameDueLocked();
        lock.unlock();
        std::this_thread::sleep_until(std::min(due, Clock::now() + std::chrono::milliseconds(10)));
        lock.lock();
        if (FUnplugged || !FDescriptors.count(fd)) {
            return FUnplugged ? -ENODEV : -EBADF;
        }
    }
}

int VirtualCamera::IoctlLocked(int fd, unsigned long request, void* arg) {
    const bool controls = !FFaults.noControls;
    switch (request) {
        case VIDIOC_QUERYCAP: {
            auto* cap = static_cast<v4l2_capability*>(arg);
            std::memset(cap, 0, sizeof *cap);
            CopyText(cap->driver, sizeof cap->driver, "snapix-virtual");
            CopyText(cap->card, sizeof cap->card, FModel.card);
            CopyText(cap->bus_info, sizeof cap->bus_info, FModel.path);
            cap->version = KERNEL_VERSION(6, 1, 0);
            cap->device_caps = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING | V4L2_CAP_EXT_PIX_FORMAT;
            cap->capabilities = cap->device_caps | V4L2_CAP_DEVICE_CAPS;
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
        case VIDIOC_QUERYBUF:
        case VIDIOC_QBUF:
        case VIDIOC_DQBUF:
        case VIDIOC_STREAMON:
        case VIDIOC_STREAMOFF:
            return BufferRequest(fd, request, arg);
        case VIDIOC_QUERYCTRL:
            return controls ? FControls.Query(*static_cast<v4l2_queryctrl*>(arg)) : -EINVAL;
        case VIDIOC_QUERY_EXT_CTRL:
            return controls ? FControls.QueryExt(*static_cast<v4l2_query_ext_ctrl*>(arg))
                            : -EINVAL;
        case VIDIOC_QUERYMENU:
            return controls ? FControls.QueryMenu(*static_cast<v4l2_querymenu*>(arg)) : -EINVAL;
        case VIDIOC_G_CTRL: {
            auto* c = static_cast<v4l2_control*>(arg);
            return controls ? FControls.Get(c->id, c->value) : -EINVAL;
        }
        case VIDIOC_S_CTRL: {
            auto* c = static_cast<v4l2_control*>(arg);
            return controls ? FControls.Set(c->id, c->value) : -EINVAL;
        }
        case VIDIOC_G_EXT_CTRLS:
            return controls ? FControls.GetExt(*static_cast<v4l2_ext_controls*>(arg)) : -EINVAL;
        case VIDIOC_S_EXT_CTRLS:
        case VIDIOC_TRY_EXT_CTRLS:
            return controls ? FControls.SetExt(*static_cast<v4l2_ext_controls*>(arg),
                                               request == VIDIOC_S_EXT_CTRLS)
                            : -EINVAL;
        default:
            return -ENOTTY;
    }
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
                if (!FBuffers.empty() || FFaults.busyOnFormat) {
                    return -EBUSY;
                }
                FFourcc = format->fourcc;
                FWidth = size.width;
                FHeight = size.height;
                FFps = size.maxFps;  // a new size starts at its fastest rate
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

int VirtualCamera::BufferRequest(int fd, unsigned long request, void* arg) {
    if (request == VIDIOC_STREAMON || request == VIDIOC_STREAMOFF) {
        if (*static_cast<int*>(arg) != V4L2_BUF_TYPE_VIDEO_CAPTURE) {
            return -EINVAL;
        }
        if (FStreamOwner != fd) {
            return FStreamOwner < 0 ? -EINVAL : -EBUSY;
        }
        if (request == VIDIOC_STREAMOFF) {
            if (FFaults.streamOffFails) {
                return -EIO;
            }
            FStreaming = false;
            FQueue.clear();
            for (Buffer& b : FBuffers) {
                b.queued = false;
            }
            return 0;
        }
        if (FFaults.streamOnFails) {
            return -EIO;
        }
        if (!FStreaming) {
            FStreaming = true;
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
        if (FStreamOwner >= 0 && FStreamOwner != fd) {
            return -EBUSY;
        }
        if (FStreaming || (FFaults.busyOnBuffers && r->count > 0)) {
            return -EBUSY;
        }
        // Buffers still mapped stay valid for their mapping; the queue forgets them.
        ReleaseBuffersLocked();
        std::memset(r->reserved, 0, sizeof r->reserved);
        r->capabilities = V4L2_BUF_CAP_SUPPORTS_MMAP;
        if (r->count == 0) {
            FStreamOwner = -1;
            return 0;
        }
        r->count = std::clamp(r->count, kMinBuffers, kMaxBuffers);
        FBufferLength = std::size_t(FWidth) * FHeight * 2;
        FBufferStride = PageAligned(FBufferLength);
        FMemorySize = FBufferStride * r->count;
        FMemoryFd = ::memfd_create("snapix-virtual-camera", MFD_CLOEXEC);
        if (FMemoryFd < 0 || ::ftruncate(FMemoryFd, off_t(FMemorySize)) != 0) {
            const int error = errno;
            ReleaseBuffersLocked();
            return -error;
        }
        void* memory = ::mmap(nullptr, FMemorySize, PROT_READ | PROT_WRITE, MAP_SHARED, FMemoryFd, 0);
        if (memory == MAP_FAILED) {
            const int error = errno;
            ReleaseBuffersLocked();
            return -error;
        }
        FMemory = static_cast<uint8_t*>(memory);
        FBuffers.resize(r->count);
        FStreamOwner = fd;
        return 0;
    }

    auto* b = static_cast<v4l2_buffer*>(arg);
    if (b->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || b->memory != V4L2_MEMORY_MMAP) {
        return -EINVAL;
    }
    if (FStreamOwner != fd) {
        return FStreamOwner < 0 ? -EINVAL : -EBUSY;
    }
    if (request == VIDIOC_DQBUF) {
        if (!FStreaming) {
            return -EINVAL;
        }
        return FrameReadyLocked() ? DequeueLocked(arg) : -EAGAIN;
    }
    if (b->index >= FBuffers.size()) {
        return -EINVAL;
    }
    Buffer& buffer = FBuffers[b->index];
    if (request == VIDIOC_QBUF) {
        if (buffer.queued) {
            return -EINVAL;
        }
        buffer.queued = true;
        FQueue.push_back(b->index);
    }
    const uint32_t index = b->index;
    std::memset(b, 0, sizeof *b);
    b->index = index;
    b->type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    b->memory = V4L2_MEMORY_MMAP;
    b->length = static_cast<uint32_t>(FBufferLength);
    b->m.offset = static_cast<uint32_t>(index * FBufferStride);
    b->bytesused = buffer.queued ? 0 : buffer.bytesUsed;
    b->field = V4L2_FIELD_NONE;
    b->flags = (buffer.queued ? V4L2_BUF_FLAG_QUEUED : 0) | V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC |
               V4L2_BUF_FLAG_TSTAMP_SRC_SOE;
    return 0;
}
