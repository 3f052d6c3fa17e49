// Random-access index: recorded, built, exported and imported blocks give
// MCU runs in any order equal to a full decode; hostile blocks are refused.
#include "decoder_harness.h"
#include "index_support.h"
#include "jpeg_oracle.h"
#include "qvjpeg.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>

namespace {

using harness::Decoder;
using namespace index_support;

struct Sweep {
    oracle::Sampling sampling;
    int components;
};

const Sweep kSweeps[] = {
    {oracle::Sampling420(), 3}, {oracle::Sampling422(), 3}, {oracle::Sampling440(), 3},
    {oracle::Sampling444(), 3}, {oracle::Sampling444(), 1}, {oracle::Sampling411(), 3},
};

std::vector<uint8_t> MakeJpeg(const Sweep &sweep, int restartInterval, int restartRows) {
    oracle::EncodeOptions o;
    o.width = 83;
    o.height = 45;
    o.sampling = sweep.sampling;
    o.components = sweep.components;
    o.restartInterval = restartInterval;
    o.restartRows = restartRows;
    o.content = oracle::Content::kNoise; // long codes, many stuffed bytes
    return oracle::Encode(o);
}

vltJpgDecoderParams WithInterval(uint32_t interval) {
    vltJpgDecoderParams params{};
    params.indexInterval = interval;
    params.chunkSize = 256; // many refills and seeks outside the buffer
    return params;
}

// Every sampling layout, restart layout and interval, the scales in turn:
// runs read without an index, with the index recorded while decoding in
// order, and with the built block imported into a decoder whose JPEG data
// starts 100 bytes into its stream.
TEST(DecoderIndex, RandomRunsEqualAFullDecode) {
    const int scales[] = {1, 2, 4, 8};
    int turn = 0;
    for (const Sweep &sweep : kSweeps) {
        for (auto [restartInterval, restartRows] : {std::pair{0, 0}, {1, 0}, {5, 0}, {0, 1}}) {
            std::vector<uint8_t> jpeg = MakeJpeg(sweep, restartInterval, restartRows);
            oracle::FrameInfo info = oracle::ReadFrameInfo(jpeg);
            std::vector<uint8_t> shifted(100 + jpeg.size(), 0xFF);
            std::copy(jpeg.begin(), jpeg.end(), shifted.begin() + 100);
            for (uint32_t interval : {1u, 3u, 40u}) {
                int scale = scales[turn++ % 4];
                SCOPED_TRACE(oracle::Describe(sweep.sampling, sweep.components) + " restart " +
                             std::to_string(restartInterval) + "/" + std::to_string(restartRows) +
                             " interval " + std::to_string(interval) + " scale " +
                             std::to_string(scale));
                harness::Decoded reference = harness::DecodeImage(jpeg, scale);
                ASSERT_EQ(reference.result, 0u);

                Decoder inOrder(jpeg, WithInterval(interval));
                ASSERT_EQ(inOrder.created(), 0u);
                harness::OutputPlanes full(info, 1);
                ASSERT_EQ(harness::DecodeBands(inOrder, info, 1, full, 16), 0u);
                Decoder built(jpeg, WithInterval(interval));
                int32_t unused = 0;
                ASSERT_EQ(vltJpgDecoderGetProp(built.handle(), VLTJPG_DECPROP_BUILD_INDEX,
                                               &unused, 0),
                          0u);
                std::vector<uint8_t> block = ExportBlock(built);
                ASSERT_EQ(ExportBlock(inOrder), block);
                EXPECT_EQ(WordAt(block, 16), oracle::ScanDataOffset(jpeg) * 8);

                Decoder imported(shifted, WithInterval(0), 100);
                ASSERT_EQ(Import(imported, block), 0u);
                vltJpgDecIndexBlock none{};
                EXPECT_EQ(vltJpgDecoderGetProp(imported.handle(), VLTJPG_DECPROP_INDEX, &none,
                                               sizeof none),
                          VLTJPG_ERR_NO_INDEX);

                Decoder plain(jpeg, WithInterval(0).chunkSize);
                for (Decoder *dec : {&plain, &inOrder, &built, &imported})
                    ExpectRandomRunsMatch(*dec, info, scale, reference, interval + turn);
                // The index spares the rewinds to the data start.
                EXPECT_LT(imported.stream().reads, plain.stream().reads);
            }
        }
    }
}

// Each alteration of a valid block is refused with 0x8008 and leaves the
// decoder's own index in place and usable.
TEST(DecoderIndex, HostileBlocksAreRefused) {
    std::vector<uint8_t> jpeg = MakeJpeg(kSweeps[0], 2, 0);
    oracle::FrameInfo info = oracle::ReadFrameInfo(jpeg);
    harness::Decoded reference = harness::DecodeImage(jpeg, 1);
    Decoder source(jpeg, WithInterval(2));
    int32_t unused = 0;
    ASSERT_EQ(vltJpgDecoderGetProp(source.handle(), VLTJPG_DECPROP_BUILD_INDEX, &unused, 4), 0u);
    const std::vector<uint8_t> valid = ExportBlock(source);
    const size_t entries = WordAt(valid, 8);
    auto setWord = [](std::vector<uint8_t> &b, size_t at, uint32_t v) {
        std::memcpy(&b[at], &v, 4);
    };
    const std::function<void(std::vector<uint8_t> &)> alterations[] = {
        [&](auto &b) { b[0] ^= 1; },                          // magic
        [&](auto &b) { setWord(b, 4, 0); },                   // interval 0
        [&](auto &b) { setWord(b, 4, 3); },                   // another interval
        [&](auto &b) { setWord(b, 8, WordAt(b, 8) + 1); },    // entry count
        [&](auto &b) { setWord(b, 12, WordAt(b, 12) - 1); },  // DC value count
        [&](auto &b) { b.pop_back(); },                       // truncated
        [&](auto &b) { b.push_back(0); },                     // too long
        [&](auto &b) { b.resize(8); },                        // header cut
        [&](auto &b) { setWord(b, 16, WordAt(b, 16) + 8); },  // entry 0 off the data start
        [&](auto &b) { std::swap_ranges(&b[20], &b[24], &b[28]); }, // offsets shuffled
        [&](auto &b) { setWord(b, 16 + 4 * (entries - 1), 0x7FFFFFF0); }, // past the stream
        [&](auto &b) { setWord(b, 16 + 4 * (entries / 2), 0); }, // a gap before recorded entries
    };
    Decoder target(jpeg, WithInterval(5));
    const std::vector<uint8_t> own = ExportBlock(target);
    for (size_t i = 0; i < std::size(alterations); ++i) {
        SCOPED_TRACE("alteration " + std::to_string(i));
        std::vector<uint8_t> block = valid;
        alterations[i](block);
        EXPECT_EQ(Import(target, block), VLTJPG_ERR_UNSUPPORTED);
        EXPECT_EQ(ExportBlock(target), own);
    }
    vltJpgDecIndexBlock null{static_cast<uint32_t>(valid.size()), nullptr};
    EXPECT_EQ(vltJpgDecoderSetProp(target.handle(), VLTJPG_DECPROP_INDEX, &null, sizeof null),
              VLTJPG_ERR_ARGUMENT);
    EXPECT_EQ(vltJpgDecoderSetProp(target.handle(), VLTJPG_DECPROP_INDEX, &null, 4),
              VLTJPG_ERR_ARGUMENT);
    ExpectRandomRunsMatch(target, info, 1, reference, 7);

    // Offsets that pass the checks but point at the wrong bits only spoil
    // the samples.
    std::vector<uint8_t> skewed = valid;
    for (size_t e = 1; e < entries; ++e)
        setWord(skewed, 16 + 4 * e, WordAt(valid, 16 + 4 * e) + static_cast<uint32_t>(e % 7));
    Decoder victim(jpeg);
    ASSERT_EQ(Import(victim, skewed), 0u);
    harness::OutputPlanes out(info, 1);
    ReadInRandomRuns(victim, info, 0, out, 3);
    EXPECT_TRUE(out.GuardsIntact());
}

// Another image through vltJpgDecoderDefaultScanlines is indexed afresh,
// its offsets counted from where its stream stood (past its SOI).
TEST(DecoderIndex, AnotherImageIsIndexedAfresh) {
    oracle::EncodeOptions o;
    std::vector<uint8_t> first = oracle::Encode(o);
    o.content = oracle::Content::kNoise;
    harness::VectorStream second;
    second.data = oracle::Encode(o);
    second.position = 2;
    oracle::FrameInfo info = oracle::ReadFrameInfo(first);
    Decoder dec(first, WithInterval(2));
    harness::OutputPlanes out(info, 1);
    ASSERT_EQ(harness::DecodeBands(dec, info, 1, out), 0u);
    harness::PlanePointers t = out.Origins();
    int32_t lines = info.height;
    ASSERT_EQ(vltJpgDecoderDefaultScanlines(dec.handle(), t.planes, t.pitches, nullptr, &lines,
                                            &second),
              0u);
    Decoder fresh(second.data, WithInterval(2));
    int32_t unused = 0;
    ASSERT_EQ(vltJpgDecoderGetProp(fresh.handle(), VLTJPG_DECPROP_BUILD_INDEX, &unused, 4), 0u);
    std::vector<uint8_t> got = ExportBlock(dec);
    std::vector<uint8_t> expected = ExportBlock(fresh);
    ASSERT_EQ(got.size(), expected.size());
    const size_t entries = WordAt(expected, 8);
    for (size_t e = 0; e < entries; ++e)
        ASSERT_EQ(WordAt(got, 16 + 4 * e) + 16, WordAt(expected, 16 + 4 * e)) << "entry " << e;
    EXPECT_TRUE(std::equal(got.begin() + 16 + 4 * entries, got.end(),
                           expected.begin() + 16 + 4 * entries));
}

TEST(DecoderIndex, BuildNeedsAnIndex) {
    Decoder dec(MakeJpeg(kSweeps[0], 0, 0));
    int32_t unused = 0;
    EXPECT_EQ(vltJpgDecoderGetProp(dec.handle(), VLTJPG_DECPROP_BUILD_INDEX, &unused, 4),
              VLTJPG_ERR_ARGUMENT);
    vltJpgDecIndexBlock block{};
    EXPECT_EQ(vltJpgDecoderGetProp(dec.handle(), VLTJPG_DECPROP_INDEX, &block, sizeof block),
              VLTJPG_ERR_NO_INDEX);
}

} // namespace
