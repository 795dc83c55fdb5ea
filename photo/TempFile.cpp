// A file being written beside the name it will take.
#include "photo/TempFile.h"

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

namespace {

std::function<void(const QByteArray&)>& BeforeRenameHook() {
    static std::function<void(const QByteArray&)> hook;
    return hook;
}

void BeforeRename(const QByteArray& temporaryPath) {
    if (const auto& hook = BeforeRenameHook()) {
        hook(temporaryPath);
    }
}

QByteArray HiddenName(const QByteArray& folder) {
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, "%016llx",
                  static_cast<unsigned long long>(QRandomGenerator::global()->generate64()));
    return folder + (folder.endsWith('/') ? "" : "/") + ".snapix-" + suffix + ".tmp";
}

// Gives the unnamed file `fd` the name `name` unless something already has it.
int LinkUnnamed(int fd, const QByteArray& name) {
    // Naming a descriptor through /proc needs no privilege; AT_EMPTY_PATH does, and is the
    // way left where /proc is not mounted.
    static const bool viaProc = ::access("/proc/self/fd", X_OK) == 0;
    const int done =
        viaProc ? ::linkat(AT_FDCWD, ("/proc/self/fd/" + QByteArray::number(fd)).constData(),
                           AT_FDCWD, name.constData(), AT_SYMLINK_FOLLOW)
                : ::linkat(fd, "", AT_FDCWD, name.constData(), AT_EMPTY_PATH);
    return done == 0 ? 0 : errno;
}

// Renames `from` to `to` unless something already has that name.
int RenameNoReplace(const QByteArray& from, const QByteArray& to) {
    BeforeRename(from);
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0) {
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) {
        return errno;
    }
    // A file system without the no-replace rename: a hard link refuses an existing name
    // just the same, and the temporary name is dropped afterwards.
    if (::link(from.constData(), to.constData()) != 0) {
        return errno;
    }
    ::unlink(from.constData());
    return 0;
}

}  // namespace

int TTempFile::Open(const QByteArray& folder, mode_t mode) {
    Discard();
    FFolder = folder.isEmpty() ? QByteArray(".") : folder;
    FFd = ::open(FFolder.constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
    if (FFd >= 0) {
        return 0;
    }
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
        return errno;
    }
    // A named one, starting with a dot so that file browsers hide it; a killed process
    // leaves it behind, and RemoveStaleTempFiles clears it at a later start.
    for (int tries = 0; tries < 100; ++tries) {
        const QByteArray name = HiddenName(FFolder);
        FFd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (FFd >= 0) {
            FName = name;
            return 0;
        }
        if (errno != EEXIST) {
            break;
        }
    }
    return errno;
}

int TTempFile::Finish() {
    if (FFd < 0) {
        return EBADF;
    }
    if (::fdatasync(FFd) != 0) {
        return errno;
    }
    if (!FName.isEmpty()) {
        const int fd = FFd;
        FFd = -1;
        if (::close(fd) != 0) {
            return errno;
        }
    }
    return 0;
}

int TTempFile::PlaceNoReplace(const QByteArray& final) {
    const int refusal = FName.isEmpty() ? LinkUnnamed(FFd, final) : RenameNoReplace(FName, final);
    if (refusal == 0) {
        FName.clear();  // it is the final file now
        Discard();
    }
    return refusal;
}

int TTempFile::Replace(const QByteArray& target) {
    if (FName.isEmpty()) {
        // A link cannot replace: the unnamed file first takes a fresh hidden name.
        for (int tries = 0; FName.isEmpty() && tries < 100; ++tries) {
            const QByteArray name = HiddenName(FFolder);
            if (const int r = LinkUnnamed(FFd, name); r == 0) {
                FName = name;
            } else if (r != EEXIST) {
                return r;
            }
        }
        if (FName.isEmpty()) {
            return EEXIST;
        }
    }
    BeforeRename(FName);
    if (::rename(FName.constData(), target.constData()) != 0) {
        return errno;
    }
    FName.clear();
    Discard();
    return 0;
}

void TTempFile::Discard() {
    if (FFd >= 0) {
        ::close(FFd);  // an unnamed file goes with its last descriptor
        FFd = -1;
    }
    if (!FName.isEmpty()) {
        ::unlink(FName.constData());
        FName.clear();
    }
}

int WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        data += n;
        size -= size_t(n);
    }
    return 0;
}

bool IsTempFileName(const char* name) {
    static const QRegularExpression pattern(QStringLiteral("^\\.snapix-[0-9a-f]{16}\\.tmp$"));
    return pattern.match(QLatin1String(name)).hasMatch();
}

int RemoveStaleTempFiles(const QString& folder, std::chrono::seconds olderThan) {
    DIR* dir = ::opendir(QFile::encodeName(folder.isEmpty() ? QStringLiteral(".") : folder).constData());
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

void SetBeforeRenameHook(std::function<void(const QByteArray& temporaryPath)> hook) {
    BeforeRenameHook() = std::move(hook);
}

}  // namespace PhotoPipeline
