#include "common/jpg_markers.h"
#include "encoder/jpg_bit_writer.h"

#include "encoder/jpg_encoder.h"

extern "C" {

vltJpgResult JpgEncHufInit(JpgBitWriter *writer, void *stream) {
    if (writer == nullptr || writer->buffer == nullptr) {
        return VLTJPG_ERR_ARGUMENT;
    }
    writer->stream = stream;
    JpgMemSet(writer->buffer, 0, JpgHufBufferBytes(writer->bufferSize));
    writer->bytesFlushed = 0;
    writer->writePtr = writer->buffer;
    writer->remaining = static_cast<int32_t>(writer->bufferSize);
    writer->bitsUsed = 0;
    return VLTJPG_OK;
}

vltJpgResult JpgHufFlush(JpgBitWriter *writer) {
    uint32_t count = static_cast<uint32_t>(writer->writePtr - writer->buffer);
    uint32_t written = count == 0 ? 0
                                  : JpgStreamWrite(writer->stream, writer->buffer, count,
                                                   writer->streamCallback);
    // The partial byte moves to the buffer start and stays in the making.
    if (writer->bitsUsed > 0) {
        writer->buffer[0] = *writer->writePtr;
    }
    writer->writePtr = writer->buffer;
    writer->remaining = static_cast<int32_t>(writer->bufferSize);
    writer->bytesFlushed += count;
    return written == count ? VLTJPG_OK : VLTJPG_ERR_SHORT_WRITE;
}

vltJpgResult JpgHufDump(JpgBitWriter *writer, const uint8_t *bytes, uint32_t count) {
    vltJpgResult result = VLTJPG_OK;
    for (uint32_t i = 0; i < count; ++i) {
        vltJpgResult flushed = JpgHufPutByte(writer, bytes[i]);
        if (result == VLTJPG_OK) {
            result = flushed;
        }
    }
    return result;
}

vltJpgResult JpgEncRestart(JpgEncState *state) {
    if (state == nullptr || state->bitWriter == nullptr) {
        return VLTJPG_ERR_ARGUMENT;
    }
    JpgBitWriter *writer = state->bitWriter;
    JpgHufPadToByte(writer);
    vltJpgResult result =
        JpgEncWriteMarker(writer, static_cast<uint8_t>(kJpgMarkerRst0 + writer->restartNumber));
    writer->restartNumber = (writer->restartNumber + 1) & 7;
    JpgEncResetPredictors(state);
    writer->restartCountdown = writer->restartInterval;
    return result;
}

// The new buffer is allocated before the old one is released, so a failed
// resize leaves the encoder with its old buffer, still usable.
vltJpgResult JpgEncResizeHuffBuffer(JpgEncState *state, int32_t size) {
    if (state == nullptr || state->bitWriter == nullptr || size < 1 || state->headerWritten) {
        return VLTJPG_ERR_ARGUMENT;
    }
    JpgBitWriter *writer = state->bitWriter;
    uint32_t newSize = static_cast<uint32_t>(size);
    if (newSize == writer->bufferSize && writer->buffer != nullptr) {
        return VLTJPG_OK;
    }
    auto *buffer = static_cast<uint8_t *>(JpgEncAlloc(state, JpgHufBufferBytes(newSize)));
    if (buffer == nullptr) {
        return VLTJPG_ERR_MEMORY;
    }
    JpgEncFree(state, writer->buffer);
    writer->buffer = buffer;
    writer->bufferSize = newSize;
    return JpgEncHufInit(writer, writer->stream);
}

} // extern "C"
