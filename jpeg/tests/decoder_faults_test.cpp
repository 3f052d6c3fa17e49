// Fault injection into the decoder: every allocation and every stream
// operation that a baseline, progressive, index-importing or MCU-run
// decode reaches fails in turn. Each failure gives a documented code,
// leaks nothing and writes nothing outside the planes; a baseline decode
// cut short by a read shows decoded or grey blocks only.
#include "decoder_harness.h"
#include "fault_injection.h"
#include "index_support.h"
#include "jpeg_oracle.h"

#include <gtest/gtest.h>

namespace {

using harness::Decoded;
using harness::Decoder;

const std::vector<uint32_t> kDecoderCodes = {VLTJPG_ERR_MEMORY, VLTJPG_ERR_DATA};

std::vector<uint8_t> SmallJpeg(bool progressive, int restartInterval = 0) {
    oracle::EncodeOptions options;
    options.width = 80;
    options.height = 48;
    options.progressive = progressive;
    options.restartInterval = restartInterval;
    return oracle::Encode(options);
}

// Host callbacks (with the heap behind them) and small reads, so that
// creation, tables and refills all meet failures.
vltJpgDecoderParams FaultParams(harness::CountingAllocator *allocator) {
    vltJpgDecoderParams params = harness::WithAllocator(allocator);
    params.chunkSize = 256;
    return params;
}

// A decoder over `jpeg` whose samples `read(decoder, frame, planes)`
// fetches into full-size planes.
template <typename Read> Decoded DecodeWith(const std::vector<uint8_t> &jpeg, Read read) {
    oracle::FrameInfo info = oracle::ReadFrameInfo(jpeg);
    harness::CountingAllocator allocator;
    Decoder dec(jpeg, FaultParams(&allocator));
    Decoded out;
    out.result = dec.created();
    if (out.result != 0)
        return out;
    harness::OutputPlanes planes(info, 1);
    out.result = read(dec, info, planes);
    out.guardsIntact = planes.GuardsIntact();
    out.planes = planes.Extract();
    return out;
}

Decoded DecodeInBands(const std::vector<uint8_t> &jpeg) {
    return DecodeWith(jpeg, [](Decoder &dec, const oracle::FrameInfo &info,
                               harness::OutputPlanes &planes) {
        return harness::DecodeBands(dec, info, 1, planes, 8);
    });
}

bool GreyBlock(const oracle::Plane &plane, int bx, int by) {
    for (int y = by; y < std::min(by + 8, plane.height); ++y)
        for (int x = bx; x < std::min(bx + 8, plane.width); ++x)
            if (plane.at(x, y) != 128)
                return false;
    return true;
}

bool SameBlock(const oracle::Plane &a, const oracle::Plane &b, int bx, int by) {
    for (int y = by; y < std::min(by + 8, a.height); ++y)
        for (int x = bx; x < std::min(bx + 8, a.width); ++x)
            if (a.at(x, y) != b.at(x, y))
                return false;
    return true;
}

// Blocks that are neither the clean decode's nor grey: only the block the
// data ran out in may be one.
int GarbageBlocks(const Decoded &clean, const Decoded &faulty) {
    int garbage = 0;
    for (size_t c = 0; c < clean.planes.size(); ++c) {
        const oracle::Plane &plane = faulty.planes[c];
        for (int by = 0; by < plane.height; by += 8)
            for (int bx = 0; bx < plane.width; bx += 8)
                garbage += !SameBlock(clean.planes[c], plane, bx, by) && !GreyBlock(plane, bx, by);
    }
    return garbage;
}

void ExpectGuards(const Decoded &, const Decoded &faulty) { EXPECT_TRUE(faulty.guardsIntact); }

TEST(DecoderFaults, BaselineBands) {
    std::vector<uint8_t> jpeg = SmallJpeg(false);
    int points = fault::Sweep([&] { return DecodeInBands(jpeg); }, kDecoderCodes,
                              [](const Decoded &clean, const Decoded &faulty) {
                                  ExpectGuards(clean, faulty);
                                  if (faulty.result == 0) {
                                      EXPECT_LE(GarbageBlocks(clean, faulty), 1);
                                  }
                              });
    EXPECT_GT(points, 10);
}

TEST(DecoderFaults, ProgressiveBands) {
    std::vector<uint8_t> jpeg = SmallJpeg(true);
    fault::Sweep([&] { return DecodeInBands(jpeg); }, kDecoderCodes, ExpectGuards);
}

// An index built by one decoder and imported into another, then MCU runs
// in random order through it.
Decoded RunsThroughImportedIndex(const std::vector<uint8_t> &jpeg) {
    oracle::FrameInfo info = oracle::ReadFrameInfo(jpeg);
    harness::CountingAllocator allocator;
    vltJpgDecoderParams params = FaultParams(&allocator);
    params.indexInterval = 2;
    Decoded out;
    std::vector<uint8_t> block;
    {
        Decoder builder(jpeg, params);
        int32_t unused = 0;
        out.result = builder.created() ? builder.created()
                                       : vltJpgDecoderGetProp(builder.handle(),
                                                              VLTJPG_DECPROP_BUILD_INDEX,
                                                              &unused, 0);
        if (out.result != 0)
            return out;
        block = index_support::ExportBlock(builder);
    }
    params.indexInterval = 0;
    Decoder reader(jpeg, params);
    out.result = reader.created() ? reader.created() : index_support::Import(reader, block);
    if (out.result != 0)
        return out;
    harness::OutputPlanes planes(info, 1);
    out.result = index_support::ReadInRandomRuns(reader, info, 0, planes, 7);
    out.guardsIntact = planes.GuardsIntact();
    return out;
}

// A build cut short by a read indexes only the data it saw; the importer,
// which sees the whole file, may refuse such a block (0x8008).
TEST(DecoderFaults, IndexImportAndRuns) {
    std::vector<uint8_t> jpeg = SmallJpeg(false, 2);
    std::vector<uint32_t> codes = kDecoderCodes;
    codes.push_back(VLTJPG_ERR_UNSUPPORTED);
    fault::Sweep([&] { return RunsThroughImportedIndex(jpeg); }, codes, ExpectGuards);
}

// MCU runs in random order without an index: every run rewinds and skips.
TEST(DecoderFaults, ReadMcus) {
    std::vector<uint8_t> jpeg = SmallJpeg(false);
    auto runs = [&] {
        return DecodeWith(jpeg, [](Decoder &dec, const oracle::FrameInfo &info,
                                   harness::OutputPlanes &planes) {
            return index_support::ReadInRandomRuns(dec, info, 0, planes, 3);
        });
    };
    fault::Sweep(runs, kDecoderCodes, ExpectGuards);
}

} // namespace
