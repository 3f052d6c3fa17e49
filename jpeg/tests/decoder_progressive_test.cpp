// Progressive and multi-scan decoding against libjpeg-turbo, which writes
// the files from scan scripts: coefficients must equal libjpeg's, samples at
// every scale must equal our own decode of the same coefficients coded as
// one baseline scan, and full-size samples must be close to libjpeg's.
#include "decoder_harness.h"
#include "jpeg_oracle.h"
#include "qvjpeg.h"

#include <gtest/gtest.h>

#include <algorithm>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QV_TEST_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define QV_TEST_ASAN 1
#endif
#ifdef QV_TEST_ASAN
#include <sanitizer/allocator_interface.h>
#else
#include <malloc.h>
#endif

namespace {

using harness::Decoder;
using oracle::EncodeOptions;
using oracle::ScanSpec;

struct Case {
    const char *name;
    EncodeOptions options;
};

EncodeOptions Options(oracle::Sampling sampling, int components, int width, int height) {
    EncodeOptions o;
    o.width = width;
    o.height = height;
    o.sampling = sampling;
    o.components = components;
    return o;
}

EncodeOptions WithScans(EncodeOptions o, std::vector<ScanSpec> scans) {
    o.scans = std::move(scans);
    return o;
}

EncodeOptions Progressive(EncodeOptions o, int restartInterval = 0, int restartRows = 0) {
    o.progressive = true;
    o.restartInterval = restartInterval;
    o.restartRows = restartRows;
    return o;
}

std::vector<Case> Cases() {
    const auto s420 = oracle::Sampling420();
    std::vector<Case> cases = {
        {"simple 4:2:0", Progressive(Options(s420, 3, 57, 43))},
        {"simple 4:2:2", Progressive(Options(oracle::Sampling422(), 3, 33, 31))},
        {"simple 4:4:0", Progressive(Options(oracle::Sampling440(), 3, 31, 33))},
        {"simple 4:4:4", Progressive(Options(oracle::Sampling444(), 3, 17, 9))},
        {"simple grey", Progressive(Options(s420, 1, 41, 23))},
        {"simple 4:1:1", Progressive(Options(oracle::Sampling411(), 3, 70, 19))},
        {"simple 2x2,1x2,1x2", Progressive(Options(oracle::Sampling22_12_12(), 3, 35, 37))},
        {"simple 1x2,1x1,1x1", Progressive(Options(oracle::Sampling12_11_11(), 3, 15, 47))},
        {"restart every MCU", Progressive(Options(s420, 3, 50, 40), 1)},
        {"restart every 7", Progressive(Options(oracle::Sampling422(), 3, 90, 30), 7)},
        {"restart per row", Progressive(Options(s420, 3, 100, 64), 0, 1)},
        {"spectral selection only",
         WithScans(Options(s420, 3, 45, 29), {{{0, 1, 2}, 0, 0, 0, 0},
                                              {{0}, 1, 5, 0, 0},
                                              {{2}, 1, 63, 0, 0},
                                              {{0}, 6, 63, 0, 0},
                                              {{1}, 1, 63, 0, 0}})},
        {"successive approximation",
         WithScans(Options(s420, 3, 48, 40), {{{0, 1, 2}, 0, 0, 0, 3},
                                              {{0}, 1, 63, 0, 3},
                                              {{1}, 1, 63, 0, 2},
                                              {{2}, 1, 63, 0, 2},
                                              {{0, 1, 2}, 0, 0, 3, 2},
                                              {{0}, 1, 63, 3, 2},
                                              {{0, 1, 2}, 0, 0, 2, 1},
                                              {{0}, 1, 63, 2, 1},
                                              {{1}, 1, 63, 2, 1},
                                              {{2}, 1, 63, 2, 1},
                                              {{0}, 1, 63, 1, 0},
                                              {{0, 1, 2}, 0, 0, 1, 0},
                                              {{2}, 1, 63, 1, 0},
                                              {{1}, 1, 63, 1, 0}})},
        {"DC split by component, AC out of order",
         WithScans(Options(s420, 3, 39, 21), {{{2}, 0, 0, 0, 1},
                                              {{0}, 0, 0, 0, 1},
                                              {{2}, 20, 63, 0, 0},
                                              {{1}, 0, 0, 0, 0},
                                              {{0}, 30, 63, 0, 1},
                                              {{0}, 1, 29, 0, 0},
                                              {{2}, 1, 19, 0, 0},
                                              {{0, 2}, 0, 0, 1, 0},
                                              {{0}, 30, 63, 1, 0},
                                              {{1}, 1, 63, 0, 0}})},
        {"sequential, one component per scan",
         WithScans(Options(s420, 3, 37, 27), {{{0}}, {{1}}, {{2}}})},
        {"sequential, Y then CbCr", WithScans(Options(s420, 3, 33, 17), {{{0}}, {{1, 2}}})},
        {"sequential, CbCr then Y, restarts",
         WithScans(Options(oracle::Sampling422(), 3, 41, 35), {{{1, 2}}, {{0}}})},
    };
    cases.back().options.restartInterval = 2;
    cases[4].options.content = oracle::Content::kNoise;
    return cases;
}

void ExpectSameAsBaseline(const std::vector<uint8_t> &jpeg, const std::vector<uint8_t> &baseline,
                          int denominator, int bandLines) {
    harness::Decoded ours = harness::DecodeImage(jpeg, denominator, bandLines);
    harness::Decoded want = harness::DecodeImage(baseline, denominator);
    ASSERT_EQ(ours.result, 0u);
    ASSERT_EQ(want.result, 0u);
    EXPECT_TRUE(ours.guardsIntact);
    harness::ExpectSamePlanes(ours.planes, want.planes);
}

TEST(DecoderProgressive, MatchesLibjpegCoefficientsAndBaselineSamples) {
    for (const Case &c : Cases()) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> jpeg = oracle::Encode(c.options);
        Decoder dec(jpeg);
        ASSERT_EQ(dec.created(), 0u);
        EXPECT_NE(dec.GetWord(VLTJPG_DECPROP_MULTISCAN), 0);
        harness::ExpectCoefficientsMatch(jpeg);
        std::vector<uint8_t> baseline = oracle::TranscodeToBaseline(jpeg);
        oracle::FrameInfo info = oracle::ReadFrameInfo(jpeg);
        for (int denominator : {1, 2, 4, 8}) {
            SCOPED_TRACE(denominator);
            // One call, and bands of one MCU row.
            ExpectSameAsBaseline(jpeg, baseline, denominator, 0);
            ExpectSameAsBaseline(jpeg, baseline, denominator, 8 * info.maxV);
        }
        std::vector<oracle::Plane> want = oracle::DecodeRaw(jpeg, 1);
        harness::Decoded full = harness::DecodeImage(jpeg, 1);
        for (size_t p = 0; p < want.size(); ++p)
            EXPECT_LE(oracle::Compare(full.planes[p], want[p]).maxDiff, 12) << "plane " << p;
    }
}

