// MCU runs of coefficients through vltJpgEncoderWriteMCUs: runs that start
// and end anywhere in a row, the position check, the descriptor's count.
#include "enc_oracle.h"

#include <gtest/gtest.h>

using namespace enc_test;

namespace {

// Feeds the whole image in runs of the given lengths (cycled), each
// starting where the last one stopped.
std::vector<uint8_t> EncodeInRuns(const CoefImage &image, uint32_t width, uint32_t height,
                                  uint32_t mode, const std::vector<int> &lengths,
                                  uint32_t interval) {
    TestEncoder encoder(width, height, mode, false);
    EXPECT_EQ(0u, encoder.Set(VLTJPG_ENCPROP_RESTART, interval));
    const Geometry &g = image.geometry;
    int total = g.mcuColumns * g.mcuRows;
    for (int first = 0, n = 0; first < total; ++n) {
        int count = std::min(lengths[n % lengths.size()], total - first);
        int left = count;
        uint32_t column = static_cast<uint32_t>(first % g.mcuColumns);
        uint32_t row = static_cast<uint32_t>(first / g.mcuColumns);
        EXPECT_EQ(0u, encoder.Run(image, first, left, column, row));
        EXPECT_EQ(-1, left);
        first += count;
    }
    EXPECT_EQ(0u, encoder.Destroy());
    return encoder.sink.bytes;
}

class RunsMidRow : public ::testing::TestWithParam<uint32_t> {};

TEST_P(RunsMidRow, RunsStartingAnywhereGiveTheImageOfOneBand) {
    uint32_t mode = GetParam();
    CoefImage image = RandomCoefficients(mode, 75, 41, 20 + mode);
    std::vector<uint8_t> whole = EncodeWhole(image, 75, 41, mode, EncodeOptions{});
    std::vector<uint8_t> runs = EncodeInRuns(image, 75, 41, mode, {3, 1, 7, 2}, 0);
    EXPECT_EQ(whole, runs);
    Decoded decoded = DecodeCoefficients(runs);
    EXPECT_EQ(0, decoded.warnings);
    EXPECT_TRUE(SameCoefficients(image, decoded));
}

TEST_P(RunsMidRow, RunsAcrossRowEndsWithRestartIntervals) {
    uint32_t mode = GetParam();
    CoefImage image = RandomCoefficients(mode, 50, 50, 30 + mode);
    std::vector<uint8_t> runs = EncodeInRuns(image, 50, 50, mode, {5, 11}, 3);
    Decoded decoded = DecodeCoefficients(runs);
    EXPECT_EQ(0, decoded.warnings);
    EXPECT_EQ(3u, decoded.restartInterval);
    EXPECT_TRUE(SameCoefficients(image, decoded));
}

INSTANTIATE_TEST_SUITE_P(AllModes, RunsMidRow, ::testing::Values(0u, 1u, 2u, 3u, 4u));

TEST(RunPosition, RunNotStartingAtTheEncoderPositionEncodesNothing) {
    CoefImage image = RandomCoefficients(3, 40, 16, 40);
    TestEncoder encoder(40, 16, 3, false);
    int count = 2;
    ASSERT_EQ(0u, encoder.Run(image, 0, count, 0, 0));
    size_t before = encoder.sink.bytes.size();
    uint32_t writes = encoder.sink.writeCalls;
    int wrong = 3;
    EXPECT_EQ(VLTJPG_ERR_DATA, encoder.Run(image, 2, wrong, 3, 0));
    EXPECT_EQ(3, wrong);
    wrong = 1;
    EXPECT_EQ(VLTJPG_ERR_DATA, encoder.Run(image, 2, wrong, 2, 1));
    EXPECT_EQ(writes, encoder.sink.writeCalls);
    // The right position still continues the image.
    int rest = image.geometry.mcuColumns * image.geometry.mcuRows - 2;
    ASSERT_EQ(0u, encoder.Run(image, 2, rest, 2, 0));
    ASSERT_EQ(0u, encoder.Destroy());
    EXPECT_GT(encoder.sink.bytes.size(), before);
    Decoded decoded = DecodeCoefficients(encoder.sink.bytes);
    EXPECT_EQ(0, decoded.warnings);
    EXPECT_TRUE(SameCoefficients(image, decoded));
}

TEST(RunPosition, ImageSizePropertyStartsOverAtTheFirstMcu) {
    CoefImage image = RandomCoefficients(4, 16, 8, 41);
    TestEncoder encoder(16, 8, 4, false);
    int count = 1;
    ASSERT_EQ(0u, encoder.Run(image, 0, count, 0, 0));
    uint32_t size[2] = {16, 8};
    ASSERT_EQ(0u, vltJpgEncoderSetProp(encoder.handle, VLTJPG_ENCPROP_IMAGE_SIZE, size, 8));
    count = 1;
    EXPECT_EQ(VLTJPG_ERR_DATA, encoder.Run(image, 1, count, 1, 0));
    count = 1;
    EXPECT_EQ(0u, encoder.Run(image, 0, count, 0, 0));
}

TEST(RunModes, ModesWithoutCoefficientsAreRefused) {
    CoefImage image = RandomCoefficients(3, 16, 16, 42);
    TestEncoder encoder(16, 16, 3, false);
    std::vector<int16_t> values(64 * 3);
    uint8_t *planes[3] = {reinterpret_cast<uint8_t *>(values.data()), nullptr, nullptr};
    int32_t pitches[3] = {64 * 3, 0, 0};
    vltJpgPlaneSet planeSet = {planes, pitches};
    for (uint32_t mode : {0u, 2u, 3u, 4u}) {
        vltJpgEncWriteDesc descriptor = {mode, 1, 0, 0, &planeSet};
        EXPECT_EQ(VLTJPG_ERR_UNSUPPORTED, vltJpgEncoderWriteMCUs(encoder.handle, &descriptor));
    }
    vltJpgEncWriteDesc noPlanes = {VLTJPG_WRITE_COEFFICIENTS, 1, 0, 0, nullptr};
    EXPECT_EQ(VLTJPG_ERR_ARGUMENT, vltJpgEncoderWriteMCUs(encoder.handle, &noPlanes));
    EXPECT_EQ(VLTJPG_ERR_ARGUMENT, vltJpgEncoderWriteMCUs(encoder.handle, nullptr));
    EXPECT_EQ(VLTJPG_ERR_ARGUMENT, vltJpgEncoderWriteMCUs(nullptr, &noPlanes));
}

// Runs into an image of unknown height make it as tall as the MCU rows
// they reach.
TEST(RunHeight, UnknownHeightBecomesTheRowsReached) {
    CoefImage image = RandomCoefficients(0, 32, 48, 43);
    TestEncoder encoder(32, 0, 0, false);
    int count = 5; // two and a half MCU rows
    ASSERT_EQ(0u, encoder.Run(image, 0, count, 0, 0));
    ASSERT_EQ(0u, encoder.Destroy());
    Decoded decoded = DecodeCoefficients(encoder.sink.bytes);
    ASSERT_TRUE(decoded.ok);
    EXPECT_EQ(48, decoded.height);
}

// An MCU whose values no baseline table codes stops the run there.
TEST(RunErrors, UncodableValueStopsTheRun) {
    CoefImage image = RandomCoefficients(4, 32, 8, 44);
    image.planes[0][1][5] = 2047; // AC size 11
    TestEncoder encoder(32, 8, 4, false);
    int count = 4;
    EXPECT_EQ(VLTJPG_ERR_CATEGORY, encoder.Run(image, 0, count, 0, 0));
    EXPECT_EQ(2, count); // the second MCU was started, the rest not
}

} // namespace
