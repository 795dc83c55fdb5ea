// A frame as the camera sent it (YUYV, Motion-JPEG, ...): what the streaming thread
// hands to the frame sinks, which convert it only when someone needs the picture.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

struct TNativeFrame {
    uint32_t PixelFormat = 0;  // V4L2 fourcc
    int Width = 0, Height = 0;
    uint32_t BytesPerLine = 0;  // 0 for compressed formats
    bool FullRange = false;     // YUV levels 0..255 rather than 16..235
    uint32_t Sequence = 0;      // the driver's frame number
    // The bytes the driver filled (Size of them). Shared and never written again once
    // handed out: keep a copy of the frame, not of the bytes.
    std::shared_ptr<const std::vector<uint8_t>> Bytes;
    std::size_t Size = 0;

    bool IsNull() const { return !Bytes; }
    const uint8_t* Data() const { return Bytes ? Bytes->data() : nullptr; }
};
