// The virtual camera's pictures and frames.
#include "capture/VirtualPicture.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include <jpeglib.h>

namespace vcam {

namespace {

// 5x7 digits for the frame counter, one byte a row, high bit on the left.
constexpr uint8_t kDigits[10][7] = {
    {0x70, 0x88, 0x98, 0xA8, 0xC8, 0x88, 0x70}, {0x20, 0x60, 0x20, 0x20, 0x20, 0x20, 0x70},
    {0x70, 0x88, 0x08, 0x10, 0x20, 0x40, 0xF8}, {0xF8, 0x10, 0x20, 0x10, 0x08, 0x88, 0x70},
    {0x10, 0x30, 0x50, 0x90, 0xF8, 0x10, 0x10}, {0xF8, 0x80, 0xF0, 0x08, 0x08, 0x88, 0x70},
    {0x30, 0x40, 0x80, 0xF0, 0x88, 0x88, 0x70}, {0xF8, 0x08, 0x10, 0x20, 0x40, 0x40, 0x40},
    {0x70, 0x88, 0x88, 0x70, 0x88, 0x88, 0x70}, {0x70, 0x88, 0x88, 0x78, 0x08, 0x10, 0x60},
};
constexpr int kDigitScale = 3;
constexpr int kCounterDigits = 8;
constexpr int kSquare = 32;

// Colour bars, R, G, B: white, yellow, cyan, green, magenta, red, blue, dark grey.
constexpr uint8_t kBars[8][3] = {{255, 255, 255}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0},
                                 {255, 0, 255},   {255, 0, 0},   {0, 0, 255},   {32, 32, 32}};

uint8_t Clamp8(double v) {
    return static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L));
}

TMark Turned(const TMark& m, int width, int height, bool upsideDown) {
    return upsideDown ? TMark{width - m.x - m.w, height - m.y - m.h, m.w, m.h, m.level} : m;
}

// The part of `m` inside the picture; empty (w or h <= 0) when none.
TMark Clipped(const TMark& m, int width, int height) {
    const int x0 = std::max(0, m.x), y0 = std::max(0, m.y);
    const int x1 = std::min(width, m.x + m.w), y1 = std::min(height, m.y + m.h);
    return {x0, y0, x1 - x0, y1 - y0, m.level};
}

// What a jump back from libjpeg's error exit crosses: plain C state in memory.
struct TJpegJob {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
};

void JpegFail(j_common_ptr info) {
    std::longjmp(reinterpret_cast<TJpegJob*>(info->err)->jump, 1);
}

// For each of `out` pixels along one axis, the source pixels it is made of with their
// weights, where source coordinates advance by `step` per pixel from `start`: the source
// area under the pixel when shrinking (step > 1), its two nearest when growing.
std::vector<std::vector<std::pair<int, float>>> AxisTaps(int out, int in, double start,
                                                         double step) {
    std::vector<std::vector<std::pair<int, float>>> taps(static_cast<std::size_t>(out));
    for (int i = 0; i < out; ++i) {
        if (step > 1.0) {
            const double a = start + i * step, b = a + step;
            for (int k = int(std::floor(a)); k < b; ++k) {
                const double covered = std::min<double>(b, k + 1) - std::max<double>(a, k);
                if (covered > 0) {
                    taps[i].emplace_back(std::clamp(k, 0, in - 1), float(covered / step));
                }
            }
        } else {
            const double centre = start + (i + 0.5) * step - 0.5;
            const int k = int(std::floor(centre));
            const float f = float(centre - k);
            taps[i] = {{std::clamp(k, 0, in - 1), 1.0f - f}, {std::clamp(k + 1, 0, in - 1), f}};
        }
    }
    return taps;
}

}  // namespace

