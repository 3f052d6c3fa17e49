// Processor-specific forward transforms. The rotations are single
// multiplications by 8-bit constants, which ARM's multiply instructions
// take in one step where the shift-and-add forms need several. Wherever
// the compiler has 128-bit vector registers (SSE2, NEON) each pass runs
// on four columns or rows at once: the block is handled as 4x4 quarters,
// transposed between the passes and before quantizing. The arithmetic is
// that of the scalar form, so both give the same coefficients.
#include "encoder/jpg_fdct.h"

#include "encoder/jpg_fdct_impl.h"

#include "kernels/jpg_vec4.h"

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

typedef int32_t Vec __attribute__((vector_size(16)));
typedef uint32_t UVec __attribute__((vector_size(16)));
typedef uint16_t Words4 __attribute__((vector_size(8)));
typedef int16_t Coef4 __attribute__((vector_size(8)));

// Lane-wise products with 16-bit unsigned factors, each held in both
// halves of its lane of `factors`.
inline Vec MulFactors(Vec x, Vec factors) {
#if defined(__SSE2__)
    return JpgVec4MulFactors(x, reinterpret_cast<__m128i>(factors));
#else
    return x * (factors & 0xFFFF);
#endif
}

inline Vec MulConstant(Vec x, int32_t k) { return MulFactors(x, Vec{} + (k | k << 16)); }

// The byte rotations on vectors.
struct VecRotations {
    static inline Vec Half(Vec x) { return MulConstant(x, 181) >> 8; }
    static inline Vec R0383(Vec x) { return MulConstant(x, 98) >> 8; }
    static inline Vec R0541(Vec x) { return MulConstant(x, 139) >> 8; }
    static inline Vec R1307(Vec x) { return MulConstant(x, 334) >> 8; }
};

// The eight samples of a row, less 128: columns 0..3 and 4..7.
inline void LoadRow(const uint8_t *at, int32_t step, Vec *left, Vec *right) {
#if defined(__SSE2__)
    if (step == 1) {
        const __m128i zero = _mm_setzero_si128();
        const __m128i words =
            _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(at)), zero);
        *left = reinterpret_cast<Vec>(_mm_unpacklo_epi16(words, zero)) - 128;
        *right = reinterpret_cast<Vec>(_mm_unpackhi_epi16(words, zero)) - 128;
        return;
    }
#endif
    *left = Vec{at[0], at[step], at[2 * step], at[3 * step]} - 128;
    *right = Vec{at[4 * step], at[5 * step], at[6 * step], at[7 * step]} - 128;
}

// in[half][i] holds entries 4 * half .. + 3 of line i; out[group][j]
// holds entry j of lines 4 * group .. + 3 (lines and entries swapped).
inline void TransposeBlock(Vec in[2][8], Vec out[2][8]) {
    for (int group = 0; group < 2; ++group) {
        for (int half = 0; half < 2; ++half) {
            Vec quarter[4];
            for (int i = 0; i < 4; ++i)
                quarter[i] = in[half][4 * group + i];
            JpgVec4Transpose(quarter);
            for (int j = 0; j < 4; ++j)
                out[group][4 * half + j] = quarter[j];
        }
    }
}

// Four table entries, zero-extended, or each in both halves of its lane
// (the form MulFactors takes).
inline Vec LoadTable(const uint16_t *table) {
#if defined(__SSE2__)
    const __m128i words = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(table));
    return reinterpret_cast<Vec>(_mm_unpacklo_epi16(words, _mm_setzero_si128()));
#else
    Words4 words;
    std::memcpy(&words, table, sizeof words);
    return __builtin_convertvector(words, Vec);
#endif
}
inline Vec LoadFactors(const uint16_t *table) {
#if defined(__SSE2__)
    const __m128i words = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(table));
    return reinterpret_cast<Vec>(_mm_unpacklo_epi16(words, words));
#else
    const UVec wide = reinterpret_cast<UVec>(LoadTable(table));
    return reinterpret_cast<Vec>(wide | wide << 16);
#endif
}

// Eight coefficients of a row from its two halves; every quotient fits in
// 16 bits.
inline void StoreRow(int16_t *out, Vec left, Vec right) {
#if defined(__SSE2__)
    const __m128i packed =
        _mm_packs_epi32(reinterpret_cast<__m128i>(left), reinterpret_cast<__m128i>(right));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out), packed);
#else
    const Coef4 low = __builtin_convertvector(left, Coef4);
    const Coef4 high = __builtin_convertvector(right, Coef4);
    std::memcpy(out, &low, sizeof low);
    std::memcpy(out + 4, &high, sizeof high);
#endif
}

struct Truncate {
    static inline Vec Offset(const uint16_t *) { return Vec{}; }
};
struct Round {
    static inline Vec Offset(const uint16_t *offsets) { return LoadTable(offsets); }
};

// Quotients of the four values at natural index k.. by their steps, as the
// scalar quantizers compute them: the magnitude shifted, the sign put back.
template <typename Rounding> inline Vec Quantize(Vec y, const uint16_t *reciprocal, int k) {
    const Vec product = MulFactors(y, LoadFactors(reciprocal + k));
    const Vec negative = product >> 31;
    const Vec magnitude = (product ^ negative) - negative;
    const Vec quotient = (magnitude + Rounding::Offset(reciprocal + 64 + k)) >> 15;
    return (quotient ^ negative) - negative;
}

template <typename Rounding>
void Transform(int16_t *block, const uint8_t *source, int32_t step, int32_t pitch,
               const uint16_t *reciprocal) {
    // Columns: samples[half][row], then the butterfly down each column.
    Vec samples[2][8];
    Vec columns[2][8];
    for (int r = 0; r < 8; ++r)
        LoadRow(source + r * pitch, step, &samples[0][r], &samples[1][r]);
    for (int half = 0; half < 2; ++half)
        JpgFdctButterfly<VecRotations, Vec>(samples[half], columns[half]);
    // Rows: the column results turned so that each vector holds one
    // column of four rows, then the butterfly along each row.
    Vec turned[2][8];
    Vec rows[2][8];
    TransposeBlock(columns, turned);
    for (int group = 0; group < 2; ++group)
        JpgFdctButterfly<VecRotations, Vec>(turned[group], rows[group]);
    // Back to rows of four columns for the natural-order tables.
    Vec results[2][8];
    TransposeBlock(rows, results);
    for (int u = 0; u < 8; ++u)
        StoreRow(block + 8 * u, Quantize<Rounding>(results[0][u], reciprocal, 8 * u),
                 Quantize<Rounding>(results[1][u], reciprocal, 8 * u + 4));
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
