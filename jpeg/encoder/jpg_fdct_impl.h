// The forward transform shared by the portable routines and their
// processor-specific twins, which differ only in how the four rotations
// of the butterfly are multiplied out.
#ifndef QVJPEG_ENCODER_JPG_FDCT_IMPL_H
#define QVJPEG_ENCODER_JPG_FDCT_IMPL_H

#include <cstdint>

// Rotations with shift-and-add constants: sqrt(1/2) as 45/64, 0.3827 as
// 3/8, 0.5412 as 17/32 and 1.3066 as 1 + 19/64. Every product is shifted
// arithmetically, that is rounded toward minus infinity. T is a signed
// 32-bit value or a vector of them.
struct JpgFdctShiftAddRotations {
    template <typename T> static inline T Half(T x) { return x * 45 >> 6; }
    template <typename T> static inline T R0383(T x) { return x * 3 >> 3; }
    template <typename T> static inline T R0541(T x) { return x * 17 >> 5; }
    template <typename T> static inline T R1307(T x) { return x + (x * 19 >> 6); }
};

// Rotations with 8-bit constants over 256 (181, 98, 139, 334): one
// multiplication each, as the processor-specific kernels do them.
struct JpgFdctByteRotations {
    template <typename T> static inline T Half(T x) { return x * 181 >> 8; }
    template <typename T> static inline T R0383(T x) { return x * 98 >> 8; }
    template <typename T> static inline T R0541(T x) { return x * 139 >> 8; }
    template <typename T> static inline T R1307(T x) { return x * 334 >> 8; }
};

// Quotients truncated toward zero, or rounded with the table's offsets.
struct JpgFdctTruncate {
    static inline int16_t Quantize(int32_t y, const uint16_t *reciprocal, int k) {
        int32_t p = static_cast<int32_t>(reciprocal[k]) * y;
        return static_cast<int16_t>(p < 0 ? -(-p >> 15) : p >> 15);
    }
};
struct JpgFdctRound {
    static inline int16_t Quantize(int32_t y, const uint16_t *reciprocal, int k) {
        int32_t p = static_cast<int32_t>(reciprocal[k]) * y;
        int32_t offset = reciprocal[64 + k];
        return static_cast<int16_t>(p < 0 ? -((offset - p) >> 15) : (p + offset) >> 15);
    }
};

// One-dimensional butterfly over x[0..7] into y[0..7]; T as for the
// rotations.
template <typename Rotations, typename T> inline void JpgFdctButterfly(const T *x, T *y) {
    T a0 = x[0] + x[7], a7 = x[0] - x[7];
    T a1 = x[1] + x[6], a6 = x[1] - x[6];
    T a2 = x[2] + x[5], a5 = x[2] - x[5];
    T a3 = x[3] + x[4], a4 = x[3] - x[4];

    T e10 = a0 + a3, e13 = a0 - a3;
    T e11 = a1 + a2, e12 = a1 - a2;
    y[0] = e10 + e11;
    y[4] = e10 - e11;
    T z1 = Rotations::Half(e12 + e13);
    y[2] = e13 + z1;
    y[6] = e13 - z1;

    T o10 = a4 + a5, o11 = a5 + a6, o12 = a6 + a7;
    T z5 = Rotations::R0383(o10 - o12);
    T z2 = z5 + Rotations::R0541(o10);
    T z4 = Rotations::R1307(o12) + z5;
    T z3 = Rotations::Half(o11);
    T z11 = a7 + z3, z13 = a7 - z3;
    y[5] = z13 + z2;
    y[3] = z13 - z2;
    y[1] = z11 + z4;
    y[7] = z11 - z4;
}

// Columns first (samples less 128, results kept as 16-bit values in the
// block), then rows, each result quantized at its natural index.
template <typename Rotations, typename Quantizer>
inline void JpgFdctQuantize(int16_t *block, const uint8_t *source, int32_t step, int32_t pitch,
                            const uint16_t *reciprocal) {
    int32_t in[8];
    int32_t out[8];
    for (int c = 0; c < 8; ++c) {
        const uint8_t *column = source + c * step;
        for (int r = 0; r < 8; ++r)
            in[r] = static_cast<int32_t>(column[r * pitch]) - 128;
        JpgFdctButterfly<Rotations, int32_t>(in, out);
        for (int u = 0; u < 8; ++u)
            block[8 * u + c] = static_cast<int16_t>(out[u]);
    }
    for (int u = 0; u < 8; ++u) {
        int16_t *row = block + 8 * u;
        for (int v = 0; v < 8; ++v)
            in[v] = row[v];
        JpgFdctButterfly<Rotations, int32_t>(in, out);
        for (int v = 0; v < 8; ++v)
            row[v] = Quantizer::Quantize(out[v], reciprocal, 8 * u + v);
    }
}

#endif
