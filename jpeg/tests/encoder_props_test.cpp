// Encoder properties: the call convention, every identifier of the table,
// and the effect of each on the file written.
#include "enc_oracle.h"

#include <gtest/gtest.h>

using namespace enc_test;

namespace {

constexpr uint32_t kUntouched = 0xA5A5A5A5u;

std::vector<uint8_t> EncodeWith(TestEncoder &encoder, const CoefImage &image, uint32_t lines) {
    EXPECT_EQ(0u, encoder.Band(image, lines, 0, image.geometry.mcuRows));
    EXPECT_EQ(0u, encoder.Destroy());
    return encoder.sink.bytes;
}

TEST(EncoderPropConvention, NullHandleOrValueIsAnArgumentError) {
    TestEncoder encoder(16, 16, 3, false);
    uint32_t value = 0;
    for (uint32_t id : {0x2001u, 0x2008u, 0x1234u}) {
        EXPECT_EQ(VLTJPG_ERR_ARGUMENT, vltJpgEncoderSetProp(nullptr, id, &value, 4));
        EXPECT_EQ(VLTJPG_ERR_ARGUMENT, vltJpgEncoderSetProp(encoder.handle, id, nullptr, 4));
        EXPECT_EQ(VLTJPG_ERR_ARGUMENT, vltJpgEncoderGetProp(nullptr, id, &value, 4));
        EXPECT_EQ(VLTJPG_ERR_ARGUMENT, vltJpgEncoderGetProp(encoder.handle, id, nullptr, 4));
    }
}

TEST(EncoderPropConvention, IdentifiersNotHandledAreIgnored) {
    TestEncoder encoder(16, 16, 3, false);
    uint32_t value = kUntouched;
    for (uint32_t id : {0x1001u, 0x2000u, 0x2005u, 0x200Eu, 0x2010u})
        EXPECT_EQ(0u, vltJpgEncoderSetProp(encoder.handle, id, &value, 4));
    for (uint32_t id : {0x2002u, 0x2003u, 0x2008u, 0x2010u}) {
        EXPECT_EQ(0u, vltJpgEncoderGetProp(encoder.handle, id, &value, 4));
        EXPECT_EQ(kUntouched, value);
    }
}

TEST(EncoderPropConvention, WrongValueSizesAreRefused) {
    TestEncoder encoder(16, 16, 3, false);
    uint32_t words[4] = {1, 1, 1, 1};
    for (uint32_t id : {0x2008u, 0x2009u, 0x200Au, 0x200Bu, 0x200Cu, 0x200Du})
        EXPECT_EQ(VLTJPG_ERR_ARGUMENT, vltJpgEncoderSetProp(encoder.handle, id, words, 8)) << id;
    EXPECT_EQ(VLTJPG_ERR_ARGUMENT, vltJpgEncoderSetProp(encoder.handle, 0x2003, words, 4));
    EXPECT_EQ(VLTJPG_ERR_ARGUMENT, vltJpgEncoderSetProp(encoder.handle, 0x2006, words, 4));
    EXPECT_EQ(VLTJPG_ERR_ARGUMENT, vltJpgEncoderSetProp(encoder.handle, 0x2007, words, 4));
    EXPECT_EQ(VLTJPG_ERR_ARGUMENT, vltJpgEncoderGetProp(encoder.handle, 0x2001, words, 8));
    EXPECT_EQ(VLTJPG_ERR_ARGUMENT, vltJpgEncoderGetProp(encoder.handle, 0x200C, words, 2));
    EXPECT_EQ(VLTJPG_ERR_ARGUMENT, vltJpgEncoderGetProp(encoder.handle, 0x2005, words, 4));
    // The index takes its own two-word record, never one word.
    EXPECT_EQ(VLTJPG_ERR_ARGUMENT, vltJpgEncoderGetProp(encoder.handle, 0x200E, words, 4));
}

TEST(EncoderProps, QualityAndQualityModeReadBack) {
    TestEncoder encoder(16, 16, 3, false);
    uint32_t value = 0;
    ASSERT_EQ(0u, vltJpgEncoderGetProp(encoder.handle, VLTJPG_ENCPROP_QUALITY, &value, 4));
    EXPECT_EQ(85u, value);
    ASSERT_EQ(0u, encoder.Set(VLTJPG_ENCPROP_QUALITY, 60));
    ASSERT_EQ(0u, vltJpgEncoderGetProp(encoder.handle, VLTJPG_ENCPROP_QUALITY, &value, 4));
    EXPECT_EQ(60u, value);
    ASSERT_EQ(0u, vltJpgEncoderGetProp(encoder.handle, VLTJPG_ENCPROP_QUALITY_MODE, &value, 4));
    EXPECT_EQ(0u, value);
    ASSERT_EQ(0u, encoder.Set(VLTJPG_ENCPROP_QUALITY_MODE, 1));
    EXPECT_EQ(VLTJPG_ERR_ARGUMENT, encoder.Set(VLTJPG_ENCPROP_QUALITY_MODE, 2));
    ASSERT_EQ(0u, vltJpgEncoderGetProp(encoder.handle, VLTJPG_ENCPROP_QUALITY_MODE, &value, 4));
    EXPECT_EQ(1u, value);
}

TEST(EncoderProps, RotationTransposesTheQuantizationTables) {
    CoefImage image = RandomCoefficients(3, 16, 16, 50);
    TestEncoder straight(16, 16, 3, false);
    Decoded plain = DecodeCoefficients(EncodeWith(straight, image, 16));
    TestEncoder turned(16, 16, 3, false);
    EXPECT_EQ(VLTJPG_ERR_ARGUMENT, turned.Set(VLTJPG_ENCPROP_ROTATION, 45));
    ASSERT_EQ(0u, turned.Set(VLTJPG_ENCPROP_ROTATION, 180));
    ASSERT_EQ(0u, turned.Set(VLTJPG_ENCPROP_ROTATION, 90));
    Decoded rotated = DecodeCoefficients(EncodeWith(turned, image, 16));
    ASSERT_TRUE(plain.ok && rotated.ok);
    EXPECT_EQ(0, rotated.warnings);
    for (int t = 0; t < 2; ++t) {
        for (int r = 0; r < 8; ++r) {
            for (int c = 0; c < 8; ++c)
                EXPECT_EQ(plain.quantTables[t][8 * r + c], rotated.quantTables[t][8 * c + r]);
        }
    }
    EXPECT_NE(plain.quantTables[0], rotated.quantTables[0]);
    EXPECT_TRUE(SameCoefficients(image, rotated));
}

TEST(EncoderProps, SamplingModeChangesTheFrameLayout) {
    TestEncoder encoder(40, 24, 3, false);
    EXPECT_EQ(VLTJPG_ERR_ARGUMENT, encoder.Set(VLTJPG_ENCPROP_SAMPLING, 4)); // other component count
    EXPECT_EQ(VLTJPG_ERR_ARGUMENT, encoder.Set(VLTJPG_ENCPROP_SAMPLING, 7));
    ASSERT_EQ(0u, encoder.Set(VLTJPG_ENCPROP_SAMPLING, 1));
    CoefImage image = RandomCoefficients(1, 40, 24, 51);
    Decoded decoded = DecodeCoefficients(EncodeWith(encoder, image, 24));
    EXPECT_EQ(2, decoded.h[0]);
    EXPECT_EQ(1, decoded.v[0]);
    EXPECT_EQ(0, decoded.warnings);
    EXPECT_TRUE(SameCoefficients(image, decoded));
}

TEST(EncoderProps, ImageSizeChangesTheFrame) {
    TestEncoder encoder(8, 8, 4, false);
    uint32_t tooWide[2] = {65536, 17};
    EXPECT_EQ(VLTJPG_ERR_ARGUMENT,
              vltJpgEncoderSetProp(encoder.handle, VLTJPG_ENCPROP_IMAGE_SIZE, tooWide, 8));
    uint32_t size[2] = {24, 17};
    ASSERT_EQ(0u, vltJpgEncoderSetProp(encoder.handle, VLTJPG_ENCPROP_IMAGE_SIZE, size, 8));
    CoefImage image = RandomCoefficients(4, 24, 17, 52);
    Decoded decoded = DecodeCoefficients(EncodeWith(encoder, image, 17));
    EXPECT_EQ(24, decoded.width);
    EXPECT_EQ(17, decoded.height);
    EXPECT_TRUE(SameCoefficients(image, decoded));
}

TEST(EncoderProps, BufferSizeBeforeTheHeaderOnly) {
    TestEncoder encoder(32, 32, 0, false);
    EXPECT_EQ(VLTJPG_ERR_ARGUMENT, encoder.Set(VLTJPG_ENCPROP_BUFFER_SIZE, 0));
    EXPECT_EQ(VLTJPG_ERR_ARGUMENT, encoder.Set(VLTJPG_ENCPROP_BUFFER_SIZE, 0xFFFFFFFFu)); // -1
    ASSERT_EQ(0u, encoder.Set(VLTJPG_ENCPROP_BUFFER_SIZE, 1));
    CoefImage image = RandomCoefficients(0, 32, 32, 53);
    ASSERT_EQ(0u, encoder.Band(image, 32, 0, image.geometry.mcuRows));
    EXPECT_EQ(VLTJPG_ERR_ARGUMENT, encoder.Set(VLTJPG_ENCPROP_BUFFER_SIZE, 4096));
    ASSERT_EQ(0u, encoder.Destroy());
    EXPECT_GT(encoder.sink.writeCalls, 100u); // every block flushed
    Decoded decoded = DecodeCoefficients(encoder.sink.bytes);
    EXPECT_EQ(0, decoded.warnings);
    EXPECT_TRUE(SameCoefficients(image, decoded));
}

// The application data is kept by reference until the header is written.
TEST(EncoderProps, ApplicationDataIsReadWhenTheHeaderIsWritten) {
    TestEncoder encoder(8, 8, 4, false);
    uint8_t app[] = {0xFF, 0xE2, 0x00, 0x04, 0x11, 0x22};
    ASSERT_EQ(0u, vltJpgEncoderSetProp(encoder.handle, VLTJPG_ENCPROP_APP_DATA, app, sizeof(app)));
    app[5] = 0x33;
    CoefImage image = RandomCoefficients(4, 8, 8, 54);
    std::vector<uint8_t> file = EncodeWith(encoder, image, 8);
    ASSERT_GT(file.size(), 8u);
    EXPECT_EQ(0x33, file[7]);
}

struct ProgressLog {
    std::vector<uint32_t> percents;
    uint32_t stopAfter = 1000;
};

uint32_t LogProgress(uint32_t percent, void *context) {
    auto *log = static_cast<ProgressLog *>(context);
    log->percents.push_back(percent);
    return log->percents.size() >= log->stopAfter ? 1 : 0;
}

TEST(EncoderProgress, ReportsEveryMcuRowAndTheEndOfTheBand) {
    TestEncoder encoder(16, 24, 3, false);
    ProgressLog log;
    vltJpgEncProgress progress = {LogProgress, &log};
    ASSERT_EQ(
        0u, vltJpgEncoderSetProp(encoder.handle, VLTJPG_ENCPROP_PROGRESS, &progress, sizeof(progress)));
    CoefImage image = RandomCoefficients(3, 16, 24, 55);
    ASSERT_EQ(0u, encoder.Band(image, 24, 0, 3));
    EXPECT_EQ((std::vector<uint32_t>{33, 66, 100, 100}), log.percents);
}

TEST(EncoderProgress, NonZeroAnswerCancels) {
    TestEncoder encoder(16, 24, 3, false);
    ProgressLog log;
    log.stopAfter = 2;
    vltJpgEncProgress progress = {LogProgress, &log};
    ASSERT_EQ(
        0u, vltJpgEncoderSetProp(encoder.handle, VLTJPG_ENCPROP_PROGRESS, &progress, sizeof(progress)));
    CoefImage image = RandomCoefficients(3, 16, 24, 56);
    EXPECT_EQ(VLTJPG_ERR_CANCELLED, encoder.Band(image, 24, 0, 3));
    EXPECT_EQ(2u, log.percents.size());
}

} // namespace
