// Decoder creation, header parsing and properties.
#include "decoder_harness.h"
#include "jpeg_oracle.h"
#include "qvjpeg.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using harness::Decoder;
using oracle::EncodeOptions;

std::vector<uint8_t> Jpeg(int width, int height, oracle::Sampling sampling, int components = 3) {
    EncodeOptions o;
    o.width = width;
    o.height = height;
    o.sampling = sampling;
    o.components = components;
    return oracle::Encode(o);
}

uint32_t CreateResult(const std::vector<uint8_t> &jpeg) {
    Decoder dec(jpeg);
    return dec.created();
}

size_t SofOffset(const std::vector<uint8_t> &jpeg) {
    size_t at = oracle::FindMarker(jpeg, 0xC0);
    return at != std::string::npos ? at : oracle::FindMarker(jpeg, 0xC1);
}

// Byte of component `c` in the frame header: 0 id, 1 factors, 2 table.
size_t FrameComponentByte(const std::vector<uint8_t> &jpeg, int c, int field) {
    return SofOffset(jpeg) + 10 + 3 * c + field;
}

size_t ScanComponentByte(const std::vector<uint8_t> &jpeg, int c, int field) {
    return oracle::FindMarker(jpeg, 0xDA) + 5 + 2 * c + field;
}

// Offset of the spectral selection bytes (Ss, Se, AhAl) of the first scan.
size_t ScanParameterByte(const std::vector<uint8_t> &jpeg, int field) {
    size_t sos = oracle::FindMarker(jpeg, 0xDA);
    int count = jpeg[sos + 4];
    return sos + 5 + 2 * count + field;
}

void ExpectPair(Decoder &dec, uint32_t id, int32_t first, int32_t second) {
    int32_t a, b;
    dec.GetPair(id, &a, &b);
    EXPECT_EQ(a, first) << std::hex << id;
    EXPECT_EQ(b, second) << std::hex << id;
}

TEST(DecoderProperties, Reports420FrameGeometry) {
    Decoder dec(Jpeg(16, 16, oracle::Sampling420()));
    ASSERT_EQ(dec.created(), 0u);
    ExpectPair(dec, VLTJPG_DECPROP_SIZE, 16, 16);
    ExpectPair(dec, VLTJPG_DECPROP_MCU_GRID, 1, 1);
    ExpectPair(dec, VLTJPG_DECPROP_MCU_SIZE, 16, 16);
    ExpectPair(dec, VLTJPG_DECPROP_SUBSAMPLING, 2, 2);
    EXPECT_EQ(dec.GetWord(VLTJPG_DECPROP_BLOCKS_PER_MCU), 6);
    EXPECT_EQ(dec.GetWord(VLTJPG_DECPROP_SAMPLING), 0);
    EXPECT_EQ(dec.GetWord(VLTJPG_DECPROP_MULTISCAN), 0);
    EXPECT_EQ(dec.GetWord(VLTJPG_DECPROP_PRECISION), 8);
    EXPECT_EQ(dec.GetWord(VLTJPG_DECPROP_COMPONENTS), 3);
    EXPECT_EQ(dec.GetWord(VLTJPG_DECPROP_SCALE), 1);
    EXPECT_EQ(dec.GetWord(VLTJPG_DECPROP_RGB), 0);
}

TEST(DecoderProperties, SamplingModeFollowsTheLayout) {
    struct Case {
        oracle::Sampling sampling;
        int components;
        int mode;
        int blocks;
    } cases[] = {
        {oracle::Sampling420(), 3, 0, 6},      {oracle::Sampling422(), 3, 1, 4},
        {oracle::Sampling440(), 3, 2, 4},      {oracle::Sampling444(), 3, 3, 3},
        {oracle::Sampling444(), 1, 4, 1},      {oracle::Sampling411(), 3, 5, 6},
        {oracle::Sampling22_12_12(), 3, 1, 8}, {oracle::Sampling12_11_11(), 3, 2, 4},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(oracle::Describe(c.sampling, c.components));
        Decoder dec(Jpeg(40, 24, c.sampling, c.components));
        ASSERT_EQ(dec.created(), 0u);
        EXPECT_EQ(dec.GetWord(VLTJPG_DECPROP_SAMPLING), c.mode);
        EXPECT_EQ(dec.GetWord(VLTJPG_DECPROP_BLOCKS_PER_MCU), c.blocks);
    }
}

