// Bit writer and block coders: coded bits against hand-derived ones, a
// reference Huffman decoder and libjpeg-turbo, stuffing, restart markers,
// flushing at any buffer size, short writes and values without a code.
#include "enc_fixture.h"
#include "enc_oracle.h"
#include "encoder/jpg_huff_coder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <random>
#include <string>

namespace {

using Block = std::array<int16_t, 64>;
using BlockCoderFn = vltJpgResult (*)(JpgBitWriter *, int16_t *, JpgEncComponent *);

// The fast coder as configured for 32-bit ARM, run on this host.
vltJpgResult ArmConfiguredBlock(JpgBitWriter *writer, int16_t *block, JpgEncComponent *component) {
    writer->emitBytes[0] = EmitStuffedBytes<1>;
    writer->emitBytes[1] = EmitStuffedBytes<2>;
    writer->emitBytes[2] = EmitStuffedBytes<3>;
    return EncodeBlock<BitSink<uint32_t, EmitterStore>, ClzCategory, MsbMaskScan>(writer, block,
                                                                                 component);
}

const BlockCoderFn kCoders[] = {JpgEncBlock, JpgEncBlock_ARMV5, ArmConfiguredBlock};
const char *const kCoderNames[] = {"portable", "fast", "arm-configured"};

// Reads coded data back: removes stuffing, stops at markers, decodes
// symbols with a record's canonical codes.
class RefDecoder {
public:
    explicit RefDecoder(const std::vector<uint8_t> &data) : data_(data) {}

    // Decodes one block in natural order; AC symbols go to `symbols`.
    bool DecodeBlock(const JpgHuffTable &dc, const JpgHuffTable &ac, int32_t &predictor,
                     Block &out, std::vector<int> *symbols = nullptr) {
        out.fill(0);
        int category = Decode(dc);
        if (category < 0) return false;
        predictor += Extend(Bits(category), category);
        out[0] = static_cast<int16_t>(predictor);
        for (int k = 1; k < 64;) {
            int symbol = Decode(ac);
            if (symbol < 0) return false;
            if (symbols) symbols->push_back(symbol);
            int run = symbol >> 4, size = symbol & 15;
            if (size == 0 && run != 15) break;
            k += run;
            if (k > 63) return false;
            if (size) out[jpg_natural_order[k]] = static_cast<int16_t>(Extend(Bits(size), size));
            ++k;
        }
        return !failed_;
    }

    // Skips the padding bits and reads the marker behind them; -1 if none.
    int Marker() {
        for (; bitsLeft_ > 0; --bitsLeft_) {
            if (!((current_ >> (bitsLeft_ - 1)) & 1)) return -1;  // padding is 1-bits
        }
        if (pos_ + 1 >= data_.size() || data_[pos_] != 0xFF) return -1;
        pos_ += 2;
        return data_[pos_ - 1];
    }

    bool AtEnd() const { return pos_ == data_.size() && bitsLeft_ == 0; }

private:
    int Bit() {
        if (bitsLeft_ == 0) {
            if (pos_ >= data_.size() || (data_[pos_] == 0xFF && data_.at(pos_ + 1) != 0x00)) {
                failed_ = true;
                return 0;
            }
            current_ = data_[pos_];
            pos_ += current_ == 0xFF ? 2 : 1;
            bitsLeft_ = 8;
        }
        return (current_ >> --bitsLeft_) & 1;
    }
    uint32_t Bits(int count) {
        uint32_t value = 0;
        for (int i = 0; i < count; ++i) value = (value << 1) | Bit();
        return value;
    }
    static int32_t Extend(uint32_t value, int size) {
        if (size == 0) return 0;
        return value < (1u << (size - 1)) ? static_cast<int32_t>(value) - (1 << size) + 1
                                          : static_cast<int32_t>(value);
    }
    int Decode(const JpgHuffTable &table) {
        uint32_t code = 0, first = 0, index = 0;
        for (int length = 1; length <= 16; ++length) {
            code = (code << 1) | Bit();
            uint32_t count = table.bits[length];
            if (code - first < count) return table.values[index + code - first];
            index += count;
            first = (first + count) << 1;
        }
        return -1;
    }

