// Dequantizing inverse DCTs at every scale, against a double-precision
// reference, libjpeg-turbo's islow output and each other.
#include "huff_test_support.h"
#include "jpeg_oracle.h"

#include "common/jpg_tables.h"
#include "decoder/jpg_idct.h"

#include <gtest/gtest.h>
#include <jpeglib.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace {

using huff::LastZigzag;

using Transform = void (*)(uint8_t *, int16_t *, int32_t, int32_t, const int32_t *, int32_t,
                           int32_t, int32_t *);

struct Scale {
    int index;    // scale index 0..3
    int size;     // samples per block side
    int region;   // coefficients read: region x region corner
    int cutoff;   // last zigzag index a decode at this scale keeps
    Transform portable;
    Transform kernel;
};

const Scale kScales[4] = {
    {0, 8, 8, 63, JpgDQIDCT8, JpgDQIDCT8_ARMV6},
    {1, 4, 4, 24, JpgDQIDCT4, JpgDQIDCT4_ARMV6},
    {2, 2, 2, 4, JpgDQIDCT2, JpgDQIDCT2_ARMV6},
    {3, 1, 1, 0, JpgDQIDCT1, JpgDQIDCT1},
};

// Luminance table of quality 75 (Annex K table halved), natural order.
std::array<uint16_t, 64> Quality75() {
    static const uint8_t kZigzag[64] = {
        8,  6,  5,  8,  12, 20, 26, 31, 6,  6,  7,  10, 13, 29, 30, 28,
        7,  7,  8,  12, 20, 29, 35, 28, 7,  9,  11, 15, 26, 44, 40, 31,
        9,  11, 19, 28, 34, 55, 52, 39, 12, 18, 28, 32, 41, 52, 57, 46,
        25, 32, 39, 44, 52, 61, 60, 51, 36, 46, 48, 49, 56, 50, 52, 50,
    };
    std::array<uint16_t, 64> q{};
    std::copy(kZigzag, kZigzag + 64, q.begin()); // already row-major
    return q;
}

std::array<int32_t, 64> Multipliers(const std::array<uint16_t, 64> &q, int scale) {
    std::array<int32_t, 64> m{};
    for (int i = 0; i < 64; ++i)
        m[i] = static_cast<int32_t>(q[i]) * jpg_idct_scale_tbl[scale][i];
    return m;
}

// Unclamped samples of the exact inverse DCT of the coefficients inside the
// region x region corner, averaged over (8 / size)^2 sample squares.
std::vector<double> Reference(const int16_t *coef, const std::array<uint16_t, 64> &q, int region,
                              int size) {
    std::vector<double> full(64, 0.0);
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            double sum = 0;
            for (int u = 0; u < region; ++u) {
                for (int v = 0; v < region; ++v) {
                    double cu = u ? 1.0 : std::sqrt(0.5), cv = v ? 1.0 : std::sqrt(0.5);
                    sum += cu * cv * coef[8 * u + v] * q[8 * u + v] *
                           std::cos((2 * y + 1) * u * M_PI / 16) *
                           std::cos((2 * x + 1) * v * M_PI / 16);
                }
            }
            full[8 * y + x] = sum / 4 + 128;
        }
    }
    const int cell = 8 / size;
    std::vector<double> out(static_cast<size_t>(size) * size, 0.0);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            out[(y / cell) * size + x / cell] += full[8 * y + x] / (cell * cell);
    return out;
}

// A block as a decode at this scale leaves it: decaying AC values up to the
// cut-off, and sometimes nothing but a few low terms.
std::vector<int16_t> RandomBlock(std::mt19937 &rng, int cutoff, int maxIndex, int amplitude) {
    std::vector<int16_t> block(64, 0);
    block[0] = static_cast<int16_t>(static_cast<int>(rng() % 257) - 128);
    int limit = std::min(cutoff, maxIndex);
    int density = 1 + static_cast<int>(rng() % 64);
    for (int k = 1; k <= limit; ++k) {
        if (static_cast<int>(rng() % 64) >= density)
            continue;
        int span = std::max(1, amplitude / (1 + k / 4));
        block[jpg_natural_order[k]] =
            static_cast<int16_t>(static_cast<int>(rng() % (2 * span + 1)) - span);
    }
    return block;
}

