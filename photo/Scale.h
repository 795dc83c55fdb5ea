// Resampling a photograph to its output size with an averaging filter.
#pragma once

#include <memory>

#include <QImage>

namespace PhotoPipeline {

// Resamples the photo to width x height with an averaging filter (box when shrinking,
// bilinear when enlarging); the aspect ratio is not kept. On failure (empty photo, bad
// size, no memory) the photo stays as it was and false is returned.
bool ScalePhoto(QImage& photo, int width, int height);

// ScalePhoto's enlarging a band of rows at a time, for a caller that works on each band as
// soon as it is made (the JPEG encoding, on another thread): the same rows, byte for byte.
class TEnlargement {
  public:
    TEnlargement();
    ~TEnlargement();
    TEnlargement(const TEnlargement&) = delete;
    TEnlargement& operator=(const TEnlargement&) = delete;

    // Prepares enlarging `photo` to width x height. false when that is not a change of size
    // that enlarges (or keeps) both sides, or when memory is short. The photo is kept (shared,
    // only read) while this lives.
    bool Begin(const QImage& photo, int width, int height);
    // The new picture, its rows not made yet. Taken once, before rows are made; while they
    // are, it is only read (never copied into a detached one or written).
    QImage TakePicture();
    // Makes rows [first, first + count) of the new picture. One thread at a time, bands in
    // any order (top to bottom is fastest).
    void MakeRows(int first, int count);

  private:
    struct TState;
    std::unique_ptr<TState> F;
};

}  // namespace PhotoPipeline
