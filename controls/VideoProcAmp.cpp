// Picture properties on V4L2 user controls.
#include "controls/VideoProcAmp.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

#include <linux/videodev2.h>

#include <QSignalBlocker>
#include <QSlider>

#include "capture/FilterGraph.h"
#include "messages/WindowMessages.h"
#include "widgets/TrackBar.h"

namespace {

// How a V4L2 control stands for a property: as it is; the other way round (the colour
// killer is on when colour is off); or as on and off (colour on a camera without a
// colour killer: its saturation at its default, or down to its minimum).
enum class TMapping { Same, Inverted, OnOff };

struct TDeviceControl {
    uint32_t id = 0;
    TMapping mapping = TMapping::Same;
};

// The controls that may stand for a property, the first the device has taken.
std::vector<TDeviceControl> ControlsOf(tagVideoProcAmpProperty property) {
    switch (property) {
        case VideoProcAmp_Brightness:
            return {{V4L2_CID_BRIGHTNESS}};
        case VideoProcAmp_Contrast:
            return {{V4L2_CID_CONTRAST}};
        case VideoProcAmp_Hue:
            return {{V4L2_CID_HUE}};
        case VideoProcAmp_Saturation:
            return {{V4L2_CID_SATURATION}};
        case VideoProcAmp_Sharpness:
            return {{V4L2_CID_SHARPNESS}};
        case VideoProcAmp_Gamma:
            return {{V4L2_CID_GAMMA}};
        case VideoProcAmp_ColorEnable:
            // USB cameras have no colour killer; their saturation is the equivalent.
            return {{V4L2_CID_COLOR_KILLER, TMapping::Inverted},
                    {V4L2_CID_SATURATION, TMapping::OnOff}};
        case VideoProcAmp_WhiteBalance:
            return {{V4L2_CID_WHITE_BALANCE_TEMPERATURE}};
        case VideoProcAmp_BacklightCompensation:
            return {{V4L2_CID_BACKLIGHT_COMPENSATION}};
        case VideoProcAmp_Gain:
            return {{V4L2_CID_GAIN}};
    }
    return {};
}

// A property bound to the device's control: the property's range, and the control's own.
struct TBinding {
    TDeviceControl control;
    int minimum, maximum, step, defaultValue;  // the property's
    uint32_t flags;
    int deviceMinimum, deviceMaximum, deviceDefault;

    int ToProperty(int value) const {
        switch (control.mapping) {
            case TMapping::Inverted:
                return deviceMinimum + deviceMaximum - value;
            case TMapping::OnOff:
                return value > deviceMinimum ? 1 : 0;
            default:
                return value;
        }
    }
    int ToDevice(int value) const {
        switch (control.mapping) {
            case TMapping::Inverted:
                return deviceMinimum + deviceMaximum - value;
            case TMapping::OnOff:
                return value == 0 ? deviceMinimum
                                  : (deviceDefault > deviceMinimum ? deviceDefault : deviceMaximum);
            default:
                return value;
        }
    }
};

// The device's value nearest to `value`: on a step from the minimum, within the range.
int OnStep(int value, int minimum, int maximum, int step) {
    if (step <= 1) {
        return value;
    }
    const int64_t last = (int64_t(maximum) - minimum) / step;
    const int64_t k = std::clamp<int64_t>((int64_t(value) - minimum + step / 2) / step, 0, last);
    return static_cast<int>(minimum + k * step);
}

// The device's control for the property, with its range in the property's terms. None
// when no device is bound, the device lacks every control that may stand for it, or
// the driver reports the control disabled or inactive (for example a white balance
// temperature while the automatic white balance runs): all of these make the property
// missing.
std::optional<TBinding> Bind(const TFilter* filter, tagVideoProcAmpProperty property) {
    if (!filter || !filter->HasDevice()) {
        return std::nullopt;
    }
    for (const TDeviceControl& control : ControlsOf(property)) {
        v4l2_queryctrl query{};
        query.id = control.id;
        if (filter->Ioctl(VIDIOC_QUERYCTRL, &query) < 0) {
            continue;
        }
        if (query.flags & (V4L2_CTRL_FLAG_DISABLED | V4L2_CTRL_FLAG_INACTIVE)) {
            return std::nullopt;
        }
        switch (query.type) {
            case V4L2_CTRL_TYPE_INTEGER:
            case V4L2_CTRL_TYPE_BOOLEAN:
                break;
            default:
                // Menus (their entries are names, not amounts, and may have gaps),
                // buttons, 64-bit values, strings: nothing a slider can hold.
                return std::nullopt;
        }
        TBinding b{control, query.minimum, query.maximum, std::max(1, query.step), 0,
                   query.flags, query.minimum, query.maximum, query.default_value};
        if (control.mapping == TMapping::OnOff) {
            b.minimum = 0;
            b.maximum = 1;
            b.step = 1;
        }
        b.defaultValue = b.ToProperty(query.default_value);
        return b;
    }
    return std::nullopt;
}

}  // namespace

