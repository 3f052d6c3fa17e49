// Every sample layout against its planar twin: packed, row-interleaved and
// semi-planar input give the file the planar format holding the same
// samples gives; MCU runs from buffers holding only the image's samples
// give the file of band input; the thumbnail is what our decoder makes of
// the file at the same scale.
#include "decoder_harness.h"
#include "enc_oracle.h"
#include "sample_oracle.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using sample_test::EncodeSettings;
using sample_test::HostImage;
using sample_test::kOddSizes;
using sample_test::Planes;
using sample_test::Size;

// Byte order of one packed 4:2:2 pair or one row-interleaved pair: the
// component of each byte (0 Y, 1 Cb, 2 Cr).
struct Interleaving {
    uint32_t format;
    int order[4];
};
constexpr Interleaving kPacked422[] = {
    {VLTJPG_PIXEL_YUYV, {0, 1, 0, 2}},
    {VLTJPG_PIXEL_UYVY, {1, 0, 2, 0}},
    {VLTJPG_PIXEL_YVYU, {0, 2, 0, 1}},
    {VLTJPG_PIXEL_VYUY, {2, 0, 1, 0}},
};
// Row-interleaved 4:4:0: even rows pair Y with the first chroma named,
// odd rows with the second; `order` gives the pair's byte order (chroma
// as component 1) and the even-row chroma.
struct RowLayout {
    uint32_t format;
    bool chromaFirst;
    int evenRowChroma;
};
constexpr RowLayout kRows[] = {
    {VLTJPG_PIXEL_ROWS_YCB_YCR, false, 1},
    {VLTJPG_PIXEL_ROWS_YCR_YCB, false, 2},
    {VLTJPG_PIXEL_ROWS_CBY_CRY, true, 1},
    {VLTJPG_PIXEL_ROWS_CRY_CBY, true, 2},
};

HostImage OnePlane(int32_t pitch, int rows) {
    HostImage image;
    image.storage.assign(1, std::vector<uint8_t>(static_cast<size_t>(pitch) * rows, 0));
    image.planes[0] = image.storage[0].data();
    image.pitches[0] = pitch;
    return image;
}

HostImage Packed422(const Planes &source, const Interleaving &layout) {
    int pairs = (source.width + 1) / 2;
    HostImage image = OnePlane(4 * pairs, source.height);
    for (int y = 0; y < source.height; ++y) {
        uint8_t *row = image.planes[0] + static_cast<size_t>(y) * image.pitches[0];
        for (int k = 0; k < pairs; ++k) {
            int luma = 0;
            for (int b = 0; b < 4; ++b) {
                int c = layout.order[b];
                int x = c == 0 ? std::min(2 * k + luma++, source.width - 1) : k;
                row[4 * k + b] = source.planes[c].at(x, y);
            }
        }
    }
    return image;
}

HostImage RowInterleaved(const Planes &source, const RowLayout &layout) {
    HostImage image = OnePlane(2 * source.width, source.height);
    for (int y = 0; y < source.height; ++y) {
        uint8_t *row = image.planes[0] + static_cast<size_t>(y) * image.pitches[0];
        int chroma = y % 2 == 0 ? layout.evenRowChroma : 3 - layout.evenRowChroma;
        for (int x = 0; x < source.width; ++x) {
            row[2 * x + (layout.chromaFirst ? 1 : 0)] = source.planes[0].at(x, y);
            row[2 * x + (layout.chromaFirst ? 0 : 1)] = source.planes[chroma].at(x, y / 2);
        }
    }
    return image;
}

HostImage Packed444(const Planes &source) {
    HostImage image = OnePlane(3 * source.width, source.height);
    for (int y = 0; y < source.height; ++y) {
        for (int x = 0; x < source.width; ++x) {
            for (int c = 0; c < 3; ++c)
                image.planes[0][static_cast<size_t>(y) * image.pitches[0] + 3 * x + c] =
                    source.planes[c].at(x, y);
        }
    }
    return image;
}

// The 4:2:0 planes that 4:2:2 chroma coded as 4:2:0 stands for: its even
// rows.
Planes EvenChromaRows(const Planes &source) {
    Planes twin = source;
    twin.samplingMode = VLTJPG_SAMPLING_420;
    for (int c = 1; c < 3; ++c) {
        oracle::Plane &plane = twin.planes[c];
        plane.height = (source.height + 1) / 2;
        plane.samples.resize(static_cast<size_t>(plane.width) * plane.height);
        for (int y = 0; y < plane.height; ++y) {
            for (int x = 0; x < plane.width; ++x)
                plane.samples[static_cast<size_t>(y) * plane.width + x] =
                    source.planes[c].at(x, 2 * y);
        }
    }
    return twin;
}

