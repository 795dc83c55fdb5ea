// Writing a photograph file safely: never half-written, never replacing another file.
#include "photo/PhotoFile.h"

#include <cerrno>
#include <cstdio>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>

namespace PhotoPipeline {

bool WriteAll(int fd, const char* data, size_t size, QString& error) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            error = qt_error_string(errno);
            return false;
        }
        data += n;
        size -= size_t(n);
    }
    return true;
}

namespace {

QString Failure(const QString& fileName, const QString& why) {
    return QStringLiteral("无法保存照片 \"%1\": %2").arg(fileName, why);
}

// Places `temp` under `final` unless something already has that name. Returns 0, or the
// errno of the refusal (EEXIST when the name is taken).
int PlaceNoReplace(const QByteArray& temp, const QByteArray& final) {
    if (::renameat2(AT_FDCWD, temp.constData(), AT_FDCWD, final.constData(), RENAME_NOREPLACE) ==
        0) {
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) {
        return errno;
    }
    // A file system without the no-replace rename: a hard link refuses an existing name
    // just the same, and the temporary name is dropped afterwards.
    if (::link(temp.constData(), final.constData()) != 0) {
        return errno;
    }
    ::unlink(temp.constData());
    return 0;
}

// Gives the unnamed file `fd` the name `final` unless something already has that name.
// Returns 0, or the errno of the refusal (EEXIST when the name is taken).
int LinkNoReplace(int fd, const QByteArray& final) {
    // Naming a descriptor through /proc needs no privilege; AT_EMPTY_PATH does, and is the
    // way left where /proc is not mounted.
    static const bool viaProc = ::access("/proc/self/fd", X_OK) == 0;
    const int done =
        viaProc ? ::linkat(AT_FDCWD, ("/proc/self/fd/" + QByteArray::number(fd)).constData(),
                           AT_FDCWD, final.constData(), AT_SYMLINK_FOLLOW)
                : ::linkat(fd, "", AT_FDCWD, final.constData(), AT_EMPTY_PATH);
    return done == 0 ? 0 : errno;
}

bool IsTempFileName(const char* name) {
    static const QRegularExpression pattern(QStringLiteral("^\\.snapix-[0-9a-f]{16}\\.tmp$"));
    return pattern.match(QLatin1String(name)).hasMatch();
}

}  // namespace

TPhotoFile::~TPhotoFile() {
    Discard();
}

void TPhotoFile::Discard() {
    if (FFd >= 0) {
        ::close(FFd);  // an unnamed file goes with its last descriptor
        FFd = -1;
    }
    FUnnamed = false;
    if (!FTempPath.isEmpty()) {
        ::unlink(FTempPath.constData());
        FTempPath.clear();
    }
}

bool TPhotoFile::Open(const QString& finalName, QString& error) {
    Discard();
    FWriteError.clear();
    FWritten = 0;
    // The temporary file lives beside the final one, so that placing it is a link or a
    // rename within one file system.
    const QString folder = finalName.left(finalName.lastIndexOf(QLatin1Char('/')) + 1);
    // Unnamed where the file system allows: a process killed while writing leaves nothing.
    const QByteArray nativeFolder =
        QFile::encodeName(folder.isEmpty() ? QStringLiteral(".") : folder);
    const int unnamed = ::open(nativeFolder.constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (unnamed >= 0) {
        FFd = unnamed;
        FUnnamed = true;
        return true;
    }
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
        error = Failure(finalName, qt_error_string(errno));
        return false;
    }
    // Otherwise a named one, starting with a dot so that file browsers hide it; a killed
    // process leaves it behind, and RemoveStaleTempFiles clears it at a later start.
    for (int tries = 0; tries < 100; ++tries) {
        const QByteArray path = QFile::encodeName(
            folder + QStringLiteral(".snapix-%1.tmp")
                         .arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0')));
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            FFd = fd;
            FTempPath = path;
            return true;
        }
        if (errno != EEXIST) {
            break;
        }
    }
    error = Failure(finalName, qt_error_string(errno));
    return false;
}

bool TPhotoFile::Append(const char* data, size_t size) {
    if (FFd < 0 || !FWriteError.isEmpty()) {
        return false;
    }
    if (!WriteAll(FFd, data, size, FWriteError)) {
        return false;
    }
    // Start writing this piece to disk now, so that the flush before placing the file
    // finds little left to do.
    ::sync_file_range(FFd, FWritten, off64_t(size), SYNC_FILE_RANGE_WRITE);
    FWritten += int64_t(size);
    return true;
}

void TPhotoFile::SetWriteError(const QString& error) {
    if (FWriteError.isEmpty()) {
        FWriteError = error.isEmpty() ? qt_error_string(EIO) : error;
    }
}

TPlaceResult TPhotoFile::Place(const TNameFor& nameFor) {
    TPlaceResult result;
    result.FileName = nameFor(0);
    if (FFd < 0) {
        result.Error = Failure(result.FileName, qt_error_string(EBADF));
        return result;
    }
    QString why = FWriteError;
    if (why.isEmpty() && ::fdatasync(FFd) != 0) {
        why = qt_error_string(errno);
    }
    // A named file is closed before it is placed, so that a failing close (which some
    // network file systems use to report a failed write) keeps it from being placed. An
    // unnamed one needs its descriptor to be placed; its data are on disk already.
    if (!FUnnamed) {
        const int fd = FFd;
        FFd = -1;
        if (::close(fd) != 0 && why.isEmpty()) {
            why = qt_error_string(errno);
        }
    }
    if (!why.isEmpty()) {
        Discard();
        result.Error = Failure(result.FileName, why);
        return result;
    }

    for (unsigned attempt = 0; attempt < MaxNameAttempts; ++attempt) {
        const QString name = attempt == 0 ? result.FileName : nameFor(attempt);
        const QByteArray native = QFile::encodeName(name);
        const int refusal =
            FUnnamed ? LinkNoReplace(FFd, native) : PlaceNoReplace(FTempPath, native);
        if (refusal == 0) {
            FTempPath.clear();  // it is the photograph now
            Discard();
            result.Ok = true;
            result.FileName = name;
            return result;
        }
        if (refusal != EEXIST) {
            Discard();
            result.Error = Failure(name, qt_error_string(refusal));
            return result;
        }
    }
    Discard();
    result.Error =
        Failure(result.FileName,
                QStringLiteral("已有 %1 个同名照片, 没有空闲的文件名").arg(MaxNameAttempts));
    return result;
}

TPlaceResult PlacePhotoFile(const TNameFor& nameFor, const TWriteContent& write) {
    TPhotoFile file;
    TPlaceResult result;
    if (!file.Open(nameFor(0), result.Error)) {
        result.FileName = nameFor(0);
        return result;
    }
    QString why;
    if (!write(file.Descriptor(), why)) {
        file.SetWriteError(why);
    }
    return file.Place(nameFor);
}

int RemoveStaleTempFiles(const QString& folder, std::chrono::seconds olderThan) {
    DIR* dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir) {
        return 0;
    }
    const time_t cutoff = ::time(nullptr) - time_t(olderThan.count());
    int removed = 0;
    while (const dirent* entry = ::readdir(dir)) {
        if (!IsTempFileName(entry->d_name)) {
            continue;
        }
        struct stat st {};
        if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(st.st_mode) && st.st_uid == ::geteuid() && st.st_mtime < cutoff &&
            ::unlinkat(::dirfd(dir), entry->d_name, 0) == 0) {
            ++removed;
        }
    }
    ::closedir(dir);
    return removed;
}

}  // namespace PhotoPipeline
