// The list of video capture devices, and the moniker naming one of them.
#pragma once

#include <vector>

#include <QString>

class VideoIo;

// Names one device: its node path and the device calls that reach it. A
// default-constructed moniker is "none".
struct TMoniker {
    QString path;
    VideoIo* io = nullptr;  // borrowed: libv4l2 or the virtual camera, both process-wide

    bool IsNone() const { return io == nullptr; }
    bool operator==(const TMoniker& other) const { return path == other.path && io == other.io; }
};

// A snapshot, taken at creation, of the capture devices: the V4L2 nodes that
// can capture video, in node-number order, then the virtual camera when
// SNAPIX_VIRTUAL_CAMERA is 1.
class TSysDevEnum {
  public:
    TSysDevEnum();

    int DeviceCount() const { return static_cast<int>(FDevices.size()); }
    // Friendly name for the device list; empty outside 0..count-1.
    QString DeviceName(int index) const;
    // None outside 0..count-1.
    TMoniker DeviceMoniker(int index) const;

    // Whether the virtual camera is listed in this process.
    static bool VirtualCameraEnabled();

  private:
    struct Device {
        QString name;
        TMoniker moniker;
    };
    std::vector<Device> FDevices;
};
