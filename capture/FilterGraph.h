// The capture graph: one open device session (TFilterGraph) with its members,
// the device filter (TFilter), the sample grabber (TSampleGrabber) and the
// video window that renders the live picture (TVideoWindow).
//
// Threads: everything here runs on the GUI thread except the streaming thread
// that RunGraph starts. That thread only dequeues frames, hands them to the
// grabber and the video window, and re-queues buffers.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include <QImage>
#include <QMutex>
#include <QObject>

#include "capture/SysDevEnum.h"

struct v4l2_format;
class TVideoWindow;
class TFilterGraph;
class StreamWorker;

enum TGraphMode { gmNormal, gmCapture, gmDVD };

// The device member. While its graph is active it holds the open device bound
// from BaseFilter's moniker; otherwise it answers every request with "none".
class TFilter : public QObject {
    Q_OBJECT

  public:
    explicit TFilter(QObject* owner = nullptr);
    ~TFilter() override;

    TFilterGraph* FilterGraph() const { return FGraph; }
    void SetFilterGraph(TFilterGraph* graph);

    // The device used at the next activation.
    const TMoniker& BaseFilter() const { return FMoniker; }
    void SetBaseFilter(const TMoniker& moniker) { FMoniker = moniker; }

    // Whether a device is bound (the graph is active and the device opened).
    bool HasDevice() const { return FFd >= 0; }
    // A device request on the bound device: 0 or -errno; -ENXIO when none is
    // bound.
    int Ioctl(unsigned long request, void* arg) const;
    // The current capture format, and a new one (the device may adjust it:
    // what it took is written back). 0 or -errno.
    int GetFormat(v4l2_format& format) const;
    int SetFormat(v4l2_format& format) const;

  private:
    friend class TFilterGraph;
    // Binding happens on activation; a moniker that cannot be bound leaves
    // the member without a device and keeps the reason.
    void Bind();
    void Unbind();

    TFilterGraph* FGraph = nullptr;
    TMoniker FMoniker;
    VideoIo* FIo = nullptr;
    int FFd = -1;
    int FBindError = 0;  // positive errno of the last failed bind
};

// Keeps the latest frame: BGR24 (QImage::Format_BGR888), top row first.
class TSampleGrabber : public QObject {
    Q_OBJECT

  public:
    explicit TSampleGrabber(QObject* owner = nullptr);
    ~TSampleGrabber() override;

    TFilterGraph* FilterGraph() const { return FGraph; }
    void SetFilterGraph(TFilterGraph* graph);

    // GUI thread. Copies the latest frame into bitmap: true on success,
    // false (bitmap untouched) when no frame has arrived. Throws
    // EDirectShowException when the graph is not active (no grabber exists).
    bool GrabBitmap(QImage& bitmap) const;

    // Streaming thread.
    void StoreFrame(const QImage& frame);
    void ClearFrame();

  private:
    TFilterGraph* FGraph = nullptr;
    mutable QMutex FMutex;  // guards FLatest
    QImage FLatest;
};

class TFilterGraph : public QObject {
    Q_OBJECT

  public:
    explicit TFilterGraph(QObject* owner = nullptr);
    ~TFilterGraph() override;

    TGraphMode Mode = gmNormal;

    bool Active() const { return FActive; }
    // true: a new session with the device filter bound from its moniker
    // (nothing streaming yet); false: everything stopped and released.
    void SetActive(bool active);

    // Stops streaming and frees the buffers; the device stays open. Throws
    // EDirectShowException when the device refuses to stop (after releasing
    // everything all the same).
    void ClearInsertedFilters();

    // Prepares the preview path: device -> grabber (BGR24) -> video window.
    // 0, -ENXIO when there is no device or no video window, or the device's
    // -errno when it refuses the format (-EBUSY: another program streams).
    int RenderStream();
    // Starts streaming on a rendered path. false when there is nothing to run
    // (no device, or nothing rendered); throws EDirectShowException when the
    // device refuses to run.
    bool RunGraph();
    void StopGraph();
    bool Running() const { return FWorker != nullptr; }

    TFilter* DeviceFilter() const { return FFilter; }
    TSampleGrabber* Grabber() const { return FGrabber; }
    TVideoWindow* Renderer() const { return FRenderer; }

    // The size the device delivers on the rendered path.
    int FrameWidth() const { return FWidth; }
    int FrameHeight() const { return FHeight; }

    // Frames dequeued since the graph last started running.
    uint64_t FramesDelivered() const;

    // GUI thread: called once the stream was torn down because the device
    // is gone (unplugged) or failed for good; the grabber is empty by then.
    std::function<void(int error)> OnStreamLost;

  private:
    friend class TFilter;
    friend class TSampleGrabber;
    friend class TVideoWindow;
    void Join(TFilter* f) { FFilter = f; }
    void Join(TSampleGrabber* g) { FGrabber = g; }
    // A graph renders into one window: a new one replaces the old.
    void Join(TVideoWindow* w);
    void Leave(QObject* member);
    // Moves a member from the graph it is in (current) to graph.
    template <class Member>
    static void Move(Member* member, TFilterGraph*& current, TFilterGraph* graph) {
        if (current == graph) {
            return;
        }
        if (current) {
            current->Leave(member);
        }
        current = graph;
        if (current) {
            current->Join(member);
        }
    }
    // Stops streaming, frees the buffers and closes the device.
    void ReleaseDevice();
    // GUI thread: the streaming thread met a final error (camera unplugged).
    void StreamLost(uint64_t generation, int error);

    bool FActive = false;
    TFilter* FFilter = nullptr;  // borrowed members
    TSampleGrabber* FGrabber = nullptr;
    TVideoWindow* FRenderer = nullptr;
    bool FRendered = false;
    int FWidth = 0, FHeight = 0, FStride = 0;
    std::unique_ptr<StreamWorker> FWorker;
    uint64_t FGeneration = 0;
};
