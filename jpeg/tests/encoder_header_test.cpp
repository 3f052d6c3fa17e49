// The bytes of the header the encoder writes, and its late changes: the
// size patch, the in-place rewrite after a quality change, and the frame
// types chosen for tables beyond baseline.
#include "enc_oracle.h"
#include "encoder/jpg_enc_tables.h"
#include "encoder/jpg_encoder.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace enc_test;

namespace {

std::vector<uint8_t> Bytes(std::initializer_list<int> values) {
    std::vector<uint8_t> bytes;
    for (int value : values)
        bytes.push_back(static_cast<uint8_t>(value));
    return bytes;
}

std::vector<uint8_t> Slice(const std::vector<uint8_t> &bytes, size_t at, size_t count) {
    if (at + count > bytes.size())
        return {};
    return std::vector<uint8_t>(bytes.begin() + at, bytes.begin() + at + count);
}

struct Encoder : TestEncoder {
    using TestEncoder::TestEncoder;
    JpgEncState *State() const { return static_cast<JpgEncState *>(handle); }
};

const std::vector<uint8_t> kJfif =
    Bytes({0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J',  'F',  'I',  'F',
           0x00, 0x01, 0x01, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00});

TEST(EncoderHeader, ColourHeaderIs623BytesInOrder) {
    Encoder encoder(64, 48, 0, true);
    const std::vector<uint8_t> &h = encoder.sink.bytes;
    ASSERT_EQ(623u, h.size());
    EXPECT_EQ(kJfif, Slice(h, 0, 20));
    // DQT 0 and 1 at quality 85: first step (16 * 30 + 50) / 100 = 5.
    EXPECT_EQ(Bytes({0xFF, 0xDB, 0x00, 0x43, 0x00, 5}), Slice(h, 20, 6));
    EXPECT_EQ(Bytes({0xFF, 0xDB, 0x00, 0x43, 0x01}), Slice(h, 89, 5));
    EXPECT_EQ(Bytes({0xFF, 0xC0, 0x00, 0x11, 0x08, 0x00, 48, 0x00, 64, 0x03, 0x01, 0x22, 0x00, 0x02,
                     0x11, 0x01, 0x03, 0x11, 0x01}),
              Slice(h, 158, 19));
    EXPECT_EQ(Bytes({0xFF, 0xC4, 0x00, 0x1F, 0x00}), Slice(h, 177, 5));
    EXPECT_EQ(Bytes({0xFF, 0xC4, 0x00, 0xB5, 0x10}), Slice(h, 210, 5));
    EXPECT_EQ(Bytes({0xFF, 0xC4, 0x00, 0x1F, 0x01}), Slice(h, 393, 5));
    EXPECT_EQ(Bytes({0xFF, 0xC4, 0x00, 0xB5, 0x11}), Slice(h, 426, 5));
    EXPECT_EQ(
        Bytes({0xFF, 0xDA, 0x00, 0x0C, 0x03, 0x01, 0x00, 0x02, 0x11, 0x03, 0x11, 0x00, 0x3F, 0x00}),
        Slice(h, 609, 14));
    EXPECT_EQ(0u, encoder.Destroy());
    EXPECT_EQ(623u, encoder.sink.bytes.size()); // no trailer after a header on create
}

TEST(EncoderHeader, HeaderOfTheFirstBandMatchesTheHeaderOnCreate) {
    Encoder early(64, 48, 0, true);
    Encoder late(64, 48, 0, false);
    CoefImage image = RandomCoefficients(0, 64, 48, 5);
    ASSERT_EQ(0u, late.Band(image, 48, 0, image.geometry.mcuRows));
    ASSERT_EQ(0u, late.Destroy());
    EXPECT_EQ(early.sink.bytes, Slice(late.sink.bytes, 0, 623));
}

TEST(EncoderHeader, GreyHeaderHasOneTableOfEachKind) {
    Encoder encoder(8, 8, 4, true);
    const std::vector<uint8_t> &h = encoder.sink.bytes;
    ASSERT_EQ(20u + 69 + 13 + 33 + 183 + 10, h.size());
    EXPECT_EQ(Bytes({0xFF, 0xDB, 0x00, 0x43, 0x00}), Slice(h, 20, 5));
    EXPECT_EQ(Bytes({0xFF, 0xC0, 0x00, 0x0B, 0x08, 0x00, 0x08, 0x00, 0x08, 0x01, 0x01, 0x11, 0x00}),
              Slice(h, 89, 13));
    EXPECT_EQ(Bytes({0xFF, 0xC4, 0x00, 0x1F, 0x00}), Slice(h, 102, 5));
    EXPECT_EQ(Bytes({0xFF, 0xC4, 0x00, 0xB5, 0x10}), Slice(h, 135, 5));
    EXPECT_EQ(Bytes({0xFF, 0xDA, 0x00, 0x08, 0x01, 0x01, 0x00, 0x00, 0x3F, 0x00}),
              Slice(h, 318, 10));
}

TEST(EncoderHeader, RestartIntervalGoesIntoDriBeforeTheScan) {
    Encoder encoder(64, 48, 0, false);
    ASSERT_EQ(0u, encoder.Set(VLTJPG_ENCPROP_RESTART, 300));
    CoefImage image = RandomCoefficients(0, 64, 48, 6);
    ASSERT_EQ(0u, encoder.Band(image, 48, 0, image.geometry.mcuRows));
    ASSERT_EQ(0u, encoder.Destroy());
    const std::vector<uint8_t> &file = encoder.sink.bytes;
    EXPECT_EQ(Bytes({0xFF, 0xDD, 0x00, 0x04, 0x01, 0x2C, 0xFF, 0xDA}), Slice(file, 609, 8));
    Decoded decoded = DecodeCoefficients(file);
    EXPECT_EQ(300u, decoded.restartInterval);
    EXPECT_EQ(0, decoded.warnings);
    EXPECT_TRUE(SameCoefficients(image, decoded));
}

TEST(EncoderHeader, ApplicationDataReplacesJfifRightAfterSoi) {
    Encoder encoder(24, 16, 3, false);
    uint8_t app1[] = {0xFF, 0xE1, 0x00, 0x0A, 'E', 'x', 'i', 'f', 0x00, 0x00, 0x12, 0x34};
    ASSERT_EQ(0u, vltJpgEncoderSetProp(encoder.handle, VLTJPG_ENCPROP_APP_DATA, app1, sizeof(app1)));
    CoefImage image = RandomCoefficients(3, 24, 16, 8);
    ASSERT_EQ(0u, encoder.Band(image, 16, 0, image.geometry.mcuRows));
    ASSERT_EQ(0u, encoder.Destroy());
    const std::vector<uint8_t> &file = encoder.sink.bytes;
    EXPECT_EQ(0xD8, file[1]);
    EXPECT_EQ(std::vector<uint8_t>(app1, app1 + sizeof(app1)), Slice(file, 2, sizeof(app1)));
    EXPECT_EQ(Bytes({0xFF, 0xDB}), Slice(file, 2 + sizeof(app1), 2));
    EXPECT_EQ(-1, FindMarker(file, 0xE0));
    Decoded decoded = DecodeCoefficients(file);
    EXPECT_EQ(0, decoded.warnings);
    EXPECT_TRUE(SameCoefficients(image, decoded));
}

TEST(EncoderHeader, TrailerEndsTheFileAndFlushesTheStream) {
    Encoder encoder(8, 8, 4, false);
    CoefImage image = RandomCoefficients(4, 8, 8, 9);
    ASSERT_EQ(0u, encoder.Band(image, 8, 0, 1));
    uint32_t flushes = encoder.sink.flushCalls;
    ASSERT_EQ(0u, encoder.Destroy());
    const std::vector<uint8_t> &file = encoder.sink.bytes;
    EXPECT_EQ(Bytes({0xFF, 0xD9}), Slice(file, file.size() - 2, 2));
    EXPECT_GT(encoder.sink.flushCalls, flushes);
}

// Height 0 at creation: the header says 0 until destruction patches in
// the lines of all bands.
TEST(EncoderSizePatch, BandsOfUnknownHeightArePatchedAtDestruction) {
    Encoder encoder(40, 0, 0, false);
    ASSERT_EQ(0u, encoder.Set(VLTJPG_ENCPROP_BUFFER_SIZE, 64)); // the header leaves early
    CoefImage image = RandomCoefficients(0, 40, 37, 10);
    ASSERT_EQ(3, image.geometry.mcuRows);
    ASSERT_EQ(0u, encoder.Band(image, 32, 0, 2));
    EXPECT_EQ(Bytes({0x00, 0x00, 0x00, 40}), Slice(encoder.sink.bytes, 163, 4));
    ASSERT_EQ(0u, encoder.Band(image, 5, 2, 1));
    ASSERT_EQ(0u, encoder.Destroy());
    const std::vector<uint8_t> &file = encoder.sink.bytes;
    EXPECT_EQ(Bytes({0x00, 37, 0x00, 40}), Slice(file, 163, 4));
    Decoded decoded = DecodeCoefficients(file);
    EXPECT_EQ(0, decoded.warnings);
    EXPECT_EQ(37, decoded.height);
    EXPECT_TRUE(SameCoefficients(image, decoded));
}

TEST(EncoderSizePatch, FailedSeekIsReported) {
    Encoder encoder(16, 0, 4, false);
    CoefImage image = RandomCoefficients(4, 16, 8, 11);
    ASSERT_EQ(0u, encoder.Band(image, 8, 0, 1));
    encoder.sink.failSeeks = true;
    EXPECT_EQ(VLTJPG_ERR_DATA, encoder.Destroy());
}

TEST(EncoderQualityRewrite, NewQualityRewritesTheHeaderInPlace) {
    Encoder encoder(64, 48, 0, true);
    ASSERT_EQ(623u, encoder.sink.bytes.size());
    uint32_t writes = encoder.sink.writeCalls;
    ASSERT_EQ(0u, encoder.Set(VLTJPG_ENCPROP_QUALITY, 85)); // unchanged: nothing happens
    EXPECT_EQ(writes, encoder.sink.writeCalls);
    ASSERT_EQ(0u, encoder.Set(VLTJPG_ENCPROP_QUALITY, 50));
    const std::vector<uint8_t> &h = encoder.sink.bytes;
    ASSERT_EQ(623u, h.size());
    EXPECT_EQ(Bytes({0xFF, 0xDB, 0x00, 0x43, 0x00, 16, 11, 12}), Slice(h, 20, 8));
    EXPECT_EQ(Bytes({0xFF, 0xDB, 0x00, 0x43, 0x01, 17, 18, 18}), Slice(h, 89, 8));
    EXPECT_EQ(Bytes({0xFF, 0xC4, 0x00, 0xB5, 0x11}), Slice(h, 426, 5));
    EXPECT_EQ(Bytes({0xFF, 0xDA}), Slice(h, 609, 2));
}

// Steps above 255 (tables taken over from elsewhere) go out as 16-bit
// tables in an extended-sequential frame, never cut to their low byte.
TEST(EncoderExtendedFrame, WideQuantizerStepsGive16BitTablesAndSof1) {
    Encoder encoder(16, 16, 3, false);
    JpgQuantTable *table = encoder.State()->quantTables[0];
    table->values[0] = 300;
    table->values[9] = 1000;
    CoefImage image = RandomCoefficients(3, 16, 16, 12);
    ASSERT_EQ(0u, encoder.Band(image, 16, 0, image.geometry.mcuRows));
    ASSERT_EQ(0u, encoder.Destroy());
    const std::vector<uint8_t> &file = encoder.sink.bytes;
    EXPECT_EQ(Bytes({0xFF, 0xDB, 0x00, 0x83, 0x10, 0x01, 0x2C}), Slice(file, 20, 7));
    EXPECT_EQ(-1, FindMarker(file, 0xC0));
    EXPECT_GE(FindMarker(file, 0xC1), 0);
    Decoded decoded = DecodeCoefficients(file);
    EXPECT_EQ(0, decoded.warnings);
    EXPECT_EQ(300, decoded.quantTables[0][0]);
    EXPECT_EQ(1000, decoded.quantTables[0][9]);
    EXPECT_TRUE(SameCoefficients(image, decoded));
}

TEST(EncoderExtendedFrame, HuffmanSelectorsAboveOneGiveSof1) {
    Encoder encoder(16, 16, 3, false);
    JpgEncState *state = encoder.State();
    std::memcpy(state->dcHuffTables[2], state->dcHuffTables[1], sizeof(JpgHuffTable));
    std::memcpy(state->acHuffTables[3], state->acHuffTables[1], sizeof(JpgHuffTable));
    state->dcHuffTables[2]->built = 0;
    state->acHuffTables[3]->built = 0;
    state->components[2]->dcSelector = 2;
    state->components[2]->acSelector = 3;
    ASSERT_EQ(0u, JpgEncCreateHuffTable(state));
    CoefImage image = RandomCoefficients(3, 16, 16, 13);
    ASSERT_EQ(0u, encoder.Band(image, 16, 0, image.geometry.mcuRows));
    ASSERT_EQ(0u, encoder.Destroy());
    const std::vector<uint8_t> &file = encoder.sink.bytes;
    EXPECT_GE(FindMarker(file, 0xC1), 0);
    EXPECT_EQ(-1, FindMarker(file, 0xC0));
    long sos = FindMarker(file, 0xDA);
    ASSERT_GT(sos, 0);
    EXPECT_EQ(Bytes({0x03, 0x01, 0x00, 0x02, 0x11, 0x03, 0x23}), Slice(file, sos + 4, 7));
    Decoded decoded = DecodeCoefficients(file);
    EXPECT_EQ(0, decoded.warnings);
    EXPECT_TRUE(SameCoefficients(image, decoded));
}

} // namespace
