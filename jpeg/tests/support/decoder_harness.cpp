#include "decoder_harness.h"

#include "fault_injection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace harness {

void *CountingAllocator::Alloc(uint32_t size, void *context) {
    auto *self = static_cast<CountingAllocator *>(context);
    if (self->refuse || fault::FailsHostAllocation())
        return nullptr;
    void *block = std::malloc(size);
    self->allocations += 1;
    self->live.insert(block);
    fault::NoteBlock(1, block);
    return block;
}

void CountingAllocator::Free(void *block, void *context) {
    auto *self = static_cast<CountingAllocator *>(context);
    EXPECT_EQ(self->live.erase(block), 1u);
    self->frees += 1;
    fault::NoteBlock(-1, block);
    std::free(block);
}

vltJpgDecoderParams WithAllocator(CountingAllocator *allocator) {
    vltJpgDecoderParams params{};
    params.memContext = allocator;
    params.alloc = CountingAllocator::Alloc;
    params.release = CountingAllocator::Free;
    return params;
}

uint32_t ReadFromBytes(const std::vector<uint8_t> &data, size_t *position,
                       vltJpgStreamBuffer *request, size_t maxRead) {
    size_t available = data.size() - std::min(*position, data.size());
    size_t count = std::min<size_t>({request->count, available, maxRead});
    if (count > 0)
        std::memcpy(request->buffer, data.data() + *position, count);
    *position += count;
    return static_cast<uint32_t>(count);
}

uint32_t SeekInBytes(size_t size, size_t *position, const vltJpgStreamSeekArgs *seek) {
    int64_t base = seek->origin == VLTJPG_SEEK_SET   ? 0
                   : seek->origin == VLTJPG_SEEK_END ? static_cast<int64_t>(size)
                                                     : static_cast<int64_t>(*position);
    int64_t target = base + seek->offset;
    if (target < 0 || target > static_cast<int64_t>(size))
        return 1;
    *position = static_cast<size_t>(target);
    return 0;
}

uint32_t VectorStream::Callback(uint32_t operation, void *stream, void *argument) {
    auto *self = static_cast<VectorStream *>(stream);
    if (fault::FailsStream(operation))
        return fault::FailedStreamResult(operation, 0);
    switch (operation) {
    case VLTJPG_STREAM_READ:
        self->reads += 1;
        return ReadFromBytes(self->data, &self->position,
                             static_cast<vltJpgStreamBuffer *>(argument));
    case VLTJPG_STREAM_SEEK:
        self->seeks += 1;
        if (!self->seekable)
            return 1;
        return SeekInBytes(self->data.size(), &self->position,
                           static_cast<vltJpgStreamSeekArgs *>(argument));
    case VLTJPG_STREAM_TELL:
        self->tells += 1;
        return static_cast<uint32_t>(self->position);
    default:
        return 0;
    }
}

GuardedPlane::GuardedPlane(int width, int height)
    : width_(width), height_(height), pitch_(width + 2 * kGuardColumns),
      storage_(static_cast<size_t>(pitch_) * (height + 2 * kGuardRows), kGuard) {}

bool GuardedPlane::GuardsIntact() const {
    for (int y = 0; y < height_ + 2 * kGuardRows; ++y) {
        for (int x = 0; x < pitch_; ++x) {
            bool inside = y >= kGuardRows && y < kGuardRows + height_ && x >= kGuardColumns &&
                          x < kGuardColumns + width_;
            if (!inside && storage_[static_cast<size_t>(y) * pitch_ + x] != kGuard)
                return false;
        }
    }
    return true;
}

oracle::Plane GuardedPlane::Extract() const {
    oracle::Plane plane;
    plane.width = width_;
    plane.height = height_;
    plane.samples.resize(static_cast<size_t>(width_) * height_);
    for (int y = 0; y < height_; ++y) {
        std::memcpy(&plane.samples[static_cast<size_t>(y) * width_],
                    &storage_[static_cast<size_t>(y + kGuardRows) * pitch_ + kGuardColumns],
                    width_);
    }
    return plane;
}

namespace {

vltJpgDecoderParams ParamsWithChunk(uint32_t chunkSize) {
    vltJpgDecoderParams params{};
    params.chunkSize = chunkSize;
    return params;
}

} // namespace

Decoder::Decoder(const std::vector<uint8_t> &jpeg, uint32_t chunkSize)
    : Decoder(jpeg, ParamsWithChunk(chunkSize)) {}

Decoder::Decoder(const std::vector<uint8_t> &jpeg, vltJpgDecoderParams params,
                 size_t startOffset) {
    stream_.data = jpeg;
    stream_.position = startOffset;
    params.stream = &stream_;
    params.streamCallback = VectorStream::Callback;
    createResult_ = vltJpgDecoderCreate(&handle_, &params);
}

Decoder::~Decoder() {
    if (handle_)
        vltJpgDecoderDestroy(handle_);
}

uint32_t Decoder::SetScale(int32_t denominator) {
    return vltJpgDecoderSetProp(handle_, VLTJPG_DECPROP_SCALE, &denominator, 4);
}

void Decoder::GetPair(uint32_t id, int32_t *first, int32_t *second) {
    int32_t pair[2] = {-1, -1};
    vltJpgDecoderGetProp(handle_, id, pair, 8);
    *first = pair[0];
    *second = pair[1];
}

int32_t Decoder::GetWord(uint32_t id) {
    int32_t value = -1;
    vltJpgDecoderGetProp(handle_, id, &value, 4);
    return value;
}

OutputPlanes::OutputPlanes(const oracle::FrameInfo &info, int denominator) {
    for (int c = 0; c < info.components; ++c) {
        planes.emplace_back(
            oracle::ComponentExtent(info.width, info.h[c], info.maxH, denominator),
            oracle::ComponentExtent(info.height, info.v[c], info.maxV, denominator));
    }
}

