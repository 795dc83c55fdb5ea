// Identity-photo JPEG: quality for the maximum, comment padding for the minimum.
#include "photocut/IdPhotoJpeg.h"

#include <algorithm>
#include <utility>

#include "photo/Jpeg.h"
#include "photo/SizeLimit.h"

namespace IdPhotoJpeg {

namespace {

// A comment segment holds at most this much: its 16-bit length counts itself too.
constexpr qsizetype kMostComment = 65533;

// Comment segments of `bytes` bytes in all (at least 4), right after the JFIF header.
void Pad(QByteArray& jpeg, qsizetype bytes) {
    // SOI (2) + APP0 marker (2) + its length.
    const qsizetype after = 4 + ((uchar(jpeg[4]) << 8) | uchar(jpeg[5]));
    QByteArray segments;
    qsizetype left = std::max<qsizetype>(bytes, 4);
    while (left > 0) {
        // A segment is 4 bytes of marker and length and its text; never leave a rest
        // too small for a segment of its own.
        qsizetype text = std::min(left - 4, kMostComment);
        if (left - 4 - text > 0 && left - 4 - text < 4) {
            text -= 4;
        }
        segments += char(0xFF);
        segments += char(0xFE);
        segments += char((text + 2) >> 8);
        segments += char((text + 2) & 0xFF);
        segments += QByteArray(text, ' ');
        left -= text + 4;
    }
    jpeg.insert(after, segments);
}

}  // namespace

qsizetype MaxBytes(int maxKb) {
    return qsizetype(maxKb) * 1000;
}

qsizetype MinBytes(int minKb, int maxKb) {
    const qsizetype strict = qsizetype(minKb) * 1024;
    return maxKb > 0 && strict > MaxBytes(maxKb) ? qsizetype(minKb) * 1000 : strict;
}

TIdJpeg Encode(const QImage& photo, int dpi, int minKb, int maxKb) {
    TIdJpeg result;
    if (dpi <= 0 || dpi > 0xFFFF) {
        result.Error = QStringLiteral("无法写入照片的分辨率 (JFIF)");
        return result;
    }
    PhotoPipeline::TJpegHooks hooks;
    hooks.Dpi = dpi;
    const PhotoPipeline::TEncodeAtQuality encode = [&photo, hooks](int quality, QByteArray& jpeg,
                                                                   QString& error) {
        return PhotoPipeline::EncodeJpeg(photo, quality, jpeg, error, hooks);
    };
    const qsizetype least = MinBytes(minKb, maxKb);
    PhotoPipeline::TQualityFound found;
    QString error;
    bool encoded = false;
    if (maxKb > 0) {
        // The highest quality whose file is at most the maximum.
        encoded =
            PhotoPipeline::HighestQualityWithin(MaxBytes(maxKb), 1, 100, encode, found, error);
        if (encoded && !found.Fits) {
            result.Error = QStringLiteral("即使最低质量, 照片也大于 %1 KB").arg(maxKb);
            return result;
        }
    } else {
        // No maximum: the usual quality, or the highest when a minimum wants more bytes.
        found.Quality = kQuality;
        encoded = encode(found.Quality, found.Jpeg, error);
        if (encoded && minKb > 0 && found.Jpeg.size() < least) {
            found.Quality = 100;
            encoded = encode(found.Quality, found.Jpeg, error);
        }
    }
    if (!encoded) {
        result.Error = QStringLiteral("无法编码 JPEG: %1").arg(error);
        return result;
    }
    if (minKb > 0 && found.Jpeg.size() < least) {
        const qsizetype padding = std::max<qsizetype>(least - found.Jpeg.size(), 4);
        if (maxKb > 0 && found.Jpeg.size() + padding > MaxBytes(maxKb)) {
            result.Error = QStringLiteral("无法使照片大小落在 %1-%2 KB 之间").arg(minKb).arg(maxKb);
            return result;
        }
        Pad(found.Jpeg, padding);
        result.Padding = padding;
    }
    result.Data = std::move(found.Jpeg);
    result.Quality = found.Quality;
    return result;
}

}  // namespace IdPhotoJpeg
