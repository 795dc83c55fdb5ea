// Resampling a photograph to its output size with an averaging filter.
#include "photo/Scale.h"

#include <cstring>
#include <memory>
#include <new>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include <libyuv/planar_functions.h>
#include <libyuv/scale.h>

#include "photo/PictureMemory.h"
#include "photo/Simd.h"

namespace PhotoPipeline {

namespace {

// Widening a B, G, R row to the target width with libyuv's linear column filter, which
// the photographs have always been enlarged with: the same values, byte for byte.
//
// In the common case libyuv blends, for target pixel j, source pixels i = x >> 16 and
// i + 1 with x = j * dx, dx = ((sw << 16) - 0x10001) / (w - 1), f = (x >> 9) & 127:
//   value = a + ((f * (b - a) + 64) >> 7).
// Its own column filter does that one plane and a few pixels at a time; here the whole
// interleaved row is cut into pieces of 8 target bytes, each of which reads one 16-byte
// window of the source (8 bytes of a row enlarged span at most 13 source bytes), gathered
// into (a, b) pairs by a byte shuffle and weighed by one multiply-add. The pieces'
// windows, shuffles and weights are the same for every row and computed once.
class THorizontalFilter {
  public:
    THorizontalFilter(int sourceWidth, int width) : FSourceWidth(sourceWidth), FWidth(width) {}

    bool Prepare();
    // `source` is one row of the photo; `out` receives 3 x width bytes (and may be
    // overwritten up to Padding bytes beyond).
    void Widen(const uint8_t* source, uint8_t* out);

    static constexpr int Padding = 32;

  private:
    enum TMode { mCopy, mReplicate, mPieces, mLibyuv };
    // Pieces p and p + 1 share one 32-byte line of each table, so that AVX2 loads both
    // with one instruction. Pieces come in fours.
    struct alignas(32) TTwoPieces {
        uint8_t Shuffle[2][16];  // (a, b) index pairs into each piece's window
        uint8_t Weight[2][16];   // (128 - f, f) pairs
    };

    void WidenPiecesPlain(const uint8_t* window, uint8_t* out) const;
#if defined(__x86_64__) || defined(__i386__)
    void WidenPiecesSsse3(const uint8_t* window, uint8_t* out) const;
    void WidenPiecesAvx2(const uint8_t* window, uint8_t* out) const;
#endif
    void WidenByPlanes(const uint8_t* source, uint8_t* out);

