// Memory for the large pictures of a photograph (the enlarged picture, scaling planes).
#include "photo/PictureMemory.h"

#include <cstdlib>
#include <mutex>
#include <new>
#include <utility>

#include <sys/mman.h>

namespace PhotoPipeline {

namespace {

constexpr size_t HugePage = size_t(2) << 20;
// Below this a block is left to malloc alone.
constexpr size_t LargeBlock = size_t(4) << 20;

// The last large blocks given back, kept for the next photograph (its picture and its
// luminance plane): a fresh block's pages are zeroed by the system on first touch, which
// for a 30 MB photograph took as long as writing the picture itself. While kept they are
// marked free-on-pressure, so the system may take their pages back whenever it needs them.
constexpr int KeptBlocks = 2;
struct TSpare {
    uint8_t* Data = nullptr;
    size_t Size = 0;
};
std::mutex SpareMutex;
TSpare Spares[KeptBlocks];  // guarded by SpareMutex; [0] the most recent

struct TLargeBlock {
    uint8_t* Data;
    size_t Size;
};

uint8_t* TakeSpare(size_t size) {
    std::lock_guard lock(SpareMutex);
    for (TSpare& spare : Spares) {
        if (spare.Data && spare.Size == size) {
            return std::exchange(spare, TSpare{}).Data;
        }
    }
    return nullptr;
}

void GiveBack(uint8_t* data, size_t size) {
    if (size < LargeBlock) {
        std::free(data);
        return;
    }
    ::madvise(data, size, MADV_FREE);
    TSpare dropped;
    {
        std::lock_guard lock(SpareMutex);
        // The first empty place, or else the oldest block, makes room at the front.
        int room = KeptBlocks - 1;
        for (int i = 0; i < KeptBlocks; ++i) {
            if (!Spares[i].Data) {
                room = i;
                break;
            }
        }
        dropped = Spares[room];
        for (int i = room; i > 0; --i) {
            Spares[i] = Spares[i - 1];
        }
        Spares[0] = {data, size};
    }
    std::free(dropped.Data);
}

void FreeImageMemory(void* info) {
    auto* block = static_cast<TLargeBlock*>(info);
    GiveBack(block->Data, block->Size);
    delete block;
}

// Rows of 3 x width bytes rounded up to 4, as QImage lays out a BGR888 picture.
qsizetype BgrBytesPerLine(int width) {
    return (qsizetype(width) * 3 + 3) & ~qsizetype(3);
}

}  // namespace

void TPictureMemoryFree::operator()(uint8_t* data) const {
    GiveBack(data, Size);
}

TPictureMemory AllocatePictureMemory(size_t bytes) {
    if (bytes == 0) {
        return TPictureMemory(nullptr, {0});
    }
    if (bytes < LargeBlock) {
        return TPictureMemory(static_cast<uint8_t*>(std::malloc(bytes)), {bytes});
    }
    // Whole huge pages: the first touch of a fresh 30 MB picture then costs 15 page
    // faults instead of some 7,300.
    const size_t rounded = (bytes + HugePage - 1) & ~(HugePage - 1);
    if (uint8_t* spare = TakeSpare(rounded)) {
        return TPictureMemory(spare, {rounded});
    }
    auto* data = static_cast<uint8_t*>(std::aligned_alloc(HugePage, rounded));
    if (data) {
        // Only advice: where huge pages are off the block is ordinary memory.
        ::madvise(data, rounded, MADV_HUGEPAGE);
    }
    return TPictureMemory(data, {rounded});
}

QImage NewBgrPicture(int width, int height) {
    if (width <= 0 || height <= 0) {
        return {};
    }
    const qsizetype bytesPerLine = BgrBytesPerLine(width);
    TPictureMemory memory = AllocatePictureMemory(size_t(bytesPerLine) * size_t(height));
    auto* block = new (std::nothrow) TLargeBlock{memory.get(), memory.get_deleter().Size};
    if (!memory || !block) {
        delete block;
        return {};
    }
    QImage picture(memory.get(), width, height, bytesPerLine, QImage::Format_BGR888,
                   FreeImageMemory, block);
    if (picture.isNull()) {
        delete block;
        return {};  // `memory` gives the block back
    }
    memory.release();  // the image owns it now
    return picture;
}

int KeptPictureBlocks() {
    std::lock_guard lock(SpareMutex);
    int kept = 0;
    for (const TSpare& spare : Spares) {
        kept += spare.Data ? 1 : 0;
    }
    return kept;
}

void PrepareBgrPicture(int width, int height) {
    if (width <= 0 || height <= 0) {
        return;
    }
    const size_t bytes = size_t(BgrBytesPerLine(width)) * size_t(height);
    if (bytes < LargeBlock) {
        return;
    }
    TPictureMemory memory = AllocatePictureMemory(bytes);
    if (!memory) {
        return;
    }
    // One write per small page brings every page in, huge or not; a kept spare that the
    // system has not taken back is already in.
    const size_t size = memory.get_deleter().Size;
    for (size_t at = 0; at < size; at += 4096) {
        static_cast<volatile uint8_t*>(memory.get())[at] = 0;
    }
    // Leaving, `memory` goes back as the spare.
}

}  // namespace PhotoPipeline
