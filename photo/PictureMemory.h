// Memory for the large pictures of a photograph (the enlarged picture, scaling planes).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include <QImage>

namespace PhotoPipeline {

struct TPictureMemoryFree {
    size_t Size;  // as allocated
    void operator()(uint8_t* data) const;
};
using TPictureMemory = std::unique_ptr<uint8_t[], TPictureMemoryFree>;

// `bytes` of uninitialised memory, or null when it is not there. A large block is whole
// huge pages (the system's first touch of fresh memory costs a page fault and zeroing per
// page), and the last two large blocks given back (a photograph's picture and its
// luminance plane) are kept, free for the system to take under memory pressure, for the
// next block of their size.
TPictureMemory AllocatePictureMemory(size_t bytes);

// A B, G, R picture (QImage::Format_BGR888, rows of 3 x width bytes rounded up to 4) in
// such memory, which is given back when the image's last copy goes. Null when the memory
// is not there. Its pixels are uninitialised.
QImage NewBgrPicture(int width, int height);

// Makes the memory NewBgrPicture(width, height) will next take ready in advance: the
// system's first touch of a fresh block (a page fault and zeroing per page) happens here,
// on whatever thread calls this, instead of inside the photograph. Keeps the block among
// the spares; does nothing for pictures too small to be kept. Any thread.
void PrepareBgrPicture(int width, int height);

// How many large blocks are kept for reuse now. For tests.
int KeptPictureBlocks();

}  // namespace PhotoPipeline
