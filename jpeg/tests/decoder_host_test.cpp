// The decoder's host interfaces: memory and stream callbacks, platform
// streams, JPEG data at an offset, decoding another stream, progress and
// cancellation.
#include "decoder_harness.h"
#include "jpeg_oracle.h"
#include "memory_stream.h"
#include "qvjpeg.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using harness::CountingAllocator;
using harness::Decoder;
using harness::WithAllocator;
using oracle::EncodeOptions;

std::vector<uint8_t> HostJpeg(int width = 120, int height = 90, bool progressive = false) {
    EncodeOptions o;
    o.progressive = progressive;
    o.width = width;
    o.height = height;
    o.restartInterval = 5;
    return oracle::Encode(o);
}

std::vector<oracle::Plane> DecodeWith(Decoder &dec, const std::vector<uint8_t> &jpeg) {
    oracle::FrameInfo info = oracle::ReadFrameInfo(jpeg);
    harness::OutputPlanes out(info, 1);
    EXPECT_EQ(harness::DecodeBands(dec, info, 1, out, 16), 0u);
    EXPECT_TRUE(out.GuardsIntact());
    return out.Extract();
}

TEST(DecoderHost, HostAllocatorGetsEveryBlockBack) {
  for (bool progressive : {false, true}) {
    std::vector<uint8_t> jpeg = HostJpeg(120, 90, progressive);
    harness::Decoded reference = harness::DecodeImage(jpeg, 1);
    CountingAllocator allocator;
    {
        Decoder dec(jpeg, WithAllocator(&allocator));
        ASSERT_EQ(dec.created(), 0u);
        harness::ExpectSamePlanes(DecodeWith(dec, jpeg), reference.planes);
        EXPECT_GT(allocator.allocations, 5);
    }
    EXPECT_EQ(allocator.frees, allocator.allocations);
    EXPECT_TRUE(allocator.live.empty());
  }
}

TEST(DecoderHost, RefusingAllocatorFallsBackToTheHeap) {
    std::vector<uint8_t> jpeg = HostJpeg();
    harness::Decoded reference = harness::DecodeImage(jpeg, 1);
    CountingAllocator allocator;
    allocator.refuse = true;
    Decoder dec(jpeg, WithAllocator(&allocator));
    ASSERT_EQ(dec.created(), 0u);
    harness::ExpectSamePlanes(DecodeWith(dec, jpeg), reference.planes);
    EXPECT_EQ(allocator.allocations, 0);
}

TEST(DecoderHost, FailedCreationReleasesEverything) {
    std::vector<uint8_t> jpeg = HostJpeg();
    jpeg[oracle::FindMarker(jpeg, 0xC0) + 1] = 0xC3;
    CountingAllocator allocator;
    {
        Decoder dec(jpeg, WithAllocator(&allocator));
        EXPECT_EQ(dec.created(), VLTJPG_ERR_UNSUPPORTED);
        EXPECT_EQ(dec.handle(), nullptr);
    }
    EXPECT_GT(allocator.allocations, 0);
    EXPECT_TRUE(allocator.live.empty());
}

// Progressive scans take turns on the stream through its seeks.
TEST(DecoderHost, PlatformMemoryStream) {
  for (bool progressive : {false, true}) {
    std::vector<uint8_t> jpeg = HostJpeg(120, 90, progressive);
    harness::Decoded reference = harness::DecodeImage(jpeg, 1);
    MemoryStream stream(jpeg);
    vltJpgDecoderParams params{};
    params.stream = stream.get();
    vltJpgDecoder handle = nullptr;
    ASSERT_EQ(vltJpgDecoderCreate(&handle, &params), 0u);
    oracle::FrameInfo info = oracle::ReadFrameInfo(jpeg);
    harness::OutputPlanes out(info, 1);
    harness::PlanePointers p = out.Origins();
    int32_t lines = info.height;
    EXPECT_EQ(vltJpgDecoderScanlines(handle, p.planes, p.pitches, nullptr, &lines), 0u);
    EXPECT_EQ(lines, info.height);
    EXPECT_EQ(vltJpgDecoderDestroy(handle), 0u);
    harness::ExpectSamePlanes(out.Extract(), reference.planes);
  }
}

