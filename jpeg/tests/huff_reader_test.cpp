// Huffman reader, derived tables and baseline block decoder.
#include "huff_test_support.h"
#include "jpeg_oracle.h"

#include "common/jpg_tables.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

using huff::CallbackStream;
using huff::Code;
using huff::EntropyWriter;
using huff::LastZigzag;
using huff::ReaderFixture;
using huff::TableDefinition;

namespace {

struct Lookup {
    int symbol;
    int length;
};

// Looks a 16-bit window up the way the block decoder does.
Lookup LookUp(const uint16_t *table, uint32_t window) {
    uint32_t e = table[window >> 8];
    if (e < kJpgHufSubTableRef)
        return {static_cast<int>(e >> 6), static_cast<int>(e & 63)};
    int n = static_cast<int>(e & 63);
    uint32_t sub = table[(e >> 6) + ((window >> (8 - n)) & ((1u << n) - 1))];
    return {static_cast<int>(sub >> 6), 8 + static_cast<int>(sub & 63)};
}

// Every code of `definition` looks up to its symbol and length, whatever bits follow it.
void ExpectEveryCodeDecodes(const uint16_t *table, const TableDefinition &definition) {
    std::vector<Code> codes = huff::CanonicalCodes(definition);
    std::mt19937 rng(7);
    for (uint8_t symbol : definition.values) {
        const Code &code = codes[symbol];
        for (int trial = 0; trial < 4; ++trial) {
            uint32_t filler = rng() & ((1u << (16 - code.length)) - 1);
            uint32_t window = (code.bits << (16 - code.length)) | filler;
            Lookup found = LookUp(table, window);
            ASSERT_EQ(found.symbol, symbol) << "length " << code.length;
            ASSERT_EQ(found.length, code.length) << "symbol " << int(symbol);
        }
    }
}

TableDefinition MakeDefinition(std::vector<std::pair<int, int>> lengthCounts) {
    TableDefinition definition;
    int symbol = 0;
    for (auto [length, count] : lengthCounts) {
        definition.bits[length] = static_cast<uint8_t>(count);
        for (int i = 0; i < count; ++i)
            definition.values.push_back(static_cast<uint8_t>(symbol++));
    }
    return definition;
}

using BlockDecoder = uint32_t (*)(JpgHufReader *, int16_t *, JpgDecComponent *);

struct Decoded {
    std::vector<int16_t> coef;
    std::vector<int> last;
};

// Encodes blocks with the standard luminance tables.
std::vector<uint8_t> EncodeBlocks(const std::vector<int16_t> &blocks, bool endWithEoi = true) {
    std::vector<Code> dc = huff::CanonicalCodes(huff::StandardTable(false, false));
    std::vector<Code> ac = huff::CanonicalCodes(huff::StandardTable(true, false));
    EntropyWriter writer;
    int predictor = 0;
    for (size_t b = 0; b < blocks.size() / 64; ++b)
        writer.EncodeBlock(&blocks[b * 64], &predictor, dc, ac);
    if (endWithEoi)
        writer.PutMarker(0xD9);
    else
        writer.Flush();
    return writer.bytes();
}

Decoded DecodeBlocks(BlockDecoder decode, ReaderFixture &f, JpgDecComponent &comp, int count,
                     std::vector<uint32_t> *results = nullptr) {
    Decoded out;
    out.coef.assign(static_cast<size_t>(count) * 64, 0);
    for (int b = 0; b < count; ++b) {
        uint32_t result = decode(f.reader(), &out.coef[static_cast<size_t>(b) * 64], &comp);
        if (results)
            results->push_back(result);
        else
            EXPECT_EQ(result, 0u) << "block " << b;
        EXPECT_GE(f.reader()->bitsLeft, 0);
        EXPECT_LE(f.reader()->bitsLeft, 8);
        out.last.push_back(comp.lastNonzero);
    }
    return out;
}

class BlockDecoderTest : public ::testing::TestWithParam<BlockDecoder> {};

// A reader with the standard luminance tables bound to `data`.
std::unique_ptr<ReaderFixture> StandardReader(const std::vector<uint8_t> &data,
                                              uint32_t chunk = 256) {
    auto f = std::make_unique<ReaderFixture>(chunk);
    f->DefineStandard();
    f->Bind(data);
    return f;
}

} // namespace

// ---------------------------------------------------------------- tables

TEST(DerivedTableTest, AnnexKTablesDecodeEveryCode) {
    for (bool ac : {false, true}) {
        for (bool chroma : {false, true}) {
            ReaderFixture f;
            TableDefinition definition = huff::StandardTable(ac, chroma);
            ASSERT_EQ(f.Define(ac, 1, definition), 0u);
            const uint16_t *table = ac ? f.reader()->acTables[1] : f.reader()->dcTables[1];
            ASSERT_NE(table, nullptr);
            ExpectEveryCodeDecodes(table, definition);
        }
    }
}

