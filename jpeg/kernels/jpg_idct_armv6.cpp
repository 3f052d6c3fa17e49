// Processor-specific inverse DCTs. The full- and half-size transforms run
// each pass on four lanes at once (columns, then, after a transpose, rows)
// wherever the compiler has 128-bit vector registers; on ARMv6 without NEON
// they stay scalar and saturate samples with USAT. The arithmetic is that of
// the portable transforms, so both give the same samples.
#include "decoder/jpg_idct.h"

#include "decoder/jpg_idct_impl.h"
#include "kernels/jpg_vec4.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

#if defined(__arm__) && defined(__ARM_ARCH) && __ARM_ARCH >= 6
struct JpgKernelClamp {
    static inline uint8_t Sample(JpgFix x) {
        const int32_t v = static_cast<int32_t>(x) >> kJpgOutShift;
        int32_t s;
        __asm__("usat %0, #8, %1" : "=r"(s) : "r"(v));
        return static_cast<uint8_t>(s);
    }
};
#else
using JpgKernelClamp = JpgPortableClamp;
#endif

#if defined(__arm__) && !defined(__ARM_NEON)
using JpgKernelTwoPass = JpgScalarTwoPass<JpgKernelClamp>;
using JpgKernelPasses4 = JpgScalarPasses4<JpgKernelClamp>;
#else

// Four lanes: one 128-bit register on SSE2 and NEON. A block is handled as
// 4x4 quarters: the columns in two halves for the column pass, the rows in
// two halves for the row pass.
typedef JpgFix JpgVec __attribute__((vector_size(16)));
typedef int32_t JpgVecSigned __attribute__((vector_size(16)));
typedef int16_t JpgVecCoef __attribute__((vector_size(8)));
typedef uint8_t JpgVecBytes __attribute__((vector_size(4)));

inline JpgVec JpgVecSar(JpgVec x, int32_t n) {
    return reinterpret_cast<JpgVec>(reinterpret_cast<JpgVecSigned>(x) >> n);
}

#if defined(__SSE2__)
// x * k for k below 2^16.
inline JpgVec JpgVecMulSmall(JpgVec x, int32_t k) {
    return JpgVec4MulFactors(x, _mm_set1_epi16(static_cast<int16_t>(k)));
}

inline JpgVec JpgVecMulConstant(JpgVec x, int32_t k) {
    return k < 0 ? JpgVec{} - JpgVecMulSmall(x, -k) : JpgVecMulSmall(x, k);
}
#else
inline JpgVec JpgVecMulConstant(JpgVec x, int32_t k) { return x * static_cast<JpgFix>(k); }
#endif

template <>
struct JpgArith<JpgVec> {
    static inline JpgVec Mul(JpgVec x, int32_t k) { return JpgVecSar(JpgVecMulConstant(x, k), 8); }
};

// Dequantized columns 4h..4h+3 of row u.
inline JpgVec JpgDequantQuarterRow(const int16_t *coef, const int32_t *mult, int32_t u,
                                   int32_t h) {
    JpgVecCoef c;
    JpgVec m;
    std::memcpy(&c, coef + 8 * u + 4 * h, sizeof c);
    std::memcpy(&m, mult + 8 * u + 4 * h, sizeof m);
    const JpgVec wide = reinterpret_cast<JpgVec>(__builtin_convertvector(c, JpgVecSigned));
    return JpgVecSar(wide * m, 6);
}

inline JpgVec JpgVecDescale(JpgVec x) { return JpgVecSar(x, kJpgOutShift); }

#if !defined(__SSE2__)
// Clamps descaled values to 0..255 without branches.
inline JpgVec JpgVecClamp(JpgVec x) {
    JpgVecSigned v = reinterpret_cast<JpgVecSigned>(x);
    v &= ~(v >> 31);                   // negatives to 0
    v = (v | ((255 - v) >> 31)) & 255; // above 255 to 255
    return reinterpret_cast<JpgVec>(v);
}
#endif

// Clamps the descaled values of one row, its left and right column halves,
// to 0..255 bytes in bytes[0..7].
inline void JpgPackRow(JpgVec left, JpgVec right, uint8_t *bytes) {
#if defined(__SSE2__)
    // The saturating packs clamp on the way: to 16 bits, then to 0..255.
    const __m128i words =
        _mm_packs_epi32(reinterpret_cast<__m128i>(left), reinterpret_cast<__m128i>(right));
    const __m128i packed = _mm_packus_epi16(words, words);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(bytes), packed);
#else
    const JpgVecBytes l = __builtin_convertvector(JpgVecClamp(left), JpgVecBytes);
    const JpgVecBytes r = __builtin_convertvector(JpgVecClamp(right), JpgVecBytes);
    std::memcpy(bytes, &l, sizeof l);
    std::memcpy(bytes + 4, &r, sizeof r);
#endif
}

