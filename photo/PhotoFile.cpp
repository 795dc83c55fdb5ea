// Writing a photograph file safely: never half-written, never replacing another file.
#include "photo/PhotoFile.h"

#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>

namespace PhotoPipeline {

bool WriteAll(int fd, const char* data, size_t size, QString& error) {
    if (const int r = WriteAll(fd, data, size); r != 0) {
        error = qt_error_string(r);
        return false;
    }
    return true;
}

namespace {

QString Failure(const QString& fileName, const QString& why) {
    return QStringLiteral("无法保存照片 \"%1\": %2").arg(fileName, why);
}

}  // namespace

bool TPhotoFile::Open(const QString& finalName, QString& error) {
    FWriteError.clear();
    FWritten = 0;
    // The temporary file lives beside the final one, so that placing it is a link or a
    // rename within one file system.
    const QString folder = finalName.left(finalName.lastIndexOf(QLatin1Char('/')) + 1);
    if (const int r = FTemp.Open(QFile::encodeName(folder)); r != 0) {
        error = Failure(finalName, qt_error_string(r));
        return false;
    }
    return true;
}

bool TPhotoFile::Append(const char* data, size_t size) {
    const int fd = FTemp.Descriptor();
    if (fd < 0 || !FWriteError.isEmpty()) {
        return false;
    }
    if (!WriteAll(fd, data, size, FWriteError)) {
        return false;
    }
    // Start writing this piece to disk now, so that the flush before placing the file
    // finds little left to do.
    ::sync_file_range(fd, FWritten, off64_t(size), SYNC_FILE_RANGE_WRITE);
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
    QString why = FWriteError;
    if (FTemp.Descriptor() < 0) {
        why = qt_error_string(EBADF);
    } else if (why.isEmpty()) {
        if (const int r = FTemp.Finish(); r != 0) {
            why = qt_error_string(r);
        }
    }
    if (!why.isEmpty()) {
        FTemp.Discard();
        result.Error = Failure(result.FileName, why);
        return result;
    }

    for (unsigned attempt = 0; attempt < MaxNameAttempts; ++attempt) {
        const QString name = attempt == 0 ? result.FileName : nameFor(attempt);
        const int refusal = FTemp.PlaceNoReplace(QFile::encodeName(name));
        if (refusal == 0) {
            result.Ok = true;
            result.FileName = name;
            return result;
        }
        if (refusal != EEXIST) {
            FTemp.Discard();
            result.Error = Failure(name, qt_error_string(refusal));
            return result;
        }
    }
    FTemp.Discard();
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

TPlaceResult PlaceBytes(const QString& base, const QString& suffix, const QByteArray& bytes) {
    return PlacePhotoFile(
        [&](unsigned attempt) {
            return base + (attempt == 0 ? QString() : QStringLiteral("_%1").arg(attempt)) + suffix;
        },
        [&](int fd, QString& why) {
            return WriteAll(fd, bytes.constData(), size_t(bytes.size()), why);
        });
}

}  // namespace PhotoPipeline
