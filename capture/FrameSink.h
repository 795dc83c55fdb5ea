// Where the live frames of a running capture graph go: the sample grabber, a
// video window, anything else that wants the picture. The graph runs with any
// number of sinks, none included.
#pragma once

class QImage;
class TFilterGraph;

class IFrameSink {
  public:
    virtual ~IFrameSink() = default;

    // Streaming thread: a new frame, BGR24 (QImage::Format_BGR888), top row
    // first. The image is shared, never written again once handed out; keep a
    // copy of the QImage, not of its pixels, and return quickly.
    virtual void FrameArrived(const QImage& frame) = 0;
    // GUI thread: the stream stopped or its device was lost; the picture is gone.
    virtual void FrameGone() = 0;
    // GUI thread: the sink was added to `graph`, or removed from its graph
    // (nullptr). A sink that can go away while its graph lives must remove
    // itself in its own destructor, before its FrameArrived is gone.
    virtual void GraphChanged(TFilterGraph* graph) {}
};
