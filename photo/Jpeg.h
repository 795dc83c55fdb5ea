// JPEG encoding of a photograph through libjpeg, streamed as it is compressed.
#pragma once

#include <cstddef>
#include <functional>

#include <QByteArray>
#include <QImage>
#include <QString>

namespace PhotoPipeline {

// Optional work done alongside an encoding.
struct TJpegHooks {
    // Called with each finished piece of the stream, in order, about 1 MB at a time, while
    // the rest is still being compressed.
    std::function<void(const char* data, size_t size)> Output;
};

// Baseline JFIF: library defaults, the given quality (0 acts as 1, above 100 as 100),
// 4:2:0, sequential, three components, accurate integer DCT; rows fed top to bottom
// straight from the photo. On failure `out` is untouched and `error` holds libjpeg's text.
bool EncodeJpeg(const QImage& photo, int quality, QByteArray& out, QString& error,
                const TJpegHooks& hooks = {});

// Black and white and the JPEG encoding in one pass: the photo is turned grey (ToGrey)
// band by band just before libjpeg needs each band, and the band's grey values go to
// libjpeg as the luminance plane with neutral (128) chroma planes, the same settings and
// three components. libjpeg turns a pixel with R = G = B = v into Y = v, Cb = Cr = 128, so
// the stream is byte for byte EncodeJpeg's of the grey photo, without the library's colour
// conversion and downsampling. The photo is grey afterwards, also when encoding fails.
bool EncodeBlackAndWhiteJpeg(QImage& photo, int quality, QByteArray& out, QString& error,
                             const TJpegHooks& hooks = {});

}  // namespace PhotoPipeline