// Samples of one transform call into an 8-pitch plane, step 1.
std::vector<uint8_t> Samples(Transform t, std::vector<int16_t> &block,
                             const std::array<int32_t, 64> &m, int size, int last) {
    std::vector<uint8_t> plane(64, 0xEE);
    int32_t scratch[64 + 1];
    t(plane.data(), block.data(), 1, 8, m.data(), 0, last, scratch);
    std::vector<uint8_t> out;
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x)
            out.push_back(plane[8 * y + x]);
    return out;
}

bool AllZero(const std::vector<int16_t> &block) {
    return std::all_of(block.begin(), block.end(), [](int16_t c) { return c == 0; });
}

struct ErrorStats {
    double maxError = 0;
    double meanError = 0;
};

// Compares transform output with the clamped reference over many blocks.
ErrorStats MeasureError(const Scale &s, Transform t, int maxIndex, int amplitude, unsigned seed) {
    std::mt19937 rng(seed);
    std::array<uint16_t, 64> q = Quality75();
    std::array<int32_t, 64> m = Multipliers(q, s.index);
    ErrorStats stats;
    int count = 0;
    for (int trial = 0; trial < 2000; ++trial) {
        std::vector<int16_t> block = RandomBlock(rng, s.cutoff, maxIndex, amplitude);
        std::vector<double> ref = Reference(block.data(), q, s.region, s.size);
        int last = LastZigzag(block.data());
        std::vector<uint8_t> got = Samples(t, block, m, s.size, last);
        EXPECT_TRUE(AllZero(block)) << "scale " << s.index << " last " << last;
        for (size_t i = 0; i < got.size(); ++i) {
            double expected = std::min(255.0, std::max(0.0, ref[i]));
            double error = got[i] - expected;
            stats.maxError = std::max(stats.maxError, std::abs(error));
            stats.meanError += error;
            ++count;
        }
    }
    stats.meanError /= count;
    return stats;
}

} // namespace

TEST(IdctAccuracyTest, EveryScaleTracksTheExactTransform) {
    for (const Scale &s : kScales) {
        for (Transform t : {s.portable, s.kernel}) {
            // Blocks of every shape: DC only, the 2- and 4x4-coefficient
            // shortcuts at full scale, and full blocks.
            for (int maxIndex : {0, 2, 9, 63}) {
                ErrorStats e = MeasureError(s, t, maxIndex, 60, 100 + maxIndex);
                // The descale truncates: about half a level low on average.
                EXPECT_LT(e.maxError, 1.6) << "scale " << s.index << " max index " << maxIndex;
                EXPECT_LE(e.meanError, 1e-9) << s.index;
                EXPECT_GT(e.meanError, -0.75) << s.index;
            }
        }
    }
}

TEST(IdctAccuracyTest, DcOnlyBlocksAreFlat) {
    std::array<uint16_t, 64> q = Quality75();
    for (const Scale &s : kScales) {
        std::array<int32_t, 64> m = Multipliers(q, s.index);
        for (int dc : {0, 1, -1, 7, -9, 100, -100, 127, -128, 1000, -1000}) {
            std::vector<int16_t> block(64, 0);
            block[0] = static_cast<int16_t>(dc);
            std::vector<uint8_t> got = Samples(s.portable, block, m, s.size, 0);
            // floor(DC x Q / 8) + 128, clamped.
            int expected = static_cast<int>(std::floor(dc * q[0] / 8.0)) + 128;
            expected = std::min(255, std::max(0, expected));
            for (uint8_t sample : got)
                ASSERT_EQ(sample, expected) << "scale " << s.index << " dc " << dc;
            EXPECT_EQ(block[0], 0);
        }
    }
}

