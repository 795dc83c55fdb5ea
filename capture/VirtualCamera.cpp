// The virtual camera: a V4L2 capture device answered in process.
#include "capture/VirtualCamera.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <linux/videodev2.h>

namespace {

constexpr int64_t kBufferOffsetUnit = 1 << 26;  // mmap offset of buffer i: i * unit
constexpr uint32_t kMaxBuffers = 8;
constexpr auto kFramePeriod =
    std::chrono::nanoseconds(1'000'000'000 / VirtualCamera::kFramesPerSecond);

// 5x7 digits for the frame counter, one byte a row, high bit on the left.
constexpr uint8_t kDigits[10][7] = {
    {0x70, 0x88, 0x98, 0xA8, 0xC8, 0x88, 0x70}, {0x20, 0x60, 0x20, 0x20, 0x20, 0x20, 0x70},
    {0x70, 0x88, 0x08, 0x10, 0x20, 0x40, 0xF8}, {0xF8, 0x10, 0x20, 0x10, 0x08, 0x88, 0x70},
    {0x10, 0x30, 0x50, 0x90, 0xF8, 0x10, 0x10}, {0xF8, 0x80, 0xF0, 0x08, 0x08, 0x88, 0x70},
    {0x30, 0x40, 0x80, 0xF0, 0x88, 0x88, 0x70}, {0xF8, 0x08, 0x10, 0x20, 0x40, 0x40, 0x40},
    {0x70, 0x88, 0x88, 0x70, 0x88, 0x88, 0x70}, {0x70, 0x88, 0x88, 0x78, 0x08, 0x10, 0x60},
};
constexpr int kDigitScale = 3;
constexpr int kCounterDigits = 8;
constexpr int kSquare = 32;

uint8_t Clamp8(double v) {
    return static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L));
}

