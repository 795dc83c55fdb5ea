// The EXIF block of a JPEG photograph: when it was taken, by which camera and program.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QSize>
#include <QString>

namespace PhotoPipeline {

// What a photograph's EXIF block records.
struct TExifFields {
    QDateTime Taken;      // the moment the frame was grabbed, local time with its UTC offset
    QString Model;        // the camera's name
    QString Software;     // the program and its version
    QString Description;  // the caption lines on the photograph, one per line; may be empty
};

// The largest APP1 payload a JPEG segment can hold (its 16-bit length counts itself).
constexpr int MaxApp1Bytes = 65533;

// The payload of an APP1 segment ("Exif\0\0" and a little-endian TIFF structure) for a
// photograph of `size`: Model, Software, Orientation 1 (rows top down), resolution 72 dpi,
// ImageDescription when there is one, DateTimeOriginal and OffsetTimeOriginal, the pixel
// size, sRGB, EXIF version 2.32. Texts are UTF-8; a description too long for the segment
// is cut at a character boundary, and so is one longer than `maxDescriptionBytes` (a
// photograph kept within a size limit gives the description only a share of it). Empty
// when memory is short.
QByteArray ExifBlock(const TExifFields& fields, QSize size, int maxDescriptionBytes = MaxApp1Bytes);

}  // namespace PhotoPipeline
