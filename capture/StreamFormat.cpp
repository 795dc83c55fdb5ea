// Choosing and setting the format a camera streams in.
#include "capture/StreamFormat.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <linux/videodev2.h>

#include "capture/FilterGraph.h"

namespace {

// A driver lists at most a few dozen of anything; the bound keeps a misbehaving one
// from answering forever.
constexpr uint32_t kMaxEntries = 256;

// The formats a USB camera sends that our layer decodes itself (YUYV, Motion-JPEG) or
// libv4lconvert converts.
constexpr uint32_t kConvertible[] = {
    V4L2_PIX_FMT_YUYV,   V4L2_PIX_FMT_MJPEG,  V4L2_PIX_FMT_JPEG,   V4L2_PIX_FMT_YVYU,
    V4L2_PIX_FMT_UYVY,   V4L2_PIX_FMT_RGB24,  V4L2_PIX_FMT_BGR24,  V4L2_PIX_FMT_YUV420,
    V4L2_PIX_FMT_YVU420, V4L2_PIX_FMT_RGB565, V4L2_PIX_FMT_GREY,   V4L2_PIX_FMT_SBGGR8,
    V4L2_PIX_FMT_SGBRG8, V4L2_PIX_FMT_SGRBG8, V4L2_PIX_FMT_SRGGB8,
};

struct TNativeFormat {
    uint32_t fourcc;
    bool compressed;
};

std::vector<TNativeFormat> NativeFormats(const TFilter& filter, int& error) {
    std::vector<TNativeFormat> formats;
    error = 0;
    for (uint32_t index = 0; index < kMaxEntries; ++index) {
        v4l2_fmtdesc d{};
        d.index = index;
        d.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (const int r = filter.Ioctl(VIDIOC_ENUM_FMT, &d); r < 0) {
            error = index == 0 ? r : 0;
            break;
        }
        formats.push_back({d.pixelformat, (d.flags & V4L2_FMT_FLAG_COMPRESSED) != 0});
    }
    return formats;
}

// The device's frame rates for a format at a size, fastest first; empty when it does
// not list them.
std::vector<double> FrameRates(const TFilter& filter, uint32_t fourcc, QSize size) {
    std::vector<double> rates;
    for (uint32_t index = 0; index < kMaxEntries; ++index) {
        v4l2_frmivalenum e{};
        e.index = index;
        e.pixel_format = fourcc;
        e.width = uint32_t(size.width());
        e.height = uint32_t(size.height());
        if (filter.Ioctl(VIDIOC_ENUM_FRAMEINTERVALS, &e) < 0) {
            break;
        }
        if (e.type == V4L2_FRMIVAL_TYPE_DISCRETE) {
            if (e.discrete.numerator && e.discrete.denominator) {
                rates.push_back(double(e.discrete.denominator) / e.discrete.numerator);
            }
            continue;
        }
        // A range is the only entry of its list: its ends.
        const v4l2_fract fastest = e.stepwise.min, slowest = e.stepwise.max;
        if (fastest.numerator && fastest.denominator) {
            rates.push_back(double(fastest.denominator) / fastest.numerator);
        }
        if (slowest.numerator && slowest.denominator) {
            rates.push_back(double(slowest.denominator) / slowest.numerator);
        }
        break;
    }
    std::sort(rates.begin(), rates.end(), std::greater<>());
    rates.erase(std::unique(rates.begin(), rates.end()), rates.end());
    return rates;
}

// How far a size is from the one wanted: the area of either that the other lacks.
int64_t Distance(QSize a, QSize b) {
    const int64_t overlap =
        int64_t(std::min(a.width(), b.width())) * std::min(a.height(), b.height());
    return int64_t(a.width()) * a.height() + int64_t(b.width()) * b.height() - 2 * overlap;
}

// The rate as an interval in whole microseconds of a second: 30 fps is 1/30.
void SetInterval(TStreamFormat& format, double fps) {
    if (fps <= 0) {
        format.IntervalNumerator = format.IntervalDenominator = 0;
        return;
    }
    const double whole = std::round(fps);
    if (std::abs(fps - whole) < 1e-6) {
        format.IntervalNumerator = 1;
        format.IntervalDenominator = uint32_t(whole);
    } else {
        format.IntervalNumerator = 1000;
        format.IntervalDenominator = uint32_t(std::lround(fps * 1000));
    }
}

}  // namespace

QString FourccName(uint32_t pixelFormat) {
    switch (pixelFormat) {
        case V4L2_PIX_FMT_MJPEG:
            return QStringLiteral("MJPEG");
        case V4L2_PIX_FMT_JPEG:
            return QStringLiteral("JPEG");
        default:
            break;
    }
    QString name;
    for (int shift = 0; shift < 32; shift += 8) {
        const char c = char((pixelFormat >> shift) & 0xFF);
        if (c != ' ' && c != 0) {
            name += QLatin1Char(c);
        }
    }
    return name;
}

QString StreamFormatText(const TStreamFormat& format) {
    QString text = QStringLiteral("%1x%2 %3")
                       .arg(format.Size.width())
                       .arg(format.Size.height())
                       .arg(FourccName(format.PixelFormat));
    if (format.Fps() > 0) {
        text += QStringLiteral(" %1 fps").arg(QString::number(format.Fps(), 'g', 4));
    }
    return text;
}

bool ConvertibleFormat(uint32_t pixelFormat) {
    return std::find(std::begin(kConvertible), std::end(kConvertible), pixelFormat) !=
           std::end(kConvertible);
}

