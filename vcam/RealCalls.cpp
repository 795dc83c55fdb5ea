// The mark of a thread inside the camera.
#include "vcam/RealCalls.h"

namespace vcam::preload {

namespace {
// Initial-exec: the library is loaded at start, and reading the mark must not allocate.
[[gnu::tls_model("initial-exec")]] thread_local bool tInsideCamera = false;
}  // namespace

bool InsideCamera() {
    return tInsideCamera;
}

TInsideCamera::TInsideCamera() : FWas(tInsideCamera) {
    tInsideCamera = true;
}

TInsideCamera::~TInsideCamera() {
    tInsideCamera = FWas;
}

}  // namespace vcam::preload