// Writes `count` (8 or 4) descaled values of one row, clamped to 0..255,
// from its left and right column halves.
inline void JpgStoreRow(const JpgOutput &o, uint8_t *row, JpgVec left, JpgVec right,
                        int32_t count = 8) {
    uint8_t bytes[16];
    JpgPackRow(left, right, bytes);
    if (o.step == 1) {
        std::memcpy(row, bytes, static_cast<size_t>(count));
        if (o.doubled)
            std::memcpy(row + o.doubled, bytes, static_cast<size_t>(count));
        return;
    }
    for (int32_t c = 0; c < count; ++c)
        o.Put(row, c, bytes[c]);
}

// Runs `flow` on eight vectors and stores its outputs into out[0..7].
template <typename Flow>
inline void JpgVecFlow(Flow flow, const JpgVec *in, JpgVec *out) {
    flow([in](int32_t i) { return in[i]; },
         [out](JpgVec o0, JpgVec o1, JpgVec o2, JpgVec o3, JpgVec o4, JpgVec o5, JpgVec o6,
               JpgVec o7) {
             out[0] = o0, out[1] = o1, out[2] = o2, out[3] = o3;
             out[4] = o4, out[5] = o5, out[6] = o6, out[7] = o7;
         });
}

// Writes the eight rows of a block one after the other. `Plain` output has
// one byte per sample and no line doubling: then nothing of the output
// description is read again after a row is stored, as it would have to be
// otherwise (byte stores may change anything, as far as the compiler knows).
template <bool Plain>
class JpgRowSink {
public:
    explicit JpgRowSink(const JpgOutput &o) : o_(o), row_(o.out), pitch_(o.pitch) {}

    inline void Put(JpgVec left, JpgVec right) {
        if constexpr (Plain) {
            uint8_t bytes[16];
            JpgPackRow(left, right, bytes);
            std::memcpy(row_, bytes, 8);
        } else {
            JpgStoreRow(o_, row_, left, right);
        }
        row_ += pitch_;
    }

private:
    const JpgOutput &o_;
    uint8_t *row_;
    const int32_t pitch_;
};

inline bool JpgIsPlain(const JpgOutput &o) { return o.step == 1 && o.doubled == 0; }

// Blocks whose last index is 2 or less hold coefficients 0, 1 and 8 only.
// Column 1 then holds just its DC, so after the column pass every row is
// (column 0 value of the row, coefficient 1), and the row pass adds to the
// row's level-shifted first value a per-column term that is the same for
// all rows: the 2-input flow of (0, coefficient 1). The sums are those of
// the two passes, term by term, so the samples are the same.
template <bool Plain>
inline void JpgVectorLow2(const JpgOutput &o, const int16_t *coef, const int32_t *mult) {
    const JpgFix d0 = JpgDequant(coef[0], mult[0]);
    const JpgFix d1 = JpgDequant(coef[1], mult[1]);
    const JpgFix d8 = JpgDequant(coef[8], mult[8]);
    JpgFix rows[8];
    JpgAan8Low2([&](int32_t i) { return i == 0 ? d0 : d8; },
                [&rows](JpgFix r0, JpgFix r1, JpgFix r2, JpgFix r3, JpgFix r4, JpgFix r5,
                        JpgFix r6, JpgFix r7) {
                    rows[0] = r0, rows[1] = r1, rows[2] = r2, rows[3] = r3;
                    rows[4] = r4, rows[5] = r5, rows[6] = r6, rows[7] = r7;
                });
    JpgVec left;
    JpgVec right;
    JpgAan8Low2([&](int32_t i) { return i == 0 ? JpgFix{0} : d1; },
                [&](JpgFix g0, JpgFix g1, JpgFix g2, JpgFix g3, JpgFix g4, JpgFix g5, JpgFix g6,
                    JpgFix g7) {
                    left = JpgVec{g0, g1, g2, g3};
                    right = JpgVec{g4, g5, g6, g7};
                });
    JpgRowSink<Plain> sink(o);
    for (int32_t u = 0; u < 8; ++u) {
        const JpgFix first = rows[u] + kJpgLevelShift;
        const JpgVec row = JpgVec{first, first, first, first};
        sink.Put(JpgVecDescale(row + left), JpgVecDescale(row + right));
    }
}

struct JpgVectorTwoPass {
    // `Columns` 4 or 8: with 4 the right column half is zero and the flow
    // reads rows 0..3 only.
    template <int Columns, typename Flow>
    static inline void Run(const JpgOutput &o, const int16_t *coef, const int32_t *mult,
                           int32_t *, Flow flow) {
        if (JpgIsPlain(o))
            Passes<Columns, true>(o, coef, mult, flow);
        else
            Passes<Columns, false>(o, coef, mult, flow);
    }

