// One copy per user: the lock, the hand-over to the running copy, and recovery
// from a crashed copy's leftovers.
#include "app/SingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include "support/TestFiles.h"

namespace {

class SingleInstanceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(runtime.isValid());
        previous = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    }
    void TearDown() override { qputenv("XDG_RUNTIME_DIR", previous); }

    QTemporaryDir runtime;
    QByteArray previous;
};

// The pid of a process that has ended.
qint64 DeadPid() {
    QProcess p;
    p.start(QStringLiteral("true"), {});
    p.waitForFinished();
    return p.processId() ? p.processId() : 999999;
}

}  // namespace

TEST_F(SingleInstanceTest, SecondCopyAsksTheFirstToShowItself) {
    SingleInstance first;
    ASSERT_TRUE(first.TryStart());
    QSignalSpy shown(&first, &SingleInstance::ShowRequested);

    // The first copy answers only after it has passed the request on.
    SingleInstance second;
    EXPECT_FALSE(second.TryStart());
    EXPECT_EQ(shown.count(), 1);
    EXPECT_FALSE(second.HoldsLock());
}

TEST_F(SingleInstanceTest, LockAndSocketLiveInAFolderOnlyTheUserCanEnter) {
    SingleInstance first;
    ASSERT_TRUE(first.TryStart());
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(SingleInstance::RuntimeFolder()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_TRUE(QFile::exists(first.SocketPath()));
    EXPECT_TRUE(QFile::exists(first.LockPath()));
}

TEST_F(SingleInstanceTest, LeftoversOfACrashedCopyDoNotBlockANewStart) {
    QDir().mkpath(SingleInstance::RuntimeFolder());
    SingleInstance probe;
    // A lock naming a process that no longer runs, and a dead socket file.
    QFile lock(probe.LockPath());
    ASSERT_TRUE(lock.open(QIODevice::WriteOnly));
    lock.write(QByteArray::number(DeadPid()) + "\nsnapix\n" + QSysInfo::machineHostName().toUtf8() +
               "\n");
    lock.close();
    QFile socketFile(probe.SocketPath());
    ASSERT_TRUE(socketFile.open(QIODevice::WriteOnly));
    socketFile.close();

    SingleInstance fresh;
    ASSERT_TRUE(fresh.TryStart());
    QLocalSocket client;
    client.connectToServer(fresh.SocketPath());
    EXPECT_TRUE(client.waitForConnected(2000)) << "the new copy listens on the socket";
}

// What another user (or a crash) may leave at the private folder's name is
// refused and left exactly as it was; the program then runs unguarded.
TEST_F(SingleInstanceTest, RuntimeFolderThatIsNotAPlainOwnFolderIsRefusedAndLeftAlone) {
    const QString folder = SingleInstance::RuntimeFolder().chopped(1);
    const QString victim = runtime.filePath("victim");
    const QByteArray native = QFile::encodeName(folder);
    const struct {
        const char* name;
        bool rootOnly;  // only root can give a folder to another user
        std::function<bool()> plant;
    } cases[] = {
        {"link to another folder", false, [&] { return QFile::link(victim, folder); }},
        {"plain file", false, [&] { return QFile(folder).open(QIODevice::WriteOnly); }},
        {"folder of another user", true,
         [&] {
             return QDir().mkdir(folder) && ::chown(native.constData(), 65534, 65534) == 0 &&
                    ::chmod(native.constData(), 0755) == 0;
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.rootOnly && ::geteuid() != 0) {
            continue;
        }
        ASSERT_TRUE(QDir().mkdir(victim));
        ASSERT_EQ(::chmod(QFile::encodeName(victim).constData(), 0755), 0);
        ASSERT_TRUE(c.plant());
        struct stat before {};
        ASSERT_EQ(::lstat(native.constData(), &before), 0);

        SingleInstance copy;
        EXPECT_TRUE(copy.TryStart());
        EXPECT_FALSE(copy.HoldsLock());

        struct stat after {};
        ASSERT_EQ(::lstat(native.constData(), &after), 0);
        EXPECT_EQ(after.st_mode, before.st_mode);
        struct stat target {};
        ASSERT_EQ(::stat(QFile::encodeName(victim).constData(), &target), 0);
        EXPECT_EQ(target.st_mode & 07777, 0755u);
        EXPECT_TRUE(EntriesOf(victim).isEmpty());
        EXPECT_TRUE(EntriesOf(folder).isEmpty());

        QFile::remove(folder);
        QDir(folder).removeRecursively();
        QDir(victim).removeRecursively();
    }
}

// A copy that holds the lock but does not answer (stopped, hung, or without
// its socket) must not keep a later start from running.
TEST_F(SingleInstanceTest, RunningCopyThatDoesNotAnswerDoesNotBlockALaterStart) {
    QDir().mkpath(SingleInstance::RuntimeFolder());
    SingleInstance probe;
    const int held = ::open(QFile::encodeName(probe.LockPath()).constData(),
                            O_RDONLY | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);

    {
        SCOPED_TRACE("no socket");
        SingleInstance later;
        EXPECT_TRUE(later.TryStart());
        EXPECT_FALSE(later.HoldsLock());
    }
    {
        SCOPED_TRACE("a socket that takes the request and never answers");
        QLocalServer mute;
        ASSERT_TRUE(mute.listen(probe.SocketPath()));
        SingleInstance later;
        EXPECT_TRUE(later.TryStart());
        EXPECT_FALSE(later.HoldsLock());
        EXPECT_TRUE(mute.hasPendingConnections());
    }
    ::close(held);
}

TEST_F(SingleInstanceTest, SecondProgramStartExitsQuietlyWhileTheFirstRuns) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("SNAPIX_VIRTUAL_CAMERA"), QStringLiteral("1"));

    QProcess first;
    first.setProcessEnvironment(env);
    first.start(QStringLiteral(SNAPIX_BINARY), {});
    ASSERT_TRUE(first.waitForStarted());
    SingleInstance observer;
    // The first copy is up once it listens.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            QLocalSocket s;
            s.connectToServer(observer.SocketPath());
            return s.waitForConnected(100);
        },
        10000));

    QProcess second;
    second.setProcessEnvironment(env);
    second.start(QStringLiteral(SNAPIX_BINARY), {});
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(second.readAllStandardOutput().isEmpty());
    EXPECT_EQ(first.state(), QProcess::Running);

    // A copy killed outright leaves its lock and socket; the next start runs.
    first.kill();
    first.waitForFinished();
    QProcess third;
    third.setProcessEnvironment(env);
    third.start(QStringLiteral(SNAPIX_BINARY), {});
    ASSERT_TRUE(third.waitForStarted());
    EXPECT_FALSE(third.waitForFinished(1500)) << "the new start must run, not hand over";
    third.kill();
    third.waitForFinished();
}