TEST(DecoderHost, ChunkSizesGiveTheSameImage) {
    std::vector<uint8_t> jpeg = HostJpeg();
    harness::Decoded reference = harness::DecodeImage(jpeg, 1);
    for (uint32_t chunk : {256u, 300u, 1000u, 65536u}) {
        Decoder dec(jpeg, chunk);
        ASSERT_EQ(dec.created(), 0u) << chunk;
        harness::ExpectSamePlanes(DecodeWith(dec, jpeg), reference.planes);
    }
    for (uint32_t chunk : {1u, 200u}) {
        Decoder dec(jpeg, chunk);
        EXPECT_EQ(dec.created(), VLTJPG_ERR_ARGUMENT) << chunk;
    }
}

// The JPEG starts 1000 bytes into the stream: a rewind must seek to the
// scan data inside the stream, not to the same offset from its start.
TEST(DecoderHost, JpegAtAnOffsetInTheStream) {
    std::vector<uint8_t> jpeg = HostJpeg(200, 160);
    harness::Decoded reference = harness::DecodeImage(jpeg, 1);
    std::vector<uint8_t> stream(1000 + jpeg.size(), 0x5A);
    std::copy(jpeg.begin(), jpeg.end(), stream.begin() + 1000);
    vltJpgDecoderParams params{};
    params.chunkSize = 256;
    Decoder dec(stream, params, 1000);
    ASSERT_EQ(dec.created(), 0u);
    oracle::FrameInfo info = oracle::ReadFrameInfo(jpeg);
    harness::ExpectSamePlanes(DecodeWith(dec, jpeg), reference.planes);

    int32_t columns, rows;
    dec.GetPair(VLTJPG_DECPROP_MCU_GRID, &columns, &rows);
    harness::OutputPlanes out(info, 1);
    harness::PlanePointers p = out.Origins();
    vltJpgPlaneSet set = p.set();
    vltJpgDecoderRequest request{VLTJPG_REQUEST_SAMPLES, columns * rows, 0, 0, &set};
    int seeks = dec.stream().seeks;
    ASSERT_EQ(vltJpgDecoderReadMCUs(dec.handle(), &request), 0u);
    EXPECT_GT(dec.stream().seeks, seeks);
    harness::ExpectSamePlanes(out.Extract(), reference.planes);
}

TEST(DecoderHost, RewindOnAnUnseekableStreamFails) {
    std::vector<uint8_t> jpeg = HostJpeg(200, 160);
    vltJpgDecoderParams params{};
    params.chunkSize = 256;
    Decoder dec(jpeg, params);
    ASSERT_EQ(dec.created(), 0u);
    DecodeWith(dec, jpeg);
    dec.stream().seekable = false;
    oracle::FrameInfo info = oracle::ReadFrameInfo(jpeg);
    harness::OutputPlanes out(info, 1);
    harness::PlanePointers p = out.Origins();
    vltJpgPlaneSet set = p.set();
    vltJpgDecoderRequest request{VLTJPG_REQUEST_SAMPLES, 1, 0, 0, &set};
    EXPECT_EQ(vltJpgDecoderReadMCUs(dec.handle(), &request), VLTJPG_ERR_DATA);
}

TEST(DecoderHost, DefaultScanlinesDecodesAnotherStream) {
    std::vector<uint8_t> first = HostJpeg();
    EncodeOptions o;
    o.width = 120;
    o.height = 90;
    o.seed = 99;
    o.quality = 70;
    std::vector<uint8_t> second = oracle::Encode(o);
    harness::Decoded reference = harness::DecodeImage(second, 1);

    Decoder dec(first);
    ASSERT_EQ(dec.created(), 0u);
    DecodeWith(dec, first);

    oracle::FrameInfo info = oracle::ReadFrameInfo(second);
    harness::OutputPlanes out(info, 1);
    harness::PlanePointers p = out.Origins();
    harness::VectorStream other;
    other.data = second;
    other.position = 2; // past its SOI: the decoder has seen one already
    int32_t lines = info.height;
    ASSERT_EQ(vltJpgDecoderDefaultScanlines(dec.handle(), p.planes, p.pitches, nullptr, &lines, &other),
              0u);
    EXPECT_EQ(lines, info.height);
    harness::ExpectSamePlanes(out.Extract(), reference.planes);

    harness::VectorStream withSoi;
    withSoi.data = second;
    EXPECT_EQ(vltJpgDecoderDefaultScanlines(dec.handle(), p.planes, p.pitches, nullptr, &lines,
                                            &withSoi),
              VLTJPG_ERR_DATA);
    EXPECT_EQ(vltJpgDecoderDefaultScanlines(dec.handle(), p.planes, p.pitches, nullptr, &lines,
                                            nullptr),
              VLTJPG_ERR_ARGUMENT);
}

