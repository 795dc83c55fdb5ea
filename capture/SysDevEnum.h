// The list of video capture devices, and the moniker naming one of them.
#pragma once

#include <optional>
#include <vector>

#include <QString>
#include <QStringList>

class QImage;

class VideoIo;

// Names one device: its node path and the device calls that reach it. A
// default-constructed moniker is "none".
struct TMoniker {
    QString path;
    VideoIo* io = nullptr;  // borrowed: the system calls or a virtual camera, process-wide

    bool IsNone() const { return io == nullptr; }
    bool operator==(const TMoniker& other) const { return path == other.path && io == other.io; }
};

// What tells one camera from another across an unplug: a camera plugged back
// into the same port can come back under another node, with the same card
// name and bus position.
struct TDeviceIdentity {
    TMoniker moniker;
    QString card;
    QString busInfo;
};

// Opens the device, asks what it is and closes it again. Nothing when it
// cannot be opened (absent, unplugged) or does not capture video.
std::optional<TDeviceIdentity> ProbeCaptureDevice(const TMoniker& moniker);

// The V4L2 nodes /dev/video* in node-number order (video2 before video10).
QStringList VideoNodePaths();

// A snapshot, taken at creation, of the capture devices: the V4L2 nodes that
// can capture video, in node-number order, then the virtual cameras that
// SNAPIX_VIRTUAL_CAMERA names: "1" the 1080p model, else model names separated
// by commas ("1080p", "vga" for a YUYV-only VGA camera, "mjpeg" for a
// Motion-JPEG-only one) or "all".
class TSysDevEnum {
  public:
    TSysDevEnum();

    int DeviceCount() const { return static_cast<int>(FDevices.size()); }
    // Friendly name for the device list; empty outside 0..count-1.
    QString DeviceName(int index) const;
    // None outside 0..count-1.
    TMoniker DeviceMoniker(int index) const;
    // Card name and bus position as listed; a none moniker outside 0..count-1.
    TDeviceIdentity DeviceIdentity(int index) const;
    // The entry naming moniker, or -1.
    int IndexOf(const TMoniker& moniker) const;
    // The device of entry index answers at another node now (plugged back
    // into the system under a new number).
    void SetDeviceMoniker(int index, const TMoniker& moniker);

    // Whether a virtual camera is listed in this process.
    static bool VirtualCameraEnabled();
    // The picture file SNAPIX_VIRTUAL_CAMERA_PICTURE names for the virtual cameras to show
    // in place of their pattern; empty when it names none or no virtual camera is listed.
    static QString VirtualCameraPicture();
    // Every virtual camera listed shows `picture` in place of its pattern from its next
    // frame on. false when one had no memory for it.
    static bool ShowOnVirtualCameras(const QImage& picture);

  private:
    struct Device {
        QString name;
        QString busInfo;
        TMoniker moniker;
    };
    std::vector<Device> FDevices;
};
