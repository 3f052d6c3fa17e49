// Transcoding: an encoder fed with a decoder's blocks through request mode
// 0 and write mode 0 keeps every coefficient (libjpeg-turbo reads the same
// ones from input and output), requantizes after a quality change, and
// stops with a valid prefix on a block its Huffman mode cannot code.
#include "common/jpg_tables.h"
#include "decoder_harness.h"
#include "enc_oracle.h"
#include "index_support.h"
#include "jpeg_oracle.h"
#include "memory_stream.h"
#include "qvjpeg.h"

#include <gtest/gtest.h>

namespace {

using harness::Decoder;

struct Transcoded {
    vltJpgResult result = 0;
    std::vector<uint8_t> file;
    std::vector<uint8_t> index; // the encoder's, when it made one
};

std::vector<uint8_t> EncoderIndex(vltJpgEncoder enc) {
    vltJpgEncIndexBlock block{};
    if (vltJpgEncoderGetProp(enc, VLTJPG_ENCPROP_INDEX, &block, sizeof block) != 0)
        return {};
    const auto *bytes = static_cast<const uint8_t *>(block.address);
    return std::vector<uint8_t>(bytes, bytes + block.size);
}

// Transcodes the whole image in runs of `runLength` MCUs (runs wrap from
// row to row), with a quality set on the encoder when `quality` > 0 and an
// index when `indexInterval` > 0.
Transcoded Transcode(Decoder &dec, uint32_t huffmanMode, int runLength, uint32_t quality = 0,
                     uint32_t indexInterval = 0) {
    Transcoded out;
    MemoryStream stream;
    vltJpgEncoder enc = nullptr;
    out.result = vltJpgEncoderCreateFromDecoder(&enc, dec.handle(), stream.get(), huffmanMode);
    if (out.result != 0)
        return out;
    if (quality)
        vltJpgEncoderSetProp(enc, VLTJPG_ENCPROP_QUALITY, &quality, sizeof quality);
    if (indexInterval)
        vltJpgEncoderSetProp(enc, VLTJPG_ENCPROP_INDEX_INTERVAL, &indexInterval,
                             sizeof indexInterval);
    int32_t columns, rows;
    dec.GetPair(VLTJPG_DECPROP_MCU_GRID, &columns, &rows);
    for (int first = 0; first < columns * rows && out.result == 0; first += runLength) {
        vltJpgDecoderRequest request{VLTJPG_REQUEST_HANDOVER, 0, first % columns, first / columns,
                                     nullptr};
        out.result = vltJpgDecoderReadMCUs(dec.handle(), &request);
        int count = std::min(runLength, columns * rows - first);
        vltJpgEncWriteDesc write{VLTJPG_WRITE_TRANSCODE, count,
                                 static_cast<uint32_t>(request.startColumn),
                                 static_cast<uint32_t>(request.startRow), request.planeSet};
        if (out.result == 0)
            out.result = vltJpgEncoderWriteMCUs(enc, &write);
    }
    out.index = EncoderIndex(enc);
    vltJpgResult destroyed = vltJpgEncoderDestroy(enc);
    out.result = out.result ? out.result : destroyed;
    out.file = stream.Contents();
    return out;
}

void ExpectSameCoefficients(const enc_test::Decoded &a, const enc_test::Decoded &b) {
    ASSERT_TRUE(a.ok && b.ok);
    ASSERT_EQ(a.components, b.components);
    for (int c = 0; c < a.components; ++c) {
        ASSERT_TRUE(a.planes[c] == b.planes[c]) << "component " << c;
        EXPECT_EQ(a.quantTables[a.quantSelector[c]], b.quantTables[b.quantSelector[c]]);
    }
}

// The file with its quantization tables renumbered 0, 1 -> 2, 3 in the DQT
// segments and in the frame header.
std::vector<uint8_t> WithTables2And3(std::vector<uint8_t> jpeg) {
    for (size_t at = 2; at + 4 < jpeg.size() && jpeg[at] == 0xFF;) {
        uint8_t marker = jpeg[at + 1];
        size_t length = static_cast<size_t>(jpeg[at + 2] << 8 | jpeg[at + 3]);
        if (marker == 0xDB) {
            for (size_t t = at + 4; t < at + 2 + length; t += 65)
                jpeg[t] += 2;
        } else if (marker == 0xC0) {
            for (int c = 0; c < jpeg[at + 9]; ++c)
                jpeg[at + 12 + 3 * c] += 2;
        } else if (marker == 0xDA) {
            break;
        }
        at += 2 + length;
    }
    return jpeg;
}

// Every sampling mode of the encoder, with and without restart intervals,
// in copy mode and Huffman mode 0; the 4:2:0 files use quantization tables
// 2 and 3, which get storage of their own.
TEST(Transcode, CoefficientsSurviveEveryLayout) {
    const oracle::Sampling layouts[] = {oracle::Sampling420(), oracle::Sampling422(),
                                        oracle::Sampling440(), oracle::Sampling444(),
                                        oracle::Sampling444()};
    for (int layout = 0; layout < 5; ++layout) {
        for (auto [restartInterval, restartRows] : {std::pair{0, 0}, {3, 0}, {0, 1}}) {
            oracle::EncodeOptions o;
            o.width = 77;
            o.height = 50;
            o.sampling = layouts[layout];
            o.components = layout == 4 ? 1 : 3;
            o.restartInterval = restartInterval;
            o.restartRows = restartRows;
            o.optimize = true; // tables of its own, unlike the encoder's
            std::vector<uint8_t> jpeg = oracle::Encode(o);
            if (layout == 0)
                jpeg = WithTables2And3(jpeg);
            enc_test::Decoded input = enc_test::DecodeCoefficients(jpeg);
            for (uint32_t mode : {1u, 0u}) {
                SCOPED_TRACE("layout " + std::to_string(layout) + " restart " +
                             std::to_string(restartInterval) + "/" + std::to_string(restartRows) +
                             " mode " + std::to_string(mode));
                Decoder dec(jpeg);
                Transcoded out = Transcode(dec, mode, 7);
                ASSERT_EQ(out.result, 0u);
                enc_test::Decoded output = enc_test::DecodeCoefficients(out.file);
                EXPECT_EQ(output.warnings, 0);
                EXPECT_EQ(output.restartInterval, input.restartInterval);
                ExpectSameCoefficients(input, output);
            }
        }
    }
}

// A coefficient image whose blocks every mode can code: non-zero values
// only in a run from position 1 on, all of them small.
enc_test::CoefImage DenseSmallBlocks(bool oneLongRun) {
    enc_test::CoefImage image = enc_test::RandomCoefficients(0, 48, 32, 3);
    int n = 0;
    for (auto &plane : image.planes) {
        for (enc_test::Block &block : plane) {
            block.fill(0);
            block[0] = static_cast<int16_t>(n % 50 - 25);
            for (int k = 1; k <= 1 + n % 9; ++k) {
                int value = (k + n) % 5 - 2;
                block[jpg_natural_order[k]] = static_cast<int16_t>(value ? value : 1);
            }
            ++n;
        }
    }
    if (oneLongRun)
        image.planes[0][13][jpg_natural_order[40]] = 3; // a run of more than 3 zeros
    return image;
}

// The clipped tables code the small blocks unchanged; an MCU with a long
// zero run stops the run with 0x8004, and the file holds the MCUs before
// it, complete: libjpeg-turbo reads them back unchanged.
TEST(Transcode, ClippedTablesStopBeforeWhatTheyCannotCode) {
    for (bool longRun : {false, true}) {
        enc_test::CoefImage image = DenseSmallBlocks(longRun);
        Decoder dec(enc_test::EncodeWhole(image, 48, 32, 0, {}));
        Transcoded out = Transcode(dec, 2, longRun ? 1 : 5);
        enc_test::Decoded output = enc_test::DecodeCoefficients(out.file);
        ASSERT_TRUE(output.ok);
        if (!longRun) {
            ASSERT_EQ(out.result, 0u);
            EXPECT_EQ(output.warnings, 0);
            EXPECT_TRUE(enc_test::SameCoefficients(image, output));
            continue;
        }
        EXPECT_EQ(out.result, VLTJPG_ERR_CATEGORY);
        // Luma block 13 lies in MCU 3 (three MCUs of four blocks before it).
        const int columns = image.geometry.mcuColumns;
        for (int mcu = 0; mcu < 3; ++mcu) {
            for (int by = 0; by < 2; ++by) {
                for (int bx = 0; bx < 2; ++bx) {
                    int column = (mcu % columns) * 2 + bx;
                    int row = (mcu / columns) * 2 + by;
                    EXPECT_TRUE(output.planes[0][row * output.blockColumns[0] + column] ==
                                image.At(0, row, column));
                }
            }
        }
    }
}

// Quality 85 (a new encoder's default) replaces the decoder's tables:
// every coefficient becomes the nearest multiple of the new step to its
// old value.
TEST(Transcode, QualityChangeRequantizes) {
    oracle::EncodeOptions o;
    o.width = 40;
    o.height = 24;
    o.quality = 95;
    std::vector<uint8_t> jpeg = oracle::Encode(o);
    enc_test::Decoded input = enc_test::DecodeCoefficients(jpeg);
    Decoder dec(jpeg);
    Transcoded out = Transcode(dec, 1, 4, 85);
    ASSERT_EQ(out.result, 0u);
    enc_test::Decoded output = enc_test::DecodeCoefficients(out.file);
    ASSERT_TRUE(output.ok);
    EXPECT_EQ(output.warnings, 0);
    for (int c = 0; c < 3; ++c) {
        const auto &from = input.quantTables[input.quantSelector[c]];
        const auto &to = output.quantTables[output.quantSelector[c]];
        EXPECT_NE(from, to);
        for (size_t b = 0; b < input.planes[c].size(); ++b) {
            for (int k = 0; k < 64; ++k) {
                int was = input.planes[c][b][k] * from[k];
                int now = output.planes[c][b][k] * to[k];
                ASSERT_LE(std::abs(was - now), to[k] / 2) << "component " << c << " block " << b;
            }
        }
    }
}

// The encoder's index of a transcoded file is the block a decoder builds
// for that file, and imported it gives runs equal to a full decode; the
// source decoder records its own index on the way.
TEST(Transcode, IndexesOfBothSidesGiveRandomAccess) {
    using namespace index_support;
    int turn = 0;
    for (const oracle::Sampling &sampling : {oracle::Sampling420(), oracle::Sampling440()}) {
        for (int restartInterval : {0, 2}) {
            oracle::EncodeOptions o;
            o.width = 70;
            o.height = 41;
            o.sampling = sampling;
            o.restartInterval = restartInterval;
            std::vector<uint8_t> jpeg = oracle::Encode(o);
            for (uint32_t interval : {1u, 3u, 40u}) {
                SCOPED_TRACE(oracle::Describe(sampling, 3) + " restart " +
                             std::to_string(restartInterval) + " interval " +
                             std::to_string(interval));
                // The encoder allocates through the decoder's host callbacks,
                // with the decoder's context, and gives every block back.
                harness::CountingAllocator allocator;
                vltJpgDecoderParams withIndex = harness::WithAllocator(&allocator);
                withIndex.indexInterval = interval;
                Decoder source(jpeg, withIndex);
                int decoderAllocations = allocator.allocations;
                size_t decoderBlocks = allocator.live.size();
                Transcoded out = Transcode(source, 1, 4, 0, interval);
                ASSERT_EQ(out.result, 0u);
                EXPECT_GT(allocator.allocations, decoderAllocations);
                EXPECT_EQ(allocator.live.size(), decoderBlocks);
                withIndex = vltJpgDecoderParams{};
                withIndex.indexInterval = interval;
                Decoder sourceBuilt(jpeg, withIndex);
                int32_t unused = 0;
                ASSERT_EQ(vltJpgDecoderGetProp(sourceBuilt.handle(), VLTJPG_DECPROP_BUILD_INDEX,
                                               &unused, 4),
                          0u);
                EXPECT_EQ(ExportBlock(source), ExportBlock(sourceBuilt));

                Decoder built(out.file, withIndex);
                ASSERT_EQ(vltJpgDecoderGetProp(built.handle(), VLTJPG_DECPROP_BUILD_INDEX, &unused,
                                               4),
                          0u);
                EXPECT_EQ(out.index, ExportBlock(built));
                Decoder imported(out.file);
                ASSERT_EQ(Import(imported, out.index), 0u);
                int scale = 1 << (turn++ % 4);
                ExpectRandomRunsMatch(imported, oracle::ReadFrameInfo(out.file), scale,
                                      harness::DecodeImage(out.file, scale), interval);
            }
        }
    }
}

TEST(Transcode, RefusesWhatItCannotTranscode) {
    vltJpgEncoder enc = reinterpret_cast<vltJpgEncoder>(1);
    EXPECT_EQ(vltJpgEncoderCreateFromDecoder(&enc, nullptr, nullptr, 1), VLTJPG_ERR_ARGUMENT);
    EXPECT_EQ(enc, nullptr);
    oracle::EncodeOptions o;
    o.sampling = oracle::Sampling411(); // sampling mode 5: no encoder layout
    Decoder dec(oracle::Encode(o));
    MemoryStream stream;
    EXPECT_EQ(vltJpgEncoderCreateFromDecoder(&enc, dec.handle(), stream.get(), 1),
              VLTJPG_ERR_ARGUMENT);

    // A write descriptor naming another decoder is refused.
    Decoder other(oracle::Encode(oracle::EncodeOptions{}));
    Decoder source(oracle::Encode(oracle::EncodeOptions{}));
    ASSERT_EQ(vltJpgEncoderCreateFromDecoder(&enc, source.handle(), stream.get(), 1), 0u);
    vltJpgEncWriteDesc write{VLTJPG_WRITE_TRANSCODE, 1, 0, 0, other.handle()};
    EXPECT_EQ(vltJpgEncoderWriteMCUs(enc, &write), VLTJPG_ERR_ARGUMENT);
    EXPECT_EQ(vltJpgEncoderDestroy(enc), 0u);
}

} // namespace
