// Portable dequantizing inverse DCTs and their scale factor tables.
#include "decoder/jpg_idct.h"

#include "decoder/jpg_idct_impl.h"

extern "C" {

const int16_t jpg_idct_scale_tbl[4][64] = {
    // 8x8: round(16384 a(u) a(v)), a(0) = 1, a(k) = sqrt(2) cos(k pi / 16).
    {
        16384, 22725, 21407, 19266, 16384, 12873, 8867,  4520,
        22725, 31521, 29692, 26722, 22725, 17855, 12299, 6270,
        21407, 29692, 27969, 25172, 21407, 16819, 11585, 5906,
        19266, 26722, 25172, 22654, 19266, 15137, 10426, 5315,
        16384, 22725, 21407, 19266, 16384, 12873, 8867,  4520,
        12873, 17855, 16819, 15137, 12873, 10114, 6967,  3552,
        8867,  12299, 11585, 10426, 8867,  6967,  4799,  2446,
        4520,  6270,  5906,  5315,  4520,  3552,  2446,  1247,
    },
    // 4x4: round(16384 b(u) b(v)), b(k) = sqrt(2) cos(k pi / 8) cos(k pi / 16)
    // (the 8-point flow averaged over pairs of samples); rows and columns
    // 5..7 are only of use to kernels that read them.
    {
        16384, 20995, 15137, 7373, 0, 11893, -6269, -1729,
        20995, 26905, 19397, 9448, 0, 15240, -8033, -2216,
        15137, 19397, 13985, 6811, 0, 10988, -5792, -1597,
        7373,  9448,  6811,  3318, 0, 5352,  -2821, -778,
        0,     0,     0,     0,    0, 0,     0,     0,
        11893, 15240, 10988, 5352, 0, 8633,  -4551, -1255,
        -6269, -8033, -5792, -2821, 0, -4551, 2399, 662,
        -1729, -2216, -1597, -778, 0, -1255, 662,   182,
    },
    // 2x2: round(16384 c(u) c(v)), c(k) = sqrt(2) (cos(k pi / 16) +
    // cos(3k pi / 16) + cos(5k pi / 16) + cos(7k pi / 16)) / 4 (the flow
    // averaged over 4x4 samples).
    {
        16384, 14846, 0, -5212, 0, 3483,  0, -2952,
        14846, 13452, 0, -4724, 0, 3156,  0, -2676,
        0,     0,     0, 0,     0, 0,     0, 0,
        -5212, -4724, 0, 1659,  0, -1108, 0, 940,
        0,     0,     0, 0,     0, 0,     0, 0,
        3483,  3156,  0, -1108, 0, 741,   0, -628,
        0,     0,     0, 0,     0, 0,     0, 0,
        -2952, -2676, 0, 940,   0, -628,  0, 532,
    },
    // 1x1: the DC alone, scaled so that the transform's >> 9 gives DC x Q / 8.
    {64},
};

void JpgDQIDCT8(uint8_t *out, int16_t *coef, int32_t step, int32_t pitch,
                const int32_t *multipliers, int32_t lineDoubling, int32_t last, int32_t *scratch) {
    JpgIdct8<JpgPortableClamp, JpgScalarTwoPass<JpgPortableClamp>>(
        out, coef, step, pitch, multipliers, lineDoubling, last, scratch);
}

void JpgDQIDCT4(uint8_t *out, int16_t *coef, int32_t step, int32_t pitch,
                const int32_t *multipliers, int32_t lineDoubling, int32_t last, int32_t *scratch) {
    JpgIdct4<JpgPortableClamp, JpgScalarPasses4<JpgPortableClamp>>(
        out, coef, step, pitch, multipliers, lineDoubling, last, scratch);
}

void JpgDQIDCT2(uint8_t *out, int16_t *coef, int32_t step, int32_t pitch,
                const int32_t *multipliers, int32_t lineDoubling, int32_t last, int32_t *) {
    JpgIdct2<JpgPortableClamp>(out, coef, step, pitch, multipliers, lineDoubling, last);
}

void JpgDQIDCT1(uint8_t *out, int16_t *coef, int32_t step, int32_t pitch,
                const int32_t *multipliers, int32_t lineDoubling, int32_t last, int32_t *) {
    const int32_t v = (static_cast<int32_t>(JpgSar(
                          static_cast<JpgFix>(multipliers[0]) * static_cast<JpgFix>(coef[0]), 9))) +
                      128;
    const JpgOutput o = JpgMakeOutput(out, step, pitch, lineDoubling);
    o.Put(o.Row(0), 0, static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)));
    // Only the DC is read; anything a decode stored beyond it is cleared.
    if (last == 0)
        coef[0] = 0;
    else
        JpgClearBlock(coef);
}

} // extern "C"
