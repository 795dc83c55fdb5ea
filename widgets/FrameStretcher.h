// Making the picture a video window paints from a live frame: converted to 32 bits and
// stretched to the window's size in one pass.
#pragma once

#include <cstdint>
#include <vector>

#include <QImage>

class TFrameStretcher {
  public:
    // `picture` (QImage::Format_RGB32, any size, already allocated) := `frame`
    // (QImage::Format_BGR888) stretched to fill it, aspect not kept, each target pixel
    // taking the source pixel under its centre. Only the source rows that are shown are
    // read, each once; a row shown twice is copied. Not thread-safe: one caller at a time.
    void Stretch(const QImage& frame, QImage& picture);
    // The same into `width` x `height` pixels of 32 bits (B, G, R, 255 in memory) at
    // `target`, rows `stride` bytes apart.
    void Stretch(const QImage& frame, uint8_t* target, qsizetype stride, int width, int height);

  private:
    // One row: `source` to `width` pixels.
    void StretchRow(const uint8_t* source, uint32_t* target) const;
    void Prepare(int sourceWidth, int width);

    int FSourceWidth = -1, FWidth = -1;
    std::vector<int32_t> FColumn;  // source byte offset of each target pixel
    // Enlarging: pieces of 4 target pixels, each gathered from one 16-byte window by a
    // byte shuffle. Empty when shrinking (plain code then).
    std::vector<int32_t> FBase;     // window start of each piece
    std::vector<uint8_t> FShuffle;  // 16 bytes per piece
    int FSafePieces = 0;            // leading pieces whose window ends inside the row
};
