// Replacing a small file whole: temporary file in the same folder, then rename.
#include "photo/SafeWrite.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <QFile>

#include "photo/TempFile.h"

namespace {

QString SystemError(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

}  // namespace

std::optional<TWriteFailure> ReplaceFileContents(const QString& path, const QByteArray& bytes) {
    const QByteArray target = QFile::encodeName(path);
    mode_t mode = 0666;  // less the umask, for a new file
    bool keepMode = false;
    struct stat st {};
    if (::lstat(target.constData(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            return TWriteFailure{TWriteStage::Create, SystemError(EISDIR)};
        }
        if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) {
            // A pipe would block the writer, a device take the bytes elsewhere.
            return TWriteFailure{TWriteStage::Create, QStringLiteral("Not a regular file")};
        }
        if (S_ISREG(st.st_mode)) {
            // A file its owner made read-only stays as it is, although the rename would
            // be allowed by the folder.
            if (::faccessat(AT_FDCWD, target.constData(), W_OK, AT_EACCESS) != 0) {
                return TWriteFailure{TWriteStage::Create, SystemError(errno)};
            }
            mode = st.st_mode & 07777;
            keepMode = true;
        }
    } else if (errno != ENOENT) {
        return TWriteFailure{TWriteStage::Create, SystemError(errno)};
    }

    const qsizetype slash = target.lastIndexOf('/');
    const QByteArray folder = slash < 0 ? QByteArray(".") : target.left(qMax<qsizetype>(slash, 1));
    PhotoPipeline::TTempFile temp;
    if (const int error = temp.Open(folder, mode)) {
        return TWriteFailure{TWriteStage::Create, SystemError(error)};
    }
    if (keepMode && ::fchmod(temp.Descriptor(), mode) != 0) {
        return TWriteFailure{TWriteStage::Create, SystemError(errno)};
    }
    if (const int error =
            PhotoPipeline::WriteAll(temp.Descriptor(), bytes.constData(), size_t(bytes.size()))) {
        return TWriteFailure{TWriteStage::Write, SystemError(error)};
    }
    if (const int error = temp.Finish()) {
        return TWriteFailure{TWriteStage::Write, SystemError(error)};
    }
    if (const int error = temp.Replace(target)) {
        return TWriteFailure{TWriteStage::Write, SystemError(error)};
    }
    return std::nullopt;
}
