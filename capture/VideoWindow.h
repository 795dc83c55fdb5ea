// TVideoWindow: the widget that shows the live picture, stretched to fill it
// (aspect not kept), black when there is no picture.
#pragma once

#include <atomic>
#include <cstdint>

#include <QImage>
#include <QMutex>
#include <QWidget>

class TFilterGraph;

enum TVideoMode { vmNormal, vmVMR };

class TVideoWindow : public QWidget {
    Q_OBJECT

  public:
    explicit TVideoWindow(QWidget* parent = nullptr);
    // Leaves its graph first, which stops a running stream, so the streaming
    // thread never paints into a destroyed window.
    ~TVideoWindow() override;

    TVideoMode Mode = vmNormal;

    TFilterGraph* FilterGraph() const { return FGraph; }
    // Membership: the window renders the graph's stream from its next run;
    // none leaves the graph.
    void SetFilterGraph(TFilterGraph* graph);

    // Streaming thread: keeps the frame as the latest and asks for a repaint.
    // Repaints are coalesced: at most one is pending, however slow painting is.
    void PresentFrame(const QImage& frame);
    // GUI thread: back to black.
    void ClearFrame();

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
    TFilterGraph* FGraph = nullptr;
    mutable QMutex FMutex;  // guards FLatest and FNewFrame
    QImage FLatest;
    bool FNewFrame = false;
    std::atomic<bool> FRepaintPending{false};
    std::atomic<uint64_t> FPainted{0};
};
