// What the virtual camera's sensor sees and how its frames are made: the test pattern
// as the controls and the exposure shape it, the marks of each frame (a moving square
// and a frame counter), YUYV rows, and Motion-JPEG frames as USB cameras send them.
// Plain C++ and libjpeg.
#pragma once

#include <cstdint>
#include <vector>

namespace vcam {

// Everything that decides the picture apart from the frame's own marks.
struct TLook {
    int width = 0, height = 0;
    int32_t brightness = 128, contrast = 128, saturation = 128, hue = 0;
    int32_t gamma = 100, gain = 0, backlight = 1;
    bool autoWhiteBalance = true;
    int32_t temperature = 4600;
    bool colourKiller = false;
    double exposure = 1.0;  // 1 when settled; less while the automatic exposure settles
    bool grain = false;     // strong sensor grain on every component
    bool upsideDown = false;
    bool operator==(const TLook&) const = default;
};

// The scene: colour bars over the top two thirds, a grey ramp below, B, G, R rows. With
// every control at its default and the exposure settled, exactly those colours.
void RenderScene(const TLook& look, std::vector<uint8_t>& bgr);

// BT.601 limited range 4:2:2 (Y0 U Y1 V), as USB cameras send uncompressed pictures.
void BgrToYuyv(const uint8_t* bgr, int width, int height, uint8_t* yuyv);

// A rectangle of one grey level (0 black, 255 white) drawn on a frame.
struct TMark {
    int x, y, w, h;
    uint8_t level;
};
// Frame `sequence`'s marks, where the sensor puts them (turned round when upside down).
std::vector<TMark> FrameMarks(int width, int height, uint64_t sequence, bool upsideDown);
// The square alone: what a recycled buffer needs from the scene again.
TMark SquareOf(int width, int height, uint64_t sequence, bool upsideDown);
void PaintBgr(uint8_t* bgr, int width, int height, const std::vector<TMark>& marks);
void PaintYuyv(uint8_t* yuyv, int width, int height, const std::vector<TMark>& marks);
// Copies the rectangle `area` of `scene` (YUYV) over the same place of `frame`.
void RestoreYuyv(uint8_t* frame, const uint8_t* scene, int width, int height, const TMark& area);

// Light grain, different in every ring slot, as a real sensor adds to each frame.
void AddGrain(uint8_t* bgr, std::size_t size, uint32_t slot);

// How a camera writes its Motion-JPEG frames: without Huffman tables (decoders supply
// the standard ones) unless asked, with an "AVI1" APP0 segment when asked, never JFIF.
struct TMjpegStyle {
    bool huffmanTables = false;
    bool avi1 = false;
};
// 4:2:2 baseline JPEG of the B, G, R rows; false when libjpeg fails.
bool EncodeMjpeg(const uint8_t* bgr, int width, int height, int quality,
                 const TMjpegStyle& style, std::vector<uint8_t>& out);

}  // namespace vcam