    // Blocks of last index 2 or less take the direct path instead.
    template <int Columns>
    static inline void Run(const JpgOutput &o, const int16_t *coef, const int32_t *mult,
                           int32_t *, JpgFlowLow2) {
        if (JpgIsPlain(o))
            JpgVectorLow2<true>(o, coef, mult);
        else
            JpgVectorLow2<false>(o, coef, mult);
    }

private:
    template <int Columns, bool Plain, typename Flow>
    static inline void Passes(const JpgOutput &o, const int16_t *coef, const int32_t *mult,
                              Flow flow) {
        constexpr int32_t kHalves = Columns == 8 ? 2 : 1;
        // Column pass, per column half h: w[h][u] holds row u. The arrays
        // are set element by element rather than zero-initialised as a
        // whole, which compilers turn into a block clear on the stack.
        JpgVec w[2][8];
        for (int32_t h = 0; h < kHalves; ++h) {
            JpgVec t[8];
            for (int32_t u = 0; u < 8; ++u)
                t[u] = u < Columns ? JpgDequantQuarterRow(coef, mult, u, h) : JpgVec{};
            JpgVecFlow(flow, t, w[h]);
        }
        // Transpose: x[r][c] holds column c of row half r.
        JpgVec x[2][8];
        for (int32_t r = 0; r < 2; ++r) {
            for (int32_t h = 0; h < 2; ++h) {
                JpgVec *quarter = &x[r][4 * h];
                for (int32_t i = 0; i < 4; ++i)
                    quarter[i] = h < kHalves ? w[h][4 * r + i] : JpgVec{};
                if (h < kHalves)
                    JpgVec4Transpose(quarter);
            }
        }
        // Row pass per row half, then back to rows of samples.
        JpgRowSink<Plain> sink(o);
        for (int32_t r = 0; r < 2; ++r) {
            x[r][0] += kJpgLevelShift;
            JpgVec y[8];
            JpgVecFlow(flow, x[r], y);
            for (JpgVec &v : y)
                v = JpgVecDescale(v);
            JpgVec4Transpose(y);
            JpgVec4Transpose(y + 4);
            for (int32_t i = 0; i < 4; ++i)
                sink.Put(y[i], y[4 + i]);
        }
    }
};

// Half-size passes: the four columns in the lanes, then the four rows.
struct JpgVectorPasses4 {
    static inline void Run(const JpgOutput &o, const int16_t *coef, const int32_t *mult,
                           int32_t *, int32_t) {
        JpgVec w[4];
        JpgFlow4(JpgDequantQuarterRow(coef, mult, 0, 0), JpgDequantQuarterRow(coef, mult, 1, 0),
                 JpgDequantQuarterRow(coef, mult, 2, 0), JpgDequantQuarterRow(coef, mult, 3, 0),
                 [&w](JpgVec w0, JpgVec w1, JpgVec w2, JpgVec w3) {
                     w[0] = w0, w[1] = w1, w[2] = w2, w[3] = w3;
                 });
        JpgVec4Transpose(w); // lanes are now the rows
        JpgVec y[4];
        JpgFlow4(w[0] + kJpgLevelShift, w[1], w[2], w[3],
                 [&y](JpgVec s0, JpgVec s1, JpgVec s2, JpgVec s3) {
                     y[0] = JpgVecDescale(s0), y[1] = JpgVecDescale(s1);
                     y[2] = JpgVecDescale(s2), y[3] = JpgVecDescale(s3);
                 });
        JpgVec4Transpose(y);
        for (int32_t r = 0; r < 4; ++r)
            JpgStoreRow(o, o.Row(r), y[r], y[r], 4);
    }
};

using JpgKernelTwoPass = JpgVectorTwoPass;
using JpgKernelPasses4 = JpgVectorPasses4;
#endif

} // namespace

extern "C" {

void JpgDQIDCT8_ARMV6(uint8_t *out, int16_t *coef, int32_t step, int32_t pitch,
                      const int32_t *multipliers, int32_t lineDoubling, int32_t last,
                      int32_t *scratch) {
    JpgIdct8<JpgKernelClamp, JpgKernelTwoPass>(out, coef, step, pitch, multipliers, lineDoubling,
                                               last, scratch);
}

void JpgDQIDCT4_ARMV6(uint8_t *out, int16_t *coef, int32_t step, int32_t pitch,
                      const int32_t *multipliers, int32_t lineDoubling, int32_t last,
                      int32_t *scratch) {
    JpgIdct4<JpgKernelClamp, JpgKernelPasses4>(out, coef, step, pitch, multipliers, lineDoubling,
                                               last, scratch);
}

void JpgDQIDCT2_ARMV6(uint8_t *out, int16_t *coef, int32_t step, int32_t pitch,
                      const int32_t *multipliers, int32_t lineDoubling, int32_t last,
                      int32_t *) {
    JpgIdct2<JpgKernelClamp>(out, coef, step, pitch, multipliers, lineDoubling, last);
}

} // extern "C"