// Row-interleaved input of odd height has no last row for its odd-row
// chroma: the row above stands in for it, or neutral chroma in an image of
// one line.
Planes RepeatLastOddRow(const Planes &source, int oddRowChroma) {
    Planes twin = source;
    oracle::Plane &plane = twin.planes[oddRowChroma];
    if (source.height == 1)
        std::fill(plane.samples.begin(), plane.samples.end(), 128);
    if (source.height % 2 == 1 && plane.height > 1) {
        std::copy_n(&plane.samples[static_cast<size_t>(plane.height - 2) * plane.width],
                    plane.width,
                    &plane.samples[static_cast<size_t>(plane.height - 1) * plane.width]);
    }
    return twin;
}

std::vector<uint8_t> EncodeHost(const HostImage &host, uint32_t format, uint32_t samplingMode,
                                Size size, uint32_t bandLines) {
    EncodeSettings settings;
    settings.pixelFormat = format;
    settings.samplingMode = samplingMode;
    settings.bandLines = bandLines;
    return sample_test::Encode(settings, size.width, size.height, host.planes, host.pitches);
}

// The file of the planar format holding `planes`, in one band.
std::vector<uint8_t> PlanarFile(const Planes &planes, Size size) {
    constexpr uint32_t kPlanarFormat[4] = {VLTJPG_PIXEL_YUV420, VLTJPG_PIXEL_YUV422,
                                           VLTJPG_PIXEL_YUV440, VLTJPG_PIXEL_YUV444};
    uint32_t format = kPlanarFormat[planes.samplingMode];
    std::vector<uint8_t> file =
        EncodeHost(sample_test::PlanarImage(planes, format), format, 0, size, 0);
    EXPECT_FALSE(file.empty());
    return file;
}

TEST(SampleLayouts, InterleavedFormatsGiveTheirPlanarTwinsFile) {
    for (Size size : kOddSizes) {
        SCOPED_TRACE(testing::Message() << size.width << "x" << size.height);
        Planes planes422 = sample_test::PhotoPlanes(size.width, size.height, 1, 21);
        std::vector<uint8_t> twin422 = PlanarFile(planes422, size);
        std::vector<uint8_t> twin420 = PlanarFile(EvenChromaRows(planes422), size);
        for (const Interleaving &layout : kPacked422) {
            HostImage host = Packed422(planes422, layout);
            EXPECT_EQ(twin422, EncodeHost(host, layout.format, 1, size, 16)) << layout.format;
            EXPECT_EQ(twin420, EncodeHost(host, layout.format, 0, size, 16)) << layout.format;
        }
        Planes planes440 = sample_test::PhotoPlanes(size.width, size.height, 2, 22);
        for (const RowLayout &layout : kRows) {
            std::vector<uint8_t> twin =
                PlanarFile(RepeatLastOddRow(planes440, 3 - layout.evenRowChroma), size);
            EXPECT_TRUE(twin ==
                        EncodeHost(RowInterleaved(planes440, layout), layout.format, 0, size, 16))
                << layout.format;
        }
        Planes planes444 = sample_test::PhotoPlanes(size.width, size.height, 3, 23);
        EXPECT_EQ(PlanarFile(planes444, size),
                  EncodeHost(Packed444(planes444), VLTJPG_PIXEL_YCBCR_PACKED, 0, size, 16));
        Planes planes420 = sample_test::PhotoPlanes(size.width, size.height, 0, 24);
        for (uint32_t format : {VLTJPG_PIXEL_SEMI_PLANAR_420, VLTJPG_PIXEL_SEMI_PLANAR_420B}) {
            EXPECT_EQ(PlanarFile(planes420, size),
                      EncodeHost(sample_test::PlanarImage(planes420, format), format, 0, size, 16))
                << format;
        }
    }
}

// MCU (column, row) of a run's buffer plane for component `c`: the run's
// first MCU at the origin, its row continuing to the right, later MCU rows
// from column 0. The plane holds the image's own samples and no more, in
// an allocation of its own.
std::vector<uint8_t> RunPlane(const oracle::Plane &plane, int mcuWidth, int mcuHeight,
                              int firstColumn, int firstRow, int rows, int count, int32_t *pitch) {
    int startX = firstColumn * mcuWidth;
    int width = rows > 1 ? plane.width : std::min(plane.width - startX, count * mcuWidth);
    int height = std::min(plane.height - firstRow * mcuHeight, rows * mcuHeight);
    std::vector<uint8_t> out(static_cast<size_t>(width) * height, 0);
    for (int y = 0; y < height; ++y) {
        int shift = y < mcuHeight ? startX : 0;
        for (int x = 0; x + shift < plane.width && x < width; ++x)
            out[static_cast<size_t>(y) * width + x] = plane.at(x + shift, firstRow * mcuHeight + y);
    }
    *pitch = width;
    return out;
}

