// Fault injection into the encoder: every allocation and every stream
// operation that sample input (planar with and without a thumbnail, packed
// RGB), coefficient
// input with an index, or transcoding reaches fails in turn. Each failure
// gives a documented code and leaks nothing; no failed write, seek or flush
// is reported as success, and a run that succeeds despite a failed
// allocation (the heap stands in for the host) wrote the clean run's file.
#include "decoder_harness.h"
#include "enc_oracle.h"
#include "fault_injection.h"
#include "jpeg_oracle.h"
#include "memory_stream.h"
#include "sample_oracle.h"

#include <gtest/gtest.h>

namespace {

const std::vector<uint32_t> kEncoderCodes = {VLTJPG_ERR_MEMORY, VLTJPG_ERR_DATA,
                                             VLTJPG_ERR_SHORT_WRITE};

struct Encoded {
    vltJpgResult result = 0;
    std::vector<uint8_t> file;
};

void ExpectSameFileOnSuccess(const Encoded &clean, const Encoded &faulty) {
    if (faulty.result == 0) {
        EXPECT_EQ(clean.file, faulty.file);
    }
}

// Creates an encoder on `info` with the counting host allocator, lets
// `feed` drive it and destroys it; the first failure and the file.
template <typename Feed> Encoded EncodeWith(vltJpgEncCreateInfo info, Feed feed) {
    harness::CountingAllocator allocator;
    info.alloc = harness::CountingAllocator::Alloc;
    info.release = harness::CountingAllocator::Free;
    info.memContext = &allocator;
    Encoded out;
    vltJpgEncoder encoder = nullptr;
    out.result = vltJpgEncoderCreate(&encoder, &info);
    if (out.result != 0)
        return out;
    out.result = feed(encoder);
    vltJpgResult destroyed = vltJpgEncoderDestroy(encoder);
    out.result = out.result != 0 ? out.result : destroyed;
    return out;
}

vltJpgResult SetWord(vltJpgEncoder encoder, uint32_t id, uint32_t value) {
    return vltJpgEncoderSetProp(encoder, id, &value, sizeof value);
}

// Host buffers of a 48 x 32 image: 4:2:0 planes, or packed RGB.
sample_test::HostImage SampleImage(uint32_t format) {
    static const sample_test::Planes planes = sample_test::PhotoPlanes(48, 32, 0, 5);
    if (format != VLTJPG_PIXEL_RGB_PACKED)
        return sample_test::PlanarImage(planes, format);
    sample_test::HostImage image;
    image.storage.emplace_back(48 * 32 * 3);
    for (size_t i = 0; i < image.storage[0].size(); ++i)
        image.storage[0][i] = static_cast<uint8_t>(i * 7 + i / 144 * 13);
    image.planes[0] = image.storage[0].data();
    image.pitches[0] = 48 * 3;
    return image;
}

// The image in bands of 16 lines, with a 12 x 8 thumbnail when asked.
Encoded EncodeSamples(uint32_t format, bool thumbnail) {
    sample_test::HostImage image = SampleImage(format);
    std::vector<uint8_t> thumbY(12 * 8), thumbCb(6 * 4), thumbCr(6 * 4);
    uint8_t *thumbPlanes[3] = {thumbY.data(), thumbCb.data(), thumbCr.data()};
    int32_t thumbPitches[3] = {12, 6, 6};
    vltJpgPlaneSet thumbSet = {thumbPlanes, thumbPitches};
    enc_test::ByteSink sink;
    vltJpgEncCreateInfo info = sample_test::SampleInfo(&sink, 48, 32, format);
    Encoded out = EncodeWith(info, [&](vltJpgEncoder encoder) {
        vltJpgResult result = 0;
        if (thumbnail) {
            result = SetWord(encoder, VLTJPG_ENCPROP_THUMB_SCALE, 4);
            if (result == 0)
                result = vltJpgEncoderSetProp(encoder, VLTJPG_ENCPROP_THUMB_BUFFER, &thumbSet,
                                              sizeof thumbSet);
        }
        for (uint32_t start = 0; result == 0 && start < 32; start += 16) {
            uint32_t lines = 16;
            result = vltJpgEncoderScanlines(encoder, image.planes, image.pitches, start, &lines);
        }
        return result;
    });
    out.file = sink.bytes;
    out.file.insert(out.file.end(), thumbY.begin(), thumbY.end());
    return out;
}

TEST(EncoderFaults, SampleInputs) {
    const struct {
        uint32_t format;
        bool thumbnail;
    } cases[] = {{VLTJPG_PIXEL_YUV420, false},
                 {VLTJPG_PIXEL_YUV420, true},
                 {VLTJPG_PIXEL_RGB_PACKED, false}};
    for (const auto &c : cases) {
        SCOPED_TRACE(::testing::Message() << "format " << c.format << " thumbnail " << c.thumbnail);
        int points = fault::Sweep([&] { return EncodeSamples(c.format, c.thumbnail); },
                                  kEncoderCodes, ExpectSameFileOnSuccess, true);
        EXPECT_GT(points, 10);
    }
}

// Coefficients with the header written at creation, an unknown height
// patched in at the end, a small output buffer and an index taken out.
TEST(EncoderFaults, CoefficientsWithIndex) {
    const enc_test::CoefImage image = enc_test::RandomCoefficients(0, 48, 32, 9);
    auto encode = [&] {
        enc_test::ByteSink sink;
        vltJpgEncCreateInfo info = enc_test::CoefficientInfo(&sink, 48, 0, 0);
        info.headerOnCreate = 1;
        info.huffBufferSize = 64;
        std::vector<uint8_t> index;
        Encoded out = EncodeWith(info, [&](vltJpgEncoder encoder) {
            vltJpgResult result = SetWord(encoder, VLTJPG_ENCPROP_INDEX_INTERVAL, 2);
            for (int row = 0; result == 0 && row < image.geometry.mcuRows; ++row) {
                enc_test::CoefBand band(image, row, 1);
                uint32_t lines = 16;
                result = vltJpgEncoderScanlines(encoder, band.planes, band.pitches, 0, &lines);
            }
            vltJpgEncIndexBlock block{};
            if (result == 0)
                result = vltJpgEncoderGetProp(encoder, VLTJPG_ENCPROP_INDEX, &block, sizeof block);
            if (result == 0) {
                const auto *bytes = static_cast<const uint8_t *>(block.address);
                index.assign(bytes, bytes + block.size);
            }
            return result;
        });
        out.file = sink.bytes;
        out.file.insert(out.file.end(), index.begin(), index.end());
        return out;
    };
    fault::Sweep(encode, kEncoderCodes, ExpectSameFileOnSuccess, true);
}

// A decoder's blocks handed to an encoder in runs of five MCUs, both on
// platform memory streams. A read cut short gives the encoder grey blocks,
// so a successful run need not repeat the clean file.
TEST(EncoderFaults, Transcoding) {
    oracle::EncodeOptions options;
    options.width = 48;
    options.height = 32;
    const std::vector<uint8_t> jpeg = oracle::Encode(options);
    auto transcode = [&] {
        harness::CountingAllocator allocator;
        vltJpgDecoderParams params = harness::WithAllocator(&allocator);
        MemoryStream input(jpeg);
        params.stream = input.get();
        params.chunkSize = 256;
        Encoded out;
        vltJpgDecoder decoder = nullptr;
        out.result = vltJpgDecoderCreate(&decoder, &params);
        if (out.result != 0)
            return out;
        MemoryStream output;
        vltJpgEncoder encoder = nullptr;
        out.result = vltJpgEncoderCreateFromDecoder(&encoder, decoder, output.get(), 1);
        int32_t grid[2] = {0, 0};
        vltJpgDecoderGetProp(decoder, VLTJPG_DECPROP_MCU_GRID, grid, sizeof grid);
        for (int first = 0; out.result == 0 && first < grid[0] * grid[1]; first += 5) {
            vltJpgDecoderRequest request{VLTJPG_REQUEST_HANDOVER, 0, first % grid[0],
                                         first / grid[0], nullptr};
            out.result = vltJpgDecoderReadMCUs(decoder, &request);
            vltJpgEncWriteDesc write{VLTJPG_WRITE_TRANSCODE, std::min(5, grid[0] * grid[1] - first),
                                     static_cast<uint32_t>(request.startColumn),
                                     static_cast<uint32_t>(request.startRow), request.planeSet};
            if (out.result == 0)
                out.result = vltJpgEncoderWriteMCUs(encoder, &write);
        }
        if (encoder) {
            vltJpgResult destroyed = vltJpgEncoderDestroy(encoder);
            out.result = out.result != 0 ? out.result : destroyed;
        }
        vltJpgDecoderDestroy(decoder);
        return out;
    };
    fault::Sweep(transcode, kEncoderCodes, [](const Encoded &, const Encoded &) {});
}

} // namespace
