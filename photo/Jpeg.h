// JPEG encoding of a photograph through libjpeg, streamed as it is compressed.
#pragma once

#include <cstddef>
#include <functional>

#include <QByteArray>
#include <QImage>
#include <QString>

namespace PhotoPipeline {

// Optional work done alongside an encoding, and what the headers say beyond the picture.
struct TJpegHooks {
    // Called with each finished piece of the stream, in order, about 1 MB at a time, while
    // the rest is still being compressed.
    std::function<void(const char* data, size_t size)> Output;
    // An APP1 payload (ExifBlock) written right after the JFIF header; at most MaxApp1Bytes.
    // Every byte after it is what the encoding writes without it.
    QByteArray Exif;
    // The print resolution in the JFIF header, in dots per inch (1..65535); 0 leaves the
    // library's default (no unit, square pixels).
    int Dpi = 0;
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

// Makes rows [first, first + count) of a photo that is encoded while it is being made.
using TMakeRows = std::function<void(int first, int count)>;

// EncodeJpeg (blackAndWhite false) or EncodeBlackAndWhiteJpeg (true) of a photo whose rows
// are not made yet: a second thread calls makeRows for each band of 16 rows, top to bottom,
// and in black and white turns the band grey, a few bands ahead of libjpeg, which reads
// each band as soon as it is there. The photo has its final size and is not shared. Its
// rows are all made (and grey) when this returns, also when encoding fails; the bytes are
// those of making the whole photo first and encoding it then.
bool EncodeJpegWhileMaking(QImage& photo, bool blackAndWhite, int quality,
                           const TMakeRows& makeRows, QByteArray& out, QString& error,
                           const TJpegHooks& hooks = {});

}  // namespace PhotoPipeline
