// The 1:1 picture widget and the nearest-pixel stretch behind the zoom.
#include "photocut/PhotoView.h"

#include <cstring>
#include <vector>

#include <QPainter>

TPhotoView::TPhotoView(QWidget* parent) : QWidget(parent) {
    // Paints only the picture; whatever is behind shows where it does not reach.
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void TPhotoView::SetPicture(const QImage& picture) {
    FPicture = picture;
    update();
}

void TPhotoView::paintEvent(QPaintEvent*) {
    if (FPicture.isNull()) {
        return;
    }
    QPainter painter(this);
    painter.drawImage(0, 0, FPicture);
}

QImage StretchNearest(const QImage& source, int width, int height) {
    if (source.isNull() || width <= 0 || height <= 0) {
        return QImage();
    }
    const bool packed24 =
        source.format() == QImage::Format_BGR888 || source.format() == QImage::Format_RGB888;
    const QImage from = packed24 ? source : source.convertToFormat(QImage::Format_BGR888);
    QImage to(width, height, from.format());
    if (to.isNull()) {
        return to;
    }
    const qint64 sw = from.width();
    const qint64 sh = from.height();
    // Byte offset of each target column's source pixel, sampled at the pixel centre.
    std::vector<int> column(static_cast<size_t>(width));
    for (int x = 0; x < width; ++x) {
        column[size_t(x)] = int((2 * x + 1) * sw / (2 * width)) * 3;
    }
    for (int y = 0; y < height; ++y) {
        const uchar* in = from.constScanLine(int((2 * y + 1) * sh / (2 * qint64(height))));
        uchar* out = to.scanLine(y);
        for (int x = 0; x < width; ++x, out += 3) {
            const uchar* p = in + column[size_t(x)];
            out[0] = p[0];
            out[1] = p[1];
            out[2] = p[2];
        }
    }
    return to;
}
