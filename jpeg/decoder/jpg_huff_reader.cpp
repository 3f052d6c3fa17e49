// Huffman reader: buffering of the entropy-coded data over the stream glue.
#include "common/jpg_markers.h"
#include "decoder/jpg_huff_reader.h"

#include "common/jpg_glue.h"
#include "decoder/jpg_decoder.h"

namespace {

constexpr uint8_t kEndOfImage[2] = {0xFF, kJpgMarkerEoi};

uint32_t ReadStream(JpgHufReader *reader, uint8_t *dst, uint32_t count) {
    uint32_t n = JpgStreamRead(reader->stream, dst, count, reader->streamCallback);
    return n > count ? count : n; // a callback never gets to claim more than it was given
}

// Appends an EOI marker after the last valid byte, so that data ending early
// stops the block decoder at a marker instead of in stale bytes.
void AppendEndOfImage(JpgHufReader *reader, uint8_t *at) {
    at[0] = kEndOfImage[0];
    at[1] = kEndOfImage[1];
    reader->bytesLeft += 2;
}

// The stream ends after the `count` bytes at the buffer start, the reader's
// position: an EOI is appended behind them.
void EndAfter(JpgHufReader *reader, uint32_t count) {
    reader->endFlag = 1;
    reader->bytesLeft = static_cast<int32_t>(count);
    reader->mainCount = count;
    reader->tailCount = 0;
    AppendEndOfImage(reader, reader->buffer + count);
}

// Fills the whole buffer from the stream's current position; the reader's
// position is the buffer start.
void Fill(JpgHufReader *reader) {
    const uint32_t chunk = reader->chunkSize;
    const uint32_t n = ReadStream(reader, reader->buffer, chunk + kJpgHufSlack);
    reader->position = reader->buffer;
    if (n > chunk) {
        reader->bytesLeft = static_cast<int32_t>(chunk);
        reader->tailCount = static_cast<int32_t>(n - chunk);
        reader->mainCount = chunk;
        reader->endFlag = 0;
        return;
    }
    EndAfter(reader, n);
}

// True when the appended EOI follows the buffered data.
bool HasAppendedEnd(const JpgHufReader *reader) {
    const uint8_t *at = reader->buffer + reader->mainCount;
    return reader->endFlag && reader->tailCount == 0 &&
           reader->mainCount + 2 <= reader->chunkSize + kJpgHufSlack && at[0] == kEndOfImage[0] &&
           at[1] == kEndOfImage[1];
}

void MoveDown(uint8_t *dst, const uint8_t *src, int32_t count) {
    for (int32_t i = 0; i < count; ++i)
        dst[i] = src[i];
}

} // namespace

