// The C library's own entry points behind the ones this library stands in for, and the
// mark of a thread that is inside the camera: the camera's own system calls (its
// descriptors, its memory file, its waits) must reach the C library, not come back here.
#pragma once

#include <dlfcn.h>

namespace vcam::preload {

// The next definition of `name` after this library's: the C library's.
template <class TFunction>
TFunction* Next(const char* name) {
    return reinterpret_cast<TFunction*>(::dlsym(RTLD_NEXT, name));
}

// REAL(open)(path, flags, mode): the C library's open.
#define REAL(name)                                                                       \
    ([]() {                                                                              \
        static auto* const real = ::vcam::preload::Next<decltype(::name)>(#name); \
        return real;                                                                     \
    }())

// Set while this thread runs the camera's code: every entry point passes straight on.
bool InsideCamera();

// Marks the calling thread as inside the camera for its lifetime.
class TInsideCamera {
  public:
    TInsideCamera();
    ~TInsideCamera();
    TInsideCamera(const TInsideCamera&) = delete;
    TInsideCamera& operator=(const TInsideCamera&) = delete;

  private:
    bool FWas;
};

}  // namespace vcam::preload
