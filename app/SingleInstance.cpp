// Single running copy per user.
#include "app/SingleInstance.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>

namespace {

constexpr int kConnectTimeoutMs = 1000;
const QByteArray kShowRequest = "show\n";

// Makes the folder, or takes an existing one, only when it is a real folder
// owned by this user and private to it; nobody else may reach the socket.
bool EnsurePrivateFolder(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    ::mkdir(native.constData(), 0700);
    struct stat st {};
    if (::lstat(native.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) {
        return false;
    }
    if ((st.st_mode & 0077) != 0 && ::chmod(native.constData(), 0700) != 0) {
        return false;
    }
    return true;
}

}  // namespace

SingleInstance::SingleInstance(const QString& name, QObject* parent)
    : QObject(parent), FName(name) {}

SingleInstance::~SingleInstance() = default;

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
    if (!EnsurePrivateFolder(RuntimeFolder())) {
        // No safe place for the lock: run as a first copy rather than not at all.
        return true;
    }
    FLock = std::make_unique<QLockFile>(LockPath());
    // Never stale by age: only a holder that no longer runs loses the lock.
    FLock->setStaleLockTime(0);
    if (FLock->tryLock(0)) {
        // A crashed copy may have left its socket behind.
        QLocalServer::removeServer(SocketPath());
        FServer = new QLocalServer(this);
        FServer->setSocketOptions(QLocalServer::UserAccessOption);
        connect(FServer, &QLocalServer::newConnection, this, &SingleInstance::OnConnection);
        FServer->listen(SocketPath());
        return true;
    }
    if (FLock->error() != QLockFile::LockFailedError) {
        // The lock could not be made at all (folder unusable): first copy.
        return true;
    }
    // Another copy holds the lock. While it is still starting it may not
    // listen yet; then there is nothing to show and this copy just ends.
    QLocalSocket socket;
    socket.connectToServer(SocketPath());
    if (socket.waitForConnected(kConnectTimeoutMs)) {
        socket.write(kShowRequest);
        socket.waitForBytesWritten(kConnectTimeoutMs);
        socket.disconnectFromServer();
    }
    return false;
}

void SingleInstance::OnConnection() {
    while (QLocalSocket* socket = FServer->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            while (socket->canReadLine()) {
                if (socket->readLine() == kShowRequest) {
                    emit ShowRequested();
                }
            }
        });
    }
}
