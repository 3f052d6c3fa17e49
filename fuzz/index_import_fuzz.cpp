// Fuzz target: importing an index block. A small 4:2:0 JPEG with restart
// intervals is made at start-up by the encoder from coefficients, with the
// block a decoder builds for it. Odd first bytes make the rest of the
// input the block itself; even ones patch the valid block (three bytes per
// patch: offset, value) and may cut it short, so that blocks which pass
// the import checks with skewed offsets and DC values are decoded too.
// Whatever is imported, MCU runs over the whole image must stay inside
// their planes.
#include "qvjpeg.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

constexpr int32_t kWidth = 48;
constexpr int32_t kHeight = 32;
constexpr int32_t kMcuColumns = 3;
constexpr int32_t kMcuRows = 2;
constexpr int32_t kBlocksPerMcu = 6;

struct Bytes {
    std::vector<uint8_t> data;
    size_t position = 0;
};

uint32_t BytesCallback(uint32_t operation, void *stream, void *argument) {
    auto *bytes = static_cast<Bytes *>(stream);
    size_t size = bytes->data.size();
    switch (operation) {
    case VLTJPG_STREAM_READ: {
        auto *request = static_cast<vltJpgStreamBuffer *>(argument);
        size_t count = request->count < size - bytes->position ? request->count
                                                                : size - bytes->position;
        std::memcpy(request->buffer, bytes->data.data() + bytes->position, count);
        bytes->position += count;
        return static_cast<uint32_t>(count);
    }
    case VLTJPG_STREAM_WRITE: {
        auto *request = static_cast<vltJpgStreamBuffer *>(argument);
        const auto *from = static_cast<const uint8_t *>(request->buffer);
        bytes->data.insert(bytes->data.end(), from, from + request->count);
        bytes->position = bytes->data.size();
        return request->count;
    }
    case VLTJPG_STREAM_SEEK: {
        auto *request = static_cast<vltJpgStreamSeekArgs *>(argument);
        int64_t base = request->origin == VLTJPG_SEEK_END ? static_cast<int64_t>(size) : 0;
        int64_t target = base + request->offset;
        if (request->origin == VLTJPG_SEEK_CUR || target < 0 || target > static_cast<int64_t>(size))
            return 1;
        bytes->position = static_cast<size_t>(target);
        return 0;
    }
    case VLTJPG_STREAM_TELL:
        return static_cast<uint32_t>(bytes->position);
    default:
        return 0;
    }
}

std::vector<uint8_t> MakeJpeg() {
    std::vector<int16_t> coefficients(kMcuColumns * kMcuRows * kBlocksPerMcu * 64, 0);
    for (size_t b = 0; b < coefficients.size() / 64; ++b) {
        int16_t *block = &coefficients[b * 64];
        block[0] = static_cast<int16_t>((b * 37) % 200) - 100;
        block[1 + b % 9] = static_cast<int16_t>(b % 7) - 3;
        block[63 - b % 5] = 255; // long blocks with stuffed bytes
    }
    Bytes out;
    vltJpgEncCreateInfo info{};
    info.stream = &out;
    info.width = kWidth;
    info.height = kHeight;
    info.pixelFormat = VLTJPG_PIXEL_COEFFICIENTS;
    info.streamCallback = BytesCallback;
    vltJpgEncoder encoder = nullptr;
    vltJpgEncoderCreate(&encoder, &info);
    uint32_t restart = 2;
    vltJpgEncoderSetProp(encoder, VLTJPG_ENCPROP_RESTART, &restart, sizeof restart);
    uint8_t *planes[3] = {reinterpret_cast<uint8_t *>(coefficients.data()), nullptr, nullptr};
    int32_t pitches[3] = {kMcuColumns * kBlocksPerMcu * 128, 0, 0};
    uint32_t lines = kHeight;
    vltJpgEncoderScanlines(encoder, planes, pitches, 0, &lines);
    vltJpgEncoderDestroy(encoder);
    return out.data;
}

vltJpgDecoder Open(Bytes *bytes, uint32_t interval) {
    bytes->position = 0;
    vltJpgDecoderParams params{};
    params.stream = bytes;
    params.streamCallback = BytesCallback;
    params.indexInterval = interval;
    params.chunkSize = 256;
    vltJpgDecoder decoder = nullptr;
    return vltJpgDecoderCreate(&decoder, &params) == 0 ? decoder : nullptr;
}

std::vector<uint8_t> BuiltBlock(Bytes *jpeg) {
    vltJpgDecoder decoder = Open(jpeg, 1);
    int32_t unused = 0;
    vltJpgDecoderGetProp(decoder, VLTJPG_DECPROP_BUILD_INDEX, &unused, 4);
    vltJpgDecIndexBlock block{};
    vltJpgDecoderGetProp(decoder, VLTJPG_DECPROP_INDEX, &block, sizeof block);
    const auto *at = static_cast<const uint8_t *>(block.address);
    std::vector<uint8_t> copy(at, at + block.size);
    vltJpgDecoderDestroy(decoder);
    return copy;
}

// Every MCU, row by row from the bottom, each row as two runs, into planes
// of exactly the image's component sizes.
void ReadBackwards(vltJpgDecoder decoder) {
    std::vector<uint8_t> luma(kWidth * kHeight), cb(kWidth * kHeight / 4), cr(kWidth * kHeight / 4);
    for (int32_t row = kMcuRows - 1; row >= 0; --row) {
        for (int32_t column : {1, 0}) {
            uint8_t *planes[3] = {&luma[row * 16 * kWidth + column * 16],
                                  &cb[row * 8 * kWidth / 2 + column * 8],
                                  &cr[row * 8 * kWidth / 2 + column * 8]};
            int32_t pitches[3] = {kWidth, kWidth / 2, kWidth / 2};
            vltJpgPlaneSet set{planes, pitches};
            vltJpgDecoderRequest request{VLTJPG_REQUEST_SAMPLES, column ? kMcuColumns - 1 : 1,
                                         column, row, &set};
            vltJpgDecoderReadMCUs(decoder, &request);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static Bytes jpeg{MakeJpeg(), 0};
    static const std::vector<uint8_t> valid = BuiltBlock(&jpeg);
    if (size < 1)
        return 0;
    std::vector<uint8_t> block;
    if (data[0] & 1) {
        block.assign(data + 1, data + size);
    } else {
        block = valid;
        for (size_t i = 1; i + 2 < size; i += 3)
            block[(data[i] | data[i + 1] << 8) % block.size()] = data[i + 2];
        block.resize(block.size() - (data[0] >> 1) % 8);
    }
    vltJpgDecoder decoder = Open(&jpeg, data[0] >> 4);
    if (!decoder)
        return 0;
    vltJpgDecIndexBlock value{static_cast<uint32_t>(block.size()), block.data()};
    if (vltJpgDecoderSetProp(decoder, VLTJPG_DECPROP_INDEX, &value, sizeof value) == 0)
        ReadBackwards(decoder);
    vltJpgDecoderDestroy(decoder);
    return 0;
}
