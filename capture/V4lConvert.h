// libv4lconvert over the device seam: the library real V4L2 programs convert through,
// created on the open device with the seam's calls, so that its software controls and
// its quirks (sensors mounted upside down, the cameras it knows to need white balance)
// work for our real cameras as they do for others, and our tests run them too.
// GUI thread only.
#pragma once

#include <QImage>

#include "capture/NativeFrame.h"

class VideoIo;
struct v4lconvert_data;

class TV4lConvert {
  public:
    // Over the device `fd` reached through `io` (both borrowed, outliving this).
    TV4lConvert(VideoIo* io, int fd);
    ~TV4lConvert();
    TV4lConvert(const TV4lConvert&) = delete;
    TV4lConvert& operator=(const TV4lConvert&) = delete;

    // false when libv4lconvert could not be set up on the device.
    bool Valid() const { return FData != nullptr; }

    // Whether libv4lconvert changes this device's pictures beyond their format: turns
    // them round (a sensor mounted upside down) or processes them (software white
    // balance, gain, gamma switched on). Such frames are converted by it alone.
    bool Processing() const;

    // A control request (VIDIOC_QUERYCTRL, G/S_CTRL, G/S/TRY_EXT_CTRLS) through
    // libv4lconvert: its software controls beside the device's own. 0 or -errno.
    int ControlIoctl(unsigned long request, void* arg);

    // The whole frame as B, G, R (QImage::Format_BGR888) into `picture`, as libv4l2
    // gives programs their frames. 0; -EBADMSG when the frame does not convert.
    int Convert(const TNativeFrame& frame, QImage& picture);

  private:
    VideoIo* FIo;
    int FFd;
    v4lconvert_data* FData = nullptr;
    std::vector<uint8_t> FRows;  // for pictures whose lines are padded
};
