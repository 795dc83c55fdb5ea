// A picture stretched to fill the widget.
#include "widgets/Image.h"

#include <QPainter>

TImage::TImage(QWidget* parent) : QWidget(parent) {}

void TImage::SetPicture(const QImage& picture) {
    FPicture = picture;
    update();
}

void TImage::paintEvent(QPaintEvent*) {
    if (FPicture.isNull()) {
        return;
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(rect(), FPicture);
}
