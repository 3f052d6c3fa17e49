// Marker writer: the header segments, the trailer and the late size patch.
// Header bytes go through the bit writer's buffer unstuffed, so header,
// entropy-coded data and trailer leave in one ordered byte stream.
#include "common/jpg_markers.h"
#include "encoder/jpg_bit_writer.h"
#include "encoder/jpg_enc_tables.h"
#include "encoder/jpg_encoder.h"

namespace {

constexpr uint32_t kLargestBaselineStep = 255;
constexpr uint32_t kLargestBaselineSelector = 1;
constexpr uint8_t kJfifIdentifier[5] = {'J', 'F', 'I', 'F', 0};

// Header output: bytes into the bit writer, keeping the first failed
// flush so that a short write of the header is not lost.
class HeaderOutput {
public:
    explicit HeaderOutput(JpgBitWriter *writer) : writer_(writer) {}

    void Byte(uint32_t value) { Keep(JpgHufPutByte(writer_, static_cast<uint8_t>(value))); }

    // Both bytes are stored before the one flush check; the buffer's slack
    // takes the byte beyond the nominal size.
    void Word(uint32_t value) {
        writer_->writePtr[0] = static_cast<uint8_t>(value >> 8);
        writer_->writePtr[1] = static_cast<uint8_t>(value);
        writer_->writePtr += 2;
        writer_->remaining -= 2;
        if (writer_->remaining < 1)
            Keep(JpgHufFlush(writer_));
    }

    void Marker(uint8_t code) { Keep(JpgEncWriteMarker(writer_, code)); }

    void Raw(const uint8_t *bytes, uint32_t count) { Keep(JpgHufDump(writer_, bytes, count)); }

    // Offset of the next byte from where the bit writer was started.
    uint32_t Position() const {
        return JpgHufBytesWritten(writer_);
    }

    vltJpgResult Result() const { return error_; }

private:
    void Keep(vltJpgResult result) {
        if (error_ == 0)
            error_ = result;
    }

    JpgBitWriter *writer_;
    vltJpgResult error_ = 0;
};

bool NeedsWideSteps(const JpgQuantTable *table) {
    for (uint16_t step : table->values) {
        if (step > kLargestBaselineStep)
            return true;
    }
    return false;
}

// Baseline allows 8-bit quantizer steps and Huffman tables 0 and 1 only;
// anything beyond makes the frame extended sequential.
bool NeedsExtendedFrame(const JpgEncState *state) {
    for (int32_t i = 0; i < state->componentCount; ++i) {
        const JpgEncComponent *component = state->components[i];
        if (component->dcSelector > kLargestBaselineSelector ||
            component->acSelector > kLargestBaselineSelector ||
            NeedsWideSteps(state->quantTables[component->quantSelector]))
            return true;
    }
    return false;
}

void WriteJfif(HeaderOutput &out, const JpgEncState *state) {
    out.Marker(kJpgMarkerApp0);
    out.Word(16);
    for (uint8_t byte : kJfifIdentifier)
        out.Byte(byte);
    out.Byte(state->jfifVersion[0]);
    out.Byte(state->jfifVersion[1]);
    out.Byte(state->jfifUnits);
    out.Word(state->xDensity);
    out.Word(state->yDensity);
    out.Word(0); // no embedded thumbnail
}

// One DQT segment per table still to be written, steps in zigzag order;
// a table with a step above 255 goes out with 16-bit precision.
void WriteQuantTables(HeaderOutput &out, const JpgEncState *state) {
    for (int32_t i = 0; i < state->componentCount; ++i) {
        uint32_t number = state->components[i]->quantSelector;
        JpgQuantTable *table = state->quantTables[number];
        if (!table || !table->toBeWritten)
            continue;
        bool wide = NeedsWideSteps(table);
        out.Marker(kJpgMarkerDqt);
        out.Word(wide ? 2 + 1 + 128 : 2 + 1 + 64);
        out.Byte((wide ? 0x10 : 0x00) | number);
        for (int k = 0; k < 64; ++k) {
            uint16_t step = table->values[jpg_natural_order[k]];
            if (wide)
                out.Word(step);
            else
                out.Byte(step);
        }
        table->toBeWritten = 0;
    }
}

void WriteFrameHeader(HeaderOutput &out, JpgEncState *state) {
    uint32_t count = static_cast<uint32_t>(state->componentCount);
    out.Marker(NeedsExtendedFrame(state) ? kJpgMarkerSof1 : kJpgMarkerSof0);
    out.Word(8 + 3 * count);
    out.Byte(8); // sample precision
    state->heightFieldPosition = out.Position();
    out.Word(state->height);
    out.Word(state->width);
    out.Byte(count);
    for (uint32_t i = 0; i < count; ++i) {
        const JpgEncComponent *component = state->components[i];
        out.Byte(component->identifier);
        out.Byte((component->h << 4) | component->v);
        out.Byte(component->quantSelector);
    }
}

void WriteHuffTable(HeaderOutput &out, JpgHuffTable *table, uint32_t classAndNumber) {
    if (!table || !table->built)
        return;
    uint32_t count = JpgHuffSymbolCount(table->bits);
    out.Marker(kJpgMarkerDht);
    out.Word(19 + count);
    out.Byte(classAndNumber);
    out.Raw(&table->bits[1], 16);
    out.Raw(table->values, count);
    table->built = 0;
}

void WriteHuffTables(HeaderOutput &out, JpgEncState *state) {
    for (int32_t i = 0; i < state->componentCount; ++i) {
        const JpgEncComponent *component = state->components[i];
        WriteHuffTable(out, state->dcHuffTables[component->dcSelector], component->dcSelector);
        WriteHuffTable(out, state->acHuffTables[component->acSelector],
                       0x10 | component->acSelector);
    }
}

void WriteRestartInterval(HeaderOutput &out, JpgBitWriter *writer) {
    if (writer->restartInterval == 0)
        return;
    out.Marker(kJpgMarkerDri);
    out.Word(4);
    out.Word(writer->restartInterval);
    writer->restartCountdown = writer->restartInterval;
}

void WriteScanHeader(HeaderOutput &out, const JpgEncState *state) {
    uint32_t count = static_cast<uint32_t>(state->componentCount);
    out.Marker(kJpgMarkerSos);
    out.Word(6 + 2 * count);
    out.Byte(count);
    for (uint32_t i = 0; i < count; ++i) {
        const JpgEncComponent *component = state->components[i];
        out.Byte(component->identifier);
        out.Byte((component->dcSelector << 4) | component->acSelector);
    }
    out.Byte(state->bitWriter->spectralStart);
    out.Byte(state->bitWriter->spectralEnd);
    out.Byte(0); // successive approximation
}

void ResetJfifFields(JpgEncState *state) {
    state->jfifUnits = 0;
    state->jfifReserved = 0;
    state->xDensity = 1;
    state->yDensity = 1;
    state->jfifVersion[0] = 1;
    state->jfifVersion[1] = 1;
}

} // namespace