TEST(DerivedTableTest, LuminanceDcEntriesArePacked) {
    ReaderFixture f;
    f.DefineStandard();
    const uint16_t *table = f.reader()->dcTables[0];
    // Symbol 0 has the 2-bit code 00: 64 first-level entries of (0, 2).
    for (int i = 0; i < 64; ++i)
        EXPECT_EQ(table[i], 2);
    // Symbol 1 has the 3-bit code 010.
    EXPECT_EQ(table[0x40], (1 << 6) | 3);
    // Symbol 11 has the 9-bit code 111111110: a sub-table behind entry 0xFF.
    EXPECT_GE(table[0xFF], kJpgHufSubTableRef);
    EXPECT_EQ(table[0xFF] & 63, 1);
}

TEST(DerivedTableTest, SixteenBitCodesDecode) {
    ReaderFixture f;
    TableDefinition definition = MakeDefinition({{2, 2}, {3, 1}, {9, 3}, {12, 2}, {16, 5}});
    ASSERT_EQ(f.Define(1, 2, definition), 0u);
    ExpectEveryCodeDecodes(f.reader()->acTables[2], definition);
}

TEST(DerivedTableTest, LongCodesUnderManyPrefixesGetRoom) {
    // 128 9-bit codes spread over 64 prefixes and a 16-bit code behind a
    // further one need 384 second-level entries.
    ReaderFixture f;
    TableDefinition definition = MakeDefinition({{1, 1}, {9, 128}, {16, 2}});
    ASSERT_EQ(f.Define(1, 0, definition), 0u);
    ExpectEveryCodeDecodes(f.reader()->acTables[0], definition);
}

TEST(DerivedTableTest, InvalidDefinitionsAreRefused) {
    ReaderFixture f;
    EXPECT_EQ(f.Define(0, 0, MakeDefinition({{1, 3}})), VLTJPG_ERR_ARGUMENT); // over-subscribed
    EXPECT_EQ(f.Define(0, 0, MakeDefinition({{8, 255}, {9, 2}})), VLTJPG_ERR_ARGUMENT);
    TableDefinition tooMany = MakeDefinition({{8, 200}});
    tooMany.bits[16] = 57; // 257 codes
    EXPECT_EQ(f.Define(1, 0, tooMany), VLTJPG_ERR_ARGUMENT);
    EXPECT_EQ(f.reader()->acTables[0], nullptr);
    EXPECT_EQ(f.reader()->dcTables[0], nullptr);
    EXPECT_EQ(JpgDecSetHuffTable(f.decoder(), 4, 0), VLTJPG_ERR_ARGUMENT);
    EXPECT_EQ(JpgDecSetHuffTable(nullptr, 0, 0), VLTJPG_ERR_ARGUMENT);
}

TEST(DerivedTableTest, TwoHundredFiftySixCodesAreAccepted) {
    ReaderFixture f;
    TableDefinition definition = MakeDefinition({{8, 255}});
    definition.bits[16] = 1;
    definition.values.push_back(255);
    ASSERT_EQ(f.Define(1, 3, definition), 0u);
    ExpectEveryCodeDecodes(f.reader()->acTables[3], definition);
    // Each definition adds a table to the list; the old one stays until the end.
    ASSERT_EQ(f.Define(1, 3, definition), 0u);
    int tables = 0;
    for (JpgDecTableNode *n = f.decoder()->derivedTables; n; n = n->next)
        ++tables;
    EXPECT_EQ(tables, 2);
}

// The combined lookup of `table` against the code and magnitude bits of
// every 10-bit window: a whole coefficient, an end of block or "the long way".
void ExpectCombinedLookupMatches(const uint16_t *table, bool ac) {
    const uint32_t *fast = JpgHufFastTable(table);
    for (uint32_t window = 0; window < (1u << kJpgHufFastBits); ++window) {
        Lookup code = LookUp(table, window << (16 - kJpgHufFastBits));
        if (table[window >> (kJpgHufFastBits - 8)] >= kJpgHufSubTableRef && code.length == 8)
            code.length = 0; // an empty sub-table entry: no code starts here
        int size = ac ? (code.symbol & 15) : code.symbol;
        int used = code.length + size;
        uint32_t expected = 0;
        if (code.length == 0 || used > kJpgHufFastBits || size > 16) {
            expected = 0;
        } else if (ac && code.symbol == 0) {
            expected = (kJpgHufFastEndOfBlock << 8) | static_cast<uint32_t>(code.length);
        } else if (!ac || size != 0) {
            int magnitude = static_cast<int>(window >> (kJpgHufFastBits - used)) & ((1 << size) - 1);
            int value = (size == 0 || magnitude >= (1 << (size - 1))) ? magnitude
                                                                     : magnitude - (1 << size) + 1;
            uint32_t run = ac ? static_cast<uint32_t>(code.symbol >> 4) : 0;
            expected = (static_cast<uint32_t>(value) << 16) | (run << 8) | static_cast<uint32_t>(used);
        }
        ASSERT_EQ(fast[window], expected) << "window " << window << " symbol " << code.symbol;
    }
}

