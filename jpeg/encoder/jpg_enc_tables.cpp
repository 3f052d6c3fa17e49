#include "encoder/jpg_enc_tables.h"

#include "decoder/jpg_idct.h"
#include "encoder/jpg_encoder.h"
#include "encoder/jpg_fdct.h"

extern "C" {

const uint8_t jpg_std_luminance_quant_tbl[64] = {
    16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
    14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
    18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
    49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99,
};

const uint8_t jpg_std_chrominance_quant_tbl[64] = {
    17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99,
    24, 26, 56, 99, 99, 99, 99, 99, 47, 66, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
};

const uint16_t jpg_invquant_tbl[256] = {
    32768, 32768, 16384, 10923, 8192, 6554, 5461, 4681, 4096, 3641, 3277, 2979,
    2731,  2521,  2341,  2185,  2048, 1928, 1820, 1725, 1638, 1560, 1489, 1425,
    1365,  1311,  1260,  1214,  1170, 1130, 1092, 1057, 1024, 993,  964,  936,
    910,   886,   862,   840,   819,  799,  780,  762,  745,  728,  712,  697,
    683,   669,   655,   643,   630,  618,  607,  596,  585,  575,  565,  555,
    546,   537,   529,   520,   512,  504,  496,  489,  482,  475,  468,  462,
    455,   449,   443,   437,   431,  426,  420,  415,  410,  405,  400,  395,
    390,   386,   381,   377,   372,  368,  364,  360,  356,  352,  349,  345,
    341,   338,   334,   331,   328,  324,  321,  318,  315,  312,  309,  306,
    303,   301,   298,   295,   293,  290,  287,  285,  282,  280,  278,  275,
    273,   271,   269,   266,   264,  262,  260,  258,  256,  254,  252,  250,
    248,   246,   245,   243,   241,  239,  237,  236,  234,  232,  231,  229,
    228,   226,   224,   223,   221,  220,  218,  217,  216,  214,  213,  211,
    210,   209,   207,   206,   205,  204,  202,  201,  200,  199,  197,  196,
    195,   194,   193,   192,   191,  189,  188,  187,  186,  185,  184,  183,
    182,   181,   180,   179,   178,  177,  176,  175,  174,  173,  172,  172,
    171,   170,   169,   168,   167,  166,  165,  165,  164,  163,  162,  161,
    161,   160,   159,   158,   158,  157,  156,  155,  155,  154,  153,  152,
    152,   151,   150,   150,   149,  148,  148,  147,  146,  146,  145,  144,
    144,   143,   142,   142,   141,  141,  140,  139,  139,  138,  138,  137,
    137,   136,   135,   135,   134,  134,  133,  133,  132,  132,  131,  131,
    130,   130,   129,   129,
};

const uint16_t jpg_aanscale_tbl[64] = {
    4096,  2953,  3135,  3483,  4096,  5213,  7568,  14846,
    2953,  2129,  2260,  2511,  2953,  3759,  5457,  10703,
    3135,  2260,  2399,  2666,  3135,  3990,  5793,  11363,
    3483,  2511,  2666,  2962,  3483,  4433,  6436,  12625,
    4096,  2953,  3135,  3483,  4096,  5213,  7568,  14846,
    5213,  3759,  3990,  4433,  5213,  6635,  9633,  18895,
    7568,  5457,  5793,  6436,  7568,  9633,  13985, 27432,
    14846, 10703, 11363, 12625, 14846, 18895, 27432, 53809,
};

const uint8_t jpg_bits_dc_luminance[17] = {0, 0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0};
const uint8_t jpg_val_dc_luminance[12] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};

const uint8_t jpg_bits_dc_chrominance[17] = {0, 0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0};
const uint8_t jpg_val_dc_chrominance[12] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};

