// TDeviceWatch: polling for a lost camera.
#include "capture/DeviceWatch.h"

#include <QTimer>

TDeviceWatch::TDeviceWatch(QObject* owner) : QObject(owner), FTimer(new QTimer(this)) {
    // A coarse timer: waiting costs one wake-up and a few device calls a
    // second, nothing in between.
    FTimer->setInterval(kPollMs);
    FTimer->setTimerType(Qt::CoarseTimer);
    connect(FTimer, &QTimer::timeout, this, &TDeviceWatch::Poll);
}

TDeviceWatch::~TDeviceWatch() = default;

void TDeviceWatch::Watch(const TDeviceIdentity& device) {
    FDevice = device;
    FTimer->start();
}

void TDeviceWatch::Cancel() {
    FTimer->stop();
}

bool TDeviceWatch::Watching() const {
    return FTimer->isActive();
}

bool TDeviceWatch::Poll() {
    const std::optional<TMoniker> found = FindDevice(FDevice);
    if (!found) {
        return false;
    }
    FTimer->stop();
    if (OnReturned) {
        OnReturned(*found);
    }
    return true;
}

std::optional<TMoniker> TDeviceWatch::FindDevice(const TDeviceIdentity& device) {
    if (device.moniker.IsNone()) {
        return std::nullopt;
    }
    if (ProbeCaptureDevice(device.moniker)) {
        return device.moniker;
    }
    // Only system nodes can come back under another number; an in-process
    // camera keeps its one name.
    if (!device.moniker.path.startsWith(QStringLiteral("/dev/")) || device.card.isEmpty() ||
        device.busInfo.isEmpty()) {
        return std::nullopt;
    }
    for (const QString& path : VideoNodePaths()) {
        if (path == device.moniker.path) {
            continue;
        }
        const auto found = ProbeCaptureDevice(TMoniker{path, device.moniker.io});
        if (found && found->card == device.card && found->busInfo == device.busInfo) {
            return found->moniker;
        }
    }
    return std::nullopt;
}