TEST(DerivedTableTest, CombinedLookupGivesShortCoefficientsWhole) {
    for (bool ac : {false, true}) {
        for (bool chroma : {false, true}) {
            ReaderFixture f;
            ASSERT_EQ(f.Define(ac, 1, huff::StandardTable(ac, chroma)), 0u);
            ExpectCombinedLookupMatches(ac ? f.reader()->acTables[1] : f.reader()->dcTables[1], ac);
        }
    }
    // Short codes for symbols 0..15: DC sizes up to 15, AC end of block,
    // runless sizes 1..15; an incomplete table leaves windows without code.
    for (bool ac : {false, true}) {
        ReaderFixture f;
        ASSERT_EQ(f.Define(ac, 2, MakeDefinition({{2, 1}, {3, 2}, {4, 4}, {6, 9}})), 0u);
        ExpectCombinedLookupMatches(ac ? f.reader()->acTables[2] : f.reader()->dcTables[2], ac);
    }
}

// ---------------------------------------------------------------- buffering

TEST(HufReaderTest, ShortStreamEndsInAppendedEoi) {
    ReaderFixture f(256);
    std::vector<uint8_t> data = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    f.Bind(data);
    JpgHufReader *r = f.reader();
    EXPECT_EQ(r->bytesLeft, 12);
    EXPECT_EQ(r->endFlag, 1u);
    EXPECT_EQ(r->mainCount, 10u);
    EXPECT_EQ(r->tailCount, 0);
    EXPECT_EQ(r->bitsLeft, 8);
    EXPECT_EQ(r->position, r->buffer);
    EXPECT_EQ(r->buffer[10], 0xFF);
    EXPECT_EQ(r->buffer[11], 0xD9);
}

// Reads the stream byte by byte the way the marker parser does.
std::vector<uint8_t> ReadAll(JpgHufReader *r) {
    std::vector<uint8_t> out;
    for (;;) {
        if (r->bytesLeft <= 0 && JpgHufRead(r) != 0)
            break;
        if (r->bytesLeft <= 0)
            break;
        out.push_back(*r->position++);
        --r->bytesLeft;
    }
    return out;
}

TEST(HufReaderTest, RefillsDeliverTheWholeStreamThenAnEoi) {
    for (uint32_t maxRead : {0xFFFFFFFFu, 300u, 100u, 7u}) {
        ReaderFixture f(256);
        f.stream().maxRead = maxRead;
        std::vector<uint8_t> data(3001);
        for (size_t i = 0; i < data.size(); ++i)
            data[i] = static_cast<uint8_t>(i * 7 + 3);
        f.Bind(data);
        std::vector<uint8_t> read = ReadAll(f.reader());
        // A short read is taken as the end of the stream, so only a prefix
        // arrives when reads are short; it arrives without gaps.
        ASSERT_GE(read.size(), 2u) << maxRead;
        ASSERT_EQ(read[read.size() - 2], 0xFF);
        ASSERT_EQ(read.back(), 0xD9);
        read.resize(read.size() - 2);
        if (maxRead == 0xFFFFFFFFu) {
            EXPECT_EQ(read.size(), data.size());
        }
        EXPECT_TRUE(std::equal(read.begin(), read.end(), data.begin())) << maxRead;
        EXPECT_EQ(f.reader()->endFlag, 1u);
    }
}

TEST(HufReaderTest, RefillStateAtTheRefillPoint) {
    ReaderFixture f(256);
    std::vector<uint8_t> data(1000, 0x11);
    f.Bind(data);
    JpgHufReader *r = f.reader();
    EXPECT_EQ(r->bytesLeft, 256);
    EXPECT_EQ(r->tailCount, 128);
    EXPECT_EQ(JpgHufRead(r), VLTJPG_ERR_DATA); // not at the refill point yet
    r->position += 260;
    r->bytesLeft -= 260;
    ASSERT_EQ(JpgHufRead(r), 0u);
    EXPECT_EQ(r->bufferOrigin, 256u);
    EXPECT_EQ(r->position, r->buffer + 4);
    EXPECT_EQ(r->bytesLeft, 252);
    EXPECT_EQ(r->tailCount, 128);
    EXPECT_EQ(r->endFlag, 0u);
}

