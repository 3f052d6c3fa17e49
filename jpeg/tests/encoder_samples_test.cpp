// Sample input against libjpeg-turbo: planar files decode without a
// warning, with libjpeg-turbo's own tables, odd sizes keep their last
// chroma column and row, quality and size match libjpeg-turbo's, RGB
// converts as JFIF does, and refused input writes nothing.
#include "enc_fixture.h"
#include "enc_oracle.h"
#include "sample_oracle.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

namespace {

using sample_test::EncodeSettings;
using sample_test::HostImage;
using sample_test::kOddSizes;
using sample_test::Planes;
using sample_test::Size;

struct PlanarCase {
    uint32_t format;
    uint32_t samplingMode;
};
constexpr PlanarCase kPlanarCases[] = {
    {VLTJPG_PIXEL_GREY, 4},
    {VLTJPG_PIXEL_YUV420, 0},
    {VLTJPG_PIXEL_YUV422, 1},
    {VLTJPG_PIXEL_YUV440, 2},
    {VLTJPG_PIXEL_YUV444, 3},
    {VLTJPG_PIXEL_SEMI_PLANAR_420, 0},
    {VLTJPG_PIXEL_SEMI_PLANAR_420B, 0},
};

// Chroma planes of one flat value each over a photo's luma: any chroma
// sample painted instead of read shows in the decoded planes.
Planes FlatChroma(int width, int height, uint32_t samplingMode, unsigned seed) {
    Planes planes = sample_test::PhotoPlanes(width, height, samplingMode, seed);
    for (size_t c = 1; c < planes.planes.size(); ++c)
        std::fill(planes.planes[c].samples.begin(), planes.planes[c].samples.end(),
                  c == 1 ? 40 : 220);
    return planes;
}

// Every planar format at odd sizes in both quality modes: libjpeg-turbo
// reads the file without a warning, finds its own quality-85 tables, and
// decodes the chroma to its flat value up to the last column and row.
TEST(SamplePlanar, OddSizesDecodeCleanlyWithLibjpegTables) {
    for (const PlanarCase &test : kPlanarCases) {
        for (Size size : kOddSizes) {
            Planes source = FlatChroma(size.width, size.height, test.samplingMode, 7);
            HostImage host = sample_test::PlanarImage(source, test.format, 3);
            std::vector<uint8_t> reference = sample_test::CompressPlanes(source, 85, JDCT_ISLOW);
            for (uint32_t mode : {0u, 1u}) {
                SCOPED_TRACE(testing::Message() << "format " << test.format << " " << size.width
                                                << "x" << size.height << " mode " << mode);
                EncodeSettings settings;
                settings.pixelFormat = test.format;
                settings.qualityMode = mode;
                std::vector<uint8_t> file = sample_test::Encode(settings, size.width, size.height,
                                                                host.planes, host.pitches);
                enc_test::Decoded ours = enc_test::DecodeCoefficients(file);
                ASSERT_TRUE(ours.ok);
                EXPECT_EQ(0, ours.warnings);
                EXPECT_EQ(enc_test::DecodeCoefficients(reference).quantTables, ours.quantTables);
                std::vector<oracle::Plane> decoded = oracle::DecodeRaw(file, 1);
                ASSERT_EQ(source.planes.size(), decoded.size());
                for (size_t c = 1; c < decoded.size(); ++c) {
                    const oracle::Plane &plane = decoded[c];
                    ASSERT_EQ(source.planes[c].width, plane.width);
                    ASSERT_EQ(source.planes[c].height, plane.height);
                    int expected = c == 1 ? 40 : 220;
                    EXPECT_NEAR(expected, plane.at(plane.width - 1, plane.height - 1), 2);
                    EXPECT_NEAR(expected, plane.at(plane.width - 1, 0), 2);
                    EXPECT_NEAR(expected, plane.at(0, plane.height - 1), 2);
                }
                EXPECT_GT(sample_test::FilePsnr(file, source), 30.0);
            }
        }
    }
}

// Band heights do not change the file, nor does encoding the whole image
// onto another stream.
TEST(SamplePlanar, BandHeightsGiveTheSameFile) {
    for (const PlanarCase &test : kPlanarCases) {
        Planes source = sample_test::PhotoPlanes(45, 70, test.samplingMode, 3);
        HostImage host = sample_test::PlanarImage(source, test.format);
        EncodeSettings settings;
        settings.pixelFormat = test.format;
        std::vector<uint8_t> whole =
            sample_test::Encode(settings, 45, 70, host.planes, host.pitches);
        ASSERT_FALSE(whole.empty());
        for (uint32_t band : {16u, 32u, 48u}) {
            settings.bandLines = band;
            EXPECT_EQ(whole, sample_test::Encode(settings, 45, 70, host.planes, host.pitches))
                << "format " << test.format << " band " << band;
        }
        enc_test::ByteSink creationSink, imageSink;
        vltJpgEncCreateInfo info = sample_test::SampleInfo(&creationSink, 45, 70, test.format);
        vltJpgEncoder encoder = nullptr;
        ASSERT_EQ(0u, vltJpgEncoderCreate(&encoder, &info));
        uint32_t lines = 70;
        EXPECT_EQ(0u, vltJpgEncoderDefaultScanlines(encoder, host.planes, host.pitches, 0, &lines,
                                                    &imageSink));
        EXPECT_EQ(0u, vltJpgEncoderDestroy(encoder));
        EXPECT_EQ(whole, imageSink.bytes) << "format " << test.format;
        EXPECT_TRUE(creationSink.bytes.empty());
    }
}

// Quality 85 from 4:2:0 planes against libjpeg-turbo's raw-data
// compression (islow) from the same planes: with the quality stamp applied
// to both and in quality mode 1, within 0.5 dB and 5 % in size; mode 0 is
// at most as good; with the stamp off, against libjpeg-turbo's own file.
TEST(SampleQuality, MatchesLibjpegAtQuality85) {
    for (Size size : {Size{250, 190}, Size{161, 97}}) {
        Planes source = sample_test::PhotoPlanes(size.width, size.height, 0, 11);
        HostImage host = sample_test::PlanarImage(source, VLTJPG_PIXEL_YUV420);
        std::vector<uint8_t> plain = sample_test::CompressPlanes(source, 85, JDCT_ISLOW);
        std::vector<uint8_t> stamped = sample_test::StampDcs(plain, 1);
        EncodeSettings settings;
        double psnr[2];
        for (uint32_t mode : {0u, 1u}) {
            settings.qualityMode = mode;
            std::vector<uint8_t> ours =
                sample_test::Encode(settings, size.width, size.height, host.planes, host.pitches);
            psnr[mode] = sample_test::FilePsnr(ours, source);
            if (mode == 1) {
                EXPECT_NEAR(sample_test::FilePsnr(stamped, source), psnr[mode], 0.5);
                EXPECT_NEAR(1.0, static_cast<double>(ours.size()) / stamped.size(), 0.05);
            }
        }
        EXPECT_LE(psnr[0], psnr[1]);
        settings.qualityStamp = 0;
        std::vector<uint8_t> unstamped =
            sample_test::Encode(settings, size.width, size.height, host.planes, host.pitches);
        EXPECT_NEAR(sample_test::FilePsnr(plain, source), sample_test::FilePsnr(unstamped, source),
                    0.5);
        EXPECT_NEAR(1.0, static_cast<double>(unstamped.size()) / plain.size(), 0.05);
    }
}

// JFIF's conversion, as libjpeg-turbo computes it, rounded.
int Jfif(int component, int r, int g, int b) {
    static const double kRows[3][3] = {{0.299, 0.587, 0.114},
                                       {-0.168735892, -0.331264108, 0.5},
                                       {0.5, -0.418687589, -0.081312411}};
    double value = kRows[component][0] * r + kRows[component][1] * g + kRows[component][2] * b;
    return static_cast<int>(std::floor(value + (component ? 128.0 : 0.0) + 0.5));
}

// One MCU of RGB pixels (packed, or planar when `planar`) converted into
// the MCU sample buffer: 8x8 for 4:4:4, 16x16 for 4:2:0. The conversion
// table is the standard one or `table`.
std::vector<uint8_t> ConvertMcu(const std::vector<uint8_t> &rgb, bool subsampled, bool planar,
                                const JpgRgbToYccTable &table = jpg_rgb2ycc_tbl) {
    const int side = subsampled ? 16 : 8;
    EncFixture fixture(3);
    JpgEncState &state = fixture.state;
    std::vector<uint8_t> buffer(kJpgEncMaxBlocksPerMcu * 64);
    for (int i = 0; i < 3; ++i)
        fixture.components[i].h = fixture.components[i].v = (i == 0 && subsampled) ? 2 : 1;
    state.maxH = state.maxV = subsampled ? 2 : 1;
    state.samplingMode = subsampled ? VLTJPG_SAMPLING_420 : VLTJPG_SAMPLING_444;
    state.pixelFormat = planar ? VLTJPG_PIXEL_RGB_PLANAR : VLTJPG_PIXEL_RGB_PACKED;
    state.width = state.bandLines = side;
    state.rgbMcuBuffer = buffer.data();
    state.rgbPitch = planar ? side : 3 * side;
    for (int i = 0; i < 3; ++i)
        state.rgbSources[i] = rgb.data() + (planar ? i * side * side : i);
    state.subsampleTable = jpg_yccsubsample_tbl;
    state.conversionTable = &table.column[0][0];
    JpgEncRGB2YCbCr(&state, 0, 0);
    return buffer;
}

// The converter fills the MCU sample buffer: for 4:4:4 each sample is
// JFIF's within one level; pure red is Y 76, Cb 85, Cr 255.
TEST(SampleRgb, ConversionMatchesJfif) {
    std::vector<uint8_t> rgb = oracle::MakeImage(8, 8, 3, oracle::Content::kNoise, 5);
    rgb[0] = 255, rgb[1] = 0, rgb[2] = 0;
    std::vector<uint8_t> buffer = ConvertMcu(rgb, false, false);
    EXPECT_EQ(76, buffer[0]);
    EXPECT_EQ(85, buffer[64]);
    EXPECT_EQ(255, buffer[128]);
    for (int p = 0; p < 64; ++p) {
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(Jfif(c, rgb[3 * p], rgb[3 * p + 1], rgb[3 * p + 2]), buffer[64 * c + p], 1);
    }
}

// Whole 4:2:0 MCUs take the vector form where there is one; a copy of the
// standard table forces the table-driven form, which must give the same
// samples, packed and planar, on noise and on pixels of 0 and 255 only
// (the extremes of every sum).
TEST(SampleRgb, WholeMcuKernelMatchesTableForm) {
    static const JpgRgbToYccTable copy = jpg_rgb2ycc_tbl;
    for (int seed = 0; seed < 8; ++seed) {
        std::vector<uint8_t> rgb = oracle::MakeImage(16, 16, 3, oracle::Content::kNoise, seed);
        if (seed & 1) {
            for (uint8_t &v : rgb)
                v = v & 1 ? 255 : 0;
        }
        for (bool planar : {false, true}) {
            EXPECT_EQ(ConvertMcu(rgb, true, planar, copy), ConvertMcu(rgb, true, planar))
                << "seed " << seed << (planar ? " planar" : " packed");
        }
    }
}

// Packed and planar RGB, 4:2:0, against libjpeg-turbo's RGB compression
// of the same pixels.
TEST(SampleRgb, PhotoMatchesLibjpegCompression) {
    const int width = 75, height = 43;
    std::vector<uint8_t> rgb = oracle::MakeImage(width, height, 3, oracle::Content::kPhoto, 9);
    std::vector<uint8_t> reference =
        sample_test::CompressRgb(rgb, width, height, 0, 85, JDCT_ISLOW);
    std::vector<oracle::Plane> expected = oracle::DecodeRaw(reference, 1);
    std::vector<uint8_t> planar(rgb.size());
    const size_t pixels = static_cast<size_t>(width) * height;
    for (size_t i = 0; i < pixels; ++i) {
        for (int c = 0; c < 3; ++c)
            planar[c * pixels + i] = rgb[3 * i + c];
    }
    uint8_t *packedPlanes[3] = {rgb.data(), nullptr, nullptr};
    int32_t packedPitches[3] = {3 * width, 0, 0};
    uint8_t *planarPlanes[3] = {planar.data(), planar.data() + pixels, planar.data() + 2 * pixels};
    int32_t planarPitches[3] = {width, width, width};
    EncodeSettings settings;
    settings.qualityMode = 1;
    settings.qualityStamp = 0;
    settings.bandLines = 16;
    settings.pixelFormat = VLTJPG_PIXEL_RGB_PACKED;
    std::vector<uint8_t> packed =
        sample_test::Encode(settings, width, height, packedPlanes, packedPitches);
    settings.pixelFormat = VLTJPG_PIXEL_RGB_PLANAR;
    EXPECT_EQ(packed, sample_test::Encode(settings, width, height, planarPlanes, planarPitches));
    EXPECT_EQ(0, enc_test::DecodeCoefficients(packed).warnings);
    std::vector<oracle::Plane> ours = oracle::DecodeRaw(packed, 1);
    ASSERT_EQ(expected.size(), ours.size());
    for (size_t c = 0; c < ours.size(); ++c)
        EXPECT_GT(oracle::Compare(expected[c], ours[c]).psnr, 36.0) << "component " << c;
}

// A 4:2:0 photo in planar planes and an encoder for it onto a byte sink.
struct PlanarEncoder {
    Planes source;
    HostImage host;
    enc_test::ByteSink sink;
    vltJpgEncoder handle = nullptr;
    vltJpgResult created;
    PlanarEncoder(int width, int height)
        : source(sample_test::PhotoPlanes(width, height, 0, 2)),
          host(sample_test::PlanarImage(source, VLTJPG_PIXEL_YUV420)) {
        vltJpgEncCreateInfo info = sample_test::SampleInfo(&sink, width, height, 1);
        created = vltJpgEncoderCreate(&handle, &info);
    }
};

// Cancelling from the progress callback after the first MCU row leaves a
// file holding that row as a complete image.
TEST(SampleInput, CancelledImageEndsAsTheRowsCoded) {
    PlanarEncoder planar(40, 50);
    ASSERT_EQ(0u, planar.created);
    vltJpgEncProgress cancel = {[](uint32_t, void *) -> uint32_t { return 1; }, nullptr};
    ASSERT_EQ(
        0u, vltJpgEncoderSetProp(planar.handle, VLTJPG_ENCPROP_PROGRESS, &cancel, sizeof(cancel)));
    uint32_t lines = 50;
    EXPECT_EQ(VLTJPG_ERR_CANCELLED, vltJpgEncoderScanlines(planar.handle, planar.host.planes,
                                                           planar.host.pitches, 0, &lines));
    EXPECT_EQ(0u, vltJpgEncoderDestroy(planar.handle));
    enc_test::Decoded decoded = enc_test::DecodeCoefficients(planar.sink.bytes);
    ASSERT_TRUE(decoded.ok);
    EXPECT_EQ(0, decoded.warnings);
    EXPECT_EQ(16, decoded.height);
}

// Refused input: nothing reaches the stream.
TEST(SampleInput, RefusedInputWritesNothing) {
    PlanarEncoder planar(33, 20);
    ASSERT_EQ(0u, planar.created);
    uint8_t *noChroma[3] = {planar.host.planes[0], nullptr, planar.host.planes[2]};
    int32_t shortPitch[3] = {planar.host.pitches[0], 16, planar.host.pitches[2]};
    int32_t negativePitch[3] = {-planar.host.pitches[0], planar.host.pitches[1],
                                planar.host.pitches[2]};
    uint32_t lines = 16, tooMany = 21, partial = 8;
    struct Call {
        uint8_t **planes;
        int32_t *pitches;
        const uint32_t *lines;
        vltJpgResult expected;
    } calls[] = {
        {nullptr, planar.host.pitches, &lines, VLTJPG_ERR_ARGUMENT},
        {planar.host.planes, nullptr, &lines, VLTJPG_ERR_ARGUMENT},
        {noChroma, planar.host.pitches, &lines, VLTJPG_ERR_ARGUMENT},
        {planar.host.planes, shortPitch, &lines, VLTJPG_ERR_ARGUMENT},
        {planar.host.planes, negativePitch, &lines, VLTJPG_ERR_ARGUMENT},
        {planar.host.planes, planar.host.pitches, &tooMany, VLTJPG_ERR_ARGUMENT},
        {planar.host.planes, planar.host.pitches, &partial, VLTJPG_ERR_ARGUMENT},
    };
    for (const Call &call : calls)
        EXPECT_EQ(call.expected,
                  vltJpgEncoderScanlines(planar.handle, call.planes, call.pitches, 0, call.lines));
    uint32_t mode444 = VLTJPG_SAMPLING_444;
    ASSERT_EQ(0u, vltJpgEncoderSetProp(planar.handle, VLTJPG_ENCPROP_SAMPLING, &mode444, 4));
    EXPECT_EQ(VLTJPG_ERR_UNSUPPORTED, vltJpgEncoderScanlines(planar.handle, planar.host.planes,
                                                             planar.host.pitches, 0, &lines));
    vltJpgPlaneSet planeSet = {planar.host.planes, planar.host.pitches};
    vltJpgEncWriteDesc rgbRun = {VLTJPG_WRITE_RGB, 1, 0, 0, &planeSet};
    EXPECT_EQ(VLTJPG_ERR_UNSUPPORTED, vltJpgEncoderWriteMCUs(planar.handle, &rgbRun));
    EXPECT_TRUE(planar.sink.bytes.empty());
    EXPECT_EQ(0u, vltJpgEncoderDestroy(planar.handle));
    EXPECT_TRUE(planar.sink.bytes.empty());
}

} // namespace
