// Making the picture a video window paints from a live frame's picture: stretched to the
// window's size (and converted to 32 bits where it has 24) in one pass.
#pragma once

#include <cstdint>
#include <vector>

#include <QImage>

class QPainter;
class QWidget;

class TFrameStretcher {
  public:
    // Paints `picture` (as Stretch takes it) stretched over the whole of `widget` with
    // `painter` (begun on it in its paint event): straight into the window's backing
    // store where `painter` paints on a plain raster image of it, else through a picture
    // of the widget's size, which is then a plain copy to paint.
    void Paint(QPainter& painter, const QWidget& widget, const QImage& picture);

    // `picture` (QImage::Format_RGB32, any size, already allocated) := `frame`
    // (QImage::Format_BGR888 or QImage::Format_RGB32) stretched to fill it, aspect not
    // kept, each target pixel taking the source pixel under its centre. Only the source
    // rows that are shown are read, each once; a row shown twice is copied. Not
    // thread-safe: one caller at a time.
    void Stretch(const QImage& frame, QImage& picture);
    // The same into `width` x `height` pixels of 32 bits (B, G, R, 255 in memory) at
    // `target`, rows `stride` bytes apart.
    void Stretch(const QImage& frame, uint8_t* target, qsizetype stride, int width, int height);

  private:
    // Paint's stretch into the backing store; false when `painter` paints on anything else.
    bool PaintIntoBackingStore(QPainter& painter, const QWidget& widget, const QImage& picture);
    // One row: `source` to `width` pixels.
    void StretchRow(const uint8_t* source, uint32_t* target) const;
    void Prepare(int sourceWidth, int width, int bytesPerPixel);

    int FSourceWidth = -1, FWidth = -1, FBytesPerPixel = 0;
    std::vector<int32_t> FColumn;  // source byte offset of each target pixel
    // Enlarging: pieces of 4 target pixels, each gathered from one 16-byte window by a
    // byte shuffle. Empty when shrinking (plain code then).
    std::vector<int32_t> FBase;     // window start of each piece
    std::vector<uint8_t> FShuffle;  // 16 bytes per piece
    int FSafePieces = 0;            // leading pieces whose window ends inside the row
    QImage FWindowPicture;          // Paint's picture of the widget's size, where it needs one
};
