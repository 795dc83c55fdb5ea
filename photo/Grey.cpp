// Black and white: the average of the three components.
#include "photo/Grey.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include "photo/Simd.h"

namespace PhotoPipeline {

namespace {

// sum * 21846 >> 16 equals sum / 3 (truncated) for every sum up to 765.
inline uint8_t GreyOf(const uint8_t* p) {
    return uint8_t(((uint32_t(p[0]) + p[1] + p[2]) * 21846u) >> 16);
}

// Turns a row of `width` pixels grey in place; `values` (when not null) receives one grey
// value a pixel.
using TGreyRow = void (*)(uint8_t* p, uint8_t* values, int width);

void GreyRowPlain(uint8_t* p, uint8_t* values, int width) {
    for (int x = 0; x < width; ++x, p += 3) {
        const uint8_t grey = GreyOf(p);
        p[0] = p[1] = p[2] = grey;
        if (values) {
            values[x] = grey;
        }
    }
}

#if defined(__x86_64__) || defined(__i386__)
// Sixteen pixels (48 bytes) at a time: byte shuffles gather each component, 16-bit lanes
// add them and multiply by 21846 keeping the high half, and shuffles spread the result.
// The AVX2 version does the same on two groups of sixteen at once, one per 128-bit lane.
struct TGreyMasks {
    alignas(16) int8_t Gather[3][3][16];  // [component][which 16-byte load]
    alignas(16) int8_t Spread[3][16];     // [which 16-byte store]
};

TGreyMasks MakeGreyMasks() {
    TGreyMasks m;
    for (int c = 0; c < 3; ++c) {
        for (int part = 0; part < 3; ++part) {
            for (int k = 0; k < 16; ++k) {
                const int index = 3 * k + c - 16 * part;
                m.Gather[c][part][k] = index >= 0 && index < 16 ? int8_t(index) : int8_t(-1);
            }
        }
    }
    for (int part = 0; part < 3; ++part) {
        for (int t = 0; t < 16; ++t) {
            m.Spread[part][t] = int8_t((16 * part + t) / 3);
        }
    }
    return m;
}

const TGreyMasks& GreyMasks() {
    static const TGreyMasks m = MakeGreyMasks();
    return m;
}

__attribute__((target("ssse3"))) void GreyRowSsse3(uint8_t* p, uint8_t* values, int width) {
    const TGreyMasks& m = GreyMasks();
    const auto mask = [](const int8_t* bytes) {
        return _mm_load_si128(reinterpret_cast<const __m128i*>(bytes));
    };
    const __m128i zero = _mm_setzero_si128(), third = _mm_set1_epi16(21846);
    int x = 0;
    for (; x + 16 <= width; x += 16, p += 48) {
        const __m128i in[3] = {_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)),
                               _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16)),
                               _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32))};
        __m128i c[3];
        for (int i = 0; i < 3; ++i) {
            c[i] = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(in[0], mask(m.Gather[i][0])),
                                             _mm_shuffle_epi8(in[1], mask(m.Gather[i][1]))),
                                _mm_shuffle_epi8(in[2], mask(m.Gather[i][2])));
        }
        const __m128i low = _mm_add_epi16(
            _mm_add_epi16(_mm_unpacklo_epi8(c[0], zero), _mm_unpacklo_epi8(c[1], zero)),
            _mm_unpacklo_epi8(c[2], zero));
        const __m128i high = _mm_add_epi16(
            _mm_add_epi16(_mm_unpackhi_epi8(c[0], zero), _mm_unpackhi_epi8(c[1], zero)),
            _mm_unpackhi_epi8(c[2], zero));
        const __m128i grey =
            _mm_packus_epi16(_mm_mulhi_epu16(low, third), _mm_mulhi_epu16(high, third));
        for (int part = 0; part < 3; ++part) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 16 * part),
                             _mm_shuffle_epi8(grey, mask(m.Spread[part])));
        }
        if (values) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(values + x), grey);
        }
    }
    GreyRowPlain(p, values ? values + x : nullptr, width - x);
}

