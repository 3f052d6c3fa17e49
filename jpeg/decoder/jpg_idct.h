// Dequantizing inverse DCT with output scaling: one block of quantized
// coefficients becomes 8x8, 4x4, 2x2 or 1x1 samples written straight into
// an output plane.
#ifndef QVJPEG_DECODER_JPG_IDCT_H
#define QVJPEG_DECODER_JPG_IDCT_H

#include <cstdint>

extern "C" {

// Transform scale factors by scale index, natural order, 14-bit fixed
// point. A dequantization multiplier is quant[i] * jpg_idct_scale_tbl[s][i]
// (built by JpgDecSetDeQuantScale).
extern const int16_t jpg_idct_scale_tbl[4][64];

// Common arguments: `out` is the top-left sample, `step` the byte distance
// between horizontal neighbours, `pitch` between rows; with `lineDoubling`
// every row is also written at + pitch / 2. `multipliers` are the
// component's dequantization multipliers, `last` the zigzag index of the
// last coefficient the block decoder stored, `scratch` 64 words of
// workspace. Every transform leaves the whole coefficient block zero, also
// where a scaled decode stored coefficients the transform does not read.
void JpgDQIDCT8(uint8_t *out, int16_t *coef, int32_t step, int32_t pitch,
                const int32_t *multipliers, int32_t lineDoubling, int32_t last, int32_t *scratch);
void JpgDQIDCT4(uint8_t *out, int16_t *coef, int32_t step, int32_t pitch,
                const int32_t *multipliers, int32_t lineDoubling, int32_t last, int32_t *scratch);
void JpgDQIDCT2(uint8_t *out, int16_t *coef, int32_t step, int32_t pitch,
                const int32_t *multipliers, int32_t lineDoubling, int32_t last, int32_t *scratch);
void JpgDQIDCT1(uint8_t *out, int16_t *coef, int32_t step, int32_t pitch,
                const int32_t *multipliers, int32_t lineDoubling, int32_t last, int32_t *scratch);

// Processor-specific twins with the same contracts.
void JpgDQIDCT8_ARMV6(uint8_t *out, int16_t *coef, int32_t step, int32_t pitch,
                      const int32_t *multipliers, int32_t lineDoubling, int32_t last,
                      int32_t *scratch);
void JpgDQIDCT4_ARMV6(uint8_t *out, int16_t *coef, int32_t step, int32_t pitch,
                      const int32_t *multipliers, int32_t lineDoubling, int32_t last,
                      int32_t *scratch);
void JpgDQIDCT2_ARMV6(uint8_t *out, int16_t *coef, int32_t step, int32_t pitch,
                      const int32_t *multipliers, int32_t lineDoubling, int32_t last,
                      int32_t *scratch);

} // extern "C"

#endif
