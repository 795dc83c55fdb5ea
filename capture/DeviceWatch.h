// TDeviceWatch: waits for a camera that went away to come back, by asking the
// system for it once a second.
#pragma once

#include <functional>

#include <QObject>

#include "capture/SysDevEnum.h"

class QTimer;

class TDeviceWatch : public QObject {
    Q_OBJECT

  public:
    static constexpr int kPollMs = 1000;

    explicit TDeviceWatch(QObject* owner = nullptr);
    ~TDeviceWatch() override;

    // Starts (or restarts) waiting for `device`: the same node answering
    // again, or a capture node with the same card name and bus position. The
    // first look is one poll period from now: a camera that just vanished is
    // not back within the same moment.
    void Watch(const TDeviceIdentity& device);
    void Cancel();
    bool Watching() const;
    const TDeviceIdentity& Device() const { return FDevice; }

    // One look now; true when the device answers (OnReturned has then run and
    // the watch has ended).
    bool Poll();

    // Where the device answers when it is back. Nothing while it is absent.
    static std::optional<TMoniker> FindDevice(const TDeviceIdentity& device);

    // GUI thread, once per watch: the device answers again, at `moniker`.
    std::function<void(const TMoniker& moniker)> OnReturned;

  private:
    TDeviceIdentity FDevice;
    QTimer* FTimer;  // owned (Qt child)
};
