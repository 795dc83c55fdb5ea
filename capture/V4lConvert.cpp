// libv4lconvert over the device seam.
#include "capture/V4lConvert.h"

#include <cerrno>
#include <cstring>

#include <libv4l-plugin.h>
#include <libv4lconvert.h>

#include "capture/VideoIo.h"

namespace {

// libv4lconvert calls back with the pointer it was given: the seam, and libc's
// convention of -1 and errno.
int SeamIoctl(void* priv, int fd, unsigned long request, void* arg) {
    const int r = static_cast<VideoIo*>(priv)->Ioctl(fd, request, arg);
    if (r < 0) {
        errno = -r;
        return -1;
    }
    return r;
}

// Reading and writing frames is libv4l2's business, never asked of us here.
ssize_t NoRead(void*, int, void*, size_t) {
    errno = EINVAL;
    return -1;
}

ssize_t NoWrite(void*, int, const void*, size_t) {
    errno = EINVAL;
    return -1;
}

void* NoInit(int) {
    return nullptr;
}

void NoClose(void*) {}

const libv4l_dev_ops kSeamOps = {NoInit,  NoClose, SeamIoctl, NoRead,  NoWrite, nullptr,
                                 nullptr, nullptr, nullptr,   nullptr, nullptr, nullptr};

}  // namespace

TV4lConvert::TV4lConvert(VideoIo* io, int fd)
    : FIo(io), FFd(fd), FData(v4lconvert_create_with_dev_ops(fd, io, &kSeamOps)) {}

TV4lConvert::~TV4lConvert() {
    v4lconvert_destroy(FData);
}

bool TV4lConvert::Processing() const {
    return FData && v4lconvert_supported_dst_fmt_only(FData);
}

int TV4lConvert::ControlIoctl(unsigned long request, void* arg) {
    if (!FData) {
        return FIo->Ioctl(FFd, request, arg);
    }
    int r;
    switch (request) {
        case VIDIOC_QUERYCTRL:
            r = v4lconvert_vidioc_queryctrl(FData, arg);
            break;
        case VIDIOC_G_CTRL:
            r = v4lconvert_vidioc_g_ctrl(FData, arg);
            break;
        case VIDIOC_S_CTRL:
            r = v4lconvert_vidioc_s_ctrl(FData, arg);
            break;
        case VIDIOC_G_EXT_CTRLS:
            r = v4lconvert_vidioc_g_ext_ctrls(FData, arg);
            break;
        case VIDIOC_S_EXT_CTRLS:
            r = v4lconvert_vidioc_s_ext_ctrls(FData, arg);
            break;
        case VIDIOC_TRY_EXT_CTRLS:
            r = v4lconvert_vidioc_try_ext_ctrls(FData, arg);
            break;
        default:
            return FIo->Ioctl(FFd, request, arg);
    }
    return r < 0 ? -errno : r;
}

int TV4lConvert::Convert(const TNativeFrame& frame, QImage& picture) {
    if (!FData || frame.IsNull() || frame.Width <= 0 || frame.Height <= 0) {
        return -EBADMSG;
    }
    v4l2_format source{}, target{};
    source.type = target.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    source.fmt.pix.pixelformat = frame.PixelFormat;
    source.fmt.pix.width = target.fmt.pix.width = uint32_t(frame.Width);
    source.fmt.pix.height = target.fmt.pix.height = uint32_t(frame.Height);
    source.fmt.pix.bytesperline = frame.BytesPerLine;
    source.fmt.pix.sizeimage = uint32_t(frame.Size);
    source.fmt.pix.field = target.fmt.pix.field = V4L2_FIELD_NONE;
    target.fmt.pix.pixelformat = V4L2_PIX_FMT_BGR24;
    const std::size_t row = std::size_t(frame.Width) * 3;
    target.fmt.pix.bytesperline = uint32_t(row);
    target.fmt.pix.sizeimage = uint32_t(row * frame.Height);
    if (picture.size() != QSize(frame.Width, frame.Height) ||
        picture.format() != QImage::Format_BGR888 || !picture.isDetached()) {
        picture = QImage(frame.Width, frame.Height, QImage::Format_BGR888);
    }
    // libv4lconvert writes rows back to back; a picture with padded lines gets them
    // through a buffer.
    const bool direct = std::size_t(picture.bytesPerLine()) == row;
    if (!direct) {
        FRows.resize(row * frame.Height);
    }
    uint8_t* out = direct ? picture.bits() : FRows.data();
    const int r = v4lconvert_convert(FData, &source, &target, const_cast<uint8_t*>(frame.Data()),
                                     int(frame.Size), out, int(row * frame.Height));
    if (r < 0) {
        return -EBADMSG;
    }
    if (!direct) {
        for (int y = 0; y < frame.Height; ++y) {
            std::memcpy(picture.scanLine(y), FRows.data() + row * y, row);
        }
    }
    return 0;
}
