// Which vector instructions the pixel passes may use, and the care they need.
#pragma once

namespace PhotoPipeline {

enum TSimdLevel { slPlain = 0, slSsse3 = 1, slAvx2 = 2 };

// The best level this CPU offers, lowered by any limit set below. Cheap to call.
TSimdLevel SimdLevel();
// Keeps the pixel passes at or below `level` from now on, so that the plainer code paths
// can be checked on a machine that has the better ones. For tests.
void LimitSimdLevel(TSimdLevel level);

// Code compiled for AVX (Qt's image fills, libc's memcpy) can leave the upper halves of the
// YMM registers dirty; legacy SSE code (libyuv's scalers, libjpeg-turbo's SSE2 paths) then
// pays a state transition on every instruction. A pixel pass calls this at its entry. Does
// nothing where the CPU has no AVX.
void ClearUpperVectorState();

}  // namespace PhotoPipeline
