// The largest frames the format allows: 65535 samples wide or tall decode
// in bands within memory bounded by the width, never under-allocated (the
// planes' guards and ASan watch every write). The oracle encodes at most
// 65500 samples a side, so each file is encoded smaller and its frame
// header enlarged: the data then ends early and the rest comes out grey.
#include "decoder_harness.h"
#include "fault_injection.h"
#include "jpeg_oracle.h"

#include <gtest/gtest.h>

namespace {

using harness::Decoder;

std::vector<uint8_t> WithFrameSize(std::vector<uint8_t> jpeg, bool progressive, int width,
                                   int height) {
    size_t sof = oracle::FindMarker(jpeg, progressive ? 0xC2 : 0xC0);
    jpeg[sof + 5] = static_cast<uint8_t>(height >> 8);
    jpeg[sof + 6] = static_cast<uint8_t>(height);
    jpeg[sof + 7] = static_cast<uint8_t>(width >> 8);
    jpeg[sof + 8] = static_cast<uint8_t>(width);
    return jpeg;
}

struct Limit {
    int width;
    int height;
    bool progressive;
    int encodedWidth;
    int encodedHeight;
    int linesDecoded;
};

// 4:2:0 colour, as the oracle encodes by default.
oracle::FrameInfo Frame420(int width, int height) {
    oracle::FrameInfo info;
    info.width = width;
    info.height = height;
    info.components = 3;
    info.maxH = info.maxV = info.h[0] = info.v[0] = 2;
    return info;
}

TEST(DecoderLimits, LargestFramesDecodeInBandsWithinMemoryBoundedByWidth) {
    const Limit limits[] = {
        {65535, 16, false, 65488, 16, 16}, {16, 65535, false, 16, 1024, 65535},
        {65535, 65535, false, 64, 64, 64}, {65535, 65535, true, 64, 64, 64},
        {65535, 32, true, 64, 32, 32},
    };
    for (const Limit &limit : limits) {
        SCOPED_TRACE(::testing::Message() << limit.width << " x " << limit.height
                                          << (limit.progressive ? " progressive" : ""));
        oracle::EncodeOptions options;
        options.width = limit.encodedWidth;
        options.height = limit.encodedHeight;
        options.progressive = limit.progressive;
        std::vector<uint8_t> jpeg =
            WithFrameSize(oracle::Encode(options), limit.progressive, limit.width, limit.height);

        fault::Arm(fault::Target::kNone, -1); // counts the heap's bytes
        {
            Decoder dec(jpeg, vltJpgDecoderParams{});
            ASSERT_EQ(0u, dec.created());
            // Planes one band high take every band in turn.
            constexpr int kBand = 16;
            harness::OutputPlanes band(Frame420(limit.width, kBand), 1);
            for (int done = 0; done < limit.linesDecoded;) {
                harness::PlanePointers origins = band.Origins();
                int32_t count = kBand;
                ASSERT_EQ(0u, vltJpgDecoderScanlines(dec.handle(), origins.planes,
                                                     origins.pitches, nullptr, &count));
                ASSERT_GT(count, 0);
                done += count;
            }
            EXPECT_TRUE(band.GuardsIntact());
        }
        fault::Reach heap = fault::Disarm();
        EXPECT_EQ(0, heap.liveBlocks);
        // A row of MCUs in coefficients (4:2:0: 96 bytes a column) and a
        // fixed part for readers, tables and buffers.
        EXPECT_LE(heap.peakBytes, 96u * limit.width + 256 * 1024);
    }
}

} // namespace
