// The capture format on the open device.
#include "controls/AMStreamConfig.h"

#include <linux/videodev2.h>

#include "capture/FilterGraph.h"

TAMStreamConfig::TAMStreamConfig(QObject* owner) : QObject(owner) {}

TFilter* TAMStreamConfig::Filter() const {
    return FFilter;
}

void TAMStreamConfig::SetFilter(TFilter* filter) {
    FFilter = filter;
    if (filter) {
        FBaseFilter = filter->HasDevice() ? filter : nullptr;
    }
}

void TAMStreamConfig::SetActive(bool active) {
    FActive = active;
    if (!active) {
        return;
    }
    if (!FBaseFilter) {
        if (!FFilter) {
            return;
        }
        FBaseFilter = FFilter->HasDevice() ? FFilter.data() : nullptr;
    }
    ApplyFormat(1);
}

int TAMStreamConfig::ApplyFormat(int n) {
    // A V4L2 capture device has exactly one capture stream.
    if (n != 1 || !FBaseFilter || !FBaseFilter->HasDevice()) {
        return 1;
    }
    v4l2_format format;
    if (FBaseFilter->GetFormat(format) < 0) {
        return 1;
    }
    format.fmt.pix.pixelformat = V4L2_PIX_FMT_BGR24;
    format.fmt.pix.width = Width;
    format.fmt.pix.height = Height;
    // The line length and image size of the old format would be wrong for
    // the new one: the driver works them out.
    format.fmt.pix.bytesperline = 0;
    format.fmt.pix.sizeimage = 0;
    return FBaseFilter->SetFormat(format);
}