int ListStreamOffers(const TFilter& filter, std::vector<TStreamOffer>& offers) {
    offers.clear();
    int error = 0;
    for (const TNativeFormat& format : NativeFormats(filter, error)) {
        if (!ConvertibleFormat(format.fourcc)) {
            continue;
        }
        for (uint32_t index = 0; index < kMaxEntries; ++index) {
            v4l2_frmsizeenum e{};
            e.index = index;
            e.pixel_format = format.fourcc;
            if (filter.Ioctl(VIDIOC_ENUM_FRAMESIZES, &e) < 0) {
                break;
            }
            std::vector<QSize> sizes;
            if (e.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
                sizes.emplace_back(int(e.discrete.width), int(e.discrete.height));
            } else {
                // A range is the only entry of its list: its smallest and largest sizes.
                sizes.emplace_back(int(e.stepwise.min_width), int(e.stepwise.min_height));
                sizes.emplace_back(int(e.stepwise.max_width), int(e.stepwise.max_height));
            }
            for (const QSize size : sizes) {
                offers.push_back(
                    {format.fourcc, format.compressed, size, FrameRates(filter, format.fourcc, size)});
            }
            if (e.type != V4L2_FRMSIZE_TYPE_DISCRETE) {
                break;
            }
        }
    }
    return error;
}

QSize LargestLiveSize(const TFilter& filter, double minFps) {
    std::vector<TStreamOffer> offers;
    ListStreamOffers(filter, offers);
    QSize best;
    for (const TStreamOffer& offer : offers) {
        const bool live = offer.Fps.empty() || offer.Fps.front() >= minFps;
        if (live && int64_t(offer.Size.width()) * offer.Size.height() >
                        int64_t(best.width()) * best.height()) {
            best = offer.Size;
        }
    }
    return best;
}

int ChooseStreamFormat(const TFilter& filter, QSize wanted, TStreamFormat& chosen) {
    int error = 0;
    const std::vector<TNativeFormat> formats = NativeFormats(filter, error);
    if (error < 0) {
        return error;
    }
    bool found = false;
    int refusal = -EINVAL;
    int64_t bestDistance = 0;
    for (const TNativeFormat& native : formats) {
        if (!ConvertibleFormat(native.fourcc)) {
            continue;
        }
        v4l2_format tried{};
        tried.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        tried.fmt.pix.pixelformat = native.fourcc;
        tried.fmt.pix.width = uint32_t(wanted.width());
        tried.fmt.pix.height = uint32_t(wanted.height());
        tried.fmt.pix.field = V4L2_FIELD_ANY;
        if (const int r = filter.Ioctl(VIDIOC_TRY_FMT, &tried); r < 0) {
            refusal = r;
            continue;
        }
        if (tried.fmt.pix.pixelformat != native.fourcc) {
            continue;  // the driver would stream something else
        }
        TStreamFormat candidate;
        candidate.PixelFormat = native.fourcc;
        candidate.Compressed = native.compressed;
        candidate.Size = QSize(int(tried.fmt.pix.width), int(tried.fmt.pix.height));
        const std::vector<double> rates = FrameRates(filter, native.fourcc, candidate.Size);
        SetInterval(candidate, rates.empty() ? 0.0 : rates.front());
        const int64_t distance = Distance(candidate.Size, wanted);
        const bool better =
            !found || distance < bestDistance ||
            (distance == bestDistance &&
             (candidate.Fps() > chosen.Fps() ||
              (candidate.Fps() == chosen.Fps() && chosen.Compressed && !candidate.Compressed)));
        if (better) {
            chosen = candidate;
            bestDistance = distance;
            found = true;
        }
    }
    return found ? 0 : refusal;
}

int ApplyStreamFormat(const TFilter& filter, TStreamFormat& format) {
    v4l2_format set{};
    set.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    set.fmt.pix.pixelformat = format.PixelFormat;
    set.fmt.pix.width = uint32_t(format.Size.width());
    set.fmt.pix.height = uint32_t(format.Size.height());
    set.fmt.pix.field = V4L2_FIELD_ANY;
    if (const int r = filter.Ioctl(VIDIOC_S_FMT, &set); r < 0) {
        return r;
    }
    if (format.IntervalNumerator && format.IntervalDenominator) {
        v4l2_streamparm parm{};
        parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        parm.parm.capture.timeperframe = {format.IntervalNumerator, format.IntervalDenominator};
        filter.Ioctl(VIDIOC_S_PARM, &parm);  // a device without rates keeps its own
    }
    return CurrentStreamFormat(filter, format);
}

int CurrentStreamFormat(const TFilter& filter, TStreamFormat& format) {
    v4l2_format current;
    if (const int r = filter.GetFormat(current); r < 0) {
        return r;
    }
    format = TStreamFormat();
    format.PixelFormat = current.fmt.pix.pixelformat;
    format.Size = QSize(int(current.fmt.pix.width), int(current.fmt.pix.height));
    int error = 0;
    for (const TNativeFormat& native : NativeFormats(filter, error)) {
        if (native.fourcc == format.PixelFormat) {
            format.Compressed = native.compressed;
        }
    }
    v4l2_streamparm parm{};
    parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (filter.Ioctl(VIDIOC_G_PARM, &parm) == 0 &&
        (parm.parm.capture.capability & V4L2_CAP_TIMEPERFRAME)) {
        format.IntervalNumerator = parm.parm.capture.timeperframe.numerator;
        format.IntervalDenominator = parm.parm.capture.timeperframe.denominator;
    }
    return 0;
}
