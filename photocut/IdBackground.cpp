// Background separation by a colour model of the border, grown from the border.
#include "photocut/IdBackground.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace IdBackground {

namespace {

// A border pixel further than this from the border's median colour is not wall.
constexpr int kWallDistance = 45;
// At most this share of the border may be something else (hair or a shoulder reaching
// the edge); more, and the border is no plain wall.
constexpr double kMostNotWall = 0.12;
// At most this share of the border may look like wall and yet not be reached from the
// rest of it (a wall whose light changes abruptly).
constexpr double kMostMissed = 0.03;
// The most of the photo that may continue the wall smoothly beyond its colour model.
constexpr double kMostDrift = 0.01;
// Neighbouring wall pixels differ by at most this: a wall's light changes slowly.
constexpr int kStepDistance = 14;
// How close a pixel must be to the wall colour to count as entirely wall at the outline,
// and how far to count as entirely person.
constexpr int kPureWall = 10;
constexpr int kNoWall = 60;

int Distance(const uchar* a, const int* b) {
    const int x = a[0] - b[0], y = a[1] - b[1], z = a[2] - b[2];
    return int(std::sqrt(double(x * x + y * y + z * z)));
}

int Distance(const uchar* a, const uchar* b) {
    const int x = a[0] - b[0], y = a[1] - b[1], z = a[2] - b[2];
    return int(std::sqrt(double(x * x + y * y + z * z)));
}

}  // namespace