// The byte after the segment whose marker is at `at`.
size_t SegmentEnd(const std::vector<uint8_t> &jpeg, size_t at) {
    return at + 2 + ((static_cast<size_t>(jpeg[at + 2]) << 8) | jpeg[at + 3]);
}

// Entropy-coded data ends at a marker other than RSTn.
bool EndsScanData(const std::vector<uint8_t> &jpeg, size_t at) {
    return jpeg[at] == 0xFF && jpeg[at + 1] != 0 && (jpeg[at + 1] & 0xF8) != 0xD0;
}

// Offsets of the SOS markers of a file, found by walking its segments
// (table bytes may look like markers) and passing over entropy-coded data.
std::vector<size_t> ScanOffsets(const std::vector<uint8_t> &jpeg) {
    std::vector<size_t> offsets;
    size_t at = 2; // after the SOI
    while (at + 3 < jpeg.size() && jpeg[at] == 0xFF) {
        uint8_t code = jpeg[at + 1];
        if (code == 0xD9)
            break;
        if (code == 0xDA)
            offsets.push_back(at);
        at = SegmentEnd(jpeg, at);
        if (code != 0xDA)
            continue;
        while (at + 1 < jpeg.size() && !EndsScanData(jpeg, at))
            ++at;
    }
    return offsets;
}

std::vector<uint8_t> Cut(const std::vector<uint8_t> &jpeg, size_t size) {
    return std::vector<uint8_t>(jpeg.begin(), jpeg.begin() + static_cast<long>(size));
}

