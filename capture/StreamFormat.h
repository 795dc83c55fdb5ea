// The format a camera streams in: which of its own formats (YUYV, Motion-JPEG, ...), at
// which size and frame rate. At each size the format with the highest frame rate is
// taken, ties going to the uncompressed one, and the device is asked for that rate.
#pragma once

#include <cstdint>
#include <vector>

#include <QSize>
#include <QString>

class TFilter;

struct TStreamFormat {
    uint32_t PixelFormat = 0;  // V4L2 fourcc
    bool Compressed = false;
    QSize Size;
    // Frame interval in seconds, numerator/denominator; 0/0 when the device does not say.
    uint32_t IntervalNumerator = 0, IntervalDenominator = 0;
    double Fps() const {
        return IntervalNumerator ? double(IntervalDenominator) / IntervalNumerator : 0.0;
    }
};

// One size of one of the device's formats, with its frame rates, fastest first.
struct TStreamOffer {
    uint32_t PixelFormat = 0;
    bool Compressed = false;
    QSize Size;
    std::vector<double> Fps;  // empty when the device does not list its rates
};

// The short name of a fourcc: "YUYV", "MJPEG", else its four characters.
QString FourccName(uint32_t pixelFormat);
// "1920x1080 MJPEG 30 fps" (the rate left out when unknown).
QString StreamFormatText(const TStreamFormat& format);

// Whether our capture layer can turn the format into pictures.
bool ConvertibleFormat(uint32_t pixelFormat);

// Every discrete size of every convertible format the device bound to `filter` lists,
// in the device's order, with its rates. 0 or -errno (-ENXIO: no device bound).
int ListStreamOffers(const TFilter& filter, std::vector<TStreamOffer>& offers);

// The largest size at which the device still streams at least `minFps` frames a second
// in one of its convertible formats (a size whose rates it does not list counts as
// live). An empty size when it lists none.
QSize LargestLiveSize(const TFilter& filter, double minFps);

// The format to stream in for a picture of `wanted`: for each convertible format, the
// size the device would give (VIDIOC_TRY_FMT); of the sizes nearest to `wanted`, the
// format with the highest frame rate there, ties to the uncompressed one, with its
// fastest rate. 0, or the device's -errno when it offers nothing for the request.
int ChooseStreamFormat(const TFilter& filter, QSize wanted, TStreamFormat& chosen);

// Sets the format and asks for its rate (VIDIOC_S_FMT, VIDIOC_S_PARM); `format` becomes
// what the device took. 0, or the device's -errno for the format (-EBUSY while another
// program or stream holds it). A device that cannot set rates keeps its own.
int ApplyStreamFormat(const TFilter& filter, TStreamFormat& format);

// The format the device is in now (VIDIOC_G_FMT, VIDIOC_G_PARM). 0 or -errno.
int CurrentStreamFormat(const TFilter& filter, TStreamFormat& format);
