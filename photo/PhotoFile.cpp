// Writing a photograph file safely: never half-written, never replacing another file.
#include "photo/PhotoFile.h"

#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QRandomGenerator>

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

}  // namespace

TPhotoFile::~TPhotoFile() {
    Discard();
}

void TPhotoFile::Discard() {
    if (FFd >= 0) {
        ::close(FFd);
        FFd = -1;
    }
    if (!FTempPath.isEmpty()) {
        ::unlink(FTempPath.constData());
        FTempPath.clear();
    }
}

bool TPhotoFile::Open(const QString& finalName, QString& error) {
    Discard();
    FWriteError.clear();
    FWritten = 0;
    // The temporary file lives beside the final one, so that placing it is a rename
    // within one file system, and starts with a dot so that file browsers hide it.
    const QString folder = finalName.left(finalName.lastIndexOf(QLatin1Char('/')) + 1);
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
    const int fd = FFd;
    FFd = -1;
    if (::close(fd) != 0 && why.isEmpty()) {
        why = qt_error_string(errno);
    }
    if (!why.isEmpty()) {
        Discard();
        result.Error = Failure(result.FileName, why);
        return result;
    }

    for (unsigned attempt = 0; attempt < MaxNameAttempts; ++attempt) {
        const QString name = attempt == 0 ? result.FileName : nameFor(attempt);
        const int refusal = PlaceNoReplace(FTempPath, QFile::encodeName(name));
        if (refusal == 0) {
            FTempPath.clear();  // it is the photograph now
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

}  // namespace PhotoPipeline
