// Decoding camera frames into B, G, R pictures.
#include "capture/FrameDecoder.h"

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <initializer_list>
#include <cstdio>

#include <linux/videodev2.h>

#include <jerror.h>
#include <jpeglib.h>
#include <libyuv/convert_argb.h>
#include <libyuv/planar_functions.h>

#include "photo/PictureMemory.h"

namespace {

// Rows decoded or converted at a time.
constexpr int kBand = 16;

// Whether `picture` can take a decoding of `size` without a new allocation. A whole
// photograph's picture comes from the photographs' own memory: its pages are brought in
// ahead of time (PrepareBgrPicture) or kept from the last one, where a fresh block would
// have the system fault in and zero it page by page inside the photograph.
void Prepare(QImage& picture, QSize size, QImage::Format format) {
    if (picture.size() != size || picture.format() != format || !picture.isDetached()) {
        if (format == QImage::Format_BGR888) {
            picture = PhotoPipeline::NewBgrPicture(size.width(), size.height());
        }
        if (picture.isNull() || picture.size() != size) {
            picture = QImage(size, format);
        }
    }
}

// The eighths of its size a JPEG frame is decoded at: the fewest of `choices` (rising,
// the last 8) that still give at least `atLeast` both ways (sizes scaled by M/8 round up).
int JpegEighths(const TNativeFrame& frame, QSize atLeast, std::initializer_list<int> choices) {
    if (atLeast.width() <= 0 || atLeast.height() <= 0) {
        return 8;  // no smaller size asked for: the whole picture
    }
    for (const int m : choices) {
        if ((frame.Width * m + 7) / 8 >= atLeast.width() &&
            (frame.Height * m + 7) / 8 >= atLeast.height()) {
            return m;
        }
    }
    return 8;
}

bool IsJpeg(uint32_t pixelFormat) {
    return pixelFormat == V4L2_PIX_FMT_MJPEG || pixelFormat == V4L2_PIX_FMT_JPEG;
}

}  // namespace

// libjpeg's state, kept from frame to frame. Its error exit jumps back to Decode's
// setjmp; everything the jump crosses is plain C state.
struct TFrameDecoder::TJpeg {
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    std::jmp_buf jump;
    bool damaged = false;

    static void Exit(j_common_ptr common) {
        std::longjmp(reinterpret_cast<TJpeg*>(common->client_data)->jump, 1);
    }
    // Warnings that mean the picture is wrong somewhere: data ended early, a marker or a
    // bad code in the middle of the image data, a stream out of order. Others (bytes
    // between segments, an unusual header) leave the picture whole.
    static void Message(j_common_ptr common, int level) {
        if (level >= 0) {
            return;
        }
        switch (common->err->msg_code) {
            case JWRN_HIT_MARKER:
            case JWRN_HUFF_BAD_CODE:
            case JWRN_JPEG_EOF:
            case JWRN_MUST_RESYNC:
            case JWRN_NOT_SEQUENTIAL:
            case JWRN_BOGUS_PROGRESSION:
                reinterpret_cast<TJpeg*>(common->client_data)->damaged = true;
                break;
            default:
                break;
        }
    }

    TJpeg() {
        info.err = jpeg_std_error(&errors);
        errors.error_exit = Exit;
        errors.emit_message = Message;
        info.client_data = this;
        jpeg_create_decompress(&info);
    }
    ~TJpeg() { jpeg_destroy_decompress(&info); }
};

TFrameDecoder::TFrameDecoder() : FJpeg(std::make_unique<TJpeg>()) {}

TFrameDecoder::~TFrameDecoder() = default;

bool TFrameDecoder::Decodes(uint32_t pixelFormat) {
    return IsJpeg(pixelFormat) || pixelFormat == V4L2_PIX_FMT_YUYV;
}

int TFrameDecoder::Decode(const TNativeFrame& frame, QImage& picture, QSize atLeast,
                          QImage::Format format) {
    if (format != QImage::Format_BGR888 && format != QImage::Format_RGB32) {
        return -EINVAL;
    }
    if (frame.IsNull() || frame.Width <= 0 || frame.Height <= 0 ||
        frame.Size > frame.Bytes->size()) {
        return -EBADMSG;
    }
#if Q_BYTE_ORDER == Q_BIG_ENDIAN
    // The decoders write 32-bit pixels B, G, R, X in memory: that is Format_RGB32 on
    // little-endian machines only.
    if (format == QImage::Format_RGB32) {
        const int r = Decode(frame, picture, atLeast, QImage::Format_BGR888);
        if (r == 0) {
            picture.convertTo(format);
        }
        return r;
    }
#endif
    switch (frame.PixelFormat) {
        case V4L2_PIX_FMT_MJPEG:
        case V4L2_PIX_FMT_JPEG:
            return DecodeJpeg(frame, picture, atLeast, format);
        case V4L2_PIX_FMT_YUYV:
            return DecodeYuyv(frame, picture, format);
        default:
            return -ENOTSUP;
    }
}

