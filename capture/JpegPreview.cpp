// Decoding a camera's Motion-JPEG frame at a fraction of its size.
#include "capture/JpegPreview.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>
#include <libyuv/convert_argb.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// The k-th coefficient of a block's data is at kNatural[k] (row * 8 + column).
constexpr uint8_t kNatural[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                                  12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                                  35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                                  58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

constexpr int kLookBits = TJpegPreview::THuffman::kLookBits;

// The standard Huffman tables, which Motion-JPEG frames leave out (DC and AC, for
// luminance and for chrominance): libjpeg's own copy, taken from an encoder's defaults.
struct TStandardTables {
    JHUFF_TBL dc[2], ac[2];
    TStandardTables() {
        jpeg_compress_struct info{};
        jpeg_error_mgr errors{};
        info.err = jpeg_std_error(&errors);
        jpeg_create_compress(&info);
        info.in_color_space = JCS_RGB;
        info.input_components = 3;
        jpeg_set_defaults(&info);
        for (int i = 0; i < 2; ++i) {
            dc[i] = *info.dc_huff_tbl_ptrs[i];
            ac[i] = *info.ac_huff_tbl_ptrs[i];
        }
        jpeg_destroy_compress(&info);
    }
};

const TStandardTables& Standard() {
    static const TStandardTables tables;
    return tables;
}

// The value of `size` bits `bits` as JPEG codes it: the lower half negative.
inline int Extend(uint32_t bits, int size) {
    const int v = int(bits);
    return v < (1 << (size - 1)) ? v - (1 << size) + 1 : v;
}

// The scan's bits, most significant first, with the zero byte stuffed after each 0xFF
// taken out. At a marker or the end of the data it supplies zero bits and counts them: a
// decoder that reads any of them has read past the data, which is then damaged or short.
class TBits {
  public:
    TBits(const uint8_t* data, const uint8_t* end) : FAt(data), FEnd(end) {}

    // At least 32 bits in hand.
    [[gnu::always_inline]] void Need() {
        if (FCount < 32) {
            Fill();
        }
    }
    uint32_t Peek(int n) const { return uint32_t(FBuffer >> (64 - n)); }  // 1 <= n <= 32
    void Skip(int n) {
        FBuffer <<= n;
        FCount -= n;
    }
    // Whether bits past the data have been read.
    bool Overrun() const { return FCount < FPadding; }

    // The next marker after the bits in hand (any bytes before it skipped, as decoders
    // skip them); -1 when the data ends first. The bits in hand are dropped.
    int NextMarker() {
        FBuffer = 0;
        FCount = FPadding = 0;
        FAtMarker = false;
        for (; FEnd - FAt >= 2; ++FAt) {
            if (FAt[0] == 0xFF && FAt[1] != 0 && FAt[1] != 0xFF) {
                FAt += 2;
                return FAt[-1];
            }
        }
        return -1;
    }
    // Skips the segment whose length field is next; false when it runs past the end.
    bool SkipSegment() {
        if (FEnd - FAt < 2) {
            return false;
        }
        const int length = FAt[0] << 8 | FAt[1];
        if (length < 2 || FEnd - FAt < length) {
            return false;
        }
        FAt += length;
        return true;
    }

  private:
    [[gnu::always_inline]] void Fill() {
        // Eight bytes without a 0xFF among them go in at once.
        if (!FAtMarker && FEnd - FAt >= 8) {
            uint64_t word;
            std::memcpy(&word, FAt, 8);
            const uint64_t inverse = ~word;
            if (((inverse - 0x0101010101010101ull) & ~inverse & 0x8080808080808080ull) == 0) {
                const int bytes = (63 - FCount) >> 3;
                const int total = FCount + 8 * bytes;
                FBuffer |= (__builtin_bswap64(word) >> FCount) & ~(~0ull >> total);
                FCount = total;
                FAt += bytes;
                return;
            }
        }
        while (FCount <= 56) {
            uint64_t byte = 0;
            if (!FAtMarker && FAt < FEnd && (FAt[0] != 0xFF || (FEnd - FAt >= 2 && FAt[1] == 0))) {
                byte = FAt[0];
                FAt += byte == 0xFF ? 2 : 1;
            } else {
                FAtMarker = true;  // FAt stays on the marker
                FPadding += 8;
            }
            FBuffer |= byte << (56 - FCount);
            FCount += 8;
        }
    }

    const uint8_t* FAt;
    const uint8_t* FEnd;
    uint64_t FBuffer = 0;  // FCount bits, from the top
    int FCount = 0;
    int FPadding = 0;  // the last FPadding bits of those in hand are not the data's
    bool FAtMarker = false;
};

constexpr uint32_t kWithValue = 1u << 5;

// The next symbol of `huffman`'s code, for a code longer than the fast table looks at;
// -1 for bits that are no code of it.
int LongSymbol(TBits& bits, const TJpegPreview::THuffman& huffman) {
    for (int length = kLookBits + 1; length <= 16; ++length) {
        const int32_t code = int32_t(bits.Peek(length));
        if (code <= huffman.maxCode[length]) {
            const int32_t at = code + huffman.valueAt[length];
            if (at < 0 || at > 255) {
                return -1;
            }
            bits.Skip(length);
            return huffman.values[at];
        }
    }
    return -1;
}

// The next symbol of `huffman`'s code (run << 4 | size) and the value of the size bits
// after it; false for bits that are no code of it. Needs 32 bits in hand.
[[gnu::always_inline]] inline bool Next(TBits& bits, const TJpegPreview::THuffman& huffman,
                                        int& symbol, int& value) {
    const uint32_t fast = huffman.fast[bits.Peek(kLookBits)];
    bits.Skip(int(fast & 31));
    symbol = int(fast >> 8) & 0xFF;
    if (fast & kWithValue) {
        value = int32_t(fast) >> 16;
        return true;
    }
    if (fast == 0 && (symbol = LongSymbol(bits, huffman)) < 0) {
        return false;
    }
    const int size = symbol & 15;
    value = 0;
    if (size != 0) {
        value = Extend(bits.Peek(size), size);
        bits.Skip(size);
    }
    return true;
}

// The bytes written for a row of `width` samples: three as four and six as eight (each
// row of a plane has room after its last block, and the block to the right writes its
// own first samples later), so that a row is one store.
constexpr int RowBytes(int width) {
    return width == 3 ? 4 : width == 6 ? 8 : width;
}
constexpr int kRowSlack = 8;

// A block's W x H samples (W, H <= 8) being summed, four at a time, then put into their
// plane at `out`, rows `stride` apart.
typedef float TFour __attribute__((vector_size(16)));

template <int W, int H>
struct TSums {
    static constexpr int kSamples = W * H;
    static constexpr int kFours = (kSamples + 3) / 4;
    static constexpr int kSixteens = (kSamples + 15) / 16;
    TFour four[kFours];

    TSums(float dc, const float* weights) {
#pragma GCC unroll 16
        for (int i = 0; i < kFours; ++i) {
            four[i] = dc * Load(weights + 4 * i);
        }
    }
    void Add(float value, const float* weights) {
#pragma GCC unroll 16
        for (int i = 0; i < kFours; ++i) {
            four[i] += value * Load(weights + 4 * i);
        }
    }
    // Level-shifted, rounded and clamped to 0..255, row after row.
    void Put(uint8_t* out, int stride) const {
#if defined(__SSE2__)
        __m128i bytes[kSixteens];
#pragma GCC unroll 4
        for (int v = 0; v < kSixteens; ++v) {
            __m128i whole[4];
#pragma GCC unroll 4
            for (int i = 0; i < 4; ++i) {
                const int at = 4 * v + i;
                const __m128 sum = at < kFours ? __m128(four[at]) : _mm_setzero_ps();
                whole[i] = _mm_cvtps_epi32(
                    _mm_min_ps(_mm_max_ps(_mm_add_ps(sum, _mm_set1_ps(128.0f)), _mm_setzero_ps()),
                               _mm_set1_ps(255.0f)));
            }
            bytes[v] = _mm_packus_epi16(_mm_packs_epi32(whole[0], whole[1]),
                                        _mm_packs_epi32(whole[2], whole[3]));
        }
        if constexpr (kSixteens == 1) {
            // Rows taken from the register: written to memory and read back in pieces,
            // they stalled on store forwarding.
            const unsigned __int128 all = uint64_t(_mm_cvtsi128_si64(bytes[0])) |
                                          (unsigned __int128)uint64_t(_mm_cvtsi128_si64(
                                              _mm_unpackhi_epi64(bytes[0], bytes[0])))
                                              << 64;
#pragma GCC unroll 8
            for (int y = 0; y < H; ++y) {
                const uint64_t row = uint64_t(all >> (8 * W * y));
                std::memcpy(out + y * stride, &row, RowBytes(W));
            }
        } else {
            alignas(16) uint8_t samples[16 * kSixteens];
            std::memcpy(samples, bytes, sizeof samples);
#pragma GCC unroll 8
            for (int y = 0; y < H; ++y) {
                std::memcpy(out + y * stride, samples + W * y, W);
            }
        }
#else
        uint8_t samples[4 * kFours + 8] = {};
        for (int i = 0; i < kSamples; ++i) {
            samples[i] = uint8_t(std::clamp(four[i / 4][i % 4] + 128.5f, 0.0f, 255.0f));
        }
        for (int y = 0; y < H; ++y) {
            std::memcpy(out + y * stride, samples + W * y, RowBytes(W));
        }
#endif
    }
    static TFour Load(const float* at) {
        TFour f;
        std::memcpy(&f, at, sizeof f);
        return f;
    }
};

// A block of one level throughout.
template <int W, int H>
[[gnu::always_inline]] inline void PutLevel(uint8_t level, uint8_t* out, int stride) {
    const uint64_t row = level * 0x0101010101010101ull;
#pragma GCC unroll 8
    for (int y = 0; y < H; ++y) {
        std::memcpy(out + y * stride, &row, RowBytes(W));
    }
}

// One block of the data, reduced to W x H samples at `out` (rows `stride` apart) by
// summing, for each coefficient it has, the coefficient times its weights (W x H of them
// for each coefficient in the data's order). False when the data is no block.
template <int W, int H>
[[gnu::always_inline]] inline bool Block(TBits& bits, const TJpegPreview::THuffman& dc,
                                         const TJpegPreview::THuffman& ac, const float* weights,
                                         int& predictor, uint8_t* out, int stride) {
    int symbol, value;
    bits.Need();
    if (!Next(bits, dc, symbol, value) || symbol > 11) {
        return false;
    }
    predictor += value;
    bits.Need();
    if (!Next(bits, ac, symbol, value)) {
        return false;
    }
    if (symbol == 0) {
        // Nothing but the DC value, as most of a camera's blocks: one level throughout.
        PutLevel<W, H>(uint8_t(std::clamp(float(predictor) * weights[0] + 128.5f, 0.0f, 255.0f)),
                       out, stride);
        return true;
    }
    TSums<W, H> sum(float(predictor), weights);
    for (int k = 1;;) {
        if (symbol & 15) {
            k += symbol >> 4;
            if (k > 63) {
                return false;
            }
            if constexpr (W * H > 1) {
                sum.Add(float(value), weights + k * W * H);
            }
            ++k;
        } else if (symbol == 0xF0) {
            k += 16;  // sixteen zeros
        } else {
            break;  // the rest are zero
        }
        if (k >= 64) {
            break;
        }
        bits.Need();
        if (!Next(bits, ac, symbol, value)) {
            return false;
        }
    }
    sum.Put(out, stride);
    return true;
}

}  // namespace

