// The virtual camera's test pattern as tests check it in a picture: the colour bars
// over the top two thirds and the grey ramp below.
#pragma once

#include <algorithm>
#include <cstdlib>

#include <QImage>

// The colour bars of the test pattern, R, G, B, left to right over the top two thirds.
inline constexpr int kPatternBars[8][3] = {{255, 255, 255}, {255, 255, 0}, {0, 255, 255},
                                           {0, 255, 0},     {255, 0, 255}, {255, 0, 0},
                                           {0, 0, 255},     {32, 32, 32}};

// The largest difference from the pattern at the middle of each bar, a quarter down
// (above the moving square, below the frame counter), and of the grey ramp below, in a
// picture of any format.
inline int PatternError(const QImage& picture) {
    const int w = picture.width(), h = picture.height();
    int worst = 0;
    auto compare = [&](int x, int y, const int expected[3]) {
        const QRgb p = picture.pixel(x, y);
        const int rgb[3] = {qRed(p), qGreen(p), qBlue(p)};
        for (int k = 0; k < 3; ++k) {
            worst = std::max(worst, std::abs(rgb[k] - expected[k]));
        }
    };
    for (int bar = 0; bar < 8; ++bar) {
        compare((2 * bar + 1) * w / 16, h / 4, kPatternBars[bar]);
    }
    // The ramp's levels are x * 255 / (width - 1).
    for (const int x : {w / 8, w / 2, 7 * w / 8}) {
        const int level = x * 255 / (w - 1);
        const int grey[3] = {level, level, level};
        compare(x, 5 * h / 6, grey);
    }
    return worst;
}
