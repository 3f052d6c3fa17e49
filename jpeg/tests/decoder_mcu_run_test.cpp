// MCU runs: positioning (forward skips, rewinds, restart counters), the
// request modes, and scanline bands that follow a run; of single-scan and
// progressive images alike.
#include "decoder_harness.h"
#include "jpeg_oracle.h"
#include "qvjpeg.h"

#include <gtest/gtest.h>

namespace {

using harness::Decoder;
using oracle::EncodeOptions;

std::vector<uint8_t> RunJpeg(int restartInterval, int components = 3, bool progressive = false) {
    EncodeOptions o;
    o.progressive = progressive;
    o.width = 75;
    o.height = 53;
    o.components = components;
    o.restartInterval = restartInterval;
    return oracle::Encode(o);
}

// The test image, its frame and its reference decode at a scale.
struct RunImage {
    std::vector<uint8_t> jpeg;
    oracle::FrameInfo info;
    harness::Decoded reference;
};

RunImage MakeRunImage(int restartInterval, int components = 3, int scale = 1,
                      bool progressive = false) {
    RunImage image;
    image.jpeg = RunJpeg(restartInterval, components, progressive);
    image.info = oracle::ReadFrameInfo(image.jpeg);
    image.reference = harness::DecodeImage(image.jpeg, scale);
    return image;
}

// Plane pointers that put MCU (column, row) of a run at its own place in
// the full-size planes `out` at a scale shift.
harness::PlanePointers TargetAt(harness::OutputPlanes &out, const oracle::FrameInfo &info,
                                int column, int row, int shift) {
    harness::PlanePointers t;
    for (size_t c = 0; c < out.planes.size(); ++c) {
        int x = (column * 8 * info.h[c]) >> shift;
        int y = (row * 8 * info.v[c]) >> shift;
        t.pitches[c] = out.planes[c].pitch();
        t.planes[c] = out.planes[c].origin() + static_cast<size_t>(y) * t.pitches[c] + x;
    }
    return t;
}

uint32_t ReadRun(Decoder &dec, harness::OutputPlanes &out, const oracle::FrameInfo &info,
                 int column, int row, int count, int shift) {
    harness::PlanePointers t = TargetAt(out, info, column, row, shift);
    vltJpgPlaneSet set = t.set();
    vltJpgDecoderRequest request{VLTJPG_REQUEST_SAMPLES, count, column, row, &set};
    uint32_t result = vltJpgDecoderReadMCUs(dec.handle(), &request);
    EXPECT_EQ(request.mcuCount, 0);
    return result;
}

// A band of up to `lines` lines into `out` from MCU row `row` on; returns
// the result and sets *lines to the lines delivered.
uint32_t ReadBand(Decoder &dec, harness::OutputPlanes &out, const oracle::FrameInfo &info, int row,
                  int32_t *lines) {
    harness::PlanePointers t = TargetAt(out, info, 0, row, 0);
    return vltJpgDecoderScanlines(dec.handle(), t.planes, t.pitches, nullptr, lines);
}

// Samples of columns [x0, x1) and rows [y0, y1) of `a` and `b` match.
void ExpectSameArea(const oracle::Plane &a, const oracle::Plane &b, int x0, int x1, int y0,
                    int y1) {
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x)
            ASSERT_EQ(a.at(x, y), b.at(x, y)) << "x " << x << " y " << y;
    }
}