bool TJpegPreview::Reads(const jpeg_decompress_struct& info) {
    if (info.num_components != 3 || info.comps_in_scan != 3 || info.jpeg_color_space != JCS_YCbCr ||
        info.data_precision != 8 || info.progressive_mode || info.arith_code || info.Ss != 0 ||
        info.Se != 63 || info.Ah != 0 || info.Al != 0) {
        return false;
    }
    for (int i = 0; i < 3; ++i) {
        const jpeg_component_info* c = info.cur_comp_info[i];
        if (c != &info.comp_info[i]) {
            return false;  // the scan's components in another order than the frame's
        }
        const int h = c->h_samp_factor, v = c->v_samp_factor;
        const bool sampled = i == 0 ? (h == 1 && v == 1) || (h == 2 && v == 1) || (h == 2 && v == 2)
                                    : h == 1 && v == 1;
        if (!sampled) {
            return false;
        }
    }
    return true;
}

namespace {

// `table` as `huffman`, rebuilt only when it changed. False for a table no encoder could
// have written.
bool Prepare(const JHUFF_TBL& table, bool dc, TJpegPreview::THuffman& huffman) {
    uint8_t key[sizeof huffman.source];
    std::memcpy(key, table.bits, 17);
    std::memcpy(key + 17, table.huffval, 256);
    if (huffman.built && std::memcmp(key, huffman.source, sizeof key) == 0) {
        return true;  // the last frame's table
    }
    huffman.built = false;
    std::memset(huffman.fast, 0, sizeof huffman.fast);
    // Canonical codes: each length's codes follow on from the shorter ones'.
    int code = 0, index = 0;
    huffman.maxCode[0] = -1;
    for (int length = 1; length <= 16; ++length) {
        const int count = table.bits[length];
        huffman.valueAt[length] = index - code;
        for (int i = 0; i < count; ++i, ++index, ++code) {
            if (index >= 256 || code >= (1 << length)) {
                return false;
            }
            const uint8_t symbol = table.huffval[index];
            if (dc && symbol > 15) {
                return false;
            }
            huffman.values[index] = symbol;
            if (length <= kLookBits) {
                // Where the value's bits fit in the look too, it is read in the same step.
                const int shift = kLookBits - length, size = symbol & 15;
                for (int fill = 0; fill < (1 << shift); ++fill) {
                    uint32_t entry = uint32_t(length) | uint32_t(symbol) << 8;
                    if (length + size <= kLookBits) {
                        const uint32_t bits = uint32_t(fill) >> (shift - size);
                        const int value = size ? Extend(bits, size) : 0;
                        entry = uint32_t(length + size) | kWithValue | uint32_t(symbol) << 8 |
                                uint32_t(value) << 16;
                    }
                    huffman.fast[(code << shift) | fill] = entry;
                }
            }
        }
        huffman.maxCode[length] = count ? code - 1 : -1;
        code <<= 1;
    }
    std::memcpy(huffman.source, key, sizeof key);
    huffman.built = true;
    return true;
}

// basis[u][x]: frequency u's share of sample x when a block's 8 pixels across (or down)
// are reduced to `samples`. The reduced transform is the whole one averaged over the
// pixels each sample covers (8 / samples of them, in part at the edges where that is no
// whole number), as libjpeg-turbo reduces by halves.
void ReducedBasis(int samples, float basis[8][8]) {
    const double group = 8.0 / samples;
    for (int u = 0; u < 8; ++u) {
        const double scale = u == 0 ? 0.5 / std::sqrt(2.0) : 0.5;
        for (int x = 0; x < samples; ++x) {
            const double from = x * group, to = from + group;
            double sum = 0;
            for (int j = 0; j < 8; ++j) {
                const double covered = std::min<double>(to, j + 1) - std::max<double>(from, j);
                if (covered > 0) {
                    sum += covered * std::cos((2 * j + 1) * u * M_PI / 16);
                }
            }
            basis[u][x] = float(scale * sum / group);
        }
    }
}

// The weights of a component quantised by `quant` whose blocks are reduced to `samples`.
void Prepare(const JQUANT_TBL& quant, QSize samples, TJpegPreview::TWeights& weights) {
    if (weights.samples == samples &&
        std::memcmp(weights.quant, quant.quantval, sizeof weights.quant) == 0) {
        return;
    }
    const int w = samples.width(), h = samples.height();
    float across[8][8] = {}, down[8][8] = {};
    ReducedBasis(w, across);
    ReducedBasis(h, down);
    const int count = w * h;
    weights.weights.assign(std::size_t(64) * count + 3, 0.0f);  // read four at a time
    for (int k = 0; k < 64; ++k) {
        const int row = kNatural[k] / 8, column = kNatural[k] % 8;
        const float q = quant.quantval[kNatural[k]];
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                weights.weights[std::size_t(k) * count + y * w + x] =
                    q * down[row][y] * across[column][x];
            }
        }
    }
    std::memcpy(weights.quant, quant.quantval, sizeof weights.quant);
    weights.samples = samples;
}

