// Our encoder and our decoder agree: quantized coefficients written by the
// encoder come back unchanged from the decoder's coefficient output, for
// every sampling mode, odd sizes and restart intervals.
#include "decoder_harness.h"
#include "enc_oracle.h"

#include <gtest/gtest.h>


namespace {

struct RoundTripCase {
    uint32_t samplingMode;
    uint32_t width;
    uint32_t height;
    uint32_t restartInterval;
};

class CodecRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

// Reads every MCU of the image in one run of coefficient output.
std::vector<int16_t> DecodeAllCoefficients(const std::vector<uint8_t> &file,
                                           const enc_test::Geometry &geometry) {
    harness::Decoder decoder(file);
    EXPECT_EQ(decoder.created(), VLTJPG_OK);
    int32_t rowValues = enc_test::McuRowValues(geometry);
    std::vector<int16_t> values(size_t(rowValues) * geometry.mcuRows, 0x5A5A);
    uint8_t *planes[3] = {reinterpret_cast<uint8_t *>(values.data()), nullptr, nullptr};
    int32_t pitches[3] = {rowValues, 0, 0};
    vltJpgPlaneSet planeSet{planes, pitches};
    vltJpgDecoderRequest request{VLTJPG_REQUEST_COEFFICIENTS,
                                 geometry.mcuColumns * geometry.mcuRows, 0, 0, &planeSet};
    EXPECT_EQ(vltJpgDecoderReadMCUs(decoder.handle(), &request), VLTJPG_OK);
    EXPECT_EQ(request.mcuCount, 0);
    return values;
}

TEST_P(CodecRoundTrip, CoefficientsSurviveEncodeAndDecode) {
    const RoundTripCase &c = GetParam();
    enc_test::CoefImage image = enc_test::RandomCoefficients(c.samplingMode, c.width, c.height,
                                                             c.width * 31 + c.height);
    enc_test::EncodeOptions options;
    options.restartInterval = c.restartInterval;
    std::vector<uint8_t> file =
        enc_test::EncodeWhole(image, c.width, c.height, c.samplingMode, options);
    ASSERT_FALSE(file.empty());

    std::vector<int16_t> expected = enc_test::McuLayout(image, 0, image.geometry.mcuRows);
    std::vector<int16_t> decoded = DecodeAllCoefficients(file, image.geometry);
    ASSERT_EQ(decoded.size(), expected.size());
    size_t firstDifference = 0;
    while (firstDifference < expected.size() && decoded[firstDifference] == expected[firstDifference])
        ++firstDifference;
    EXPECT_EQ(firstDifference, expected.size())
        << "first difference in block " << firstDifference / 64 << ", coefficient "
        << firstDifference % 64;
}

std::vector<RoundTripCase> Cases() {
    std::vector<RoundTripCase> cases;
    for (uint32_t mode = 0; mode <= 4; ++mode)
        for (auto [width, height] : {std::pair{1u, 1u}, {33u, 17u}, {100u, 75u}})
            for (uint32_t interval : {0u, 1u, 5u})
                cases.push_back({mode, width, height, interval});
    return cases;
}

std::string CaseName(const ::testing::TestParamInfo<RoundTripCase> &info) {
    const RoundTripCase &c = info.param;
    return "mode" + std::to_string(c.samplingMode) + "_" + std::to_string(c.width) + "x" +
           std::to_string(c.height) + "_restart" + std::to_string(c.restartInterval);
}

INSTANTIATE_TEST_SUITE_P(AllModes, CodecRoundTrip, ::testing::ValuesIn(Cases()), CaseName);

} // namespace
