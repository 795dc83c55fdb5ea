// Camera frames made in a test: a picture as YUYV or Motion-JPEG bytes, the way the
// virtual camera makes its own, and damaged copies of them.
#pragma once

#include <memory>
#include <vector>

#include <linux/videodev2.h>

#include <QImage>

#include "capture/NativeFrame.h"
#include "capture/VirtualPicture.h"

inline TNativeFrame NativeFrameOf(uint32_t fourcc, int width, int height,
                                  std::vector<uint8_t> bytes) {
    TNativeFrame frame;
    frame.PixelFormat = fourcc;
    frame.Width = width;
    frame.Height = height;
    frame.BytesPerLine = fourcc == V4L2_PIX_FMT_YUYV ? uint32_t(width) * 2 : 0;
    frame.Size = bytes.size();
    frame.Bytes = std::make_shared<const std::vector<uint8_t>>(std::move(bytes));
    return frame;
}

// B, G, R rows of a QImage::Format_BGR888 picture, back to back.
inline std::vector<uint8_t> RowsOf(const QImage& bgr) {
    std::vector<uint8_t> rows(std::size_t(bgr.width()) * bgr.height() * 3);
    for (int y = 0; y < bgr.height(); ++y) {
        std::memcpy(&rows[std::size_t(y) * bgr.width() * 3], bgr.constScanLine(y),
                    std::size_t(bgr.width()) * 3);
    }
    return rows;
}

inline TNativeFrame YuyvFrame(const QImage& bgr) {
    std::vector<uint8_t> yuyv(std::size_t(bgr.width()) * bgr.height() * 2);
    vcam::BgrToYuyv(RowsOf(bgr).data(), bgr.width(), bgr.height(), yuyv.data());
    return NativeFrameOf(V4L2_PIX_FMT_YUYV, bgr.width(), bgr.height(), std::move(yuyv));
}

inline TNativeFrame MjpegFrame(const QImage& bgr, vcam::TMjpegStyle style = {}) {
    std::vector<uint8_t> jpeg;
    vcam::EncodeMjpeg(RowsOf(bgr).data(), bgr.width(), bgr.height(), 80, style, jpeg);
    return NativeFrameOf(V4L2_PIX_FMT_MJPEG, bgr.width(), bgr.height(), std::move(jpeg));
}

// The first `fraction` of the frame's bytes, as a short transfer leaves it.
inline TNativeFrame Cut(const TNativeFrame& frame, double fraction) {
    std::vector<uint8_t> bytes(frame.Data(), frame.Data() + std::size_t(frame.Size * fraction));
    return NativeFrameOf(frame.PixelFormat, frame.Width, frame.Height, std::move(bytes));
}

inline QImage Filled(int width, int height, QColor colour) {
    QImage picture(width, height, QImage::Format_BGR888);
    picture.fill(colour);
    return picture;
}
