#include "huff_test_support.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <jpeglib.h>
#include <random>

#include "common/jpg_glue.h"
#include "common/jpg_tables.h"
#include "decoder_harness.h"

namespace huff {

TableDefinition StandardTable(bool ac, bool chroma) {
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    cinfo.in_color_space = JCS_YCbCr;
    cinfo.input_components = 3;
    jpeg_set_defaults(&cinfo);
    const JHUFF_TBL *table =
        ac ? cinfo.ac_huff_tbl_ptrs[chroma ? 1 : 0] : cinfo.dc_huff_tbl_ptrs[chroma ? 1 : 0];
    TableDefinition definition;
    int total = 0;
    for (int i = 1; i <= 16; ++i) {
        definition.bits[i] = table->bits[i];
        total += table->bits[i];
    }
    definition.values.assign(table->huffval, table->huffval + total);
    jpeg_destroy_compress(&cinfo);
    return definition;
}

std::vector<Code> CanonicalCodes(const TableDefinition &definition) {
    std::vector<Code> codes(256);
    uint32_t code = 0;
    size_t k = 0;
    for (int length = 1; length <= 16; ++length, code <<= 1) {
        for (int i = 0; i < definition.bits[length]; ++i, ++code, ++k)
            codes[definition.values[k]] = Code{code, length};
    }
    return codes;
}

uint32_t CallbackStream::Callback(uint32_t operation, void *stream, void *argument) {
    auto *s = static_cast<CallbackStream *>(stream);
    switch (operation) {
    case VLTJPG_STREAM_READ:
        ++s->reads;
        return harness::ReadFromBytes(s->data, &s->position,
                                      static_cast<vltJpgStreamBuffer *>(argument), s->maxRead);
    case VLTJPG_STREAM_SEEK:
        ++s->seeks;
        if (s->failSeek)
            return 1;
        return harness::SeekInBytes(s->data.size(), &s->position,
                                    static_cast<vltJpgStreamSeekArgs *>(argument));
    case VLTJPG_STREAM_TELL:
        return static_cast<uint32_t>(s->position);
    default:
        return 0;
    }
}

void EntropyWriter::PutByte(uint8_t byte) {
    bytes_.push_back(byte);
    if (byte == 0xFF)
        bytes_.push_back(0x00);
}

void EntropyWriter::PutBits(uint32_t bits, int count) {
    for (int i = count - 1; i >= 0; --i) {
        acc_ = (acc_ << 1) | ((bits >> i) & 1);
        if (++count_ == 8) {
            PutByte(static_cast<uint8_t>(acc_));
            acc_ = 0;
            count_ = 0;
        }
    }
}

namespace {

int Category(int value) {
    int magnitude = value < 0 ? -value : value;
    int s = 0;
    while (magnitude) {
        ++s;
        magnitude >>= 1;
    }
    return s;
}

uint32_t MagnitudeBits(int value, int s) {
    return static_cast<uint32_t>(value < 0 ? value + (1 << s) - 1 : value) & ((1u << s) - 1);
}

} // namespace

void EntropyWriter::EncodeBlock(const int16_t *coef, int *predictor, const std::vector<Code> &dc,
                                const std::vector<Code> &ac) {
    int diff = coef[0] - *predictor;
    *predictor = coef[0];
    int s = Category(diff);
    PutCode(dc[s]);
    PutBits(MagnitudeBits(diff, s), s);
    int run = 0;
    for (int k = 1; k < 64; ++k) {
        int value = coef[jpg_natural_order[k]];
        if (value == 0) {
            ++run;
            continue;
        }
        for (; run > 15; run -= 16)
            PutCode(ac[0xF0]);
        s = Category(value);
        PutCode(ac[(run << 4) | s]);
        PutBits(MagnitudeBits(value, s), s);
        run = 0;
    }
    if (run > 0)
        PutCode(ac[0x00]);
}

void EntropyWriter::Flush() {
    if (count_ > 0)
        PutBits(0x7F, 8 - count_);
}

void EntropyWriter::PutMarker(uint8_t code) {
    Flush();
    bytes_.push_back(0xFF);
    bytes_.push_back(code);
}

ReaderFixture::ReaderFixture(uint32_t chunk) : dec_(new JpgDecoder()), buffer_(chunk + 128) {
    dec_->reader = &reader_;
    for (int i = 0; i < 4; ++i) {
        dec_->dcDefs[i] = &dcDefs_[i];
        dec_->acDefs[i] = &acDefs_[i];
    }
    reader_.buffer = buffer_.data();
    reader_.chunkSize = chunk;
    reader_.naturalOrder = jpg_natural_order;
    reader_.extendTable = jpg_extend_tbl;
    reader_.refill = JpgHufRead;
    reader_.lastIndexKept = 63;
    reader_.streamCallback = CallbackStream::Callback;
}

ReaderFixture::~ReaderFixture() {
    for (JpgDecTableNode *node = dec_->derivedTables; node;) {
        JpgDecTableNode *next = node->next;
        JpgMemFree(node->table, nullptr, nullptr, nullptr);
        JpgMemFree(node, nullptr, nullptr, nullptr);
        node = next;
    }
}

uint32_t ReaderFixture::Define(int tableClass, int number, const TableDefinition &definition) {
    JpgHuffTable &def = tableClass ? acDefs_[number & 3] : dcDefs_[number & 3];
    std::memset(&def, 0, sizeof def);
    std::memcpy(def.bits, definition.bits.data(), 17);
    const size_t count = std::min<size_t>(definition.values.size(), 256);
    std::memcpy(def.values, definition.values.data(), count);
    return JpgDecSetHuffTable(dec_.get(), number, tableClass);
}

void ReaderFixture::DefineStandard() {
    Define(0, 0, StandardTable(false, false));
    Define(1, 0, StandardTable(true, false));
}

void ReaderFixture::Bind(const std::vector<uint8_t> &data) {
    stream_.data = data;
    stream_.position = 0;
    JpgDecHufInit(&reader_, &stream_);
}

uint32_t ReaderFixture::BitPosition() const {
    uint32_t byte = reader_.bufferOrigin + static_cast<uint32_t>(reader_.position - reader_.buffer);
    return byte * 8 + 8 - static_cast<uint32_t>(reader_.bitsLeft);
}

JpgDecComponent MakeComponent() {
    JpgDecComponent comp{};
    return comp;
}

std::vector<int16_t> RandomBlocks(int count, unsigned seed, int maxMagnitude) {
    std::mt19937 rng(seed);
    std::vector<int16_t> blocks(static_cast<size_t>(count) * 64, 0);
    for (int b = 0; b < count; ++b) {
        int16_t *block = &blocks[static_cast<size_t>(b) * 64];
        block[0] = static_cast<int16_t>(static_cast<int>(rng() % 2047) - 1023);
        int density = static_cast<int>(rng() % 64);
        for (int k = 1; k < 64; ++k) {
            if (static_cast<int>(rng() % 64) >= density)
                continue;
            int scale = std::max(1, maxMagnitude >> (k / 8));
            int value = static_cast<int>(rng() % (2 * scale + 1)) - scale;
            block[jpg_natural_order[k]] = static_cast<int16_t>(value);
        }
    }
    return blocks;
}

int LastZigzag(const int16_t *block) {
    int last = 0;
    for (int k = 1; k < 64; ++k)
        if (block[jpg_natural_order[k]])
            last = k;
    return last;
}

} // namespace huff
