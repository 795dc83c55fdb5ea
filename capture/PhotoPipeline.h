// The steps of a photograph between the grab and the stored file, as plain functions
// on a QImage (Format_BGR888, row 0 on top): TSnapixture runs them in order, tests and
// the benchmark call them one by one. All of them run on the GUI thread.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>

#include <QByteArray>
#include <QDateTime>
#include <QImage>
#include <QPoint>
#include <QString>
#include <QVector>

namespace PhotoPipeline {

// --- Size-limit choice ----------------------------------------------------------

// What a size limit in kilobytes stands for: an output-size index and a JPEG quality.
struct TSizeLimitChoice {
    int32_t OutputResolution;
    uint8_t CompressionQuality;
};
TSizeLimitChoice SizeLimitChoice(uint16_t kilobytes);

// --- Caption overlay --------------------------------------------------------------

// The five caption lines, Line1 first.
using TCaptionLines = std::array<QString, 5>;

// Where and in what the caption goes on a photo of a given width.
struct TCaptionLayout {
    QString FontName;  // the face the caption asks for ("宋体" or "Small Fonts")
    int PixelSize;     // character height at 96 pixels per inch
    struct TLine {
        int Index;  // 0 for Line1 ... 4 for Line5
        QPoint TopLeft;
    };
    QVector<TLine> Lines;
    QPoint StampOffsetBoth;  // (dx, dy) when date and time are both stamped
    QPoint StampOffsetOne;   // (dx, dy) when only one of them is
};
TCaptionLayout CaptionLayout(int photoWidth);

// The installed family that stands in for a face a caption asks for: a Song/Ming face
// for "宋体", a small sans face for "Small Fonts". Also registers both as font
// substitutions so that any QFont asking for them by name lands on the same faces.
QString ResolveCaptionFamily(const QString& fontName);

// The date/time stamp: short date, long time (hours, minutes, seconds, no time zone);
// with both, the time and its space are left out at exactly midnight. Empty with neither.
QString StampText(const QDateTime& now, bool printDate, bool printTime);

// Draws the caption on a white mask of the photo's size and inks the photo through it.
// Drawing failures are absorbed: what was drawn before them is still inked.
void DrawCaption(QImage& photo, const TCaptionLines& lines, bool printDate, bool printTime,
                 uint32_t fontColor, const QDateTime& now);

// Every photo pixel under a non-white mask pixel becomes black when its blue component
// is above 128, white otherwise. The mask has the photo's size (Format_RGB32).
void InkThroughMask(QImage& photo, const QImage& mask);

// --- Scaling, black and white -------------------------------------------------------

// Resamples the photo to width x height with an averaging filter (box when shrinking,
// bilinear when enlarging); the aspect ratio is not kept. On failure (empty photo, bad
// size, no memory) the photo stays as it was and false is returned.
bool ScalePhoto(QImage& photo, int width, int height);

// grey := (red + green + blue) div 3, in all three components.
void ToGrey(QImage& photo);
// The same for `count` rows from `first` (clipped to the photo).
void GreyRows(QImage& photo, int first, int count);

// --- Encoding ------------------------------------------------------------------------

// Optional work done alongside an encoding, while the data is hot in the cache.
struct TJpegHooks {
    // Called with each band of rows just before libjpeg reads them; it may change them.
    std::function<void(int first, int count)> PrepareRows;
    // Called with each finished piece of the stream, in order, about 1 MB at a time.
    std::function<void(const char* data, size_t size)> Output;
};

// Baseline JFIF: library defaults, the given quality (0 acts as 1, above 100 as 100),
// 4:2:0, sequential, three components, accurate integer DCT; rows fed top to bottom
// straight from the photo. On failure `out` is untouched and `error` holds libjpeg's text.
bool EncodeJpeg(const QImage& photo, int quality, QByteArray& out, QString& error,
                const TJpegHooks& hooks = {});

// An uncompressed 24-bit BMP file: file header, 40-byte information header, rows
// bottom-up, each padded to a multiple of 4 bytes.
QByteArray BmpHeaders(int width, int height);
// Writes the whole BMP file of `photo` through `write` (called once per chunk); returns
// false as soon as `write` does.
bool WriteBmp(const QImage& photo, const std::function<bool(const char*, size_t)>& write);

// --- Naming -------------------------------------------------------------------------

// ".bmp" for 1, ".jpg" for 0 and any other value.
QString Extension(uint8_t fileFormat);
// "YYYYMMDDHHMMSS", 24-hour clock.
QString DateTimeName(const QDateTime& now);
// "%.8u": at least eight digits, zero-padded.
QString SerialName(uint32_t number);

// --- Safe placement ---------------------------------------------------------------

// The outcome of placing a photograph file.
struct TPlaceResult {
    bool Ok = false;
    QString FileName;  // the name the file was placed under
    QString Error;     // why it failed, naming the file and the system's error text
};

// The candidate names of a photograph, attempt 0 first.
using TNameFor = std::function<QString(unsigned attempt)>;

// A photograph file being written: a temporary file beside its final name (unnamed where
// the file system allows, so a killed process leaves nothing), flushed to disk and then
// placed under the first free name without replacing anything. A file that is never
// placed is removed when this object goes.
class TPhotoFile {
  public:
    TPhotoFile() = default;
    TPhotoFile(const TPhotoFile&) = delete;
    TPhotoFile& operator=(const TPhotoFile&) = delete;
    ~TPhotoFile();

    // Creates the temporary file in the folder `finalName` will be placed in.
    bool Open(const QString& finalName, QString& error);
    int Descriptor() const { return FFd; }
    // Appends and asks the system to start writing it to disk. After a failure further
    // data is dropped and the failure is what Place reports.
    bool Append(const char* data, size_t size);
    // Remembers a failure of whoever writes through Descriptor().
    void SetWriteError(const QString& error);
    // Flushes the data to disk and places the file under the first free name of
    // nameFor(0), nameFor(1), ...
    TPlaceResult Place(const TNameFor& nameFor);

  private:
    void Discard();

    int FFd = -1;
    bool FUnnamed = false;  // O_TMPFILE: no name until it is placed
    QByteArray FTempPath;   // the named temporary file, where unnamed ones are not available
    QString FWriteError;
    int64_t FWritten = 0;
};

// Writes a photograph under the first free name of `nameFor(0)`, `nameFor(1)`, ...
// without ever replacing an existing file and without a half-written file under a final
// name: the content goes to a temporary file in the target folder, is flushed to disk,
// and is then placed by an operation that refuses to replace. When it refuses, the next
// name is tried. On any failure the temporary file is removed. `write` gets the open
// temporary file descriptor and returns false with `error` set when it cannot write.
using TWriteContent = std::function<bool(int fd, QString& error)>;
TPlaceResult PlacePhotoFile(const TNameFor& nameFor, const TWriteContent& write);

// Writes all of `data` to `fd`, retrying short writes and EINTR.
bool WriteAll(int fd, const char* data, size_t size, QString& error);

// Removes from `folder` the named temporary files that this program's processes killed while
// writing a photograph left behind (".snapix-<16 hex digits>.tmp", plain files of this user)
// when they are older than `olderThan`; a younger one may be written right now by another
// copy. Returns how many it removed.
int RemoveStaleTempFiles(const QString& folder,
                         std::chrono::seconds olderThan = std::chrono::minutes(1));

// How many names PlacePhotoFile tries before it gives up.
constexpr unsigned MaxNameAttempts = 10000;

}  // namespace PhotoPipeline
