// Shared by the decoding fuzz targets: the input behind a read-only stream
// callback, planes for decoded samples, and the frame-area cap that keeps
// every input cheap (larger frames are created and described, then left).
#ifndef QVJPEG_FUZZ_FUZZ_INPUT_H
#define QVJPEG_FUZZ_FUZZ_INPUT_H

#include "qvjpeg.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace fuzz {

constexpr int64_t kMaxFramePixels = 1 << 18;

struct Input {
    const uint8_t *data;
    size_t size;
    size_t position;
};

// Reads, seeks from the start and tells; writes go nowhere.
inline uint32_t InputCallback(uint32_t operation, void *stream, void *argument) {
    auto *input = static_cast<Input *>(stream);
    switch (operation) {
    case VLTJPG_STREAM_READ: {
        auto *request = static_cast<vltJpgStreamBuffer *>(argument);
        size_t available = input->size - input->position;
        size_t count = request->count < available ? request->count : available;
        std::memcpy(request->buffer, input->data + input->position, count);
        input->position += count;
        return static_cast<uint32_t>(count);
    }
    case VLTJPG_STREAM_SEEK: {
        auto *request = static_cast<vltJpgStreamSeekArgs *>(argument);
        if (request->origin != VLTJPG_SEEK_SET || request->offset < 0 ||
            static_cast<size_t>(request->offset) > input->size)
            return 1;
        input->position = static_cast<size_t>(request->offset);
        return 0;
    }
    case VLTJPG_STREAM_WRITE:
        return static_cast<vltJpgStreamBuffer *>(argument)->count;
    case VLTJPG_STREAM_FLUSH:
        return 1;
    case VLTJPG_STREAM_TELL:
        return static_cast<uint32_t>(input->position);
    default:
        return 0;
    }
}

// A decoder over the input from its start, or null.
inline vltJpgDecoder CreateDecoder(Input *input, uint32_t chunk) {
    input->position = 0;
    vltJpgDecoderParams params{};
    params.stream = input;
    params.streamCallback = InputCallback;
    params.chunkSize = chunk;
    vltJpgDecoder handle = nullptr;
    return vltJpgDecoderCreate(&handle, &params) == 0 ? handle : nullptr;
}

struct Image {
    int32_t width = 0;
    int32_t height = 0;
    int32_t mcuColumns = 0;
    int32_t mcuRows = 0;
    int32_t blocksPerMcu = 0;
    int32_t chromaRowRatio = 1; // luma rows per chroma row
};

// The decoder's frame; false when it is above the area cap.
inline bool Describe(vltJpgDecoder handle, Image *image) {
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
    return static_cast<int64_t>(image->width) * image->height <= kMaxFramePixels;
}

// Three planes of one size; no component is larger.
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

// Runs `work(decoder, image, options)` on a decoder over the input after
// its first byte (the options; bit 0 picks 256-byte reads) when its frame
// is within the cap and has MCUs.
template <typename Work> void DecodeInput(const uint8_t *data, size_t size, Work work) {
    if (size < 2)
        return;
    uint8_t options = data[0];
    Input input{data + 1, size - 1, 0};
    vltJpgDecoder handle = CreateDecoder(&input, (options & 1) ? 256 : 0);
    if (!handle)
        return;
    Image image;
    if (Describe(handle, &image) && image.mcuColumns > 0 && image.mcuRows > 0)
        work(handle, image, options);
    vltJpgDecoderDestroy(handle);
}

} // namespace fuzz

#endif
