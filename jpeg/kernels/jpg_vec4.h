// Helpers of the processor-specific transforms that run on four 32-bit
// lanes of a 128-bit register (SSE2, NEON), for any lane type V.
#ifndef QVJPEG_KERNELS_JPG_VEC4_H
#define QVJPEG_KERNELS_JPG_VEC4_H

#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Transposes the 4x4 quarter held in v[0..3].
template <typename V> inline void JpgVec4Transpose(V *v) {
    const V a0 = __builtin_shufflevector(v[0], v[1], 0, 4, 1, 5);
    const V a1 = __builtin_shufflevector(v[0], v[1], 2, 6, 3, 7);
    const V a2 = __builtin_shufflevector(v[2], v[3], 0, 4, 1, 5);
    const V a3 = __builtin_shufflevector(v[2], v[3], 2, 6, 3, 7);
    v[0] = __builtin_shufflevector(a0, a2, 0, 1, 4, 5);
    v[1] = __builtin_shufflevector(a0, a2, 2, 3, 6, 7);
    v[2] = __builtin_shufflevector(a1, a3, 0, 1, 4, 5);
    v[3] = __builtin_shufflevector(a1, a3, 2, 3, 6, 7);
}

#if defined(__SSE2__)
// Lane-wise x * k for factors k below 2^16, each held in both 16-bit
// halves of its lane. SSE2 has no 32-bit lane multiply: the low 32 bits
// of x * k come from two 16-bit multiplies, (x mod 2^16) * k in full and
// the low half of (x >> 16) * k.
template <typename V> inline V JpgVec4MulFactors(V x, __m128i factors) {
    const __m128i v = reinterpret_cast<__m128i>(x);
    const __m128i low = _mm_mullo_epi16(v, factors);
    const __m128i high = _mm_mulhi_epu16(v, factors);
    return reinterpret_cast<V>(_mm_add_epi32(low, _mm_slli_epi32(high, 16)));
}
#endif

#endif
