// The picture controls of the virtual camera, as a USB camera's driver exposes them:
// ranges with steps, menus, automatic switches that make their manual twins inactive,
// values clamped and rounded to the step. Plain C++; callers hold the camera's lock.
#pragma once

#include <cstdint>
#include <vector>

struct v4l2_queryctrl;
struct v4l2_query_ext_ctrl;
struct v4l2_querymenu;
struct v4l2_ext_controls;

namespace vcam {

class TControls {
  public:
    // Back to a newly plugged camera's values and flags; the colour killer (a control
    // some capture devices have and USB cameras do not) only when asked for.
    void Reset(bool colourKiller);
    // Flags a test imposes on a control (disabled, inactive), kept until Reset.
    void ImposeFlags(uint32_t id, uint32_t flags);

    // The driver's answers: 0 or -errno.
    int Query(v4l2_queryctrl& query) const;
    int QueryExt(v4l2_query_ext_ctrl& query) const;
    int QueryMenu(v4l2_querymenu& menu) const;
    int Get(uint32_t id, int32_t& value) const;
    // Clamps and rounds an integer to the range and step, writes the value taken back;
    // a menu index outside the menu is refused.
    int Set(uint32_t id, int32_t& value);
    // VIDIOC_G_EXT_CTRLS, VIDIOC_TRY_EXT_CTRLS (set false) and VIDIOC_S_EXT_CTRLS: all
    // controls are checked before any is set.
    int GetExt(v4l2_ext_controls& controls) const;
    int SetExt(v4l2_ext_controls& controls, bool set);

    // The current value of a control the camera has; 0 for one it lacks.
    int32_t Value(uint32_t id) const;
    // Its flags as a query reports them (inactive while its automatic switch is on...).
    uint32_t Flags(uint32_t id) const;
    // Every control's id, in order.
    std::vector<uint32_t> Ids() const;
    // Counts changes of values that change the picture.
    uint64_t Generation() const { return FGeneration; }

  private:
    struct TControl {
        uint32_t id;
        uint32_t type;
        const char* name;
        int32_t minimum, maximum, step, defaultValue;
        uint32_t flags;  // the control's own (the update flag of automatic switches)
        uint64_t menuSkip = 0;  // menu items the camera does not have
        const char* const* menu = nullptr;
        int32_t value = 0;
        uint32_t imposed = 0;
    };
    const TControl* Find(uint32_t id) const;
    TControl* Find(uint32_t id);
    // The control with the lowest id above `id`, or nullptr.
    const TControl* Next(uint32_t id) const;
    // The control a query asks for: by its id, or the next one after it when the id
    // carries V4L2_CTRL_FLAG_NEXT_CTRL (all of ours are plain controls, none compound).
    const TControl* Asked(uint32_t id) const;
    // Fills a control query (VIDIOC_QUERYCTRL's or VIDIOC_QUERY_EXT_CTRL's) with the
    // control it asks for; nullptr when there is none.
    template <class TQuery>
    const TControl* Describe(TQuery& query) const;
    uint32_t FlagsOf(const TControl& c) const;
    // The value `value` becomes on `c`, or -errno.
    int Validate(const TControl& c, int32_t& value) const;
    void Store(TControl& c, int32_t value);

    std::vector<TControl> FControls;  // in id order
    uint64_t FGeneration = 0;
};

}  // namespace vcam
