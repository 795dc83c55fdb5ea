// TVideoWindow: the widget that shows the live picture, stretched to fill it
// (aspect not kept), black when there is no picture.
//
// Frames arrive as the camera sent them. The window converts one at most once per
// paint, only while it is shown (not hidden, not minimised), and only as large as it
// shows it where the format allows (a Motion-JPEG frame is decoded at the fewest eighths
// of its size, up to a half, that still cover the window), as 32-bit pixels, cheaper to
// make and to stretch than 24-bit ones. A damaged frame is never shown: the window keeps
// the picture it has.
#pragma once

#include <atomic>
#include <cstdint>

#include <QImage>
#include <QMutex>
#include <QPointer>
#include <QWidget>

#include "capture/FrameSink.h"
#include "widgets/FrameStretcher.h"

enum TVideoMode { vmNormal, vmVMR };

class TVideoWindow : public QWidget, public IFrameSink {
    Q_OBJECT

  public:
    explicit TVideoWindow(QWidget* parent = nullptr);
    // Leaves its graph first, so the streaming thread never hands a frame to a
    // destroyed window.
    ~TVideoWindow() override;

    TVideoMode Mode = vmNormal;

    // The graph whose frames this window shows (none when not a sink of one); it
    // converts them.
    TFilterGraph* FilterGraph() const { return FGraph; }

    // Streaming thread: keeps the frame as the newest and, while the window is shown,
    // asks for a repaint. Repaints are coalesced: at most one is pending, however slow
    // painting is.
    void FrameArrived(const TNativeFrame& frame) override;
    // GUI thread: back to black.
    void FrameGone() override;
    void GraphChanged(TFilterGraph* graph) override { FGraph = graph; }

    // The newest frame (a shared copy), and the picture made of the last good one.
    TNativeFrame CurrentFrame() const;
    const QImage& Picture() const { return FPicture; }
    // Frames converted and shown, and damaged frames not shown.
    uint64_t FramesPainted() const { return FPainted.load(std::memory_order_relaxed); }
    uint64_t FramesRefused() const { return FRefused.load(std::memory_order_relaxed); }

  signals:
    void DoubleClicked();
    void KeyPressed(QKeyEvent* event);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    // The top-level window coming back from minimised shows the newest frame.
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    // GUI thread: whether anyone can see the window now.
    bool Seen() const;
    // GUI thread, painting: the newest frame, if it is new, into FPicture.
    void TakeNewFrame();

    TFilterGraph* FGraph = nullptr;  // set by the graph, GUI thread
    QPointer<QWidget> FTop;          // the top-level window watched for minimising
    mutable QMutex FMutex;           // guards FLatest and FNewFrame
    TNativeFrame FLatest;
    bool FNewFrame = false;
    std::atomic<bool> FShown{false};  // for the streaming thread: worth a repaint
    // GUI thread: the picture of the last good frame (QImage::Format_RGB32, at the size
    // it was decoded at), the one being decoded, and the stretching.
    QImage FPicture;
    QImage FDecoding;
    TFrameStretcher FStretcher;
    std::atomic<bool> FRepaintPending{false};
    std::atomic<uint64_t> FPainted{0};
    std::atomic<uint64_t> FRefused{0};
};