const uint8_t jpg_bits_ac_luminance[17] = {0, 0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7D};
const uint8_t jpg_val_ac_luminance[162] = {
    0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51,
    0x61, 0x07, 0x22, 0x71, 0x14, 0x32, 0x81, 0x91, 0xA1, 0x08, 0x23, 0x42, 0xB1, 0xC1,
    0x15, 0x52, 0xD1, 0xF0, 0x24, 0x33, 0x62, 0x72, 0x82, 0x09, 0x0A, 0x16, 0x17, 0x18,
    0x19, 0x1A, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2A, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39,
    0x3A, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4A, 0x53, 0x54, 0x55, 0x56, 0x57,
    0x58, 0x59, 0x5A, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6A, 0x73, 0x74, 0x75,
    0x76, 0x77, 0x78, 0x79, 0x7A, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8A, 0x92,
    0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9A, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7,
    0xA8, 0xA9, 0xAA, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6, 0xB7, 0xB8, 0xB9, 0xBA, 0xC2, 0xC3,
    0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0xCA, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8,
    0xD9, 0xDA, 0xE1, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xE8, 0xE9, 0xEA, 0xF1, 0xF2,
    0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0xFA,
};

const uint8_t jpg_bits_ac_chrominance[17] = {0, 0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 0x77};
const uint8_t jpg_val_ac_chrominance[162] = {
    0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41, 0x51, 0x07,
    0x61, 0x71, 0x13, 0x22, 0x32, 0x81, 0x08, 0x14, 0x42, 0x91, 0xA1, 0xB1, 0xC1, 0x09,
    0x23, 0x33, 0x52, 0xF0, 0x15, 0x62, 0x72, 0xD1, 0x0A, 0x16, 0x24, 0x34, 0xE1, 0x25,
    0xF1, 0x17, 0x18, 0x19, 0x1A, 0x26, 0x27, 0x28, 0x29, 0x2A, 0x35, 0x36, 0x37, 0x38,
    0x39, 0x3A, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4A, 0x53, 0x54, 0x55, 0x56,
    0x57, 0x58, 0x59, 0x5A, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6A, 0x73, 0x74,
    0x75, 0x76, 0x77, 0x78, 0x79, 0x7A, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89,
    0x8A, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9A, 0xA2, 0xA3, 0xA4, 0xA5,
    0xA6, 0xA7, 0xA8, 0xA9, 0xAA, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6, 0xB7, 0xB8, 0xB9, 0xBA,
    0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0xCA, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6,
    0xD7, 0xD8, 0xD9, 0xDA, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xE8, 0xE9, 0xEA, 0xF2,
    0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0xFA,
};

const uint8_t jpg_bits_ac_luminance_clip[17] = {0, 0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 4};
const uint8_t jpg_val_ac_luminance_clip[41] = {
    0x00, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01, 0x16, 0x15, 0x07, 0x08, 0x14, 0x26, 0x09,
    0x0A, 0x25, 0x13, 0x24, 0x34, 0x33, 0x12, 0x23, 0x32, 0x11, 0x17, 0x18, 0x19, 0x1A,
    0x22, 0x21, 0x27, 0x28, 0x29, 0x2A, 0x31, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3A,
};

const uint8_t jpg_bits_ac_chrominance_clip[17] = {0, 0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 0, 0};
const uint8_t jpg_val_ac_chrominance_clip[41] = {
    0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x07, 0x13, 0x22,
    0x32, 0x08, 0x14, 0x09, 0x23, 0x33, 0x15, 0x0A, 0x16, 0x24, 0x34, 0x25, 0x17, 0x18,
    0x19, 0x1A, 0x26, 0x27, 0x28, 0x29, 0x2A, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3A,
};

} // extern "C"

