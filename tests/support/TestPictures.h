// Pictures for the photograph's tests, made in code.
#pragma once

#include <algorithm>
#include <cstdint>

#include <QImage>

// A smooth picture (gradients with soft-edged blocks), or the same with camera-like grain
// on every component, which makes the largest files.
inline QImage Picture(int w, int h, bool noise) {
    QImage image(w, h, QImage::Format_BGR888);
    uint32_t seed = uint32_t(w * 7919 + h);
    for (int y = 0; y < h; ++y) {
        uint8_t* p = image.scanLine(y);
        for (int x = 0; x < w; ++x, p += 3) {
            int v[3] = {x * 255 / w, y * 255 / h, (x + y) * 127 / (w + h) + 64};
            if ((x / 13 + y / 11) % 3 == 0) {
                v[0] = 255 - v[0];
            }
            for (int& c : v) {
                if (noise) {
                    seed = seed * 1664525u + 1013904223u;
                    c += int(seed >> 26) - 32;
                }
                c = std::clamp(c, 0, 255);
            }
            p[0] = uint8_t(v[0]);
            p[1] = uint8_t(v[1]);
            p[2] = uint8_t(v[2]);
        }
    }
    return image;
}
