// Encoder lifecycle around its streams and memory: buffer sizes, stream
// failures, platform streams, host allocators, several images through one
// encoder, and the refusals of creation and input.
#include "enc_oracle.h"
#include "memory_stream.h"

#include <gtest/gtest.h>

#include <set>

using namespace enc_test;

namespace {

class TinyBuffers : public ::testing::TestWithParam<uint32_t> {};

// No header byte or block may run past the buffer, whatever its size.
TEST_P(TinyBuffers, EveryBufferSizeWritesTheSameFile) {
    CoefImage image = RandomCoefficients(0, 48, 40, 60);
    EncodeOptions options;
    options.restartInterval = 2;
    std::vector<uint8_t> reference = EncodeWhole(image, 48, 40, 0, options);
    options.bufferSize = GetParam();
    std::vector<uint8_t> file = EncodeWhole(image, 48, 40, 0, options);
    EXPECT_EQ(reference, file);
    Decoded decoded = DecodeCoefficients(file);
    EXPECT_EQ(0, decoded.warnings);
    EXPECT_TRUE(SameCoefficients(image, decoded));
}

INSTANTIATE_TEST_SUITE_P(Sizes, TinyBuffers, ::testing::Values(1u, 2u, 3u, 7u, 64u, 333u));

// Blocks whose every value is large and every code long: the most one
// block can add after the flush became due.
TEST(EncoderBuffer, WorstCaseBlocksStayInsideTheBuffer) {
    CoefImage image = RandomCoefficients(4, 64, 8, 61);
    for (Block &block : image.planes[0]) {
        for (int k = 0; k < 64; ++k)
            block[k] = static_cast<int16_t>(k % 2 ? -1023 : 1023);
    }
    for (uint32_t size : {1u, 5u, 100u}) {
        EncodeOptions options;
        options.bufferSize = size;
        Decoded decoded = DecodeCoefficients(EncodeWhole(image, 64, 8, 4, options));
        EXPECT_EQ(0, decoded.warnings);
        EXPECT_TRUE(SameCoefficients(image, decoded));
    }
}

// A short write of the trailer, or a flush that fails as the file ends,
// loses its end: reported, and the handle is still freed (the leak
// checker would see it otherwise).
TEST(EncoderStreamFailure, LostEndOfTheFileIsReported) {
    for (bool flushFails : {false, true}) {
        TestEncoder encoder(16, 16, 3, false);
        CoefImage image = RandomCoefficients(3, 16, 16, 62);
        ASSERT_EQ(0u, encoder.Band(image, 16, 0, image.geometry.mcuRows));
        encoder.sink.failWrites = !flushFails;
        encoder.sink.failFlushes = flushFails;
        EXPECT_EQ(VLTJPG_ERR_SHORT_WRITE, encoder.Destroy()) << flushFails;
    }
}

TEST(EncoderStreamFailure, ShortWriteOfTheHeaderIsReported) {
    ByteSink sink;
    sink.failWrites = true;
    vltJpgEncCreateInfo info = CoefficientInfo(&sink, 16, 16, 3);
    info.headerOnCreate = 1;
    vltJpgEncoder encoder = &sink;
    EXPECT_EQ(VLTJPG_ERR_SHORT_WRITE, vltJpgEncoderCreate(&encoder, &info));
    EXPECT_EQ(nullptr, encoder);
}

// The first short write is reported by every later call that writes the
// file and by destruction, though their own writes succeed.
TEST(EncoderStreamFailure, FirstShortWriteIsKeptUntilDestruction) {
    TestEncoder encoder(16, 0, 0, false); // height unknown: bands of any size
    encoder.Set(VLTJPG_ENCPROP_BUFFER_SIZE, 16); // the header flushes within the first band
    CoefImage image = RandomCoefficients(0, 16, 32, 64);
    encoder.sink.failWrites = true;
    EXPECT_EQ(VLTJPG_ERR_SHORT_WRITE, encoder.Band(image, 16, 0, 1));
    encoder.sink.failWrites = false;
    EXPECT_EQ(VLTJPG_ERR_SHORT_WRITE, encoder.Band(image, 16, 1, 1));
    EXPECT_EQ(VLTJPG_ERR_SHORT_WRITE, encoder.Destroy());
}

TEST(EncoderPlatformStream, WritesThroughLibqvbaseWithoutCallback) {
    MemoryStream stream;
    vltJpgEncCreateInfo info{};
    info.stream = stream.get();
    info.width = 30;
    info.height = 20;
    info.pixelFormat = VLTJPG_PIXEL_COEFFICIENTS;
    info.samplingMode = 2;
    CoefImage image = RandomCoefficients(2, 30, 20, 63);
    ASSERT_EQ(0u, EncodeOnce(info, image, EncodeOptions{}));
    Decoded decoded = DecodeCoefficients(stream.Contents());
    EXPECT_EQ(0, decoded.warnings);
    EXPECT_TRUE(SameCoefficients(image, decoded));
}

struct HostHeap {
    std::set<void *> live;
    int allocations = 0;
    bool refuse = false;
};

void *HostAlloc(uint32_t size, void *context) {
    auto *heap = static_cast<HostHeap *>(context);
    if (heap->refuse)
        return nullptr;
    void *block = std::malloc(size);
    heap->live.insert(block);
    ++heap->allocations;
    return block;
}

void HostFree(void *block, void *context) {
    auto *heap = static_cast<HostHeap *>(context);
    EXPECT_EQ(1u, heap->live.erase(block));
    std::free(block);
}

void EncodeWithHeap(HostHeap &heap) {
    ByteSink sink;
    vltJpgEncCreateInfo info = CoefficientInfo(&sink, 24, 24, 0);
    info.alloc = HostAlloc;
    info.release = HostFree;
    info.memContext = &heap;
    CoefImage image = RandomCoefficients(0, 24, 24, 64);
    ASSERT_EQ(0u, EncodeOnce(info, image, EncodeOptions{}));
    EXPECT_TRUE(SameCoefficients(image, DecodeCoefficients(sink.bytes)));
}

TEST(EncoderMemory, HostBlocksAllGoBackToTheHost) {
    HostHeap heap;
    EncodeWithHeap(heap);
    EXPECT_GT(heap.allocations, 5);
    EXPECT_LE(heap.allocations, 18);
    EXPECT_TRUE(heap.live.empty());
}

TEST(EncoderMemory, RefusingHostFallsBackToThePlatformHeap) {
    HostHeap heap;
    heap.refuse = true;
    EncodeWithHeap(heap);
    EXPECT_EQ(0, heap.allocations);
}

// One further image through the encoder, onto its own stream.
vltJpgResult EncodeImageOnto(TestEncoder &encoder, const CoefImage &image, uint32_t width,
                             uint32_t height, ByteSink &imageSink) {
    uint32_t size[2] = {width, height};
    vltJpgResult result = vltJpgEncoderSetProp(encoder.handle, VLTJPG_ENCPROP_IMAGE_SIZE, size, 8);
    if (result != 0)
        return result;
    CoefBand band(image);
    return vltJpgEncoderDefaultScanlines(encoder.handle, band.planes, band.pitches, 0, &height,
                                         &imageSink);
}

// An image onto its own stream whose closing flush fails reports it; the
// encoder's own stream is untouched and destruction succeeds.
TEST(EncoderSeveralImages, FailedFlushOfAnImageStreamIsReportedByThatImage) {
    TestEncoder encoder(16, 16, 4, true);
    CoefImage image = RandomCoefficients(4, 16, 16, 66);
    ByteSink imageSink;
    imageSink.failFlushes = true;
    EXPECT_EQ(VLTJPG_ERR_SHORT_WRITE, EncodeImageOnto(encoder, image, 16, 16, imageSink));
    imageSink.failFlushes = false;
    EXPECT_EQ(0u, EncodeImageOnto(encoder, image, 16, 16, imageSink));
    EXPECT_EQ(0u, encoder.Destroy());
}

// Header on create with one image per vltJpgEncoderDefaultScanlines: each
// image stream is frame header, scan header, data and EOI, and starts its
// restart markers at RST0 with a full interval.
TEST(EncoderSeveralImages, EveryImageStartsAtRst0) {
    TestEncoder encoder(48, 32, 0, true);
    ASSERT_EQ(0u, encoder.Set(VLTJPG_ENCPROP_RESTART, 5));
    ASSERT_EQ(0u, encoder.Set(VLTJPG_ENCPROP_QUALITY, 70)); // header rewritten with the DRI
    std::vector<uint8_t> tables = TablesOnly(encoder.sink.bytes);
    ASSERT_GE(FindMarker(tables, 0xDD), 0);
    for (uint32_t n = 0; n < 2; ++n) {
        CoefImage image = RandomCoefficients(0, 48, 32, 65 + n);
        ByteSink imageSink;
        ASSERT_EQ(0u, EncodeImageOnto(encoder, image, 48, 32, imageSink));
        EXPECT_EQ((std::vector<int>{0}), RestartNumbers(imageSink.bytes)); // 6 MCUs, interval 5
        EXPECT_EQ(0xC0, imageSink.bytes[1]);
        std::vector<uint8_t> file = tables;
        file.insert(file.end(), imageSink.bytes.begin(), imageSink.bytes.end());
        Decoded decoded = DecodeCoefficients(file);
        EXPECT_EQ(0, decoded.warnings) << "image " << n;
        EXPECT_TRUE(SameCoefficients(image, decoded)) << "image " << n;
    }
    size_t headerBytes = encoder.sink.bytes.size();
    EXPECT_EQ(0u, encoder.Destroy());
    EXPECT_EQ(headerBytes, encoder.sink.bytes.size());
}

// A quality change between images rewrites the header on the creation
// stream, never on the stream of the image before.
TEST(EncoderSeveralImages, QualityChangeRewritesTheCreationHeader) {
    TestEncoder encoder(32, 16, 3, true);
    CoefImage first = RandomCoefficients(3, 32, 16, 90);
    ByteSink firstSink;
    ASSERT_EQ(0u, EncodeImageOnto(encoder, first, 32, 16, firstSink));
    std::vector<uint8_t> firstBytes = firstSink.bytes;
    ASSERT_EQ(0u, encoder.Set(VLTJPG_ENCPROP_QUALITY, 50));
    EXPECT_EQ(firstBytes, firstSink.bytes);
    std::vector<uint8_t> tables = TablesOnly(encoder.sink.bytes);
    CoefImage second = RandomCoefficients(3, 32, 16, 91);
    ByteSink secondSink;
    ASSERT_EQ(0u, EncodeImageOnto(encoder, second, 32, 16, secondSink));
    std::vector<uint8_t> file = tables;
    file.insert(file.end(), secondSink.bytes.begin(), secondSink.bytes.end());
    Decoded decoded = DecodeCoefficients(file);
    EXPECT_EQ(0, decoded.warnings);
    EXPECT_EQ(16, decoded.quantTables[0][0]);  // quality 50: the standard table
    EXPECT_TRUE(SameCoefficients(second, decoded));
}

// Without the header on create, an image ended by its own trailer is not
// ended again at destruction, and the next image gets its own header.
TEST(EncoderSeveralImages, DefaultScanlinesEndsItsImageOnce) {
    TestEncoder encoder(16, 16, 3, false);
    for (uint32_t n = 0; n < 2; ++n) {
        CoefImage image = RandomCoefficients(3, 16, 16, 70 + n);
        ByteSink imageSink;
        ASSERT_EQ(0u, EncodeImageOnto(encoder, image, 16, 16, imageSink));
        Decoded decoded = DecodeCoefficients(imageSink.bytes);
        EXPECT_EQ(0, decoded.warnings);
        EXPECT_TRUE(SameCoefficients(image, decoded));
        EXPECT_EQ(FindMarker(imageSink.bytes, 0xD9), static_cast<long>(imageSink.bytes.size() - 2));
    }
    EXPECT_EQ(0u, encoder.Destroy());
    EXPECT_TRUE(encoder.sink.bytes.empty());
}

// With the height unknown, every image gets the height of its own lines.
TEST(EncoderSeveralImages, UnknownHeightIsPatchedPerImage) {
    TestEncoder encoder(24, 0, 4, false);
    for (uint32_t lines : {20u, 9u}) {
        CoefImage image = RandomCoefficients(4, 24, lines, 80 + lines);
        CoefBand band(image);
        ByteSink imageSink;
        ASSERT_EQ(0u, vltJpgEncoderDefaultScanlines(encoder.handle, band.planes, band.pitches, 0,
                                                    &lines, &imageSink));
        Decoded decoded = DecodeCoefficients(imageSink.bytes);
        EXPECT_EQ(0, decoded.warnings);
        EXPECT_EQ(static_cast<int>(lines), decoded.height);
        EXPECT_TRUE(SameCoefficients(image, decoded));
    }
}

TEST(EncoderRefusals, CreationChecksItsRecord) {
    ByteSink sink;
    vltJpgEncoder encoder = &sink;
    EXPECT_EQ(VLTJPG_ERR_ARGUMENT, vltJpgEncoderCreate(&encoder, nullptr));
    EXPECT_EQ(nullptr, encoder);
    EXPECT_EQ(VLTJPG_ERR_ARGUMENT, vltJpgEncoderCreate(nullptr, nullptr));
    vltJpgEncCreateInfo info = CoefficientInfo(&sink, 16, 16, 3);
    info.pixelFormat = 23;
    EXPECT_EQ(VLTJPG_ERR_ARGUMENT, vltJpgEncoderCreate(&encoder, &info));
    info = CoefficientInfo(&sink, 16, 16, 5);
    EXPECT_EQ(VLTJPG_ERR_ARGUMENT, vltJpgEncoderCreate(&encoder, &info));
    const uint32_t badSizes[][2] = {{0, 16}, {65536, 16}, {16, 65536}};
    for (const auto &size : badSizes) {
        info = CoefficientInfo(&sink, size[0], size[1], 3);
        EXPECT_EQ(VLTJPG_ERR_ARGUMENT, vltJpgEncoderCreate(&encoder, &info));
    }
    for (uint32_t reserved : {19u, 20u}) {
        info = CoefficientInfo(&sink, 16, 16, 3);
        info.pixelFormat = reserved;
        EXPECT_EQ(VLTJPG_ERR_UNSUPPORTED, vltJpgEncoderCreate(&encoder, &info));
    }
    EXPECT_EQ(nullptr, encoder);
    EXPECT_EQ(VLTJPG_ERR_ARGUMENT, vltJpgEncoderDestroy(nullptr));
    EXPECT_TRUE(sink.bytes.empty());
}

TEST(EncoderRefusals, InputChecksItsArguments) {
    TestEncoder encoder(16, 16, 3, false);
    int16_t values[64 * 3 * 4] = {};
    uint8_t *planes[3] = {reinterpret_cast<uint8_t *>(values), nullptr, nullptr};
    int32_t pitches[3] = {64 * 3 * 2 * 2, 0, 0};
    uint32_t lines = 0;
    EXPECT_EQ(VLTJPG_ERR_ARGUMENT,
              vltJpgEncoderScanlines(encoder.handle, planes, pitches, 0, &lines));
    lines = 16;
    EXPECT_EQ(VLTJPG_ERR_ARGUMENT, vltJpgEncoderScanlines(nullptr, planes, pitches, 0, &lines));
    EXPECT_EQ(VLTJPG_ERR_ARGUMENT,
              vltJpgEncoderScanlines(encoder.handle, nullptr, pitches, 0, &lines));
    EXPECT_EQ(VLTJPG_ERR_ARGUMENT,
              vltJpgEncoderDefaultScanlines(encoder.handle, planes, pitches, 0, &lines, nullptr));
    EXPECT_TRUE(encoder.sink.bytes.empty());
}

TEST(EncoderRefusals, DecoderBlocksAreNotBandInput) {
    for (uint32_t format : {17u}) {
        ByteSink sink;
        vltJpgEncCreateInfo info = CoefficientInfo(&sink, 16, 16, 3);
        info.pixelFormat = format;
        vltJpgEncoder encoder = nullptr;
        ASSERT_EQ(0u, vltJpgEncoderCreate(&encoder, &info)) << format;
        uint8_t samples[16 * 16] = {};
        uint8_t *planes[3] = {samples, samples, samples};
        int32_t pitches[3] = {16, 16, 16};
        uint32_t lines = 16;
        EXPECT_EQ(VLTJPG_ERR_UNSUPPORTED,
                  vltJpgEncoderScanlines(encoder, planes, pitches, 0, &lines))
            << format;
        EXPECT_EQ(0u, vltJpgEncoderDestroy(encoder));
        EXPECT_TRUE(sink.bytes.empty()) << format;
    }
}

} // namespace