TEST(HufReaderTest, OverrunPastTheSlackIsAnError) {
    ReaderFixture f(256);
    f.Bind(std::vector<uint8_t>(1000, 0x22));
    JpgHufReader *r = f.reader();
    r->position += 256 + 129;
    r->bytesLeft -= 256 + 129;
    EXPECT_EQ(JpgHufRead(r), VLTJPG_ERR_DATA);
    EXPECT_EQ(r->endFlag, 1u);
}

// ---------------------------------------------------------------- blocks

TEST_P(BlockDecoderTest, RandomBlocksAcrossRefillsAndStuffing) {
    std::vector<int16_t> blocks = huff::RandomBlocks(1500, 11);
    std::vector<uint8_t> data = EncodeBlocks(blocks);
    ASSERT_GT(std::count(data.begin(), data.end(), 0xFF), 100);
    auto fixture = StandardReader(data);
    ReaderFixture &f = *fixture;
    JpgDecComponent comp = huff::MakeComponent();
    Decoded d = DecodeBlocks(GetParam(), f, comp, 1500);
    ASSERT_EQ(d.coef, blocks);
    for (int b = 0; b < 1500; ++b)
        ASSERT_EQ(d.last[b], LastZigzag(&blocks[static_cast<size_t>(b) * 64])) << b;
    // The data ends in the EOI: the next block stops on it, leaving the
    // block and the predictor untouched, and so does every later one.
    int predictor = comp.dcPredictor;
    for (int i = 0; i < 2; ++i) {
        int16_t coef[64] = {};
        EXPECT_EQ(GetParam()(f.reader(), coef, &comp), 0u);
        EXPECT_EQ(f.reader()->marker, 0xD9u);
        EXPECT_EQ(comp.dcPredictor, predictor);
        for (int16_t c : coef)
            EXPECT_EQ(c, 0);
    }
}

TEST_P(BlockDecoderTest, BlocksLongerThanTheSlackDecode) {
    // Every AC coefficient of category 10 with long codes: about 200 bytes
    // a block, so blocks started shortly before the refill point run past
    // the 128 bytes of slack and refill inside the block.
    std::mt19937 rng(17);
    std::vector<int16_t> blocks(60 * 64);
    for (size_t i = 0; i < blocks.size(); ++i)
        blocks[i] = static_cast<int16_t>((rng() % 2 ? 1 : -1) * (512 + rng() % 512));
    for (size_t b = 0; b < 60; ++b)
        blocks[b * 64] = static_cast<int16_t>(blocks[b * 64] / 2);
    std::vector<uint8_t> data = EncodeBlocks(blocks);
    ASSERT_GT(data.size(), 60u * 180);
    auto fixture = StandardReader(data);
    ReaderFixture &f = *fixture;
    JpgDecComponent comp = huff::MakeComponent();
    Decoded d = DecodeBlocks(GetParam(), f, comp, 60);
    EXPECT_EQ(d.coef, blocks);
}

TEST_P(BlockDecoderTest, LibjpegScanWithRestartMarkers) {
    oracle::EncodeOptions options;
    options.width = 128;
    options.height = 96;
    options.components = 1;
    options.quality = 98;
    options.content = oracle::Content::kNoise;
    options.restartInterval = 7;
    std::vector<uint8_t> jpeg = oracle::Encode(options);
    std::vector<oracle::ComponentCoefficients> expected = oracle::ReadCoefficients(jpeg);
    const int blocks = expected[0].blocksWide * expected[0].blocksHigh;
    std::vector<uint8_t> scan(jpeg.begin() + static_cast<long>(oracle::ScanDataOffset(jpeg)),
                              jpeg.end());

    ReaderFixture f(256);
    f.DefineStandard();
    f.Bind(scan);
    JpgHufReader *r = f.reader();
    JpgDecComponent comp = huff::MakeComponent();
    std::vector<int16_t> coef(static_cast<size_t>(blocks) * 64, 0);
    for (int b = 0; b < blocks; ++b) {
        if (b > 0 && b % options.restartInterval == 0) {
            // What the restart handler does: step past the partial byte and
            // find the marker, which must be the next RSTn.
            if (r->bitsLeft != 8) {
                int drop = (r->position[0] == 0xFF && r->position[1] == 0) ? 2 : 1;
                r->position += drop;
                r->bytesLeft -= drop;
                r->bitsLeft = 8;
            }
            if (r->bytesLeft < 2) {
                ASSERT_EQ(JpgHufRead(r), 0u);
            }
            ASSERT_EQ(r->position[0], 0xFF) << "block " << b;
            ASSERT_EQ(r->position[1], 0xD0 + (b / options.restartInterval - 1) % 8);
            r->position += 2;
            r->bytesLeft -= 2;
            comp.dcPredictor = 0;
        }
        ASSERT_EQ(GetParam()(r, &coef[static_cast<size_t>(b) * 64], &comp), 0u);
        ASSERT_EQ(r->marker, 0u) << "block " << b;
    }
    EXPECT_EQ(coef, expected[0].values);
}