    const std::vector<uint8_t> &data_;
    size_t pos_ = 0;
    uint8_t current_ = 0;
    int bitsLeft_ = 0;
    bool failed_ = false;
};

// Sparse blocks of every magnitude the standard tables code, with long
// zero runs; DC values keep differences within category 11.
std::vector<Block> RandomBlocks(int count, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<Block> blocks(count);
    for (Block &block : blocks) {
        block.fill(0);
        block[0] = static_cast<int16_t>(static_cast<int>(random() % 2047) - 1023);
        int density = random() % 64;
        for (int k = 1; k < 64; ++k) {
            if (static_cast<int>(random() % 64) >= density) continue;
            int size = 1 + random() % 10;
            int magnitude = (1 << (size - 1)) + random() % (1 << (size - 1));
            block[jpg_natural_order[k]] = static_cast<int16_t>(random() % 2 ? magnitude : -magnitude);
        }
    }
    return blocks;
}

class BitWriterTest : public ::testing::Test {
protected:
    vltJpgResult Code(BlockCoderFn coder, Block block, int component = 0) {
        return coder(&fixture.writer, block.data(), &fixture.components[component]);
    }
    // Codes `blocks` with `coder` into a fresh fixture of the given buffer
    // size and returns the output.
    static std::vector<uint8_t> CodeAll(BlockCoderFn coder, const std::vector<Block> &blocks,
                                        uint32_t bufferSize, bool *guardIntact = nullptr) {
        EncFixture local(1, bufferSize);
        for (Block block : blocks) {
            EXPECT_EQ(coder(&local.writer, block.data(), &local.components[0]), VLTJPG_OK);
        }
        if (guardIntact) *guardIntact = local.GuardIntact();
        return local.Output();
    }
    std::vector<int> AcSymbols(const Block &block) {
        EncFixture local(1);
        Block copy = block;
        EXPECT_EQ(JpgEncBlock(&local.writer, copy.data(), &local.components[0]), VLTJPG_OK);
        std::vector<uint8_t> out = local.Output();
        RefDecoder decoder(out);
        int32_t predictor = 0;
        Block decoded;
        std::vector<int> symbols;
        EXPECT_TRUE(decoder.DecodeBlock(local.dcRecords[0], local.acRecords[0], predictor, decoded,
                                        &symbols));
        EXPECT_EQ(decoded, block);
        return symbols;
    }

