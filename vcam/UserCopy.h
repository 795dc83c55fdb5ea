// A request's argument moved between the calling program's memory and the camera, as
// the kernel's ioctl layer moves it between user space and a driver: every byte is
// checked before the camera sees it, so a bad address is EFAULT for the caller and never
// a crash of the program that loaded us.
#pragma once

#include <cstddef>
#include <string>

class VideoIo;

namespace vcam::preload {

// Copies `size` bytes from the caller's `user` address; false when any is unreadable.
bool ReadUser(const void* user, void* out, std::size_t size);
// Copies `size` bytes to the caller's `user` address; false when any is unwritable.
bool WriteUser(void* user, const void* in, std::size_t size);

// A string from the caller's `user` address, up to its end or `limit` bytes; false
// when a byte before its end is unreadable or it is longer.
bool ReadUserString(const char* user, std::string& out, std::size_t limit);

// An ioctl on the camera's descriptor `fd` with the caller's argument: the argument (and
// the control array of the extended-control requests) copied in as its direction says,
// the camera asked with the copy, the answer copied back. 0 or -errno.
int UserIoctl(VideoIo& camera, int fd, unsigned request, void* user);

}  // namespace vcam::preload
