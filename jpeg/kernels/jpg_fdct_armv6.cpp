// Processor-specific forward transforms. The rotations are single
// multiplications by 8-bit constants, which ARM's multiply instructions
// take in one step where the shift-and-add forms need several. Wherever
// the compiler has 128-bit vector registers (SSE2, NEON) each pass runs
// on all eight columns or rows at once in 16-bit lanes, the block
// transposed between the passes and before quantizing. The arithmetic is
// that of the scalar form, so both give the same coefficients.
#include "encoder/jpg_fdct.h"

#include "encoder/jpg_fdct_impl.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <cstring>

namespace {

#if defined(__arm__) && !defined(__ARM_NEON)

using Truncate = JpgFdctTruncate;
using Round = JpgFdctRound;

template <typename Quantizer>
void Transform(int16_t *block, const uint8_t *source, int32_t step, int32_t pitch,
               const uint16_t *reciprocal) {
    JpgFdctQuantize<JpgFdctByteRotations, Quantizer>(block, source, step, pitch, reciprocal);
}

#else

// Eight 16-bit lanes: a whole row or column per register. Every value of
// both passes fits in 16 bits (a column result is at most 1286 in
// magnitude, a row result at most 12920, a rotation's input at most
// 10288), so the lanes compute what the scalar form computes in 32 bits.
typedef int16_t Vec __attribute__((vector_size(16)));
typedef int32_t Pairs __attribute__((vector_size(16)));
typedef int64_t Quads __attribute__((vector_size(16)));
typedef int32_t Wide __attribute__((vector_size(32)));

// floor(x * k / 256) for k below 512. SSE2 takes the high half of a 16-bit
// product: x * 2^shift * k * 2^(8 - shift) / 2^16 is the same quotient, and
// `shift` keeps both factors within 16 bits for the inputs the butterfly
// hands each rotation.
template <int32_t k, int shift> inline Vec MulShift8(Vec x) {
    static_assert((k << (8 - shift)) < 32768, "factor within 16 bits");
#if defined(__SSE2__)
    return reinterpret_cast<Vec>(_mm_mulhi_epi16(reinterpret_cast<__m128i>(x << shift),
                                                 _mm_set1_epi16(k << (8 - shift))));
#else
    return __builtin_convertvector(__builtin_convertvector(x, Wide) * k >> 8, Vec);
#endif
}

// The byte rotations on vectors; the shifts suit the largest inputs
// (10288 for Half and R0383, 5144 for R0541 and R1307).
struct VecRotations {
    static inline Vec Half(Vec x) { return MulShift8<181, 1>(x); }
    static inline Vec R0383(Vec x) { return MulShift8<98, 0>(x); }
    static inline Vec R0541(Vec x) { return MulShift8<139, 1>(x); }
    static inline Vec R1307(Vec x) { return MulShift8<334, 2>(x); }
};

// The eight samples of a row, less 128.
inline Vec LoadRow(const uint8_t *at, int32_t step) {
#if defined(__SSE2__)
    if (step == 1) {
        const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(at));
        return reinterpret_cast<Vec>(_mm_unpacklo_epi8(bytes, _mm_setzero_si128())) - 128;
    }
#endif
    return Vec{at[0], at[step], at[2 * step], at[3 * step],
               at[4 * step], at[5 * step], at[6 * step], at[7 * step]} - 128;
}

inline Vec LoadWords(const uint16_t *table) {
    Vec words;
    std::memcpy(&words, table, sizeof words);
    return words;
}

// Interleaves of lane pairs of 16, 32 and 64 bits (the unpacks of SSE2
// and the zips of NEON).
inline Vec Low16(Vec a, Vec b) { return __builtin_shufflevector(a, b, 0, 8, 1, 9, 2, 10, 3, 11); }
inline Vec High16(Vec a, Vec b) {
    return __builtin_shufflevector(a, b, 4, 12, 5, 13, 6, 14, 7, 15);
}
inline Vec Low32(Vec a, Vec b) {
    return reinterpret_cast<Vec>(__builtin_shufflevector(reinterpret_cast<Pairs>(a),
                                                         reinterpret_cast<Pairs>(b), 0, 4, 1, 5));
}
inline Vec High32(Vec a, Vec b) {
    return reinterpret_cast<Vec>(__builtin_shufflevector(reinterpret_cast<Pairs>(a),
                                                         reinterpret_cast<Pairs>(b), 2, 6, 3, 7));
}
inline Vec Low64(Vec a, Vec b) {
    return reinterpret_cast<Vec>(
        __builtin_shufflevector(reinterpret_cast<Quads>(a), reinterpret_cast<Quads>(b), 0, 2));
}
inline Vec High64(Vec a, Vec b) {
    return reinterpret_cast<Vec>(
        __builtin_shufflevector(reinterpret_cast<Quads>(a), reinterpret_cast<Quads>(b), 1, 3));
}