// Waits up to `timeout` (to the nanosecond: a frame is due at its moment, not at the
// next whole millisecond) for the wake descriptor.
int WaitOnWake(int wakeFd, std::chrono::nanoseconds timeout) {
    const auto ns = std::max<int64_t>(timeout.count(), 0);
    const timespec span{static_cast<time_t>(ns / 1'000'000'000),
                        static_cast<long>(ns % 1'000'000'000)};
    if (wakeFd < 0) {
        if (ns > 0) {
            ::nanosleep(&span, nullptr);
        }
        return 0;
    }
    pollfd fd{wakeFd, POLLIN, 0};
    const int n = ::ppoll(&fd, 1, &span, nullptr);
    return (n > 0 && (fd.revents & POLLIN)) ? VideoIo::kPollWoken : 0;
}

}  // namespace

VirtualCamera& VirtualCamera::Instance() {
    static VirtualCamera camera;
    return camera;
}

const std::vector<std::pair<int, int>>& VirtualCamera::Sizes() {
    static const std::vector<std::pair<int, int>> sizes = {
        {160, 120}, {320, 240}, {640, 480}, {800, 600}, {1280, 720}, {1280, 1024}, {1920, 1080}};
    return sizes;
}

VirtualCamera::VirtualCamera() {
    Reset();
}

VirtualCamera::~VirtualCamera() = default;

void VirtualCamera::Reset() {
    std::lock_guard lock(mutex_);
    faults_ = {};
    sensorNoise_ = false;
    unplugged_ = false;
    toldGone_.clear();
    width_ = 640;
    height_ = 480;
    controls_ = {
        {V4L2_CID_BRIGHTNESS, "Brightness", -64, 64, 1, 0, 0},
        {V4L2_CID_CONTRAST, "Contrast", 0, 100, 1, 50, 50},
        {V4L2_CID_HUE, "Hue", -180, 180, 1, 0, 0},
        {V4L2_CID_SATURATION, "Saturation", 0, 100, 1, 50, 50},
        {V4L2_CID_COLOR_KILLER, "Color Killer", 0, 1, 1, 0, 0},
    };
    baseStale_ = true;
}

void VirtualCamera::SetFaults(const Faults& faults) {
    std::lock_guard lock(mutex_);
    faults_ = faults;
}

void VirtualCamera::SetSensorNoise(bool on) {
    std::lock_guard lock(mutex_);
    sensorNoise_ = on;
    baseStale_ = true;
}

void VirtualCamera::Unplug() {
    std::lock_guard lock(mutex_);
    unplugged_ = true;
}

void VirtualCamera::PlugIn() {
    std::lock_guard lock(mutex_);
    unplugged_ = false;
    toldGone_.clear();
}

void VirtualCamera::SetControlFlags(uint32_t id, uint32_t flags) {
    std::lock_guard lock(mutex_);
    for (Control& c : controls_) {
        if (c.id == id) {
            c.flags = flags;
        }
    }
}

int VirtualCamera::OpenDescriptors() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(descriptors_.size());
}

int VirtualCamera::LiveMappings() const {
    std::lock_guard lock(mutex_);
    return liveMappings_;
}

int VirtualCamera::BuffersQueuedAfterUnplug() const {
    std::lock_guard lock(mutex_);
    return queuedAfterUnplug_;
}

uint64_t VirtualCamera::FramesDelivered() const {
    std::lock_guard lock(mutex_);
    return delivered_;
}

bool VirtualCamera::Streaming() const {
    std::lock_guard lock(mutex_);
    return streaming_;
}

int VirtualCamera::Open(const std::string& path) {
    std::lock_guard lock(mutex_);
    if (path != kPath) {
        return -ENOENT;
    }
    if (unplugged_) {
        return -ENODEV;
    }
    if (faults_.busyOnOpen) {
        return -EBUSY;
    }
    const int fd = nextFd_++;
    descriptors_[fd] = true;
    return fd;
}

int VirtualCamera::Close(int fd) {
    std::lock_guard lock(mutex_);
    if (!descriptors_.erase(fd)) {
        return -EBADF;
    }
    if (streamOwner_ == fd) {
        // Closing the owner frees the queue, as a driver does; memory that is
        // still mapped stays valid until it is unmapped.
        streaming_ = false;
        queue_.clear();
        streamOwner_ = -1;
        ReleaseBuffersLocked();
    }
    return 0;
}

void VirtualCamera::ReleaseBuffersLocked() {
    if (liveMappings_ == 0 && streamOwner_ < 0) {
        buffers_.clear();
    }
}

void* VirtualCamera::Mmap(std::size_t length, int fd, int64_t offset, int* error) {
    std::lock_guard lock(mutex_);
    auto fail = [error](int code) -> void* {
        if (error) {
            *error = code;
        }
        return nullptr;
    };
    if (!descriptors_.count(fd)) {
        return fail(-EBADF);
    }
    if (unplugged_) {
        return fail(-ENODEV);
    }
    const int64_t index = offset / kBufferOffsetUnit;
    if (offset % kBufferOffsetUnit != 0 || index < 0 ||
        index >= static_cast<int64_t>(buffers_.size())) {
        return fail(-EINVAL);
    }
    Buffer& buffer = buffers_[index];
    if (length > buffer.memory.size() || buffer.mapped) {
        return fail(-EINVAL);
    }
    buffer.mapped = true;
    ++liveMappings_;
    return buffer.memory.data();
}

int VirtualCamera::Munmap(void* address, std::size_t length) {
    std::lock_guard lock(mutex_);
    for (Buffer& buffer : buffers_) {
        if (buffer.mapped && buffer.memory.data() == address) {
            buffer.mapped = false;
            --liveMappings_;
            ReleaseBuffersLocked();
            return 0;
        }
    }
    return -EINVAL;
}

std::chrono::nanoseconds VirtualCamera::TimeToNextFrameLocked() const {
    const auto due = streamStart_ + kFramePeriod * static_cast<int64_t>(sequence_ + 1);
    return std::max(std::chrono::nanoseconds(due - Clock::now()), std::chrono::nanoseconds(0));
}

bool VirtualCamera::FrameDueLocked() const {
    return streaming_ && !faults_.noFrames && !queue_.empty() &&
           Clock::now() >= streamStart_ + kFramePeriod * static_cast<int64_t>(sequence_ + 1);
}

int VirtualCamera::Poll(int fd, int wakeFd, int timeoutMs) {
    std::chrono::nanoseconds wait = std::chrono::milliseconds(timeoutMs);
    {
        std::lock_guard lock(mutex_);
        if (!descriptors_.count(fd)) {
            return -EBADF;
        }
        if (unplugged_) {
            toldGone_.insert(fd);
            return -ENODEV;
        }
        if (FrameDueLocked()) {
            return kPollFrame | WaitOnWake(wakeFd, std::chrono::nanoseconds(0));
        }
        if (streaming_ && !faults_.noFrames && !queue_.empty()) {
            wait = std::min(wait, TimeToNextFrameLocked());
        }
    }
    const int woken = WaitOnWake(wakeFd, wait);
    std::lock_guard lock(mutex_);
    if (unplugged_) {
        toldGone_.insert(fd);
        return -ENODEV;
    }
    return woken | (FrameDueLocked() ? kPollFrame : 0);
}

int VirtualCamera::Ioctl(int fd, unsigned long request, void* arg) {
    std::lock_guard lock(mutex_);
    if (!descriptors_.count(fd)) {
        return -EBADF;
    }
    if (unplugged_) {
        if (request == VIDIOC_QBUF && toldGone_.count(fd)) {
            ++queuedAfterUnplug_;
        }
        toldGone_.insert(fd);
        return -ENODEV;
    }
    return IoctlLocked(fd, request, arg);
}

VirtualCamera::Control* VirtualCamera::FindControl(uint32_t id) {
    if (faults_.noControls) {
        return nullptr;
    }
    for (Control& c : controls_) {
        if (c.id == id) {
            return &c;
        }
    }
    return nullptr;
}

int VirtualCamera::IoctlLocked(int fd, unsigned long request, void* arg) {
    switch (request) {
        case VIDIOC_QUERYCAP: {
            auto* cap = static_cast<v4l2_capability*>(arg);
            std::memset(cap, 0, sizeof *cap);
            std::strncpy(reinterpret_cast<char*>(cap->driver), "snapix-virtual",
                         sizeof cap->driver - 1);
            std::strncpy(reinterpret_cast<char*>(cap->card), kName, sizeof cap->card - 1);
            std::strncpy(reinterpret_cast<char*>(cap->bus_info), "virtual:0",
                         sizeof cap->bus_info - 1);
            cap->device_caps = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
            cap->capabilities = cap->device_caps | V4L2_CAP_DEVICE_CAPS;
            return 0;
        }
        case VIDIOC_ENUM_FMT: {
            auto* f = static_cast<v4l2_fmtdesc*>(arg);
            if (f->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || f->index != 0) {
                return -EINVAL;
            }
            f->pixelformat = V4L2_PIX_FMT_BGR24;
            std::strncpy(reinterpret_cast<char*>(f->description), "24-bit BGR 8-8-8",
                         sizeof f->description - 1);
            return 0;
        }
        case VIDIOC_ENUM_FRAMESIZES: {
            auto* s = static_cast<v4l2_frmsizeenum*>(arg);
            if (s->pixel_format != V4L2_PIX_FMT_BGR24 || s->index >= Sizes().size()) {
                return -EINVAL;
            }
            s->type = V4L2_FRMSIZE_TYPE_DISCRETE;
            s->discrete.width = Sizes()[s->index].first;
            s->discrete.height = Sizes()[s->index].second;
            return 0;
        }
        case VIDIOC_G_FMT:
        case VIDIOC_S_FMT:
        case VIDIOC_TRY_FMT: {
            auto* f = static_cast<v4l2_format*>(arg);
            if (f->type != V4L2_BUF_TYPE_VIDEO_CAPTURE) {
                return -EINVAL;
            }
            int w = width_, h = height_;
            if (request != VIDIOC_G_FMT) {
                // Like a driver: the nearest size it can do, in its own pixel format.
                const auto want = std::pair<int64_t, int64_t>(f->fmt.pix.width, f->fmt.pix.height);
                auto distance = [&want](const std::pair<int, int>& s) {
                    return std::abs(s.first - want.first) + std::abs(s.second - want.second);
                };
                const auto best =
                    std::min_element(Sizes().begin(), Sizes().end(),
                                     [&](auto& a, auto& b) { return distance(a) < distance(b); });
                w = best->first;
                h = best->second;
                if (faults_.refuseSizes && (w != width_ || h != height_)) {
                    return -EINVAL;
                }
                if (request == VIDIOC_S_FMT) {
                    if (!buffers_.empty() || faults_.busyOnFormat) {
                        return -EBUSY;
                    }
                    if (w != width_ || h != height_) {
                        width_ = w;
                        height_ = h;
                        baseStale_ = true;
                    }
                }
            }
            std::memset(&f->fmt.pix, 0, sizeof f->fmt.pix);
            f->fmt.pix.width = w;
            f->fmt.pix.height = h;
            f->fmt.pix.pixelformat = V4L2_PIX_FMT_BGR24;
            f->fmt.pix.field = V4L2_FIELD_NONE;
            f->fmt.pix.bytesperline = w * 3;
            f->fmt.pix.sizeimage = w * h * 3;
            f->fmt.pix.colorspace = V4L2_COLORSPACE_SRGB;
            return 0;
        }
        case VIDIOC_G_PARM:
        case VIDIOC_S_PARM: {
            auto* p = static_cast<v4l2_streamparm*>(arg);
            if (p->type != V4L2_BUF_TYPE_VIDEO_CAPTURE) {
                return -EINVAL;
            }
            p->parm.capture.capability = V4L2_CAP_TIMEPERFRAME;
            p->parm.capture.timeperframe = {1, static_cast<uint32_t>(kFramesPerSecond)};
            return 0;
        }
        case VIDIOC_REQBUFS: {
            auto* r = static_cast<v4l2_requestbuffers*>(arg);
            if (r->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || r->memory != V4L2_MEMORY_MMAP) {
                return -EINVAL;
            }
            if (streamOwner_ >= 0 && streamOwner_ != fd) {
                return -EBUSY;
            }
            if (streaming_ || liveMappings_ > 0 || (faults_.busyOnBuffers && r->count > 0)) {
                return -EBUSY;
            }
            buffers_.clear();
            queue_.clear();
            if (r->count == 0) {
                streamOwner_ = -1;
                return 0;
            }
            r->count = std::min(r->count, kMaxBuffers);
            buffers_.resize(r->count);
            for (Buffer& b : buffers_) {
                b.memory.length = static_cast<std::size_t>(width_) * height_ * 3;
                b.memory.bytes.reset(new uint8_t[b.memory.length]);
            }
            streamOwner_ = fd;
            return 0;
        }
        case VIDIOC_QUERYBUF:
        case VIDIOC_QBUF:
        case VIDIOC_DQBUF: {
            auto* b = static_cast<v4l2_buffer*>(arg);
            if (b->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || b->memory != V4L2_MEMORY_MMAP ||
                streamOwner_ != fd) {
                return -EINVAL;
            }
            if (request == VIDIOC_DQBUF) {
                if (!streaming_) {
                    return -EINVAL;
                }
                if (!FrameDueLocked()) {
                    return -EAGAIN;
                }
                const uint32_t index = queue_.front();
                queue_.erase(queue_.begin());
                Buffer& buffer = buffers_[index];
                buffer.queued = false;
                const auto elapsed = Clock::now() - streamStart_;
                const uint64_t slot = static_cast<uint64_t>(elapsed / kFramePeriod);
                FillFrame(buffer, slot);
                sequence_ = slot;
                ++delivered_;
                b->index = index;
                b->bytesused = buffer.bytesUsed;
                b->length = static_cast<uint32_t>(buffer.memory.size());
                b->sequence = static_cast<uint32_t>(slot);
                b->field = V4L2_FIELD_NONE;
                b->flags = V4L2_BUF_FLAG_MAPPED | V4L2_BUF_FLAG_DONE;
                b->m.offset = static_cast<uint32_t>(index * kBufferOffsetUnit);
                return 0;
            }
            if (b->index >= buffers_.size()) {
                return -EINVAL;
            }
            Buffer& buffer = buffers_[b->index];
            if (request == VIDIOC_QBUF) {
                if (buffer.queued) {
                    return -EINVAL;
                }
                buffer.queued = true;
                queue_.push_back(b->index);
            }
            b->length = static_cast<uint32_t>(buffer.memory.size());
            b->m.offset = static_cast<uint32_t>(b->index * kBufferOffsetUnit);
            b->flags = (buffer.mapped ? V4L2_BUF_FLAG_MAPPED : 0) |
                       (buffer.queued ? V4L2_BUF_FLAG_QUEUED : 0);
            return 0;
        }
        case VIDIOC_STREAMON:
        case VIDIOC_STREAMOFF: {
            if (*static_cast<int*>(arg) != V4L2_BUF_TYPE_VIDEO_CAPTURE || streamOwner_ != fd) {
                return -EINVAL;
            }
            if (request == VIDIOC_STREAMOFF) {
                if (faults_.streamOffFails) {
                    return -EIO;
                }
                streaming_ = false;
                queue_.clear();
                for (Buffer& b : buffers_) {
                    b.queued = false;
                }
                return 0;
            }
            if (faults_.streamOnFails) {
                return -EIO;
            }
            if (buffers_.empty()) {
                return -EINVAL;
            }
            if (!streaming_) {
                streaming_ = true;
                streamStart_ = Clock::now();
                sequence_ = 0;
            }
            return 0;
        }
        case VIDIOC_QUERYCTRL: {
            auto* q = static_cast<v4l2_queryctrl*>(arg);
            const Control* c = FindControl(q->id);
            if (!c) {
                return -EINVAL;
            }
            std::memset(q->name, 0, sizeof q->name);
            std::strncpy(reinterpret_cast<char*>(q->name), c->name, sizeof q->name - 1);
            q->type =
                c->id == V4L2_CID_COLOR_KILLER ? V4L2_CTRL_TYPE_BOOLEAN : V4L2_CTRL_TYPE_INTEGER;
            q->minimum = c->minimum;
            q->maximum = c->maximum;
            q->step = c->step;
            q->default_value = c->defaultValue;
            q->flags = c->flags;
            return 0;
        }
        case VIDIOC_G_CTRL:
        case VIDIOC_S_CTRL: {
            auto* v = static_cast<v4l2_control*>(arg);
            Control* c = FindControl(v->id);
            if (!c) {
                return -EINVAL;
            }
            if (request == VIDIOC_G_CTRL) {
                v->value = c->value;
                return 0;
            }
            if (v->value < c->minimum || v->value > c->maximum) {
                return -ERANGE;
            }
            if (c->value != v->value) {
                c->value = v->value;
                baseStale_ = true;
            }
            return 0;
        }
        default:
            return -ENOTTY;
    }
}

void VirtualCamera::RenderBaseIfStale() {
    if (!baseStale_ && baseWidth_ == width_ && baseHeight_ == height_) {
        return;
    }
    auto value = [this](uint32_t id) {
        for (const Control& c : controls_) {
            if (c.id == id) {
                return c.value;
            }
        }
        return 0;
    };
    const double brightness = value(V4L2_CID_BRIGHTNESS) * 2.0;
    const double contrast = value(V4L2_CID_CONTRAST) / 50.0;
    const double hue = value(V4L2_CID_HUE) * M_PI / 180.0;
    const double saturation =
        value(V4L2_CID_COLOR_KILLER) ? 0.0 : value(V4L2_CID_SATURATION) / 50.0;
    // Picture controls act as a camera's do: on luma (brightness, contrast)
    // and on the colour difference (hue turns it, saturation scales it).
    auto adjust = [&](uint8_t r, uint8_t g, uint8_t b, uint8_t* out) {
        const double y = 0.299 * r + 0.587 * g + 0.114 * b;
        const double u0 = b - y, v0 = r - y;
        const double u = (u0 * std::cos(hue) - v0 * std::sin(hue)) * saturation;
        const double v = (u0 * std::sin(hue) + v0 * std::cos(hue)) * saturation;
        const double y2 = (y - 128.0) * contrast + 128.0 + brightness;
        const double r2 = y2 + v, b2 = y2 + u;
        const double g2 = (y2 - 0.299 * r2 - 0.114 * b2) / 0.587;
        out[0] = Clamp8(b2);
        out[1] = Clamp8(g2);
        out[2] = Clamp8(r2);
    };
    static constexpr uint8_t kBars[8][3] = {{255, 255, 255}, {255, 255, 0}, {0, 255, 255},
                                            {0, 255, 0},     {255, 0, 255}, {255, 0, 0},
                                            {0, 0, 255},     {32, 32, 32}};
    const std::size_t stride = static_cast<std::size_t>(width_) * 3;
    std::vector<uint8_t> barRow(stride), rampRow(stride);
    for (int x = 0; x < width_; ++x) {
        const auto* rgb = kBars[x * 8 / width_];
        adjust(rgb[0], rgb[1], rgb[2], &barRow[x * 3]);
        const auto level = static_cast<uint8_t>(x * 255 / std::max(1, width_ - 1));
        adjust(level, level, level, &rampRow[x * 3]);
    }
    base_.resize(stride * height_);
    for (int y = 0; y < height_; ++y) {
        std::memcpy(&base_[y * stride], (y < height_ * 2 / 3 ? barRow : rampRow).data(), stride);
    }
    if (sensorNoise_) {
        uint32_t seed = 12345;
        for (uint8_t& c : base_) {
            seed = seed * 1664525u + 1013904223u;
            c = Clamp8(c + static_cast<int>(seed >> 26) - 32);
        }
    }
    baseWidth_ = width_;
    baseHeight_ = height_;
    baseStale_ = false;
    ++baseGeneration_;
}

void VirtualCamera::FillFrame(Buffer& buffer, uint64_t sequence) {
    RenderBaseIfStale();
    const std::size_t stride = static_cast<std::size_t>(width_) * 3;
    uint8_t* frame = buffer.memory.data();
    // The rectangle's rows, clipped to the picture: each gets (x, row, bytes).
    auto rows = [&](int x0, int y0, int w, int h, const auto& each) {
        const int xs = std::max(0, x0), xe = std::min(width_, x0 + w);
        if (xe <= xs) {
            return;
        }
        for (int y = std::max(0, y0); y < std::min(height_, y0 + h); ++y) {
            each(y * stride + xs * 3, std::size_t(xe - xs) * 3);
        }
    };
    auto fill = [&](int x0, int y0, int w, int h, uint8_t v) {
        rows(x0, y0, w, h, [&](std::size_t at, std::size_t n) { std::memset(frame + at, v, n); });
    };
    const int squareY = height_ / 2 - kSquare / 2;
    if (buffer.holdsBase == baseGeneration_ && buffer.memory.size() == base_.size()) {
        // A device writes its frames without the processor; a copy of the whole
        // pattern per frame made this simulated one most of a preview's CPU time. The
        // buffer still holds its last frame: only the square's old place is put back.
        rows(buffer.squareX, squareY, kSquare, kSquare,
             [&](std::size_t at, std::size_t n) { std::memcpy(frame + at, &base_[at], n); });
    } else {
        std::memcpy(frame, base_.data(), std::min(base_.size(), buffer.memory.size()));
        buffer.holdsBase = baseGeneration_;
    }
    // A square that moves one step per frame, so a still picture and a live
    // one can be told apart.
    const int travel = std::max(1, width_ - kSquare);
    buffer.squareX = static_cast<int>((sequence * 8) % travel);
    fill(buffer.squareX, squareY, kSquare, kSquare, 255);
    // The frame counter, white on black, in the top-left corner (the black box
    // covers the last counter whole).
    const int cell = 6 * kDigitScale;
    fill(4, 4, kCounterDigits * cell + 4, 7 * kDigitScale + 4, 0);
    uint64_t n = sequence;
    for (int d = kCounterDigits - 1; d >= 0; --d, n /= 10) {
        const uint8_t* glyph = kDigits[n % 10];
        for (int row = 0; row < 7; ++row) {
            for (int col = 0; col < 5; ++col) {
                if (glyph[row] & (0x80 >> col)) {
                    fill(6 + d * cell + col * kDigitScale, 6 + row * kDigitScale, kDigitScale,
                         kDigitScale, 255);
                }
            }
        }
    }
    buffer.bytesUsed = static_cast<uint32_t>(stride * height_);
}
