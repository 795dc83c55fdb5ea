// Placing a photograph file: never over an existing file, never half-written, nothing
// left behind on failure.
#include "photo/PhotoFile.h"

#include <atomic>
#include <cerrno>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>

#include "support/TestFiles.h"

#include <gtest/gtest.h>

using namespace PhotoPipeline;

namespace {

// "<dir>/photo.jpg", then "<dir>/photo_1.jpg", "<dir>/photo_2.jpg", ...
TNameFor Suffixed(const QString& dir) {
    return [dir](unsigned attempt) {
        return attempt == 0 ? dir + QStringLiteral("/photo.jpg")
                            : dir + QStringLiteral("/photo_%1.jpg").arg(attempt);
    };
}

TWriteContent Content(const QByteArray& data) {
    return [data](int fd, QString& why) {
        return WriteAll(fd, data.constData(), size_t(data.size()), why);
    };
}

}  // namespace

TEST(PhotoFile, PlacesTheContentUnderTheNameAndLeavesNoTemporaryFile) {
    QTemporaryDir dir;
    const TPlaceResult r = PlacePhotoFile(Suffixed(dir.path()), Content("JPEG bytes"));
    ASSERT_TRUE(r.Ok) << r.Error.toStdString();
    EXPECT_EQ(r.FileName, dir.path() + "/photo.jpg");
    EXPECT_EQ(ReadBytes(r.FileName), QByteArray("JPEG bytes"));
    EXPECT_EQ(EntriesOf(dir.path()), QStringList{"photo.jpg"});
}

TEST(PhotoFile, ATakenNameIsNeverReplacedTheFirstFreeOneIsUsed) {
    QTemporaryDir dir;
    WriteBytes(dir.path() + "/photo.jpg", "first");
    WriteBytes(dir.path() + "/photo_1.jpg", "second");
    const TPlaceResult r = PlacePhotoFile(Suffixed(dir.path()), Content("third"));
    ASSERT_TRUE(r.Ok) << r.Error.toStdString();
    EXPECT_EQ(r.FileName, dir.path() + "/photo_2.jpg");
    EXPECT_EQ(ReadBytes(dir.path() + "/photo.jpg"), QByteArray("first"));
    EXPECT_EQ(ReadBytes(dir.path() + "/photo_1.jpg"), QByteArray("second"));
    EXPECT_EQ(ReadBytes(r.FileName), QByteArray("third"));
    EXPECT_EQ(EntriesOf(dir.path()).size(), 3);
}