namespace {

// Quality class stamped into the DC coefficient of sample input.
uint32_t QualityClass(int32_t quality) {
    if (quality == 100) return 5;
    if (quality >= 96) return 4;
    if (quality >= 94) return 3;
    if (quality >= 91) return 2;
    return 1;
}

// Percentage applied to the standard tables.
int32_t QualityScale(int32_t quality) {
    if (quality <= 0) quality = 1;
    if (quality < 50) return 5000 / quality;
    if (quality <= 100) return 2 * (100 - quality);
    return 0;
}

void ScaleStandardTable(JpgQuantTable *table, const uint8_t *standard, int32_t scale) {
    if (table == nullptr) {
        return;
    }
    for (int k = 0; k < 64; ++k) {
        int32_t value = (standard[k] * scale + 50) / 100;
        value = value < 1 ? 1 : (value > 255 ? 255 : value);
        table->values[k] = static_cast<uint16_t>(value);
    }
}

// Forward-transform multiplier of coefficient k for quantizer `step`: the
// fast transform's scale divided by the step, in units of 1/32768. Steps
// beyond the reciprocal table (16-bit steps taken over from a decoder) get
// a reciprocal computed for them; a step of 0 counts as 1.
uint16_t Multiplier(int k, uint32_t step) {
    if (step <= 255) {
        uint32_t reciprocal = jpg_invquant_tbl[step == 0 ? 1 : step];
        return static_cast<uint16_t>((jpg_aanscale_tbl[k] * reciprocal) >> 15);
    }
    return static_cast<uint16_t>((2u * jpg_aanscale_tbl[k] + step) / (2u * step));
}

// Rounding offset of the high-quality transform: half a step, where a step
// of 1 (or 0, treated as 1) leaves the product unscaled.
uint16_t RoundingOffset(int k, uint32_t step) {
    return step > 1 ? 16384 : static_cast<uint16_t>(jpg_aanscale_tbl[k] >> 1);
}

void BuildReciprocal(uint16_t *reciprocal, const JpgQuantTable *table) {
    for (int k = 0; k < 64; ++k) {
        reciprocal[k] = Multiplier(k, table->values[k]);
        reciprocal[64 + k] = RoundingOffset(k, table->values[k]);
    }
}

void Transpose(JpgQuantTable *table) {
    for (int row = 1; row < 8; ++row) {
        for (int column = 0; column < row; ++column) {
            uint16_t value = table->values[8 * row + column];
            table->values[8 * row + column] = table->values[8 * column + row];
            table->values[8 * column + row] = value;
        }
    }
}

// Symbols 8-bit baseline data can need: DC categories 0..11, AC symbols
// with sizes up to 10. Others (from a decoder's tables) get no code, so the
// block coder refuses values of those sizes whatever the tables list.
bool Emittable(uint32_t symbol, uint32_t entryCount) {
    return entryCount == kJpgDcCodeCount ? symbol < kJpgDcCodeCount
                                         : (symbol & 15) <= kJpgMaxAcCategory;
}

vltJpgResult RejectCodeTable(JpgHuffCode *codes, uint32_t entryCount) {
    JpgMemSet(codes, 0, entryCount * sizeof(JpgHuffCode));
    return VLTJPG_ERR_ARGUMENT;
}

// Canonical Huffman codes (T.81 Annex C) of `record` into `codes`, which
// has `entryCount` entries (DC or AC). A rejected record leaves every entry
// without a code, so the block coder refuses to code with it.
vltJpgResult BuildCodeTable(JpgHuffTable *record, JpgHuffCode *codes, uint32_t entryCount) {
    if (record == nullptr || codes == nullptr) {
        return VLTJPG_ERR_ARGUMENT;
    }
    if (record->built) {
        return VLTJPG_OK;
    }
    JpgMemSet(codes, 0, entryCount * sizeof(JpgHuffCode));
    if (JpgHuffSymbolCount(record->bits) > 256) {
        return VLTJPG_ERR_ARGUMENT;
    }
    uint32_t code = 0;
    const uint8_t *symbol = record->values;
    for (uint32_t length = 1; length <= 16; ++length) {
        for (uint32_t n = 0; n < record->bits[length]; ++n, ++code, ++symbol) {
            if (!Emittable(*symbol, entryCount)) {
                continue;
            }
            if (codes[*symbol].length != 0) {
                return RejectCodeTable(codes, entryCount);
            }
            codes[*symbol].length = static_cast<uint16_t>(length);
            codes[*symbol].code = static_cast<uint16_t>(code);
        }
        if (code >= (1u << length)) {
            return RejectCodeTable(codes, entryCount);
        }
        code <<= 1;
    }
    record->built = 1;
    return VLTJPG_OK;
}

bool ValidSelector(uint32_t selector) { return selector < kJpgEncTableCount; }

// Calls `apply(selector)` with the quantization table selector of every
// component that has a valid one.
template <typename Apply> void ForEachQuantSelector(const JpgEncState *state, Apply apply) {
    for (int32_t i = 0; i < state->componentCount; ++i) {
        const JpgEncComponent *component = state->components[i];
        if (component != nullptr && ValidSelector(component->quantSelector)) {
            apply(component->quantSelector);
        }
    }
}

} // namespace

