// A file being written beside the name it will take, so that nobody ever sees it
// half-written: photographs, cut photos, settings and language files all go through it,
// so that one naming and one clean-up cover every temporary file the program makes.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>

#include <sys/types.h>

#include <QByteArray>
#include <QString>

namespace PhotoPipeline {

// Unnamed where the file system allows (a process killed while writing leaves
// nothing), otherwise a hidden ".snapix-<16 hex digits>.tmp" in the same folder.
// Removed when this object goes, unless it has taken a name.
class TTempFile {
  public:
    TTempFile() = default;
    TTempFile(const TTempFile&) = delete;
    TTempFile& operator=(const TTempFile&) = delete;
    ~TTempFile() { Discard(); }

    // Creates it in `folder` with `mode` (less the umask). 0 or the errno.
    int Open(const QByteArray& folder, mode_t mode = 0666);
    int Descriptor() const { return FFd; }

    // Flushes the data to disk and, for a named file, closes it, so that a failing
    // close (which some network file systems use to report a failed write) is seen
    // before the file takes its name. 0 or the errno.
    int Finish();
    // After Finish: takes the name `final` unless something already has it (EEXIST).
    // 0 or the errno.
    int PlaceNoReplace(const QByteArray& final);
    // After Finish: takes the name `target`, replacing the plain file or link that has
    // it (a link is replaced, never followed). 0 or the errno.
    int Replace(const QByteArray& target);

    // Closes and removes it.
    void Discard();

  private:
    int FFd = -1;
    QByteArray FFolder;
    QByteArray FName;  // path of a named file; empty while it is unnamed
};

// Writes all of `data` to `fd`, retrying short writes and EINTR. 0 or the errno.
int WriteAll(int fd, const char* data, size_t size);

// Whether a folder entry's name is that of a named temporary file of ours.
bool IsTempFileName(const char* name);

// Removes from `folder` the named temporary files that this program's processes, killed
// while writing, left behind (plain files of this user with a temporary file's name)
// when they are older than `olderThan`; a younger one may be written right now by
// another copy. Returns how many it removed.
int RemoveStaleTempFiles(const QString& folder,
                         std::chrono::seconds olderThan = std::chrono::minutes(1));

// Test seam: called with a named temporary file's path just before it is renamed to
// its final name, the moment at which a killed process leaves it behind. Null: none.
void SetBeforeRenameHook(std::function<void(const QByteArray& temporaryPath)> hook);

}  // namespace PhotoPipeline
