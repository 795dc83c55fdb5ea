// The size rule: what a size limit in kilobytes stands for, and the output sizes.
#include "photo/SizeRule.h"

#include <algorithm>

namespace PhotoPipeline {

const std::array<QSize, 6>& OutputSizes() {
    static const std::array<QSize, 6> sizes = {QSize(1600, 1200), QSize(2048, 1536),
                                               QSize(2580, 1936), QSize(2816, 2112),
                                               QSize(3264, 2448), QSize(3876, 2584)};
    return sizes;
}

int64_t SizeLimitBytes(uint16_t kilobytes) {
    constexpr int64_t largestKb = 500;
    return std::min<int64_t>(kilobytes, largestKb) * 1024;
}

TSizeLimitChoice SizeLimitChoice(uint16_t kilobytes) {
    struct TRow {
        uint16_t UpTo;
        TSizeLimitChoice Choice;
    };
    // Upper bounds in kilobytes, in increasing order; 0 stands apart (no limit given).
    static constexpr TRow Rows[] = {
        {5, {0, 80}},   {10, {0, 90}},   {50, {1, 90}},   {80, {2, 80}},
        {120, {2, 90}}, {200, {2, 100}}, {260, {3, 80}},  {300, {3, 85}},
        {360, {3, 90}}, {400, {3, 95}},  {500, {3, 100}}, {65535, {3, 100}},
    };
    if (kilobytes == 0) {
        return {3, 100};
    }
    for (const TRow& row : Rows) {
        if (kilobytes <= row.UpTo) {
            return row.Choice;
        }
    }
    return {3, 100};  // unreachable: the last row covers every 16-bit value
}

}  // namespace PhotoPipeline