// Lines become entries: out[j] holds entry j of in[0..7].
inline void Transpose(const Vec *in, Vec *out) {
    Vec pairs[8], quads[8];
    for (int i = 0; i < 4; ++i) {
        pairs[i] = Low16(in[2 * i], in[2 * i + 1]);
        pairs[4 + i] = High16(in[2 * i], in[2 * i + 1]);
    }
    // pairs[i] holds entries 0..3 of lines 2i, 2i + 1, pairs[4 + i] entries 4..7.
    for (int half = 0; half < 2; ++half) {
        const Vec *p = pairs + 4 * half;
        quads[4 * half + 0] = Low32(p[0], p[1]);
        quads[4 * half + 1] = High32(p[0], p[1]);
        quads[4 * half + 2] = Low32(p[2], p[3]);
        quads[4 * half + 3] = High32(p[2], p[3]);
    }
    // quads[4 * half + 2 * g + l] holds two entries of lines 0..3 (g = 0)
    // or 4..7 (g = 1): entries 4 * half + 2 * l and the next.
    for (int half = 0; half < 2; ++half) {
        for (int l = 0; l < 2; ++l) {
            const Vec top = quads[4 * half + l], bottom = quads[4 * half + 2 + l];
            out[4 * half + 2 * l] = Low64(top, bottom);
            out[4 * half + 2 * l + 1] = High64(top, bottom);
        }
    }
}

#if !defined(__SSE2__)
// floor((m * r + offset) / 2^15) in 32-bit lanes; no offsets for a
// truncating quotient.
inline Vec ScaledQuotient(Vec magnitude, const uint16_t *reciprocal, const uint16_t *offsets) {
    typedef uint16_t Words __attribute__((vector_size(16)));
    const Words steps = reinterpret_cast<Words>(LoadWords(reciprocal));
    Wide product = __builtin_convertvector(magnitude, Wide) * __builtin_convertvector(steps, Wide);
    if (offsets)
        product += __builtin_convertvector(reinterpret_cast<Words>(LoadWords(offsets)), Wide);
    return __builtin_convertvector(product >> 15, Vec);
}
#endif

// Quotients of magnitudes (below 2^15) by their steps, floor((m * r +
// offset) / 2^15), for the eight coefficients from `reciprocal`.
struct Truncate {
    static inline Vec Quotient(Vec magnitude, const uint16_t *reciprocal) {
#if defined(__SSE2__)
        // floor(2m * r / 2^16), the high half of an unsigned product.
        return reinterpret_cast<Vec>(_mm_mulhi_epu16(
            reinterpret_cast<__m128i>(magnitude + magnitude),
            reinterpret_cast<__m128i>(LoadWords(reciprocal))));
#else
        return ScaledQuotient(magnitude, reciprocal, nullptr);
#endif
    }
};
struct Round {
    static inline Vec Quotient(Vec magnitude, const uint16_t *reciprocal) {
#if defined(__SSE2__)
        // The 32-bit products from their two halves, the offsets added.
        const __m128i m = reinterpret_cast<__m128i>(magnitude);
        const __m128i r = reinterpret_cast<__m128i>(LoadWords(reciprocal));
        const __m128i offsets = reinterpret_cast<__m128i>(LoadWords(reciprocal + 64));
        const __m128i zero = _mm_setzero_si128();
        const __m128i low = _mm_mullo_epi16(m, r), high = _mm_mulhi_epu16(m, r);
        const __m128i left = _mm_add_epi32(_mm_unpacklo_epi16(low, high),
                                           _mm_unpacklo_epi16(offsets, zero));
        const __m128i right = _mm_add_epi32(_mm_unpackhi_epi16(low, high),
                                            _mm_unpackhi_epi16(offsets, zero));
        return reinterpret_cast<Vec>(
            _mm_packs_epi32(_mm_srli_epi32(left, 15), _mm_srli_epi32(right, 15)));
#else
        return ScaledQuotient(magnitude, reciprocal, reciprocal + 64);
#endif
    }
};

// The scalar quantizers' result: the magnitude divided, the sign put back.
template <typename Rounding> inline Vec Quantize(Vec y, const uint16_t *reciprocal) {
    const Vec negative = y >> 15;
    const Vec magnitude = (y ^ negative) - negative;
    return (Rounding::Quotient(magnitude, reciprocal) ^ negative) - negative;
}

template <typename Rounding>
void Transform(int16_t *block, const uint8_t *source, int32_t step, int32_t pitch,
               const uint16_t *reciprocal) {
    // Columns: each vector a row of samples, the butterfly down all eight
    // columns at once; then rows, the column results turned.
    Vec lines[8], pass[8];
    for (int r = 0; r < 8; ++r)
        lines[r] = LoadRow(source + r * pitch, step);
    JpgFdctButterfly<VecRotations, Vec>(lines, pass);
    Transpose(pass, lines);
    JpgFdctButterfly<VecRotations, Vec>(lines, pass);
    // Back to rows of coefficients for the natural-order tables.
    Transpose(pass, lines);
    for (int u = 0; u < 8; ++u) {
        const Vec q = Quantize<Rounding>(lines[u], reciprocal + 8 * u);
        std::memcpy(block + 8 * u, &q, sizeof q);
    }
}

#endif

} // namespace

extern "C" {

void JpgFDCTQ_ARMV6(int16_t *block, const uint8_t *source, int32_t step, int32_t pitch,
                    const uint16_t *reciprocal) {
    Transform<Truncate>(block, source, step, pitch, reciprocal);
}

void JpgFDCTQ_HQ_ARMV6(int16_t *block, const uint8_t *source, int32_t step, int32_t pitch,
                       const uint16_t *reciprocal) {
    Transform<Round>(block, source, step, pitch, reciprocal);
}

} // extern "C"
