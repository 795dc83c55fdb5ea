// Turns a camera's frames into the B, G, R pictures the program uses: Motion-JPEG
// through libjpeg-turbo (scaled by the decoder itself when a smaller picture will do),
// YUYV through libyuv. A frame whose data is damaged or short is refused, never half
// shown. One caller at a time (the GUI thread).
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

    // `frame` into `picture` (QImage::Format_BGR888, top row first): at its full size,
    // or, where the format scales cheaply (Motion-JPEG: by 1/8, 1/4, 1/2), at the smallest
    // size that is still at least `atLeast` both ways (an empty `atLeast`: full
    // size). `picture` is reused when it has
    // the size and nobody else holds it. 0; -EBADMSG when the frame is damaged, short or
    // not a camera's (picture then undefined); -ENOTSUP for a format it does not know.
    int Decode(const TNativeFrame& frame, QImage& picture, QSize atLeast = QSize());

  private:
    struct TJpeg;
    int DecodeJpeg(const TNativeFrame& frame, QImage& picture, QSize atLeast);
    int DecodeYuyv(const TNativeFrame& frame, QImage& picture);

    std::unique_ptr<TJpeg> FJpeg;
    TJpegPreview FPreview;         // Motion-JPEG scaled for the live picture
    std::vector<uint8_t> FPlanes;  // a band of 4:2:2 planes for YUYV
};