// Reads every MCU row back to front, each row as two runs (the tail, then
// the first MCU), so that every run needs a rewind or a forward skip.
TEST(DecoderMcuRuns, RowSegmentsInAnyOrderRebuildTheImage) {
    for (int restart : {0, 3}) {
        for (int scale : {1, 2, 8}) {
          for (bool progressive : {false, true}) {
            SCOPED_TRACE("restart " + std::to_string(restart) + " scale " + std::to_string(scale) +
                         (progressive ? " progressive" : ""));
            auto [jpeg, info, reference] = MakeRunImage(restart, 3, scale, progressive);
            ASSERT_EQ(reference.result, 0u);

            Decoder dec(jpeg);
            ASSERT_EQ(dec.created(), 0u);
            ASSERT_EQ(dec.SetScale(scale), 0u);
            int shift = scale == 1 ? 0 : (scale == 2 ? 1 : 3);
            int32_t columns, rows;
            dec.GetPair(VLTJPG_DECPROP_MCU_GRID, &columns, &rows);
            harness::OutputPlanes out(info, scale);
            for (int row = rows - 1; row >= 0; --row) {
                ASSERT_EQ(ReadRun(dec, out, info, 1, row, columns - 1, shift), 0u);
                ASSERT_EQ(ReadRun(dec, out, info, 0, row, 1, shift), 0u);
            }
            EXPECT_TRUE(out.GuardsIntact());
            harness::ExpectSamePlanes(out.Extract(), reference.planes);
          }
        }
    }
}

TEST(DecoderMcuRuns, RunOverTheWholeImageEqualsBands) {
    auto [jpeg, info, reference] = MakeRunImage(5, 1);
    Decoder dec(jpeg);
    ASSERT_EQ(dec.created(), 0u);
    int32_t columns, rows;
    dec.GetPair(VLTJPG_DECPROP_MCU_GRID, &columns, &rows);
    harness::OutputPlanes out(info, 1);
    ASSERT_EQ(ReadRun(dec, out, info, 0, 0, columns * rows, 0), 0u);
    EXPECT_TRUE(out.GuardsIntact());
    harness::ExpectSamePlanes(out.Extract(), reference.planes);
}

TEST(DecoderMcuRuns, HandOverLeavesTheDecoderPositioned) {
    auto [jpeg, info, reference] = MakeRunImage(0);
    Decoder dec(jpeg);
    ASSERT_EQ(dec.created(), 0u);
    vltJpgDecoderRequest request{VLTJPG_REQUEST_HANDOVER, 9, 2, 1, nullptr};
    ASSERT_EQ(vltJpgDecoderReadMCUs(dec.handle(), &request), 0u);
    EXPECT_EQ(request.mcuCount, 0);
    EXPECT_EQ(reinterpret_cast<void *>(request.planeSet), dec.handle());

    int reads = dec.stream().reads;
    int seeks = dec.stream().seeks;
    harness::OutputPlanes out(info, 1);
    ASSERT_EQ(ReadRun(dec, out, info, 2, 1, 3, 0), 0u); // no skip, no rewind
    EXPECT_EQ(dec.stream().seeks, seeks);
    EXPECT_LE(dec.stream().reads, reads + 1);
    ExpectSameArea(out.Extract()[0], reference.planes[0], 32, 75, 16, 32);
}

