// A camera's Motion-JPEG frame decoded at 1/8 to 1/2 of its size for the live picture:
// the entropy-coded data read here, and each block reduced straight from the few
// coefficients it holds.
//
// Why not libjpeg-turbo's own scaled decoding: a camera's frame is mostly blocks holding a
// DC value and one or two other coefficients (about nine bits a block in a 1920x1080 frame
// of 70 KB), and libjpeg-turbo's cost when it scales is then per block whatever the block
// holds (clearing it, a call of the reduced transform, its buffers): measured, it left
// the live picture at half the CPU time of decoding the whole frame. Summing only the
// coefficients a block has into the few samples it is reduced to costs a fraction of that,
// and makes any number of eighths as cheap as the halvings libjpeg-turbo is fast at.
//
// Only what cameras send is read here (one interleaved baseline scan of Y, Cb, Cr with
// the chroma sampled once for 1x1, 2x1 or 2x2 luma blocks, restart markers or none); the
// caller leaves anything else to libjpeg. The headers are libjpeg's: it has read and
// checked them before this sees the frame. One caller at a time.
#pragma once

#include <cstdint>
#include <vector>

#include <QImage>
#include <QSize>

struct jpeg_decompress_struct;

class TJpegPreview {
  public:
    // The largest reduction this makes, in eighths of the frame's size; larger pictures
    // are libjpeg's.
    static constexpr int kMostEighths = 4;

    // Whether the frame whose header `info` has read is one this reads.
    static bool Reads(const jpeg_decompress_struct& info);

    // The frame whose header `info` has just read (jpeg_read_header: its source stands at
    // the start of the scan's data) decoded at `eighths`/8 (1 to kMostEighths) of its
    // size into `picture` (`format`: QImage::Format_BGR888 or, on little-endian machines,
    // Format_RGB32; `size`: the scaled size without the blocks' padding; reused when it
    // has that size and format and nobody else holds it). 0; -EBADMSG when the data is
    // damaged or ends early, or anything but segments a decoder passes over and the end
    // marker follows the scan (picture then undefined). The caller still owes libjpeg its
    // jpeg_abort_decompress.
    int Decode(const jpeg_decompress_struct& info, int eighths, QSize size, QImage::Format format,
               QImage& picture);

    // A Huffman table of the frame as the decoder reads it.
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
    // Per coefficient in the order the data gives them: its dequantised weight in each of
    // the samples a block of a component is reduced to.
    struct TWeights {
        std::vector<float> weights;
        uint16_t quant[64] = {};  // the quantisation they were made with
        QSize samples;
    };

  private:
    // The scan's data into FPlanes, and what follows it. 0 or -EBADMSG.
    int DecodeScan(const jpeg_decompress_struct& info, int eighths);

    THuffman FHuffman[2][4];  // the DC and AC tables by their number in the frame
    TWeights FWeights[3];
    std::vector<uint8_t> FPlanes[3];  // the reduced Y, Cb, Cr
    int FStride[3] = {};
};
