// Reading a photo file the user chose: JPEG, BMP or PNG recognised by content, decoded
// into Format_BGR888 with bounded memory. Nothing here trusts the file: a short, lying or
// huge file is an error with a reason, never a crash, a hang or a half picture.
#pragma once

#include <cstdint>

#include <QByteArray>
#include <QImage>
#include <QString>

namespace ImageFile {

// The most a decoded picture (or the file itself) may take.
constexpr qint64 kMaxBytes = qint64(256) << 20;

enum class TKind { Unknown, Jpeg, Bmp, Png };

// What the first bytes say the file is.
TKind KindOf(const QByteArray& head);

// A decoded picture, or why there is none. The reason is a user-facing sentence.
struct TDecoded {
    QImage Picture;  // Format_BGR888, or null
    QString Error;
};

// Decodes JPEG data at full size with libjpeg-turbo. Every libjpeg warning (a truncated
// stream among them) is an error; dimensions whose picture would exceed kMaxBytes are
// refused before anything is allocated.
TDecoded DecodeJpeg(const QByteArray& data);

// Decodes BMP or PNG data after checking the header's claims against the data.
TDecoded DecodeBmp(const QByteArray& data);
TDecoded DecodePng(const QByteArray& data);

// Reads and decodes a file by its content. Only a regular file of at most kMaxBytes is
// read; a FIFO or a device never blocks. On failure Error names the file and the reason.
TDecoded Load(const QString& path);

}  // namespace ImageFile
