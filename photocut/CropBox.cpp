// Crop box drawing and dragging.
#include "photocut/CropBox.h"

#include <QMouseEvent>
#include <QPainter>

TCropBox::TCropBox(QWidget* parent) : QWidget(parent) {
    setCursor(Qt::PointingHandCursor);
    // No background of its own: the photo shows through.
    setAttribute(Qt::WA_NoSystemBackground);
    setAutoFillBackground(false);
}

void TCropBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(QPen(Qt::red, 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(0, 0, width() - 1, height() - 1);
}

// Positions are taken from the pointer's screen position, not from positions inside the
// box, because the box moves under the pointer while it is dragged.
void TCropBox::mousePressEvent(QMouseEvent* event) {
    FDragging = true;
    FPressGlobal = event->globalPosition().toPoint();
    FPressPos = pos();
    event->accept();
}

void TCropBox::mouseMoveEvent(QMouseEvent* event) {
    if (!FDragging || event->buttons() == Qt::NoButton) {
        FDragging = false;
        return;
    }
    move(FPressPos + (event->globalPosition().toPoint() - FPressGlobal));
    event->accept();
}

void TCropBox::mouseReleaseEvent(QMouseEvent* event) {
    if (FDragging) {
        move(FPressPos + (event->globalPosition().toPoint() - FPressGlobal));
    }
    FDragging = event->buttons() != Qt::NoButton;
    event->accept();
}
