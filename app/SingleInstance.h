// One running copy per user: a lock file and a local socket in a private
// per-user folder. The first copy holds the lock and listens; a later copy
// asks it to show its window and ends, or starts as a normal copy when the
// running one does not answer.
#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

class SingleInstance : public QObject {
    Q_OBJECT

  public:
    explicit SingleInstance(const QString& name = QStringLiteral("SnapixPlus"),
                            QObject* parent = nullptr);
    ~SingleInstance() override;

    // true: this copy runs. It holds the lock until the process ends and
    // listens for later copies, unless the private folder or the lock could
    // not be used, or the copy holding the lock did not answer within a
    // second: then it runs unguarded. false: another copy runs and has
    // answered that it shows its window.
    //
    // Runs a local event loop while it waits for that answer.
    bool TryStart();

    // The private folder holding the lock and the socket:
    // $XDG_RUNTIME_DIR/snapix/, or /tmp/snapix-<uid>/ without one.
    static QString RuntimeFolder();
    QString LockPath() const;
    QString SocketPath() const;

    // Whether this copy holds the lock.
    bool HoldsLock() const { return FLockFd >= 0; }

  signals:
    // A later copy started: show the window in its normal state.
    void ShowRequested();

  private:
    void Listen(int folderFd);
    bool HandOver();
    void OnConnection();

    QString FName;
    // flock'ed for the life of the process; the kernel drops the lock when
    // the process ends in any way, so no leftover can block a later start.
    int FLockFd = -1;
    QLocalServer* FServer = nullptr;  // owned (Qt child)
};
