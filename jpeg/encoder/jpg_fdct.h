// Forward DCT and quantization: one 8x8 block of 8-bit samples becomes 64
// quantized coefficients. The transform is the scaled fast DCT of Arai,
// Agui and Nakajima; its row and column factors are folded into the
// reciprocal tables, so quantizing is one multiplication and a 15-bit
// shift per coefficient.
#ifndef QVJPEG_ENCODER_JPG_FDCT_H
#define QVJPEG_ENCODER_JPG_FDCT_H

#include <cstdint>

extern "C" {

// Common arguments: `block` receives the coefficients in natural order
// (it also holds the first pass); sample (row r, column c) is read at
// source + c * step + r * pitch; `reciprocal` holds 64 multipliers (units
// of 2^-15) and behind them 64 rounding offsets.
//
// JpgFDCTQ truncates every quotient toward zero; JpgFDCTQ_HQ rounds it with
// the offsets. The processor-specific twins compute the rotations with
// 8-bit constants and may differ from these in the last unit.
void JpgFDCTQ(int16_t *block, const uint8_t *source, int32_t step, int32_t pitch,
              const uint16_t *reciprocal);
void JpgFDCTQ_HQ(int16_t *block, const uint8_t *source, int32_t step, int32_t pitch,
                 const uint16_t *reciprocal);
void JpgFDCTQ_ARMV6(int16_t *block, const uint8_t *source, int32_t step, int32_t pitch,
                    const uint16_t *reciprocal);
void JpgFDCTQ_HQ_ARMV6(int16_t *block, const uint8_t *source, int32_t step, int32_t pitch,
                       const uint16_t *reciprocal);

} // extern "C"

#endif
