// Random-access index test support: blocks in and out of a decoder, and
// images read back as MCU runs in random order.
#include "index_support.h"

#include "qvjpeg.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

namespace index_support {

using harness::Decoder;

std::vector<uint8_t> ExportBlock(Decoder &dec) {
    vltJpgDecIndexBlock block{};
    EXPECT_EQ(vltJpgDecoderGetProp(dec.handle(), VLTJPG_DECPROP_INDEX, &block, sizeof block), 0u);
    const auto *bytes = static_cast<const uint8_t *>(block.address);
    return bytes ? std::vector<uint8_t>(bytes, bytes + block.size) : std::vector<uint8_t>();
}

uint32_t Import(Decoder &dec, std::vector<uint8_t> &block) {
    vltJpgDecIndexBlock value{static_cast<uint32_t>(block.size()), block.data()};
    return vltJpgDecoderSetProp(dec.handle(), VLTJPG_DECPROP_INDEX, &value, sizeof value);
}

uint32_t WordAt(const std::vector<uint8_t> &block, size_t offset) {
    uint32_t word;
    std::memcpy(&word, &block[offset], 4);
    return word;
}

uint32_t ReadInRandomRuns(Decoder &dec, const oracle::FrameInfo &info, int shift,
                          harness::OutputPlanes &out, unsigned seed) {
    int32_t columns, rows;
    dec.GetPair(VLTJPG_DECPROP_MCU_GRID, &columns, &rows);
    std::mt19937 random(seed);
    std::vector<std::pair<int, int>> runs; // first MCU, count
    for (int first = 0; first < columns * rows;) {
        int count = std::min(1 + static_cast<int>(random() % 7), columns - first % columns);
        runs.emplace_back(first, count);
        first += count;
    }
    std::shuffle(runs.begin(), runs.end(), random);
    for (auto [first, count] : runs) {
        int column = first % columns;
        int row = first / columns;
        harness::PlanePointers t;
        for (size_t c = 0; c < out.planes.size(); ++c) {
            t.pitches[c] = out.planes[c].pitch();
            t.planes[c] = out.planes[c].origin() +
                          static_cast<size_t>((row * 8 * info.v[c]) >> shift) * t.pitches[c] +
                          ((column * 8 * info.h[c]) >> shift);
        }
        vltJpgPlaneSet set = t.set();
        vltJpgDecoderRequest request{VLTJPG_REQUEST_SAMPLES, count, column, row, &set};
        uint32_t result = vltJpgDecoderReadMCUs(dec.handle(), &request);
        if (result != 0)
            return result;
    }
    return 0;
}

void ExpectRandomRunsMatch(Decoder &dec, const oracle::FrameInfo &info, int scale,
                           const harness::Decoded &reference, unsigned seed) {
    ASSERT_EQ(dec.SetScale(scale), 0u);
    int shift = scale == 1 ? 0 : scale == 2 ? 1 : scale == 4 ? 2 : 3;
    harness::OutputPlanes out(info, scale);
    ASSERT_EQ(ReadInRandomRuns(dec, info, shift, out, seed), 0u);
    EXPECT_TRUE(out.GuardsIntact());
    harness::ExpectSamePlanes(out.Extract(), reference.planes);
}

} // namespace index_support