// Tables persist from one stream to the next, but a table that neither
// stream defined is refused before any data is decoded.
TEST(DecoderHost, DefaultScanlinesRefusesUndefinedTables) {
    EncodeOptions o;
    o.width = 32;
    o.height = 16;
    o.components = 1; // grey images define DC and AC table 0 only
    std::vector<uint8_t> first = oracle::Encode(o);
    Decoder dec(first);
    ASSERT_EQ(dec.created(), 0u);
    std::vector<uint8_t> second = oracle::Encode(o);
    second[oracle::FindMarker(second, 0xDA) + 6] = 0x01; // AC table 1
    harness::VectorStream other;
    other.data = second;
    other.position = 2;
    std::vector<uint8_t> plane(32 * 16, 0xA5);
    uint8_t *planes[3] = {plane.data(), nullptr, nullptr};
    int32_t pitches[3] = {32, 0, 0};
    int32_t lines = 16;
    EXPECT_EQ(vltJpgDecoderDefaultScanlines(dec.handle(), planes, pitches, nullptr, &lines, &other),
              VLTJPG_ERR_DATA);
    EXPECT_EQ(plane[0], 0xA5);
}

struct ProgressLog {
    std::vector<uint32_t> percents;
    size_t cancelAfter = 1000;
    static uint32_t Callback(uint32_t percent, void *context) {
        auto *self = static_cast<ProgressLog *>(context);
        self->percents.push_back(percent);
        return self->percents.size() >= self->cancelAfter ? 1 : 0;
    }
};

uint32_t DecodeBand(Decoder &dec, harness::OutputPlanes &out, int32_t *lines) {
    harness::PlanePointers p = out.Origins();
    return vltJpgDecoderScanlines(dec.handle(), p.planes, p.pitches, nullptr, lines);
}

TEST(DecoderHost, ProgressPerMcuRowAndCancellation) {
  for (bool progressive : {false, true}) {
    std::vector<uint8_t> jpeg = HostJpeg(64, 80, progressive); // 5 MCU rows
    oracle::FrameInfo info = oracle::ReadFrameInfo(jpeg);
    ProgressLog log;
    Decoder dec(jpeg);
    ASSERT_EQ(dec.created(), 0u);
    vltJpgDecProgress progress{ProgressLog::Callback, &log};
    ASSERT_EQ(vltJpgDecoderSetProp(dec.handle(), VLTJPG_DECPROP_PROGRESS, &progress,
                                   sizeof(progress)),
              0u);
    harness::OutputPlanes out(info, 1);
    int32_t lines = 80;
    ASSERT_EQ(DecodeBand(dec, out, &lines), 0u);
    EXPECT_EQ(log.percents, (std::vector<uint32_t>{20, 40, 60, 80}));

    Decoder cancelled(jpeg);
    ProgressLog stopper;
    stopper.cancelAfter = 2;
    vltJpgDecProgress stop{ProgressLog::Callback, &stopper};
    vltJpgDecoderSetProp(cancelled.handle(), VLTJPG_DECPROP_PROGRESS, &stop, sizeof(stop));
    harness::OutputPlanes partial(info, 1);
    lines = 80;
    EXPECT_EQ(DecodeBand(cancelled, partial, &lines), VLTJPG_ERR_CANCELLED);
    EXPECT_EQ(stopper.percents.size(), 2u);
    EXPECT_TRUE(partial.GuardsIntact());

    vltJpgDecProgress none{nullptr, nullptr};
    EXPECT_EQ(vltJpgDecoderSetProp(dec.handle(), VLTJPG_DECPROP_PROGRESS, &none, 4),
              VLTJPG_ERR_ARGUMENT);
  }
}

TEST(DecoderHost, StreamPropertyReplacesTheStream) {
    std::vector<uint8_t> jpeg = HostJpeg();
    harness::Decoded reference = harness::DecodeImage(jpeg, 1);
    Decoder dec(jpeg, 256);
    ASSERT_EQ(dec.created(), 0u);
    harness::VectorStream copy;
    copy.data = jpeg;
    copy.position = dec.stream().position;
    void *handle = &copy;
    ASSERT_EQ(vltJpgDecoderSetProp(dec.handle(), VLTJPG_DECPROP_STREAM, &handle, sizeof(handle)),
              0u);
    int reads = dec.stream().reads;
    harness::ExpectSamePlanes(DecodeWith(dec, jpeg), reference.planes);
    EXPECT_EQ(dec.stream().reads, reads);
    EXPECT_GT(copy.reads, 0);
}

} // namespace