    const int FSourceWidth, FWidth;
    TMode FMode = mLibyuv;
    int FPieces = 0;                  // pieces of 8 target bytes, a multiple of 4
    std::vector<int32_t> FBase;       // window start of each piece, in source bytes
    std::vector<TTwoPieces> FTables;  // per two pieces
    std::vector<int32_t> FPixelX;     // x >> 16 of each target pixel
    std::vector<uint8_t> FPixelF;     // f of each target pixel
    std::vector<uint8_t> FScratch;    // the source row with room to read windows past its end
};

bool THorizontalFilter::Prepare() {
    const int sw = FSourceWidth, w = FWidth;
    // The cases libyuv treats apart, and widths its column filter reads differently.
    if (w == sw) {
        FMode = mCopy;
        return true;
    }
    if (sw == 1) {
        FMode = mReplicate;
        return true;
    }
    const bool libyuvAlone = w < sw || (w + 1) / 2 == sw || sw >= 32768;
    try {
        if (libyuvAlone) {
            FMode = mLibyuv;
            FScratch.resize(3 * size_t(sw) + 3 * size_t(w));
            return true;
        }
        FMode = mPieces;
        const int64_t dx = ((int64_t(sw) << 16) - 0x10001) / (w - 1);
        FPixelX.resize(size_t(w));
        FPixelF.resize(size_t(w));
        for (int j = 0; j < w; ++j) {
            const int64_t x = j * dx;
            FPixelX[size_t(j)] = int32_t(x >> 16);
            FPixelF[size_t(j)] = uint8_t((x >> 9) & 127);
        }
        const int bytes = 3 * w;
        FPieces = ((bytes + 7) / 8 + 3) & ~3;
        FBase.assign(size_t(FPieces), 0);
        FTables.assign(size_t(FPieces / 2), TTwoPieces{});
        for (int p = 0; p < FPieces; ++p) {
            const int first = 8 * p;
            if (first >= bytes) {
                FBase[size_t(p)] = FBase[size_t(p - 1)];  // a filler: weights 0, output unused
                continue;
            }
            const int base = 3 * FPixelX[size_t(first / 3)];
            FBase[size_t(p)] = base;
            TTwoPieces& tables = FTables[size_t(p / 2)];
            for (int k = 0; k < 8 && first + k < bytes; ++k) {
                const int j = (first + k) / 3, c = (first + k) % 3;
                const int a = 3 * FPixelX[size_t(j)] + c - base;
                tables.Shuffle[p % 2][2 * k] = uint8_t(a);
                tables.Shuffle[p % 2][2 * k + 1] = uint8_t(a + 3);
                tables.Weight[p % 2][2 * k] = uint8_t(128 - FPixelF[size_t(j)]);
                tables.Weight[p % 2][2 * k + 1] = FPixelF[size_t(j)];
            }
        }
        FScratch.resize(3 * size_t(sw) + Padding);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

void THorizontalFilter::WidenPiecesPlain(const uint8_t* window, uint8_t* out) const {
    const int bytes = 3 * FWidth;
    for (int o = 0; o < bytes; ++o) {
        const int j = o / 3, c = o % 3;
        const int a = window[3 * FPixelX[size_t(j)] + c],
                  b = window[3 * FPixelX[size_t(j)] + 3 + c];
        out[o] = uint8_t(a + ((FPixelF[size_t(j)] * (b - a) + 64) >> 7));
    }
}

#if defined(__x86_64__) || defined(__i386__)
// The pixels are made signed (minus 128) so that the unsigned weights can multiply them in
// one pmaddubsw; adding 128 * 128 + 64 back before the shift gives a * (128 - f) + b * f + 64.
__attribute__((target("ssse3"))) void THorizontalFilter::WidenPiecesSsse3(const uint8_t* source,
                                                                          uint8_t* out) const {
    const __m128i sign = _mm_set1_epi8(char(0x80)), bias = _mm_set1_epi16(0x4040);
    for (int p = 0; p < FPieces; p += 2, out += 16) {
        __m128i v[2];
        const TTwoPieces& tables = FTables[size_t(p / 2)];
        for (int h = 0; h < 2; ++h) {
            const __m128i window =
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + FBase[size_t(p + h)]));
            const __m128i pairs = _mm_xor_si128(
                _mm_shuffle_epi8(
                    window, _mm_load_si128(reinterpret_cast<const __m128i*>(tables.Shuffle[h]))),
                sign);
            const __m128i sum = _mm_maddubs_epi16(
                _mm_load_si128(reinterpret_cast<const __m128i*>(tables.Weight[h])), pairs);
            v[h] = _mm_srli_epi16(_mm_add_epi16(sum, bias), 7);
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(v[0], v[1]));
    }
}

__attribute__((target("avx2"))) void THorizontalFilter::WidenPiecesAvx2(const uint8_t* source,
                                                                        uint8_t* out) const {
    const __m256i sign = _mm256_set1_epi8(char(0x80)), bias = _mm256_set1_epi16(0x4040);
    for (int p = 0; p < FPieces; p += 4, out += 32) {
        __m256i v[2];
        for (int h = 0; h < 2; ++h) {
            // Pieces q and q + 1, one per 128-bit lane.
            const int q = p + 2 * h;
            const TTwoPieces& tables = FTables[size_t(q / 2)];
            const __m256i window =
                _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(source + FBase[size_t(q + 1)]),
                                    reinterpret_cast<const __m128i*>(source + FBase[size_t(q)]));
            const __m256i shuffle =
                _mm256_load_si256(reinterpret_cast<const __m256i*>(tables.Shuffle));
            const __m256i weight =
                _mm256_load_si256(reinterpret_cast<const __m256i*>(tables.Weight));
            const __m256i pairs = _mm256_xor_si256(_mm256_shuffle_epi8(window, shuffle), sign);
            v[h] =
                _mm256_srli_epi16(_mm256_add_epi16(_mm256_maddubs_epi16(weight, pairs), bias), 7);
        }
        // packus works per lane: pieces p, p + 2 | p + 1, p + 3; the permute puts them in order.
        const __m256i packed = _mm256_packus_epi16(v[0], v[1]);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out),
                            _mm256_permute4x64_epi64(packed, 0xD8));
    }
}
#endif

