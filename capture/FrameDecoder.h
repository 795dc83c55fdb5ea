// Turns a camera's frames into the B, G, R pictures the program uses: Motion-JPEG
// through libjpeg-turbo, or, made smaller for the live picture, through our own reading
// of its coefficients (TJpegPreview); YUYV through libyuv. A frame whose data is damaged
// or short is refused, never half shown. One caller at a time (the GUI thread).
#pragma once

#include <memory>
#include <vector>

#include <QImage>
#include <QSize>

#include "capture/JpegPreview.h"
#include "capture/NativeFrame.h"

class TFrameDecoder {
  public:
    TFrameDecoder();
    ~TFrameDecoder();
    TFrameDecoder(const TFrameDecoder&) = delete;
    TFrameDecoder& operator=(const TFrameDecoder&) = delete;

    // Whether this decoder knows the fourcc.
    static bool Decodes(uint32_t pixelFormat);

    // `frame` into `picture` (`format`: QImage::Format_BGR888, or Format_RGB32 for a
    // picture to be shown, which is cheaper to make and to stretch; top row first): at
    // its full size, or, where the format scales cheaply (Motion-JPEG: by eighths), at
    // the smallest size that is still at least `atLeast` both ways (an empty `atLeast`:
    // full size). `picture` is reused when it has the size and format and nobody else
    // holds it. 0; -EBADMSG when the frame is damaged, short or not a camera's (picture
    // then undefined); -ENOTSUP for a format it does not know; -EINVAL for another
    // picture format.
    int Decode(const TNativeFrame& frame, QImage& picture, QSize atLeast = QSize(),
               QImage::Format format = QImage::Format_BGR888);

  private:
    struct TJpeg;
    int DecodeJpeg(const TNativeFrame& frame, QImage& picture, QSize atLeast,
                   QImage::Format format);
    int DecodeYuyv(const TNativeFrame& frame, QImage& picture, QImage::Format format);

    std::unique_ptr<TJpeg> FJpeg;
    TJpegPreview FPreview;         // Motion-JPEG scaled for the live picture
    std::vector<uint8_t> FPlanes;  // a band of 4:2:2 planes for YUYV
};
