// Test support for the Huffman reader and block decoder: a callback stream
// over a byte vector, a reader bound to it inside a minimal decoder state,
// a reference baseline entropy encoder and the Annex K tables.
#ifndef QVJPEG_TESTS_HUFF_TEST_SUPPORT_H
#define QVJPEG_TESTS_HUFF_TEST_SUPPORT_H

#include "decoder/jpg_dec_component.h"
#include "decoder/jpg_decoder.h"
#include "decoder/jpg_huff_reader.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace huff {

// BITS[1..16] (index 0 unused) and HUFFVAL of one table.
struct TableDefinition {
    std::vector<uint8_t> bits = std::vector<uint8_t>(17, 0);
    std::vector<uint8_t> values;
};

// ITU T.81 Annex K tables as libjpeg-turbo installs them.
TableDefinition StandardTable(bool ac, bool chroma);

// Canonical codes of a table, by symbol: length 0 = symbol absent.
struct Code {
    uint32_t bits = 0;
    int length = 0;
};
std::vector<Code> CanonicalCodes(const TableDefinition &definition);

// Stream over a byte vector through the codec's stream callback.
struct CallbackStream {
    std::vector<uint8_t> data;
    size_t position = 0;
    bool failSeek = false;
    uint32_t maxRead = 0xFFFFFFFFu; // a short read happens when a read asks for more
    int reads = 0;
    int seeks = 0;
    static uint32_t Callback(uint32_t operation, void *stream, void *argument);
};

// MSB-first bit writer with byte stuffing, and a baseline block encoder.
class EntropyWriter {
public:
    void PutBits(uint32_t bits, int count);
    void PutCode(const Code &code) { PutBits(code.bits, code.length); }
    // DC difference category and magnitude, then AC run/size symbols and an
    // EOB when the block does not end at 63 (coef in natural order).
    void EncodeBlock(const int16_t *coef, int *predictor, const std::vector<Code> &dc,
                     const std::vector<Code> &ac);
    // Pads to a byte with 1 bits.
    void Flush();
    void PutMarker(uint8_t code);
    const std::vector<uint8_t> &bytes() const { return bytes_; }

private:
    void PutByte(uint8_t byte);
    std::vector<uint8_t> bytes_;
    uint32_t acc_ = 0;
    int count_ = 0;
};

// A reader bound to a callback stream inside a zeroed decoder state, with
// table definitions the derived tables are built from.
class ReaderFixture {
public:
    explicit ReaderFixture(uint32_t chunk = 256);
    ~ReaderFixture();
    ReaderFixture(const ReaderFixture &) = delete;
    ReaderFixture &operator=(const ReaderFixture &) = delete;

    uint32_t Define(int tableClass, int number, const TableDefinition &definition);
    void DefineStandard(); // DC 0 and AC 0: Annex K luminance
    void Bind(const std::vector<uint8_t> &data);

    JpgDecoder *decoder() { return dec_.get(); }
    JpgHufReader *reader() { return &reader_; }
    CallbackStream &stream() { return stream_; }
    // Bit offset in the stream of the next unread bit.
    uint32_t BitPosition() const;

private:
    std::unique_ptr<JpgDecoder> dec_;
    JpgHufReader reader_{};
    std::vector<uint8_t> buffer_;
    JpgHuffTable dcDefs_[4]{};
    JpgHuffTable acDefs_[4]{};
    CallbackStream stream_;
};

// Zeroed component using DC and AC table 0.
JpgDecComponent MakeComponent();

// Quantized blocks of `count` random blocks in natural order: a DC and a
// decaying spread of AC values, sometimes beyond category 10 and with long
// zero runs, so that every code length, ZRL and EOB appear.
std::vector<int16_t> RandomBlocks(int count, unsigned seed, int maxMagnitude = 1023);

// Zigzag index of the last nonzero coefficient of a block (natural order):
// the last index a block decoder reports for it.
int LastZigzag(const int16_t *block);

} // namespace huff

#endif