int TFrameDecoder::DecodeJpeg(const TNativeFrame& frame, QImage& picture, QSize atLeast,
                              QImage::Format format) {
    TJpeg& jpeg = *FJpeg;
    jpeg_decompress_struct& info = jpeg.info;
    jpeg.damaged = false;
    if (setjmp(jpeg.jump)) {
        jpeg_abort_decompress(&info);
        return -EBADMSG;
    }
    jpeg_mem_src(&info, frame.Data(), static_cast<unsigned long>(frame.Size));
    if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK) {
        jpeg_abort_decompress(&info);
        return -EBADMSG;
    }
    // A camera's frame is one baseline picture of the size the camera runs at, some
    // cameras padding it to whole blocks (up to 16 more rows or columns, cut off here):
    // anything else (progressive scans by the thousand, a larger picture) is not
    // decoded, so a frame never costs more than its pixels.
    const int extraWidth = int(info.image_width) - frame.Width;
    const int extraHeight = int(info.image_height) - frame.Height;
    if (info.progressive_mode || info.arith_code || extraWidth < 0 || extraWidth > 16 ||
        extraHeight < 0 || extraHeight > 16 ||
        (info.num_components != 3 && info.num_components != 1)) {
        jpeg_abort_decompress(&info);
        return -EBADMSG;
    }
    // A camera's frame made smaller is ours, in any eighths up to a half; libjpeg-turbo
    // decodes the rest, reducing only by 1/8, 1/4 and 1/2: its other scales take a slower
    // inverse transform, measured slower at 3/8 than at 1/2.
    const bool ours = TJpegPreview::Reads(info);
    const int eighths = ours ? JpegEighths(frame, atLeast, {1, 2, 3, TJpegPreview::kMostEighths, 8})
                             : JpegEighths(frame, atLeast, {1, 2, 4, 8});
    const QSize wanted((frame.Width * eighths + 7) / 8, (frame.Height * eighths + 7) / 8);
    if (ours && eighths < 8) {
        const int r =
            jpeg.damaged ? -EBADMSG : FPreview.Decode(info, eighths, wanted, format, picture);
        jpeg_abort_decompress(&info);
        return r;
    }
    info.scale_num = static_cast<unsigned>(eighths);
    info.scale_denom = 8;
    info.out_color_space = format == QImage::Format_RGB32 ? JCS_EXT_BGRX : JCS_EXT_BGR;
    jpeg_start_decompress(&info);
    const QSize out(int(info.output_width), int(info.output_height));
    Prepare(picture, out, format);
    JSAMPROW rows[kBand];
    while (info.output_scanline < info.output_height) {
        const int first = int(info.output_scanline);
        const int count = std::min<int>(kBand, out.height() - first);
        for (int i = 0; i < count; ++i) {
            rows[i] = picture.scanLine(first + i);
        }
        jpeg_read_scanlines(&info, rows, JDIMENSION(count));
    }
    jpeg_finish_decompress(&info);
    if (jpeg.damaged) {
        return -EBADMSG;
    }
    if (out != wanted) {
        picture = picture.copy(QRect(QPoint(0, 0), wanted));  // the padding cut off
    }
    return 0;
}

int TFrameDecoder::DecodeYuyv(const TNativeFrame& frame, QImage& picture, QImage::Format format) {
    const int width = frame.Width, height = frame.Height;
    const std::size_t stride = std::max<std::size_t>(frame.BytesPerLine, std::size_t(width) * 2);
    // A short frame is refused: its last rows would be the previous frame's.
    if (width % 2 != 0 || frame.Size < stride * (height - 1) + std::size_t(width) * 2) {
        return -EBADMSG;
    }
    Prepare(picture, QSize(width, height), format);
    const int half = width / 2;
    FPlanes.resize(std::size_t(width) * kBand * 2);
    uint8_t* y = FPlanes.data();
    uint8_t* u = y + std::size_t(width) * kBand;
    uint8_t* v = u + std::size_t(half) * kBand;
    const libyuv::YuvConstants* levels =
        frame.FullRange ? &libyuv::kYuvJPEGConstants : &libyuv::kYuvI601Constants;
    // A band at a time through 4:2:2 planes, which stay in the cache between the steps.
    for (int first = 0; first < height; first += kBand) {
        const int rows = std::min(kBand, height - first);
        libyuv::YUY2ToI422(frame.Data() + stride * first, int(stride), y, width, u, half, v, half,
                           width, rows);
        const auto convert =
            format == QImage::Format_RGB32 ? libyuv::I422ToARGBMatrix : libyuv::I422ToRGB24Matrix;
        convert(y, width, u, half, v, half, picture.scanLine(first), int(picture.bytesPerLine()),
                levels, width, rows);
    }
    return 0;
}