// What the MCU loop needs of the scan's three components (Y, Cb, Cr).
struct TScan {
    const TJpegPreview::THuffman* dc[3];
    const TJpegPreview::THuffman* ac[3];
    const float* weights[3];
    uint8_t* planes[3];
    int stride[3];
    int mcusX, mcusY;
    unsigned restartInterval;
    const uint8_t* data;  // the scan's data
    const uint8_t* end;   // the frame's end
};

// The scan's MCUs, each H x V luma blocks reduced to M x M samples and one block of each
// chroma reduced to C x C; then what follows the scan. 0 or -EBADMSG.
template <int M, int H, int V, int C>
int DecodeMcus(const TScan& scan) {
    // Here, where its address is never taken, the reader lives in registers: the samples
    // written through byte pointers would otherwise make the compiler reload it after each.
    TBits bits(scan.data, scan.end);
    int predictor[3] = {};
    unsigned untilRestart = scan.restartInterval;
    int restart = 0;
    const int yStride = scan.stride[0], cStride = scan.stride[1];
    for (int my = 0; my < scan.mcusY; ++my) {
        uint8_t* y = scan.planes[0] + std::size_t(my) * V * M * yStride;
        uint8_t* cb = scan.planes[1] + std::size_t(my) * C * cStride;
        uint8_t* cr = scan.planes[2] + std::size_t(my) * C * cStride;
        for (int mx = 0; mx < scan.mcusX; ++mx, y += H * M, cb += C, cr += C) {
            if (scan.restartInterval != 0) {
                if (untilRestart == 0) {
                    if (bits.Overrun() || bits.NextMarker() != JPEG_RST0 + restart) {
                        return -EBADMSG;
                    }
                    restart = (restart + 1) & 7;
                    predictor[0] = predictor[1] = predictor[2] = 0;
                    untilRestart = scan.restartInterval;
                }
                --untilRestart;
            }
            for (int by = 0; by < V; ++by) {
                for (int bx = 0; bx < H; ++bx) {
                    if (!Block<M, M>(bits, *scan.dc[0], *scan.ac[0], scan.weights[0], predictor[0],
                                     y + by * M * yStride + bx * M, yStride)) {
                        return -EBADMSG;
                    }
                }
            }
            if (!Block<C, C>(bits, *scan.dc[1], *scan.ac[1], scan.weights[1], predictor[1], cb,
                             cStride) ||
                !Block<C, C>(bits, *scan.dc[2], *scan.ac[2], scan.weights[2], predictor[2], cr,
                             cStride)) {
                return -EBADMSG;
            }
        }
        if (bits.Overrun()) {
            return -EBADMSG;
        }
    }
    // What follows the scan: segments a decoder passes over, then the end.
    for (int marker = bits.NextMarker();; marker = bits.NextMarker()) {
        if (marker == JPEG_EOI) {
            return 0;
        }
        const bool alone = marker >= JPEG_RST0 && marker <= JPEG_RST0 + 7;
        const bool segment = (marker >= JPEG_APP0 && marker <= JPEG_APP0 + 15) ||
                             marker == JPEG_COM || marker == 0xC4 || marker == 0xDB ||
                             marker == 0xDC || marker == 0xDD;  // DHT, DQT, DNL, DRI
        if (!alone && !(segment && bits.SkipSegment())) {
            return -EBADMSG;
        }
    }
}

