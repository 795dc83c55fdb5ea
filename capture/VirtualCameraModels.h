// The USB cameras the virtual camera can be: their formats, sizes and frame rates, and
// how their Motion-JPEG frames come. Plain C++ (the camera's core has no Qt).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vcam {

// One size of a format with the fastest rate it runs at; the camera also offers every
// slower rate of kFrameRates.
struct TSize {
    int width, height;
    uint32_t maxFps;
};

struct TFormat {
    uint32_t fourcc;
    const char* description;
    bool compressed;
    std::vector<TSize> sizes;
};

// The frame rates a camera offers at a size, fastest first, up to the size's fastest.
inline constexpr uint32_t kFrameRates[] = {30, 20, 15, 10, 5};

struct TModel {
    const char* id;    // how SNAPIX_VIRTUAL_CAMERA names it: "1080p", "vga", "mjpeg"
    const char* path;  // the node the device list gives it
    const char* card;  // its name (VIDIOC_QUERYCAP card)
    std::vector<TFormat> formats;
    // The format a newly plugged camera is in.
    uint32_t defaultFourcc;
    int defaultWidth, defaultHeight;
    // How its Motion-JPEG frames come: with an "AVI1" APP0 segment, and padded after the
    // end marker up to the buffer's used size.
    bool avi1Segment;
    bool bytesAfterEnd;
};

// 1080p (YUYV and MJPEG), VGA (YUYV only), MJPEG only; the first is the default one.
const std::vector<TModel>& Models();
// The model a name stands for ("1" and "1080p" the first), or nullptr.
const TModel* FindModel(const std::string& id);
// The models SNAPIX_VIRTUAL_CAMERA's value lists: "1" (or "1080p"), model ids separated by
// commas, or "all". Unknown names and "0" or empty give nothing.
std::vector<const TModel*> ModelsNamed(const std::string& value);

// The size of `format` a driver gives for a request: the one whose area overlaps the
// request's most, as uvcvideo chooses (the difference of areas, counting the overlap once).
const TSize& NearestSize(const TFormat& format, int width, int height);

}  // namespace vcam
