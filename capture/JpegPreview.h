// A camera's Motion-JPEG frame decoded at 1/8, 1/4 or 1/2 of its size for the live
// picture: the entropy-coded data read here, and each block reduced straight from the few
// coefficients it holds.
//
// Why not libjpeg-turbo's own scaled decoding: a camera's frame is mostly blocks holding a
// DC value and one or two other coefficients (about nine bits a block in a 1920x1080 frame
// of 70 KB), and libjpeg-turbo's cost at 1/4 is then per block whatever the block holds
// (clearing it, a call of the reduced transform, its buffers): measured, it left the live
// picture at half the CPU time of decoding the whole frame. Summing only the coefficients
// a block has into the 1, 4 or 16 samples it is reduced to costs a fraction of that.
//
// Only what cameras send is read here (one interleaved baseline scan of Y, Cb, Cr with
// the chroma sampled 1x1 against luma 1x1, 2x1 or 2x2, restart markers or none); the
// caller leaves anything else to libjpeg. The headers are libjpeg's: it has read and
// checked them before this sees the frame.
#pragma once

#include <cstdint>
#include <vector>

#include <QImage>
#include <QSize>

struct jpeg_decompress_struct;

class TJpegPreview {
  public:
    // Whether the frame whose header `info` has read is one this reads.
    static bool Reads(const jpeg_decompress_struct& info);

    // The frame whose header `info` has just read (jpeg_read_header: its source stands at
    // the start of the scan's data) decoded at `eighths`/8 (1, 2 or 4) of its size into
    // `picture` (QImage::Format_BGR888, `size`: the scaled size without the blocks'
    // padding; reused when it has that size and nobody else holds it). 0; -EBADMSG when the data is
    // damaged or ends early, or something other than the end marker follows the scan (picture then
    // undefined). The caller still owes libjpeg its jpeg_abort_decompress.
    int Decode(const jpeg_decompress_struct& info, int eighths, QSize size, QImage& picture);

    // A canonical Huffman table as the decoder reads it.
    struct THuffman {
        static constexpr int kLookBits = 10;
        // For the next kLookBits bits: the bits their code takes (bits 0-4) and its symbol
        // (bits 8-15); where the value's bits fit in the look too, the bits they take
        // added, bit 5 set and the value in bits 16-31. 0 where the code is longer.
        uint32_t fast[1 << kLookBits];
        int32_t maxCode[17];  // the largest code of each length; -1 for none
        int32_t valueAt[17];  // code + valueAt[length]: the index of its symbol
        uint8_t values[256];
        uint8_t source[17 + 256];  // the table's bits and values this was built from
        bool built = false;
    };

  private:
    // Per component, per coefficient in the order the data gives them: its dequantised
    // weight in each of the eighths x eighths samples its block is reduced to.
    struct TWeights {
        std::vector<float> weights;
        uint16_t quant[64] = {};  // what they were made of
        int eighths = 0;
    };

    // `table` (libjpeg's JHUFF_TBL) as `huffman`, rebuilt only when it changed. False for
    // a table no encoder could have written.
    static bool Prepare(const void* table, bool dc, THuffman& huffman);
    // The weights of a component quantised by `quant` (libjpeg's JQUANT_TBL).
    static void Prepare(const void* quant, int eighths, TWeights& weights);
    // The scan's data into FPlanes, and what follows it.
    int DecodeScan(const jpeg_decompress_struct& info, int eighths);

    THuffman FHuffman[2][4];  // the DC and AC tables by their number in the frame
    TWeights FWeights[3];
    std::vector<uint8_t> FPlanes[3];  // the reduced Y, Cb, Cr
    int FStride[3] = {};
};
