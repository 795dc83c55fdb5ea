// Black and white: the average of the three components.
#pragma once

#include <QImage>

namespace PhotoPipeline {

// grey := (red + green + blue) div 3, in all three components.
void ToGrey(QImage& photo);
// The same for `count` rows from `first` (clipped to the photo).
void GreyRows(QImage& photo, int first, int count);

}  // namespace PhotoPipeline
