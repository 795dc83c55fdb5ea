// Head measurement, the frame a standard asks for, and the straightened cut.
#include "photocut/IdPhotoFraming.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace IdPhotoFraming {

namespace {

constexpr double kPi = 3.14159265358979323846;

struct TRgb {
    int R = 0, G = 0, B = 0;
};

// The photo's pixel nearest to p, or false outside the photo. Format_BGR888 or RGB888.
bool PixelAt(const QImage& photo, QPointF p, TRgb& out) {
    const int x = int(std::floor(p.x()));
    const int y = int(std::floor(p.y()));
    if (x < 0 || y < 0 || x >= photo.width() || y >= photo.height()) {
        return false;
    }
    const uchar* s = photo.constScanLine(y) + 3 * x;
    if (photo.format() == QImage::Format_RGB888) {
        out = {s[0], s[1], s[2]};
    } else {
        out = {s[2], s[1], s[0]};
    }
    return true;
}

int Distance2(const TRgb& a, const TRgb& b) {
    const int r = a.R - b.R, g = a.G - b.G, bl = a.B - b.B;
    return r * r + g * g + bl * bl;
}

int MedianOf(std::vector<int> v) {
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return v[v.size() / 2];
}

// Where the hair ends above the eyes, in eye distances above the eye line; negative when
// the picture does not show it. Rows across the head are read from high above it down to
// the forehead; the rows above the head say what the background is, and the crown is
// the first row where a good part of the row is no longer background, for a few rows.
double FindCrown(const QImage& photo, QPointF middle, double d, QPointF along, QPointF up) {
    const double step = std::max(1.0, d / 40);
    const int across = 31;  // samples per row, over 1.8 eye distances
    std::vector<std::vector<TRgb>> rows;
    std::vector<double> heights;
    for (double k = kCrownSearchHigh * d; k >= kCrownSearchLow * d; k -= step) {
        std::vector<TRgb> row;
        for (int i = 0; i < across; ++i) {
            const double w = (i - across / 2) * 1.8 * d / (across - 1);
            TRgb c;
            if (PixelAt(photo, middle + up * k + along * w, c)) {
                row.push_back(c);
            }
        }
        // A row mostly outside the photo says nothing.
        if (int(row.size()) * 2 >= across) {
            rows.push_back(std::move(row));
            heights.push_back(k / d);
        }
    }
    const size_t reference = 4;
    // The background: the median colour of a few rows, and how far its pixels stray.
    // Rows are "head" where a good part of them is no longer background. A head's top is
    // narrow and widens row by row; a change of the whole row at once is the background
    // changing (a door frame, the photograph's own edge): the rows below it are the
    // background from there on.
    size_t first = 0;
    while (first + reference + 3 <= rows.size()) {
        std::vector<int> r, g, b;
        for (size_t i = first; i < first + reference; ++i) {
            for (const TRgb& c : rows[i]) {
                r.push_back(c.R);
                g.push_back(c.G);
                b.push_back(c.B);
            }
        }
        const TRgb wall{MedianOf(r), MedianOf(g), MedianOf(b)};
        std::vector<int> spread;
        for (size_t i = first; i < first + reference; ++i) {
            for (const TRgb& c : rows[i]) {
                spread.push_back(Distance2(c, wall));
            }
        }
        const int typical = MedianOf(spread);
        if (typical > 25 * 25) {
            return -1;  // no plain background above the head: nothing to tell the hair by
        }
        const int threshold = std::max(30 * 30, 9 * typical);
        // The share of a row's samples from `from` to `to` (fractions of its width) that
        // are not background.
        const auto share = [&](size_t i, double from, double to) {
            const std::vector<TRgb>& row = rows[i];
            const size_t a = size_t(from * row.size()), b = size_t(to * row.size());
            int differ = 0;
            for (size_t k = a; k < b; ++k) {
                differ += Distance2(row[k], wall) > threshold;
            }
            return b > a ? double(differ) / (b - a) : 0.0;
        };
        const auto head = [&](size_t i) { return share(i, 0, 1) >= 0.3; };
        size_t i = first + reference;
        bool changed = false;
        for (; i + 3 <= rows.size(); ++i) {
            if (!head(i) || !head(i + 1) || !head(i + 2)) {
                continue;
            }
            // The top of a head is narrow: where the rows' outer fifths change too, or
            // take another colour, the background itself changed.
            const auto outer = [&](double from, double to) {
                std::vector<int> r, g, b;
                double differ = 0;
                for (size_t j = i; j < i + 3; ++j) {
                    differ += share(j, from, to) / 3;
                    const size_t a = size_t(from * rows[j].size()), e = size_t(to * rows[j].size());
                    for (size_t k = a; k < e; ++k) {
                        r.push_back(rows[j][k].R);
                        g.push_back(rows[j][k].G);
                        b.push_back(rows[j][k].B);
                    }
                }
                const bool moved =
                    !r.empty() && Distance2({MedianOf(r), MedianOf(g), MedianOf(b)}, wall) * 4 > threshold;
                return differ >= 0.15 || moved;
            };
            if (outer(0, 0.2) && outer(0.8, 1)) {
                changed = true;
                break;
            }
            return heights[i];
        }
        if (!changed) {
            break;
        }
        // Past the change, a few rows on, the new background begins.
        i += 2;
        first = i + 1;
    }
    return -1;
}

}  // namespace