TEST(SampleRuns, RunsFromTightBuffersGiveTheBandFile) {
    const Size size{40, 37};
    for (uint32_t samplingMode : {0u, 2u, 4u}) {
        constexpr uint32_t kFormat[5] = {VLTJPG_PIXEL_YUV420, 0, VLTJPG_PIXEL_YUV440, 0,
                                         VLTJPG_PIXEL_GREY};
        uint32_t format = kFormat[samplingMode];
        Planes planes = sample_test::PhotoPlanes(size.width, size.height, samplingMode, 31);
        HostImage host = sample_test::PlanarImage(planes, format);
        std::vector<uint8_t> bandFile = EncodeHost(host, format, 0, size, 0);
        int maxH = samplingMode == 0 ? 2 : 1, maxV = samplingMode == 4 ? 1 : 2;
        int columns = (size.width + 8 * maxH - 1) / (8 * maxH);
        int total = columns * ((size.height + 8 * maxV - 1) / (8 * maxV));
        enc_test::ByteSink sink;
        vltJpgEncCreateInfo info = sample_test::SampleInfo(&sink, size.width, size.height, format);
        vltJpgEncoder encoder = nullptr;
        ASSERT_EQ(0u, vltJpgEncoderCreate(&encoder, &info));
        const int lengths[] = {1, 4, 2, 5, 3};
        for (int first = 0, n = 0; first < total; ++n) {
            int count = std::min(lengths[n % 5], total - first);
            int column = first % columns, row = first / columns;
            int rows = (column + count - 1) / columns + 1;
            std::vector<std::vector<uint8_t>> buffers;
            uint8_t *runPlanes[3] = {nullptr, nullptr, nullptr};
            int32_t pitches[3] = {0, 0, 0};
            for (size_t c = 0; c < planes.planes.size(); ++c) {
                int h = c == 0 ? maxH : 1, v = c == 0 ? maxV : 1;
                buffers.push_back(RunPlane(planes.planes[c], 8 * h, 8 * v, column, row, rows, count,
                                           &pitches[c]));
                runPlanes[c] = buffers.back().data();
            }
            vltJpgPlaneSet planeSet = {runPlanes, pitches};
            vltJpgEncWriteDesc run = {VLTJPG_WRITE_YCBCR, count, static_cast<uint32_t>(column),
                                      static_cast<uint32_t>(row), &planeSet};
            ASSERT_EQ(0u, vltJpgEncoderWriteMCUs(encoder, &run)) << first;
            first += count;
        }
        ASSERT_EQ(0u, vltJpgEncoderDestroy(encoder));
        EXPECT_TRUE(bandFile == sink.bytes) << "sampling " << samplingMode;
    }
}

// The thumbnail at every reduction is our decoder's output of the file at
// that scale (inside the image; the thumbnail covers whole MCUs).
TEST(SampleThumbnail, EqualsTheDecodedFile) {
    const Size size{37, 21};
    for (uint32_t format : {VLTJPG_PIXEL_YUV420, VLTJPG_PIXEL_YUV444}) {
        uint32_t samplingMode = format == VLTJPG_PIXEL_YUV420 ? 0 : 3;
        Planes planes = sample_test::PhotoPlanes(size.width, size.height, samplingMode, 41);
        HostImage host = sample_test::PlanarImage(planes, format);
        for (uint32_t reduction : {1u, 2u, 4u, 8u}) {
            int scale = static_cast<int>(reduction);
            int maxSpan = samplingMode == 0 ? 2 : 1;
            int thumbWidth = ((size.width + 8 * maxSpan - 1) / (8 * maxSpan)) * 8 * maxSpan / scale;
            int thumbHeight =
                ((size.height + 8 * maxSpan - 1) / (8 * maxSpan)) * 8 * maxSpan / scale;
            std::vector<std::vector<uint8_t>> thumb(3);
            uint8_t *thumbPlanes[3];
            int32_t thumbPitches[3];
            for (int c = 0; c < 3; ++c) {
                int span = c == 0 ? 1 : maxSpan;
                thumbPitches[c] = thumbWidth / span;
                thumb[c].assign(static_cast<size_t>(thumbPitches[c]) * (thumbHeight / span), 0);
                thumbPlanes[c] = thumb[c].data();
            }
            vltJpgPlaneSet thumbnail = {thumbPlanes, thumbPitches};
            EncodeSettings settings;
            settings.pixelFormat = format;
            settings.thumbReduction = reduction;
            settings.thumbnail = &thumbnail;
            settings.bandLines = 16;
            std::vector<uint8_t> file =
                sample_test::Encode(settings, size.width, size.height, host.planes, host.pitches);
            harness::Decoded decoded = harness::DecodeImage(file, scale);
            ASSERT_EQ(0u, decoded.result);
            for (int c = 0; c < 3; ++c) {
                const oracle::Plane &plane = decoded.planes[c];
                for (int y = 0; y < plane.height; ++y) {
                    for (int x = 0; x < plane.width; ++x)
                        ASSERT_EQ(plane.at(x, y), thumb[c][y * thumbPitches[c] + x])
                            << "format " << format << " 1/" << reduction << " component " << c
                            << " at " << x << "," << y;
                }
            }
        }
    }
}

