// Inverse DCT building blocks shared by the portable transforms and their
// processor-specific twins.
//
// Arithmetic: dequantized values keep 8 fractional bits against the 14-bit
// scale factors folded into the multipliers; MUL(x, k) = (x * k) >> 8 with
// 8-bit constants; samples are (x + (128 << 11)) >> 11 clamped to 0..255.
// Values are carried as uint32_t so that corrupt coefficients wrap instead
// of overflowing a signed type; valid data stays far from the limits, and
// the results equal those of signed 32-bit arithmetic.
#ifndef QVJPEG_DECODER_JPG_IDCT_IMPL_H
#define QVJPEG_DECODER_JPG_IDCT_IMPL_H

#include <cstdint>
#include <cstring>

namespace {

using JpgFix = uint32_t;

constexpr JpgFix kJpgLevelShift = 0x40000; // 128 << 11
constexpr int32_t kJpgOutShift = 11;

// 8-bit fixed-point constants of the AAN flow.
constexpr int32_t kSqrt2 = 362;        // sqrt(2)
constexpr int32_t k1_847759 = 473;
constexpr int32_t k1_082392 = 277;
constexpr int32_t kMinus2_613126 = -669;
constexpr int32_t k0_414214 = 106;     // sqrt(2) - 1
constexpr int32_t k2_414214 = 618;     // sqrt(2) + 1
constexpr int32_t kGain1 = 217;        // flow gains of an input in t1 alone
constexpr int32_t kGain2 = 145;
constexpr int32_t kGain4 = -51;

inline JpgFix JpgSar(JpgFix x, int32_t n) {
    return static_cast<JpgFix>(static_cast<int32_t>(x) >> n);
}

// Arithmetic of the transform flows by value type: JpgFix here, vectors of
// JpgFix in the kernels.
template <typename V>
struct JpgArith;

template <>
struct JpgArith<JpgFix> {
    static inline JpgFix Mul(JpgFix x, int32_t k) { return JpgSar(x * static_cast<JpgFix>(k), 8); }
};

inline JpgFix JpgMul(JpgFix x, int32_t k) { return JpgArith<JpgFix>::Mul(x, k); }
inline JpgFix JpgDequant(int16_t coef, int32_t multiplier) {
    return JpgSar(static_cast<JpgFix>(multiplier) * static_cast<JpgFix>(coef), 6);
}

// Clamping of descaled values to samples, portable form.
struct JpgPortableClamp {
    static inline uint8_t Sample(JpgFix x) {
        const int32_t v = static_cast<int32_t>(x) >> kJpgOutShift;
        return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
    }
};

// Output rows: sample (row, column) goes to out + column * step + row *
// pitch and, with line doubling, also pitch / 2 further on.
struct JpgOutput {
    uint8_t *out;
    int32_t step;
    int32_t pitch;
    int32_t doubled; // pitch / 2 when line doubling, else 0

