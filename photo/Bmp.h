// Uncompressed 24-bit BMP files of a photograph.
#pragma once

#include <cstddef>
#include <functional>

#include <QByteArray>
#include <QImage>

namespace PhotoPipeline {

// An uncompressed 24-bit BMP file: file header, 40-byte information header, rows
// bottom-up, each padded to a multiple of 4 bytes.
QByteArray BmpHeaders(int width, int height);
// Writes the whole BMP file of `photo` through `write` (called once per chunk); returns
// false as soon as `write` does.
bool WriteBmp(const QImage& photo, const std::function<bool(const char*, size_t)>& write);

}  // namespace PhotoPipeline