// Thumbnail properties: reductions 1, 2, 4, 8 or 0, the size of whole
// MCUs reduced, buffers checked against it and the input's layout.
TEST(SampleThumbnail, PropertiesAndRefusedBuffers) {
    enc_test::ByteSink sink;
    vltJpgEncCreateInfo info = sample_test::SampleInfo(&sink, 37, 21, VLTJPG_PIXEL_YUV420);
    vltJpgEncoder encoder = nullptr;
    ASSERT_EQ(0u, vltJpgEncoderCreate(&encoder, &info));
    uint32_t size[2] = {7, 7};
    EXPECT_EQ(0u, vltJpgEncoderGetProp(encoder, VLTJPG_ENCPROP_THUMB_SIZE, size, 8));
    EXPECT_EQ(7u, size[0]); // off: nothing written
    uint32_t reduction = 3;
    EXPECT_EQ(VLTJPG_ERR_ARGUMENT,
              vltJpgEncoderSetProp(encoder, VLTJPG_ENCPROP_THUMB_SCALE, &reduction, 4));
    reduction = 4;
    ASSERT_EQ(0u, vltJpgEncoderSetProp(encoder, VLTJPG_ENCPROP_THUMB_SCALE, &reduction, 4));
    ASSERT_EQ(0u, vltJpgEncoderGetProp(encoder, VLTJPG_ENCPROP_THUMB_SIZE, size, 8));
    EXPECT_EQ(12u, size[0]); // 48 / 4
    EXPECT_EQ(8u, size[1]);  // 32 / 4
    std::vector<uint8_t> plane(12 * 8);
    uint8_t *planes[3] = {plane.data(), plane.data(), plane.data()};
    int32_t shortPitches[3] = {12, 5, 6};
    vltJpgPlaneSet shortSet = {planes, shortPitches};
    EXPECT_EQ(VLTJPG_ERR_ARGUMENT, vltJpgEncoderSetProp(encoder, VLTJPG_ENCPROP_THUMB_BUFFER,
                                                        &shortSet, sizeof(shortSet)));
    uint8_t *noPlanes[3] = {plane.data(), nullptr, plane.data()};
    int32_t pitches[3] = {12, 6, 6};
    vltJpgPlaneSet missing = {noPlanes, pitches};
    EXPECT_EQ(VLTJPG_ERR_ARGUMENT, vltJpgEncoderSetProp(encoder, VLTJPG_ENCPROP_THUMB_BUFFER,
                                                        &missing, sizeof(missing)));
    EXPECT_EQ(0u, vltJpgEncoderDestroy(encoder));

    info.pixelFormat = VLTJPG_PIXEL_RGB_PACKED;
    info.samplingMode = VLTJPG_SAMPLING_420;
    ASSERT_EQ(0u, vltJpgEncoderCreate(&encoder, &info));
    ASSERT_EQ(0u, vltJpgEncoderSetProp(encoder, VLTJPG_ENCPROP_THUMB_SCALE, &reduction, 4));
    vltJpgPlaneSet rgb = {planes, pitches};
    EXPECT_EQ(VLTJPG_ERR_UNSUPPORTED,
              vltJpgEncoderSetProp(encoder, VLTJPG_ENCPROP_THUMB_BUFFER, &rgb, sizeof(rgb)));
    EXPECT_EQ(0u, vltJpgEncoderDestroy(encoder));
}

} // namespace
