// Files written from quantized coefficients read back by libjpeg-turbo:
// no warning, and exactly the coefficients that went in.
#include "enc_oracle.h"

#include <gtest/gtest.h>

#include <tuple>

using namespace enc_test;

namespace {

struct Size {
    uint32_t width;
    uint32_t height;
};

// Odd sizes: partial MCUs on the right, at the bottom, both; one pixel.
const Size kSizes[] = {{1, 1}, {17, 9}, {35, 47}, {64, 32}};

class CoefficientRoundTrip
    : public ::testing::TestWithParam<std::tuple<uint32_t, Size, uint32_t, uint32_t>> {};

TEST_P(CoefficientRoundTrip, LibjpegReadsBackTheSameCoefficients) {
    auto [mode, size, interval, quality] = GetParam();
    CoefImage image = RandomCoefficients(mode, size.width, size.height, 7 * mode + quality);
    EncodeOptions options;
    options.quality = quality;
    options.restartInterval = interval;
    std::vector<uint8_t> file = EncodeWhole(image, size.width, size.height, mode, options);
    ASSERT_FALSE(file.empty());
    Decoded decoded = DecodeCoefficients(file);
    ASSERT_TRUE(decoded.ok);
    EXPECT_EQ(0, decoded.warnings);
    EXPECT_EQ(static_cast<int>(size.width), decoded.width);
    EXPECT_EQ(static_cast<int>(size.height), decoded.height);
    EXPECT_EQ(interval, decoded.restartInterval);
    EXPECT_FALSE(decoded.progressive);
    EXPECT_TRUE(SameCoefficients(image, decoded));
}

std::string Name(const ::testing::TestParamInfo<CoefficientRoundTrip::ParamType> &info) {
    auto [mode, size, interval, quality] = info.param;
    return "mode" + std::to_string(mode) + "_" + std::to_string(size.width) + "x" +
           std::to_string(size.height) + "_rst" + std::to_string(interval) + "_q" +
           std::to_string(quality);
}

INSTANTIATE_TEST_SUITE_P(AllLayouts, CoefficientRoundTrip,
                         ::testing::Combine(::testing::Values(0u, 1u, 2u, 3u, 4u),
                                            ::testing::ValuesIn(kSizes),
                                            ::testing::Values(0u, 1u, 7u),
                                            ::testing::Values(1u, 50u, 85u, 100u)),
                         Name);

// The quantization tables in the file follow the quality.
TEST(CoefficientQuality, FiftyGivesTheStandardTables) {
    static const uint16_t kLumaFirstRow[8] = {16, 11, 10, 16, 24, 40, 51, 61};
    CoefImage image = RandomCoefficients(0, 32, 32, 1);
    EncodeOptions options;
    options.quality = 50;
    Decoded decoded = DecodeCoefficients(EncodeWhole(image, 32, 32, 0, options));
    ASSERT_TRUE(decoded.ok);
    for (int k = 0; k < 8; ++k)
        EXPECT_EQ(kLumaFirstRow[k], decoded.quantTables[0][k]);
    EXPECT_EQ(17, decoded.quantTables[1][0]);
    EXPECT_EQ(0, decoded.quantSelector[0]);
    EXPECT_EQ(1, decoded.quantSelector[1]);
    EXPECT_EQ(1, decoded.quantSelector[2]);
}

TEST(CoefficientQuality, HundredGivesOnesAndOneGivesLargeSteps) {
    CoefImage image = RandomCoefficients(3, 16, 16, 2);
    EncodeOptions best;
    best.quality = 100;
    Decoded fine = DecodeCoefficients(EncodeWhole(image, 16, 16, 3, best));
    ASSERT_TRUE(fine.ok);
    for (uint16_t step : fine.quantTables[0])
        EXPECT_EQ(1, step);
    EncodeOptions worst;
    worst.quality = 1;
    Decoded coarse = DecodeCoefficients(EncodeWhole(image, 16, 16, 3, worst));
    ASSERT_TRUE(coarse.ok);
    EXPECT_EQ(255, coarse.quantTables[0][63]);
    EXPECT_EQ(255, coarse.quantTables[1][63]);
}

// Coefficient input is coded as given whatever the quantizer mode.
TEST(CoefficientQuality, BothQualityModesCodeTheSameCoefficients) {
    CoefImage image = RandomCoefficients(1, 40, 24, 3);
    EncodeOptions fast;
    EncodeOptions rounding;
    rounding.qualityMode = 1;
    std::vector<uint8_t> a = EncodeWhole(image, 40, 24, 1, fast);
    std::vector<uint8_t> b = EncodeWhole(image, 40, 24, 1, rounding);
    EXPECT_EQ(a, b);
    EXPECT_TRUE(SameCoefficients(image, DecodeCoefficients(b)));
}

} // namespace