void THorizontalFilter::WidenByPlanes(const uint8_t* source, uint8_t* out) {
    const int sw = FSourceWidth, w = FWidth;
    uint8_t* const s[3] = {&FScratch[0], &FScratch[size_t(sw)], &FScratch[2 * size_t(sw)]};
    uint8_t* const t[3] = {&FScratch[3 * size_t(sw)], &FScratch[3 * size_t(sw) + size_t(w)],
                           &FScratch[3 * size_t(sw) + 2 * size_t(w)]};
    libyuv::SplitRGBPlane(source, 0, s[0], 0, s[1], 0, s[2], 0, sw, 1);
    for (int c = 0; c < 3; ++c) {
        libyuv::ScalePlane(s[c], sw, sw, 1, t[c], w, w, 1, libyuv::kFilterBilinear);
    }
    libyuv::MergeRGBPlane(t[0], 0, t[1], 0, t[2], 0, out, 0, w, 1);
}

void THorizontalFilter::Widen(const uint8_t* source, uint8_t* out) {
    switch (FMode) {
        case mCopy:
            std::memcpy(out, source, 3 * size_t(FWidth));
            return;
        case mReplicate:
            for (int j = 0; j < FWidth; ++j) {
                std::memcpy(out + 3 * j, source, 3);
            }
            return;
        case mLibyuv:
            WidenByPlanes(source, out);
            return;
        case mPieces:
            break;
    }
    // Windows may reach past the row's end: they read from a padded copy.
    std::memcpy(FScratch.data(), source, 3 * size_t(FSourceWidth));
    const TSimdLevel level = SimdLevel();
#if defined(__x86_64__) || defined(__i386__)
    if (level == slAvx2) {
        WidenPiecesAvx2(FScratch.data(), out);
        return;
    }
    if (level == slSsse3) {
        WidenPiecesSsse3(FScratch.data(), out);
        return;
    }
#endif
    WidenPiecesPlain(FScratch.data(), out);
}

// Source rows widened to the target width. The last two widened rows are kept, which is
// all that enlarging needs, since target rows move down the source monotonically; they stay
// in the first-level cache.
class TRowWidener {
  public:
    TRowWidener(const QImage& photo, int width)
        : FPhoto(photo),
          FFilter(photo.width(), width),
          FStride(3 * size_t(width) + THorizontalFilter::Padding) {}

    bool Allocate() {
        FMemory.reset(new (std::nothrow) uint8_t[2 * FStride]);
        return FMemory && FFilter.Prepare();
    }

    // The widened B, G, R row of source row `row`.
    const uint8_t* Row(int row) {
        for (int k = 0; k < 2; ++k) {
            if (FKept[k] == row) {
                return &FMemory[size_t(k) * FStride];
            }
        }
        const int k = FKept[0] < FKept[1] ? 0 : 1;  // the older one goes
        FFilter.Widen(FPhoto.constScanLine(row), &FMemory[size_t(k) * FStride]);
        FKept[k] = row;
        return &FMemory[size_t(k) * FStride];
    }

  private:
    const QImage& FPhoto;
    THorizontalFilter FFilter;
    const size_t FStride;
    std::unique_ptr<uint8_t[]> FMemory;
    int FKept[2] = {-1, -1};  // source rows held by the two widened rows
};

// Any other change of size: each colour is scaled as a plane of its own with the box
// filter, which averages every source pixel a target pixel covers when shrinking.
bool ScaleByPlanes(const QImage& photo, QImage& scaled) {
    const int sw = photo.width(), sh = photo.height();
    const int width = scaled.width(), height = scaled.height();
    const size_t sourcePlane = size_t(sw) * size_t(sh),
                 targetPlane = size_t(width) * size_t(height);
    TPictureMemory source = AllocatePictureMemory(3 * sourcePlane);
    TPictureMemory target = AllocatePictureMemory(3 * targetPlane);
    if (!source || !target) {
        return false;
    }
    uint8_t* const s[3] = {&source[0], &source[sourcePlane], &source[2 * sourcePlane]};
    uint8_t* const t[3] = {&target[0], &target[targetPlane], &target[2 * targetPlane]};
    libyuv::SplitRGBPlane(photo.constBits(), int(photo.bytesPerLine()), s[0], sw, s[1], sw, s[2],
                          sw, sw, sh);
    for (int c = 0; c < 3; ++c) {
        libyuv::ScalePlane(s[c], sw, sw, sh, t[c], width, width, height, libyuv::kFilterBox);
    }
    source.reset();
    libyuv::MergeRGBPlane(t[0], width, t[1], width, t[2], width, scaled.bits(),
                          int(scaled.bytesPerLine()), width, height);
    return true;
}

}  // namespace

