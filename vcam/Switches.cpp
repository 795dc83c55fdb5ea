// Reading the camera's switches.
#include "vcam/Switches.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace vcam::preload {

namespace {

using Faults = VirtualCamera::Faults;

struct TFlag {
    const char* name;
    bool Faults::*field;
};
constexpr TFlag kFlags[] = {
    {"busyOnOpen", &Faults::busyOnOpen},       {"busyOnFormat", &Faults::busyOnFormat},
    {"busyOnBuffers", &Faults::busyOnBuffers}, {"refuseSizes", &Faults::refuseSizes},
    {"noControls", &Faults::noControls},       {"streamOnFails", &Faults::streamOnFails},
    {"streamOffFails", &Faults::streamOffFails}, {"noFrames", &Faults::noFrames},
    {"upsideDown", &Faults::upsideDown},
};

struct TCount {
    const char* name;
    int Faults::*field;
};
constexpr TCount kCounts[] = {
    {"corruptEvery", &Faults::corruptEvery},
    {"shortEvery", &Faults::shortEvery},
};

// "0", "1" or nothing (a bare word is on).
bool ParseOnOff(const std::string& value, bool& on) {
    if (value.empty() || value == "1") {
        on = true;
    } else if (value == "0") {
        on = false;
    } else {
        return false;
    }
    return true;
}

bool ParseCount(const std::string& value, int& count) {
    if (value.empty() || value.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    errno = 0;
    const long n = std::strtol(value.c_str(), nullptr, 10);
    if (errno != 0 || n > INT_MAX) {
        return false;
    }
    count = static_cast<int>(n);
    return true;
}

bool ParseWord(const std::string& word, TSwitches& s) {
    const std::size_t equals = word.find('=');
    const std::string name = word.substr(0, equals);
    const std::string value = equals == std::string::npos ? "" : word.substr(equals + 1);
    if (equals != std::string::npos && value.empty()) {
        return false;
    }
    for (const TFlag& flag : kFlags) {
        if (name == flag.name) {
            return ParseOnOff(value, s.faults.*flag.field);
        }
    }
    for (const TCount& count : kCounts) {
        if (name == count.name) {
            return ParseCount(value, s.faults.*count.field);
        }
    }
    if (name == "unplugged") {
        return ParseOnOff(value, s.unplugged);
    }
    if (name == "settling") {
        return ParseOnOff(value, s.settling);
    }
    if (name == "noise") {
        return ParseOnOff(value, s.noise);
    }
    return false;
}

// A word as a message can show it: short, and only printable characters.
std::string Printable(const std::string& word) {
    constexpr std::size_t kShown = 40;
    std::string shown;
    for (const char c : word.substr(0, kShown)) {
        shown += c >= 0x20 && c < 0x7f ? c : '?';
    }
    return word.size() > kShown ? shown + "..." : shown;
}

}  // namespace

bool ParseSwitches(const std::string& text, TSwitches& switches, std::string& error) {
    TSwitches parsed;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t start = text.find_first_not_of(", \t\r\n", at);
        if (start == std::string::npos) {
            break;
        }
        std::size_t end = text.find_first_of(", \t\r\n", start);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string word = text.substr(start, end - start);
        if (!ParseWord(word, parsed)) {
            error = "unknown switch \"" + Printable(word) +
                    "\" (known: busyOnOpen busyOnFormat busyOnBuffers refuseSizes noControls "
                    "streamOnFails streamOffFails noFrames upsideDown corruptEvery=N "
                    "shortEvery=N unplugged settling=0 noise)";
            return false;
        }
        at = end;
    }
    switches = parsed;
    return true;
}

void ApplySwitches(VirtualCamera& camera, const TSwitches& switches) {
    camera.SetFaults(switches.faults);
    camera.SetSettling(switches.settling);
    camera.SetSensorNoise(switches.noise);
    if (switches.unplugged) {
        camera.Unplug();
    } else {
        camera.PlugIn();
    }
}

}  // namespace vcam::preload