TPicture CoveringPicture(const TPicture& picture, int width, int height) {
    if (picture.width == width && picture.height == height) {
        return picture;
    }
    TPicture out{width, height, std::vector<uint8_t>(std::size_t(width) * height * 3)};
    if (picture.width <= 0 || picture.height <= 0) {
        return out;
    }
    // Source pixels per frame pixel: the smaller ratio makes the picture cover the frame;
    // what is left over on the other axis is cropped evenly from both sides.
    const double step = std::min(double(picture.width) / width, double(picture.height) / height);
    const auto columns = AxisTaps(width, picture.width, (picture.width - width * step) / 2, step);
    const auto rows = AxisTaps(height, picture.height, (picture.height - height * step) / 2, step);
    // Each frame row: the source rows it takes, weighted, then the columns.
    std::vector<float> line(std::size_t(picture.width) * 3);
    for (int y = 0; y < height; ++y) {
        std::fill(line.begin(), line.end(), 0.0f);
        for (const auto& [row, weight] : rows[y]) {
            const uint8_t* in = picture.bgr.data() + std::size_t(row) * picture.width * 3;
            for (std::size_t i = 0; i < line.size(); ++i) {
                line[i] += weight * in[i];
            }
        }
        uint8_t* o = out.bgr.data() + std::size_t(y) * width * 3;
        for (int x = 0; x < width; ++x, o += 3) {
            float sum[3] = {0, 0, 0};
            for (const auto& [column, weight] : columns[x]) {
                for (int c = 0; c < 3; ++c) {
                    sum[c] += weight * line[std::size_t(column) * 3 + c];
                }
            }
            for (int c = 0; c < 3; ++c) {
                o[c] = Clamp8(sum[c]);
            }
        }
    }
    return out;
}

void RenderScene(const TLook& look, std::vector<uint8_t>& bgr) {
    const int width = look.width, height = look.height;
    // The light reaching the sensor (exposure, gain, white balance), then the camera's
    // processing: brightness and contrast on luma, hue and saturation on the colour
    // difference, gamma, backlight compensation lifting or deepening the dark parts.
    const double light = look.exposure * (1.0 + look.gain / 128.0);
    double red = 1.0, blue = 1.0;
    if (!look.autoWhiteBalance) {
        // Set for warmer light than 4600 K, the camera adds red; for cooler, blue.
        const double k = (look.temperature - 4600) / 1900.0 * 0.35;
        red = 1.0 + k;
        blue = 1.0 - k;
    }
    const double brightness = look.brightness - 128.0;
    const double contrast = look.contrast / 128.0;
    const double saturation = look.colourKiller ? 0.0 : look.saturation / 128.0;
    const double hue = look.hue * M_PI / 180.0;
    const double gammaPower = 100.0 / look.gamma;
    const double lift = (look.backlight - 1) * 0.12;
    const double cosHue = std::cos(hue), sinHue = std::sin(hue);
    // After the light and the processing of luma and colour: gamma and backlight.
    auto finish = [&](double c) {
        c = std::clamp(c, 0.0, 255.0);
        if (gammaPower != 1.0) {
            c = 255.0 * std::pow(c / 255.0, gammaPower);
        }
        return Clamp8(c + lift * (255.0 - c));
    };
    // The light and the processing of luma and colour for one pixel, then `tone` (finish,
    // or a table of it) on each component.
    auto mix = [&](double r, double g, double b, uint8_t* out, const auto& tone) {
        r *= light * red;
        g *= light;
        b *= light * blue;
        const double y = 0.299 * r + 0.587 * g + 0.114 * b;
        const double u0 = b - y, v0 = r - y;
        const double u = (u0 * cosHue - v0 * sinHue) * saturation;
        const double v = (u0 * sinHue + v0 * cosHue) * saturation;
        const double y2 = (y - 128.0) * contrast + 128.0 + brightness;
        const double r2 = y2 + v, b2 = y2 + u;
        const double g2 = (y2 - 0.299 * r2 - 0.114 * b2) / 0.587;
        out[0] = tone(b2);
        out[1] = tone(g2);
        out[2] = tone(r2);
    };
    auto adjust = [&](double r, double g, double b, uint8_t* out) { mix(r, g, b, out, finish); };
    const std::size_t stride = std::size_t(width) * 3;
    bgr.resize(stride * height);
    if (look.picture) {
        // Gamma and backlight from a table of whole levels: a picture has millions of
        // pixels where the pattern has a few colours.
        uint8_t table[256];
        for (int c = 0; c < 256; ++c) {
            table[c] = finish(c);
        }
        const auto tone = [&table](double c) {
            return table[int(std::clamp(c, 0.0, 255.0) + 0.5)];
        };
        const uint8_t* in = look.picture->bgr.data();
        for (std::size_t i = 0; i < std::size_t(width) * height * 3; i += 3) {
            mix(in[i + 2], in[i + 1], in[i], &bgr[i], tone);
        }
    } else {
        std::vector<uint8_t> barRow(stride), rampRow(stride);
        for (int x = 0; x < width; ++x) {
            const uint8_t* rgb = kBars[x * 8 / width];
            adjust(rgb[0], rgb[1], rgb[2], &barRow[x * 3]);
            const double level = double(x * 255 / std::max(1, width - 1));
            adjust(level, level, level, &rampRow[x * 3]);
        }
        for (int y = 0; y < height; ++y) {
            std::memcpy(&bgr[y * stride], (y < height * 2 / 3 ? barRow : rampRow).data(), stride);
        }
    }
    if (look.grain) {
        uint32_t seed = 12345;
        for (uint8_t& c : bgr) {
            seed = seed * 1664525u + 1013904223u;
            c = Clamp8(c + static_cast<int>(seed >> 26) - 32);
        }
    }
    if (look.upsideDown) {
        // The sensor sees the scene turned round: the last pixel first.
        auto* pixels = reinterpret_cast<std::array<uint8_t, 3>*>(bgr.data());
        std::reverse(pixels, pixels + std::size_t(width) * height);
    }
}

