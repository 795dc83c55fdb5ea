// Starts of the real program beside what crashes, hands and other programs
// leave: odd things at the lock's name and settings files that are no plain
// files. Each start must come up; a later start must still hand over to it.
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <memory>

#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include "app/SingleInstance.h"
#include "support/TestFiles.h"

namespace {

constexpr int kStartTimeoutMs = 20000;

class ProgramStartTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(runtime.isValid());
        ASSERT_TRUE(program.isValid());
        previous = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
        // The program folder is the executable's: a copy of our own keeps the
        // settings file and the photographs in the test's folder.
        binary = program.filePath("snapix");
        if (::link(SNAPIX_BINARY, QFile::encodeName(binary).constData()) != 0) {
            ASSERT_TRUE(QFile::copy(QStringLiteral(SNAPIX_BINARY), binary));
        }
        env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("SNAPIX_VIRTUAL_CAMERA"), QStringLiteral("1"));
    }
    void TearDown() override {
        for (auto& p : processes) {
            p->kill();
            p->waitForFinished();
        }
        qputenv("XDG_RUNTIME_DIR", previous);
    }

    QProcess* Launch() {
        processes.push_back(std::make_unique<QProcess>());
        QProcess* p = processes.back().get();
        p->setProcessEnvironment(env);
        p->start(binary, {});
        return p;
    }

    void Stop(QProcess* p) {
        p->kill();
        p->waitForFinished();
    }

    // The copy that holds the lock answers a request to show its window once
    // its window is up and its event loop runs.
    bool Answers(const QProcess* p) {
        const QString socketPath = SingleInstance().SocketPath();
        return QTest::qWaitFor(
                   [&] {
                       if (p->state() == QProcess::NotRunning) {
                           return true;  // reported below
                       }
                       QLocalSocket s;
                       s.connectToServer(socketPath);
                       if (!s.waitForConnected(200)) {
                           return false;
                       }
                       s.write("show\n");
                       return s.waitForReadyRead(2000) && s.readLine() == "shown\n";
                   },
                   kStartTimeoutMs) &&
               p->state() == QProcess::Running;
    }

    QTemporaryDir runtime;
    QTemporaryDir program;
    QByteArray previous;
    QString binary;
    QProcessEnvironment env;
    std::vector<std::unique_ptr<QProcess>> processes;
};

// Peak resident memory of a running process, in kB.
qint64 PeakMemoryKb(const QProcess* p) {
    for (const QByteArray& line :
         ReadBytes(QStringLiteral("/proc/%1/status").arg(p->processId())).split('\n')) {
        if (line.startsWith("VmHWM:")) {
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
        }
    }
    return -1;
}

}  // namespace

TEST_F(ProgramStartTest, NothingAtTheLockNameBlocksAStart) {
    const QString lock = SingleInstance().LockPath();
    const QString elsewhere = program.filePath("elsewhere");
    WriteBytes(elsewhere, "not yours");
    const struct {
        const char* name;
        std::function<bool()> plant;
    } cases[] = {
        {"empty file", [&] { return QFile(lock).open(QIODevice::WriteOnly); }},
        {"garbage", [&] { return WriteBytes(lock, QByteArray("\xff\x00zz\n-1\n", 8)), true; }},
        {"folder with a file in it",
         [&] { return QDir().mkdir(lock) && QFile(lock + "/x").open(QIODevice::WriteOnly); }},
        {"dangling link", [&] { return QFile::link(program.filePath("gone"), lock); }},
        {"link to a file elsewhere", [&] { return QFile::link(elsewhere, lock); }},
        {"pipe", [&] { return ::mkfifo(QFile::encodeName(lock).constData(), 0600) == 0; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(QDir().mkpath(SingleInstance::RuntimeFolder()));
        ASSERT_TRUE(c.plant());

        QProcess* first = Launch();
        ASSERT_TRUE(Answers(first)) << "the start must come up";
        QProcess* second = Launch();
        ASSERT_TRUE(second->waitForFinished(kStartTimeoutMs)) << "a later start hands over";
        EXPECT_EQ(second->exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(second->exitCode(), 0);
        EXPECT_EQ(first->state(), QProcess::Running);
        EXPECT_EQ(ReadBytes(elsewhere), "not yours");

        Stop(first);
        ASSERT_TRUE(QDir(SingleInstance::RuntimeFolder()).removeRecursively());
    }
}

TEST_F(ProgramStartTest, SettingsFileThatIsNoPlainFileNeitherHangsNorFillsMemory) {
    const QString ini = program.filePath("snapix.ini");
    const struct {
        const char* name;
        std::function<bool()> plant;
    } cases[] = {
        {"pipe", [&] { return ::mkfifo(QFile::encodeName(ini).constData(), 0600) == 0; }},
        {"link to /dev/zero", [&] { return QFile::link("/dev/zero", ini); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(c.plant());
        struct stat before {};
        ASSERT_EQ(::lstat(QFile::encodeName(ini).constData(), &before), 0);

        QProcess* copy = Launch();
        ASSERT_TRUE(Answers(copy)) << "the start must come up";
        EXPECT_LT(PeakMemoryKb(copy), 100 * 1024);
        Stop(copy);

        struct stat after {};
        ASSERT_EQ(::lstat(QFile::encodeName(ini).constData(), &after), 0);
        EXPECT_EQ(after.st_mode, before.st_mode) << "left as it was";
        EXPECT_EQ(after.st_ino, before.st_ino);
        ASSERT_TRUE(QFile::remove(ini));
    }
}