    EncFixture fixture{1};
};

TEST(ZigzagTables, MatchTheSharedZigzagOrder) {
    constexpr ZigzagPositions positions = MakeZigzagPositions();
    for (int k = 0; k < 64; ++k) EXPECT_EQ(positions.of[jpg_natural_order[k]], k);
}

TEST_F(BitWriterTest, HandDerivedBits) {
    for (int c = 0; c < 3; ++c) {
        SCOPED_TRACE(kCoderNames[c]);
        EncFixture local(1);
        Block block{};
        block[0] = 7;
        local.components[0].dcPredictor = 7;
        // DC category 0 "00", EOB "1010", padding "11".
        EXPECT_EQ(kCoders[c](&local.writer, block.data(), &local.components[0]), VLTJPG_OK);
        EXPECT_EQ(local.writer.bitsUsed, 6u);
        EXPECT_EQ(local.Output(), std::vector<uint8_t>({0x2B}));
        // DC -1: "010" + "0"; +1: "010" + "1"; each with EOB.
        EncFixture signs(1);
        block[0] = -1;
        kCoders[c](&signs.writer, block.data(), &signs.components[0]);
        block[0] = 0;
        kCoders[c](&signs.writer, block.data(), &signs.components[0]);
        EXPECT_EQ(signs.Output(), std::vector<uint8_t>({0x4A, 0x5A}));  // 0100 1010 0101 1010
        EXPECT_EQ(signs.components[0].dcPredictor, 0);
    }
}

TEST_F(BitWriterTest, RunsZrlAndEndOfBlock) {
    Block block{};
    block[jpg_natural_order[17]] = 1;  // sixteen zeros before it
    EXPECT_EQ(AcSymbols(block), std::vector<int>({0xF0, 0x01, 0x00}));
    block.fill(0);
    block[jpg_natural_order[18]] = -3;  // seventeen zeros
    EXPECT_EQ(AcSymbols(block), std::vector<int>({0xF0, 0x12, 0x00}));
    block.fill(0);
    block[63] = 5;  // zigzag 63 is natural 63: no EOB after it
    EXPECT_EQ(AcSymbols(block), std::vector<int>({0xF0, 0xF0, 0xF0, 0xE3}));
    block.fill(0);
    block[1] = 1;
    block[63] = 1;
    EXPECT_EQ(AcSymbols(block), std::vector<int>({0x01, 0xF0, 0xF0, 0xF0, 0xD1}));
}

TEST_F(BitWriterTest, LastNonzeroIndexAndSpectralEnd) {
    for (int c = 0; c < 3; ++c) {
        EncFixture local(1);
        Block block{};
        block[jpg_natural_order[5]] = 2;
        block[jpg_natural_order[10]] = 2;
        kCoders[c](&local.writer, block.data(), &local.components[0]);
        EXPECT_EQ(local.components[0].lastNonzero, 10u);
        block.fill(0);
        kCoders[c](&local.writer, block.data(), &local.components[0]);
        EXPECT_EQ(local.components[0].lastNonzero, 0u);
        // Spectral end 5: position 10 is not coded, EOB follows position 5.
        EncFixture limited(1);
        limited.writer.spectralEnd = 5;
        block[jpg_natural_order[5]] = 2;
        block[jpg_natural_order[10]] = 2;
        kCoders[c](&limited.writer, block.data(), &limited.components[0]);
        EXPECT_EQ(limited.components[0].lastNonzero, 5u) << kCoderNames[c];
        std::vector<uint8_t> out = limited.Output();
        RefDecoder decoder(out);
        int32_t predictor = 0;
        Block decoded;
        std::vector<int> symbols;
        ASSERT_TRUE(decoder.DecodeBlock(limited.dcRecords[0], limited.acRecords[0], predictor,
                                        decoded, &symbols));
        EXPECT_EQ(symbols, std::vector<int>({0x42, 0x00})) << kCoderNames[c];
    }
}

TEST_F(BitWriterTest, CodersAgreeAndDecodeBack) {
    std::vector<Block> blocks = RandomBlocks(400, 1234);
    std::vector<uint8_t> reference = CodeAll(JpgEncBlock, blocks, 4096);
    for (int c = 1; c < 3; ++c) {
        EXPECT_EQ(CodeAll(kCoders[c], blocks, 4096), reference) << kCoderNames[c];
    }
    EncFixture tables(1);
    RefDecoder decoder(reference);
    int32_t predictor = 0;
    for (size_t i = 0; i < blocks.size(); ++i) {
        Block decoded;
        ASSERT_TRUE(decoder.DecodeBlock(tables.dcRecords[0], tables.acRecords[0], predictor,
                                        decoded));
        ASSERT_EQ(decoded, blocks[i]) << i;
    }
    EXPECT_EQ(decoder.Marker(), -1);
}

TEST_F(BitWriterTest, StuffingAfterEveryFF) {
    // DC +2047: category 11 "111111110" and "11111111111", then EOB "1010".
    Block block{};
    block[0] = 2047;
    for (int c = 0; c < 3; ++c) {
        EncFixture local(1);
        kCoders[c](&local.writer, block.data(), &local.components[0]);
        EXPECT_EQ(local.Output(), std::vector<uint8_t>({0xFF, 0x00, 0x7F, 0xFA}));
    }
    std::vector<uint8_t> out = CodeAll(JpgEncBlock_ARMV5, RandomBlocks(300, 99), 4096);
    int ffCount = 0;
    for (size_t i = 0; i + 1 < out.size(); ++i) {
        if (out[i] == 0xFF) {
            ++ffCount;
            EXPECT_EQ(out[i + 1], 0x00) << i;
        }
    }
    EXPECT_GT(ffCount, 10);
}

TEST_F(BitWriterTest, LargestCategoriesCodedOneMoreRefused) {
    for (int c = 0; c < 3; ++c) {
        SCOPED_TRACE(kCoderNames[c]);
        EncFixture local(1);
        Block block{};
        block[0] = 2047;  // DC difference category 11
        block[1] = 1023;  // AC category 10
        block[8] = -1023;
        EXPECT_EQ(kCoders[c](&local.writer, block.data(), &local.components[0]), VLTJPG_OK);
        block[0] = 0;  // difference -2047
        EXPECT_EQ(kCoders[c](&local.writer, block.data(), &local.components[0]), VLTJPG_OK);
        std::vector<uint8_t> out = local.Output();
        RefDecoder decoder(out);
        int32_t predictor = 0;
        Block decoded;
        ASSERT_TRUE(decoder.DecodeBlock(local.dcRecords[0], local.acRecords[0], predictor, decoded));
        EXPECT_EQ(decoded[0], 2047);
        EXPECT_EQ(decoded[1], 1023);
        EXPECT_EQ(decoded[8], -1023);

        EncFixture refused(1);
        Block dc{};
        dc[0] = 2048;  // category 12
        EXPECT_EQ(kCoders[c](&refused.writer, dc.data(), &refused.components[0]),
                  VLTJPG_ERR_CATEGORY);
        EXPECT_EQ(refused.components[0].dcPredictor, 2048);  // updated all the same
        dc[0] = -32768;
        refused.components[0].dcPredictor = 32767;  // difference category 16
        EXPECT_EQ(kCoders[c](&refused.writer, dc.data(), &refused.components[0]),
                  VLTJPG_ERR_CATEGORY);
        for (int16_t value : {1024, -1024, -32768}) {
            Block ac{};
            ac[jpg_natural_order[3]] = value;
            EXPECT_EQ(kCoders[c](&refused.writer, ac.data(), &refused.components[0]),
                      VLTJPG_ERR_CATEGORY)
                << value;
        }
        EXPECT_TRUE(refused.GuardIntact());
    }
}

// With the clip tables a long run or a ZRL has no code: the block ends with
// 0x8004 instead of writing a code of length zero.
TEST_F(BitWriterTest, SymbolMissingFromTablesRefused) {
    for (int c = 0; c < 3; ++c) {
        SCOPED_TRACE(kCoderNames[c]);
        EncFixture local(1);
        LoadHuffRecord(&local.acRecords[0], jpg_bits_ac_luminance_clip, jpg_val_ac_luminance_clip);
        JpgEncCreateHuffTable(&local.state);
        Block block{};
        block[jpg_natural_order[4]] = 3;  // run 3: coded
        EXPECT_EQ(kCoders[c](&local.writer, block.data(), &local.components[0]), VLTJPG_OK);
        block[jpg_natural_order[9]] = 1;  // run 4: no code
        EXPECT_EQ(kCoders[c](&local.writer, block.data(), &local.components[0]),
                  VLTJPG_ERR_CATEGORY);
        Block far{};
        far[jpg_natural_order[40]] = 1;  // needs ZRL
        EXPECT_EQ(kCoders[c](&local.writer, far.data(), &local.components[0]),
                  VLTJPG_ERR_CATEGORY);
        // A table without any DC codes (rejected record) refuses every block.
        local.dcRecords[0].bits[1] = 5;
        local.dcRecords[0].built = 0;
        JpgEncCreateHuffTable(&local.state);
        Block empty{};
        EXPECT_EQ(kCoders[c](&local.writer, empty.data(), &local.components[0]),
                  VLTJPG_ERR_CATEGORY);
    }
}

// A decoder's table may list symbols of sizes above 10: values of those
// sizes are refused all the same.
TEST_F(BitWriterTest, SizesAboveTenRefusedWhateverTheTablesList) {
    uint8_t values[162];
    std::memcpy(values, jpg_val_ac_luminance, sizeof(values));
    values[161] = 0x0B;  // in place of 0xFA
    for (int c = 0; c < 3; ++c) {
        EncFixture local(1);
        LoadHuffRecord(&local.acRecords[0], jpg_bits_ac_luminance, values);
        JpgEncCreateHuffTable(&local.state);
        EXPECT_EQ(local.acRecords[0].built, 1u);
        EXPECT_EQ(local.acCodes[0][0x0B].length, 0);
        Block block{};
        block[1] = 1024;
        EXPECT_EQ(kCoders[c](&local.writer, block.data(), &local.components[0]),
                  VLTJPG_ERR_CATEGORY)
            << kCoderNames[c];
    }
}

TEST_F(BitWriterTest, EveryBufferSizeGivesTheSameBytes) {
    std::vector<Block> blocks = RandomBlocks(120, 7);
    std::vector<uint8_t> reference = CodeAll(JpgEncBlock, blocks, 1 << 16);
    for (uint32_t size : {1u, 2u, 3u, 7u, 64u, 421u, 4096u}) {
        for (int c = 0; c < 3; ++c) {
            bool intact = false;
            EXPECT_EQ(CodeAll(kCoders[c], blocks, size, &intact), reference) << size;
            EXPECT_TRUE(intact) << size << " " << kCoderNames[c];
        }
    }
}

TEST_F(BitWriterTest, BufferSizeOneFlushesEveryBlock) {
    EncFixture local(1, 1);
    std::vector<Block> blocks = RandomBlocks(20, 3);
    for (Block block : blocks) {
        int writesBefore = local.sink.writes;
        EXPECT_EQ(JpgEncBlock_ARMV5(&local.writer, block.data(), &local.components[0]), VLTJPG_OK);
        EXPECT_EQ(local.sink.writes, writesBefore + 1);
        EXPECT_EQ(local.writer.writePtr, local.writer.buffer);
        EXPECT_EQ(local.writer.remaining, 1);
    }
    EXPECT_EQ(local.writer.bytesFlushed, local.sink.bytes.size());
}

// Tables whose codes are almost all 1-bits make nearly every byte 0xFF:
// the worst case for stuffing, which must stay inside the buffer's slack.
TEST_F(BitWriterTest, WorstCaseBlockStaysInsideTheSlack) {
    const uint8_t dcBits[17] = {0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
    const uint8_t dcValues[12] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
    const uint8_t acBits[17] = {0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
    const uint8_t acValues[16] = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07,
                                  0x08, 0x09, 0x11, 0x12, 0x13, 0x14, 0xF0, 0x0A};
    Block block;
    for (int16_t fill : {1023, -1023}) {
        block.fill(fill);
        block[0] = 2047;
        for (int c = 0; c < 3; ++c) {
            EncFixture local(1, 1);
            LoadHuffRecord(&local.dcRecords[0], dcBits, dcValues);
            LoadHuffRecord(&local.acRecords[0], acBits, acValues);
            JpgEncCreateHuffTable(&local.state);
            for (int i = 0; i < 3; ++i) {
                Block copy = block;
                ASSERT_EQ(kCoders[c](&local.writer, copy.data(), &local.components[0]), VLTJPG_OK);
                local.components[0].dcPredictor = 0;
            }
            EXPECT_TRUE(local.GuardIntact()) << kCoderNames[c];
            std::vector<uint8_t> out = local.Output();
            RefDecoder decoder(out);
            for (int i = 0; i < 3; ++i) {
                int32_t predictor = 0;
                Block decoded;
                ASSERT_TRUE(decoder.DecodeBlock(local.dcRecords[0], local.acRecords[0], predictor,
                                                decoded));
                EXPECT_EQ(decoded, block);
            }
        }
    }
}

TEST_F(BitWriterTest, ShortWriteReported) {
    EncFixture local(1, 8);
    local.sink.writeLimit = 3;
    std::vector<Block> blocks = RandomBlocks(20, 11);
    vltJpgResult result = VLTJPG_OK;
    for (Block block : blocks) {
        result = JpgEncBlock_ARMV5(&local.writer, block.data(), &local.components[0]);
        if (result != VLTJPG_OK) break;
    }
    EXPECT_EQ(result, VLTJPG_ERR_SHORT_WRITE);
    // The buffer is reset as if everything had been written.
    EXPECT_EQ(local.writer.writePtr, local.writer.buffer);
    EXPECT_EQ(local.writer.remaining, 8);
    EXPECT_GT(local.writer.bytesFlushed, local.sink.bytes.size());
    local.sink.writeLimit = UINT32_MAX;
    local.writer.writePtr[0] = 1;
    local.writer.writePtr += 1;
    EXPECT_EQ(JpgHufFlush(&local.writer), VLTJPG_OK);
    local.sink.writeLimit = 0;
    EXPECT_EQ(JpgHufDump(&local.writer, reinterpret_cast<const uint8_t *>("0123456789"), 10),
              VLTJPG_ERR_SHORT_WRITE);
}

TEST_F(BitWriterTest, FlushKeepsThePartialByte) {
    Block block{};
    block[0] = 3;  // "011" "11" + EOB "1010": 9 bits
    JpgEncBlock(&fixture.writer, block.data(), &fixture.components[0]);
    ASSERT_EQ(fixture.writer.bitsUsed, 1u);
    EXPECT_EQ(JpgHufFlush(&fixture.writer), VLTJPG_OK);
    EXPECT_EQ(fixture.sink.bytes, std::vector<uint8_t>({0x7D}));
    EXPECT_EQ(fixture.writer.bitsUsed, 1u);
    EXPECT_EQ(fixture.writer.buffer[0], 0x00);  // the 0 bit at the top
    EXPECT_EQ(fixture.writer.bytesFlushed, 1u);
    EXPECT_EQ(fixture.Output(), std::vector<uint8_t>({0x7D, 0x7F}));
}

TEST_F(BitWriterTest, DumpStoresRawBytesAndFlushesWhenDue) {
    EncFixture local(1, 4);
    const uint8_t bytes[] = {0xFF, 0x00, 0xFF, 0xFF, 0x12, 0xD9};
    EXPECT_EQ(JpgHufDump(&local.writer, bytes, sizeof(bytes)), VLTJPG_OK);
    EXPECT_EQ(local.sink.writes, 1);  // after the fourth byte
    EXPECT_EQ(local.writer.remaining, 2);
    EXPECT_EQ(local.Output(), std::vector<uint8_t>(bytes, bytes + sizeof(bytes)));
}

TEST_F(BitWriterTest, InitClearsBufferKeepsRestartState) {
    Block block{};
    block[0] = 100;
    JpgEncBlock(&fixture.writer, block.data(), &fixture.components[0]);
    JpgHufFlush(&fixture.writer);
    fixture.writer.restartNumber = 5;
    fixture.writer.restartCountdown = 3;
    ByteSink other;
    EXPECT_EQ(JpgEncHufInit(&fixture.writer, &other), VLTJPG_OK);
    EXPECT_EQ(fixture.writer.stream, &other);
    EXPECT_EQ(fixture.writer.bytesFlushed, 0u);
    EXPECT_EQ(fixture.writer.bitsUsed, 0u);
    EXPECT_EQ(fixture.writer.writePtr, fixture.writer.buffer);
    EXPECT_EQ(fixture.writer.remaining, 4096);
    EXPECT_EQ(fixture.writer.restartNumber, 5u);
    EXPECT_EQ(fixture.writer.restartCountdown, 3u);
    for (uint32_t i = 0; i < JpgHufBufferBytes(4096); ++i) ASSERT_EQ(fixture.storage[i], 0);
    EXPECT_TRUE(fixture.GuardIntact());
    EXPECT_EQ(JpgEncHufInit(nullptr, &other), VLTJPG_ERR_ARGUMENT);
}

class RestartTest : public ::testing::Test {
protected:
    EncFixture fixture{3};
};

TEST_F(RestartTest, MarkersInTurnWithPaddingAndPredictorReset) {
    fixture.writer.restartInterval = 1;
    JpgHufRestartFromZero(&fixture.writer);
    Block block{};
    block[0] = 7;
    std::vector<uint8_t> expected;
    for (int i = 0; i < 9; ++i) {
        for (JpgEncComponent &component : fixture.components) {
            EXPECT_EQ(component.dcPredictor, 0);
            Block copy = block;
            ASSERT_EQ(JpgEncBlock_ARMV5(&fixture.writer, copy.data(), &component), VLTJPG_OK);
        }
        fixture.writer.restartCountdown = 0;
        EXPECT_EQ(JpgEncRestart(&fixture.state), VLTJPG_OK);
        EXPECT_EQ(fixture.writer.restartCountdown, 1u);
        EXPECT_EQ(fixture.writer.bitsUsed, 0u);
        // Y: "100" "111" "1010"; Cb and Cr: "110" "111" "00"; then 1-bits.
        const uint8_t mcu[] = {0x9E, 0xB7, 0x37, 0x3F};
        expected.insert(expected.end(), mcu, mcu + sizeof(mcu));
        expected.push_back(0xFF);
        expected.push_back(static_cast<uint8_t>(0xD0 + (i & 7)));
    }
    EXPECT_EQ(fixture.writer.restartNumber, 1u);
    EXPECT_EQ(fixture.Output(), expected);
}

TEST_F(RestartTest, ShortWriteOfTheMarkerReported) {
    EncFixture small(1, 1);
    small.sink.writeLimit = 0;
    EXPECT_EQ(JpgEncRestart(&small.state), VLTJPG_ERR_SHORT_WRITE);
    EXPECT_EQ(small.writer.restartNumber, 1u);
    EXPECT_EQ(JpgEncRestart(nullptr), VLTJPG_ERR_ARGUMENT);
}

TEST_F(RestartTest, PaddingThatCompletesFFIsStuffed) {
    fixture.writer.writePtr[0] = 0xFE;
    fixture.writer.bitsUsed = 7;
    JpgEncRestart(&fixture.state);
    EXPECT_EQ(fixture.Output(), std::vector<uint8_t>({0xFF, 0x00, 0xFF, 0xD0}));
}

TEST_F(RestartTest, EachImageStartsAtRstZero) {
    fixture.writer.restartInterval = 4;
    fixture.writer.restartNumber = 6;
    fixture.writer.restartCountdown = 1;
    JpgHufRestartFromZero(&fixture.writer);
    EXPECT_EQ(fixture.writer.restartNumber, 0u);
    EXPECT_EQ(fixture.writer.restartCountdown, 4u);
}

class ResizeTest : public ::testing::Test {
protected:
    void SetUp() override {
        ownBuffer = static_cast<uint8_t *>(JpgEncAlloc(&fixture.state, JpgHufBufferBytes(16)));
        ASSERT_NE(ownBuffer, nullptr);
        fixture.writer.buffer = ownBuffer;
        fixture.writer.bufferSize = 16;
        JpgEncHufInit(&fixture.writer, &fixture.sink);
    }
    void TearDown() override { JpgEncFree(&fixture.state, fixture.writer.buffer); }

    EncFixture fixture{1};
    uint8_t *ownBuffer = nullptr;
};

TEST_F(ResizeTest, ReplacesTheBufferBeforeTheHeader) {
    EXPECT_EQ(JpgEncResizeHuffBuffer(&fixture.state, 16), VLTJPG_OK);
    EXPECT_EQ(fixture.writer.buffer, ownBuffer);
    EXPECT_EQ(JpgEncResizeHuffBuffer(&fixture.state, 0), VLTJPG_ERR_ARGUMENT);
    EXPECT_EQ(JpgEncResizeHuffBuffer(&fixture.state, -5), VLTJPG_ERR_ARGUMENT);
    EXPECT_EQ(JpgEncResizeHuffBuffer(&fixture.state, 1), VLTJPG_OK);
    EXPECT_EQ(fixture.writer.bufferSize, 1u);
    EXPECT_EQ(fixture.writer.remaining, 1);
    EXPECT_EQ(fixture.writer.writePtr, fixture.writer.buffer);
    EXPECT_EQ(fixture.writer.stream, &fixture.sink);
    Block block{};
    block[0] = 50;
    EXPECT_EQ(JpgEncBlock_ARMV5(&fixture.writer, block.data(), &fixture.components[0]), VLTJPG_OK);
    EXPECT_EQ(fixture.sink.writes, 1);
    fixture.state.headerWritten = 1;
    EXPECT_EQ(JpgEncResizeHuffBuffer(&fixture.state, 64), VLTJPG_ERR_ARGUMENT);
    EXPECT_EQ(fixture.writer.bufferSize, 1u);
}

// A one-component JPEG around coded blocks, decoded by libjpeg-turbo.
std::vector<uint8_t> MinimalJpeg(const EncFixture &tables, const std::vector<uint8_t> &scan,
                                 int blockCount) {
    std::vector<uint8_t> jpeg = {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x43, 0x00};
    jpeg.insert(jpeg.end(), 64, 1);
    const uint8_t width = static_cast<uint8_t>(8 * blockCount);
    const uint8_t sof[] = {0xFF, 0xC0, 0, 11, 8, 0, 8, 0, width, 1, 1, 0x11, 0};
    jpeg.insert(jpeg.end(), sof, sof + sizeof(sof));
    auto addTable = [&](const JpgHuffTable &record, uint8_t classAndId) {
        int count = 0;
        for (int length = 1; length <= 16; ++length) count += record.bits[length];
        int size = 2 + 1 + 16 + count;
        const uint8_t head[] = {0xFF, 0xC4, static_cast<uint8_t>(size >> 8),
                                static_cast<uint8_t>(size), classAndId};
        jpeg.insert(jpeg.end(), head, head + sizeof(head));
        jpeg.insert(jpeg.end(), record.bits + 1, record.bits + 17);
        jpeg.insert(jpeg.end(), record.values, record.values + count);
    };
    addTable(tables.dcRecords[0], 0x00);
    addTable(tables.acRecords[0], 0x10);
    const uint8_t sos[] = {0xFF, 0xDA, 0, 8, 1, 1, 0x00, 0, 63, 0};
    jpeg.insert(jpeg.end(), sos, sos + sizeof(sos));
    jpeg.insert(jpeg.end(), scan.begin(), scan.end());
    jpeg.push_back(0xFF);
    jpeg.push_back(0xD9);
    return jpeg;
}

// The blocks of the first block row as libjpeg-turbo reads them back.
std::vector<Block> LibjpegCoefficients(const std::vector<uint8_t> &jpeg) {
    enc_test::Decoded decoded = enc_test::DecodeCoefficients(jpeg);
    EXPECT_TRUE(decoded.ok);
    EXPECT_EQ(decoded.warnings, 0);
    if (decoded.planes.empty()) return {};
    std::vector<Block> &plane = decoded.planes[0];
    plane.resize(std::min<size_t>(plane.size(), decoded.blockColumns[0]));
    return plane;
}

TEST(LibjpegRoundTrip, CodedBlocksDecodeToTheSameCoefficients) {
    std::vector<Block> blocks = RandomBlocks(30, 2026);
    blocks[3].fill(0);
    blocks[4].fill(0);
    blocks[4][63] = -9;
    for (int c = 0; c < 3; ++c) {
        std::vector<uint8_t> scan;
        {
            EncFixture local(1, 1);
            for (Block block : blocks) {
                ASSERT_EQ(kCoders[c](&local.writer, block.data(), &local.components[0]), VLTJPG_OK);
            }
            scan = local.Output();
            EXPECT_EQ(LibjpegCoefficients(MinimalJpeg(local, scan, 30)), blocks) << kCoderNames[c];
        }
    }
}

} // namespace