// Entropy-coded data of the scan whose SOS is at `sos`: [first, end).
std::pair<size_t, size_t> ScanData(const std::vector<uint8_t> &jpeg, size_t sos) {
    size_t first = SegmentEnd(jpeg, sos);
    size_t end = first;
    while (!EndsScanData(jpeg, end))
        ++end;
    return {first, end};
}

// A download cut before a scan decodes to what the scans before it give,
// as libjpeg decodes the same cut file; cuts inside scans decode without
// harm at every scale.
TEST(DecoderProgressive, CutFilesDecodeTheScansTheyHold) {
    for (const Case &c : {Cases()[0], Cases()[13], Cases()[14]}) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> jpeg = oracle::Encode(c.options);
        std::vector<size_t> scans = ScanOffsets(jpeg);
        ASSERT_GT(scans.size(), 2u);
        for (size_t s = 1; s < scans.size(); ++s) {
            SCOPED_TRACE(s);
            std::vector<uint8_t> cut = Cut(jpeg, scans[s]);
            harness::ExpectCoefficientsMatch(cut);
            std::vector<oracle::Plane> want = oracle::DecodeRaw(cut, 1);
            harness::Decoded ours = harness::DecodeImage(cut, 1);
            ASSERT_EQ(ours.result, 0u);
            for (size_t p = 0; p < want.size(); ++p)
                EXPECT_LE(oracle::Compare(ours.planes[p], want[p]).maxDiff, 12) << "plane " << p;
            size_t data = SegmentEnd(jpeg, scans[s - 1]);
            for (size_t inside : {data + 1, (data + scans[s]) / 2, scans[s] - 1}) {
                for (int denominator : {1, 8}) {
                    harness::Decoded partial = harness::DecodeImage(Cut(jpeg, inside), denominator);
                    EXPECT_EQ(partial.result, 0u) << "cut at " << inside;
                    EXPECT_TRUE(partial.guardsIntact);
                }
            }
        }
    }
}

struct HeaderEdit {
    const char *name;
    size_t scan;   // which SOS
    size_t offset; // from the byte after the SOS marker's 0xFF
    uint8_t value;
    uint32_t created;
};

// A stream callback over a byte vector that cannot seek.
uint32_t Unseekable(uint32_t operation, void *stream, void *argument) {
    if (operation == VLTJPG_STREAM_SEEK)
        return 1;
    return harness::VectorStream::Callback(operation, stream, argument);
}

// Scan headers that break the progression rules or name undefined tables
// the scan needs are refused at creation with 0x8010.
TEST(DecoderProgressive, RefusesBrokenScanHeaders) {
    // libjpeg's simple progression of a 4:2:0 image: scan 0 is the DC of
    // all components at Al 1 (Ns 3: Td/Ta of Y at 5, Ss at 10), scan 1 the
    // Y AC band 1..5 at Al 2 (Ns 1: Td/Ta at 5, Ss, Se, Ah/Al at 6..8),
    // scan 4 the Y band 6..63, scan 6 the DC refinement.
    std::vector<uint8_t> jpeg =
        oracle::Encode(Progressive(Options(oracle::Sampling420(), 3, 32, 32)));
    const HeaderEdit edits[] = {
        {"DC scan with Se 1", 0, 11, 1, VLTJPG_ERR_DATA},
        {"AC band past 63", 1, 7, 64, VLTJPG_ERR_DATA},
        {"AC band reversed", 1, 6, 6, VLTJPG_ERR_DATA},
        {"Al 14", 1, 8, 0x0E, VLTJPG_ERR_DATA},
        {"refinement of nothing", 1, 8, 0x32, VLTJPG_ERR_DATA},
        {"first scan twice", 4, 6, 1, VLTJPG_ERR_DATA},
        {"AC table 3 undefined", 1, 5, 0x03, VLTJPG_ERR_DATA},
        {"DC table 2 undefined", 0, 5, 0x20, VLTJPG_ERR_DATA},
        {"DC refinement needs no table", 6, 5, 0x33, 0},
    };
    std::vector<size_t> scans = ScanOffsets(jpeg);
    for (const HeaderEdit &edit : edits) {
        SCOPED_TRACE(edit.name);
        std::vector<uint8_t> broken = jpeg;
        broken[scans[edit.scan] + 1 + edit.offset] = edit.value;
        Decoder dec(broken);
        EXPECT_EQ(dec.created(), edit.created);
    }
    // A complete file must code every component (a cut one may lack some).
    std::vector<uint8_t> sequential = oracle::Encode(Cases()[14].options);
    size_t lastScan = ScanOffsets(sequential).back();
    std::vector<uint8_t> noCr = sequential;
    noCr.erase(noCr.begin() + static_cast<long>(lastScan),
               noCr.begin() + static_cast<long>(ScanData(sequential, lastScan).second));
    EXPECT_EQ(Decoder(noCr).created(), VLTJPG_ERR_DATA);
    EXPECT_EQ(Decoder(Cut(sequential, lastScan)).created(), 0u);

    // Scans revisit the stream, so one that cannot seek is refused.
    harness::VectorStream stream;
    stream.data = jpeg;
    vltJpgDecoderParams params{};
    params.stream = &stream;
    params.streamCallback = Unseekable;
    vltJpgDecoder handle = nullptr;
    EXPECT_EQ(vltJpgDecoderCreate(&handle, &params), VLTJPG_ERR_DATA);
    EXPECT_EQ(handle, nullptr);
}

