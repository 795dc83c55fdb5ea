// Device enumeration over /dev/video* and the virtual camera.
#include "capture/SysDevEnum.h"

#include <algorithm>
#include <cstring>

#include <fcntl.h>

#include <linux/videodev2.h>

#include <QDir>
#include <QImage>

#include "capture/SystemVideoIo.h"
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
    const int fd = io.Open(moniker.path.toStdString(), O_RDWR | O_NONBLOCK);
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

namespace {
// The virtual cameras the switch names: "1" the 1080p one, else model names.
std::vector<const vcam::TModel*> VirtualModels() {
    return vcam::ModelsNamed(qgetenv("SNAPIX_VIRTUAL_CAMERA").toStdString());
}
}  // namespace

bool TSysDevEnum::VirtualCameraEnabled() {
    return !VirtualModels().empty();
}

QString TSysDevEnum::VirtualCameraPicture() {
    return VirtualCameraEnabled() ? qEnvironmentVariable("SNAPIX_VIRTUAL_CAMERA_PICTURE")
                                  : QString();
}

bool TSysDevEnum::ShowOnVirtualCameras(const QImage& picture) {
    const QImage bgr = picture.convertToFormat(QImage::Format_BGR888);
    bool shown = !bgr.isNull();
    for (const vcam::TModel* model : VirtualModels()) {
        shown =
            shown && VirtualCamera::Instance(*model).SetPicture(
                         bgr.constBits(), bgr.width(), bgr.height(), size_t(bgr.bytesPerLine()));
    }
    return shown;
}

TSysDevEnum::TSysDevEnum() {
    for (const QString& path : VideoNodePaths()) {
        if (const auto found = ProbeCaptureDevice(TMoniker{path, &SystemVideoIo::Instance()})) {
            FDevices.push_back({found->card, found->busInfo, found->moniker});
        }
    }
    for (const vcam::TModel* model : VirtualModels()) {
        // Listed whether or not it is plugged in, as a camera that is there.
        const QString path = QString::fromLatin1(model->path);
        FDevices.push_back({QString::fromLatin1(model->card), path,
                            TMoniker{path, &VirtualCamera::Instance(*model)}});
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