extern "C" {

vltJpgResult JpgSetQuality(JpgEncState *state, int32_t quality) {
    if (state == nullptr) {
        return VLTJPG_ERR_ARGUMENT;
    }
    state->quality = static_cast<uint32_t>(quality);
    state->qualityClass = QualityClass(quality);
    int32_t scale = QualityScale(quality);
    ScaleStandardTable(state->quantTables[0], jpg_std_luminance_quant_tbl, scale);
    ScaleStandardTable(state->quantTables[1], jpg_std_chrominance_quant_tbl, scale);
    return JpgEncCreateQuantScale(state);
}

vltJpgResult JpgEncCreateQuantScale(JpgEncState *state) {
    if (state == nullptr) {
        return VLTJPG_ERR_ARGUMENT;
    }
    ForEachQuantSelector(state, [state](uint32_t selector) {
        JpgQuantTable *table = state->quantTables[selector];
        uint16_t *reciprocal = state->reciprocalTables[selector];
        if (table != nullptr && reciprocal != nullptr) {
            BuildReciprocal(reciprocal, table);
            table->toBeWritten = 1;
        }
    });
    return VLTJPG_OK;
}

vltJpgResult JpgEncCreateDeQuantScale(JpgEncState *state) {
    if (state == nullptr) {
        return VLTJPG_ERR_ARGUMENT;
    }
    if (state->thumbScale < 0 || state->thumbScale >= kJpgEncThumbScales) {
        return VLTJPG_OK;
    }
    const int16_t *scale = jpg_idct_scale_tbl[state->thumbScale];
    ForEachQuantSelector(state, [state, scale](uint32_t selector) {
        const JpgQuantTable *table = state->quantTables[selector];
        int32_t *dequant = state->dequantTables[selector];
        if (table != nullptr && dequant != nullptr) {
            for (int k = 0; k < 64; ++k) {
                dequant[k] = static_cast<int32_t>(table->values[k]) * scale[k];
            }
        }
    });
    return VLTJPG_OK;
}

vltJpgResult JpgEncRotateDQT(JpgEncState *state, uint32_t degrees) {
    if (state == nullptr) {
        return VLTJPG_ERR_ARGUMENT;
    }
    if (degrees == 0 || degrees == 180) {
        return VLTJPG_OK;
    }
    if (degrees != 90 && degrees != 270) {
        return VLTJPG_ERR_ARGUMENT;
    }
    for (JpgQuantTable *table : state->quantTables) {
        if (table != nullptr) {
            Transpose(table);
        }
    }
    JpgEncCreateQuantScale(state);
    return JpgEncCreateDeQuantScale(state);
}

vltJpgResult JpgEncCreateHuffTable(JpgEncState *state) {
    if (state == nullptr || state->bitWriter == nullptr) {
        return VLTJPG_ERR_ARGUMENT;
    }
    JpgBitWriter *writer = state->bitWriter;
    for (int32_t i = 0; i < state->componentCount; ++i) {
        const JpgEncComponent *component = state->components[i];
        if (component == nullptr) {
            continue;
        }
        // A rejected record keeps its built flag clear: no DHT segment is
        // written for it and the block coder finds no codes in it.
        if (ValidSelector(component->dcSelector)) {
            BuildCodeTable(state->dcHuffTables[component->dcSelector],
                           writer->dcCodes[component->dcSelector], kJpgDcCodeCount);
        }
        if (ValidSelector(component->acSelector)) {
            BuildCodeTable(state->acHuffTables[component->acSelector],
                           writer->acCodes[component->acSelector], kJpgAcCodeCount);
        }
    }
    return VLTJPG_OK;
}

// The forward transforms follow the stored mode: 0 truncates quotients,
// 1 rounds them with the reciprocal tables' offsets.
vltJpgResult JpgEncSetQualityMode(JpgEncState *state, uint32_t mode) {
    if (state == nullptr || mode > 1) {
        return VLTJPG_ERR_ARGUMENT;
    }
    state->qualityMode = mode;
    state->transform = mode == 1 ? JpgFDCTQ_HQ_ARMV6 : JpgFDCTQ_ARMV6;
    return VLTJPG_OK;
}

} // extern "C"