    inline uint8_t *Row(int32_t row) const { return out + row * pitch; }
    inline void Put(uint8_t *row, int32_t column, uint8_t value) const {
        row[column * step] = value;
        if (doubled)
            row[column * step + doubled] = value;
    }
    void Fill(int32_t size, uint8_t value) const {
        if (step == 1 && doubled == 0) {
            // Read once: the byte stores could change the fields as far as
            // the compiler knows, and they would be read again per row.
            uint8_t *row = out;
            const int32_t rowPitch = pitch;
            for (int32_t r = 0; r < size; ++r, row += rowPitch)
                std::memset(row, value, static_cast<size_t>(size));
            return;
        }
        for (int32_t r = 0; r < size; ++r) {
            uint8_t *row = Row(r);
            if (step == 1) {
                std::memset(row, value, static_cast<size_t>(size));
                if (doubled)
                    std::memset(row + doubled, value, static_cast<size_t>(size));
                continue;
            }
            for (int32_t c = 0; c < size; ++c)
                Put(row, c, value);
        }
    }
};

// Clamps and writes `count` descaled values as one output row.
template <typename Clamp>
inline void JpgPutSamples(const JpgOutput &o, uint8_t *row, const JpgFix *values,
                          int32_t count) {
    for (int32_t c = 0; c < count; ++c)
        o.Put(row, c, Clamp::Sample(values[c]));
}

inline JpgOutput JpgMakeOutput(uint8_t *out, int32_t step, int32_t pitch, int32_t lineDoubling) {
    return JpgOutput{out, step, pitch, lineDoubling ? pitch / 2 : 0};
}

// Cleared in two halves where SSE2 is there: compilers expand a 64-byte
// clear into a few vector stores, but a 128-byte one into a string
// instruction whose start-up costs more than the stores.
inline void JpgClearBlock(int16_t *coef) {
#if defined(__SSE2__)
    std::memset(coef, 0, 32 * sizeof(int16_t));
    std::memset(coef + 32, 0, 32 * sizeof(int16_t));
#else
    std::memset(coef, 0, 64 * sizeof(int16_t));
#endif
}

// Positions 0, 1, 8 and 9: all a block with last index 2 or less can hold.
inline void JpgClearCorner(int16_t *coef) {
    coef[0] = coef[1] = coef[8] = coef[9] = 0;
}

// One value for the whole block when only the DC is present.
template <typename Clamp>
inline void JpgDcOnly(const JpgOutput &o, int32_t size, int16_t *coef, const int32_t *mult) {
    const uint8_t s = Clamp::Sample(JpgDequant(coef[0], mult[0]) + kJpgLevelShift);
    coef[0] = 0;
    o.Fill(size, s);
}

// One 8-point AAN inverse transform: t(i) gives input i, put() takes the
// eight outputs in order. The value type is that of t(i).
template <typename In, typename Out>
inline void JpgAan8(const In &t, Out &&put) {
    using V = decltype(t(0));
    using A = JpgArith<V>;
    const V tmp10 = t(0) + t(4);
    const V tmp11 = t(0) - t(4);
    const V tmp13 = t(2) + t(6);
    const V tmp12 = A::Mul(t(2) - t(6), kSqrt2) - tmp13;
    const V e0 = tmp10 + tmp13, e3 = tmp10 - tmp13;
    const V e1 = tmp11 + tmp12, e2 = tmp11 - tmp12;
    const V z13 = t(5) + t(3), z10 = t(5) - t(3);
    const V z11 = t(1) + t(7), z12 = t(1) - t(7);
    const V o7 = z11 + z13;
    const V o11 = A::Mul(z11 - z13, kSqrt2);
    const V z5 = A::Mul(z10 + z12, k1_847759);
    const V o10 = A::Mul(z12, k1_082392) - z5;
    const V o12 = A::Mul(z10, kMinus2_613126) + z5;
    const V o6 = o12 - o7;
    const V o5 = o11 - o6;
    const V o4 = o10 + o5;
    put(e0 + o7, e1 + o6, e2 + o5, e3 - o4, e3 + o4, e2 - o5, e1 - o6, e0 - o7);
}

// The same flow with inputs 4..7 zero.
template <typename In, typename Out>
inline void JpgAan8Low4(const In &t, Out &&put) {
    using V = decltype(t(0));
    using A = JpgArith<V>;
    const V t0 = t(0), t1 = t(1), t2 = t(2), t3 = t(3);
    const V tmp12 = A::Mul(t2, k0_414214);
    const V e0 = t0 + t2, e3 = t0 - t2;
    const V e1 = t0 + tmp12, e2 = t0 - tmp12;
    const V o7 = t1 + t3;
    const V diff = A::Mul(t1 - t3, k1_847759);
    const V o6 = A::Mul(t3, -kMinus2_613126) - o7 + diff;
    const V o5 = A::Mul(t1 - t3, kSqrt2) - o6;
    const V o4 = A::Mul(t1, k1_082392) - diff + o5;
    put(e0 + o7, e1 + o6, e2 + o5, e3 - o4, e3 + o4, e2 - o5, e1 - o6, e0 - o7);
}

// The same flow with only inputs 0 and 1.
template <typename In, typename Out>
inline void JpgAan8Low2(const In &t, Out &&put) {
    using V = decltype(t(0));
    using A = JpgArith<V>;
    const V x0 = t(0), x1 = t(1);
    const V g1 = A::Mul(x1, kGain1), g2 = A::Mul(x1, kGain2), g4 = A::Mul(x1, kGain4);
    put(x0 + x1, x0 + g1, x0 + g2, x0 - g4, x0 + g4, x0 - g2, x0 - g1, x0 - x1);
}

// The 4-point flow of the half-size transform.
template <typename V, typename Out>
inline void JpgFlow4(V t0, V t1, V t2, V t3, Out &&put) {
    using A = JpgArith<V>;
    const V odd = A::Mul(t1, k0_414214) - A::Mul(t3, k2_414214);
    const V even0 = t0 + t2, even1 = t0 - t2, sum13 = t1 + t3;
    put(even0 + sum13, even1 + odd, even1 - odd, even0 - sum13);
}

// The three flows of the full-size transform, by the shape of the block.
struct JpgFlowFull {
    template <typename In, typename Out>
    void operator()(const In &t, Out &&put) const { JpgAan8(t, put); }
};
struct JpgFlowLow4 {
    template <typename In, typename Out>
    void operator()(const In &t, Out &&put) const { JpgAan8Low4(t, put); }
};
struct JpgFlowLow2 {
    template <typename In, typename Out>
    void operator()(const In &t, Out &&put) const { JpgAan8Low2(t, put); }
};

// Column pass of `columns` columns through `flow` into the scratch rows,
// then row pass over the 8 scratch rows through `flow`, writing samples.
// A column whose AC terms are all zero transforms to its DC value in every
// row, which `SkipFlat` takes without the flow (same result, less work).
template <typename Clamp, int Columns, bool SkipFlat, typename Flow>
inline void JpgTwoPass8(const JpgOutput &o, const int16_t *coef, const int32_t *mult,
                        int32_t *scratch, Flow flow) {
    auto *ws = reinterpret_cast<JpgFix *>(scratch);
    for (int32_t v = 0; v < Columns; ++v) {
        const int16_t *c = coef + v;
        const int32_t *m = mult + v;
        if (SkipFlat && (c[8] | c[16] | c[24] | c[32] | c[40] | c[48] | c[56]) == 0) {
            const JpgFix dc = JpgDequant(c[0], m[0]);
            for (int32_t u = 0; u < 8; ++u)
                ws[8 * u + v] = dc;
            continue;
        }
        flow([&](int32_t u) { return JpgDequant(c[8 * u], m[8 * u]); },
             [&](JpgFix w0, JpgFix w1, JpgFix w2, JpgFix w3, JpgFix w4, JpgFix w5, JpgFix w6,
                 JpgFix w7) {
                 JpgFix *col = ws + v;
                 col[0] = w0, col[8] = w1, col[16] = w2, col[24] = w3;
                 col[32] = w4, col[40] = w5, col[48] = w6, col[56] = w7;
             });
    }
    for (int32_t r = 0; r < 8; ++r) {
        const JpgFix *a = ws + 8 * r;
        uint8_t *row = o.Row(r);
        flow([&](int32_t i) { return i == 0 ? a[0] + kJpgLevelShift : a[i]; },
             [&](JpgFix s0, JpgFix s1, JpgFix s2, JpgFix s3, JpgFix s4, JpgFix s5, JpgFix s6,
                 JpgFix s7) {
                 const JpgFix values[8] = {s0, s1, s2, s3, s4, s5, s6, s7};
                 JpgPutSamples<Clamp>(o, row, values, 8);
             });
    }
}

// Full-size transform. `TwoPass` runs the column and row passes of a flow
// on all the blocks with more than a DC: TwoPass::Run<Columns>(output,
// coef, mult, scratch, flow), where only the first `Columns` columns can be
// nonzero.
template <typename Clamp, typename TwoPass>
inline void JpgIdct8(uint8_t *out, int16_t *coef, int32_t step, int32_t pitch,
                     const int32_t *mult, int32_t lineDoubling, int32_t last, int32_t *scratch) {
    const JpgOutput o = JpgMakeOutput(out, step, pitch, lineDoubling);
    if (last <= 0) {
        JpgDcOnly<Clamp>(o, 8, coef, mult);
        if (last < 0)
            JpgClearBlock(coef);
    } else if (last <= 2) {
        TwoPass::template Run<2>(o, coef, mult, scratch, JpgFlowLow2());
        JpgClearCorner(coef);
    } else if (last <= 9) {
        TwoPass::template Run<4>(o, coef, mult, scratch, JpgFlowLow4());
        for (int32_t r = 0; r < 4; ++r)
            std::memset(coef + 8 * r, 0, 4 * sizeof(int16_t));
    } else {
        TwoPass::template Run<8>(o, coef, mult, scratch, JpgFlowFull());
        JpgClearBlock(coef);
    }
}

// Scalar passes: one column, then one row at a time; flat columns of a
// full block skip the flow.
template <typename Clamp>
struct JpgScalarTwoPass {
    template <int Columns, typename Flow>
    static inline void Run(const JpgOutput &o, const int16_t *coef, const int32_t *mult,
                           int32_t *scratch, Flow flow) {
        JpgTwoPass8<Clamp, Columns, Columns == 8>(o, coef, mult, scratch, flow);
    }
};

// Scalar passes of the half-size transform: a 4-point flow whose scale
// factors come from the multipliers, over `columns` columns (2 when the
// last index is 2 or less, else 4), then over the four rows.
template <typename Clamp>
struct JpgScalarPasses4 {
    static inline void Run(const JpgOutput &o, const int16_t *coef, const int32_t *mult,
                           int32_t *scratch, int32_t columns) {
        auto *ws = reinterpret_cast<JpgFix *>(scratch);
        for (int32_t v = 0; v < 4; ++v) {
            JpgFix *col = ws + v;
            if (v >= columns) {
                col[0] = col[8] = col[16] = col[24] = 0;
                continue;
            }
            const JpgFix t0 = JpgDequant(coef[v], mult[v]);
            const JpgFix t1 = JpgDequant(coef[8 + v], mult[8 + v]);
            const JpgFix t2 = JpgDequant(coef[16 + v], mult[16 + v]);
            const JpgFix t3 = JpgDequant(coef[24 + v], mult[24 + v]);
            JpgFlow4(t0, t1, t2, t3, [col](JpgFix w0, JpgFix w1, JpgFix w2, JpgFix w3) {
                col[0] = w0, col[8] = w1, col[16] = w2, col[24] = w3;
            });
        }
        for (int32_t r = 0; r < 4; ++r) {
            const JpgFix *a = ws + 8 * r;
            uint8_t *row = o.Row(r);
            JpgFlow4(a[0] + kJpgLevelShift, a[1], a[2], a[3],
                     [&](JpgFix s0, JpgFix s1, JpgFix s2, JpgFix s3) {
                         const JpgFix values[4] = {s0, s1, s2, s3};
                         JpgPutSamples<Clamp>(o, row, values, 4);
                     });
        }
    }
};

// Half-size transform on the top-left 4x4 coefficients.
template <typename Clamp, typename Passes>
inline void JpgIdct4(uint8_t *out, int16_t *coef, int32_t step, int32_t pitch,
                     const int32_t *mult, int32_t lineDoubling, int32_t last, int32_t *scratch) {
    const JpgOutput o = JpgMakeOutput(out, step, pitch, lineDoubling);
    if (last == 0) {
        JpgDcOnly<Clamp>(o, 4, coef, mult);
        return;
    }
    // With last index 2 or less only t0 and t1 of the first two columns can
    // be nonzero.
    Passes::Run(o, coef, mult, scratch, last <= 2 ? 2 : 4);
    // A half-size decode also stores coefficients outside the 4x4 corner.
    if (last <= 2)
        JpgClearCorner(coef);
    else
        JpgClearBlock(coef);
}

// Quarter-size transform: the 2x2 corner.
template <typename Clamp>
inline void JpgIdct2(uint8_t *out, int16_t *coef, int32_t step, int32_t pitch,
                     const int32_t *mult, int32_t lineDoubling, int32_t last) {
    const JpgOutput o = JpgMakeOutput(out, step, pitch, lineDoubling);
    if (last == 0) {
        JpgDcOnly<Clamp>(o, 2, coef, mult);
        return;
    }
    const JpgFix d = JpgDequant(coef[0], mult[0]) + kJpgLevelShift;
    const JpgFix t1 = JpgDequant(coef[1], mult[1]);
    const JpgFix t8 = JpgDequant(coef[8], mult[8]);
    const JpgFix t9 = JpgDequant(coef[9], mult[9]);
    uint8_t *row0 = o.Row(0);
    uint8_t *row1 = o.Row(1);
    o.Put(row0, 0, Clamp::Sample(d + t8 + t1 + t9));
    o.Put(row0, 1, Clamp::Sample(d + t8 - t1 - t9));
    o.Put(row1, 0, Clamp::Sample(d - t8 + t1 - t9));
    o.Put(row1, 1, Clamp::Sample(d - t8 - t1 + t9));
    // A quarter-size decode also stores positions 16 and 2 (zigzag 3, 4).
    if (last <= 2)
        JpgClearCorner(coef);
    else
        JpgClearBlock(coef);
}

} // namespace

#endif
