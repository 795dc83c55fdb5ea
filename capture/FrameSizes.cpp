// The frame sizes an open device offers for a pixel format.
#include "capture/FrameSizes.h"

#include <algorithm>
#include <cerrno>

#include <linux/videodev2.h>

#include "capture/FilterGraph.h"

int EnumFrameSizes(const TFilter& filter, uint32_t pixelFormat,
                   std::vector<TFrameSizeRange>& sizes) {
    sizes.clear();
    // A driver lists at most a few dozen sizes; the bound keeps a misbehaving one from
    // answering forever.
    constexpr uint32_t kMaxEntries = 256;
    for (uint32_t index = 0; index < kMaxEntries; ++index) {
        v4l2_frmsizeenum entry{};
        entry.index = index;
        entry.pixel_format = pixelFormat;
        const int result = filter.Ioctl(VIDIOC_ENUM_FRAMESIZES, &entry);
        if (result < 0) {
            // EINVAL after the first entry is the end of the list.
            return index > 0 && result == -EINVAL ? 0 : result;
        }
        if (entry.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
            const QSize size(int(entry.discrete.width), int(entry.discrete.height));
            sizes.push_back({size, size, QSize()});
            continue;
        }
        // Stepwise and continuous ranges are the only entry of their list.
        const v4l2_frmsize_stepwise& s = entry.stepwise;
        sizes.push_back({QSize(int(s.min_width), int(s.min_height)),
                         QSize(int(s.max_width), int(s.max_height)),
                         QSize(int(s.step_width), int(s.step_height))});
        return 0;
    }
    return 0;
}

namespace {

// The fastest rate the device lists for one size, or 0 when it lists none.
double FastestRate(const TFilter& filter, uint32_t pixelFormat, QSize size) {
    double fastest = 0;
    constexpr uint32_t kMaxEntries = 64;
    for (uint32_t index = 0; index < kMaxEntries; ++index) {
        v4l2_frmivalenum entry{};
        entry.index = index;
        entry.pixel_format = pixelFormat;
        entry.width = uint32_t(size.width());
        entry.height = uint32_t(size.height());
        if (filter.Ioctl(VIDIOC_ENUM_FRAMEINTERVALS, &entry) < 0) {
            break;
        }
        // The shortest interval: a discrete one, or the minimum of a range.
        const v4l2_fract& f =
            entry.type == V4L2_FRMIVAL_TYPE_DISCRETE ? entry.discrete : entry.stepwise.min;
        if (f.numerator > 0) {
            fastest = std::max(fastest, double(f.denominator) / f.numerator);
        }
        if (entry.type != V4L2_FRMIVAL_TYPE_DISCRETE) {
            break;
        }
    }
    return fastest;
}

}  // namespace

QSize LargestLiveSize(const TFilter& filter, uint32_t pixelFormat,
                      const std::vector<TFrameSizeRange>& sizes, double minFps) {
    QSize best;
    for (const TFrameSizeRange& range : sizes) {
        const QSize size = range.Max;
        const double rate = FastestRate(filter, pixelFormat, size);
        const bool live = rate == 0 || rate >= minFps;
        if (live && qint64(size.width()) * size.height() > qint64(best.width()) * best.height()) {
            best = size;
        }
    }
    return best;
}
