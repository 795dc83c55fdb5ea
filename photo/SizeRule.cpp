// The size rule: what a size limit in kilobytes stands for.
#include "photo/SizeRule.h"

#include <algorithm>

namespace PhotoPipeline {

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
