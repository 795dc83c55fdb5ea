// TVideoWindow: the widget that shows the live picture, stretched to fill it
// (aspect not kept), black when there is no picture.
#pragma once

#include <atomic>
#include <cstdint>

#include <QImage>
#include <QMutex>
#include <QWidget>

#include "capture/FrameSink.h"

enum TVideoMode { vmNormal, vmVMR };

class TVideoWindow : public QWidget, public IFrameSink {
    Q_OBJECT

  public:
    explicit TVideoWindow(QWidget* parent = nullptr);
    // Leaves its graph first, so the streaming thread never hands a frame to a
    // destroyed window.
    ~TVideoWindow() override;

    TVideoMode Mode = vmNormal;

    // The graph whose frames this window shows (none when not a sink of one).
    TFilterGraph* FilterGraph() const { return FGraph; }

    // Streaming thread: keeps the frame as the latest and asks for a repaint.
    // Repaints are coalesced: at most one is pending, however slow painting is.
    void FrameArrived(const QImage& frame) override;
    // GUI thread: back to black.
    void FrameGone() override;
    void GraphChanged(TFilterGraph* graph) override { FGraph = graph; }

    // The frame that would be painted now (a shared copy).
    QImage CurrentFrame() const;
    uint64_t FramesPainted() const { return FPainted.load(std::memory_order_relaxed); }

  signals:
    void DoubleClicked();
    void KeyPressed(QKeyEvent* event);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    TFilterGraph* FGraph = nullptr;  // set by the graph, GUI thread
    mutable QMutex FMutex;           // guards FLatest and FNewFrame
    QImage FLatest;
    bool FNewFrame = false;
    std::atomic<bool> FRepaintPending{false};
    std::atomic<uint64_t> FPainted{0};
};
