// The size rule: what a size limit in kilobytes stands for.
#pragma once

#include <cstdint>

namespace PhotoPipeline {

// What a size limit in kilobytes stands for: an output-size index and a JPEG quality.
struct TSizeLimitChoice {
    int32_t OutputResolution;
    uint8_t CompressionQuality;
};
TSizeLimitChoice SizeLimitChoice(uint16_t kilobytes);

}  // namespace PhotoPipeline
