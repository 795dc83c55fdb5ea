// Making the picture a video window paints from a live frame's picture: stretched to the
// window's size (and converted to 32 bits where it has 24) in one pass.
#include "widgets/FrameStretcher.h"

#include <cstring>

#include <QPaintEngine>
#include <QPainter>
#include <QWidget>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include "photo/Simd.h"

namespace {

// Source pixel under the centre of target pixel i of n, for a source of m pixels.
inline int Nearest(int i, int n, int m) {
    return int(((2 * int64_t(i) + 1) * m) / (2 * int64_t(n)));
}

#if defined(__x86_64__) || defined(__i386__)
__attribute__((target("ssse3"))) void GatherSsse3(const uint8_t* source, const int32_t* base,
                                                  const uint8_t* shuffle, int pieces,
                                                  uint32_t* target) {
    const __m128i alpha = _mm_set1_epi32(int(0xFF000000));
    for (int p = 0; p < pieces; ++p) {
        const __m128i window = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + base[p]));
        const __m128i pixels = _mm_shuffle_epi8(
            window, _mm_loadu_si128(reinterpret_cast<const __m128i*>(shuffle + 16 * p)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(target + 4 * p), _mm_or_si128(pixels, alpha));
    }
}

__attribute__((target("avx2"))) void GatherAvx2(const uint8_t* source, const int32_t* base,
                                                const uint8_t* shuffle, int pieces,
                                                uint32_t* target) {
    const __m256i alpha = _mm256_set1_epi32(int(0xFF000000));
    int p = 0;
    for (; p + 2 <= pieces; p += 2) {
        const __m256i window =
            _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(source + base[p + 1]),
                                reinterpret_cast<const __m128i*>(source + base[p]));
        const __m256i pixels = _mm256_shuffle_epi8(
            window, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(shuffle + 16 * p)));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(target + 4 * p),
                            _mm256_or_si256(pixels, alpha));
    }
    GatherSsse3(source, base + p, shuffle + 16 * p, pieces - p, target + 4 * p);
}
#endif

}  // namespace

void TFrameStretcher::Prepare(int sourceWidth, int width, int bytesPerPixel) {
    FSourceWidth = sourceWidth;
    FWidth = width;
    FBytesPerPixel = bytesPerPixel;
    FColumn.resize(size_t(width));
    for (int x = 0; x < width; ++x) {
        FColumn[size_t(x)] = bytesPerPixel * Nearest(x, width, sourceWidth);
    }
    FBase.clear();
    FShuffle.clear();
    // Four target pixels of an enlargement span at most four source pixels: 16 bytes at
    // most.
    if (width >= sourceWidth) {
        const int pieces = width / 4;
        FBase.resize(size_t(pieces));
        FShuffle.resize(16 * size_t(pieces));
        for (int p = 0; p < pieces; ++p) {
            const int base = FColumn[size_t(4 * p)];
            FBase[size_t(p)] = base;
            for (int k = 0; k < 4; ++k) {
                const int at = FColumn[size_t(4 * p + k)] - base;
                uint8_t* s = &FShuffle[16 * size_t(p) + 4 * size_t(k)];
                s[0] = uint8_t(at);
                s[1] = uint8_t(at + 1);
                s[2] = uint8_t(at + 2);
                s[3] = bytesPerPixel == 4 ? uint8_t(at + 3) : 0x80;  // zero, then alpha
            }
        }
    }
    // Pieces whose window ends inside the row; the rest are done pixel by pixel.
    FSafePieces = 0;
    while (FSafePieces < int(FBase.size()) &&
           FBase[size_t(FSafePieces)] + 16 <= bytesPerPixel * sourceWidth) {
        ++FSafePieces;
    }
}

