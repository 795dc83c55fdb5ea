// Writing a photograph file safely: never half-written, never replacing another file.
#pragma once

#include <cstddef>
#include <chrono>
#include <cstdint>
#include <functional>

#include <QByteArray>
#include <QString>

#include "photo/TempFile.h"

namespace PhotoPipeline {

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

    // Creates the temporary file in the folder `finalName` will be placed in.
    bool Open(const QString& finalName, QString& error);
    int Descriptor() const { return FTemp.Descriptor(); }
    // Appends and asks the system to start writing it to disk. After a failure further
    // data is dropped and the failure is what Place reports.
    bool Append(const char* data, size_t size);
    // Remembers a failure of whoever writes through Descriptor().
    void SetWriteError(const QString& error);
    // Flushes the data to disk and places the file under the first free name of
    // nameFor(0), nameFor(1), ...
    TPlaceResult Place(const TNameFor& nameFor);

  private:
    TTempFile FTemp;
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

// PlacePhotoFile of `bytes` under base + suffix, or base + "_1" + suffix, "_2" ...
TPlaceResult PlaceBytes(const QString& base, const QString& suffix, const QByteArray& bytes);

// Writes all of `data` to `fd`, retrying short writes and EINTR.
bool WriteAll(int fd, const char* data, size_t size, QString& error);

// How many names PlacePhotoFile tries before it gives up.
constexpr unsigned MaxNameAttempts = 10000;

}  // namespace PhotoPipeline
