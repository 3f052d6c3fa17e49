// Random-access index: the block a decoder or an encoder hands to the host
// (header, bit offsets, DC values; little-endian) and the bookkeeping both
// use to fill it while MCUs go by in raster order. Entry e stands for MCU
// column interval x (e mod entries per row) of MCU row e / entries per row;
// its bit offset counts from the first byte of the JPEG data and 0 means
// "not recorded".
#ifndef QVJPEG_COMMON_JPG_INDEX_H
#define QVJPEG_COMMON_JPG_INDEX_H

#include "qvjpeg.h"

#include <cstdint>

constexpr uint32_t kJpgIndexHeaderBytes = sizeof(vltJpgIndexHeader);
constexpr uint32_t kJpgIndexMaxComponents = 4;

// Shape of an index over an MCU grid.
struct JpgIndexLayout {
    uint32_t interval;      // MCUs per entry along a row, at least 1
    uint32_t entriesPerRow; // ceil(MCUs per row / interval)
    uint32_t entries;       // MCU rows x entries per row
    uint32_t components;    // DC values per entry
    uint64_t bytes;         // size of the whole block
};

struct JpgIndexControl {
    uint32_t interval;
    uint32_t entriesPerRow;
    uint32_t nextEntry;   // entries are recorded in order
    uint8_t *offsets;     // inside the block: uint32 bit offsets
    uint8_t *dcValues;    // inside the block: int16 predictors
    uint32_t entriesLeft; // 0: recording finished or not wanted
    uint32_t baseOffset;  // bits added to a stored offset to get a stream position
    uint8_t *block;       // owned block, or null when the block is the host's
    uint32_t blockSize;
    uint32_t components;
};

#define JPG_INDEX_HIDDEN __attribute__((visibility("hidden")))

JPG_INDEX_HIDDEN JpgIndexLayout JpgIndexLayoutFor(uint32_t interval, uint32_t mcusPerRow,
                                                  uint32_t mcuRows, uint32_t components);

// Writes the header of a new block.
JPG_INDEX_HIDDEN void JpgIndexWriteHeader(uint8_t *block, const JpgIndexLayout &layout);

// Points the control record at `block` (layout.bytes long), to be filled
// from entry 0 on.
JPG_INDEX_HIDDEN void JpgIndexStart(JpgIndexControl *control, uint8_t *block,
                                    const JpgIndexLayout &layout);

// Entry number of MCU (column, row).
JPG_INDEX_HIDDEN uint32_t JpgIndexEntryOf(const JpgIndexControl *control, uint32_t column,
                                          uint32_t row);

// True when the MCU at (column, row) is the next one to record.
JPG_INDEX_HIDDEN bool JpgIndexWants(const JpgIndexControl *control, uint32_t column,
                                    uint32_t row);

// Records the next entry: the bit offset (from the JPEG data's start) and
// the low 16 bits of the predictors.
JPG_INDEX_HIDDEN void JpgIndexRecord(JpgIndexControl *control, uint32_t bitOffset,
                                     const int32_t *predictors);

JPG_INDEX_HIDDEN uint32_t JpgIndexOffset(const JpgIndexControl *control, uint32_t entry);
JPG_INDEX_HIDDEN int32_t JpgIndexDcValue(const JpgIndexControl *control, uint32_t entry,
                                         uint32_t component);

// Reads a little-endian word of a host block, which need not be aligned.
JPG_INDEX_HIDDEN uint32_t JpgIndexLoadWord(const uint8_t *at);

#endif