void TFrameStretcher::StretchRow(const uint8_t* source, uint32_t* target) const {
    if (FBytesPerPixel == 4 && FWidth == FSourceWidth) {
        std::memcpy(target, source, size_t(FWidth) * 4);  // a row as it is
        return;
    }
    int x = 0;
#if defined(__x86_64__) || defined(__i386__)
    const PhotoPipeline::TSimdLevel level = PhotoPipeline::SimdLevel();
    if (FSafePieces > 0 && level != PhotoPipeline::slPlain) {
        const int pieces = FSafePieces;
        if (level == PhotoPipeline::slAvx2) {
            GatherAvx2(source, FBase.data(), FShuffle.data(), pieces, target);
        } else {
            GatherSsse3(source, FBase.data(), FShuffle.data(), pieces, target);
        }
        x = 4 * pieces;
    }
#endif
    if (FBytesPerPixel == 4) {  // (shrinking) a gather measured no faster than this
        for (; x < FWidth; ++x) {
            std::memcpy(target + x, source + FColumn[size_t(x)], 4);
        }
    }
    for (; x < FWidth; ++x) {
        const uint8_t* p = source + FColumn[size_t(x)];
        target[x] = 0xFF000000u | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
    }
}

void TFrameStretcher::Stretch(const QImage& frame, QImage& picture) {
    if (picture.format() == QImage::Format_RGB32 && !picture.isNull()) {
        Stretch(frame, picture.bits(), picture.bytesPerLine(), picture.width(), picture.height());
    }
}

void TFrameStretcher::Stretch(const QImage& frame, uint8_t* out, qsizetype stride, int width,
                              int height) {
    const int sw = frame.width(), sh = frame.height();
    const bool wide = frame.format() == QImage::Format_RGB32;
    if ((!wide && frame.format() != QImage::Format_BGR888) || frame.isNull() || width <= 0 ||
        height <= 0) {
        return;
    }
    const int bytesPerPixel = wide ? 4 : 3;
    if (sw != FSourceWidth || width != FWidth || bytesPerPixel != FBytesPerPixel) {
        Prepare(sw, width, bytesPerPixel);
    }
    PhotoPipeline::ClearUpperVectorState();
    int shown = -1;
    for (int y = 0; y < height; ++y) {
        const int row = Nearest(y, height, sh);
        uint8_t* target = out + y * stride;
        if (row == shown) {
            std::memcpy(target, target - stride, size_t(width) * 4);
            continue;
        }
        StretchRow(frame.constScanLine(row), reinterpret_cast<uint32_t*>(target));
        shown = row;
    }
}

void TFrameStretcher::Paint(QPainter& painter, const QWidget& widget, const QImage& picture) {
    if (PaintIntoBackingStore(painter, widget, picture)) {
        return;
    }
    const qreal ratio = widget.devicePixelRatioF();
    const QSize pixels = (QSizeF(widget.size()) * ratio).toSize();
    if (FWindowPicture.size() != pixels) {
        FWindowPicture = QImage(pixels, QImage::Format_RGB32);
    }
    if (!FWindowPicture.isNull()) {
        Stretch(picture, FWindowPicture);
        FWindowPicture.setDevicePixelRatio(ratio);
        painter.drawImage(QPoint(0, 0), FWindowPicture);
    }
}

bool TFrameStretcher::PaintIntoBackingStore(QPainter& painter, const QWidget& widget,
                                            const QImage& picture) {
    // A raster window paints into an image of the whole top-level window: writing our
    // rectangle of it directly saves making a picture and copying it (at 1920 x 1080, 8 MB
    // each frame). Anything else (a pixmap for grab(), a scaled or clipped device, another
    // pixel layout) goes the ordinary way.
    QPaintEngine* engine = painter.paintEngine();
    if (!engine || engine->type() != QPaintEngine::Raster) {
        return false;
    }
    QPaintDevice* device = engine->paintDevice();
    if (!device || device->devType() != QInternal::Image) {
        return false;
    }
    auto* store = static_cast<QImage*>(device);
    const QImage::Format format = store->format();
    if ((format != QImage::Format_RGB32 && format != QImage::Format_ARGB32 &&
         format != QImage::Format_ARGB32_Premultiplied) ||
        store->devicePixelRatio() != 1.0 || !store->isDetached()) {
        return false;
    }
    const QTransform transform = painter.deviceTransform();
    if (transform.type() > QTransform::TxTranslate) {
        return false;
    }
    const QRect target(QPoint(qRound(transform.dx()), qRound(transform.dy())), widget.size());
    const QRegion clip = engine->systemClip();
    if (!store->rect().contains(target) || (!clip.isEmpty() && !clip.contains(target))) {
        return false;
    }
    const qsizetype stride = store->bytesPerLine();
    Stretch(picture, store->bits() + target.y() * stride + target.x() * 4, stride, target.width(),
            target.height());
    return true;
}