// Chroma sampled once for 2 x 2 luma blocks is reduced to twice the samples, as many as
// its luma, as libjpeg-turbo scales it: repeated over 2 x 2 samples it was, on fine
// colour detail, several times further from the picture. Sampled once for 2 x 1 it is
// repeated across, as libjpeg-turbo repeats it.
template <int M>
int DecodeMcus(const TScan& scan, int h, int v) {
    if (h == 1) {
        return DecodeMcus<M, 1, 1, M>(scan);
    }
    return v == 1 ? DecodeMcus<M, 2, 1, M>(scan) : DecodeMcus<M, 2, 2, 2 * M>(scan);
}

}  // namespace

int TJpegPreview::DecodeScan(const jpeg_decompress_struct& info, int eighths) {
    TScan scan;
    const int mcuWidth = 8 * info.max_h_samp_factor, mcuHeight = 8 * info.max_v_samp_factor;
    scan.mcusX = (int(info.image_width) + mcuWidth - 1) / mcuWidth;
    scan.mcusY = (int(info.image_height) + mcuHeight - 1) / mcuHeight;
    scan.restartInterval = info.restart_interval;
    const int h = info.comp_info[0].h_samp_factor, v = info.comp_info[0].v_samp_factor;
    for (int c = 0; c < 3; ++c) {
        const jpeg_component_info& component = info.comp_info[c];
        const int dcNumber = component.dc_tbl_no, acNumber = component.ac_tbl_no;
        // The numbers are the frame's own, up to 15, unchecked until a decoder uses them.
        if (dcNumber < 0 || dcNumber >= NUM_HUFF_TBLS || acNumber < 0 ||
            acNumber >= NUM_HUFF_TBLS || component.quant_tbl_no < 0 ||
            component.quant_tbl_no >= NUM_QUANT_TBLS) {
            return -EBADMSG;
        }
        // A frame without tables of its own has the standard ones (only numbers 0 and 1).
        const JHUFF_TBL* dcTable = info.dc_huff_tbl_ptrs[dcNumber];
        const JHUFF_TBL* acTable = info.ac_huff_tbl_ptrs[acNumber];
        if (!dcTable && dcNumber < 2) {
            dcTable = &Standard().dc[dcNumber];
        }
        if (!acTable && acNumber < 2) {
            acTable = &Standard().ac[acNumber];
        }
        const JQUANT_TBL* quant = info.quant_tbl_ptrs[component.quant_tbl_no];
        if (!dcTable || !acTable || !quant || !Prepare(*dcTable, true, FHuffman[0][dcNumber]) ||
            !Prepare(*acTable, false, FHuffman[1][acNumber])) {
            return -EBADMSG;
        }
        const int samples = c == 0 || h != v ? eighths : eighths * h;  // see DecodeMcus
        Prepare(*quant, QSize(samples, samples), FWeights[c]);
        scan.dc[c] = &FHuffman[0][dcNumber];
        scan.ac[c] = &FHuffman[1][acNumber];
        scan.weights[c] = FWeights[c].weights.data();
        FStride[c] = scan.mcusX * component.h_samp_factor * samples + kRowSlack;
        FPlanes[c].resize(std::size_t(FStride[c]) * scan.mcusY * component.v_samp_factor * samples);
        scan.planes[c] = FPlanes[c].data();
        scan.stride[c] = FStride[c];
    }
    scan.data = info.src->next_input_byte;
    scan.end = scan.data + info.src->bytes_in_buffer;
    switch (eighths) {
        case 1:
            return DecodeMcus<1>(scan, h, v);
        case 2:
            return DecodeMcus<2>(scan, h, v);
        case 3:
            return DecodeMcus<3>(scan, h, v);
        default:
            return DecodeMcus<4>(scan, h, v);
    }
}

