// What the virtual camera's sensor sees and how its frames are made: the test pattern
// (or a picture shown in its place) as the controls and the exposure shape it, the marks of each
// frame (a moving square and a frame counter), YUYV rows, and Motion-JPEG frames as USB cameras
// send them. Plain C++ and libjpeg.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace vcam {

// A picture the camera shows in place of its pattern: B, G, R rows without padding.
struct TPicture {
    int width = 0, height = 0;
    std::vector<uint8_t> bgr;
};

// `picture` filling width x height as a sensor crops: scaled by one factor until it covers
// the whole frame, the middle kept; averaged over each pixel's area where it shrinks,
// bilinear where it grows.
TPicture CoveringPicture(const TPicture& picture, int width, int height);

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
    // In place of the pattern, at the look's size; none: the pattern. Shared, never changed.
    std::shared_ptr<const TPicture> picture;
    bool operator==(const TLook&) const = default;
};

// The scene: colour bars over the top two thirds, a grey ramp below, or the look's picture;
// B, G, R rows. With every control at its default and the exposure settled, exactly those
// colours.
void RenderScene(const TLook& look, std::vector<uint8_t>& bgr);

// BT.601 limited range 4:2:2 (Y0 U Y1 V), as USB cameras send uncompressed pictures.
void BgrToYuyv(const uint8_t* bgr, int width, int height, uint8_t* yuyv);

// A rectangle of one grey level (0 black, 255 white) drawn on a frame.
struct TMark {
    int x, y, w, h;
    uint8_t level;
};
// Frame `sequence`'s marks, where the sensor puts them (turned round when upside down):
// the moving square (left out over a picture, where it would cover the face) and the
// frame counter.
std::vector<TMark> FrameMarks(int width, int height, uint64_t sequence, bool upsideDown,
                              bool square = true);
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
