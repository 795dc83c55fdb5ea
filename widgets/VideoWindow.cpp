// TVideoWindow.
#include "widgets/VideoWindow.h"

#include <QMetaObject>
#include <QMutexLocker>
#include <QPaintEngine>
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
    // Handing the painter the B, G, R frame to stretch made it convert all of the frame
    // and then stretch it pixel by pixel, on every paint. The frame is stretched here in
    // one pass instead, into the backing store itself where possible, else into a
    // picture of the window's size and layout, which is then a plain copy to paint.
    if (!PaintIntoBackingStore(painter, frame)) {
        const qreal ratio = devicePixelRatioF();
        const QSize pixels = (QSizeF(size()) * ratio).toSize();
        if (FPicture.size() != pixels) {
            FPicture = QImage(pixels, QImage::Format_RGB32);
        }
        if (!FPicture.isNull()) {
            FStretcher.Stretch(frame, FPicture);
            FPicture.setDevicePixelRatio(ratio);
            painter.drawImage(QPoint(0, 0), FPicture);
        }
    }
    if (fresh) {
        FPainted.fetch_add(1, std::memory_order_relaxed);
    }
}

bool TVideoWindow::PaintIntoBackingStore(QPainter& painter, const QImage& frame) {
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
    const QRect target(QPoint(qRound(transform.dx()), qRound(transform.dy())), size());
    const QRegion clip = engine->systemClip();
    if (!store->rect().contains(target) || (!clip.isEmpty() && !clip.contains(target))) {
        return false;
    }
    const qsizetype stride = store->bytesPerLine();
    FStretcher.Stretch(frame, store->bits() + target.y() * stride + target.x() * 4, stride,
                       target.width(), target.height());
    return true;
}

void TVideoWindow::mouseDoubleClickEvent(QMouseEvent* event) {
    emit DoubleClicked();
    QWidget::mouseDoubleClickEvent(event);
}

void TVideoWindow::keyPressEvent(QKeyEvent* event) {
    emit KeyPressed(event);
    QWidget::keyPressEvent(event);
}
