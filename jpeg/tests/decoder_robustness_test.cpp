// Damaged and truncated data: the decoder resynchronises at restart
// markers, paints what it cannot decode grey, and never writes outside the
// host's planes.
#include "decoder_harness.h"
#include "enc_oracle.h"
#include "jpeg_oracle.h"
#include "qvjpeg.h"

#include <gtest/gtest.h>

#include <random>

namespace {

using harness::Decoder;
using oracle::EncodeOptions;

bool AcceptableResult(uint32_t result) {
    return result == 0 || result == VLTJPG_ERR_DATA || result == VLTJPG_ERR_CATEGORY ||
           result == VLTJPG_ERR_UNSUPPORTED || result == VLTJPG_ERR_ARGUMENT;
}

// Decodes `jpeg` at a scale into planes sized for `info` (the undamaged
// frame); returns the planes, checking results and guards.
std::vector<oracle::Plane> DecodeDamaged(const std::vector<uint8_t> &jpeg,
                                         const oracle::FrameInfo &info, int denominator,
                                         uint32_t *result) {
    Decoder dec(jpeg);
    *result = dec.created();
    harness::OutputPlanes out(info, denominator);
    if (*result == 0) {
        EXPECT_EQ(dec.SetScale(denominator), 0u);
        *result = harness::DecodeBands(dec, info, denominator, out, 8 * info.maxV);
    }
    EXPECT_TRUE(AcceptableResult(*result)) << std::hex << *result;
    EXPECT_TRUE(out.GuardsIntact());
    return out.Extract();
}

size_t EndOfScanData(const std::vector<uint8_t> &jpeg) {
    return jpeg.size() - 2; // the EOI
}

TEST(DecoderRobustness, FileCutAtEveryOffset) {
    for (int restart : {0, 2}) {
        EncodeOptions o;
        o.width = 23;
        o.height = 18;
        o.restartInterval = restart;
        std::vector<uint8_t> jpeg = oracle::Encode(o);
        oracle::FrameInfo info = oracle::ReadFrameInfo(jpeg);
        size_t dataStart = oracle::ScanDataOffset(jpeg);
        for (size_t length = 0; length <= jpeg.size(); ++length) {
            SCOPED_TRACE("length " + std::to_string(length));
            std::vector<uint8_t> cut(jpeg.begin(), jpeg.begin() + length);
            uint32_t result = 0;
            DecodeDamaged(cut, info, 1 << (length % 4), &result);
            if (length >= dataStart) {
                EXPECT_EQ(result, 0u); // a cut inside the data ends in grey blocks
            }
        }
    }
}

TEST(DecoderRobustness, RandomBytesFlippedInEntropyData) {
    EncodeOptions o;
    o.width = 61;
    o.height = 45;
    o.restartInterval = 2;
    o.content = oracle::Content::kNoise;
    std::vector<uint8_t> clean = oracle::Encode(o);
    oracle::FrameInfo info = oracle::ReadFrameInfo(clean);
    size_t first = oracle::ScanDataOffset(clean);
    size_t last = EndOfScanData(clean);
    std::mt19937 rng(7);
    for (int trial = 0; trial < 48; ++trial) {
        SCOPED_TRACE("trial " + std::to_string(trial));
        std::vector<uint8_t> jpeg = clean;
        int flips = 1 + trial % 8;
        for (int f = 0; f < flips; ++f) {
            size_t at = first + rng() % (last - first);
            jpeg[at] = static_cast<uint8_t>(trial % 3 == 0 ? 0xFF : rng());
        }
        uint32_t result = 0;
        DecodeDamaged(jpeg, info, 1 << (trial % 4), &result);
    }
}

// A file with one restart interval per MCU row, for marker surgery.
std::vector<uint8_t> RowRestartJpeg() {
    EncodeOptions o;
    o.width = 48;
    o.height = 80;
    o.restartRows = 1;
    return oracle::Encode(o);
}

size_t RestartMarkerOffset(const std::vector<uint8_t> &jpeg, int number) {
    long at = enc_test::FindMarker(jpeg, static_cast<uint8_t>(0xD0 + number),
                                   oracle::ScanDataOffset(jpeg));
    return at < 0 ? std::string::npos : static_cast<size_t>(at);
}

// Compares the planes row by row: rows of MCU rows firstGrey..lastGrey
// must be grey, all others equal to `clean`.
void ExpectOnlyMcuRowsGrey(const std::vector<oracle::Plane> &damaged,
                           const std::vector<oracle::Plane> &clean, int firstGrey, int lastGrey) {
    for (size_t c = 0; c < clean.size(); ++c) {
        int rowsPerMcu = c == 0 ? 16 : 8; // 4:2:0
        for (int y = 0; y < clean[c].height; ++y) {
            bool grey = y / rowsPerMcu >= firstGrey && y / rowsPerMcu <= lastGrey;
            for (int x = 0; x < clean[c].width; ++x) {
                int want = grey ? 128 : clean[c].at(x, y);
                ASSERT_EQ(damaged[c].at(x, y), want) << "plane " << c << " x " << x << " y " << y;
            }
        }
    }
}

// Marker surgery on a file with one restart interval per MCU row, checked
// against the decode of the undamaged file.
class RestartSurgery : public ::testing::Test {
protected:
    void SetUp() override {
        clean_ = RowRestartJpeg();
        info_ = oracle::ReadFrameInfo(clean_);
        uint32_t result = 0;
        good_ = DecodeDamaged(clean_, info_, 1, &result);
        ASSERT_EQ(result, 0u);
    }
    std::vector<oracle::Plane> Decode(const std::vector<uint8_t> &jpeg, uint32_t *result) {
        return DecodeDamaged(jpeg, info_, 1, result);
    }
    std::vector<uint8_t> clean_;
    oracle::FrameInfo info_;
    std::vector<oracle::Plane> good_;
};

TEST_F(RestartSurgery, MissingRestartMarkerGreysOneInterval) {
    std::vector<uint8_t> jpeg = clean_;
    size_t rst1 = RestartMarkerOffset(jpeg, 1);
    ASSERT_NE(rst1, std::string::npos);
    jpeg.erase(jpeg.begin() + rst1, jpeg.begin() + rst1 + 2);
    uint32_t result = 0;
    std::vector<oracle::Plane> damaged = Decode(jpeg, &result);
    ASSERT_EQ(result, 0u);
    ExpectOnlyMcuRowsGrey(damaged, good_, 2, 2);
}

TEST_F(RestartSurgery, StrayOldRestartMarkerIsSkipped) {
    std::vector<uint8_t> jpeg = clean_;
    size_t rst2 = RestartMarkerOffset(jpeg, 2);
    const uint8_t stray[] = {0xFF, 0xD1};
    jpeg.insert(jpeg.begin() + rst2, stray, stray + 2);
    uint32_t result = 0;
    std::vector<oracle::Plane> decoded = Decode(jpeg, &result);
    ASSERT_EQ(result, 0u);
    for (size_t c = 0; c < good_.size(); ++c)
        EXPECT_EQ(decoded[c].samples, good_[c].samples) << "plane " << c;
}

// A marker that is not a restart marker stops the data for good: the rest
// of the scan is grey, and the parser, reading on after the scan, reports
// the foreign marker.
TEST_F(RestartSurgery, ForeignMarkerInsideTheDataGreysTheRest) {
    std::vector<uint8_t> jpeg = clean_;
    size_t rst2 = RestartMarkerOffset(jpeg, 2);
    jpeg[rst2 + 2] = 0xFF;
    jpeg[rst2 + 3] = 0xC8;
    uint32_t result = 0;
    std::vector<oracle::Plane> damaged = Decode(jpeg, &result);
    EXPECT_EQ(result, VLTJPG_ERR_UNSUPPORTED);
    ExpectOnlyMcuRowsGrey(damaged, good_, 3, 4);

    jpeg[rst2 + 3] = 0xD9; // an EOI ends the image without complaint
    damaged = Decode(jpeg, &result);
    EXPECT_EQ(result, 0u);
    ExpectOnlyMcuRowsGrey(damaged, good_, 3, 4);
}

TEST(DecoderRobustness, TruncatedDataEndsInGrey) {
    EncodeOptions o;
    o.width = 32;
    o.height = 64;
    o.components = 1;
    std::vector<uint8_t> clean = oracle::Encode(o);
    oracle::FrameInfo info = oracle::ReadFrameInfo(clean);
    size_t first = oracle::ScanDataOffset(clean);
    std::vector<uint8_t> jpeg(clean.begin(), clean.begin() + first + (clean.size() - first) / 3);
    uint32_t result = 0;
    std::vector<oracle::Plane> planes = DecodeDamaged(jpeg, info, 1, &result);
    ASSERT_EQ(result, 0u);
    const oracle::Plane &y = planes[0];
    for (int x = 0; x < y.width; ++x)
        EXPECT_EQ(y.at(x, y.height - 1), 128);
}

} // namespace
