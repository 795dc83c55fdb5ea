// Keeping a JPEG within a number of bytes: the highest quality that fits at one pixel
// size, and a photograph's steps down through smaller sizes when no quality does.
//
// Two layers, so that each can be used alone:
// - HighestQualityWithin: at a fixed pixel size, the highest JPEG quality whose file is at
//   most the limit: one encoding when the highest fits, two when not even the lowest does,
//   otherwise a bisection, at most 9 encodings for qualities 1 to 100. Any picture and
//   encoder (colour, black and white, with or without EXIF) goes in through a
//   TEncodeAtQuality; JpegEncoderOf makes one for a picture.
// - EncodeWithinSizeLimit: the photograph's policy. Its starting size and quality are the
//   largest allowed; when no quality fits there, it goes down through smaller sizes
//   (SizeLimitSteps) until one does, and when none does it keeps the smallest.
// Whatever is returned is an encoding exactly as it was made and measured: the caller
// stores those bytes and never encodes the picture again.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

namespace PhotoPipeline {

// Encodes one picture at `quality` (1..100) into `jpeg`; false with `error` when the
// encoder fails.
using TEncodeAtQuality = std::function<bool(int quality, QByteArray& jpeg, QString& error)>;

// An encoder for `picture`: EncodeJpeg, or EncodeBlackAndWhiteJpeg (which leaves the
// picture grey), with `exif` as its APP1 block when not empty. The picture must outlive it.
TEncodeAtQuality JpegEncoderOf(QImage& picture, bool blackAndWhite, const QByteArray& exif = {});

// What a quality search chose.
struct TQualityFound {
    QByteArray Jpeg;    // the chosen encoding, as it was measured
    int Quality = 0;    // its quality
    bool Fits = false;  // Jpeg.size() <= the limit
    int Encodes = 0;    // how many encodings the search made
};

// The highest quality in [lowest, highest] whose encoding is at most `maxBytes` bytes.
// `highest` is tried first (a generous limit costs one encoding), then `lowest` (a limit
// no quality keeps costs two), then the qualities between are bisected: at most
// 2 + ceil(log2(highest - lowest)) encodings, 9 for 1..100. It relies on a file growing
// with its quality, as JPEG files do (where one does not, the result still fits; a quality
// above it might too). When none fits, `found` holds the encoding at `lowest`, the
// smallest, which was the last one made, and Fits is false. false with `error` when an
// encoding fails or the range is empty.
bool HighestQualityWithin(int64_t maxBytes, int lowest, int highest, const TEncodeAtQuality& encode,
                          TQualityFound& found, QString& error);

// The sizes a size-limited photograph tries, largest first, each smaller in area than the
// one before: `start` (the size it was made at), the output sizes smaller than that but
// larger than the live picture, the live picture's own size, then its halves while both
// sides keep at least 8 pixels.
std::vector<QSize> SizeLimitSteps(QSize start, QSize live);

// How a photograph is to be kept within its limit.
struct TSizeLimit {
    int64_t MaxBytes = 0;
    int HighestQuality = 100;  // the quality the photograph starts from
    bool BlackAndWhite = false;
    // The EXIF block of the photograph at a size; no block when not set.
    std::function<QByteArray(QSize)> ExifFor;
};

// What the photograph became.
struct TSizeLimited {
    QByteArray Jpeg;    // the encoding to store, as it was measured
    int Quality = 0;    // its quality
    bool Fits = false;  // false: even the smallest size at quality 1 is larger than the limit
    int Encodes = 0;    // encodings made in all
};

// Encodes the photograph within `limit.MaxBytes`: at each size of `steps` in turn, the
// highest quality up to limit.HighestQuality that fits (HighestQualityWithin, which passes
// a size no quality can keep with two encodings), each smaller size made afresh from
// `source`. When even the last size does not fit, its encoding at quality 1 is kept, with
// Fits false.
// `photo` is the picture at steps[0] on entry (made by the caller) and the picture that
// `result.Jpeg` encodes on return (grey in black and white). false with `error` when an
// encoding fails; a smaller size that cannot be made (memory) ends the steps there.
bool EncodeWithinSizeLimit(QImage& photo, const QImage& source, const std::vector<QSize>& steps,
                           const TSizeLimit& limit, TSizeLimited& result, QString& error);

}  // namespace PhotoPipeline
