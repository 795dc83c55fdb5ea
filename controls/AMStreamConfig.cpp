// The capture format on the open device.
#include "controls/AMStreamConfig.h"

#include "capture/FilterGraph.h"
#include "capture/StreamFormat.h"

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
    // The program sees B, G, R pictures whatever the camera sends; at this size the
    // camera is set to its format with the highest frame rate.
    TStreamFormat format;
    if (const int r = ChooseStreamFormat(*FBaseFilter, QSize(Width, Height), format); r < 0) {
        return r;
    }
    return ApplyStreamFormat(*FBaseFilter, format);
}
