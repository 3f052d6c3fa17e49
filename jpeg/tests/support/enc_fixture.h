// Encoder state for table and entropy-coder tests, built without the
// encoder's creation routine: three components (Y with tables 0, Cb and Cr
// with tables 1) or one, the Annex K Huffman tables installed and derived,
// a bit writer over a test-owned buffer whose slack ends in a guard area,
// and a stream callback collecting what is flushed.
#ifndef QVJPEG_TESTS_ENC_FIXTURE_H
#define QVJPEG_TESTS_ENC_FIXTURE_H

#include "common/jpg_tables.h"
#include "encoder/jpg_bit_writer.h"
#include "encoder/jpg_enc_tables.h"
#include "encoder/jpg_encoder.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

// Stream callback target: keeps the written bytes; takes at most
// `writeLimit` bytes of each write.
struct ByteSink {
    std::vector<uint8_t> bytes;
    uint32_t writeLimit = UINT32_MAX;
    int writes = 0;

    static uint32_t Callback(uint32_t operation, void *stream, void *argument) {
        auto *sink = static_cast<ByteSink *>(stream);
        if (operation != VLTJPG_STREAM_WRITE) {
            return 0;
        }
        const auto *request = static_cast<const vltJpgStreamBuffer *>(argument);
        uint32_t taken = std::min(request->count, sink->writeLimit);
        const auto *data = static_cast<const uint8_t *>(request->buffer);
        sink->bytes.insert(sink->bytes.end(), data, data + taken);
        ++sink->writes;
        return taken;
    }
};

// Copies a bits/values pair into a Huffman table record.
inline void LoadHuffRecord(JpgHuffTable *record, const uint8_t *bits, const uint8_t *values) {
    std::memset(record, 0, sizeof(*record));
    std::memcpy(record->bits, bits, 17);
    uint32_t count = 0;
    for (int length = 1; length <= 16; ++length) count += bits[length];
    std::memcpy(record->values, values, std::min<uint32_t>(count, 256));
}

class EncFixture {
public:
    static constexpr uint32_t kGuardBytes = 64;
    static constexpr uint8_t kGuardValue = 0xA5;

    explicit EncFixture(int componentCount = 3, uint32_t bufferSize = 4096) {
        state.componentCount = componentCount;
        for (int i = 0; i < componentCount; ++i) {
            components[i].identifier = i + 1;
            components[i].index = i;
            uint32_t table = i == 0 ? 0 : 1;
            components[i].quantSelector = table;
            components[i].dcSelector = table;
            components[i].acSelector = table;
            state.components[i] = &components[i];
        }
        for (int t = 0; t < 4; ++t) {
            state.quantTables[t] = &quant[t];
            state.reciprocalTables[t] = reciprocal[t];
            state.dequantTables[t] = dequant[t];
            state.dcHuffTables[t] = &dcRecords[t];
            state.acHuffTables[t] = &acRecords[t];
            writer.dcCodes[t] = dcCodes[t];
            writer.acCodes[t] = acCodes[t];
        }
        state.thumbScale = -1;
        state.bitWriter = &writer;
        writer.zigzag = jpg_natural_order;
        writer.bitCounts = jpg_valbits_tbl;
        writer.flush = JpgHufFlush;
        writer.restart = JpgEncRestart;
        writer.spectralEnd = 63;
        writer.streamCallback = ByteSink::Callback;
        SetBufferSize(bufferSize);
        LoadHuffRecord(&dcRecords[0], jpg_bits_dc_luminance, jpg_val_dc_luminance);
        LoadHuffRecord(&acRecords[0], jpg_bits_ac_luminance, jpg_val_ac_luminance);
        LoadHuffRecord(&dcRecords[1], jpg_bits_dc_chrominance, jpg_val_dc_chrominance);
        LoadHuffRecord(&acRecords[1], jpg_bits_ac_chrominance, jpg_val_ac_chrominance);
        JpgEncCreateHuffTable(&state);
    }

    // A fresh output buffer of nominal size `size`, its slack followed by a
    // guard area that no write may touch.
    void SetBufferSize(uint32_t size) {
        storage.assign(JpgHufBufferBytes(size) + kGuardBytes, kGuardValue);
        writer.buffer = storage.data();
        writer.bufferSize = size;
        JpgEncHufInit(&writer, &sink);
    }

    bool GuardIntact() const {
        return std::all_of(storage.end() - kGuardBytes, storage.end(),
                           [](uint8_t b) { return b == kGuardValue; });
    }

    // Pads the last byte with 1-bits and flushes: everything coded so far.
    std::vector<uint8_t> Output() {
        JpgHufPadToByte(&writer);
        JpgHufFlush(&writer);
        return sink.bytes;
    }

    JpgEncState state{};
    JpgEncComponent components[3]{};
    JpgQuantTable quant[4]{};
    uint16_t reciprocal[4][128]{};
    int32_t dequant[4][64]{};
    JpgHuffTable dcRecords[4]{};
    JpgHuffTable acRecords[4]{};
    JpgBitWriter writer{};
    JpgHuffCode dcCodes[4][kJpgDcCodeCount]{};
    JpgHuffCode acCodes[4][kJpgAcCodeCount]{};
    std::vector<uint8_t> storage;
    ByteSink sink;
};

#endif
