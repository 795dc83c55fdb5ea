// Reading a picture file that a user or a script chose: JPEG, BMP or PNG recognised by
// content, decoded into Format_BGR888. Nothing here trusts the file: a short, lying,
// corrupt, huge or merely very expensive file ends with a reason, never with a crash, a
// hang or a half picture.
//
// Two ways in:
// - LoadImageFile, a plain function with no widgets and no event loop. It blocks for as
//   long as the decoding takes (bounded by the budget), so it is for worker threads and
//   for programs without a window (snapix-shot).
// - TImageFileLoader (ImageFileLoader.h), which runs LoadImageFile on a worker thread and
//   hands the result back to the GUI thread; the cutting panel uses it.
#pragma once

#include <atomic>
#include <cstdint>

#include <QByteArray>
#include <QImage>
#include <QString>

namespace ImageFile {

// What decoding one file may cost. Every format is held to the same figures, checked
// by this code from the file's own header and structure before the decoder starts, so
// that a refusal always comes with our reason, never with a decoder's.
struct TBudget {
    // The most one picture may take while it is decoded, in the decoder's own format
    // (JPEG: 3 bytes a pixel and, for progressive files, 2 bytes a coefficient; BMP and
    // 8-bit PNG: 4; 16-bit PNG: 8); also the most a file may be.
    qint64 Bytes = qint64(256) << 20;
    // The most decoding work: bytes of the decoded picture times the passes over it. A
    // JPEG passes over the whole picture once for each of its scans: a legal 300 KB
    // progressive file with 883 scans would cost as much as 883 pictures.
    qint64 Work = qint64(4) << 30;
};

// Set from any thread to stop a decoding; it then ends soon with Cancelled.
using TCancelFlag = std::atomic<bool>;

struct TDecoded {
    QImage Picture;  // Format_BGR888, or null
    QString Error;   // a user-facing reason when Picture is null and not Cancelled
    bool Cancelled = false;
    bool Loaded() const { return !Picture.isNull(); }
};

enum class TKind { Unknown, Jpeg, Bmp, Png };

// What the first bytes say the data is.
TKind KindOf(const QByteArray& head);

// Decodes picture data by its content. A picture is returned only when it is whole:
// a JPEG reaches its end marker with every scan complete (every coefficient of every
// component at full precision) and no corrupt-data warning on any path of libjpeg;
// an RLE-compressed BMP ends with its end-of-bitmap code inside the data and fills
// exactly the rows it declares; a PNG reaches IEND; and every declared size agrees
// with what the data holds. Sizes are computed in 64 bits with overflow checks.
// Runs on any thread. `cancel` may be null.
TDecoded DecodeImage(const QByteArray& data, const TBudget& budget = {},
                     const TCancelFlag* cancel = nullptr);

// Reads and decodes a file by its content. Only a regular file of at most
// budget.Bytes is read; a FIFO or a device never blocks. On failure Error names the
// file and the reason. Runs on any thread; no widgets.
TDecoded LoadImageFile(const QString& path, const TBudget& budget = {},
                       const TCancelFlag* cancel = nullptr);

// Raises Qt's image allocation limit (a process-wide setting, 128 MB by default) to
// the budget, so that Qt never refuses a BMP or PNG that our own check allowed.
// LoadImageFile calls it; a program that decodes on other threads calls it first on
// its main thread (TImageFileLoader's constructor does), so that the setting is never
// written while another thread reads it.
void AllowQtDecoding(const TBudget& budget);

}  // namespace ImageFile