TEST_P(BlockDecoderTest, MarkerInsideABlockStopsIt) {
    std::vector<int16_t> blocks = huff::RandomBlocks(3, 5);
    std::vector<uint8_t> data = EncodeBlocks(blocks, false);
    // Keep the first block and half of the second, then an RST3.
    std::vector<uint8_t> one =
        EncodeBlocks(std::vector<int16_t>(blocks.begin(), blocks.begin() + 64), false);
    size_t cut = one.size() + (data.size() - one.size()) / 4;
    data.resize(cut);
    if (data.back() == 0xFF)
        data.push_back(0x00);
    data.push_back(0xFF);
    data.push_back(0xD3);
    data.push_back(0x12);
    auto fixture = StandardReader(data);
    ReaderFixture &f = *fixture;
    JpgDecComponent comp = huff::MakeComponent();
    int16_t coef[64] = {};
    ASSERT_EQ(GetParam()(f.reader(), coef, &comp), 0u);
    EXPECT_TRUE(std::equal(coef, coef + 64, blocks.begin()));
    EXPECT_EQ(f.reader()->marker, 0u);
    std::memset(coef, 0, sizeof coef);
    ASSERT_EQ(GetParam()(f.reader(), coef, &comp), 0u);
    EXPECT_EQ(f.reader()->marker, 0xD3u);
    EXPECT_EQ(f.reader()->bitsLeft, 8);
    EXPECT_EQ(*f.reader()->position, 0x12); // the byte after the marker
    EXPECT_EQ(f.reader()->position + f.reader()->bytesLeft, f.reader()->buffer + data.size() + 2);
    // Further blocks return at once and touch nothing.
    int16_t untouched[64] = {};
    comp.dcPredictor = 77;
    ASSERT_EQ(GetParam()(f.reader(), untouched, &comp), 0u);
    EXPECT_EQ(comp.dcPredictor, 77);
    for (int16_t c : untouched)
        EXPECT_EQ(c, 0);
}

TEST_P(BlockDecoderTest, FillBytesBeforeAMarker) {
    std::vector<int16_t> blocks = huff::RandomBlocks(3, 8, 40);
    std::vector<uint8_t> data =
        EncodeBlocks(std::vector<int16_t>(blocks.begin(), blocks.begin() + 128), false);
    const size_t firstFill = data.size();
    data.insert(data.end(), {0xFF, 0xFF, 0xFF, 0xD5});
    std::vector<uint8_t> rest =
        EncodeBlocks(std::vector<int16_t>(blocks.begin() + 128, blocks.end()));
    data.insert(data.end(), rest.begin(), rest.end());
    auto fixture = StandardReader(data);
    JpgHufReader *r = fixture->reader();
    JpgDecComponent comp = huff::MakeComponent();
    Decoded d = DecodeBlocks(GetParam(), *fixture, comp, 2);
    EXPECT_TRUE(std::equal(d.coef.begin(), d.coef.end(), blocks.begin()));
    // The reader ends on the data, not inside the fill bytes.
    const uint8_t *fill = r->buffer + firstFill;
    EXPECT_TRUE(r->position < fill || (r->position == fill && r->bitsLeft == 8));
    // The next block stops on the marker, past the fill bytes.
    int16_t coef[64] = {};
    ASSERT_EQ(GetParam()(r, coef, &comp), 0u);
    EXPECT_EQ(r->marker, 0xD5u);
    EXPECT_EQ(r->position, fill + 4);
    EXPECT_EQ(r->bitsLeft, 8);
    // Once the marker is cleared, as at a restart, decoding resumes.
    r->marker = 0;
    comp.dcPredictor = 0;
    ASSERT_EQ(GetParam()(r, coef, &comp), 0u);
    EXPECT_TRUE(std::equal(coef, coef + 64, blocks.begin() + 128));
}

