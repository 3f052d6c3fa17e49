// Forward transforms: the edge cases of the quantizers, the processor
// kernels equal to their scalar form, and every variant close to the
// exact DCT divided by its step.
#include "encoder/jpg_fdct.h"
#include "encoder/jpg_fdct_impl.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

typedef void (*Transform)(int16_t *, const uint8_t *, int32_t, int32_t, const uint16_t *);
struct Variant {
    const char *name;
    Transform transform;
    bool rounds;
};
constexpr Variant kVariants[] = {
    {"JpgFDCTQ", JpgFDCTQ, false},
    {"JpgFDCTQ_HQ", JpgFDCTQ_HQ, true},
    {"JpgFDCTQ_ARMV6", JpgFDCTQ_ARMV6, false},
    {"JpgFDCTQ_HQ_ARMV6", JpgFDCTQ_HQ_ARMV6, true},
};

// Reciprocal table of one step for every coefficient: multiplier
// 4096 / (s(u) s(v) step) in units of 2^-15, offset half a step.
struct Reciprocal {
    uint16_t values[128];
    explicit Reciprocal(int step) {
        const double scale[8] = {1.0, 1.387039845, 1.306562965, 1.175875602,
                                 1.0, 0.785694958, 0.541196100, 0.275899379};
        for (int k = 0; k < 64; ++k) {
            values[k] =
                static_cast<uint16_t>(std::lround(4096.0 / (scale[k / 8] * scale[k % 8] * step)));
            values[64 + k] = 16384;
        }
    }
};

TEST(ForwardTransform, FlatBlocks) {
    uint8_t grey[64], white[64];
    std::fill(grey, grey + 64, 128);
    std::fill(white, white + 64, 255);
    Reciprocal one(1);
    for (const Variant &v : kVariants) {
        int16_t block[64];
        v.transform(block, grey, 1, 8, one.values);
        for (int16_t c : block)
            EXPECT_EQ(0, c) << v.name;
        v.transform(block, white, 1, 8, one.values);
        EXPECT_EQ(1016, block[0]) << v.name; // 8128 * 4096 >> 15
        for (int k = 1; k < 64; ++k)
            EXPECT_EQ(0, block[k]) << v.name;
    }
}

TEST(ForwardTransform, QuantizersTruncateOrRoundHalfAway) {
    // y = -8128 (flat 1) with a multiplier making the quotient -2.73.
    uint8_t dark[64];
    std::fill(dark, dark + 64, 1);
    uint16_t reciprocal[128] = {};
    reciprocal[0] = 11; // 8128 * 11 / 32768
    reciprocal[64] = 16384;
    for (const Variant &v : kVariants) {
        int16_t block[64];
        v.transform(block, dark, 1, 8, reciprocal);
        EXPECT_EQ(v.rounds ? -3 : -2, block[0]) << v.name;
    }
}

// Random blocks at several sample steps: the kernels give what their
// scalar form gives, and every variant stays near the exact DCT divided by
// its step (root mean square error below one step).
TEST(ForwardTransform, KernelsMatchTheirScalarFormAndTheExactDct) {
    std::mt19937 rng(3);
    std::uniform_int_distribution<int> sample(0, 255);
    Reciprocal fine(2);
    double squared[4] = {};
    int count = 0;
    for (int32_t step : {1, 2, 3, 4}) {
        std::vector<uint8_t> samples(8 * 8 * step * 2);
        for (int trial = 0; trial < 100; ++trial) {
            for (uint8_t &s : samples)
                s = static_cast<uint8_t>(sample(rng));
            int32_t pitch = 8 * step + 3;
            int16_t kernel[64], scalar[64];
            JpgFDCTQ_ARMV6(kernel, samples.data(), step, pitch, fine.values);
            JpgFdctQuantize<JpgFdctByteRotations, JpgFdctTruncate>(scalar, samples.data(), step,
                                                                   pitch, fine.values);
            ASSERT_TRUE(std::equal(kernel, kernel + 64, scalar)) << "step " << step;
            JpgFDCTQ_HQ_ARMV6(kernel, samples.data(), step, pitch, fine.values);
            JpgFdctQuantize<JpgFdctByteRotations, JpgFdctRound>(scalar, samples.data(), step, pitch,
                                                                fine.values);
            ASSERT_TRUE(std::equal(kernel, kernel + 64, scalar)) << "step " << step;
            for (int k = 0; k < 64; ++k, ++count) {
                int u = k / 8, w = k % 8;
                double sum = 0;
                for (int y = 0; y < 8; ++y) {
                    for (int x = 0; x < 8; ++x)
                        sum += (samples[y * pitch + x * step] - 128) *
                               std::cos((2 * y + 1) * u * M_PI / 16) *
                               std::cos((2 * x + 1) * w * M_PI / 16);
                }
                double exact = sum * (u ? 1 : M_SQRT1_2) * (w ? 1 : M_SQRT1_2) / 4 / 2;
                for (int i = 0; i < 4; ++i) {
                    int16_t block[64];
                    kVariants[i].transform(block, samples.data(), step, pitch, fine.values);
                    squared[i] += (exact - block[k]) * (exact - block[k]);
                }
            }
        }
    }
    for (int i = 0; i < 4; ++i)
        EXPECT_LT(std::sqrt(squared[i] / count), 1.0) << kVariants[i].name;
}

// Blocks of 0 and 255 laid out by the sign of each basis function drive
// that coefficient and the butterflies' sums to their largest magnitudes;
// with multipliers and offsets across their whole range the kernels still
// give what their scalar form gives.
TEST(ForwardTransform, KernelsMatchTheirScalarFormOnExtremeBlocks) {
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> multiplier(0, 65535), offset(0, 32768);
    for (int k = 0; k < 128; ++k) {
        int u = k % 64 / 8, w = k % 8;
        uint8_t samples[64];
        for (int y = 0; y < 8; ++y) {
            for (int x = 0; x < 8; ++x) {
                double basis = std::cos((2 * y + 1) * u * M_PI / 16) *
                               std::cos((2 * x + 1) * w * M_PI / 16);
                samples[8 * y + x] = (basis >= 0) == (k < 64) ? 255 : 0;
            }
        }
        uint16_t reciprocal[128];
        for (int i = 0; i < 64; ++i) {
            reciprocal[i] = static_cast<uint16_t>(multiplier(rng));
            reciprocal[64 + i] = static_cast<uint16_t>(offset(rng));
        }
        int16_t kernel[64], scalar[64];
        JpgFDCTQ_ARMV6(kernel, samples, 1, 8, reciprocal);
        JpgFdctQuantize<JpgFdctByteRotations, JpgFdctTruncate>(scalar, samples, 1, 8, reciprocal);
        ASSERT_TRUE(std::equal(kernel, kernel + 64, scalar)) << "block " << k;
        JpgFDCTQ_HQ_ARMV6(kernel, samples, 1, 8, reciprocal);
        JpgFdctQuantize<JpgFdctByteRotations, JpgFdctRound>(scalar, samples, 1, 8, reciprocal);
        ASSERT_TRUE(std::equal(kernel, kernel + 64, scalar)) << "block " << k;
    }
}

} // namespace
