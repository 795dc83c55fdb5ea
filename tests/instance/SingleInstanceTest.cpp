// One copy per user: the lock, the hand-over to the running copy, and recovery
// from a crashed copy's leftovers.
#include "app/SingleInstance.h"

#include <sys/stat.h>

#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

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

    SingleInstance second;
    EXPECT_FALSE(second.TryStart());
    EXPECT_TRUE(shown.wait(3000));
    EXPECT_EQ(shown.count(), 1);
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