TEST(DecoderProperties, ScaleAndScaledSize) {
    Decoder dec(Jpeg(100, 3, oracle::Sampling420()));
    ASSERT_EQ(dec.created(), 0u);
    EXPECT_EQ(dec.SetScale(8), 0u);
    EXPECT_EQ(dec.GetWord(VLTJPG_DECPROP_SCALE), 8);
    ExpectPair(dec, VLTJPG_DECPROP_SCALED_SIZE, 13, 1); // rounded up: the last partial sample
    EXPECT_EQ(dec.SetScale(3), VLTJPG_ERR_ARGUMENT);
    EXPECT_EQ(dec.GetWord(VLTJPG_DECPROP_SCALE), 8);
    EXPECT_EQ(dec.SetScale(2), 0u);
    ExpectPair(dec, VLTJPG_DECPROP_SCALED_SIZE, 50, 2);
}

TEST(DecoderProperties, CallConventionAndUnhandledIdentifiers) {
    Decoder dec(Jpeg(16, 16, oracle::Sampling420()));
    ASSERT_EQ(dec.created(), 0u);
    int32_t value[2] = {77, 77};
    EXPECT_EQ(vltJpgDecoderGetProp(dec.handle(), 0x100C, value, 4), 0u);
    EXPECT_EQ(vltJpgDecoderGetProp(dec.handle(), 0x5000, value, 8), 0u);
    EXPECT_EQ(vltJpgDecoderSetProp(dec.handle(), VLTJPG_DECPROP_SIZE, value, 8), 0u);
    EXPECT_EQ(value[0], 77);
    EXPECT_EQ(value[1], 77);
    EXPECT_EQ(vltJpgDecoderGetProp(dec.handle(), 0x5000, nullptr, 4), VLTJPG_ERR_ARGUMENT);
    EXPECT_EQ(vltJpgDecoderGetProp(nullptr, VLTJPG_DECPROP_SIZE, value, 8), VLTJPG_ERR_ARGUMENT);
    EXPECT_EQ(vltJpgDecoderSetProp(nullptr, VLTJPG_DECPROP_SCALE, value, 4), VLTJPG_ERR_ARGUMENT);
    EXPECT_EQ(vltJpgDecoderGetProp(dec.handle(), VLTJPG_DECPROP_SIZE, value, 4),
              VLTJPG_ERR_ARGUMENT);
    EXPECT_EQ(vltJpgDecoderGetProp(dec.handle(), VLTJPG_DECPROP_SAMPLING, value, 8),
              VLTJPG_ERR_ARGUMENT);
    EXPECT_EQ(vltJpgDecoderSetProp(dec.handle(), VLTJPG_DECPROP_SCALE, value, 8),
              VLTJPG_ERR_ARGUMENT);
}

TEST(DecoderProperties, ChromaRatiosNeedChroma) {
    Decoder dec(Jpeg(16, 16, oracle::Sampling444(), 1));
    ASSERT_EQ(dec.created(), 0u);
    int32_t value[2] = {5, 5};
    EXPECT_EQ(vltJpgDecoderGetProp(dec.handle(), VLTJPG_DECPROP_SUBSAMPLING, value, 8),
              VLTJPG_ERR_UNSUPPORTED);
}

TEST(DecoderProperties, RgbComponentIdentifiers) {
    std::vector<uint8_t> jpeg = Jpeg(16, 16, oracle::Sampling444());
    const char ids[] = {'r', 'G', 'b'};
    for (int c = 0; c < 3; ++c) {
        jpeg[FrameComponentByte(jpeg, c, 0)] = ids[c];
        jpeg[ScanComponentByte(jpeg, c, 0)] = ids[c];
    }
    Decoder dec(jpeg);
    ASSERT_EQ(dec.created(), 0u);
    EXPECT_EQ(dec.GetWord(VLTJPG_DECPROP_RGB), 1);
}

TEST(DecoderProperties, GreyComponentClaiming2x2IsOneByOne) {
    std::vector<uint8_t> jpeg = Jpeg(20, 20, oracle::Sampling444(), 1);
    jpeg[FrameComponentByte(jpeg, 0, 1)] = 0x22;
    Decoder dec(jpeg);
    ASSERT_EQ(dec.created(), 0u);
    EXPECT_EQ(dec.GetWord(VLTJPG_DECPROP_SAMPLING), 4);
    ExpectPair(dec, VLTJPG_DECPROP_MCU_SIZE, 8, 8);

    harness::Decoded ours = harness::DecodeImage(jpeg, 1);
    ASSERT_EQ(ours.result, 0u);
    EXPECT_TRUE(ours.guardsIntact);
    oracle::PlaneStats stats = oracle::Compare(ours.planes[0], oracle::DecodeRaw(jpeg, 1)[0]);
    EXPECT_LE(stats.maxDiff, 2);
}

