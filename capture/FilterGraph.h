// The capture graph: one open device session (TFilterGraph) with its device
// filter (TFilter), and the frame sinks its stream feeds: the sample grabber
// (TSampleGrabber) and whatever else joins (a video window, for one).
//
// Threads: everything here runs on the GUI thread except the streaming thread
// that RunGraph starts. That thread only dequeues frames, hands them to the
// sinks and re-queues buffers.
//
// Errors: every operation that can fail returns 0 or -errno.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include <QImage>
#include <QMutex>
#include <QObject>

#include "capture/DeviceHandles.h"
#include "capture/FrameSink.h"
#include "capture/SysDevEnum.h"

struct v4l2_format;
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
    bool HasDevice() const { return FDevice.Valid(); }
    // A device request on the bound device: 0 or -errno; -ENXIO when none is
    // bound.
    int Ioctl(unsigned long request, void* arg) const;
    // The current capture format, and a new one (the device may adjust it:
    // what it took is written back). 0 or -errno.
    int GetFormat(v4l2_format& format) const;
    int SetFormat(v4l2_format& format) const;

  private:
    friend class TFilterGraph;
    // Binding happens on activation: 0, or -errno when the moniker's device
    // cannot be opened (the member then has no device).
    int Bind();
    void Unbind() { FDevice.Reset(); }

    TFilterGraph* FGraph = nullptr;
    TMoniker FMoniker;
    TDeviceFd FDevice;
};

// Keeps the latest frame: BGR24 (QImage::Format_BGR888), top row first.
class TSampleGrabber : public QObject, public IFrameSink {
    Q_OBJECT

  public:
    explicit TSampleGrabber(QObject* owner = nullptr);
    ~TSampleGrabber() override;

    TFilterGraph* FilterGraph() const { return FGraph; }
    void SetFilterGraph(TFilterGraph* graph);

    // GUI thread. Shares the latest frame into bitmap: 0, -EAGAIN (bitmap
    // untouched) when no frame has arrived, -ENOTCONN when the graph is not
    // active (no grabber exists then).
    int GrabBitmap(QImage& bitmap) const;

    void FrameArrived(const QImage& frame) override;  // streaming thread
    void FrameGone() override;                        // GUI thread

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
    // (nothing streaming yet). The graph is active even when the device cannot
    // be opened; the bind's -errno is returned and kept for RunGraph.
    // false: everything stopped and released, sinks told the picture is gone.
    int SetActive(bool active);

    // Stops streaming and frees the buffers; the device stays open. Returns
    // the device's complaint, if any, after releasing everything all the same.
    int ClearInsertedFilters();

    // Prepares the stream: the device set to deliver BGR24. 0; -ENXIO when no
    // device is bound; the device's -errno when it refuses the format (-EBUSY:
    // another program streams from it).
    int RenderStream();
    // Starts streaming on a rendered stream: 0; -ENXIO when nothing is
    // rendered; the bind's -errno when the device could not be opened; the
    // device's -errno when it refuses to run (everything released again).
    int RunGraph();
    // Stops streaming: 0, or the device's complaint (everything released).
    int StopGraph();
    bool Running() const { return FWorker != nullptr; }

    TFilter* DeviceFilter() const { return FFilter; }
    TSampleGrabber* Grabber() const { return FGrabber; }

    // Sinks are borrowed. After RemoveSink returns, the streaming thread no
    // longer calls that sink. GUI thread.
    void AddSink(IFrameSink* sink);
    void RemoveSink(IFrameSink* sink);

    // The size the device delivers on the rendered stream.
    int FrameWidth() const { return FWidth; }
    int FrameHeight() const { return FHeight; }

    // Frames dequeued since the graph last started running.
    uint64_t FramesDelivered() const;

    // GUI thread: called once the stream was torn down because the device
    // is gone (unplugged) or failed for good; the sinks were told already.
    std::function<void(int error)> OnStreamLost;

  private:
    friend class TFilter;
    friend class TSampleGrabber;
    void Join(TFilter* f) { FFilter = f; }
    void Join(TSampleGrabber* g);
    void Leave(TFilter* f);
    void Leave(TSampleGrabber* g);
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
    // Streaming thread: hands a frame to every sink.
    void Deliver(const QImage& frame);
    // GUI thread: tells every sink the picture is gone.
    void PictureGone();
    // Stops streaming, frees the buffers and closes the device.
    void ReleaseDevice();
    // GUI thread: the streaming thread met a final error (camera unplugged).
    void StreamLost(uint64_t generation, int error);

    bool FActive = false;
    TFilter* FFilter = nullptr;  // borrowed members
    TSampleGrabber* FGrabber = nullptr;
    mutable QMutex FSinksMutex;  // guards FSinks: the streaming thread reads it
    std::vector<IFrameSink*> FSinks;
    int FBindError = 0;  // -errno of the last failed bind
    bool FRendered = false;
    int FWidth = 0, FHeight = 0, FStride = 0;
    std::unique_ptr<StreamWorker> FWorker;
    uint64_t FGeneration = 0;
};
