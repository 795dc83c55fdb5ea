// The caller's memory checked and copied with process_vm_readv/writev on our own process:
// the kernel walks the address range and answers EFAULT where a page is missing or not
// writable, where a plain memcpy would crash.
#include "vcam/UserCopy.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

#include <sys/ioctl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <linux/videodev2.h>

#include "capture/VideoIo.h"

namespace vcam::preload {

namespace {

// The most controls one extended-control request may carry, as the kernel limits them.
constexpr uint32_t kMaxControls = 1024;

bool Transfer(void* user, void* local, std::size_t size, bool toUser) {
    if (size == 0) {
        return true;
    }
    const iovec localIo{local, size};
    const iovec remoteIo{user, size};
    const ssize_t done = toUser ? ::process_vm_writev(::getpid(), &localIo, 1, &remoteIo, 1, 0)
                                : ::process_vm_readv(::getpid(), &localIo, 1, &remoteIo, 1, 0);
    return done == static_cast<ssize_t>(size);
}

bool IsExtendedControls(unsigned request) {
    return request == VIDIOC_G_EXT_CTRLS || request == VIDIOC_S_EXT_CTRLS ||
           request == VIDIOC_TRY_EXT_CTRLS;
}

}  // namespace

bool ReadUser(const void* user, void* out, std::size_t size) {
    return Transfer(const_cast<void*>(user), out, size, false);
}

bool WriteUser(void* user, const void* in, std::size_t size) {
    return Transfer(user, const_cast<void*>(in), size, true);
}

bool ReadUserString(const char* user, std::string& out, std::size_t limit) {
    const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    out.clear();
    char chunk[256];
    while (out.size() <= limit) {
        // Never past the page the string may end in: the next one need not exist.
        const auto at = reinterpret_cast<uintptr_t>(user + out.size());
        const std::size_t size = std::min(sizeof chunk, page - at % page);
        if (!ReadUser(user + out.size(), chunk, size)) {
            return false;
        }
        if (const void* end = std::memchr(chunk, 0, size)) {
            out.append(chunk, static_cast<const char*>(end) - chunk);
            return out.size() <= limit;
        }
        out.append(chunk, size);
    }
    return false;
}

int UserIoctl(VideoIo& camera, int fd, unsigned request, void* user) {
    const std::size_t size = _IOC_SIZE(request);
    const unsigned direction = _IOC_DIR(request);
    // Room for the largest argument the request's number can name; a request without
    // one still hands the camera an address.
    std::vector<unsigned char> copy(std::max<std::size_t>(size, sizeof(long)));
    if (direction & (_IOC_READ | _IOC_WRITE)) {
        // Read even when the request only writes back: an answer that cannot be delivered
        // must fail before the camera acts on the request.
        if (!ReadUser(user, copy.data(), size)) {
            return -EFAULT;
        }
        if ((direction & _IOC_READ) && !WriteUser(user, copy.data(), size)) {
            return -EFAULT;
        }
        if (!(direction & _IOC_WRITE)) {
            std::memset(copy.data(), 0, size);
        }
    }

    // The control array an extended-control request points at goes the same way.
    std::vector<v4l2_ext_control> controls;
    v4l2_ext_control* userControls = nullptr;
    const bool extended = IsExtendedControls(request) && size == sizeof(v4l2_ext_controls);
    auto* ext = reinterpret_cast<v4l2_ext_controls*>(copy.data());
    if (extended && ext->count > 0) {
        if (ext->count > kMaxControls) {
            return -EINVAL;
        }
        userControls = ext->controls;
        controls.resize(ext->count);
        const std::size_t bytes = controls.size() * sizeof(v4l2_ext_control);
        if (!ReadUser(userControls, controls.data(), bytes) ||
            !WriteUser(userControls, controls.data(), bytes)) {
            return -EFAULT;
        }
        ext->controls = controls.data();
    }

    const int result = camera.Ioctl(fd, request, copy.data());

    // An extended-control request reports which control failed even when it fails.
    if (result < 0 && !extended) {
        return result;
    }
    if (userControls) {
        WriteUser(userControls, controls.data(), controls.size() * sizeof(v4l2_ext_control));
        ext->controls = userControls;
    }
    if ((direction & _IOC_READ) && !WriteUser(user, copy.data(), size)) {
        return -EFAULT;
    }
    return result;
}

}  // namespace vcam::preload
