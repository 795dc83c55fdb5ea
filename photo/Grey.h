// Black and white: the average of the three components.
#pragma once

#include <cstdint>

#include <QImage>

namespace PhotoPipeline {

// grey := (red + green + blue) div 3, in all three components.
void ToGrey(QImage& photo);
// The same for `count` rows from `first` (clipped to the photo). With `values`, the grey
// values of row first + i also go to values[i], one byte a pixel, in the same pass.
void GreyRows(QImage& photo, int first, int count, uint8_t* const* values = nullptr);
// The same on rows of `width` B, G, R pixels, `stride` bytes apart from `bits` (row 0); for
// a picture whose QImage another thread is reading meanwhile.
void GreyPixelRows(uint8_t* bits, qsizetype stride, int width, int first, int count,
                   uint8_t* const* values = nullptr);

}  // namespace PhotoPipeline
