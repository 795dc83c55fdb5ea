// Where the live frames of a running capture graph go: the sample grabber, a video
// window, anything else that wants the picture. The graph runs with any number of
// sinks, none included. Frames come as the camera sent them; a sink converts one (the
// graph's ConvertFrame) only when it needs its picture.
#pragma once

#include "capture/NativeFrame.h"

class TFilterGraph;

class IFrameSink {
  public:
    virtual ~IFrameSink() = default;

    // Streaming thread: a new frame. Keep a copy of the frame (its bytes are shared)
    // and return quickly: nothing is converted here.
    virtual void FrameArrived(const TNativeFrame& frame) = 0;
    // GUI thread: the stream stopped or its device was lost; the picture is gone.
    virtual void FrameGone() = 0;
    // GUI thread: the sink was added to `graph`, or removed from its graph
    // (nullptr). A sink that can go away while its graph lives must remove
    // itself in its own destructor, before its FrameArrived is gone.
    virtual void GraphChanged(TFilterGraph* graph) {}
};
