// TVideoWindow.
#include "widgets/VideoWindow.h"

#include <QEvent>
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

void TVideoWindow::FrameArrived(const TNativeFrame& frame) {
    {
        QMutexLocker lock(&FMutex);
        FLatest = frame;
        FNewFrame = true;
    }
    // A hidden window is not asked to paint: nothing is converted for nobody.
    if (FShown.load(std::memory_order_relaxed) && !FRepaintPending.exchange(true)) {
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (Seen()) {
                    update();
                } else {
                    FRepaintPending.store(false);
                }
            },
            Qt::QueuedConnection);
    }
}

void TVideoWindow::FrameGone() {
    {
        QMutexLocker lock(&FMutex);
        FLatest = TNativeFrame();
        FNewFrame = false;
    }
    FPicture = QImage();
    update();
}

TNativeFrame TVideoWindow::CurrentFrame() const {
    QMutexLocker lock(&FMutex);
    return FLatest;
}

bool TVideoWindow::Seen() const {
    return isVisible() && !window()->isMinimized();
}

void TVideoWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    FShown.store(true);
    if (window() != FTop) {
        if (FTop) {
            FTop->removeEventFilter(this);
        }
        FTop = window();
        if (FTop != this) {
            FTop->installEventFilter(this);
        }
    }
}

bool TVideoWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == FTop && event->type() == QEvent::WindowStateChange && Seen()) {
        update();
    }
    return QWidget::eventFilter(watched, event);
}

void TVideoWindow::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    FShown.store(false);
}

void TVideoWindow::TakeNewFrame() {
    TNativeFrame frame;
    {
        QMutexLocker lock(&FMutex);
        if (!FNewFrame) {
            return;
        }
        frame = FLatest;
        FNewFrame = false;
    }
    if (frame.IsNull() || !FGraph) {
        return;
    }
    // Decoded as small as the window shows it, where the format allows, into the
    // picture not on show: a damaged frame leaves the one shown as it was.
    const QSize shown = (QSizeF(size()) * devicePixelRatioF()).toSize();
    if (FGraph->ConvertFrame(frame, FDecoding, shown, QImage::Format_RGB32) == 0) {
        std::swap(FPicture, FDecoding);
        FPainted.fetch_add(1, std::memory_order_relaxed);
    } else {
        FRefused.fetch_add(1, std::memory_order_relaxed);
    }
}

void TVideoWindow::paintEvent(QPaintEvent*) {
    // Cleared before taking the frame: a frame arriving while we paint asks
    // for one more repaint instead of being lost.
    FRepaintPending.store(false);
    if (Seen()) {
        TakeNewFrame();
    }
    QPainter painter(this);
    if (FPicture.isNull()) {
        painter.fillRect(rect(), Qt::black);
        return;
    }
    // Handing the painter the picture to stretch made it convert all of it and then
    // stretch it pixel by pixel, on every paint: it is stretched in one pass instead.
    FStretcher.Paint(painter, *this, FPicture);
}

void TVideoWindow::mouseDoubleClickEvent(QMouseEvent* event) {
    emit DoubleClicked();
    QWidget::mouseDoubleClickEvent(event);
}

void TVideoWindow::keyPressEvent(QKeyEvent* event) {
    emit KeyPressed(event);
    QWidget::keyPressEvent(event);
}
