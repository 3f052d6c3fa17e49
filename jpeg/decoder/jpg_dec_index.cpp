// Random-access index of the decoder: recorded while MCUs are decoded in
// order, exported to the host and imported from it, and used to resume
// decoding at the recorded entry in front of any MCU.
#include "common/jpg_index.h"
#include "decoder/jpg_dec_component.h"
#include "decoder/jpg_dec_index.h"
#include "decoder/jpg_huff_reader.h"

struct JpgDecIndex : JpgIndexControl {};

namespace {

JpgIndexLayout LayoutFor(const JpgDecoder *dec, uint32_t interval) {
    return JpgIndexLayoutFor(interval, static_cast<uint32_t>(dec->mcusPerRow),
                             static_cast<uint32_t>(dec->mcuRows),
                             static_cast<uint32_t>(dec->componentCount));
}

uint32_t DataOriginBits(const JpgDecoder *dec) {
    return dec->dataOrigin * 8;
}

// Bit position of the reader's next unread bit, counted from the JPEG
// data's start. A used-up byte hands over to the byte after it, past the
// 0x00 that follows a data 0xFF, so that a resumed reader never takes the
// stuffing for data; a pending marker (damaged data) is pointed at itself.
uint32_t NextBitPosition(const JpgDecoder *dec) {
    const JpgHufReader *reader = dec->reader;
    const uint8_t *at = reader->position;
    int32_t used = 8 - reader->bitsLeft;
    if (reader->marker != 0 && at - reader->buffer >= 2) {
        at -= 2;
        used = 0;
    } else if (used == 8) {
        bool stuffed = reader->bytesLeft + reader->tailCount >= 2 && at[0] == 0xFF && at[1] == 0;
        at += stuffed ? 2 : 1;
        used = 0;
    }
    uint32_t byte = reader->bufferOrigin + static_cast<uint32_t>(at - reader->buffer);
    return byte * 8 + static_cast<uint32_t>(used) - DataOriginBits(dec);
}

// The scan's data start as an index stores it.
uint32_t StoredDataStart(const JpgDecoder *dec) {
    return dec->reader->dataStart - DataOriginBits(dec);
}

void ReleaseOwnedBlock(JpgDecoder *dec) {
    JpgDecFree(dec, dec->index->block);
    dec->index->block = nullptr;
    dec->index->blockSize = 0;
}

// The MCU column of the entry that stands for `column`.
int32_t EntryColumn(const JpgDecIndex *index, int32_t column) {
    return column - column % static_cast<int32_t>(index->interval);
}

bool EnsureControl(JpgDecoder *dec) {
    if (!dec->index) {
        dec->index = static_cast<JpgDecIndex *>(JpgDecAllocZeroed(dec, sizeof(JpgDecIndex)));
    }
    return dec->index != nullptr;
}

// Bits of JPEG data the stream holds from the data's start; 0 when its
// length cannot be told. The stream is left where it was.
uint32_t StreamDataBits(const JpgDecoder *dec) {
    void *stream = dec->reader->stream;
    vltJpgStreamCallback callback = dec->reader->streamCallback;
    uint32_t here = JpgStreamTell(stream, callback);
    if (JpgStreamSeek(stream, VLTJPG_SEEK_END, 0, callback) != 0)
        return 0;
    uint32_t end = JpgStreamTell(stream, callback);
    JpgStreamSeek(stream, VLTJPG_SEEK_SET, static_cast<int32_t>(here), callback);
    if (end <= dec->dataOrigin || end - dec->dataOrigin >= (1u << 29))
        return 0;
    return (end - dec->dataOrigin) * 8;
}

// A host block is taken only when it describes this image completely: its
// header matches the MCU grid and the component count, entry 0 is the
// scan's data start, and the recorded entries come first, in increasing
// order, inside the stream's data.
bool IsValidBlock(const JpgDecoder *dec, const uint8_t *block, uint32_t size,
                  JpgIndexLayout *layout) {
    if (size < kJpgIndexHeaderBytes || JpgIndexLoadWord(block) != VLTJPG_INDEX_MAGIC)
        return false;
    uint32_t interval = JpgIndexLoadWord(block + 4);
    if (interval == 0)
        return false;
    *layout = LayoutFor(dec, interval);
    if (layout->bytes != size || JpgIndexLoadWord(block + 8) != layout->entries ||
        JpgIndexLoadWord(block + 12) != layout->entries * layout->components)
        return false;
    const uint8_t *offsets = block + kJpgIndexHeaderBytes;
    if (JpgIndexLoadWord(offsets) != StoredDataStart(dec))
        return false;
    uint32_t limit = StreamDataBits(dec);
    uint32_t previous = 0;
    bool gap = false; // nothing recorded may follow an entry not recorded
    for (uint32_t e = 0; e < layout->entries; ++e) {
        uint32_t offset = JpgIndexLoadWord(offsets + 4 * e);
        if (offset == 0) {
            gap = true;
            continue;
        }
        if (gap || offset < previous || offset >= limit)
            return false;
        previous = offset;
    }
    return true;
}

} // namespace

