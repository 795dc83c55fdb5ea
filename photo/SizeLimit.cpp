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

bool HighestQualityWithin(int64_t maxBytes, int lowest, int highest, const TEncodeAtQuality& encode,
                          TQualityFound& found, QString& error) {
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
    if (jpeg.size() <= maxBytes || lowest == highest) {
        const bool fits = jpeg.size() <= maxBytes;
        found = {std::move(jpeg), highest, fits, encodes};
        return true;
    }
    if (!tryQuality(lowest)) {
        return false;
    }
    if (jpeg.size() > maxBytes) {
        found = {std::move(jpeg), lowest, false, encodes};  // the smallest, made last
        return true;
    }
    // Bisection between them: `best` fits, every quality above `high` is too large.
    QByteArray best = std::move(jpeg);
    int bestQuality = lowest;
    int low = lowest + 1, high = highest - 1;
    while (low <= high) {
        const int middle = low + (high - low) / 2;
        if (!tryQuality(middle)) {
            return false;
        }
        if (jpeg.size() <= maxBytes) {
            best = std::move(jpeg);
            bestQuality = middle;
            low = middle + 1;
        } else {
            high = middle - 1;
        }
    }
    found = {std::move(best), bestQuality, true, encodes};
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

    result = {};
    for (size_t i = 0; i < steps.size() && !result.Fits; ++i) {
        // The first size is the caller's photo; each smaller one is made from the source.
        QImage smaller;
        if (i > 0) {
            smaller = source;
            if (!ScalePhoto(smaller, steps[i].width(), steps[i].height())) {
                break;  // no memory for it: the smallest made so far stays
            }
        }
        QImage& picture = i == 0 ? photo : smaller;
        TQualityFound found;
        if (!HighestQualityWithin(
                limit.MaxBytes, 1, highest,
                JpegEncoderOf(picture, limit.BlackAndWhite, exifFor(picture.size())), found,
                error)) {
            return false;
        }
        result = {std::move(found.Jpeg), found.Quality, found.Fits, result.Encodes + found.Encodes};
        if (i > 0) {
            photo = std::move(smaller);
        }
    }
    return true;
}

}  // namespace PhotoPipeline
