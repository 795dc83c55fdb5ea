// The capture graph: one open device session (TFilterGraph) with its device
// filter (TFilter), and the frame sinks its stream feeds: the sample grabber
// (TSampleGrabber) and whatever else joins (a video window, for one).
//
// Threads: everything here runs on the GUI thread except the streaming thread
// that RunGraph starts. That thread only dequeues frames, keeps a copy of each
// as the camera sent it for the sinks and re-queues buffers: it converts nothing.
// Frames become pictures on the GUI thread, when a sink needs one (ConvertFrame).
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
#include "capture/FrameDecoder.h"
#include "capture/FrameSink.h"
#include "capture/StreamFormat.h"
#include "capture/SysDevEnum.h"

struct v4l2_format;
class TFilterGraph;
class TV4lConvert;
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
    // bound. Control requests go through libv4lconvert, which adds its software
    // controls to the device's own.
    int Ioctl(unsigned long request, void* arg) const;
    // libv4lconvert on the bound device; nullptr when none is bound.
    TV4lConvert* Converter() const { return FConverter.get(); }
    // The current capture format, and a new one (the device may adjust it:
    // what it took is written back). 0 or -errno.
    int GetFormat(v4l2_format& format) const;
    int SetFormat(v4l2_format& format) const;

  private:
    friend class TFilterGraph;
    // Binding happens on activation: 0, or -errno when the moniker's device
    // cannot be opened (the member then has no device).
    int Bind();
    void Unbind();

    TFilterGraph* FGraph = nullptr;
    TMoniker FMoniker;
    TDeviceFd FDevice;
    std::unique_ptr<TV4lConvert> FConverter;  // over FDevice, released before it
};

// Keeps the newest frame as the camera sent it, and makes a picture of it when asked.
class TSampleGrabber : public QObject, public IFrameSink {
    Q_OBJECT

  public:
    explicit TSampleGrabber(QObject* owner = nullptr);
    ~TSampleGrabber() override;

    TFilterGraph* FilterGraph() const { return FGraph; }
    void SetFilterGraph(TFilterGraph* graph);

    // GUI thread. The newest frame converted at its full size into bitmap
    // (QImage::Format_BGR888, top row first): 0; -EAGAIN when no frame has arrived,
    // -EBADMSG when the newest one is damaged (both leave bitmap untouched); -ENOTCONN
    // when the graph is not active (no grabber exists then).
    int GrabBitmap(QImage& bitmap) const;
    // The same, smaller where the frame's format makes that cheap (at least
    // `atLeast` both ways): for looking at the picture, not for keeping it.
    int GrabPreview(QImage& picture, QSize atLeast) const;
    // Frames that arrived since the stream started (any thread).
    uint64_t FramesArrived() const;

    void FrameArrived(const TNativeFrame& frame) override;  // streaming thread
    void FrameGone() override;                              // GUI thread

  private:
    int Grab(QImage& picture, QSize atLeast) const;

    TFilterGraph* FGraph = nullptr;
    mutable QMutex FMutex;  // guards FLatest and FArrived
    TNativeFrame FLatest;
    uint64_t FArrived = 0;
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

    // Prepares the stream: the device set to the format that gives the highest frame
    // rate for a picture of `wanted` (none: the size it has). A size the device
    // refuses keeps the one it has. 0; -ENXIO when no device is bound; the device's
    // -errno when it refuses (-EBUSY: another program streams from it); -ENOTSUP when
    // it offers no format we can convert.
    int RenderStream(QSize wanted = QSize());
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

    // What the device delivers on the rendered stream.
    int FrameWidth() const { return FFormat.Size.width(); }
    int FrameHeight() const { return FFormat.Size.height(); }
    const TStreamFormat& StreamFormat() const { return FFormat; }

    // GUI thread: a frame of this graph's stream as a B, G, R picture
    // (QImage::Format_BGR888, or `format` Format_RGB32 for a picture to be shown), at its
    // full size or smaller where that is cheap but at least `atLeast` both ways.
    // libv4lconvert converts when it turns or processes the device's pictures, or knows a
    // format we do not; our decoders otherwise. 0; -EBADMSG when the frame is damaged or
    // short (picture undefined).
    int ConvertFrame(const TNativeFrame& frame, QImage& picture, QSize atLeast = QSize(),
                     QImage::Format format = QImage::Format_BGR888);

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
    void Deliver(const TNativeFrame& frame);
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
    TStreamFormat FFormat;
    uint32_t FBytesPerLine = 0;
    bool FFullRange = false;
    TFrameDecoder FDecoder;  // GUI thread
    std::unique_ptr<StreamWorker> FWorker;
    uint64_t FGeneration = 0;
};
