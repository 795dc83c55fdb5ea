// The virtual camera's picture controls.
#include "capture/VirtualControls.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <linux/videodev2.h>

namespace vcam {

namespace {

constexpr const char* kPowerLine[] = {"Disabled", "50 Hz", "60 Hz"};
// Index 0 and 2 (fully automatic, shutter priority) are not offered, as on most USB
// cameras: only "Manual Mode" (1) and "Aperture Priority Mode" (3).
constexpr const char* kExposure[] = {nullptr, "Manual Mode", nullptr, "Aperture Priority Mode"};
constexpr int32_t kAperturePriority = 3;

constexpr uint32_t kClassFlags = V4L2_CTRL_FLAG_READ_ONLY | V4L2_CTRL_FLAG_WRITE_ONLY;

void CopyName(uint8_t* field, std::size_t size, const char* name) {
    std::memset(field, 0, size);
    std::strncpy(reinterpret_cast<char*>(field), name, size - 1);
}

}  // namespace

void TControls::Reset(bool colourKiller) {
    FControls = {
        {V4L2_CID_USER_CLASS, V4L2_CTRL_TYPE_CTRL_CLASS, "User Controls", 0, 0, 0, 0, 0},
        {V4L2_CID_BRIGHTNESS, V4L2_CTRL_TYPE_INTEGER, "Brightness", 0, 255, 1, 128, 0},
        {V4L2_CID_CONTRAST, V4L2_CTRL_TYPE_INTEGER, "Contrast", 0, 255, 1, 128, 0},
        {V4L2_CID_SATURATION, V4L2_CTRL_TYPE_INTEGER, "Saturation", 0, 255, 1, 128, 0},
        {V4L2_CID_HUE, V4L2_CTRL_TYPE_INTEGER, "Hue", -180, 180, 5, 0, 0},
        {V4L2_CID_AUTO_WHITE_BALANCE, V4L2_CTRL_TYPE_BOOLEAN, "White Balance, Automatic", 0, 1,
         1, 1, V4L2_CTRL_FLAG_UPDATE},
        {V4L2_CID_GAMMA, V4L2_CTRL_TYPE_INTEGER, "Gamma", 72, 500, 1, 100, 0},
        {V4L2_CID_GAIN, V4L2_CTRL_TYPE_INTEGER, "Gain", 0, 255, 1, 0, 0},
        {V4L2_CID_POWER_LINE_FREQUENCY, V4L2_CTRL_TYPE_MENU, "Power Line Frequency", 0, 2, 1,
         1, 0, 0, kPowerLine},
        {V4L2_CID_WHITE_BALANCE_TEMPERATURE, V4L2_CTRL_TYPE_INTEGER,
         "White Balance Temperature", 2800, 6500, 10, 4600, 0},
        {V4L2_CID_SHARPNESS, V4L2_CTRL_TYPE_INTEGER, "Sharpness", 0, 255, 1, 128, 0},
        {V4L2_CID_BACKLIGHT_COMPENSATION, V4L2_CTRL_TYPE_INTEGER, "Backlight Compensation", 0,
         2, 1, 1, 0},
        {V4L2_CID_CAMERA_CLASS, V4L2_CTRL_TYPE_CTRL_CLASS, "Camera Controls", 0, 0, 0, 0, 0},
        {V4L2_CID_EXPOSURE_AUTO, V4L2_CTRL_TYPE_MENU, "Auto Exposure", 0, 3, 1,
         kAperturePriority, V4L2_CTRL_FLAG_UPDATE, (1u << 0) | (1u << 2), kExposure},
        {V4L2_CID_EXPOSURE_ABSOLUTE, V4L2_CTRL_TYPE_INTEGER, "Exposure Time, Absolute", 3, 2047,
         1, 250, 0},
    };
    if (colourKiller) {
        FControls.push_back(
            {V4L2_CID_COLOR_KILLER, V4L2_CTRL_TYPE_BOOLEAN, "Color Killer", 0, 1, 1, 0, 0});
    }
    std::sort(FControls.begin(), FControls.end(),
              [](const TControl& a, const TControl& b) { return a.id < b.id; });
    for (TControl& c : FControls) {
        c.value = c.defaultValue;
    }
    ++FGeneration;
}

void TControls::ImposeFlags(uint32_t id, uint32_t flags) {
    if (TControl* c = Find(id)) {
        c->imposed = flags;
    }
}

const TControls::TControl* TControls::Find(uint32_t id) const {
    const auto it = std::lower_bound(FControls.begin(), FControls.end(), id,
                                     [](const TControl& c, uint32_t v) { return c.id < v; });
    return it != FControls.end() && it->id == id ? &*it : nullptr;
}

TControls::TControl* TControls::Find(uint32_t id) {
    return const_cast<TControl*>(static_cast<const TControls*>(this)->Find(id));
}

const TControls::TControl* TControls::Next(uint32_t id) const {
    const auto it = std::upper_bound(FControls.begin(), FControls.end(), id,
                                     [](uint32_t v, const TControl& c) { return v < c.id; });
    return it != FControls.end() ? &*it : nullptr;
}

uint32_t TControls::FlagsOf(const TControl& c) const {
    uint32_t flags = c.flags | c.imposed;
    if (c.type == V4L2_CTRL_TYPE_CTRL_CLASS) {
        flags |= kClassFlags;
    }
    // A manual setting is inactive while its automatic switch is on.
    if ((c.id == V4L2_CID_WHITE_BALANCE_TEMPERATURE && Value(V4L2_CID_AUTO_WHITE_BALANCE)) ||
        (c.id == V4L2_CID_EXPOSURE_ABSOLUTE &&
         Value(V4L2_CID_EXPOSURE_AUTO) == kAperturePriority)) {
        flags |= V4L2_CTRL_FLAG_INACTIVE;
    }
    if (c.type == V4L2_CTRL_TYPE_INTEGER) {
        flags |= V4L2_CTRL_FLAG_SLIDER;
    }
    return flags;
}

const TControls::TControl* TControls::Asked(uint32_t id) const {
    const uint32_t next = V4L2_CTRL_FLAG_NEXT_CTRL | V4L2_CTRL_FLAG_NEXT_COMPOUND;
    if (!(id & next)) {
        return Find(id);
    }
    // Asked for the next compound control only: there is none.
    return (id & V4L2_CTRL_FLAG_NEXT_CTRL) ? Next(id & ~next) : nullptr;
}

template <class TQuery>
const TControls::TControl* TControls::Describe(TQuery& query) const {
    const TControl* c = Asked(query.id);
    if (!c) {
        return nullptr;
    }
    std::memset(&query, 0, sizeof query);
    query.id = c->id;
    query.type = c->type;
    CopyName(reinterpret_cast<uint8_t*>(query.name), sizeof query.name, c->name);
    query.minimum = c->minimum;
    query.maximum = c->maximum;
    query.step = static_cast<uint32_t>(c->step);
    query.default_value = c->defaultValue;
    query.flags = FlagsOf(*c);
    return c;
}

int TControls::Query(v4l2_queryctrl& query) const {
    return Describe(query) ? 0 : -EINVAL;
}

int TControls::QueryExt(v4l2_query_ext_ctrl& query) const {
    const TControl* c = Describe(query);
    if (!c) {
        return -EINVAL;
    }
    if (c->type != V4L2_CTRL_TYPE_CTRL_CLASS) {
        query.elem_size = sizeof(int32_t);
        query.elems = 1;
    }
    return 0;
}

int TControls::QueryMenu(v4l2_querymenu& menu) const {
    const TControl* c = Find(menu.id);
    if (!c || c->type != V4L2_CTRL_TYPE_MENU || menu.index < uint32_t(c->minimum) ||
        menu.index > uint32_t(c->maximum) || (c->menuSkip & (1ull << menu.index)) ||
        !c->menu[menu.index]) {
        return -EINVAL;
    }
    const uint32_t id = menu.id, index = menu.index;
    std::memset(&menu, 0, sizeof menu);
    menu.id = id;
    menu.index = index;
    CopyName(menu.name, sizeof menu.name, c->menu[index]);
    return 0;
}

int32_t TControls::Value(uint32_t id) const {
    const TControl* c = Find(id);
    return c ? c->value : 0;
}

uint32_t TControls::Flags(uint32_t id) const {
    const TControl* c = Find(id);
    return c ? FlagsOf(*c) : 0;
}

std::vector<uint32_t> TControls::Ids() const {
    std::vector<uint32_t> ids;
    for (const TControl& c : FControls) {
        ids.push_back(c.id);
    }
    return ids;
}

int TControls::Get(uint32_t id, int32_t& value) const {
    const TControl* c = Find(id);
    if (!c) {
        return -EINVAL;
    }
    if (FlagsOf(*c) & V4L2_CTRL_FLAG_WRITE_ONLY) {
        return -EACCES;
    }
    value = c->value;
    return 0;
}

int TControls::Validate(const TControl& c, int32_t& value) const {
    const uint32_t flags = FlagsOf(c);
    if (flags & V4L2_CTRL_FLAG_DISABLED) {
        return -EINVAL;
    }
    if (flags & V4L2_CTRL_FLAG_READ_ONLY) {
        return -EACCES;
    }
    switch (c.type) {
        case V4L2_CTRL_TYPE_BOOLEAN:
            value = value != 0;
            return 0;
        case V4L2_CTRL_TYPE_MENU:
            if (value < c.minimum || value > c.maximum) {
                return -ERANGE;
            }
            return (c.menuSkip & (1ull << value)) ? -EINVAL : 0;
        default: {
            // Half a step up, into the range, then down onto a step: as the kernel's
            // control framework rounds.
            int64_t v = int64_t(value) + c.step / 2;
            v = std::clamp<int64_t>(v, c.minimum, c.maximum);
            v = c.minimum + (v - c.minimum) / c.step * c.step;
            value = static_cast<int32_t>(v);
            return 0;
        }
    }
}

void TControls::Store(TControl& c, int32_t value) {
    if (c.value != value) {
        c.value = value;
        ++FGeneration;
    }
}

int TControls::Set(uint32_t id, int32_t& value) {
    TControl* c = Find(id);
    if (!c) {
        return -EINVAL;
    }
    if (const int r = Validate(*c, value); r < 0) {
        return r;
    }
    Store(*c, value);
    return 0;
}

int TControls::GetExt(v4l2_ext_controls& controls) const {
    const uint32_t which = controls.which;
    if (which == V4L2_CTRL_WHICH_REQUEST_VAL) {
        return -EINVAL;
    }
    // Every control is checked before any value is read; a failed check names the
    // whole request (error_idx = count), as the kernel's control framework answers.
    controls.error_idx = controls.count;
    for (uint32_t i = 0; i < controls.count; ++i) {
        const v4l2_ext_control& e = controls.controls[i];
        const TControl* c = Find(e.id);
        if (!c || (which != V4L2_CTRL_WHICH_CUR_VAL && which != V4L2_CTRL_WHICH_DEF_VAL &&
                   V4L2_CTRL_ID2WHICH(e.id) != which)) {
            return -EINVAL;
        }
        if (FlagsOf(*c) & V4L2_CTRL_FLAG_WRITE_ONLY) {
            return -EACCES;
        }
    }
    for (uint32_t i = 0; i < controls.count; ++i) {
        v4l2_ext_control& e = controls.controls[i];
        const TControl* c = Find(e.id);
        e.value = which == V4L2_CTRL_WHICH_DEF_VAL ? c->defaultValue : c->value;
    }
    return 0;
}

int TControls::SetExt(v4l2_ext_controls& controls, bool set) {
    const uint32_t which = controls.which;
    if (which == V4L2_CTRL_WHICH_DEF_VAL || which == V4L2_CTRL_WHICH_REQUEST_VAL) {
        return -EINVAL;
    }
    // Every value is checked before any is stored; a failed check names its control
    // when only trying, the whole request when setting (nothing was touched).
    std::vector<int32_t> values(controls.count);
    for (uint32_t i = 0; i < controls.count; ++i) {
        const v4l2_ext_control& e = controls.controls[i];
        const TControl* c = Find(e.id);
        int r = 0;
        if (!c ||
            (which != V4L2_CTRL_WHICH_CUR_VAL && V4L2_CTRL_ID2WHICH(e.id) != which)) {
            r = -EINVAL;
        } else {
            values[i] = e.value;
            r = Validate(*c, values[i]);
        }
        if (r < 0) {
            controls.error_idx = set ? controls.count : i;
            return r;
        }
    }
    for (uint32_t i = 0; i < controls.count; ++i) {
        controls.controls[i].value = values[i];
        if (set) {
            Store(*Find(controls.controls[i].id), values[i]);
        }
    }
    controls.error_idx = controls.count;
    return 0;
}

}  // namespace vcam
