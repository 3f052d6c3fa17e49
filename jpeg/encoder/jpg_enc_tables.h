// Encoder tables: quality to quantization tables, the reciprocal tables of
// the forward transform, the thumbnail's dequantization tables, and the
// derived Huffman code tables of the block coder.
#ifndef QVJPEG_ENCODER_JPG_ENC_TABLES_H
#define QVJPEG_ENCODER_JPG_ENC_TABLES_H

#include "encoder/jpg_bit_writer.h"
#include "qvjpeg.h"

#include <cstdint>

struct JpgEncState;

// Default quality of a new encoder.
constexpr int32_t kJpgDefaultQuality = 85;

// Number of symbols a Huffman table lists: the sum of its code counts
// bits[1..16].
inline uint32_t JpgHuffSymbolCount(const uint8_t *bits) {
    uint32_t count = 0;
    for (int length = 1; length <= 16; ++length)
        count += bits[length];
    return count;
}

extern "C" {

// ITU-T T.81 Annex K.1 and K.2 quantization tables, natural order.
extern const uint8_t jpg_std_luminance_quant_tbl[64];
extern const uint8_t jpg_std_chrominance_quant_tbl[64];
// round(32768 / i) for i = 1..255; entry 0 is 32768.
extern const uint16_t jpg_invquant_tbl[256];
// round(4096 / (s(u) s(v))) of the fast forward transform, natural order.
extern const uint16_t jpg_aanscale_tbl[64];

// Annex K.3 to K.6 Huffman tables: bits[0] is 0, bits[1..16] the number of
// codes of each length; values the symbols in code order.
extern const uint8_t jpg_bits_dc_luminance[17];
extern const uint8_t jpg_val_dc_luminance[12];
extern const uint8_t jpg_bits_dc_chrominance[17];
extern const uint8_t jpg_val_dc_chrominance[12];
extern const uint8_t jpg_bits_ac_luminance[17];
extern const uint8_t jpg_val_ac_luminance[162];
extern const uint8_t jpg_bits_ac_chrominance[17];
extern const uint8_t jpg_val_ac_chrominance[162];
// Reduced AC tables for transcoding: end of block and the symbols of runs
// 0..3 with sizes 1..10 only.
extern const uint8_t jpg_bits_ac_luminance_clip[17];
extern const uint8_t jpg_val_ac_luminance_clip[41];
extern const uint8_t jpg_bits_ac_chrominance_clip[17];
extern const uint8_t jpg_val_ac_chrominance_clip[41];

// Stores the quality, its class, quantization tables 0 and 1 and all
// reciprocal tables in use.
vltJpgResult JpgSetQuality(JpgEncState *state, int32_t quality);
// Reciprocal table of every component's quantization table; marks those
// tables to be written.
vltJpgResult JpgEncCreateQuantScale(JpgEncState *state);
// Dequantization tables for the thumbnail scale; nothing with it off.
vltJpgResult JpgEncCreateDeQuantScale(JpgEncState *state);
// 90 or 270 transposes the four quantization tables; 0 or 180 nothing.
vltJpgResult JpgEncRotateDQT(JpgEncState *state, uint32_t degrees);
// Derived DC and AC code tables of every component's selectors.
vltJpgResult JpgEncCreateHuffTable(JpgEncState *state);
// 0 fast forward transform, 1 high-quality one.
vltJpgResult JpgEncSetQualityMode(JpgEncState *state, uint32_t mode);

} // extern "C"

#endif
