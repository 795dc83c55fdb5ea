// Which vector instructions the pixel passes may use, and the care they need.
#include "photo/Simd.h"

#include <atomic>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace PhotoPipeline {

namespace {

struct TCpu {
    TSimdLevel Best;
    bool Avx;
};

TCpu Detect() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    const TSimdLevel best = __builtin_cpu_supports("avx2")    ? slAvx2
                            : __builtin_cpu_supports("ssse3") ? slSsse3
                                                              : slPlain;
    return {best, bool(__builtin_cpu_supports("avx"))};
#else
    return {slPlain, false};
#endif
}

const TCpu& Cpu() {
    static const TCpu cpu = Detect();
    return cpu;
}

std::atomic<int> Limit{slAvx2};

#if defined(__x86_64__) || defined(__i386__)
__attribute__((target("avx"))) void ZeroUpper() {
    _mm256_zeroupper();
}
#endif

}  // namespace

TSimdLevel SimdLevel() {
    const int limit = Limit.load(std::memory_order_relaxed);
    return Cpu().Best < limit ? Cpu().Best : TSimdLevel(limit);
}

void LimitSimdLevel(TSimdLevel level) {
    Limit.store(level, std::memory_order_relaxed);
}

void ClearUpperVectorState() {
#if defined(__x86_64__) || defined(__i386__)
    if (Cpu().Avx) {
        ZeroUpper();
    }
#endif
}

}  // namespace PhotoPipeline
