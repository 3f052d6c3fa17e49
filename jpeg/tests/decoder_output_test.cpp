// Decoder output against libjpeg-turbo: quantized coefficients must match
// exactly; samples at every scale are compared plane by plane.
#include "decoder_harness.h"
#include "jpeg_oracle.h"
#include "qvjpeg.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

using harness::Decoder;
using oracle::EncodeOptions;

struct Layout {
    oracle::Sampling sampling;
    int components;
};

const Layout kLayouts[] = {
    {oracle::Sampling420(), 3},      {oracle::Sampling422(), 3},
    {oracle::Sampling440(), 3},      {oracle::Sampling444(), 3},
    {oracle::Sampling444(), 1},      {oracle::Sampling411(), 3},
    {oracle::Sampling22_12_12(), 3}, {oracle::Sampling12_11_11(), 3},
};

const int kSizes[][2] = {{1, 1},   {7, 9},    {15, 15}, {17, 17},
                         {33, 31}, {1000, 1}, {1, 1000}, {2049, 7}};

EncodeOptions Options(const Layout &layout, int width, int height) {
    EncodeOptions o;
    o.width = width;
    o.height = height;
    o.sampling = layout.sampling;
    o.components = layout.components;
    return o;
}

std::string Name(const EncodeOptions &o) {
    char text[96];
    std::snprintf(text, sizeof(text), "%s %dx%d q%d rst%d/%d%s",
                  oracle::Describe(o.sampling, o.components).c_str(), o.width, o.height,
                  o.quality, o.restartInterval, o.restartRows, o.optimize ? " opt" : "");
    return text;
}

TEST(DecoderCoefficients, MatchLibjpegForEveryLayoutAndSize) {
    for (const Layout &layout : kLayouts) {
        for (const auto &size : kSizes) {
            EncodeOptions o = Options(layout, size[0], size[1]);
            SCOPED_TRACE(Name(o));
            harness::ExpectCoefficientsMatch(oracle::Encode(o));
        }
    }
}

TEST(DecoderCoefficients, MatchLibjpegForQualitiesTablesAndRestarts) {
    std::vector<EncodeOptions> cases;
    for (int quality : {10, 25, 50, 75, 95, 100}) {
        EncodeOptions o = Options(kLayouts[0], 57, 41);
        o.quality = quality;
        o.content = oracle::Content::kNoise;
        cases.push_back(o);
    }
    for (int quality : {5, 20}) {
        EncodeOptions o = Options(kLayouts[1], 40, 40);
        o.quality = quality;
        o.forceBaseline = false; // 16-bit tables: SOF1
        cases.push_back(o);
    }
    for (int interval : {1, 7}) {
        EncodeOptions o = Options(kLayouts[5], 70, 30);
        o.restartInterval = interval;
        cases.push_back(o);
    }
    EncodeOptions perRow = Options(kLayouts[0], 100, 50);
    perRow.restartRows = 1;
    perRow.optimize = true;
    cases.push_back(perRow);
    EncodeOptions optimizedNoise = Options(kLayouts[3], 48, 24);
    optimizedNoise.optimize = true;
    optimizedNoise.content = oracle::Content::kNoise;
    cases.push_back(optimizedNoise);
    for (const EncodeOptions &o : cases) {
        SCOPED_TRACE(Name(o));
        harness::ExpectCoefficientsMatch(oracle::Encode(o));
    }
}

// Largest difference from libjpeg's islow output allowed per scale: the fast
// transforms use 8-bit constants, and the reduced transforms differ from
// libjpeg's reduced-size IDCTs in their filters.
const int kMaxDiffByScale[4] = {12, 32, 40, 32};

void ExpectSamplesClose(const std::vector<uint8_t> &jpeg, int scaleIndex, bool report,
                        double minPsnr) {
    int denominator = 1 << scaleIndex;
    harness::Decoded ours = harness::DecodeImage(jpeg, denominator);
    ASSERT_EQ(ours.result, 0u);
    EXPECT_TRUE(ours.guardsIntact);
    std::vector<oracle::Plane> want = oracle::DecodeRaw(jpeg, denominator);
    ASSERT_EQ(ours.planes.size(), want.size());
    for (size_t c = 0; c < want.size(); ++c) {
        ASSERT_EQ(ours.planes[c].width, want[c].width) << "plane " << c;
        ASSERT_EQ(ours.planes[c].height, want[c].height) << "plane " << c;
        oracle::PlaneStats stats = oracle::Compare(ours.planes[c], want[c]);
        if (report) {
            std::printf("  scale 1/%d plane %zu (%dx%d): PSNR %.2f dB, max diff %d\n", denominator,
                        c, want[c].width, want[c].height, stats.psnr, stats.maxDiff);
        }
        EXPECT_LE(stats.maxDiff, kMaxDiffByScale[scaleIndex]) << "plane " << c;
        EXPECT_GE(stats.psnr, minPsnr) << "plane " << c;
    }
}

