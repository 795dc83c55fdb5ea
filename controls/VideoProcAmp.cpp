// Picture properties on V4L2 user controls.
#include "controls/VideoProcAmp.h"

#include <algorithm>
#include <cstdint>
#include <optional>

#include <linux/videodev2.h>

#include <QSignalBlocker>
#include <QSlider>

#include "capture/FilterGraph.h"
#include "messages/WindowMessages.h"
#include "widgets/TrackBar.h"

namespace {

// The V4L2 control that stands for a property. An inverted control means the
// opposite of the property: the colour killer is on when colour is off.
struct TDeviceControl {
    uint32_t id = 0;
    bool inverted = false;
};

TDeviceControl ControlOf(tagVideoProcAmpProperty property) {
    switch (property) {
        case VideoProcAmp_Brightness:
            return {V4L2_CID_BRIGHTNESS};
        case VideoProcAmp_Contrast:
            return {V4L2_CID_CONTRAST};
        case VideoProcAmp_Hue:
            return {V4L2_CID_HUE};
        case VideoProcAmp_Saturation:
            return {V4L2_CID_SATURATION};
        case VideoProcAmp_Sharpness:
            return {V4L2_CID_SHARPNESS};
        case VideoProcAmp_Gamma:
            return {V4L2_CID_GAMMA};
        case VideoProcAmp_ColorEnable:
            return {V4L2_CID_COLOR_KILLER, true};
        case VideoProcAmp_WhiteBalance:
            return {V4L2_CID_WHITE_BALANCE_TEMPERATURE};
        case VideoProcAmp_BacklightCompensation:
            return {V4L2_CID_BACKLIGHT_COMPENSATION};
        case VideoProcAmp_Gain:
            return {V4L2_CID_GAIN};
    }
    return {};
}

struct TRange {
    int minimum, maximum, step, defaultValue;
    uint32_t flags;
};

// Between the property's values and the control's: the mirror image within
// the range for an inverted control (0..1 becomes 1..0).
int Convert(const TDeviceControl& control, const TRange& range, int value) {
    return control.inverted ? range.minimum + range.maximum - value : value;
}

// The device's value nearest to `value`: on a step from the minimum, within the range.
int OnStep(int value, int minimum, int maximum, int step) {
    if (step <= 1) {
        return value;
    }
    const int64_t last = (int64_t(maximum) - minimum) / step;
    const int64_t k = std::clamp<int64_t>((int64_t(value) - minimum + step / 2) / step, 0, last);
    return static_cast<int>(minimum + k * step);
}

// The device's range of the control, in the property's terms. None when no
// device is bound, the device lacks the control, or the driver reports it
// disabled or inactive (for example a white balance temperature while the
// automatic white balance runs): all of these make the property missing.
std::optional<TRange> QueryRange(const TFilter* filter, const TDeviceControl& control) {
    if (!filter || !filter->HasDevice() || control.id == 0) {
        return std::nullopt;
    }
    v4l2_queryctrl query{};
    query.id = control.id;
    if (filter->Ioctl(VIDIOC_QUERYCTRL, &query) < 0) {
        return std::nullopt;
    }
    if (query.flags & (V4L2_CTRL_FLAG_DISABLED | V4L2_CTRL_FLAG_INACTIVE)) {
        return std::nullopt;
    }
    switch (query.type) {
        case V4L2_CTRL_TYPE_INTEGER:
        case V4L2_CTRL_TYPE_BOOLEAN:
            break;
        default:
            // Menus (their entries are names, not amounts, and may have gaps), buttons,
            // 64-bit values, strings: nothing a slider can hold.
            return std::nullopt;
    }
    TRange range{query.minimum, query.maximum, std::max(1, query.step), 0, query.flags};
    range.defaultValue = Convert(control, range, query.default_value);
    return range;
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
    const TDeviceControl control = ControlOf(VideoProcAmpCategory);
    const std::optional<TRange> range = QueryRange(FFilter, control);
    if (!range) {
        return true;
    }
    v4l2_control current{};
    current.id = control.id;
    if (FFilter->Ioctl(VIDIOC_G_CTRL, &current) < 0) {
        return true;
    }
    FMinValue = range->minimum;
    FMaxValue = range->maximum;
    FStepValue = range->step;
    FDefaultValue = range->defaultValue;
    CapsFlags = range->flags;
    Value = Convert(control, *range, current.value);

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
    const TDeviceControl control = ControlOf(VideoProcAmpCategory);
    const std::optional<TRange> range = QueryRange(FFilter, control);
    if (!range) {
        return true;
    }
    FMinValue = range->minimum;
    FMaxValue = range->maximum;
    FStepValue = range->step;
    FDefaultValue = range->defaultValue;
    CapsFlags = range->flags;
    v4l2_control wanted{};
    wanted.id = control.id;
    wanted.value = Convert(control, *range, useDefault ? FDefaultValue : Value);
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