TEST_P(BlockDecoderTest, TruncatedDataNeverReadsOutside) {
    std::vector<int16_t> blocks = huff::RandomBlocks(40, 9);
    std::vector<uint8_t> full = EncodeBlocks(blocks, false);
    for (size_t cut = 0; cut < full.size(); cut += 1 + cut / 16) {
        std::vector<uint8_t> data(full.begin(), full.begin() + static_cast<long>(cut));
        ReaderFixture f(256);
        f.DefineStandard();
        f.Bind(data); // the fill appends FF D9 after the cut
        JpgDecComponent comp = huff::MakeComponent();
        std::vector<uint32_t> results;
        Decoded d = DecodeBlocks(GetParam(), f, comp, 40, &results);
        for (uint32_t result : results)
            EXPECT_TRUE(result == 0 || result == VLTJPG_ERR_DATA) << result;
        EXPECT_EQ(f.reader()->marker, 0xD9u) << "cut " << cut;
        // Blocks whose data lies before the cut are intact.
        size_t whole =
            EncodeBlocks(std::vector<int16_t>(blocks.begin(), blocks.begin() + 64), false).size();
        if (cut > whole + 1) {
            EXPECT_TRUE(std::equal(d.coef.begin(), d.coef.begin() + 64, blocks.begin()));
        }
    }
}

TEST_P(BlockDecoderTest, CutOffKeepsOnlyLowCoefficients) {
    std::vector<int16_t> blocks(3 * 64, 0);
    // Block 0: zigzag 20 and, after a run of 9, zigzag 30; then zigzag 40.
    blocks[0] = 50;
    blocks[jpg_natural_order[20]] = 5;
    blocks[jpg_natural_order[30]] = -3;
    blocks[jpg_natural_order[40]] = 9;
    blocks[64 + 0] = -20;
    blocks[64 + jpg_natural_order[1]] = 4;
    blocks[128 + 0] = 7;
    blocks[128 + jpg_natural_order[63]] = 1;
    std::vector<uint8_t> data = EncodeBlocks(blocks);
    for (int kept : {24, 0}) {
        ReaderFixture f;
        f.DefineStandard();
        f.Bind(data);
        f.reader()->lastIndexKept = kept;
        JpgDecComponent comp = huff::MakeComponent();
        Decoded d = DecodeBlocks(GetParam(), f, comp, 3);
        EXPECT_EQ(d.coef[0], 50);
        EXPECT_EQ(d.coef[64], -20);
        EXPECT_EQ(d.coef[128], 7); // the stream stayed in step
        if (kept == 24) {
            // The run that jumps past the cut-off still stores its value.
            EXPECT_EQ(d.coef[jpg_natural_order[20]], 5);
            EXPECT_EQ(d.coef[jpg_natural_order[30]], -3);
            EXPECT_EQ(d.coef[jpg_natural_order[40]], 0);
            EXPECT_EQ(d.last[0], 30);
            EXPECT_EQ(d.coef[64 + 1], 4);
            EXPECT_EQ(d.coef[128 + 63], 0);
        } else {
            for (int b = 0; b < 3; ++b) {
                EXPECT_EQ(d.last[b], 0);
                for (int i = 1; i < 64; ++i)
                    EXPECT_EQ(d.coef[b * 64 + i], 0);
            }
        }
    }
}

TEST_P(BlockDecoderTest, RunOvershootStaysInTheBlock) {
    std::vector<Code> dc = huff::CanonicalCodes(huff::StandardTable(false, false));
    std::vector<Code> ac = huff::CanonicalCodes(huff::StandardTable(true, false));
    EntropyWriter w;
    w.PutCode(dc[0]);
    for (int i = 0; i < 3; ++i)
        w.PutCode(ac[0xF0]); // k = 49
    w.PutCode(ac[0xE1]);     // run 14: k = 63
    w.PutBits(1, 1);
    w.PutCode(ac[0xF1]);     // past the end
    w.PutBits(0, 1);
    w.PutMarker(0xD9);
    ReaderFixture f;
    f.DefineStandard();
    f.Bind(w.bytes());
    JpgDecComponent comp = huff::MakeComponent();
    std::vector<int16_t> guard(64 + 32, 0x5555);
    int16_t *coef = guard.data() + 16;
    std::fill(coef, coef + 64, 0);
    ASSERT_EQ(GetParam()(f.reader(), coef, &comp), 0u);
    EXPECT_EQ(coef[63], 1);
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(guard[i], 0x5555);
        EXPECT_EQ(guard[80 + i], 0x5555);
    }
}

TEST_P(BlockDecoderTest, DcPredictorWrapsAtSixteenBits) {
    std::vector<Code> dc = huff::CanonicalCodes(huff::StandardTable(false, false));
    std::vector<Code> ac = huff::CanonicalCodes(huff::StandardTable(true, false));
    EntropyWriter w;
    w.PutCode(dc[1]);
    w.PutBits(1, 1); // +1
    w.PutCode(ac[0x00]);
    w.PutMarker(0xD9);
    ReaderFixture f;
    f.DefineStandard();
    f.Bind(w.bytes());
    JpgDecComponent comp = huff::MakeComponent();
    comp.dcPredictor = 32767;
    int16_t coef[64] = {};
    ASSERT_EQ(GetParam()(f.reader(), coef, &comp), 0u);
    EXPECT_EQ(coef[0], -32768);
    EXPECT_EQ(comp.dcPredictor, -32768);
    EXPECT_EQ(comp.lastNonzero, 0);
}

