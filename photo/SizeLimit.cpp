// Keeping a JPEG within a number of bytes: the highest quality that fits at one pixel
// size, and a photograph's steps down through smaller sizes when no quality does.
#include "photo/SizeLimit.h"

#include <utility>

#include "photo/Jpeg.h"
#include "photo/Scale.h"
#include "photo/SizeRule.h"

namespace PhotoPipeline {

namespace {

// The smallest side a size-limited photograph is halved down to: one block of pixels.
constexpr int kSmallestSide = 8;

int64_t Area(QSize size) {
    return int64_t(size.width()) * size.height();
}

}  // namespace

TEncodeAtQuality JpegEncoderOf(QImage& picture, bool blackAndWhite, const QByteArray& exif) {
    TJpegHooks hooks;
    hooks.Exif = exif;
    return [&picture, blackAndWhite, hooks](int quality, QByteArray& jpeg, QString& error) {
        // Black and white turns the picture grey the first time; grey stays grey after it.
        return blackAndWhite ? EncodeBlackAndWhiteJpeg(picture, quality, jpeg, error, hooks)
                             : EncodeJpeg(picture, quality, jpeg, error, hooks);
    };
}

bool HighestQualityWithin(int64_t maxBytes, int lowest, int highest,
                          const TEncodeAtQuality& encode, TQualityFound& found, QString& error) {
    if (lowest > highest || !encode) {
        error = QStringLiteral("no quality to try");
        return false;
    }
    int encodes = 0;
    QByteArray jpeg;
    // Encodes at `quality` into `jpeg`; false when the encoder failed.
    const auto tryQuality = [&](int quality) {
        if (!encode(quality, jpeg, error)) {
            return false;
        }
        ++encodes;
        return true;
    };

    if (!tryQuality(highest)) {
        return false;
    }
    if (jpeg.size() <= maxBytes) {
        found = {std::move(jpeg), highest, true, encodes};
        return true;
    }
    // Bisection of [lowest, highest - 1]: every quality above `high` is known to be too
    // large, every one below `low` known to fit. Probing the upper middle means that, when
    // nothing fits, the last probe is `lowest` itself.
    QByteArray best, smallest = jpeg;
    int bestQuality = 0, smallestQuality = highest;
    int low = lowest, high = highest - 1;
    while (low <= high) {
        const int middle = low + (high - low + 1) / 2;
        if (!tryQuality(middle)) {
            return false;
        }
        if (jpeg.size() <= maxBytes) {
            best = std::move(jpeg);
            bestQuality = middle;
            low = middle + 1;
        } else {
            smallest = std::move(jpeg);
            smallestQuality = middle;
            high = middle - 1;
        }
    }
    if (bestQuality > 0) {
        found = {std::move(best), bestQuality, true, encodes};
    } else {
        found = {std::move(smallest), smallestQuality, false, encodes};
    }
    return true;
}

std::vector<QSize> SizeLimitSteps(QSize start, QSize live) {
    std::vector<QSize> steps{start};
    const auto addSmaller = [&steps](QSize size) {
        if (!size.isEmpty() && Area(size) < Area(steps.back())) {
            steps.push_back(size);
        }
    };
    const auto& outputs = OutputSizes();
    for (auto size = outputs.rbegin(); size != outputs.rend(); ++size) {
        if (Area(*size) > Area(live)) {
            addSmaller(*size);
        }
    }
    addSmaller(live);
    for (QSize half(live.width() / 2, live.height() / 2);
         half.width() >= kSmallestSide && half.height() >= kSmallestSide;
         half = QSize(half.width() / 2, half.height() / 2)) {
        addSmaller(half);
    }
    return steps;
}

bool EncodeWithinSizeLimit(QImage& photo, const QImage& source, const std::vector<QSize>& steps,
                           const TSizeLimit& limit, TSizeLimited& result, QString& error) {
    if (steps.empty()) {
        error = QStringLiteral("no size to try");
        return false;
    }
    const auto exifFor = [&limit](QSize size) {
        return limit.ExifFor ? limit.ExifFor(size) : QByteArray();
    };
    const int highest = qBound(1, limit.HighestQuality, 100);

    TQualityFound found;
    if (!HighestQualityWithin(limit.MaxBytes, 1, highest,
                              JpegEncoderOf(photo, limit.BlackAndWhite, exifFor(photo.size())),
                              found, error)) {
        return false;
    }
    result = {std::move(found.Jpeg), found.Quality, found.Fits, found.Encodes};

    for (size_t i = 1; i < steps.size() && !result.Fits; ++i) {
        QImage smaller = source;
        if (!ScalePhoto(smaller, steps[i].width(), steps[i].height())) {
            break;  // no memory for it: the smallest made so far stays
        }
        const TEncodeAtQuality encode =
            JpegEncoderOf(smaller, limit.BlackAndWhite, exifFor(smaller.size()));
        // Can this size fit at all? Most that cannot are passed by with one encoding.
        TQualityFound atLowest;
        if (!HighestQualityWithin(limit.MaxBytes, 1, 1, encode, atLowest, error)) {
            return false;
        }
        int encodes = result.Encodes + atLowest.Encodes;
        TQualityFound above;
        if (atLowest.Fits && highest > 1) {
            if (!HighestQualityWithin(limit.MaxBytes, 2, highest, encode, above, error)) {
                return false;
            }
            encodes += above.Encodes;
        }
        result = above.Fits ? TSizeLimited{std::move(above.Jpeg), above.Quality, true, encodes}
                            : TSizeLimited{std::move(atLowest.Jpeg), 1, atLowest.Fits, encodes};
        photo = std::move(smaller);
    }
    return true;
}

}  // namespace PhotoPipeline
