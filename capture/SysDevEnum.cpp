// Device enumeration over /dev/video* and the virtual camera.
#include "capture/SysDevEnum.h"

#include <algorithm>
#include <cstring>

#include <linux/videodev2.h>

#include <QDir>

#include "capture/LibV4l2Io.h"
#include "capture/VirtualCamera.h"

namespace {

QString FixedText(const uint8_t* field, std::size_t size) {
    const auto* text = reinterpret_cast<const char*>(field);
    return QString::fromLocal8Bit(text, static_cast<qsizetype>(strnlen(text, size)));
}

}  // namespace

std::optional<TDeviceIdentity> ProbeCaptureDevice(const TMoniker& moniker) {
    if (moniker.IsNone()) {
        return std::nullopt;
    }
    VideoIo& io = *moniker.io;
    const int fd = io.Open(moniker.path.toStdString());
    if (fd < 0) {
        return std::nullopt;
    }
    v4l2_capability cap{};
    std::optional<TDeviceIdentity> identity;
    if (io.Ioctl(fd, VIDIOC_QUERYCAP, &cap) == 0) {
        // Capture-capable nodes only: metadata and output nodes are skipped.
        const uint32_t caps =
            (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
        if (caps & V4L2_CAP_VIDEO_CAPTURE) {
            QString card = FixedText(cap.card, sizeof cap.card);
            if (card.isEmpty()) {
                card = moniker.path;
            }
            identity = TDeviceIdentity{moniker, card.left(255),
                                       FixedText(cap.bus_info, sizeof cap.bus_info)};
        }
    }
    io.Close(fd);
    return identity;
}

QStringList VideoNodePaths() {
    QStringList nodes =
        QDir(QStringLiteral("/dev")).entryList({QStringLiteral("video*")}, QDir::System);
    std::sort(nodes.begin(), nodes.end(), [](const QString& a, const QString& b) {
        return a.mid(5).toInt() < b.mid(5).toInt();
    });
    for (QString& node : nodes) {
        node.prepend(QStringLiteral("/dev/"));
    }
    return nodes;
}

bool TSysDevEnum::VirtualCameraEnabled() {
    return qgetenv("SNAPIX_VIRTUAL_CAMERA") == "1";
}

TSysDevEnum::TSysDevEnum() {
    for (const QString& path : VideoNodePaths()) {
        if (const auto found = ProbeCaptureDevice(TMoniker{path, &LibV4l2Io::Instance()})) {
            FDevices.push_back({found->card, found->busInfo, found->moniker});
        }
    }
    if (VirtualCameraEnabled()) {
        // Listed whether or not it is plugged in, as a camera that is there.
        FDevices.push_back(
            {QString::fromLatin1(VirtualCamera::kName), QString::fromLatin1(VirtualCamera::kPath),
             TMoniker{QString::fromLatin1(VirtualCamera::kPath), &VirtualCamera::Instance()}});
    }
}

QString TSysDevEnum::DeviceName(int index) const {
    return index >= 0 && index < DeviceCount() ? FDevices[index].name : QString();
}

TMoniker TSysDevEnum::DeviceMoniker(int index) const {
    return index >= 0 && index < DeviceCount() ? FDevices[index].moniker : TMoniker{};
}

TDeviceIdentity TSysDevEnum::DeviceIdentity(int index) const {
    if (index < 0 || index >= DeviceCount()) {
        return {};
    }
    const Device& d = FDevices[index];
    return {d.moniker, d.name, d.busInfo};
}

int TSysDevEnum::IndexOf(const TMoniker& moniker) const {
    for (int i = 0; i < DeviceCount(); ++i) {
        if (FDevices[i].moniker == moniker) {
            return i;
        }
    }
    return -1;
}

void TSysDevEnum::SetDeviceMoniker(int index, const TMoniker& moniker) {
    if (index >= 0 && index < DeviceCount()) {
        FDevices[index].moniker = moniker;
    }
}