TEST(PhotoFile, ConcurrentPhotosUnderOneNameAllSurviveIntact) {
    // No window between finding a free name and taking it: writers racing for the same
    // names each end up with a file of their own, holding exactly their content.
    QTemporaryDir dir;
    constexpr int Writers = 6, PhotosEach = 15;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int w = 0; w < Writers; ++w) {
        threads.emplace_back([&, w] {
            for (int i = 0; i < PhotosEach; ++i) {
                const QByteArray content = QByteArray::number(w * 1000 + i).repeated(500);
                if (!PlacePhotoFile(Suffixed(dir.path()), Content(content)).Ok) {
                    ++failures;
                }
            }
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    EXPECT_EQ(failures.load(), 0);
    const QStringList files = EntriesOf(dir.path());
    ASSERT_EQ(files.size(), Writers * PhotosEach);
    QSet<QByteArray> contents;
    for (const QString& f : files) {
        contents.insert(ReadBytes(dir.path() + "/" + f));
    }
    EXPECT_EQ(contents.size(), Writers * PhotosEach) << "a photograph was overwritten";
}

TEST(PhotoFile, FolderThatCannotHoldFilesFailsWithTheNameAndTheSystemReason) {
    QTemporaryDir dir;
    WriteBytes(dir.path() + "/plain-file", "not a folder");
    struct Case {
        const char* What;
        QString Folder;
        QString Reason;
    };
    const Case cases[] = {
        {"missing folder", dir.path() + "/gone", qt_error_string(ENOENT)},
        {"folder under a regular file", dir.path() + "/plain-file/sub", qt_error_string(ENOTDIR)},
    };
    for (const Case& c : cases) {
        const TPlaceResult r = PlacePhotoFile(Suffixed(c.Folder), Content("bytes"));
        EXPECT_FALSE(r.Ok) << c.What;
        EXPECT_TRUE(r.Error.contains(c.Folder + "/photo.jpg")) << r.Error.toStdString();
        EXPECT_TRUE(r.Error.contains(c.Reason)) << r.Error.toStdString();
    }
    EXPECT_EQ(EntriesOf(dir.path()), QStringList{"plain-file"});
}

TEST(PhotoFile, AWriteThatFailsRemovesTheTemporaryFileAndKeepsTheOldPhoto) {
    QTemporaryDir dir;
    WriteBytes(dir.path() + "/photo.jpg", "earlier photograph");
    const TPlaceResult r = PlacePhotoFile(Suffixed(dir.path()), [](int fd, QString& why) {
        QString ignored;
        WriteAll(fd, "partial", 7, ignored);
        why = qt_error_string(ENOSPC);
        return false;
    });
    EXPECT_FALSE(r.Ok);
    EXPECT_TRUE(r.Error.contains(qt_error_string(ENOSPC))) << r.Error.toStdString();
    EXPECT_EQ(EntriesOf(dir.path()), QStringList{"photo.jpg"});
    EXPECT_EQ(ReadBytes(dir.path() + "/photo.jpg"), QByteArray("earlier photograph"));
}

TEST(PhotoFile, AFullDiskFailsAndLeavesNothingBehind) {
    QTemporaryDir dir;
    const QByteArray target = QFile::encodeName(dir.path());
    if (::mount("snapix-test", target.constData(), "tmpfs", 0, "size=64k") != 0) {
        GTEST_SKIP() << "cannot mount a small tmpfs here (" << qt_error_string(errno).toStdString()
                     << "); the injected write failure above covers the same path";
    }
    struct Unmount {
        QByteArray Path;
        ~Unmount() { ::umount2(Path.constData(), MNT_DETACH); }
    } unmount{target};

    const TPlaceResult r =
        PlacePhotoFile(Suffixed(dir.path()), Content(QByteArray(256 * 1024, 'x')));
    EXPECT_FALSE(r.Ok);
    EXPECT_TRUE(r.Error.contains(qt_error_string(ENOSPC))) << r.Error.toStdString();
    EXPECT_TRUE(EntriesOf(dir.path()).isEmpty()) << EntriesOf(dir.path()).join(' ').toStdString();
}

// While a photograph is written, its temporary file has no name in the folder, so a process
// killed at that moment leaves nothing behind.
TEST(PhotoFile, TheFileBeingWrittenHasNoNameUntilItIsPlaced) {
    QTemporaryDir dir;
    const int probe = ::open(QFile::encodeName(dir.path()).constData(), O_TMPFILE | O_WRONLY, 0600);
    if (probe < 0) {
        GTEST_SKIP() << "no unnamed files on this file system; RemoveStaleTempFiles covers it";
    }
    ::close(probe);
    WriteBytes(dir.path() + "/photo.jpg", "earlier");
    QStringList whileWriting;
    const TPlaceResult r = PlacePhotoFile(Suffixed(dir.path()), [&](int fd, QString& why) {
        whileWriting = EntriesOf(dir.path());
        return WriteAll(fd, "new", 3, why);
    });
    ASSERT_TRUE(r.Ok) << r.Error.toStdString();
    EXPECT_EQ(whileWriting, QStringList{"photo.jpg"});
    EXPECT_EQ(ReadBytes(dir.path() + "/photo.jpg"), QByteArray("earlier"));
    EXPECT_EQ(ReadBytes(dir.path() + "/photo_1.jpg"), QByteArray("new"));
}

// Only this program's leftovers (".snapix-" and 16 hex digits) that are old enough to be
// nobody's current work go.
TEST(PhotoFile, StaleTemporaryFilesOfKilledCopiesAreRemoved) {
    QTemporaryDir dir;
    const QString stale = ".snapix-0123456789abcdef.tmp";
    const struct {
        QString name;
        bool old;
        bool removed;
    } cases[] = {
        {stale, true, true},
        {".snapix-fedcba9876543210.tmp", false, false},  // another copy may be writing it
        {".snapix-notes.tmp", true, false},
        {"snapix-0123456789abcdef.tmp", true, false},
        {".snapix-0123456789abcdef.tmp.jpg", true, false},
        {"20240101120000.jpg", true, false},
    };
    const QDateTime twoMinutesAgo = QDateTime::currentDateTime().addSecs(-120);
    for (const auto& c : cases) {
        WriteBytes(dir.path() + "/" + c.name, "x");
        if (c.old) {
            QFile f(dir.path() + "/" + c.name);
            ASSERT_TRUE(f.open(QIODevice::ReadWrite));
            ASSERT_TRUE(f.setFileTime(twoMinutesAgo, QFileDevice::FileModificationTime));
        }
    }
    // A folder and a link of that name are not leftovers of ours.
    ASSERT_TRUE(QDir(dir.path()).mkdir(".snapix-aaaaaaaaaaaaaaaa.tmp"));
    ASSERT_TRUE(QFile::link(dir.path() + "/20240101120000.jpg",
                            dir.path() + "/.snapix-bbbbbbbbbbbbbbbb.tmp"));

    EXPECT_EQ(RemoveStaleTempFiles(dir.path()), 1);
    for (const auto& c : cases) {
        EXPECT_EQ(QFileInfo::exists(dir.path() + "/" + c.name), !c.removed) << c.name.toStdString();
    }
    EXPECT_TRUE(QFileInfo(dir.path() + "/.snapix-aaaaaaaaaaaaaaaa.tmp").isDir());
    EXPECT_TRUE(QFileInfo(dir.path() + "/.snapix-bbbbbbbbbbbbbbbb.tmp").isSymLink());
    EXPECT_EQ(RemoveStaleTempFiles(dir.path() + "/missing"), 0);
}