int TJpegPreview::Decode(const jpeg_decompress_struct& info, int eighths, QSize size,
                         QImage::Format format, QImage& picture) {
    if (eighths < 1 || eighths > kMostEighths) {
        return -EINVAL;
    }
    if (const int r = DecodeScan(info, eighths); r != 0) {
        return r;
    }
    if (picture.size() != size || picture.format() != format || !picture.isDetached()) {
        picture = QImage(size, format);
    }
    // Chroma as many samples as luma, or half of them across; the full-range levels of JPEG.
    const uint8_t* y = FPlanes[0].data();
    const uint8_t* u = FPlanes[1].data();
    const uint8_t* v = FPlanes[2].data();
    const bool wide = format == QImage::Format_RGB32;
    const bool halfAcross =
        info.comp_info[0].h_samp_factor == 2 && info.comp_info[0].v_samp_factor == 1;
    const auto convert = halfAcross ? (wide ? libyuv::I422ToARGBMatrix : libyuv::I422ToRGB24Matrix)
                                    : (wide ? libyuv::I444ToARGBMatrix : libyuv::I444ToRGB24Matrix);
    const int r = convert(y, FStride[0], u, FStride[1], v, FStride[2], picture.bits(),
                          int(picture.bytesPerLine()), &libyuv::kYuvJPEGConstants, size.width(),
                          size.height());
    return r == 0 ? 0 : -EBADMSG;
}