THead MeasureHead(const QImage& photo, const TFaceFind& face) {
    THead head;
    const QPointF eyes = face.RightEye - face.LeftEye;
    head.EyeMiddle = (face.LeftEye + face.RightEye) / 2;
    head.EyeDistance = std::hypot(eyes.x(), eyes.y());
    head.Tilt = face.EyesFound ? std::atan2(eyes.y(), eyes.x()) * 180 / kPi : 0;
    const double t = head.Tilt * kPi / 180;
    const QPointF along(std::cos(t), std::sin(t));
    const QPointF up(std::sin(t), -std::cos(t));
    const double d = head.EyeDistance;
    head.Chin = head.EyeMiddle - up * (kChinBelowEyes * d);
    head.FaceWidth = kFaceWidthInEyes * d;
    QImage readable = photo;
    if (photo.format() != QImage::Format_BGR888 && photo.format() != QImage::Format_RGB888) {
        readable = photo.convertToFormat(QImage::Format_BGR888);
    }
    const double crown = d > 4 ? FindCrown(readable, head.EyeMiddle, d, along, up) : -1;
    head.CrownSeen = crown > 0;
    head.Crown = head.EyeMiddle + up * ((head.CrownSeen ? crown : kCrownAboveEyes) * d);
    return head;
}

double StraighteningFor(double tilt) {
    if (std::abs(tilt) <= kStraightenFrom) {
        return 0;
    }
    return -std::clamp(tilt, -kStraightenMost, kStraightenMost);
}

QPointF Straightened(const TIdFrame& frame, QPointF p) {
    const double a = frame.Rotation * kPi / 180;
    const double c = std::cos(a), s = std::sin(a);
    const QPointF v = p - frame.Pivot;
    return frame.Pivot + QPointF(c * v.x() - s * v.y(), s * v.x() + c * v.y());
}

QPointF Unstraightened(const TIdFrame& frame, QPointF q) {
    TIdFrame back = frame;
    back.Rotation = -frame.Rotation;
    return Straightened(back, q);
}

