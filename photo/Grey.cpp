// Black and white: the average of the three components.
#include "photo/Grey.h"

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace PhotoPipeline {

void ToGrey(QImage& photo) {
    GreyRows(photo, 0, photo.height());
}

namespace {

// sum * 21846 >> 16 equals sum / 3 (truncated) for every sum up to 765.
inline uint8_t GreyOf(const uint8_t* p) {
    return uint8_t(((uint32_t(p[0]) + p[1] + p[2]) * 21846u) >> 16);
}

void GreyRowPlain(uint8_t* p, int width) {
    for (int x = 0; x < width; ++x, p += 3) {
        p[0] = p[1] = p[2] = GreyOf(p);
    }
}

#if defined(__x86_64__) || defined(__i386__)
// Sixteen pixels (48 bytes) at a time: byte shuffles gather each component, 16-bit lanes
// add them and multiply by 21846 keeping the high half, and shuffles spread the result.
struct TGreyMasks {
    __m128i Gather[3][3];  // [component][which 16-byte load]
    __m128i Spread[3];     // [which 16-byte store]
};

TGreyMasks MakeGreyMasks() {
    TGreyMasks m;
    alignas(16) int8_t bytes[16];
    for (int c = 0; c < 3; ++c) {
        for (int part = 0; part < 3; ++part) {
            for (int k = 0; k < 16; ++k) {
                const int index = 3 * k + c - 16 * part;
                bytes[k] = index >= 0 && index < 16 ? int8_t(index) : int8_t(-1);
            }
            m.Gather[c][part] = _mm_load_si128(reinterpret_cast<const __m128i*>(bytes));
        }
    }
    for (int part = 0; part < 3; ++part) {
        for (int t = 0; t < 16; ++t) {
            bytes[t] = int8_t((16 * part + t) / 3);
        }
        m.Spread[part] = _mm_load_si128(reinterpret_cast<const __m128i*>(bytes));
    }
    return m;
}

__attribute__((target("ssse3"))) void GreyRowSsse3(uint8_t* p, int width) {
    static const TGreyMasks m = MakeGreyMasks();
    const __m128i zero = _mm_setzero_si128(), third = _mm_set1_epi16(21846);
    int x = 0;
    for (; x + 16 <= width; x += 16, p += 48) {
        const __m128i in[3] = {_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)),
                               _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16)),
                               _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32))};
        __m128i c[3];
        for (int i = 0; i < 3; ++i) {
            c[i] = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(in[0], m.Gather[i][0]),
                                             _mm_shuffle_epi8(in[1], m.Gather[i][1])),
                                _mm_shuffle_epi8(in[2], m.Gather[i][2]));
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
                             _mm_shuffle_epi8(grey, m.Spread[part]));
        }
    }
    GreyRowPlain(p, width - x);
}

using TGreyRow = void (*)(uint8_t*, int);

TGreyRow PickGreyRow() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("ssse3") ? GreyRowSsse3 : GreyRowPlain;
}
#else
using TGreyRow = void (*)(uint8_t*, int);

TGreyRow PickGreyRow() {
    return GreyRowPlain;
}
#endif

}  // namespace

void GreyRows(QImage& photo, int first, int count) {
    if (photo.isNull() || photo.format() != QImage::Format_BGR888) {
        return;
    }
    static const TGreyRow GreyRow = PickGreyRow();
    const int end = qMin(photo.height(), first + qMax(count, 0));
    for (int y = qMax(first, 0); y < end; ++y) {
        GreyRow(photo.scanLine(y), photo.width());
    }
}

}  // namespace PhotoPipeline
