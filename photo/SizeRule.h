// The size rule: what a size limit in kilobytes stands for, and the output sizes.
#pragma once

#include <array>
#include <cstdint>

#include <QSize>

namespace PhotoPipeline {

// The output sizes a photograph can be scaled to, by index: 1600x1200 to 3876x2584.
const std::array<QSize, 6>& OutputSizes();

// What a size limit in kilobytes stands for: an output-size index and a JPEG quality,
// the largest a photograph of that limit starts from.
struct TSizeLimitChoice {
    int32_t OutputResolution;
    uint8_t CompressionQuality;
};
TSizeLimitChoice SizeLimitChoice(uint16_t kilobytes);

// The most a photograph of a size limit of `kilobytes` may take, in bytes (1 KB is 1024
// bytes): limits above 500 KB are kept as 500 KB, as the settings panel says. 0 stands for
// no limit (the table's choice alone) and gives 0.
int64_t SizeLimitBytes(uint16_t kilobytes);

}  // namespace PhotoPipeline
