// TVideoProcAmp: one picture property of the open capture device (brightness,
// contrast, hue, colour ...) bound to a slider. Activating it reads the
// device's range and value onto the slider; each change of the slider's
// position is written to the device and reported to the status line.
//
// The device is reached through the capture graph's device filter, which has
// one only while the graph is built; at any other time every load and write
// fails quietly and changes nothing. GUI thread only.
#pragma once

#include <cstdint>

#include <QObject>
#include <QPointer>

class QSlider;
class TFilter;
class TTrackBar;

// In the order of the platform's picture-property enumeration.
enum tagVideoProcAmpProperty : int {
    VideoProcAmp_Brightness,
    VideoProcAmp_Contrast,
    VideoProcAmp_Hue,
    VideoProcAmp_Saturation,
    VideoProcAmp_Sharpness,
    VideoProcAmp_Gamma,
    VideoProcAmp_ColorEnable,
    VideoProcAmp_WhiteBalance,
    VideoProcAmp_BacklightCompensation,
    VideoProcAmp_Gain,
};

class TVideoProcAmp : public QObject {
    Q_OBJECT

  public:
    explicit TVideoProcAmp(QObject* owner = nullptr);

    // true loads from the device (again: writing true is how callers refresh);
    // false only stores.
    bool Active() const { return FActive; }
    void SetActive(bool active);

    // The capture device's filter; borrowed, and forgotten when it goes.
    TFilter* Filter() const;
    void SetFilter(TFilter* filter);

    // Binding a slider replaces whatever change handler it had. When both are
    // bound, only the standard one is loaded and read.
    QSlider* TrackBar() const;
    void SetTrackBar(QSlider* trackBar);
    TTrackBar* BSFTrackBar() const;
    void SetBSFTrackBar(TTrackBar* trackBar);

    // Whether the last activation read the property from the device (false
    // when it failed and left everything as it was).
    bool Loaded() const { return FLoaded; }

    // The device range from the last successful query.
    int MinValue() const { return FMinValue; }
    int MaxValue() const { return FMaxValue; }
    int StepValue() const { return FStepValue; }
    int DefaultValue() const { return FDefaultValue; }

    // Loading moves the slider to the device default instead of its value.
    bool IsDefault = false;
    // The value last read from the device or the slider: what
    // ApplyToDevice(false) writes. Assigning it writes nothing.
    int Value = 0;
    tagVideoProcAmpProperty VideoProcAmpCategory = VideoProcAmp_Brightness;

    // Writes Value (DefaultValue when useDefault) to the device. false on
    // success, true when the device has no such property, is not reachable or
    // refused the value; nothing else changes then.
    bool ApplyToDevice(bool useDefault);

    // The bound slider's change handler: its position goes to the device and
    // to the main window's status line.
    void TrackBarChanged(QObject* sender);

  private:
    // Range and value into the properties and onto the slider; false on
    // success, true (nothing changed) on failure.
    bool LoadFromDevice(bool useDefault);

    bool FActive = false;
    bool FLoaded = false;
    QPointer<TFilter> FFilter;
    QPointer<QSlider> FTrackBar;
    QPointer<TTrackBar> FBSFTrackBar;
    int FMinValue = 0;
    int FMaxValue = 0;
    int FStepValue = 0;
    int FDefaultValue = 0;
    // The device's flags for the control from the last range query.
    uint32_t CapsFlags = 0;
};
