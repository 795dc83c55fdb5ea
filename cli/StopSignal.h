// Ctrl-C (SIGINT) and SIGTERM turned into a request the GUI thread reads: the first one
// asks the tool to stop after the current photograph, a second one ends it at once.
#pragma once

#include <functional>

#include <QObject>

class QSocketNotifier;

class TStopSignal final : public QObject {
    Q_OBJECT

  public:
    // Installs the handlers; there is one instance per process.
    explicit TStopSignal(QObject* owner = nullptr);
    ~TStopSignal() override;

    bool Requested() const { return FRequested; }
    // GUI thread, once, when the first signal arrives.
    std::function<void()> OnRequested;

  private:
    void Read();

    QSocketNotifier* FNotifier = nullptr;  // owned (Qt child)
    bool FRequested = false;
};
