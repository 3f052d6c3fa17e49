// Quality to quantization tables, reciprocal tables, rotation and the
// derived Huffman code tables. libjpeg-turbo's own quality scaling and
// standard tables serve as the oracle.
#include "decoder/jpg_idct.h"
#include "enc_fixture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <jpeglib.h>
#include <string>

namespace {

// libjpeg's tables for a quality (baseline: steps clamped to 1..255).
struct LibjpegTables {
    explicit LibjpegTables(int quality) {
        jpeg_compress_struct cinfo{};
        jpeg_error_mgr jerr{};
        cinfo.err = jpeg_std_error(&jerr);
        jpeg_create_compress(&cinfo);
        cinfo.in_color_space = JCS_YCbCr;
        cinfo.input_components = 3;
        jpeg_set_defaults(&cinfo);
        jpeg_set_quality(&cinfo, quality, TRUE);
        for (int k = 0; k < 64; ++k) {
            luminance[k] = cinfo.quant_tbl_ptrs[0]->quantval[k];
            chrominance[k] = cinfo.quant_tbl_ptrs[1]->quantval[k];
        }
        for (int t = 0; t < 2; ++t) {
            std::memcpy(dcBits[t], cinfo.dc_huff_tbl_ptrs[t]->bits, 17);
            std::memcpy(acBits[t], cinfo.ac_huff_tbl_ptrs[t]->bits, 17);
            std::memcpy(dcValues[t], cinfo.dc_huff_tbl_ptrs[t]->huffval, 12);
            std::memcpy(acValues[t], cinfo.ac_huff_tbl_ptrs[t]->huffval, 162);
        }
        jpeg_destroy_compress(&cinfo);
    }
    uint16_t luminance[64];
    uint16_t chrominance[64];
    uint8_t dcBits[2][17], acBits[2][17];
    uint8_t dcValues[2][12], acValues[2][162];
};

std::vector<uint16_t> Values(const JpgQuantTable &table) {
    return std::vector<uint16_t>(table.values, table.values + 64);
}

class QualityTest : public ::testing::Test {
protected:
    EncFixture fixture;
    JpgEncState &state = fixture.state;
};

TEST_F(QualityTest, MatchesLibjpegScaling) {
    for (int quality : {1, 10, 25, 49, 50, 51, 75, 85, 90, 95, 100}) {
        SCOPED_TRACE(quality);
        ASSERT_EQ(JpgSetQuality(&state, quality), VLTJPG_OK);
        LibjpegTables expected(quality);
        EXPECT_EQ(Values(fixture.quant[0]), std::vector<uint16_t>(expected.luminance,
                                                                   expected.luminance + 64));
        EXPECT_EQ(Values(fixture.quant[1]), std::vector<uint16_t>(expected.chrominance,
                                                                   expected.chrominance + 64));
        EXPECT_EQ(state.quality, static_cast<uint32_t>(quality));
    }
}

TEST_F(QualityTest, FiftyIsAnnexKAndEdgesClamp) {
    JpgSetQuality(&state, 50);
    for (int k = 0; k < 64; ++k) {
        EXPECT_EQ(fixture.quant[0].values[k], jpg_std_luminance_quant_tbl[k]);
        EXPECT_EQ(fixture.quant[1].values[k], jpg_std_chrominance_quant_tbl[k]);
    }
    JpgSetQuality(&state, 85);
    EXPECT_EQ(fixture.quant[0].values[0], 5);  // (16 * 30 + 50) / 100

    JpgSetQuality(&state, 0);
    std::vector<uint16_t> zero = Values(fixture.quant[0]);
    EXPECT_EQ(state.qualityClass, 1u);
    JpgSetQuality(&state, 1);
    EXPECT_EQ(Values(fixture.quant[0]), zero);
    for (int k = 0; k < 64; ++k) {
        if (jpg_std_luminance_quant_tbl[k] >= 6) {
            EXPECT_EQ(fixture.quant[0].values[k], 255);
        }
    }
    JpgSetQuality(&state, -40);
    EXPECT_EQ(Values(fixture.quant[0]), zero);

    JpgSetQuality(&state, 101);
    EXPECT_EQ(Values(fixture.quant[0]), std::vector<uint16_t>(64, 1));
    EXPECT_EQ(Values(fixture.quant[1]), std::vector<uint16_t>(64, 1));
}

TEST_F(QualityTest, QualityClass) {
    const std::pair<int, uint32_t> cases[] = {{100, 5}, {101, 4}, {1000, 4}, {96, 4}, {95, 3},
                                              {94, 3},  {93, 2},  {91, 2},   {90, 1}, {1, 1}};
    for (auto [quality, expected] : cases) {
        JpgSetQuality(&state, quality);
        EXPECT_EQ(state.qualityClass, expected) << quality;
    }
}

TEST_F(QualityTest, NullStateRefused) {
    EXPECT_EQ(JpgSetQuality(nullptr, 50), VLTJPG_ERR_ARGUMENT);
    EXPECT_EQ(JpgEncCreateQuantScale(nullptr), VLTJPG_ERR_ARGUMENT);
    EXPECT_EQ(JpgEncRotateDQT(nullptr, 90), VLTJPG_ERR_ARGUMENT);
    EXPECT_EQ(JpgEncCreateHuffTable(nullptr), VLTJPG_ERR_ARGUMENT);
}

TEST(ConstantTables, InverseAndScaleFollowTheirFormulas) {
    EXPECT_EQ(jpg_invquant_tbl[0], 32768);
    for (int i = 1; i < 256; ++i) {
        EXPECT_EQ(jpg_invquant_tbl[i], std::lround(32768.0 / i)) << i;
    }
    auto s = [](int k) { return k == 0 ? 1.0 : std::sqrt(2.0) * std::cos(k * M_PI / 16); };
    for (int u = 0; u < 8; ++u) {
        for (int v = 0; v < 8; ++v) {
            EXPECT_EQ(jpg_aanscale_tbl[8 * u + v], std::lround(4096 / (s(u) * s(v))));
        }
    }
    EXPECT_EQ(jpg_aanscale_tbl[7], 14846);
    EXPECT_EQ(jpg_aanscale_tbl[63], 53809);
}

TEST(ConstantTables, HuffmanTablesAreLibjpegStandardOnes) {
    LibjpegTables expected(50);
    const uint8_t *dcBits[2] = {jpg_bits_dc_luminance, jpg_bits_dc_chrominance};
    const uint8_t *acBits[2] = {jpg_bits_ac_luminance, jpg_bits_ac_chrominance};
    const uint8_t *dcValues[2] = {jpg_val_dc_luminance, jpg_val_dc_chrominance};
    const uint8_t *acValues[2] = {jpg_val_ac_luminance, jpg_val_ac_chrominance};
    for (int t = 0; t < 2; ++t) {
        EXPECT_EQ(std::memcmp(dcBits[t], expected.dcBits[t], 17), 0);
        EXPECT_EQ(std::memcmp(acBits[t], expected.acBits[t], 17), 0);
        EXPECT_EQ(std::memcmp(dcValues[t], expected.dcValues[t], 12), 0);
        EXPECT_EQ(std::memcmp(acValues[t], expected.acValues[t], 162), 0);
    }
}

class ReciprocalTest : public QualityTest {};

TEST_F(ReciprocalTest, MultipliersAndOffsets) {
    JpgSetQuality(&state, 85);
    for (int t = 0; t < 2; ++t) {
        for (int k = 0; k < 64; ++k) {
            uint32_t step = fixture.quant[t].values[k];
            EXPECT_EQ(fixture.reciprocal[t][k],
                      (jpg_aanscale_tbl[k] * jpg_invquant_tbl[step]) >> 15);
            EXPECT_EQ(fixture.reciprocal[t][64 + k], step > 1 ? 16384 : jpg_aanscale_tbl[k] >> 1);
        }
        EXPECT_EQ(fixture.quant[t].toBeWritten, 1u);
    }
    JpgSetQuality(&state, 100);
    EXPECT_EQ(fixture.reciprocal[0][0], 4096);
    EXPECT_EQ(fixture.reciprocal[0][64], 2048);
    EXPECT_EQ(fixture.reciprocal[1][64 + 63], 53809 >> 1);
}

TEST_F(ReciprocalTest, OnlyTablesInUseAreBuiltAndMarked) {
    fixture.reciprocal[2][0] = 0xBEEF;
    JpgSetQuality(&state, 75);
    EXPECT_EQ(fixture.reciprocal[2][0], 0xBEEF);
    EXPECT_EQ(fixture.quant[2].toBeWritten, 0u);
}

// Steps taken over from a decoder: 0 counts as 1; steps above 255 get a
// multiplier of their own, aan / step rounded.
TEST_F(ReciprocalTest, DecoderStepsOutsideTheByteRange) {
    const uint16_t steps[] = {0, 1, 255, 256, 300, 1000, 4096, 65535};
    fixture.components[0].quantSelector = 2;
    for (uint16_t step : steps) {
        SCOPED_TRACE(step);
        std::fill(std::begin(fixture.quant[2].values), std::end(fixture.quant[2].values), step);
        JpgEncCreateQuantScale(&state);
        for (int k = 0; k < 64; ++k) {
            uint32_t aan = jpg_aanscale_tbl[k];
            uint32_t effective = step == 0 ? 1 : step;
            double ideal = static_cast<double>(aan) / effective;
            EXPECT_NEAR(fixture.reciprocal[2][k], ideal, 1.0) << k;
            EXPECT_EQ(fixture.reciprocal[2][64 + k], effective > 1 ? 16384 : aan >> 1);
        }
    }
    std::fill(std::begin(fixture.quant[2].values), std::end(fixture.quant[2].values), 0);
    JpgEncCreateQuantScale(&state);
    EXPECT_EQ(fixture.reciprocal[2][0], 4096);  // as step 1
}

TEST_F(QualityTest, RotationTransposesAllFourTables) {
    JpgSetQuality(&state, 60);
    for (int k = 0; k < 64; ++k) {
        fixture.quant[2].values[k] = static_cast<uint16_t>(k);
        fixture.quant[3].values[k] = static_cast<uint16_t>(300 + k);
    }
    std::vector<uint16_t> before[4];
    for (int t = 0; t < 4; ++t) before[t] = Values(fixture.quant[t]);

    for (uint32_t degrees : {0u, 180u}) {
        EXPECT_EQ(JpgEncRotateDQT(&state, degrees), VLTJPG_OK);
        for (int t = 0; t < 4; ++t) EXPECT_EQ(Values(fixture.quant[t]), before[t]);
    }
    fixture.quant[0].toBeWritten = 0;
    EXPECT_EQ(JpgEncRotateDQT(&state, 90), VLTJPG_OK);
    for (int t = 0; t < 4; ++t) {
        for (int r = 0; r < 8; ++r) {
            for (int c = 0; c < 8; ++c) {
                EXPECT_EQ(fixture.quant[t].values[8 * r + c], before[t][8 * c + r]);
            }
        }
    }
    EXPECT_EQ(fixture.quant[0].toBeWritten, 1u);
    EXPECT_EQ(fixture.reciprocal[0][1],
              (jpg_aanscale_tbl[1] * jpg_invquant_tbl[fixture.quant[0].values[1]]) >> 15);
    EXPECT_EQ(JpgEncRotateDQT(&state, 270), VLTJPG_OK);
    for (int t = 0; t < 4; ++t) EXPECT_EQ(Values(fixture.quant[t]), before[t]);
    EXPECT_EQ(JpgEncRotateDQT(&state, 45), VLTJPG_ERR_ARGUMENT);
    EXPECT_EQ(JpgEncRotateDQT(&state, 360), VLTJPG_ERR_ARGUMENT);
}

TEST_F(QualityTest, DequantizationFollowsTheThumbnailScale) {
    JpgSetQuality(&state, 70);
    fixture.dequant[0][5] = 12345;
    EXPECT_EQ(JpgEncCreateDeQuantScale(&state), VLTJPG_OK);  // thumbnail off: untouched
    EXPECT_EQ(fixture.dequant[0][5], 12345);
    for (int32_t scale = 0; scale < 4; ++scale) {
        state.thumbScale = scale;
        EXPECT_EQ(JpgEncCreateDeQuantScale(&state), VLTJPG_OK);
        for (int t = 0; t < 2; ++t) {
            for (int k = 0; k < 64; ++k) {
                EXPECT_EQ(fixture.dequant[t][k],
                          fixture.quant[t].values[k] * jpg_idct_scale_tbl[scale][k]);
            }
        }
    }
    // Rotation rebuilds them from the transposed steps.
    JpgEncRotateDQT(&state, 270);
    EXPECT_EQ(fixture.dequant[0][8], fixture.quant[0].values[8] * jpg_idct_scale_tbl[3][8]);
    EXPECT_EQ(JpgEncCreateDeQuantScale(nullptr), VLTJPG_ERR_ARGUMENT);
}

TEST_F(QualityTest, QualityModeZeroOrOne) {
    EXPECT_EQ(JpgEncSetQualityMode(&state, 1), VLTJPG_OK);
    EXPECT_EQ(state.qualityMode, 1u);
    EXPECT_EQ(JpgEncSetQualityMode(&state, 2), VLTJPG_ERR_ARGUMENT);
    EXPECT_EQ(state.qualityMode, 1u);
    EXPECT_EQ(JpgEncSetQualityMode(&state, 0), VLTJPG_OK);
    EXPECT_EQ(state.qualityMode, 0u);
    EXPECT_EQ(JpgEncSetQualityMode(nullptr, 0), VLTJPG_ERR_ARGUMENT);
}

// Code as the string of its bits, e.g. "1010".
std::string Bits(const JpgHuffCode &entry) {
    std::string text;
    for (int i = entry.length - 1; i >= 0; --i) text += ((entry.code >> i) & 1) ? '1' : '0';
    return text;
}

class DerivedTableTest : public QualityTest {};

TEST_F(DerivedTableTest, AnnexKCodes) {
    const char *dcLuminance[12] = {"00",     "010",     "011",      "100",
                                   "101",    "110",     "1110",     "11110",
                                   "111110", "1111110", "11111110", "111111110"};
    const char *dcChrominance[12] = {"00",        "01",         "10",          "110",
                                     "1110",      "11110",      "111110",      "1111110",
                                     "11111110",  "111111110",  "1111111110",  "11111111110"};
    for (int c = 0; c < 12; ++c) {
        EXPECT_EQ(Bits(fixture.dcCodes[0][c]), dcLuminance[c]) << c;
        EXPECT_EQ(Bits(fixture.dcCodes[1][c]), dcChrominance[c]) << c;
    }
    const std::pair<int, const char *> acLuminance[] = {
        {0x00, "1010"}, {0x01, "00"}, {0x02, "01"}, {0x03, "100"}, {0x04, "1011"},
        {0x05, "11010"}, {0x11, "1100"}, {0x0A, "1111111110000011"}, {0xF0, "11111111001"},
        {0xFA, "1111111111111110"}, {0x21, "11100"}, {0x31, "111010"}};
    for (auto [symbol, code] : acLuminance) EXPECT_EQ(Bits(fixture.acCodes[0][symbol]), code);
    const std::pair<int, const char *> acChrominance[] = {
        {0x00, "00"}, {0x01, "01"}, {0x02, "100"}, {0x11, "1011"}, {0xF0, "1111111010"},
        {0xFA, "1111111111111110"}, {0x0A, "111111110100"}};
    for (auto [symbol, code] : acChrominance) EXPECT_EQ(Bits(fixture.acCodes[1][symbol]), code);
    // 162 AC symbols have codes, the others none.
    for (int t = 0; t < 2; ++t) {
        int coded = 0;
        for (const JpgHuffCode &entry : fixture.acCodes[t]) coded += entry.length != 0;
        EXPECT_EQ(coded, 162);
    }
    EXPECT_EQ(fixture.dcRecords[0].built, 1u);
    EXPECT_EQ(fixture.acRecords[1].built, 1u);
}

// Rebuilds table 0 of each kind from the given record contents.
void Rebuild(EncFixture &fixture, const uint8_t *dcBits, const uint8_t *dcValues,
             const uint8_t *acBits, const uint8_t *acValues) {
    LoadHuffRecord(&fixture.dcRecords[0], dcBits, dcValues);
    LoadHuffRecord(&fixture.acRecords[0], acBits, acValues);
    JpgEncCreateHuffTable(&fixture.state);
}

TEST_F(DerivedTableTest, ClipTablesCodeShortRunsOnly) {
    Rebuild(fixture, jpg_bits_dc_luminance, jpg_val_dc_luminance, jpg_bits_ac_luminance_clip,
            jpg_val_ac_luminance_clip);
    LoadHuffRecord(&fixture.acRecords[1], jpg_bits_ac_chrominance_clip,
                   jpg_val_ac_chrominance_clip);
    JpgEncCreateHuffTable(&state);
    for (int t = 0; t < 2; ++t) {
        ASSERT_EQ(fixture.acRecords[t].built, 1u);
        for (int symbol = 0; symbol < 256; ++symbol) {
            int run = symbol >> 4, size = symbol & 15;
            bool codable = symbol == 0 || (run <= 3 && size >= 1 && size <= 10);
            EXPECT_EQ(fixture.acCodes[t][symbol].length != 0, codable) << t << " " << symbol;
        }
    }
}

TEST_F(DerivedTableTest, BuiltRecordIsNotRebuilt) {
    JpgHuffCode before = fixture.acCodes[0][0x01];
    fixture.acRecords[0].values[0] = 0x02;  // would swap codes if rebuilt
    fixture.acRecords[0].values[1] = 0x01;
    JpgEncCreateHuffTable(&state);
    EXPECT_EQ(fixture.acCodes[0][0x01].code, before.code);
    fixture.acRecords[0].built = 0;
    JpgEncCreateHuffTable(&state);
    EXPECT_EQ(Bits(fixture.acCodes[0][0x01]), "01");
    EXPECT_EQ(Bits(fixture.acCodes[0][0x02]), "00");
}

TEST_F(DerivedTableTest, InvalidRecordsLeaveNoCodes) {
    const uint8_t values[256] = {0, 1, 2, 3, 4, 5};
    uint8_t tooMany[17] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 200, 100};    // 300 codes
    uint8_t overflow[17] = {0, 3};                                  // 3 codes of 1 bit
    uint8_t allOnes[17] = {0, 1, 2};                                // needs code "11"
    uint8_t duplicates[17] = {0, 0, 2};
    const uint8_t twice[2] = {1, 1};
    for (const uint8_t *bits : {tooMany, overflow, allOnes}) {
        Rebuild(fixture, bits, values, jpg_bits_ac_luminance, jpg_val_ac_luminance);
        EXPECT_EQ(fixture.dcRecords[0].built, 0u);
        for (const JpgHuffCode &entry : fixture.dcCodes[0]) EXPECT_EQ(entry.length, 0);
    }
    fixture.acRecords[0].built = 0;
    Rebuild(fixture, jpg_bits_dc_luminance, jpg_val_dc_luminance, duplicates, twice);
    EXPECT_EQ(fixture.acRecords[0].built, 0u);
    EXPECT_EQ(fixture.acCodes[0][1].length, 0);
    EXPECT_EQ(fixture.dcRecords[0].built, 1u);
}

// A DC table from a decoder may list categories above 11: they keep no
// code (the encoder never needs them) and the rest of the table works.
TEST_F(DerivedTableTest, DcSymbolsBeyondElevenAreSkipped) {
    const uint8_t bits[17] = {0, 0, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
    const uint8_t values[15] = {0, 1, 12, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 14};
    Rebuild(fixture, bits, values, jpg_bits_ac_luminance, jpg_val_ac_luminance);
    EXPECT_EQ(fixture.dcRecords[0].built, 1u);
    EXPECT_EQ(Bits(fixture.dcCodes[0][0]), "00");
    EXPECT_EQ(Bits(fixture.dcCodes[0][1]), "01");
    EXPECT_EQ(Bits(fixture.dcCodes[0][2]), "101");  // "100" went to symbol 12
    EXPECT_EQ(fixture.dcCodes[0][11].length, 12);
}

} // namespace