bool Replace(QImage& photo, QRgb colour, const QRectF& face, QString& why) {
    if (photo.isNull() || photo.format() != QImage::Format_BGR888) {
        why = kNotPlain;
        return false;
    }
    const int w = photo.width(), h = photo.height();
    // The face (the ellipse inside its box, a little enlarged) and the neck below it
    // (under the face's middle, down to the bottom) are never wall; the box's corners and
    // the sides of the neck may be.
    const QPointF centre = face.center();
    const double rx = face.width() * 0.56, ry = face.height() * 0.60;
    const QRect neck(QPoint(int(centre.x() - face.width() * 0.2), int(centre.y())),
                     QPoint(int(centre.x() + face.width() * 0.2), h));
    const auto guarded = [&](int x, int y) {
        const double dx = (x - centre.x()) / rx, dy = (y - centre.y()) / ry;
        return dx * dx + dy * dy <= 1 || neck.contains(x, y);
    };
    // The border read for the wall: the top rows, and the sides down to the bottom of the
    // face (below it shoulders usually reach the edges).
    const int strip = std::max(2, w / 40);
    const int sideBottom = std::clamp(int(face.bottom()), strip, h);
    std::vector<int> samples[3];
    std::vector<std::pair<int, int>> border;
    for (int y = 0; y < sideBottom; ++y) {
        for (int x = 0; x < w; ++x) {
            if ((y < strip || x < strip || x >= w - strip) && !guarded(x, y)) {
                const uchar* p = photo.constScanLine(y) + 3 * x;
                for (int k = 0; k < 3; ++k) {
                    samples[k].push_back(p[k]);
                }
                border.emplace_back(x, y);
            }
        }
    }
    if (border.size() < 64) {
        why = kNotPlain;
        return false;
    }
    int wall[3];
    for (int k = 0; k < 3; ++k) {
        std::vector<int> v = samples[k];
        std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
        wall[k] = v[v.size() / 2];
    }
    size_t far = 0;
    for (const auto& [x, y] : border) {
        far += Distance(photo.constScanLine(y) + 3 * x, wall) > kWallDistance;
    }
    if (far > border.size() * kMostNotWall) {
        why = kNotPlain;
        return false;
    }

    // Grow the wall from every border pixel that is wall, to neighbours that are wall and
    // continue their neighbour's colour.
    std::vector<uint8_t> isWall(size_t(w) * h, 0);
    std::vector<int> queue;
    queue.reserve(size_t(w) * h / 2);
    const auto at = [&](int x, int y) { return photo.constScanLine(y) + 3 * x; };
    for (const auto& [x, y] : border) {
        if (Distance(at(x, y), wall) <= kWallDistance) {
            isWall[size_t(y) * w + x] = 1;
            queue.push_back(y * w + x);
        }
    }
    // Where the wall stops at no edge, either a soft outline begins (blurred hair) or the
    // colour model no longer fits the wall (its light changes too much).
    std::vector<int> softStops;
    // Calls visit(index) for the four neighbours of pixel `index` inside the photo that
    // are neither guarded nor further than a step from its colour.
    const auto neighbours = [&](int index, const auto& visit) {
        const int x = index % w, y = index / w;
        const uchar* p = at(x, y);
        const int nx[4] = {x - 1, x + 1, x, x};
        const int ny[4] = {y, y, y - 1, y + 1};
        for (int n = 0; n < 4; ++n) {
            if (nx[n] >= 0 && ny[n] >= 0 && nx[n] < w && ny[n] < h && !guarded(nx[n], ny[n]) &&
                Distance(at(nx[n], ny[n]), p) <= kStepDistance) {  // else an edge: an outline
                visit(ny[n] * w + nx[n]);
            }
        }
    };
    for (size_t i = 0; i < queue.size(); ++i) {
        neighbours(queue[i], [&](int k) {
            if (isWall[size_t(k)]) {
                return;
            }
            if (Distance(at(k % w, k / w), wall) <= kWallDistance) {
                isWall[size_t(k)] = 1;
                queue.push_back(k);
            } else {
                softStops.push_back(k);
            }
        });
    }
    // Every border pixel that looks like wall must have been reached: one that was not
    // would stay in the old colour beside the new one.
    size_t missed = 0;
    for (const auto& [x, y] : border) {
        missed += !isWall[size_t(y) * w + x] && Distance(at(x, y), wall) <= kWallDistance;
    }
    // A soft outline soon meets the person's texture and colours; a wall whose light
    // drifted goes on, smooth and still near the wall's colour, over a large area, which
    // would be left in its old colour.
    std::vector<uint8_t> drift(size_t(w) * h, 0);
    size_t drifted = 0;
    const size_t mostDrift = size_t(kMostDrift * w * h);
    for (size_t i = 0; i < softStops.size() && drifted <= mostDrift; ++i) {
        const int start = softStops[i];
        if (drift[start]) {
            continue;
        }
        drift[start] = 1;
        std::vector<int> more{start};
        while (!more.empty() && drifted <= mostDrift) {
            const int at0 = more.back();
            more.pop_back();
            ++drifted;
            neighbours(at0, [&](int k) {
                if (!drift[size_t(k)] && !isWall[size_t(k)] &&
                    Distance(at(k % w, k / w), wall) <= 2 * kWallDistance) {
                    drift[size_t(k)] = 1;
                    more.push_back(k);
                }
            });
        }
    }
    if (missed > border.size() * kMostMissed || drifted > mostDrift) {
        why = kNotPlain;
        return false;
    }

    // The wall's own colour near each pixel (its light may change across the photo): a
    // box average of wall pixels, 7 x 7, from summed-area tables.
    const int r = 3;
    std::vector<int64_t> sum[4];
    for (auto& s : sum) {
        s.assign(size_t(w + 1) * (h + 1), 0);
    }
    for (int y = 0; y < h; ++y) {
        int64_t row[4] = {0, 0, 0, 0};
        for (int x = 0; x < w; ++x) {
            if (isWall[size_t(y) * w + x]) {
                const uchar* p = at(x, y);
                row[0] += p[0];
                row[1] += p[1];
                row[2] += p[2];
                row[3] += 1;
            }
            for (int k = 0; k < 4; ++k) {
                sum[k][size_t(y + 1) * (w + 1) + x + 1] = sum[k][size_t(y) * (w + 1) + x + 1] + row[k];
            }
        }
    }
    const auto boxOf = [&](int k, int x0, int y0, int x1, int y1) {
        return sum[k][size_t(y1) * (w + 1) + x1] - sum[k][size_t(y0) * (w + 1) + x1] -
               sum[k][size_t(y1) * (w + 1) + x0] + sum[k][size_t(y0) * (w + 1) + x0];
    };

    const int target[3] = {qBlue(colour), qGreen(colour), qRed(colour)};
    for (int y = 0; y < h; ++y) {
        uchar* line = photo.scanLine(y);
        for (int x = 0; x < w; ++x) {
            const bool inWall = isWall[size_t(y) * w + x];
            const int x0 = std::max(0, x - r), y0 = std::max(0, y - r);
            const int x1 = std::min(w, x + r + 1), y1 = std::min(h, y + r + 1);
            const int64_t count = boxOf(3, x0, y0, x1, y1);
            const int64_t area = int64_t(x1 - x0) * (y1 - y0);
            if (count == 0 || guarded(x, y)) {
                continue;  // no wall near: the person, untouched
            }
            uchar* p = line + 3 * x;
            if (inWall && count == area) {
                p[0] = uchar(target[0]);
                p[1] = uchar(target[1]);
                p[2] = uchar(target[2]);
                continue;
            }
            // The outline, within 3 pixels of both wall and person: the pixel is taken
            // as a mix of the local wall colour and the person, and the wall's share is
            // replaced by the new colour.
            const int local[3] = {int(boxOf(0, x0, y0, x1, y1) / count),
                                  int(boxOf(1, x0, y0, x1, y1) / count),
                                  int(boxOf(2, x0, y0, x1, y1) / count)};
            const int d = Distance(p, local);
            const double share =
                std::clamp(double(kNoWall - d) / (kNoWall - kPureWall), 0.0, 1.0);
            for (int k = 0; k < 3; ++k) {
                p[k] = uchar(std::clamp(int(std::lround(p[k] + share * (target[k] - local[k]))), 0, 255));
            }
        }
    }
    return true;
}

}  // namespace IdBackground