extern "C" {

vltJpgResult JpgEncWriteHeader(JpgEncState *state) {
    if (!state)
        return VLTJPG_ERR_ARGUMENT;
    HeaderOutput out(state->bitWriter);
    if (state->headerWritten) {
        // With the tables written at creation, every image started on a
        // fresh stream repeats only the frame and scan headers; further
        // bands and runs of the image add nothing.
        JpgBitWriter *writer = state->bitWriter;
        bool freshStream = writer->bytesFlushed == 0 && writer->writePtr == writer->buffer;
        if (!state->headerOnCreate || !freshStream)
            return 0;
        WriteFrameHeader(out, state);
        WriteScanHeader(out, state);
        return out.Result();
    }
    ResetJfifFields(state);
    if (static_cast<int32_t>(state->height) <= 0)
        state->sizeRewrite = 1;
    if (state->appDataLength == 0)
        state->jfifWanted = 1;
    out.Marker(kJpgMarkerSoi);
    if (state->jfifWanted)
        WriteJfif(out, state);
    if (state->appDataLength != 0)
        out.Raw(state->appData, state->appDataLength);
    WriteQuantTables(out, state);
    WriteFrameHeader(out, state);
    WriteHuffTables(out, state);
    WriteRestartInterval(out, state->bitWriter);
    WriteScanHeader(out, state);
    state->headerWritten = 1;
    return out.Result();
}

vltJpgResult JpgEncWriteFileTrailer(JpgEncState *state) {
    if (!state)
        return VLTJPG_ERR_ARGUMENT;
    JpgBitWriter *writer = state->bitWriter;
    JpgHufPadToByte(writer);
    HeaderOutput out(writer);
    out.Marker(kJpgMarkerEoi);
    vltJpgResult flushed = JpgHufFlush(writer);
    // A stream that cannot flush may have lost the end of the file.
    if (JpgStreamFlush(writer->stream, writer->streamCallback) == 0 && flushed == 0)
        flushed = VLTJPG_ERR_SHORT_WRITE;
    return out.Result() != 0 ? out.Result() : flushed;
}

vltJpgResult JpgEncReWriteImageSize(JpgEncState *state) {
    if (!state)
        return VLTJPG_ERR_ARGUMENT;
    JpgBitWriter *writer = state->bitWriter;
    int32_t position = static_cast<int32_t>(state->heightFieldPosition);
    if (JpgStreamSeek(writer->stream, VLTJPG_SEEK_SET, position, writer->streamCallback) != 0)
        return VLTJPG_ERR_DATA;
    const uint8_t size[4] = {
        static_cast<uint8_t>(state->height >> 8), static_cast<uint8_t>(state->height),
        static_cast<uint8_t>(state->width >> 8), static_cast<uint8_t>(state->width)};
    for (uint8_t byte : size) {
        if (JpgStreamWrite(writer->stream, &byte, 1, writer->streamCallback) != 1)
            return VLTJPG_ERR_DATA;
    }
    return 0;
}

} // extern "C"