TEST_P(BlockDecoderTest, UndefinedTableIsAnError) {
    ReaderFixture f;
    f.Define(0, 0, huff::StandardTable(false, false));
    f.Bind(std::vector<uint8_t>(10, 0));
    JpgDecComponent comp = huff::MakeComponent();
    int16_t coef[64] = {};
    EXPECT_EQ(GetParam()(f.reader(), coef, &comp), VLTJPG_ERR_DATA); // AC 0 undefined
    f.Define(1, 0, huff::StandardTable(true, false));
    comp.dcTable = 7;
    EXPECT_EQ(GetParam()(f.reader(), coef, &comp), VLTJPG_ERR_DATA);
}

TEST_P(BlockDecoderTest, ResetRepositionsInsideAndOutsideTheBuffer) {
    std::vector<int16_t> blocks = huff::RandomBlocks(800, 21);
    std::vector<uint8_t> data = EncodeBlocks(blocks);
    auto fixture = StandardReader(data);
    ReaderFixture &f = *fixture;
    JpgDecComponent comp = huff::MakeComponent();
    std::vector<uint32_t> positions;
    std::vector<int> predictors;
    std::vector<int16_t> coef(64);
    auto decodeAndCheck = [&](int b) {
        std::fill(coef.begin(), coef.end(), 0);
        ASSERT_EQ(GetParam()(f.reader(), coef.data(), &comp), 0u);
        ASSERT_TRUE(std::equal(coef.begin(), coef.end(), blocks.begin() + b * 64)) << b;
    };
    auto record = [&](int count) {
        for (int b = static_cast<int>(positions.size()); b < count; ++b) {
            positions.push_back(f.BitPosition());
            predictors.push_back(comp.dcPredictor);
            decodeAndCheck(b);
        }
    };
    auto resetTo = [&](int b) {
        ASSERT_EQ(JpgHufReset(f.reader(), positions[b]), 0u);
        comp.dcPredictor = predictors[b];
    };
    // Back to a block still in the buffer: only the position moves.
    record(3);
    resetTo(1);
    EXPECT_EQ(f.stream().seeks, 0);
    decodeAndCheck(1);
    decodeAndCheck(2);
    // Far back after many refills: the reader seeks and refills.
    record(800);
    resetTo(3);
    EXPECT_EQ(f.stream().seeks, 1);
    for (int b = 3; b < 800; ++b)
        decodeAndCheck(b);
    // Back inside the final, EOI-terminated buffer.
    resetTo(799);
    decodeAndCheck(799);
    int16_t end[64] = {};
    EXPECT_EQ(GetParam()(f.reader(), end, &comp), 0u);
    EXPECT_EQ(f.reader()->marker, 0xD9u);
    // A stream that cannot seek.
    f.stream().failSeek = true;
    EXPECT_EQ(JpgHufReset(f.reader(), positions[1]), VLTJPG_ERR_DATA);
    EXPECT_EQ(f.reader()->endFlag, 1u);
}