void BgrToYuyv(const uint8_t* bgr, int width, int height, uint8_t* yuyv) {
    for (int y = 0; y < height; ++y) {
        const uint8_t* p = bgr + std::size_t(y) * width * 3;
        uint8_t* out = yuyv + std::size_t(y) * width * 2;
        for (int x = 0; x + 1 < width; x += 2, p += 6, out += 4) {
            const int b0 = p[0], g0 = p[1], r0 = p[2], b1 = p[3], g1 = p[4], r1 = p[5];
            const int r = r0 + r1, g = g0 + g1, b = b0 + b1;  // twice the pair's mean
            out[0] = uint8_t(((66 * r0 + 129 * g0 + 25 * b0 + 128) >> 8) + 16);
            out[1] = uint8_t(((-38 * r - 74 * g + 112 * b + 256) >> 9) + 128);
            out[2] = uint8_t(((66 * r1 + 129 * g1 + 25 * b1 + 128) >> 8) + 16);
            out[3] = uint8_t(((112 * r - 94 * g - 18 * b + 256) >> 9) + 128);
        }
    }
}

TMark SquareOf(int width, int height, uint64_t sequence, bool upsideDown) {
    const int travel = std::max(1, width - kSquare);
    const TMark square{static_cast<int>((sequence * 8) % travel), height / 2 - kSquare / 2,
                       kSquare, kSquare, 255};
    return Turned(square, width, height, upsideDown);
}

std::vector<TMark> FrameMarks(int width, int height, uint64_t sequence, bool upsideDown,
                              bool square) {
    std::vector<TMark> marks;
    if (square) {
        marks.push_back(SquareOf(width, height, sequence, upsideDown));
    }
    // The counter, white on black, in the top-left corner; the black box covers the
    // previous counter whole.
    const int cell = 6 * kDigitScale;
    marks.push_back(Turned({4, 4, kCounterDigits * cell + 4, 7 * kDigitScale + 4, 0}, width,
                           height, upsideDown));
    uint64_t n = sequence;
    for (int d = kCounterDigits - 1; d >= 0; --d, n /= 10) {
        const uint8_t* glyph = kDigits[n % 10];
        for (int row = 0; row < 7; ++row) {
            for (int col = 0; col < 5; ++col) {
                if (glyph[row] & (0x80 >> col)) {
                    marks.push_back(Turned({6 + d * cell + col * kDigitScale,
                                            6 + row * kDigitScale, kDigitScale, kDigitScale, 255},
                                           width, height, upsideDown));
                }
            }
        }
    }
    return marks;
}

void PaintBgr(uint8_t* bgr, int width, int height, const std::vector<TMark>& marks) {
    for (const TMark& m : marks) {
        const TMark c = Clipped(m, width, height);
        for (int y = c.y; c.w > 0 && y < c.y + c.h; ++y) {
            std::memset(bgr + (std::size_t(y) * width + c.x) * 3, c.level, std::size_t(c.w) * 3);
        }
    }
}