// Every byte of every scan header set to values from the edges of its
// range: the decoder refuses the file or decodes it, and writes nothing
// outside the planes.
TEST(DecoderProgressive, DamagedScanHeadersDecodeSafely) {
    std::vector<uint8_t> jpeg = oracle::Encode(Cases()[12].options);
    oracle::FrameInfo info = oracle::ReadFrameInfo(jpeg);
    for (size_t sos : ScanOffsets(jpeg)) {
        size_t end = ScanData(jpeg, sos).first;
        for (size_t at = sos + 4; at < end; ++at) {
            for (uint8_t value : {0x00, 0x01, 0x10, 0x3F, 0x40, 0xFF}) {
                std::vector<uint8_t> damaged = jpeg;
                damaged[at] = value;
                for (int denominator : {1, 8}) {
                    harness::Decoded decoded = harness::DecodeImage(damaged, info, denominator);
                    EXPECT_TRUE(decoded.guardsIntact) << "byte " << at << " value " << int(value);
                }
            }
        }
    }
}

// At 1/8 scale the AC scans are never read: wiping their data changes
// nothing there, while the full-size image changes.
TEST(DecoderProgressive, EighthScaleReadsOnlyTheDcScans) {
    std::vector<uint8_t> jpeg = oracle::Encode(Cases()[13].options);
    std::vector<uint8_t> wiped = jpeg;
    for (size_t sos : ScanOffsets(jpeg)) {
        size_t components = jpeg[sos + 4];
        if (jpeg[sos + 5 + 2 * components] == 0) // Ss: a DC scan
            continue;
        auto [first, end] = ScanData(jpeg, sos);
        std::fill(wiped.begin() + static_cast<long>(first), wiped.begin() + static_cast<long>(end),
                  0x55);
    }
    harness::Decoded intact = harness::DecodeImage(jpeg, 8);
    harness::Decoded eighth = harness::DecodeImage(wiped, 8);
    ASSERT_EQ(eighth.result, 0u);
    harness::ExpectSamePlanes(eighth.planes, intact.planes);
    EXPECT_NE(harness::DecodeImage(wiped, 1).planes[0].samples,
              harness::DecodeImage(jpeg, 1).planes[0].samples);
}