// Enlarging in both directions, bilinear with centred samples, one target row at a time:
// each target row is a blend of the two widened source rows around its centre, written
// once into the new picture.
struct TEnlargement::TState {
    explicit TState(const QImage& photo, int width)
        : Source(photo), Widener(Source, width), Width(width) {}

    const QImage Source;  // shared with the caller's photo, only read
    TRowWidener Widener;
    QImage Picture;  // until taken
    uint8_t* Target = nullptr;
    qsizetype Stride = 0;
    int Width, Height = 0;
};

TEnlargement::TEnlargement() = default;
TEnlargement::~TEnlargement() = default;

bool TEnlargement::Begin(const QImage& photo, int width, int height) {
    F.reset();
    if (photo.isNull() || photo.format() != QImage::Format_BGR888 || width < photo.width() ||
        height < photo.height()) {
        return false;
    }
    auto state = std::make_unique<TState>(photo, width);
    if (!state->Widener.Allocate()) {
        return false;
    }
    state->Picture = NewBgrPicture(width, height);
    if (state->Picture.isNull()) {
        return false;
    }
    // The picture is not shared yet: bits() does not copy it, and from here on rows are
    // written through this pointer only.
    state->Target = state->Picture.bits();
    state->Stride = state->Picture.bytesPerLine();
    state->Height = height;
    F = std::move(state);
    return true;
}

QImage TEnlargement::TakePicture() {
    return F ? std::move(F->Picture) : QImage();
}

void TEnlargement::MakeRows(int first, int count) {
    if (!F) {
        return;
    }
    ClearUpperVectorState();
    const int sh = F->Source.height(), height = F->Height;
    const int wideStride = 3 * F->Width;
    const int end = qMin(height, first + count);
    for (int y = qMax(first, 0); y < end; ++y) {
        // Centre of target row y in source rows, in 1/256 steps, clamped to the picture.
        const int64_t at =
            qBound<int64_t>(0, ((2 * int64_t(y) + 1) * sh * 256) / (2 * int64_t(height)) - 128,
                            int64_t(sh - 1) * 256);
        const int row = int(at >> 8), fraction = int(at & 255);
        const uint8_t* top = F->Widener.Row(row);
        const uint8_t* below = fraction && row + 1 < sh ? F->Widener.Row(row + 1) : top;
        libyuv::InterpolatePlane(top, wideStride, below, wideStride, F->Target + y * F->Stride,
                                 int(F->Stride), wideStride, 1, fraction);
    }
}

bool ScalePhoto(QImage& photo, int width, int height) {
    if (photo.isNull() || width <= 0 || height <= 0 || photo.format() != QImage::Format_BGR888) {
        return false;
    }
    if (photo.width() == width && photo.height() == height) {
        return true;
    }
    // Whatever ran before (Qt's fills, AVX copies) may have left the upper vector halves
    // dirty, which slows every SSE instruction of libyuv's scalers several times over.
    ClearUpperVectorState();
    // libyuv's plane functions are used rather than its interleaved (ARGB/RGB24) scaler,
    // which was measured to darken every pixel by one level.
    if (width >= photo.width() && height >= photo.height()) {
        TEnlargement enlargement;
        if (!enlargement.Begin(photo, width, height)) {
            return false;
        }
        QImage scaled = enlargement.TakePicture();
        enlargement.MakeRows(0, height);
        photo = std::move(scaled);
        return true;
    }
    QImage scaled = NewBgrPicture(width, height);
    if (scaled.isNull() || !ScaleByPlanes(photo, scaled)) {
        return false;
    }
    photo = std::move(scaled);
    return true;
}

}  // namespace PhotoPipeline