TIdFrame FrameHead(const THead& head, const TIdPhotoStandard& standard) {
    TIdFrame frame;
    frame.Rotation = StraighteningFor(head.Tilt);
    frame.Pivot = head.EyeMiddle;
    // In the straightened photo the eye line is level through the pivot: the crown and
    // the chin lie straight above and below it.
    const QPointF eyes = head.EyeMiddle;
    const double crownY = Straightened(frame, head.Crown).y();
    const double chinY = Straightened(frame, head.Chin).y();
    const double headHeight = chinY - crownY;
    const double aspect = double(standard.Pixels.width()) / standard.Pixels.height();

    double height;
    if (standard.Head.IsSet()) {
        height = headHeight / standard.Head.Middle();
    } else if (standard.FaceWidth.IsSet()) {
        height = head.FaceWidth / standard.FaceWidth.Middle() / aspect;
    } else {
        height = headHeight / IdPhotoStandards::kStudioHead.Middle();
    }
    const double width = height * aspect;
    double top;
    if (standard.Crown.IsSet()) {
        top = crownY - standard.Crown.Middle() * height;
    } else if (standard.EyesAbove.IsSet()) {
        top = eyes.y() - (1 - standard.EyesAbove.Middle()) * height;
    } else if (standard.Head.IsSet()) {
        // Only the head's height is ruled: the room it leaves is shared as a studio
        // shares it, a bit less above the head than below the chin.
        top = crownY - (1 - standard.Head.Middle()) * 0.4 * height;
    } else {
        top = crownY - IdPhotoStandards::kStudioCrown.Middle() * height;
    }
    frame.Crop = QRectF(eyes.x() - width / 2, top, width, height);
    return frame;
}

QImage TurnedArea(const QImage& photo, QPointF pivot, double degrees, const QRect& area) {
    if (photo.isNull() || area.isEmpty() || qint64(area.width()) * area.height() > 100'000'000) {
        return QImage();
    }
    QImage source = photo;
    if (photo.format() != QImage::Format_BGR888) {
        source = photo.convertToFormat(QImage::Format_BGR888);
    }
    QImage out(area.size(), QImage::Format_BGR888);
    if (out.isNull()) {
        return out;
    }
    const int w = source.width(), h = source.height();
    if (degrees == 0) {
        for (int y = 0; y < area.height(); ++y) {
            const uchar* s = source.constScanLine(std::clamp(area.top() + y, 0, h - 1));
            uchar* d = out.scanLine(y);
            for (int x = 0; x < area.width(); ++x, d += 3) {
                const uchar* p = s + 3 * std::clamp(area.left() + x, 0, w - 1);
                d[0] = p[0];
                d[1] = p[1];
                d[2] = p[2];
            }
        }
        return out;
    }
    // Each pixel centre of the area, turned back into the photograph, read bilinearly
    // in 8-bit fractions.
    const double a = -degrees * kPi / 180;
    const double c = std::cos(a), s = std::sin(a);
    for (int y = 0; y < area.height(); ++y) {
        uchar* d = out.scanLine(y);
        const double qy = area.top() + y + 0.5 - pivot.y();
        for (int x = 0; x < area.width(); ++x, d += 3) {
            const double qx = area.left() + x + 0.5 - pivot.x();
            const double px = std::clamp(pivot.x() + c * qx - s * qy - 0.5, 0.0, w - 1.0);
            const double py = std::clamp(pivot.y() + s * qx + c * qy - 0.5, 0.0, h - 1.0);
            const int x0 = int(px), y0 = int(py);
            const int x1 = std::min(x0 + 1, w - 1), y1 = std::min(y0 + 1, h - 1);
            const int fx = int((px - x0) * 256), fy = int((py - y0) * 256);
            const uchar* r0 = source.constScanLine(y0);
            const uchar* r1 = source.constScanLine(y1);
            for (int k = 0; k < 3; ++k) {
                const int top = r0[3 * x0 + k] * (256 - fx) + r0[3 * x1 + k] * fx;
                const int bottom = r1[3 * x0 + k] * (256 - fx) + r1[3 * x1 + k] * fx;
                d[k] = uchar((top * (256 - fy) + bottom * fy + 32768) >> 16);
            }
        }
    }
    return out;
}

}  // namespace IdPhotoFraming