uint32_t JpgDecIdxSetUp(JpgDecoder *dec, vltJpgDecoderParams *params) {
    if (dec->multiScanMode != kJpgDecSingleScan)
        params->indexInterval = 0; // the index serves single-scan images only
    if (params->indexInterval == 0)
        return VLTJPG_OK;
    JpgIndexLayout layout = LayoutFor(dec, params->indexInterval);
    if (layout.bytes > UINT32_MAX / 2 || !EnsureControl(dec))
        return VLTJPG_ERR_MEMORY;
    uint32_t bytes = static_cast<uint32_t>(layout.bytes);
    auto *block = static_cast<uint8_t *>(JpgDecAllocZeroed(dec, bytes));
    if (!block)
        return VLTJPG_ERR_MEMORY;
    JpgIndexWriteHeader(block, layout);
    JpgIndexStart(dec->index, block, layout);
    dec->index->block = block;
    dec->index->blockSize = bytes;
    dec->index->baseOffset = DataOriginBits(dec);
    return VLTJPG_OK;
}

void JpgDecIdxRelease(JpgDecoder *dec) {
    if (!dec->index)
        return;
    ReleaseOwnedBlock(dec);
    JpgDecFree(dec, dec->index);
    dec->index = nullptr;
}

void JpgDecIdxForget(JpgDecoder *dec) {
    JpgDecIndex *index = dec->index;
    if (!index)
        return;
    if (!index->block) {
        JpgDecIdxRelease(dec);
        return;
    }
    JpgMemSet(index->block + kJpgIndexHeaderBytes, 0, index->blockSize - kJpgIndexHeaderBytes);
    index->entriesLeft += index->nextEntry;
    index->nextEntry = 0;
    index->baseOffset = DataOriginBits(dec);
}

uint32_t JpgDecIdxExport(JpgDecoder *dec, vltJpgDecIndexBlock *value) {
    if (!dec->index || !dec->index->block)
        return VLTJPG_ERR_NO_INDEX;
    value->size = dec->index->blockSize;
    value->address = dec->index->block;
    return VLTJPG_OK;
}

int32_t JpgDecIdxEntryStart(const JpgDecoder *dec, int32_t column, int32_t row) {
    const JpgDecIndex *index = dec->index;
    if (!index)
        return -1;
    uint32_t entry = JpgIndexEntryOf(index, static_cast<uint32_t>(column),
                                     static_cast<uint32_t>(row));
    if (JpgIndexOffset(index, entry) == 0)
        return -1;
    return row * dec->mcusPerRow + EntryColumn(index, column);
}

uint32_t JpgDecIdxResume(JpgDecoder *dec, int32_t column, int32_t row) {
    const JpgDecIndex *index = dec->index;
    uint32_t entry = JpgIndexEntryOf(index, static_cast<uint32_t>(column),
                                     static_cast<uint32_t>(row));
    uint32_t result = JpgHufReset(dec->reader, JpgIndexOffset(index, entry) + index->baseOffset);
    if (result != VLTJPG_OK)
        return result;
    for (int32_t k = 0; k < dec->scanComponentCount; ++k) {
        dec->scanComponents[k]->dcPredictor =
            JpgIndexDcValue(index, entry, static_cast<uint32_t>(k));
    }
    dec->mcuColumn = EntryColumn(index, column);
    dec->mcuRow = row;
    return VLTJPG_OK;
}

extern "C" {

uint32_t JpgDecIdxUpdate(JpgDecoder *dec) {
    JpgDecIndex *index = dec->index;
    if (!index || !JpgIndexWants(index, static_cast<uint32_t>(dec->mcuColumn),
                                 static_cast<uint32_t>(dec->mcuRow)))
        return VLTJPG_OK;
    int32_t predictors[kJpgIndexMaxComponents] = {0, 0, 0, 0};
    for (int32_t k = 0; k < dec->scanComponentCount && k < dec->componentCount; ++k)
        predictors[k] = dec->scanComponents[k]->dcPredictor;
    JpgIndexRecord(index, NextBitPosition(dec), predictors);
    return VLTJPG_OK;
}

uint32_t JpgDecSetIndexInfo(JpgDecoder *dec, const vltJpgDecIndexBlock *value) {
    if (!dec || !value || !value->address)
        return VLTJPG_ERR_ARGUMENT;
    if (dec->multiScanMode != kJpgDecSingleScan)
        return VLTJPG_ERR_UNSUPPORTED;
    auto *block = static_cast<uint8_t *>(value->address);
    JpgIndexLayout layout;
    if (!IsValidBlock(dec, block, value->size, &layout))
        return VLTJPG_ERR_UNSUPPORTED;
    if (!EnsureControl(dec))
        return VLTJPG_ERR_MEMORY;
    ReleaseOwnedBlock(dec);
    JpgIndexStart(dec->index, block, layout);
    // The host's block is read, never written: nothing more is recorded.
    dec->index->nextEntry = layout.entries;
    dec->index->entriesLeft = 0;
    dec->index->baseOffset = DataOriginBits(dec);
    return VLTJPG_OK;
}

} // extern "C"