TEST(DecoderSamples, CloseToLibjpegForEveryLayoutSizeAndScale) {
    for (const Layout &layout : kLayouts) {
        for (const auto &size : kSizes) {
            EncodeOptions o = Options(layout, size[0], size[1]);
            std::vector<uint8_t> jpeg = oracle::Encode(o);
            for (int scale = 0; scale < 4; ++scale) {
                SCOPED_TRACE(Name(o) + " scale " + std::to_string(scale));
                ExpectSamplesClose(jpeg, scale, false, 0.0);
            }
        }
    }
}

TEST(DecoderSamples, PhotoPsnrAtEveryScale) {
    const double minPsnr[4] = {44.0, 42.0, 42.0, 44.0};
    for (const Layout &layout : {kLayouts[0], kLayouts[1], kLayouts[4]}) {
        EncodeOptions o = Options(layout, 320, 240);
        o.quality = 90;
        std::vector<uint8_t> jpeg = oracle::Encode(o);
        std::printf("%s\n", Name(o).c_str());
        for (int scale = 0; scale < 4; ++scale) {
            SCOPED_TRACE(Name(o) + " scale " + std::to_string(scale));
            ExpectSamplesClose(jpeg, scale, true, minPsnr[scale]);
        }
    }
}

// Bands are whole MCU rows: a request that is not a multiple of the MCU
// height gets the whole row, and the count written back says so.
TEST(DecoderSamples, BandsOfAnySizeGiveTheSameImage) {
    EncodeOptions o = Options(kLayouts[0], 90, 75);
    o.restartInterval = 3;
    std::vector<uint8_t> jpeg = oracle::Encode(o);
    for (int scale : {1, 4}) {
        harness::Decoded whole = harness::DecodeImage(jpeg, scale);
        ASSERT_EQ(whole.result, 0u);
        for (int band : {5, 16, 24, 48}) {
            harness::Decoded banded = harness::DecodeImage(jpeg, scale, band);
            ASSERT_EQ(banded.result, 0u);
            EXPECT_TRUE(banded.guardsIntact);
            for (size_t c = 0; c < whole.planes.size(); ++c)
                EXPECT_EQ(banded.planes[c].samples, whole.planes[c].samples)
                    << "band " << band << " plane " << c;
        }
    }
}

TEST(DecoderSamples, ScanlinesReportsLinesLeft) {
    EncodeOptions o = Options(kLayouts[4], 24, 56);
    std::vector<uint8_t> jpeg = oracle::Encode(o);
    Decoder dec(jpeg);
    ASSERT_EQ(dec.created(), 0u);
    std::vector<uint8_t> plane(24 * 64);
    uint8_t *planes[3] = {plane.data(), nullptr, nullptr};
    int32_t pitches[3] = {24, 0, 0};
    int32_t lines = 16;
    EXPECT_EQ(vltJpgDecoderScanlines(dec.handle(), planes, pitches, nullptr, &lines), 0u);
    EXPECT_EQ(lines, 16);
    lines = 3;
    EXPECT_EQ(vltJpgDecoderScanlines(dec.handle(), planes, pitches, nullptr, &lines), 0u);
    EXPECT_EQ(lines, 8);
    lines = 100;
    EXPECT_EQ(vltJpgDecoderScanlines(dec.handle(), planes, pitches, nullptr, &lines), 0u);
    EXPECT_EQ(lines, 32);
    lines = 100;
    EXPECT_EQ(vltJpgDecoderScanlines(dec.handle(), planes, pitches, nullptr, &lines), 0u);
    EXPECT_EQ(lines, 0);
    EXPECT_EQ(vltJpgDecoderScanlines(dec.handle(), nullptr, pitches, nullptr, &lines),
              VLTJPG_ERR_ARGUMENT);
    EXPECT_EQ(vltJpgDecoderScanlines(nullptr, planes, pitches, nullptr, &lines),
              VLTJPG_ERR_ARGUMENT);
}

} // namespace