extern "C" {

const int32_t jpg_extend_tbl[16] = {
    0,     -1,    -3,    -7,    -15,   -31,    -63,    -127,
    -255,  -511,  -1023, -2047, -4095, -8191,  -16383, -32767,
};

const int32_t jpg_scalese_tbl[4] = {63, 24, 4, 0};

uint32_t JpgDecHufInit(JpgHufReader *reader, void *stream) {
    reader->stream = stream;
    JpgMemSet(reader->buffer, 0, reader->chunkSize + kJpgHufSlack);
    reader->bufferOrigin = 0;
    reader->bitsLeft = 8;
    Fill(reader);
    return VLTJPG_OK;
}

uint32_t JpgHufRead(JpgHufReader *reader) {
    const int32_t left = reader->bytesLeft;
    if (left > 0 || reader->endFlag)
        return VLTJPG_ERR_DATA;
    const int32_t tail = reader->tailCount;
    if (left < -tail) {
        reader->endFlag = 1; // the position ran past the buffered data
        return VLTJPG_ERR_DATA;
    }
    const int32_t chunk = static_cast<int32_t>(reader->chunkSize);
    uint8_t *buffer = reader->buffer;
    reader->bufferOrigin += reader->mainCount;
    MoveDown(buffer, buffer + chunk, tail);
    // Read straight behind the kept bytes, so that a stream that delivered
    // a short read earlier leaves no gap in the data.
    const int32_t n = static_cast<int32_t>(
        ReadStream(reader, buffer + tail, static_cast<uint32_t>(chunk + kJpgHufSlack - tail)));
    reader->position = buffer - left;
    if (tail + n <= chunk) {
        // Every valid byte lies before the new refill point: the stream ends.
        reader->endFlag = 1;
        reader->bytesLeft = tail + n + left;
        reader->mainCount = static_cast<uint32_t>(tail + n);
        reader->tailCount = 0;
        AppendEndOfImage(reader, buffer + tail + n);
        return VLTJPG_OK;
    }
    reader->endFlag = 0;
    reader->bytesLeft = chunk + left;
    reader->tailCount = tail + n - chunk;
    reader->mainCount = static_cast<uint32_t>(chunk);
    return VLTJPG_OK;
}

uint32_t JpgScanHufRead(JpgHufReader *reader) {
    if (JpgStreamTell(reader->stream, reader->streamCallback) != reader->readPosition)
        JpgStreamSeek(reader->stream, VLTJPG_SEEK_SET, static_cast<int32_t>(reader->readPosition),
                      reader->streamCallback);
    const uint32_t result = JpgHufRead(reader);
    reader->readPosition = JpgStreamTell(reader->stream, reader->streamCallback);
    return result;
}

uint32_t JpgHufReset(JpgHufReader *reader, uint32_t bitOffset) {
    const uint32_t byte = bitOffset / 8;
    reader->bitsLeft = 8 - static_cast<int32_t>(bitOffset % 8);
    reader->marker = 0;
    if (byte >= reader->bufferOrigin && byte - reader->bufferOrigin < reader->mainCount) {
        const uint32_t offset = byte - reader->bufferOrigin;
        reader->position = reader->buffer + offset;
        reader->bytesLeft = static_cast<int32_t>(reader->mainCount - offset) +
                            (HasAppendedEnd(reader) ? 2 : 0);
        return VLTJPG_OK;
    }
    if (JpgStreamSeek(reader->stream, VLTJPG_SEEK_SET, static_cast<int32_t>(byte),
                      reader->streamCallback) != 0) {
        reader->endFlag = 1;
        return VLTJPG_ERR_DATA;
    }
    reader->bufferOrigin = byte;
    Fill(reader);
    reader->readPosition = JpgStreamTell(reader->stream, reader->streamCallback);
    return VLTJPG_OK;
}

uint32_t JpgScanHufReset(JpgHufReader *reader, uint32_t bitOffset) {
    const uint32_t result = JpgHufReset(reader, bitOffset);
    reader->marker = 0;
    reader->eobRun = 0;
    reader->restartsToGo = reader->restartInterval;
    reader->nextRestart = 0;
    return result;
}

uint32_t JpgScanHufInit(JpgHufReader *reader, JpgDecoder *dec) {
    const JpgHufReader *main = dec->reader;
    reader->stream = main->stream;
    reader->naturalOrder = main->naturalOrder;
    reader->extendTable = main->extendTable;
    reader->lastIndexKept = main->lastIndexKept;
    reader->ss = main->ss;
    reader->ah = main->ah;
    reader->al = main->al;
    reader->eobRun = main->eobRun;
    reader->nextRestart = main->nextRestart;
    reader->restartInterval = main->restartInterval;
    reader->restartsToGo = main->restartsToGo;
    reader->restartHandler = main->restartHandler;
    reader->refill = JpgScanHufRead;
    reader->marker = 0;

    void *stream = reader->stream;
    const vltJpgStreamCallback callback = reader->streamCallback;
    const uint32_t resume = JpgStreamTell(stream, callback);
    const uint32_t origin = reader->dataStart / 8;
    reader->bitsLeft = 8 - static_cast<int32_t>(reader->dataStart % 8);
    reader->bufferOrigin = origin;
    if (JpgStreamSeek(stream, VLTJPG_SEEK_SET, static_cast<int32_t>(origin), callback) != 0) {
        // A stream that cannot seek cannot serve readers that take turns:
        // the reader holds just an end marker, and the caller is told.
        reader->position = reader->buffer;
        EndAfter(reader, 0);
        return VLTJPG_ERR_DATA;
    }
    // The data of a cut file ends in an EOI here as after any refill.
    Fill(reader);
    reader->readPosition = JpgStreamTell(stream, callback);
    if (JpgStreamSeek(stream, VLTJPG_SEEK_SET, static_cast<int32_t>(resume), callback) != 0)
        return VLTJPG_ERR_DATA;
    return VLTJPG_OK;
}

} // extern "C"