TEST(IdctAccuracyTest, SamplesClampAtBothEnds) {
    std::array<uint16_t, 64> q = Quality75();
    std::mt19937 rng(5);
    for (const Scale &s : kScales) {
        std::array<int32_t, 64> m = Multipliers(q, s.index);
        for (int trial = 0; trial < 300; ++trial) {
            // Strong edges near the ends of the range, as real images have.
            std::vector<int16_t> block = RandomBlock(rng, s.cutoff, 63, 60);
            block[0] = static_cast<int16_t>(trial % 2 ? 140 : -140);
            std::vector<double> ref = Reference(block.data(), q, s.region, s.size);
            std::vector<uint8_t> got =
                Samples(s.kernel, block, m, s.size, LastZigzag(block.data()));
            for (size_t i = 0; i < got.size(); ++i) {
                if (ref[i] > 258) {
                    ASSERT_EQ(got[i], 255);
                }
                if (ref[i] < -3) {
                    ASSERT_EQ(got[i], 0);
                }
            }
        }
    }
}

TEST(IdctLayoutTest, StepPitchAndLineDoubling) {
    std::array<uint16_t, 64> q = Quality75();
    std::mt19937 rng(9);
    for (const Scale &s : kScales) {
        std::array<int32_t, 64> m = Multipliers(q, s.index);
        std::vector<int16_t> block = RandomBlock(rng, s.cutoff, 63, 80);
        std::vector<int16_t> copy = block;
        int last = LastZigzag(block.data());
        std::vector<uint8_t> plain = Samples(s.portable, copy, m, s.size, last);
        // Step 3, plane pitch 40, line doubling: rows land on every second
        // line at pitch 80 and each is copied to the line below.
        const int step = 3, planePitch = 40;
        std::vector<uint8_t> plane(planePitch * 2 * 8, 0xEE);
        int32_t scratch[64 + 1];
        s.portable(plane.data(), block.data(), step, 2 * planePitch, m.data(), 1, last, scratch);
        for (int y = 0; y < 2 * s.size; ++y) {
            for (int x = 0; x < planePitch; ++x) {
                uint8_t value = plane[y * planePitch + x];
                if (x % step == 0 && x / step < s.size)
                    ASSERT_EQ(value, plain[(y / 2) * s.size + x / step]) << s.index;
                else
                    ASSERT_EQ(value, 0xEE) << "stray write, scale " << s.index;
            }
        }
        EXPECT_TRUE(AllZero(block));
    }
}

TEST(IdctLayoutTest, ScaledDecodesLeaveNoCoefficientBehind) {
    // A decode at 1/2 or 1/4 also stores coefficients outside the corner the
    // transform reads (and a run can overshoot the cut-off); the next block
    // must start from zero all the same.
    std::array<uint16_t, 64> q = Quality75();
    for (const Scale &s : kScales) {
        for (Transform t : {s.portable, s.kernel}) {
            std::array<int32_t, 64> m = Multipliers(q, s.index);
            std::vector<int16_t> block(64, 0);
            block[0] = 5;
            block[jpg_natural_order[s.cutoff]] = 3;
            block[63] = 2;
            int32_t scratch[64 + 1];
            uint8_t out[64];
            t(out, block.data(), 1, 8, m.data(), 0, 63, scratch);
            EXPECT_TRUE(AllZero(block)) << "scale " << s.index;
        }
    }
}

TEST(IdctKernelTest, KernelsMatchThePortableTransforms) {
    std::mt19937 rng(77);
    for (const Scale &s : kScales) {
        for (int trial = 0; trial < 3000; ++trial) {
            std::array<uint16_t, 64> q{};
            for (uint16_t &v : q)
                v = static_cast<uint16_t>(1 + rng() % (trial % 3 ? 100 : 65535));
            std::array<int32_t, 64> m = Multipliers(q, s.index);
            int maxIndex = static_cast<int>(rng() % 64);
            // Every few blocks hold corrupt extremes: both versions must
            // wrap the same way (and without undefined behaviour).
            int amplitude = trial % 5 == 0 ? 32767 : 200;
            std::vector<int16_t> a = RandomBlock(rng, 63, maxIndex, amplitude);
            std::vector<int16_t> b = a;
            int last = LastZigzag(a.data());
            std::vector<uint8_t> pa = Samples(s.portable, a, m, s.size, last);
            std::vector<uint8_t> pb = Samples(s.kernel, b, m, s.size, last);
            ASSERT_EQ(pa, pb) << "scale " << s.index << " trial " << trial;
            ASSERT_EQ(a, b);
        }
    }
}