TEST(DecoderMcuRuns, RefusedRequestsDecodeNothing) {
  for (bool progressive : {false, true}) {
    SCOPED_TRACE(progressive ? "progressive" : "single scan");
    auto [jpeg, info, reference] = MakeRunImage(0, 3, 1, progressive);
    Decoder dec(jpeg);
    ASSERT_EQ(dec.created(), 0u);
    harness::OutputPlanes out(info, 1);
    harness::PlanePointers t = TargetAt(out, info, 0, 0, 0);
    vltJpgPlaneSet set = t.set();
    // A multi-scan image has no position to hand over to an encoder.
    std::vector<int> refused = {3, 4, 7, -1};
    if (progressive)
        refused.push_back(VLTJPG_REQUEST_HANDOVER);
    for (int mode : refused) {
        vltJpgDecoderRequest request{mode, 4, 1, 1, &set};
        EXPECT_EQ(vltJpgDecoderReadMCUs(dec.handle(), &request), VLTJPG_ERR_UNSUPPORTED);
        EXPECT_EQ(request.mcuCount, 4);
    }
    vltJpgDecoderRequest outside{VLTJPG_REQUEST_SAMPLES, 1, 5, 0, &set};
    EXPECT_EQ(vltJpgDecoderReadMCUs(dec.handle(), &outside), VLTJPG_ERR_ARGUMENT);
    outside.startColumn = 0;
    outside.startRow = 4;
    EXPECT_EQ(vltJpgDecoderReadMCUs(dec.handle(), &outside), VLTJPG_ERR_ARGUMENT);
    vltJpgDecoderRequest noPlanes{VLTJPG_REQUEST_SAMPLES, 1, 0, 0, nullptr};
    EXPECT_EQ(vltJpgDecoderReadMCUs(dec.handle(), &noPlanes), VLTJPG_ERR_ARGUMENT);
    EXPECT_EQ(vltJpgDecoderReadMCUs(dec.handle(), nullptr), VLTJPG_ERR_ARGUMENT);
    EXPECT_EQ(vltJpgDecoderReadMCUs(nullptr, &outside), VLTJPG_ERR_ARGUMENT);
    EXPECT_TRUE(out.GuardsIntact());
    std::vector<oracle::Plane> untouched = out.Extract();
    EXPECT_EQ(untouched[0].at(20, 20), 0xA5);

    // The decoder still stands at the start: bands decode the whole image.
    harness::OutputPlanes full(info, 1);
    ASSERT_EQ(harness::DecodeBands(dec, info, 1, full), 0u);
    harness::ExpectSamePlanes(full.Extract(), reference.planes);
  }
}

TEST(DecoderMcuRuns, RunPastTheLastMcuStopsThere) {
    std::vector<uint8_t> jpeg = RunJpeg(0);
    oracle::FrameInfo info = oracle::ReadFrameInfo(jpeg);
    Decoder dec(jpeg);
    ASSERT_EQ(dec.created(), 0u);
    harness::OutputPlanes out(info, 1);
    harness::PlanePointers t = TargetAt(out, info, 4, 3, 0);
    vltJpgPlaneSet set = t.set();
    vltJpgDecoderRequest request{VLTJPG_REQUEST_SAMPLES, 6, 4, 3, &set};
    EXPECT_EQ(vltJpgDecoderReadMCUs(dec.handle(), &request), 0u);
    EXPECT_EQ(request.mcuCount, 5);
    EXPECT_TRUE(out.GuardsIntact());
}

// A band after a run continues from the MCU the run stopped at: the rest
// of that MCU row lands at its own columns, and the line count continues
// from that row's first line.
TEST(DecoderMcuRuns, ScanlinesContinueWhereTheRunStopped) {
  for (bool progressive : {false, true}) {
    SCOPED_TRACE(progressive ? "progressive" : "single scan");
    auto [jpeg, info, reference] = MakeRunImage(2, 3, 1, progressive);
    Decoder dec(jpeg);
    ASSERT_EQ(dec.created(), 0u);
    harness::OutputPlanes out(info, 1);
    ASSERT_EQ(ReadRun(dec, out, info, 0, 1, 2, 0), 0u);

    int32_t lines = 16;
    ASSERT_EQ(ReadBand(dec, out, info, 1, &lines), 0u);
    EXPECT_EQ(lines, 16);
    lines = 100;
    ASSERT_EQ(ReadBand(dec, out, info, 2, &lines), 0u);
    EXPECT_EQ(lines, 53 - 32);
    EXPECT_TRUE(out.GuardsIntact());

    std::vector<oracle::Plane> planes = out.Extract();
    for (size_t c = 0; c < planes.size(); ++c) {
        SCOPED_TRACE("plane " + std::to_string(c));
        int firstRow = 16 * info.v[c] / info.maxV;
        ASSERT_NO_FATAL_FAILURE(ExpectSameArea(planes[c], reference.planes[c], 0, planes[c].width,
                                               firstRow, planes[c].height));
    }
  }
}

} // namespace