// A scale change from 1/8, whose bands skip the AC scans, to full size goes
// back over the skipped scans: the rest of the image is what a full-size
// decode gives.
TEST(DecoderProgressive, ScaleChangeAfterEighthScaleBands) {
    std::vector<uint8_t> jpeg = oracle::Encode(Cases()[0].options); // 57x43, MCU rows of 16
    oracle::FrameInfo info = oracle::ReadFrameInfo(jpeg);
    Decoder dec(jpeg);
    ASSERT_EQ(dec.created(), 0u);
    ASSERT_EQ(dec.SetScale(8), 0u);
    harness::OutputPlanes eighth(info, 8);
    harness::PlanePointers p = eighth.Origins();
    int32_t lines = 16;
    ASSERT_EQ(vltJpgDecoderScanlines(dec.handle(), p.planes, p.pitches, nullptr, &lines), 0u);
    ASSERT_EQ(dec.SetScale(1), 0u);
    harness::OutputPlanes full(info, 1);
    p = full.Origins();
    for (int c = 0; c < info.components; ++c)
        p.planes[c] += static_cast<size_t>(16 * info.v[c] / info.maxV) * p.pitches[c];
    lines = info.height;
    ASSERT_EQ(vltJpgDecoderScanlines(dec.handle(), p.planes, p.pitches, nullptr, &lines), 0u);
    EXPECT_EQ(lines, info.height - 16);
    EXPECT_TRUE(full.GuardsIntact());
    std::vector<oracle::Plane> rest = full.Extract();
    std::vector<oracle::Plane> want = harness::DecodeImage(jpeg, 1).planes;
    for (int c = 0; c < info.components; ++c) {
        size_t first = static_cast<size_t>(16 * info.v[c] / info.maxV) * want[c].width;
        EXPECT_TRUE(std::equal(want[c].samples.begin() + static_cast<long>(first),
                               want[c].samples.end(),
                               rest[c].samples.begin() + static_cast<long>(first)))
            << "plane " << c;
    }
}

size_t LiveHeapBytes() {
#ifdef QV_TEST_ASAN
    return __sanitizer_get_current_allocated_bytes();
#else
    return mallinfo2().uordblks;
#endif
}

// Heap a decoder takes at creation (decoding allocates nothing more); the
// decoder then decodes the image at 1/8 scale.
size_t DecoderMemory(const std::vector<uint8_t> &jpeg, const oracle::FrameInfo &info) {
    harness::VectorStream stream;
    stream.data = jpeg;
    vltJpgDecoderParams params{};
    params.stream = &stream;
    params.streamCallback = harness::VectorStream::Callback;
    harness::OutputPlanes out(info, 8);
    vltJpgDecoder handle = nullptr;
    size_t before = LiveHeapBytes();
    EXPECT_EQ(vltJpgDecoderCreate(&handle, &params), 0u);
    size_t taken = LiveHeapBytes() - before;
    if (!handle)
        return taken;
    int32_t eight = 8;
    vltJpgDecoderSetProp(handle, VLTJPG_DECPROP_SCALE, &eight, 4);
    harness::PlanePointers p = out.Origins();
    int32_t lines = info.height;
    EXPECT_EQ(vltJpgDecoderScanlines(handle, p.planes, p.pitches, nullptr, &lines), 0u);
    EXPECT_TRUE(out.GuardsIntact());
    vltJpgDecoderDestroy(handle);
    return taken;
}

// Decoder memory of `jpeg` with the frame header's size replaced (libjpeg
// takes no frame over 65500 wide).
size_t MemoryWithFrameSize(std::vector<uint8_t> jpeg, int width, int height) {
    oracle::FrameInfo info = oracle::ReadFrameInfo(jpeg);
    info.width = width;
    info.height = height;
    size_t sof = oracle::FindMarker(jpeg, 0xC2);
    jpeg[sof + 5] = static_cast<uint8_t>(height >> 8);
    jpeg[sof + 6] = static_cast<uint8_t>(height);
    jpeg[sof + 7] = static_cast<uint8_t>(width >> 8);
    jpeg[sof + 8] = static_cast<uint8_t>(width);
    return DecoderMemory(jpeg, info);
}

// One MCU row of coefficients: the memory follows the width, not the
// height, and the widest frame fits in a few megabytes. (The enlarged
// frames lack data: their blocks past it come out grey.)
TEST(DecoderProgressive, MemoryGrowsWithTheWidthOnly) {
    std::vector<uint8_t> jpeg = oracle::Encode(Progressive(Options(oracle::Sampling420(), 3, 200, 16)));
    size_t memory = MemoryWithFrameSize(jpeg, 200, 16);
    // The heap's own bookkeeping varies by a few kilobytes; coefficients of
    // the whole image would take 2.4 MB more.
    EXPECT_NEAR(static_cast<double>(MemoryWithFrameSize(jpeg, 200, 4000)),
                static_cast<double>(memory), 64.0 * 1024);
    EXPECT_LT(MemoryWithFrameSize(jpeg, 65535, 16), memory + (4u << 20));
}

} // namespace
