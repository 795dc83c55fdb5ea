// Resampling a photograph to its output size with an averaging filter.
#include "photo/Scale.h"

#include <cstring>
#include <memory>
#include <new>

#include <libyuv/planar_functions.h>
#include <libyuv/scale.h>

namespace PhotoPipeline {

namespace {

// Enlarging in both directions, bilinear with centred samples: the few source rows are
// first widened (plane by plane, then interleaved again), and each target row is then
// a blend of two widened rows. Needs a little more than a tenth of the target's size
// in temporaries, where scaling the whole picture plane by plane needs its full size.
bool Enlarge(const QImage& photo, QImage& scaled) {
    const int sw = photo.width(), sh = photo.height();
    const int width = scaled.width(), height = scaled.height();
    const size_t sourcePlane = size_t(sw) * size_t(sh), widePlane = size_t(width) * size_t(sh);
    std::unique_ptr<uint8_t[]> planes(new (std::nothrow) uint8_t[3 * (sourcePlane + widePlane)]);
    std::unique_ptr<uint8_t[]> wide(new (std::nothrow) uint8_t[3 * widePlane]);
    if (!planes || !wide) {
        return false;
    }
    uint8_t* const s[3] = {&planes[0], &planes[sourcePlane], &planes[2 * sourcePlane]};
    uint8_t* const w[3] = {&planes[3 * sourcePlane], &planes[3 * sourcePlane + widePlane],
                           &planes[3 * sourcePlane + 2 * widePlane]};
    libyuv::SplitRGBPlane(photo.constBits(), int(photo.bytesPerLine()), s[0], sw, s[1], sw, s[2],
                          sw, sw, sh);
    for (int c = 0; c < 3; ++c) {
        libyuv::ScalePlane(s[c], sw, sw, sh, w[c], width, width, sh, libyuv::kFilterBilinear);
    }
    const int wideStride = 3 * width;
    libyuv::MergeRGBPlane(w[0], width, w[1], width, w[2], width, wide.get(), wideStride, width, sh);
    planes.reset();

    for (int y = 0; y < height; ++y) {
        // Centre of target row y in source rows, in 1/256 steps, clamped to the picture.
        const int64_t at =
            qBound<int64_t>(0, ((2 * int64_t(y) + 1) * sh * 256) / (2 * int64_t(height)) - 128,
                            int64_t(sh - 1) * 256);
        const int row = int(at >> 8), fraction = int(at & 255);
        const uint8_t* top = wide.get() + size_t(row) * wideStride;
        const uint8_t* below = row + 1 < sh ? top + wideStride : top;
        libyuv::InterpolatePlane(top, wideStride, below, wideStride, scaled.scanLine(y),
                                 int(scaled.bytesPerLine()), wideStride, 1, fraction);
    }
    return true;
}

// Any other change of size: each colour is scaled as a plane of its own with the box
// filter, which averages every source pixel a target pixel covers when shrinking.
bool ScaleByPlanes(const QImage& photo, QImage& scaled) {
    const int sw = photo.width(), sh = photo.height();
    const int width = scaled.width(), height = scaled.height();
    const size_t sourcePlane = size_t(sw) * size_t(sh),
                 targetPlane = size_t(width) * size_t(height);
    std::unique_ptr<uint8_t[]> source(new (std::nothrow) uint8_t[3 * sourcePlane]);
    std::unique_ptr<uint8_t[]> target(new (std::nothrow) uint8_t[3 * targetPlane]);
    if (!source || !target) {
        return false;
    }
    uint8_t* const s[3] = {&source[0], &source[sourcePlane], &source[2 * sourcePlane]};
    uint8_t* const t[3] = {&target[0], &target[targetPlane], &target[2 * targetPlane]};
    libyuv::SplitRGBPlane(photo.constBits(), int(photo.bytesPerLine()), s[0], sw, s[1], sw, s[2],
                          sw, sw, sh);
    for (int c = 0; c < 3; ++c) {
        libyuv::ScalePlane(s[c], sw, sw, sh, t[c], width, width, height, libyuv::kFilterBox);
    }
    source.reset();
    libyuv::MergeRGBPlane(t[0], width, t[1], width, t[2], width, scaled.bits(),
                          int(scaled.bytesPerLine()), width, height);
    return true;
}

}  // namespace

bool ScalePhoto(QImage& photo, int width, int height) {
    if (photo.isNull() || width <= 0 || height <= 0 || photo.format() != QImage::Format_BGR888) {
        return false;
    }
    if (photo.width() == width && photo.height() == height) {
        return true;
    }
    QImage scaled(width, height, QImage::Format_BGR888);
    if (scaled.isNull()) {
        return false;
    }
    // libyuv's plane functions are used rather than its interleaved (ARGB/RGB24) scaler,
    // which was measured to darken every pixel by one level.
    const bool enlarging = width >= photo.width() && height >= photo.height();
    if (!(enlarging ? Enlarge(photo, scaled) : ScaleByPlanes(photo, scaled))) {
        return false;
    }
    photo = std::move(scaled);
    return true;
}

}  // namespace PhotoPipeline