TEST(DecoderCreate, NullArguments) {
    vltJpgDecoder handle = reinterpret_cast<vltJpgDecoder>(1);
    vltJpgDecoderParams params{};
    EXPECT_EQ(vltJpgDecoderCreate(nullptr, &params), VLTJPG_ERR_ARGUMENT);
    EXPECT_EQ(vltJpgDecoderCreate(&handle, nullptr), VLTJPG_ERR_ARGUMENT);
    EXPECT_EQ(vltJpgDecoderDestroy(nullptr), VLTJPG_ERR_ARGUMENT);
}

TEST(DecoderCreate, FailureLeavesNullHandle) {
    std::vector<uint8_t> jpeg = Jpeg(16, 16, oracle::Sampling420());
    jpeg[SofOffset(jpeg) + 1] = 0xC3; // lossless
    harness::VectorStream stream;
    stream.data = jpeg;
    vltJpgDecoderParams params{};
    params.stream = &stream;
    params.streamCallback = harness::VectorStream::Callback;
    vltJpgDecoder handle = reinterpret_cast<vltJpgDecoder>(1);
    EXPECT_EQ(vltJpgDecoderCreate(&handle, &params), VLTJPG_ERR_UNSUPPORTED);
    EXPECT_EQ(handle, nullptr);
}

TEST(DecoderCreate, AcceptsExtraSegmentsAndBytesBeforeSoi) {
    EncodeOptions o;
    o.extraSegments = true;
    std::vector<uint8_t> jpeg = oracle::Encode(o);
    const uint8_t junk[] = {0x00, 0xFF, 0xE1, 0x12, 0xFF, 0xFF, 0xD9, 0x55};
    jpeg.insert(jpeg.begin(), junk, junk + sizeof(junk));
    EXPECT_EQ(CreateResult(jpeg), 0u);
}

TEST(DecoderCreate, RefusesOtherCodingProcesses) {
    std::vector<uint8_t> baseline = Jpeg(16, 16, oracle::Sampling420());
    for (uint8_t sof : {0xC3, 0xC5, 0xC6, 0xC7, 0xC9, 0xCA, 0xCB, 0xCD, 0xCE, 0xCF}) {
        std::vector<uint8_t> jpeg = baseline;
        jpeg[SofOffset(jpeg) + 1] = sof;
        EXPECT_EQ(CreateResult(jpeg), VLTJPG_ERR_UNSUPPORTED) << std::hex << int(sof);
    }
    EncodeOptions o;
    o.components = 4;
    EXPECT_EQ(CreateResult(oracle::Encode(o)), VLTJPG_ERR_UNSUPPORTED);
}

TEST(DecoderCreate, RefusesUnsupportedMarkers) {
    std::vector<uint8_t> baseline = Jpeg(16, 16, oracle::Sampling420());
    for (uint8_t code : {0xCC, 0xDE, 0xDF, 0xF0, 0xFD, 0x02, 0xBF}) {
        std::vector<uint8_t> jpeg = baseline;
        const uint8_t segment[] = {0xFF, code, 0x00, 0x04, 0x00, 0x00};
        jpeg.insert(jpeg.begin() + 2, segment, segment + sizeof(segment));
        EXPECT_EQ(CreateResult(jpeg), VLTJPG_ERR_UNSUPPORTED) << std::hex << int(code);
    }
}

TEST(DecoderCreate, RefusesBadFrameHeaders) {
    std::vector<uint8_t> baseline = Jpeg(16, 16, oracle::Sampling420());
    size_t sof = SofOffset(baseline);
    struct Patch {
        size_t offset;
        uint8_t value;
        uint32_t expected;
    } patches[] = {
        {sof + 4, 12, VLTJPG_ERR_DATA},                // 12-bit samples
        {sof + 6, 0, VLTJPG_ERR_DATA},                 // height 0 (16 = 0x0010)
        {sof + 3, 18, VLTJPG_ERR_DATA},                // length
        {sof + 12, 4, VLTJPG_ERR_DATA},                // quantization table 4
        {sof + 11, 0x52, VLTJPG_ERR_UNSUPPORTED},      // H = 5
        {sof + 14, 0x00, VLTJPG_ERR_UNSUPPORTED},      // chroma factors 0
        {sof + 17, 0x21, VLTJPG_ERR_UNSUPPORTED},      // 2x2, 1x1, 2x1
        {sof + 14, 0x22, VLTJPG_ERR_UNSUPPORTED},      // chroma larger than luma
    };
    for (const Patch &p : patches) {
        std::vector<uint8_t> jpeg = baseline;
        jpeg[p.offset] = p.value;
        EXPECT_EQ(CreateResult(jpeg), p.expected) << "offset " << p.offset - sof;
    }
}

