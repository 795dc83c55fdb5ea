// Resampling a photograph to its output size with an averaging filter.
#pragma once

#include <QImage>

namespace PhotoPipeline {

// Resamples the photo to width x height with an averaging filter (box when shrinking,
// bilinear when enlarging); the aspect ratio is not kept. On failure (empty photo, bad
// size, no memory) the photo stays as it was and false is returned.
bool ScalePhoto(QImage& photo, int width, int height);

}  // namespace PhotoPipeline
