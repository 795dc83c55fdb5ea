// Identity-photo JPEG: quality for the maximum, comment padding for the minimum.
#include "photocut/IdPhotoJpeg.h"

#include <algorithm>

#include "photo/Jpeg.h"
#include "photocut/PrintSheet.h"

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
    const auto encode = [&](int quality, QByteArray& out) {
        QString error;
        if (!PhotoPipeline::EncodeJpeg(photo, quality, out, error)) {
            result.Error = QStringLiteral("无法编码 JPEG: %1").arg(error);
            return false;
        }
        return true;
    };
    QByteArray best;
    int quality = kQuality;
    if (maxKb > 0) {
        // The highest quality whose file is at most the maximum: quality 100 first, then
        // halving the range, at most 8 encodes.
        const qsizetype most = MaxBytes(maxKb);
        QByteArray trial;
        if (!encode(100, trial)) {
            return result;
        }
        quality = 100;
        if (trial.size() <= most) {
            best = trial;
        } else {
            int lo = 1, hi = 99;
            quality = 0;
            while (lo <= hi) {
                const int mid = (lo + hi) / 2;
                if (!encode(mid, trial)) {
                    return result;
                }
                if (trial.size() <= most) {
                    best = trial;
                    quality = mid;
                    lo = mid + 1;
                } else {
                    hi = mid - 1;
                }
            }
            if (quality == 0) {
                result.Error = QStringLiteral("即使最低质量, 照片也大于 %1 KB").arg(maxKb);
                return result;
            }
        }
    } else if (!encode(quality, best)) {
        return result;
    }
    const qsizetype least = MinBytes(minKb, maxKb);
    if (minKb > 0 && best.size() < least && quality < 100 && maxKb <= 0) {
        QByteArray trial;
        if (!encode(100, trial)) {
            return result;
        }
        best = trial;
        quality = 100;
    }
    if (!PrintSheet::SetJfifDensity(best, dpi)) {
        result.Error = QStringLiteral("无法写入照片的分辨率 (JFIF)");
        return result;
    }
    if (minKb > 0 && best.size() < least) {
        const qsizetype padding = std::max<qsizetype>(least - best.size(), 4);
        if (maxKb > 0 && best.size() + padding > MaxBytes(maxKb)) {
            result.Error = QStringLiteral("无法使照片大小落在 %1-%2 KB 之间").arg(minKb).arg(maxKb);
            return result;
        }
        Pad(best, padding);
        result.Padding = padding;
    }
    result.Data = best;
    result.Quality = quality;
    return result;
}

}  // namespace IdPhotoJpeg