void PaintYuyv(uint8_t* yuyv, int width, int height, const std::vector<TMark>& marks) {
    for (const TMark& m : marks) {
        const TMark c = Clipped(m, width, height);
        const uint8_t luma = c.level ? 235 : 16;
        for (int y = c.y; c.w > 0 && y < c.y + c.h; ++y) {
            uint8_t* row = yuyv + std::size_t(y) * width * 2;
            for (int x = c.x; x < c.x + c.w; ++x) {
                row[2 * x] = luma;
            }
            // Grey has no colour: the pairs the mark touches lose theirs.
            for (int pair = c.x / 2; pair <= (c.x + c.w - 1) / 2; ++pair) {
                row[4 * pair + 1] = 128;
                row[4 * pair + 3] = 128;
            }
        }
    }
}

void RestoreYuyv(uint8_t* frame, const uint8_t* scene, int width, int height, const TMark& area) {
    const TMark c = Clipped(area, width, height);
    if (c.w <= 0) {
        return;
    }
    const int x0 = c.x & ~1, x1 = std::min(width, (c.x + c.w + 1) & ~1);
    for (int y = c.y; y < c.y + c.h; ++y) {
        const std::size_t at = (std::size_t(y) * width + x0) * 2;
        std::memcpy(frame + at, scene + at, std::size_t(x1 - x0) * 2);
    }
}

void AddGrain(uint8_t* bgr, std::size_t size, uint32_t slot) {
    static const std::vector<int8_t> noise = [] {
        std::vector<int8_t> table(1 << 16);
        uint32_t seed = 2024;
        for (int8_t& v : table) {
            seed = seed * 1664525u + 1013904223u;
            v = static_cast<int8_t>(int(seed >> 24) % 9 - 4);
        }
        return table;
    }();
    // Run by run over the stretches where the table's index does not wrap, so that the
    // compiler adds them many bytes at a time: this is the camera's work in whichever
    // process holds it, a whole photograph's worth of time at 1080p done byte by byte.
    const std::size_t shift = std::size_t(slot) * 9973;
    for (std::size_t i = 0; i < size;) {
        const std::size_t from = (i + shift) & 0xFFFF;
        const std::size_t run = std::min(size - i, noise.size() - from);
        uint8_t* const out = bgr + i;
        const int8_t* const add = noise.data() + from;
        for (std::size_t k = 0; k < run; ++k) {
            const int v = out[k] + add[k];
            out[k] = static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
        }
        i += run;
    }
}

bool EncodeMjpeg(const uint8_t* bgr, int width, int height, int quality,
                 const TMjpegStyle& style, std::vector<uint8_t>& out) {
    jpeg_compress_struct info{};
    TJpegJob job{};
    info.err = jpeg_std_error(&job.pub);
    job.pub.error_exit = JpegFail;
    if (setjmp(job.jump)) {
        jpeg_destroy_compress(&info);
        std::free(job.buffer);
        return false;
    }
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, &job.buffer, &job.size);
    info.image_width = JDIMENSION(width);
    info.image_height = JDIMENSION(height);
    info.input_components = 3;
    info.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    info.write_JFIF_header = FALSE;
    // 4:2:2, as USB cameras sample their Motion-JPEG frames.
    info.comp_info[0].h_samp_factor = 2;
    info.comp_info[0].v_samp_factor = 1;
    // The standard tables, left out of the frame unless asked for: a decoder supplies
    // them, as Motion-JPEG allows.
    jpeg_suppress_tables(&info, FALSE);
    for (JHUFF_TBL* table : {info.dc_huff_tbl_ptrs[0], info.dc_huff_tbl_ptrs[1],
                             info.ac_huff_tbl_ptrs[0], info.ac_huff_tbl_ptrs[1]}) {
        if (table) {
            table->sent_table = style.huffmanTables ? FALSE : TRUE;
        }
    }
    jpeg_start_compress(&info, FALSE);
    if (style.avi1) {
        static const JOCTET kAvi1[14] = {'A', 'V', 'I', '1', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
        jpeg_write_marker(&info, JPEG_APP0, kAvi1, sizeof kAvi1);
    }
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(bgr + std::size_t(info.next_scanline) * width * 3);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    out.assign(job.buffer, job.buffer + job.size);
    jpeg_destroy_compress(&info);
    std::free(job.buffer);
    return true;
}

}  // namespace vcam
