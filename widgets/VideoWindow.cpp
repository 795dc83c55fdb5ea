// TVideoWindow.
#include "widgets/VideoWindow.h"

#include <QMetaObject>
#include <QMutexLocker>
#include <QPainter>

#include "capture/FilterGraph.h"

TVideoWindow::TVideoWindow(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAutoFillBackground(false);
}

TVideoWindow::~TVideoWindow() {
    if (FGraph) {
        FGraph->RemoveSink(this);
    }
}

void TVideoWindow::FrameArrived(const QImage& frame) {
    {
        QMutexLocker lock(&FMutex);
        FLatest = frame;
        FNewFrame = true;
    }
    if (!FRepaintPending.exchange(true)) {
        QMetaObject::invokeMethod(
            this, [this] { update(); }, Qt::QueuedConnection);
    }
}

void TVideoWindow::FrameGone() {
    {
        QMutexLocker lock(&FMutex);
        FLatest = QImage();
        FNewFrame = false;
    }
    update();
}

QImage TVideoWindow::CurrentFrame() const {
    QMutexLocker lock(&FMutex);
    return FLatest;
}

void TVideoWindow::paintEvent(QPaintEvent*) {
    // Cleared before taking the frame: a frame arriving while we paint asks
    // for one more repaint instead of being lost.
    FRepaintPending.store(false);
    QImage frame;
    bool fresh;
    {
        QMutexLocker lock(&FMutex);
        frame = FLatest;
        fresh = FNewFrame;
        FNewFrame = false;
    }
    QPainter painter(this);
    if (frame.isNull()) {
        painter.fillRect(rect(), Qt::black);
        return;
    }
    painter.drawImage(rect(), frame);
    if (fresh) {
        FPainted.fetch_add(1, std::memory_order_relaxed);
    }
}

void TVideoWindow::mouseDoubleClickEvent(QMouseEvent* event) {
    emit DoubleClicked();
    QWidget::mouseDoubleClickEvent(event);
}

void TVideoWindow::keyPressEvent(QKeyEvent* event) {
    emit KeyPressed(event);
    QWidget::keyPressEvent(event);
}