TEST_P(BlockDecoderTest, GarbageDataStaysInBounds) {
    std::mt19937 rng(3);
    for (int round = 0; round < 40; ++round) {
        std::vector<uint8_t> data(rng() % 3000);
        for (uint8_t &byte : data)
            byte = static_cast<uint8_t>(rng() % 4 == 0 ? 0xFF : rng());
        ReaderFixture f(256);
        f.DefineStandard();
        TableDefinition sparse = MakeDefinition({{3, 2}, {16, 3}});
        f.Define(0, 1, sparse);
        f.Define(1, 1, sparse);
        f.Bind(data);
        JpgDecComponent comp = huff::MakeComponent();
        comp.dcTable = comp.acTable = round % 2;
        f.reader()->lastIndexKept = static_cast<int32_t>(rng() % 100);
        std::vector<int16_t> coef(64);
        for (int b = 0; b < 300; ++b) {
            uint32_t result = GetParam()(f.reader(), coef.data(), &comp);
            ASSERT_TRUE(result == 0 || result == VLTJPG_ERR_DATA);
            ASSERT_LE(comp.lastNonzero, 78);
            JpgHufReader *r = f.reader();
            ASSERT_GE(r->position, r->buffer);
            ASSERT_LE(r->position, r->buffer + r->chunkSize + 128);
            if (r->marker && b % 7 == 0)
                r->marker = 0; // as if a restart cleared it
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Portable, BlockDecoderTest, ::testing::Values(&JpgDecBlock));
INSTANTIATE_TEST_SUITE_P(Kernel, BlockDecoderTest, ::testing::Values(&JpgDecBlock_ARMV5));

TEST(BlockKernelTest, SameResultsAndPositionsAsPortable) {
    std::vector<int16_t> blocks = huff::RandomBlocks(600, 33, 300);
    std::vector<uint8_t> data = EncodeBlocks(blocks);
    ReaderFixture a(256), b(256);
    a.DefineStandard();
    b.DefineStandard();
    a.Bind(data);
    b.Bind(data);
    JpgDecComponent ca = huff::MakeComponent(), cb = huff::MakeComponent();
    for (int i = 0; i < 601; ++i) {
        int16_t x[64] = {}, y[64] = {};
        ASSERT_EQ(JpgDecBlock(a.reader(), x, &ca), JpgDecBlock_ARMV5(b.reader(), y, &cb));
        ASSERT_EQ(0, std::memcmp(x, y, sizeof x)) << i;
        ASSERT_EQ(a.BitPosition(), b.BitPosition()) << i;
        ASSERT_EQ(ca.lastNonzero, cb.lastNonzero);
    }
}

// ---------------------------------------------------------------- scan readers

TEST(ScanReaderTest, ScanReaderSharesTheStream) {
    std::vector<int16_t> blocks = huff::RandomBlocks(400, 41);
    std::vector<uint8_t> body = EncodeBlocks(blocks);
    std::vector<uint8_t> data(100 + body.size(), 0xAB); // the scan starts at byte 100
    std::copy(body.begin(), body.end(), data.begin() + 100);
    ReaderFixture main(256);
    main.DefineStandard();
    main.Bind(data);
    main.reader()->restartInterval = 5;
    main.reader()->restartsToGo = 3;
    main.reader()->restartHandler = JpgDecRestart;

    ReaderFixture scanFixture(512);
    JpgHufReader *scan = scanFixture.reader();
    scan->stream = nullptr;
    scan->dataStart = 100 * 8;
    main.stream().position = 50;
    ASSERT_EQ(JpgScanHufInit(scan, main.decoder()), 0u);
    EXPECT_EQ(main.stream().position, 50u); // left where it was
    EXPECT_EQ(scan->refill, &JpgScanHufRead);
    EXPECT_EQ(scan->restartInterval, 5u);
    EXPECT_EQ(scan->restartsToGo, 3u);
    EXPECT_EQ(scan->bufferOrigin, 100u);
    EXPECT_EQ(scan->bitsLeft, 8);
    for (int i = 0; i < 4; ++i)
        scan->dcTables[i] = main.reader()->dcTables[i],
        scan->acTables[i] = main.reader()->acTables[i];

    JpgDecComponent comp = huff::MakeComponent();
    std::vector<int16_t> coef(64);
    for (int b = 0; b < 400; ++b) {
        main.stream().position = 7; // someone else moves the stream in between
        std::fill(coef.begin(), coef.end(), 0);
        ASSERT_EQ(JpgDecBlock(scan, coef.data(), &comp), 0u);
        ASSERT_TRUE(std::equal(coef.begin(), coef.end(), blocks.begin() + b * 64)) << b;
    }
    scan->eobRun = 9;
    scan->restartsToGo = 1;
    scan->nextRestart = 4;
    ASSERT_EQ(JpgScanHufReset(scan, 100 * 8), 0u);
    EXPECT_EQ(scan->eobRun, 0);
    EXPECT_EQ(scan->restartsToGo, 5u);
    EXPECT_EQ(scan->nextRestart, 0u);
    comp.dcPredictor = 0;
    std::fill(coef.begin(), coef.end(), 0);
    ASSERT_EQ(JpgDecBlock(scan, coef.data(), &comp), 0u);
    EXPECT_TRUE(std::equal(coef.begin(), coef.end(), blocks.begin()));
}

TEST(ScanReaderTest, TablesHoldTheirConstants) {
    EXPECT_EQ(jpg_extend_tbl[0], 0);
    EXPECT_EQ(jpg_extend_tbl[1], -1);
    EXPECT_EQ(jpg_extend_tbl[15], -32767);
    EXPECT_EQ(jpg_scalese_tbl[0], 63);
    EXPECT_EQ(jpg_scalese_tbl[1], 24);
    EXPECT_EQ(jpg_scalese_tbl[2], 4);
    EXPECT_EQ(jpg_scalese_tbl[3], 0);
}
