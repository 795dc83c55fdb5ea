// Single running copy per user.
#include "app/SingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QRandomGenerator>
#include <QTimer>

namespace {

// How long a later copy waits for the running copy to answer its request.
constexpr int kAnswerTimeoutMs = 1000;
// How long a starting copy waits for another one that is repairing the lock's
// name (a few system calls, unless that copy was stopped half-way).
constexpr int kRepairWaitMs = 2000;
const QByteArray kShowRequest = "show\n";
const QByteArray kShowAnswer = "shown\n";

// A descriptor closed when it goes out of scope.
class TFd {
  public:
    explicit TFd(int fd) : FFd(fd) {}
    ~TFd() {
        if (FFd >= 0) {
            ::close(FFd);
        }
    }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    int get() const { return FFd; }

  private:
    int FFd;
};

// The private folder, created 0700 when missing. An existing one is taken only
// when the name itself is a folder owned by this user (never a link to one:
// another user could plant /tmp/snapix-<uid> pointing anywhere), and is then
// made private through its descriptor. -1 when it cannot be used.
int OpenPrivateFolder(const QString& path) {
    QByteArray native = QFile::encodeName(path);
    // With a trailing "/" the system follows a link in the last component.
    while (native.size() > 1 && native.endsWith('/')) {
        native.chop(1);
    }
    ::mkdir(native.constData(), 0700);
    const int fd = ::open(native.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() ||
        ((st.st_mode & 0077) != 0 && ::fchmod(fd, 0700) != 0)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Opens the lock file, made when missing, without following a link and without
// blocking on a pipe. -1 when its name holds anything but a plain file.
int OpenLockFile(int folderFd, const char* name) {
    const int fd = ::openat(
        folderFd, name, O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600);
    if (fd < 0) {
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Removes whatever has `name` in the folder. A folder with something in it is
// renamed out of the way rather than emptied: its content is not ours to delete.
void RemoveEntry(int folderFd, const char* name) {
    if (::unlinkat(folderFd, name, 0) == 0 || errno == ENOENT) {
        return;
    }
    if (::unlinkat(folderFd, name, AT_REMOVEDIR) == 0 || errno == ENOENT) {
        return;
    }
    const QByteArray aside = QByteArray(".") + name + ".broken-" +
                             QByteArray::number(QRandomGenerator::global()->generate64(), 16);
    ::renameat(folderFd, name, folderFd, aside.constData());
}

// The folder's own lock, held only while the lock's name is repaired.
bool LockFolder(int folderFd) {
    for (int waited = 0; waited < kRepairWaitMs; waited += 10) {
        if (::flock(folderFd, LOCK_EX | LOCK_NB) == 0) {
            return true;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) {
            return false;
        }
        ::usleep(10 * 1000);
    }
    return false;
}

enum class TLockResult { Held, Busy, Failed };

// Opens and locks the lock file; on Held, *lockFd is the descriptor to keep.
TLockResult TakeLock(int folderFd, const char* name, int* lockFd) {
    int fd = OpenLockFile(folderFd, name);
    if (fd < 0) {
        // Something other than a plain file has the lock's name: a folder, a
        // link, a pipe. Only such a thing is ever removed, and only under the
        // folder's own lock, so two copies starting together never remove the
        // lock file that one of them has just made and locked.
        if (!LockFolder(folderFd)) {
            return TLockResult::Failed;
        }
        struct stat st {};
        if (::fstatat(folderFd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(st.st_mode)) {
            RemoveEntry(folderFd, name);
        }
        fd = OpenLockFile(folderFd, name);
        ::flock(folderFd, LOCK_UN);
        if (fd < 0) {
            return TLockResult::Failed;
        }
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        *lockFd = fd;
        return TLockResult::Held;
    }
    const bool busy = errno == EWOULDBLOCK;
    ::close(fd);
    return busy ? TLockResult::Busy : TLockResult::Failed;
}

}  // namespace

SingleInstance::SingleInstance(const QString& name, QObject* parent)
    : QObject(parent), FName(name) {}

SingleInstance::~SingleInstance() {
    if (FLockFd >= 0) {
        ::close(FLockFd);
    }
}

QString SingleInstance::RuntimeFolder() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir(runtime).exists()) {
        return runtime + QStringLiteral("/snapix/");
    }
    return QStringLiteral("/tmp/snapix-%1/").arg(::geteuid());
}

QString SingleInstance::LockPath() const {
    return RuntimeFolder() + FName + QStringLiteral(".lock");
}

QString SingleInstance::SocketPath() const {
    return RuntimeFolder() + FName + QStringLiteral(".socket");
}

bool SingleInstance::TryStart() {
    const TFd folder(OpenPrivateFolder(RuntimeFolder()));
    if (folder.get() < 0) {
        // No safe place for the lock: run as a first copy rather than not at all.
        return true;
    }
    const QByteArray lockName = QFile::encodeName(FName + QStringLiteral(".lock"));
    switch (TakeLock(folder.get(), lockName.constData(), &FLockFd)) {
        case TLockResult::Held:
            Listen(folder.get());
            return true;
        case TLockResult::Failed:
            // The lock could not be made at all: run unguarded.
            return true;
        case TLockResult::Busy:
            break;
    }
    // Another copy holds the lock, so it is running: the kernel drops the lock
    // of a copy that has ended, however it ended. One that does not answer
    // (stopped, hung, or without its socket) must not keep this copy from
    // starting.
    return !HandOver();
}

void SingleInstance::Listen(int folderFd) {
    // This copy holds the lock, so the socket's name is its own: whatever has
    // it (a crashed copy's socket, or anything else) goes.
    RemoveEntry(folderFd, QFile::encodeName(FName + QStringLiteral(".socket")).constData());
    FServer = new QLocalServer(this);
    FServer->setSocketOptions(QLocalServer::UserAccessOption);
    connect(FServer, &QLocalServer::newConnection, this, &SingleInstance::OnConnection);
    FServer->listen(SocketPath());
}

bool SingleInstance::HandOver() {
    QLocalSocket socket;
    QEventLoop loop;
    bool answered = false;
    connect(&socket, &QLocalSocket::connected, &loop, [&] { socket.write(kShowRequest); });
    connect(&socket, &QLocalSocket::readyRead, &loop, [&] {
        while (socket.canReadLine()) {
            if (socket.readLine() == kShowAnswer) {
                answered = true;
                loop.quit();
            }
        }
    });
    connect(&socket, &QLocalSocket::errorOccurred, &loop, &QEventLoop::quit);
    QTimer::singleShot(kAnswerTimeoutMs, &loop, &QEventLoop::quit);
    socket.connectToServer(SocketPath());
    // A refused connection is reported at once, before the loop could see it.
    if (socket.state() != QLocalSocket::UnconnectedState) {
        loop.exec();
    }
    return answered;
}

void SingleInstance::OnConnection() {
    while (QLocalSocket* socket = FServer->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            while (socket->canReadLine()) {
                if (socket->readLine() == kShowRequest) {
                    emit ShowRequested();
                    socket->write(kShowAnswer);
                }
            }
        });
    }
}
