// Device enumeration over /dev/video* and the virtual camera.
#include "capture/SysDevEnum.h"

#include <algorithm>
#include <cstring>

#include <linux/videodev2.h>

#include <QDir>

#include "capture/LibV4l2Io.h"
#include "capture/VirtualCamera.h"

namespace {

// Capture-capable nodes only: metadata and output nodes are skipped. Returns
// the card name, or an empty string when the node is not a camera.
QString ProbeCaptureNode(const QString& path) {
    VideoIo& io = LibV4l2Io::Instance();
    const int fd = io.Open(path.toStdString());
    if (fd < 0) {
        return {};
    }
    v4l2_capability cap{};
    QString name;
    if (io.Ioctl(fd, VIDIOC_QUERYCAP, &cap) == 0) {
        const uint32_t caps =
            (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
        if (caps & V4L2_CAP_VIDEO_CAPTURE) {
            const auto* card = reinterpret_cast<const char*>(cap.card);
            name = QString::fromLocal8Bit(card, static_cast<int>(strnlen(card, sizeof cap.card)));
            if (name.isEmpty()) {
                name = path;
            }
        }
    }
    io.Close(fd);
    return name.left(255);
}

}  // namespace

bool TSysDevEnum::VirtualCameraEnabled() {
    return qgetenv("SNAPIX_VIRTUAL_CAMERA") == "1";
}

TSysDevEnum::TSysDevEnum() {
    QStringList nodes =
        QDir(QStringLiteral("/dev")).entryList({QStringLiteral("video*")}, QDir::System);
    // Node-number order: video2 before video10.
    std::sort(nodes.begin(), nodes.end(), [](const QString& a, const QString& b) {
        return a.mid(5).toInt() < b.mid(5).toInt();
    });
    for (const QString& node : nodes) {
        const QString path = QStringLiteral("/dev/") + node;
        const QString name = ProbeCaptureNode(path);
        if (!name.isEmpty()) {
            FDevices.push_back({name, TMoniker{path, &LibV4l2Io::Instance()}});
        }
    }
    if (VirtualCameraEnabled()) {
        FDevices.push_back(
            {QString::fromLatin1(VirtualCamera::kName),
             TMoniker{QString::fromLatin1(VirtualCamera::kPath), &VirtualCamera::Instance()}});
    }
}

QString TSysDevEnum::DeviceName(int index) const {
    return index >= 0 && index < DeviceCount() ? FDevices[index].name : QString();
}

TMoniker TSysDevEnum::DeviceMoniker(int index) const {
    return index >= 0 && index < DeviceCount() ? FDevices[index].moniker : TMoniker{};
}
