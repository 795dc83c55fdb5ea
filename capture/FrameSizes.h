// The frame sizes an open device offers for a pixel format.
#pragma once

#include <cstdint>
#include <vector>

#include <QSize>

class TFilter;

// One entry of the device's list: a single size (Step empty), or every size from Min
// to Max in steps of Step (a stepwise or continuous range).
struct TFrameSizeRange {
    QSize Min;
    QSize Max;
    QSize Step;
    bool IsDiscrete() const { return Min == Max && Step.isEmpty(); }
};

// Asks the device bound to `filter` (VIDIOC_ENUM_FRAMESIZES) which sizes it delivers in
// `pixelFormat`. 0 with the list, or -errno: -ENXIO when no device is bound, the
// device's answer when it lists nothing (-EINVAL: no list for that format, -ENOTTY:
// the device does not list sizes at all).
int EnumFrameSizes(const TFilter& filter, uint32_t pixelFormat,
                   std::vector<TFrameSizeRange>& sizes);

// The largest size in `sizes` (discrete entries, and the largest of a range) at which the
// device still delivers at least `minFps` frames a second in `pixelFormat`
// (VIDIOC_ENUM_FRAMEINTERVALS); a size whose rates the device does not list counts as
// live. An empty size when the list is empty.
QSize LargestLiveSize(const TFilter& filter, uint32_t pixelFormat,
                      const std::vector<TFrameSizeRange>& sizes, double minFps);