TVideoProcAmp::TVideoProcAmp(QObject* owner) : QObject(owner) {}

void TVideoProcAmp::SetActive(bool active) {
    FActive = active;
    if (active) {
        FLoaded = !LoadFromDevice(IsDefault);
    }
}

TFilter* TVideoProcAmp::Filter() const {
    return FFilter;
}

void TVideoProcAmp::SetFilter(TFilter* filter) {
    FFilter = filter;
}

QSlider* TVideoProcAmp::TrackBar() const {
    return FTrackBar;
}

TTrackBar* TVideoProcAmp::BSFTrackBar() const {
    return FBSFTrackBar;
}

void TVideoProcAmp::SetTrackBar(QSlider* trackBar) {
    FTrackBar = trackBar;
    if (!trackBar) {
        return;
    }
    QObject::disconnect(trackBar, &QAbstractSlider::valueChanged, nullptr, nullptr);
    connect(trackBar, &QAbstractSlider::valueChanged, this,
            [this, trackBar] { TrackBarChanged(trackBar); });
}

void TVideoProcAmp::SetBSFTrackBar(TTrackBar* trackBar) {
    FBSFTrackBar = trackBar;
    if (!trackBar) {
        return;
    }
    trackBar->OnChange = [self = QPointer<TVideoProcAmp>(this)](QObject* sender) {
        if (self) {
            self->TrackBarChanged(sender);
        }
    };
}

bool TVideoProcAmp::LoadFromDevice(bool useDefault) {
    const std::optional<TBinding> binding = Bind(FFilter, VideoProcAmpCategory);
    if (!binding) {
        return true;
    }
    v4l2_control current{};
    current.id = binding->control.id;
    if (FFilter->Ioctl(VIDIOC_G_CTRL, &current) < 0) {
        return true;
    }
    FMinValue = binding->minimum;
    FMaxValue = binding->maximum;
    FStepValue = binding->step;
    FDefaultValue = binding->defaultValue;
    CapsFlags = binding->flags;
    Value = binding->ToProperty(current.value);

    const int position = useDefault ? FDefaultValue : Value;
    // The slider moves in the device's steps, so it never shows a value the device
    // does not hold.
    if (FTrackBar) {
        {
            // A range change pulls the position along without notifying.
            const QSignalBlocker quiet(FTrackBar);
            FTrackBar->setMaximum(FMaxValue);
            FTrackBar->setMinimum(FMinValue);
            FTrackBar->setSingleStep(FStepValue);
            FTrackBar->setPageStep(FStepValue * std::max(1, (FMaxValue - FMinValue) / FStepValue / 10));
        }
        FTrackBar->setValue(position);
    } else if (FBSFTrackBar) {
        FBSFTrackBar->SetStep(1);
        FBSFTrackBar->SetMax(FMaxValue);
        FBSFTrackBar->SetMin(FMinValue);
        FBSFTrackBar->SetStep(FStepValue);
        FBSFTrackBar->SetPosition(position);
    }
    return false;
}

bool TVideoProcAmp::ApplyToDevice(bool useDefault) {
    const std::optional<TBinding> binding = Bind(FFilter, VideoProcAmpCategory);
    if (!binding) {
        return true;
    }
    FMinValue = binding->minimum;
    FMaxValue = binding->maximum;
    FStepValue = binding->step;
    FDefaultValue = binding->defaultValue;
    CapsFlags = binding->flags;
    v4l2_control wanted{};
    wanted.id = binding->control.id;
    wanted.value = binding->ToDevice(useDefault ? FDefaultValue : Value);
    return FFilter->Ioctl(VIDIOC_S_CTRL, &wanted) < 0;
}

void TVideoProcAmp::TrackBarChanged(QObject* sender) {
    QSlider* slider = FTrackBar ? FTrackBar.data() : FBSFTrackBar.data();
    if (!slider) {
        return;
    }
    if (FLoaded && FTrackBar) {
        // A plain slider stops anywhere: between two steps it moves to the nearer one,
        // and that change comes back here.
        const int stepped = OnStep(slider->value(), FMinValue, FMaxValue, FStepValue);
        if (stepped != slider->value()) {
            slider->setValue(stepped);
            return;
        }
    }
    Value = slider->value();
    ApplyToDevice(false);
    int kind;
    switch (VideoProcAmpCategory) {
        case VideoProcAmp_Brightness:
            kind = 5;
            break;
        case VideoProcAmp_Contrast:
            kind = 6;
            break;
        case VideoProcAmp_Hue:
            kind = 7;
            break;
        default:
            // The status line has texts for these three only.
            return;
    }
    SendMessage(ApplicationMainWindow(), WM_STATUS_TEXT, kind, Value);
}
