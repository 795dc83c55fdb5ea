// The stored file of an identity photo: a JPEG with the standard's dpi, inside the KB
// range a form accepts. Pure computation: any thread.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

struct TIdJpeg {
    QByteArray Data;  // empty on failure
    int Quality = 0;
    qsizetype Padding = 0;  // bytes of comment added to reach the minimum
    QString Error;
    bool Ok() const { return Error.isEmpty(); }
};

namespace IdPhotoJpeg {

// The quality used when no maximum is asked for.
constexpr int kQuality = 95;

// The byte limits of a KB range. Forms count a KB as 1000 or 1024 bytes; the file keeps
// both readings: at most maxKb * 1000 bytes, at least minKb * 1024 (0: no limit).
qsizetype MaxBytes(int maxKb);
qsizetype MinBytes(int minKb, int maxKb);

// Encodes `photo` with its JFIF density at `dpi` (1..65535). With a maximum: the highest
// quality whose file is at most the maximum (the photograph's size-limit search, at most
// 9 encodings); an error when even quality 1 is larger. With a
// minimum that quality 100 stays under: a comment segment after the JFIF header pads
// the file to it, which keeps the file valid and the picture unchanged.
TIdJpeg Encode(const QImage& photo, int dpi, int minKb, int maxKb);

}  // namespace IdPhotoJpeg