TEST(DecoderCreate, RefusesBadScanHeaders) {
    std::vector<uint8_t> baseline = Jpeg(16, 16, oracle::Sampling420());
    struct Patch {
        size_t offset;
        uint8_t value;
    } patches[] = {
        {ScanComponentByte(baseline, 0, 0), 9},     // unknown component
        {ScanComponentByte(baseline, 0, 1), 0x20},  // DC table 2 in a SOF0 frame
        {ScanComponentByte(baseline, 1, 1), 0x01},  // AC table 1 exists; DC 0 fine
        {ScanParameterByte(baseline, 0), 1},        // Ss
        {ScanParameterByte(baseline, 1), 62},       // Se
        {ScanParameterByte(baseline, 2), 0x10},     // Ah
        {ScanParameterByte(baseline, 2), 0x01},     // Al
    };
    for (size_t i = 0; i < sizeof(patches) / sizeof(patches[0]); ++i) {
        std::vector<uint8_t> jpeg = baseline;
        jpeg[patches[i].offset] = patches[i].value;
        uint32_t expected = i == 2 ? 0u : VLTJPG_ERR_DATA;
        EXPECT_EQ(CreateResult(jpeg), expected) << "patch " << i;
    }
}

TEST(DecoderCreate, RefusesScanNamingUndefinedTable) {
    std::vector<uint8_t> jpeg = Jpeg(16, 16, oracle::Sampling444(), 1);
    jpeg[ScanComponentByte(jpeg, 0, 1)] = 0x01; // grey images define table 0 only
    EXPECT_EQ(CreateResult(jpeg), VLTJPG_ERR_DATA);
}

TEST(DecoderCreate, RefusesMalformedSegments) {
    std::vector<uint8_t> baseline = Jpeg(16, 16, oracle::Sampling420());
    size_t dht = oracle::FindMarker(baseline, 0xC4);
    size_t dqt = oracle::FindMarker(baseline, 0xDB);

    std::vector<uint8_t> jpeg = baseline;
    jpeg[dht + 4] = 0x14; // AC table 4
    EXPECT_EQ(CreateResult(jpeg), VLTJPG_ERR_DATA);

    jpeg = baseline;
    jpeg[dqt + 4] = 0x04; // quantization table 4
    EXPECT_EQ(CreateResult(jpeg), VLTJPG_ERR_DATA);

    jpeg = baseline;
    jpeg[dqt + 3] += 1; // DQT length not used up exactly
    EXPECT_EQ(CreateResult(jpeg), VLTJPG_ERR_DATA);

    jpeg.assign(baseline.begin(), baseline.begin() + dht + 12); // cut inside a DHT
    EXPECT_EQ(CreateResult(jpeg), VLTJPG_ERR_DATA);

    jpeg = baseline;
    const uint8_t soi[] = {0xFF, 0xD8};
    jpeg.insert(jpeg.begin() + dqt, soi, soi + 2); // second SOI
    EXPECT_EQ(CreateResult(jpeg), VLTJPG_ERR_DATA);

    jpeg = baseline;
    const uint8_t dri[] = {0xFF, 0xDD, 0x00, 0x05, 0x00, 0x01, 0x00};
    jpeg.insert(jpeg.begin() + dqt, dri, dri + sizeof(dri));
    EXPECT_EQ(CreateResult(jpeg), VLTJPG_ERR_DATA);

    jpeg.assign(baseline.begin() + 2, baseline.end()); // no SOI at all
    EXPECT_EQ(CreateResult(jpeg), VLTJPG_ERR_DATA);

    EXPECT_EQ(CreateResult({}), VLTJPG_ERR_DATA);
}

TEST(DecoderCreate, SixteenBitTablesGiveExtendedSequential) {
    EncodeOptions o;
    o.quality = 10;
    o.forceBaseline = false;
    std::vector<uint8_t> jpeg = oracle::Encode(o);
    ASSERT_NE(oracle::FindMarker(jpeg, 0xC1), std::string::npos);
    EXPECT_EQ(CreateResult(jpeg), 0u);
}

} // namespace
