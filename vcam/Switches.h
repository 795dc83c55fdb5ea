// The virtual camera's switches as the preload library reads them from its environment
// (SNAPIX_VCAM_FAULTS) and from a file at run time (SNAPIX_VCAM_FAULTS_FILE): words
// separated by commas, spaces or lines, named as the camera names its faults.
#pragma once

#include <string>

#include "capture/VirtualCamera.h"

namespace vcam::preload {

struct TSwitches {
    VirtualCamera::Faults faults;
    bool unplugged = false;
    bool settling = true;  // "settling=0": a settled picture from the first frame
    bool noise = false;    // strong sensor grain
};

// The switches `text` names; every switch it leaves out is off. On a word it does not
// know, false with the reason in `error`.
bool ParseSwitches(const std::string& text, TSwitches& switches, std::string& error);

// Puts them on the camera.
void ApplySwitches(VirtualCamera& camera, const TSwitches& switches);

}  // namespace vcam::preload
