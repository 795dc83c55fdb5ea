// One running copy per user: a lock file and a local socket in a private
// per-user folder. The first copy holds the lock and listens; a later copy
// asks it to show its window and ends.
#pragma once

#include <memory>

#include <QLockFile>
#include <QObject>
#include <QString>

class QLocalServer;

class SingleInstance : public QObject {
    Q_OBJECT

  public:
    explicit SingleInstance(const QString& name = QStringLiteral("SnapixPlus"),
                            QObject* parent = nullptr);
    ~SingleInstance() override;

    // true: this is the first copy (it holds the lock until the process ends
    // and listens for later copies). false: another copy runs; it has been
    // asked to show its window (when it could be reached at all).
    bool TryStart();

    // The private folder holding the lock and the socket:
    // $XDG_RUNTIME_DIR/snapix/, or /tmp/snapix-<uid>/ without one.
    static QString RuntimeFolder();
    QString LockPath() const;
    QString SocketPath() const;

  signals:
    // A later copy started: show the window in its normal state.
    void ShowRequested();

  private:
    void OnConnection();

    QString FName;
    std::unique_ptr<QLockFile> FLock;
    QLocalServer* FServer = nullptr;  // owned (Qt child)
};