PlanePointers OutputPlanes::Origins() {
    PlanePointers pointers;
    for (size_t c = 0; c < planes.size() && c < 3; ++c) {
        pointers.planes[c] = planes[c].origin();
        pointers.pitches[c] = planes[c].pitch();
    }
    return pointers;
}

bool OutputPlanes::GuardsIntact() const {
    for (const GuardedPlane &plane : planes) {
        if (!plane.GuardsIntact())
            return false;
    }
    return true;
}

std::vector<oracle::Plane> OutputPlanes::Extract() const {
    std::vector<oracle::Plane> result;
    for (const GuardedPlane &plane : planes)
        result.push_back(plane.Extract());
    return result;
}

uint32_t DecodeBands(Decoder &dec, const oracle::FrameInfo &info, int denominator,
                     OutputPlanes &out, int bandLines) {
    int lines = bandLines > 0 ? bandLines : info.height;
    int shift = 0;
    while ((1 << shift) < denominator)
        ++shift;
    int done = 0;
    while (done < info.height) {
        PlanePointers band = out.Origins();
        for (size_t c = 0; c < out.planes.size() && c < 3; ++c) {
            int row = (done * info.v[c] / info.maxV) >> shift;
            band.planes[c] += static_cast<size_t>(row) * band.pitches[c];
        }
        int32_t count = lines;
        uint32_t result =
            vltJpgDecoderScanlines(dec.handle(), band.planes, band.pitches, nullptr, &count);
        if (result != 0)
            return result;
        if (count == 0)
            return 0x7FFF; // the decoder stopped handing out lines early
        done += count;
    }
    return 0;
}

Decoded DecodeImage(const std::vector<uint8_t> &jpeg, int denominator, int bandLines) {
    return DecodeImage(jpeg, oracle::ReadFrameInfo(jpeg), denominator, bandLines);
}

Decoded DecodeImage(const std::vector<uint8_t> &jpeg, const oracle::FrameInfo &info,
                    int denominator, int bandLines) {
    Decoded decoded;
    Decoder dec(jpeg);
    decoded.result = dec.created();
    if (decoded.result != 0)
        return decoded;
    decoded.result = dec.SetScale(denominator);
    OutputPlanes out(info, denominator);
    if (decoded.result == 0)
        decoded.result = DecodeBands(dec, info, denominator, out, bandLines);
    decoded.guardsIntact = out.GuardsIntact();
    decoded.planes = out.Extract();
    return decoded;
}

// Reads every MCU as coefficients and checks each block against libjpeg.
void ExpectCoefficientsMatch(const std::vector<uint8_t> &jpeg) {
    oracle::FrameInfo info = oracle::ReadFrameInfo(jpeg);
    std::vector<oracle::ComponentCoefficients> expected = oracle::ReadCoefficients(jpeg);
    Decoder dec(jpeg);
    ASSERT_EQ(dec.created(), 0u);
    int32_t columns, rows;
    dec.GetPair(VLTJPG_DECPROP_MCU_GRID, &columns, &rows);
    int32_t blocks = dec.GetWord(VLTJPG_DECPROP_BLOCKS_PER_MCU);
    std::vector<int16_t> coefficients(static_cast<size_t>(columns) * rows * blocks * 64, 0x7777);
    uint8_t *planes[3] = {reinterpret_cast<uint8_t *>(coefficients.data()), nullptr, nullptr};
    int32_t pitches[3] = {columns * blocks * 64, 0, 0};
    vltJpgPlaneSet set{planes, pitches};
    vltJpgDecoderRequest request{VLTJPG_REQUEST_COEFFICIENTS, columns * rows, 0, 0, &set};
    ASSERT_EQ(vltJpgDecoderReadMCUs(dec.handle(), &request), 0u);
    EXPECT_EQ(request.mcuCount, 0);

    const int16_t *block = coefficients.data();
    int mismatches = 0;
    for (int my = 0; my < rows; ++my) {
        for (int mx = 0; mx < columns; ++mx) {
            for (int c = 0; c < info.components; ++c) {
                int h = info.components == 1 ? 1 : info.h[c];
                int v = info.components == 1 ? 1 : info.v[c];
                for (int by = 0; by < v; ++by) {
                    for (int bx = 0; bx < h; ++bx, block += 64) {
                        int x = mx * h + bx, y = my * v + by;
                        if (x >= expected[c].blocksWide || y >= expected[c].blocksHigh)
                            continue; // padding block of the MCU
                        const int16_t *want = expected[c].block(x, y);
                        for (int i = 0; i < 64; ++i)
                            mismatches += block[i] != want[i];
                    }
                }
            }
        }
    }
    EXPECT_EQ(mismatches, 0);
}

bool ReadFileBytes(const char *path, std::vector<uint8_t> *data) {
    FILE *file = std::fopen(path, "rb");
    if (!file)
        return false;
    std::fseek(file, 0, SEEK_END);
    long size = std::ftell(file);
    std::fseek(file, 0, SEEK_SET);
    data->resize(size > 0 ? static_cast<size_t>(size) : 0);
    size_t got = std::fread(data->data(), 1, data->size(), file);
    std::fclose(file);
    return got == data->size();
}

void ExpectSamePlanes(const std::vector<oracle::Plane> &a, const std::vector<oracle::Plane> &b) {
    ASSERT_EQ(a.size(), b.size());
    for (size_t c = 0; c < a.size(); ++c)
        EXPECT_EQ(a[c].samples, b[c].samples) << "plane " << c;
}

} // namespace harness