__attribute__((target("avx2"))) void GreyRowAvx2(uint8_t* p, uint8_t* values, int width) {
    const TGreyMasks& m = GreyMasks();
    __m256i gather[3][3], spread[3];
    for (int i = 0; i < 3; ++i) {
        for (int part = 0; part < 3; ++part) {
            gather[i][part] = _mm256_broadcastsi128_si256(
                _mm_load_si128(reinterpret_cast<const __m128i*>(m.Gather[i][part])));
        }
        spread[i] = _mm256_broadcastsi128_si256(
            _mm_load_si128(reinterpret_cast<const __m128i*>(m.Spread[i])));
    }
    const __m256i zero = _mm256_setzero_si256(), third = _mm256_set1_epi16(21846);
    int x = 0;
    for (; x + 32 <= width; x += 32, p += 96) {
        // Lane 0 holds pixels 0..15 (bytes 0..47), lane 1 pixels 16..31 (bytes 48..95).
        __m256i in[3];
        for (int part = 0; part < 3; ++part) {
            in[part] = _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(p + 48 + 16 * part),
                                           reinterpret_cast<const __m128i*>(p + 16 * part));
        }
        __m256i c[3];
        for (int i = 0; i < 3; ++i) {
            c[i] = _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(in[0], gather[i][0]),
                                                   _mm256_shuffle_epi8(in[1], gather[i][1])),
                                   _mm256_shuffle_epi8(in[2], gather[i][2]));
        }
        const __m256i low = _mm256_add_epi16(
            _mm256_add_epi16(_mm256_unpacklo_epi8(c[0], zero), _mm256_unpacklo_epi8(c[1], zero)),
            _mm256_unpacklo_epi8(c[2], zero));
        const __m256i high = _mm256_add_epi16(
            _mm256_add_epi16(_mm256_unpackhi_epi8(c[0], zero), _mm256_unpackhi_epi8(c[1], zero)),
            _mm256_unpackhi_epi8(c[2], zero));
        const __m256i grey =
            _mm256_packus_epi16(_mm256_mulhi_epu16(low, third), _mm256_mulhi_epu16(high, third));
        for (int part = 0; part < 3; ++part) {
            _mm256_storeu2_m128i(reinterpret_cast<__m128i*>(p + 48 + 16 * part),
                                 reinterpret_cast<__m128i*>(p + 16 * part),
                                 _mm256_shuffle_epi8(grey, spread[part]));
        }
        if (values) {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(values + x), grey);
        }
    }
    GreyRowSsse3(p, values ? values + x : nullptr, width - x);
}

#endif

TGreyRow PickGreyRow() {
#if defined(__x86_64__) || defined(__i386__)
    switch (SimdLevel()) {
        case slAvx2:
            return GreyRowAvx2;
        case slSsse3:
            return GreyRowSsse3;
        case slPlain:
            break;
    }
#endif
    return GreyRowPlain;
}

}  // namespace

void ToGrey(QImage& photo) {
    GreyRows(photo, 0, photo.height());
}

void GreyRows(QImage& photo, int first, int count, uint8_t* const* values) {
    if (photo.isNull() || photo.format() != QImage::Format_BGR888) {
        return;
    }
    const int begin = qMax(first, 0), end = qMin(photo.height(), first + qMax(count, 0));
    if (begin >= end) {
        return;
    }
    // bits() once: it may detach the picture, which must happen before any row is changed.
    GreyPixelRows(photo.bits(), photo.bytesPerLine(), photo.width(), begin, end - begin,
                  values ? values + (begin - first) : nullptr);
}

void GreyPixelRows(uint8_t* bits, qsizetype stride, int width, int first, int count,
                   uint8_t* const* values) {
    const TGreyRow GreyRow = PickGreyRow();
    ClearUpperVectorState();
    for (int i = 0; i < count; ++i) {
        GreyRow(bits + (first + i) * stride, values ? values[i] : nullptr, width);
    }
}

}  // namespace PhotoPipeline