namespace {

std::array<uint16_t, 64> LumaTable(const std::vector<uint8_t> &jpeg) {
    jpeg_decompress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, jpeg.data(), jpeg.size());
    jpeg_read_header(&cinfo, TRUE);
    std::array<uint16_t, 64> q{};
    for (int i = 0; i < 64; ++i)
        q[i] = cinfo.quant_tbl_ptrs[0]->quantval[i]; // natural order
    jpeg_destroy_decompress(&cinfo);
    return q;
}

// PSNR of our transform at a scale against libjpeg-turbo's decode of the
// same grey image at that scale.
double PsnrAgainstLibjpeg(int quality, int scale, unsigned seed) {
    oracle::EncodeOptions options;
    options.width = 256;
    options.height = 192;
    options.components = 1;
    options.quality = quality;
    options.content = oracle::Content::kPhoto;
    options.seed = seed;
    std::vector<uint8_t> jpeg = oracle::Encode(options);
    std::vector<oracle::ComponentCoefficients> coef = oracle::ReadCoefficients(jpeg);
    oracle::Plane expected = oracle::DecodeRaw(jpeg, 1 << scale)[0];
    std::array<int32_t, 64> m = Multipliers(LumaTable(jpeg), scale);
    const Scale &s = kScales[scale];
    oracle::Plane ours;
    ours.width = expected.width;
    ours.height = expected.height;
    const int blocksWide = coef[0].blocksWide, blocksHigh = coef[0].blocksHigh;
    std::vector<uint8_t> plane(static_cast<size_t>(blocksWide * s.size) * blocksHigh * s.size);
    const int pitch = blocksWide * s.size;
    int32_t scratch[64 + 1];
    for (int by = 0; by < blocksHigh; ++by) {
        for (int bx = 0; bx < blocksWide; ++bx) {
            std::vector<int16_t> block(coef[0].block(bx, by), coef[0].block(bx, by) + 64);
            for (int k = s.cutoff + 1; k < 64; ++k)
                block[jpg_natural_order[k]] = 0; // what a decode at this scale keeps
            s.kernel(&plane[static_cast<size_t>(by * s.size) * pitch + bx * s.size], block.data(),
                     1, pitch, m.data(), 0, LastZigzag(block.data()), scratch);
        }
    }
    for (int y = 0; y < ours.height; ++y)
        for (int x = 0; x < ours.width; ++x)
            ours.samples.push_back(plane[static_cast<size_t>(y) * pitch + x]);
    return oracle::Compare(ours, expected).psnr;
}

} // namespace

TEST(IdctAccuracyTest, FullScaleAgainstLibjpegIslow) {
    for (int quality : {50, 75, 90, 98}) {
        double psnr = PsnrAgainstLibjpeg(quality, 0, 3);
        EXPECT_GE(psnr, 44.0) << "quality " << quality;
        RecordProperty("psnr_q" + std::to_string(quality), std::to_string(psnr));
    }
}

TEST(IdctAccuracyTest, ReducedScalesAgainstLibjpeg) {
    // libjpeg reduces with its own small transforms: the two agree on the
    // picture, not to the last level.
    for (int scale : {1, 2, 3}) {
        double psnr = PsnrAgainstLibjpeg(90, scale, 4);
        EXPECT_GE(psnr, 36.0) << "scale " << scale;
        RecordProperty("psnr_scale" + std::to_string(scale), std::to_string(psnr));
    }
}
