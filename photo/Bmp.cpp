// Uncompressed 24-bit BMP files of a photograph.
#include "photo/Bmp.h"

#include <cstring>

namespace PhotoPipeline {

namespace {

void PutLe16(char* p, uint16_t v) {
    p[0] = char(v & 0xFF);
    p[1] = char(v >> 8);
}

void PutLe32(char* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        p[i] = char((v >> (8 * i)) & 0xFF);
    }
}

qsizetype BmpRowBytes(int width) {
    return (qsizetype(width) * 3 + 3) & ~qsizetype(3);
}

}  // namespace

QByteArray BmpHeaders(int width, int height) {
    QByteArray h(54, '\0');
    char* p = h.data();
    const uint32_t imageBytes = uint32_t(BmpRowBytes(width) * height);
    // BITMAPFILEHEADER
    p[0] = 'B';
    p[1] = 'M';
    PutLe32(p + 2, 54 + imageBytes);
    PutLe32(p + 10, 54);
    // BITMAPINFOHEADER: positive height means bottom-up rows.
    PutLe32(p + 14, 40);
    PutLe32(p + 18, uint32_t(width));
    PutLe32(p + 22, uint32_t(height));
    PutLe16(p + 26, 1);   // planes
    PutLe16(p + 28, 24);  // bits per pixel
    PutLe32(p + 30, 0);   // BI_RGB
    PutLe32(p + 34, imageBytes);
    return h;
}

bool WriteBmp(const QImage& photo, const std::function<bool(const char*, size_t)>& write) {
    const int width = photo.isNull() ? 0 : photo.width();
    const int height = photo.isNull() ? 0 : photo.height();
    if (!photo.isNull() && photo.format() != QImage::Format_BGR888) {
        return false;
    }
    const QByteArray headers = BmpHeaders(width, height);
    if (!write(headers.constData(), size_t(headers.size()))) {
        return false;
    }
    // Rows are gathered into chunks of about 1 MB so that a large photo costs few writes.
    const qsizetype rowBytes = BmpRowBytes(width);
    const int rowsPerChunk = rowBytes > 0 ? int(qMax<qsizetype>(1, (1 << 20) / rowBytes)) : 1;
    QByteArray chunk(rowBytes * qMin(rowsPerChunk, qMax(height, 1)), '\0');
    for (int y = height - 1; y >= 0;) {
        char* out = chunk.data();
        int rows = 0;
        for (; rows < rowsPerChunk && y >= 0; ++rows, --y, out += rowBytes) {
            std::memcpy(out, photo.constScanLine(y), size_t(width) * 3);
            // The padding bytes were zeroed when the chunk was made and are never written.
        }
        if (!write(chunk.constData(), size_t(rows * rowBytes))) {
            return false;
        }
    }
    return true;
}

}  // namespace PhotoPipeline
