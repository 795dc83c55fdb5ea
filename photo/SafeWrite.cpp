// Replacing a small file whole: temporary file in the same folder, then rename.
#include "photo/SafeWrite.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <QFile>
#include <QRandomGenerator>

namespace {

QString SystemError(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

QByteArray RandomSuffix() {
    return QByteArray::number(QRandomGenerator::global()->generate64(), 16);
}

bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += n;
        size -= size_t(n);
    }
    return true;
}

// The temporary file being written; removed unless it has taken its name.
class TTempFile {
  public:
    TTempFile(const QByteArray& folder, const QByteArray& base) : FFolder(folder), FBase(base) {}
    ~TTempFile() {
        if (FFd >= 0) {
            ::close(FFd);
        }
        if (!FNamed.isEmpty()) {
            ::unlink(FNamed.constData());
        }
    }
    TTempFile(const TTempFile&) = delete;
    TTempFile& operator=(const TTempFile&) = delete;

    // 0 or the errno of the failure.
    int Open(mode_t mode) {
        // Unnamed first: a process killed while writing leaves nothing behind.
        FFd = ::open(FFolder.constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
        if (FFd >= 0) {
            return 0;
        }
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
            return errno;
        }
        for (int tries = 0; tries < 100; ++tries) {
            const QByteArray name = NewName();
            FFd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
            if (FFd >= 0) {
                FNamed = name;
                return 0;
            }
            if (errno != EEXIST) {
                break;
            }
        }
        return errno;
    }

    int Descriptor() const { return FFd; }

    // Flushes the data to disk and renames the file to `target`, replacing
    // whatever plain file or link has that name. 0 or the errno.
    int Commit(const QByteArray& target) {
        if (::fdatasync(FFd) != 0) {
            return errno;
        }
        if (FNamed.isEmpty()) {
            // An unnamed file gets a name only now, at the last moment; a link
            // cannot replace, so it takes a fresh hidden name and is renamed.
            const QByteArray proc = "/proc/self/fd/" + QByteArray::number(FFd);
            for (int tries = 0; FNamed.isEmpty() && tries < 100; ++tries) {
                const QByteArray name = NewName();
                if (::linkat(AT_FDCWD, proc.constData(), AT_FDCWD, name.constData(),
                             AT_SYMLINK_FOLLOW) == 0) {
                    FNamed = name;
                } else if (errno != EEXIST) {
                    return errno;
                }
            }
            if (FNamed.isEmpty()) {
                return EEXIST;
            }
        }
        const int fd = FFd;
        FFd = -1;
        if (::close(fd) != 0) {
            return errno;
        }
        if (::rename(FNamed.constData(), target.constData()) != 0) {
            return errno;
        }
        FNamed.clear();  // it is the file now
        return 0;
    }

  private:
    QByteArray NewName() const { return FFolder + "/." + FBase + "." + RandomSuffix() + ".tmp"; }

    QByteArray FFolder;
    QByteArray FBase;
    QByteArray FNamed;  // the temporary file's name once it has one
    int FFd = -1;
};

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
    const QByteArray base = target.mid(slash + 1);
    TTempFile temp(folder, base);
    if (const int error = temp.Open(mode)) {
        return TWriteFailure{TWriteStage::Create, SystemError(error)};
    }
    if (keepMode && ::fchmod(temp.Descriptor(), mode) != 0) {
        return TWriteFailure{TWriteStage::Create, SystemError(errno)};
    }
    if (!WriteAll(temp.Descriptor(), bytes.constData(), size_t(bytes.size()))) {
        return TWriteFailure{TWriteStage::Write, SystemError(errno)};
    }
    if (const int error = temp.Commit(target)) {
        return TWriteFailure{TWriteStage::Write, SystemError(error)};
    }
    return std::nullopt;
}
