// Random-access index block: layout, header and in-order recording. The
// block may come from the host, so every access goes byte-wise through
// little-endian loads and stores instead of assuming its alignment.
#include "common/jpg_index.h"

namespace {

void StoreWord(uint8_t *at, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<uint8_t>(value >> (8 * i));
}

void StoreHalf(uint8_t *at, uint16_t value) {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}

} // namespace

uint32_t JpgIndexLoadWord(const uint8_t *at) {
    return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 |
           static_cast<uint32_t>(at[2]) << 16 | static_cast<uint32_t>(at[3]) << 24;
}

JpgIndexLayout JpgIndexLayoutFor(uint32_t interval, uint32_t mcusPerRow, uint32_t mcuRows,
                                 uint32_t components) {
    JpgIndexLayout layout{};
    layout.interval = interval;
    layout.components = components;
    if (interval == 0)
        return layout;
    layout.entriesPerRow = mcusPerRow / interval + (mcusPerRow % interval ? 1 : 0);
    layout.entries = mcuRows * layout.entriesPerRow;
    layout.bytes = kJpgIndexHeaderBytes + 4ull * layout.entries +
                   2ull * layout.entries * components;
    return layout;
}

void JpgIndexWriteHeader(uint8_t *block, const JpgIndexLayout &layout) {
    StoreWord(block, VLTJPG_INDEX_MAGIC);
    StoreWord(block + 4, layout.interval);
    StoreWord(block + 8, layout.entries);
    StoreWord(block + 12, layout.entries * layout.components);
}

void JpgIndexStart(JpgIndexControl *control, uint8_t *block, const JpgIndexLayout &layout) {
    control->interval = layout.interval;
    control->entriesPerRow = layout.entriesPerRow;
    control->components = layout.components;
    control->offsets = block + kJpgIndexHeaderBytes;
    control->dcValues = control->offsets + 4 * layout.entries;
    control->nextEntry = 0;
    control->entriesLeft = layout.entries;
}

uint32_t JpgIndexEntryOf(const JpgIndexControl *control, uint32_t column, uint32_t row) {
    return row * control->entriesPerRow + column / control->interval;
}

bool JpgIndexWants(const JpgIndexControl *control, uint32_t column, uint32_t row) {
    return control->entriesLeft > 0 && column % control->interval == 0 &&
           JpgIndexEntryOf(control, column, row) == control->nextEntry;
}

void JpgIndexRecord(JpgIndexControl *control, uint32_t bitOffset, const int32_t *predictors) {
    uint32_t entry = control->nextEntry;
    StoreWord(control->offsets + 4 * entry, bitOffset);
    uint8_t *dc = control->dcValues + 2 * entry * control->components;
    for (uint32_t c = 0; c < control->components; ++c)
        StoreHalf(dc + 2 * c, static_cast<uint16_t>(predictors[c]));
    control->nextEntry += 1;
    control->entriesLeft -= 1;
}

uint32_t JpgIndexOffset(const JpgIndexControl *control, uint32_t entry) {
    return JpgIndexLoadWord(control->offsets + 4 * entry);
}

int32_t JpgIndexDcValue(const JpgIndexControl *control, uint32_t entry, uint32_t component) {
    const uint8_t *at = control->dcValues + 2 * (entry * control->components + component);
    return static_cast<int16_t>(static_cast<uint16_t>(at[0] | at[1] << 8));
}
