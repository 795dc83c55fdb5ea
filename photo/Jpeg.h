// JPEG encoding of a photograph through libjpeg, with hooks for work done alongside.
#pragma once

#include <cstddef>
#include <functional>

#include <QByteArray>
#include <QImage>
#include <QString>

namespace PhotoPipeline {

// Optional work done alongside an encoding, while the data is hot in the cache.
struct TJpegHooks {
    // Called with each band of rows just before libjpeg reads them; it may change them.
    std::function<void(int first, int count)> PrepareRows;
    // Called with each finished piece of the stream, in order, about 1 MB at a time.
    std::function<void(const char* data, size_t size)> Output;
};

// Baseline JFIF: library defaults, the given quality (0 acts as 1, above 100 as 100),
// 4:2:0, sequential, three components, accurate integer DCT; rows fed top to bottom
// straight from the photo. On failure `out` is untouched and `error` holds libjpeg's text.
bool EncodeJpeg(const QImage& photo, int quality, QByteArray& out, QString& error,
                const TJpegHooks& hooks = {});

}  // namespace PhotoPipeline
