// Fuzz target: decoder creation, a full decode at every scale into planes
// of exactly the image size, and MCU runs in every request mode. The first
// input byte picks the chunk size and band height; the rest is the JPEG.
#include "qvjpeg.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

struct Input {
    const uint8_t *data;
    size_t size;
    size_t position;
};

uint32_t InputCallback(uint32_t operation, void *stream, void *argument) {
    auto *input = static_cast<Input *>(stream);
    if (operation == VLTJPG_STREAM_READ) {
        auto *request = static_cast<vltJpgStreamBuffer *>(argument);
        size_t available = input->size - input->position;
        size_t count = request->count < available ? request->count : available;
        std::memcpy(request->buffer, input->data + input->position, count);
        input->position += count;
        return static_cast<uint32_t>(count);
    }
    if (operation == VLTJPG_STREAM_SEEK) {
        auto *request = static_cast<vltJpgStreamSeekArgs *>(argument);
        if (request->origin != VLTJPG_SEEK_SET || request->offset < 0 ||
            static_cast<size_t>(request->offset) > input->size)
            return 1;
        input->position = static_cast<size_t>(request->offset);
        return 0;
    }
    return operation == VLTJPG_STREAM_TELL ? static_cast<uint32_t>(input->position) : 0;
}

constexpr int64_t kMaxPixels = 1 << 22;

struct Image {
    int32_t width = 0;
    int32_t height = 0;
    int32_t mcuColumns = 0;
    int32_t mcuRows = 0;
    int32_t blocksPerMcu = 0;
    int32_t chromaRowRatio = 1; // luma rows per chroma row
};

// Three planes of the scaled image size; no component is larger.
struct Planes {
    std::vector<uint8_t> storage[3];
    uint8_t *pointers[3];
    int32_t pitches[3];
    Planes(int32_t width, int32_t height) {
        for (int c = 0; c < 3; ++c) {
            storage[c].assign(static_cast<size_t>(width) * height, 0);
            pointers[c] = storage[c].data();
            pitches[c] = width;
        }
    }
};

vltJpgDecoder Create(Input *input, uint32_t chunk) {
    input->position = 0;
    vltJpgDecoderParams params{};
    params.stream = input;
    params.streamCallback = InputCallback;
    params.chunkSize = chunk;
    vltJpgDecoder handle = nullptr;
    return vltJpgDecoderCreate(&handle, &params) == 0 ? handle : nullptr;
}

bool Describe(vltJpgDecoder handle, Image *image) {
    int32_t pair[2];
    vltJpgDecoderGetProp(handle, VLTJPG_DECPROP_SIZE, pair, 8);
    image->width = pair[0];
    image->height = pair[1];
    vltJpgDecoderGetProp(handle, VLTJPG_DECPROP_MCU_GRID, pair, 8);
    image->mcuColumns = pair[0];
    image->mcuRows = pair[1];
    vltJpgDecoderGetProp(handle, VLTJPG_DECPROP_BLOCKS_PER_MCU, &image->blocksPerMcu, 4);
    if (vltJpgDecoderGetProp(handle, VLTJPG_DECPROP_SUBSAMPLING, pair, 8) == 0)
        image->chromaRowRatio = pair[1];
    return static_cast<int64_t>(image->width) * image->height <= kMaxPixels;
}

void DecodeBands(vltJpgDecoder handle, const Image &image, int32_t denominator, int32_t band) {
    vltJpgDecoderSetProp(handle, VLTJPG_DECPROP_SCALE, &denominator, 4);
    int32_t scaled[2];
    vltJpgDecoderGetProp(handle, VLTJPG_DECPROP_SCALED_SIZE, scaled, 8);
    Planes planes(scaled[0], scaled[1]);
    int32_t done = 0;
    while (done < image.height) {
        uint8_t *pointers[3];
        for (int c = 0; c < 3; ++c) {
            int32_t row = (c == 0 ? done : done / image.chromaRowRatio) / denominator;
            pointers[c] = planes.pointers[c] + static_cast<size_t>(row) * planes.pitches[c];
        }
        int32_t lines = band;
        if (vltJpgDecoderScanlines(handle, pointers, planes.pitches, nullptr, &lines) != 0 ||
            lines == 0)
            return;
        done += lines;
    }
}

void ReadRuns(vltJpgDecoder handle, const Image &image, uint8_t seed) {
    int32_t column = seed % image.mcuColumns;
    int32_t row = (seed / 7) % image.mcuRows;
    int32_t count = 1 + seed % 5;
    std::vector<int16_t> coefficients(static_cast<size_t>(image.blocksPerMcu) * 64 * count);
    uint8_t *coefPlanes[3] = {reinterpret_cast<uint8_t *>(coefficients.data()), nullptr, nullptr};
    int32_t coefPitches[3] = {image.blocksPerMcu * 64 * count, 0, 0};
    vltJpgPlaneSet coefSet{coefPlanes, coefPitches};
    // Sample runs go into full-size planes at the run's own position; a run
    // that wraps to the next row stays inside them.
    Planes planes(image.mcuColumns * 32, image.mcuRows * 32 + 32);
    vltJpgPlaneSet sampleSet{planes.pointers, planes.pitches};
    vltJpgDecoderRequest requests[] = {
        {VLTJPG_REQUEST_COEFFICIENTS, 1, column, row, &coefSet},
        {VLTJPG_REQUEST_SAMPLES, count, 0, row, &sampleSet},
        {VLTJPG_REQUEST_HANDOVER, 1, column, 0, nullptr},
        {VLTJPG_REQUEST_SAMPLES, 1, 0, 0, &sampleSet},
        {3, 1, 0, 0, &sampleSet},
    };
    for (vltJpgDecoderRequest &request : requests)
        vltJpgDecoderReadMCUs(handle, &request);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 2)
        return 0;
    uint8_t options = data[0];
    Input input{data + 1, size - 1, 0};
    uint32_t chunk = (options & 1) ? 256 : 0;
    int32_t band = 8 << ((options >> 1) & 3);
    for (int32_t denominator : {1, 2, 4, 8}) {
        vltJpgDecoder handle = Create(&input, chunk);
        if (!handle)
            return 0;
        Image image;
        if (Describe(handle, &image)) {
            DecodeBands(handle, image, denominator, band);
            if (denominator == 1)
                ReadRuns(handle, image, options);
        }
        vltJpgDecoderDestroy(handle);
    }
    return 0;
}
