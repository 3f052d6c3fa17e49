// Derived Huffman tables: the two-level lookup form of a DHT table.
#include "decoder/jpg_decoder.h"
#include "decoder/jpg_huff_reader.h"

namespace {

constexpr int32_t kMaxCodeLength = 16;
constexpr int32_t kMaxSymbols = 256;
constexpr int32_t kFirstLevel = 1 << kJpgHufLookupBits;

inline uint16_t Entry(uint32_t value, uint32_t length) {
    return static_cast<uint16_t>((value << 6) | length);
}

// Code lengths in symbol order, 0-terminated (T.81 C.2). Fails on more than
// 256 codes.
uint32_t ListCodeSizes(const uint8_t *counts, uint8_t *sizes, int32_t *total) {
    int32_t n = 0;
    for (int32_t length = 1; length <= kMaxCodeLength; ++length) {
        if (n + counts[length] > kMaxSymbols)
            return VLTJPG_ERR_ARGUMENT;
        for (int32_t i = 0; i < counts[length]; ++i)
            sizes[n++] = static_cast<uint8_t>(length);
    }
    sizes[n] = 0;
    *total = n;
    return VLTJPG_OK;
}

// Canonical codes (T.81 C.3); fails on a code that does not fit its length,
// i.e. on over-subscribed lengths.
uint32_t AssignCodes(const uint8_t *sizes, uint16_t *codes) {
    uint32_t code = 0;
    int32_t i = 0;
    for (uint32_t length = sizes[0]; sizes[i]; ++length, code <<= 1) {
        for (; sizes[i] == length; ++i, ++code) {
            if (code >= (1u << length))
                return VLTJPG_ERR_ARGUMENT;
            codes[i] = static_cast<uint16_t>(code);
        }
    }
    return VLTJPG_OK;
}

// First level: codes of up to 8 bits fill all entries they prefix; the
// prefix entry of longer codes records the most extra bits among them.
void BuildFirstLevel(const uint8_t *sizes, const uint16_t *codes, const uint8_t *symbols,
                     int32_t total, uint16_t *first) {
    for (int32_t i = 0; i < total; ++i) {
        const int32_t length = sizes[i];
        if (length <= kJpgHufLookupBits) {
            const int32_t shift = kJpgHufLookupBits - length;
            const uint16_t entry = Entry(symbols[i], static_cast<uint32_t>(length));
            for (int32_t j = 0; j < (1 << shift); ++j)
                first[(codes[i] << shift) + j] = entry;
        } else {
            const int32_t extra = length - kJpgHufLookupBits;
            uint16_t &prefix = first[codes[i] >> extra];
            if (extra > (prefix & 63))
                prefix = static_cast<uint16_t>(extra);
        }
    }
}

// Entries the second level needs: one sub-table of 2^extra per prefix.
int32_t SecondLevelSize(const uint16_t *first) {
    int32_t size = 0;
    for (int32_t p = 0; p < kFirstLevel; ++p)
        if (first[p] != 0 && first[p] < 64)
            size += 1 << first[p];
    return size;
}

void BuildSecondLevel(const uint8_t *sizes, const uint16_t *codes, const uint8_t *symbols,
                      int32_t total, uint16_t *table) {
    uint32_t nextFree = kFirstLevel;
    for (int32_t i = 0; i < total; ++i) {
        const int32_t length = sizes[i];
        if (length <= kJpgHufLookupBits)
            continue;
        const int32_t extra = length - kJpgHufLookupBits;
        uint16_t &prefix = table[codes[i] >> extra];
        if (prefix < 64) {
            const uint32_t bits = prefix;
            prefix = Entry(nextFree, bits);
            nextFree += 1u << bits;
        }
        const int32_t indexBits = prefix & 63;
        const int32_t spread = indexBits - extra;
        const uint32_t base = (prefix >> 6) + ((static_cast<uint32_t>(codes[i]) << spread) &
                                               ((1u << indexBits) - 1));
        const uint16_t entry = Entry(symbols[i], static_cast<uint32_t>(extra));
        for (int32_t j = 0; j < (1 << spread); ++j)
            table[base + j] = entry;
    }
}

// Combined lookup: every kJpgHufFastBits-bit window that starts with the
// code of a value-carrying symbol followed by all its magnitude bits gets
// the decoded value. An AC symbol carries a value when its size (low four
// bits) is 1..15, its run is the high four bits; the AC symbol 0 (end of
// block) gets the end-of-block mark; a DC symbol is the size itself (0
// gives the value 0; sizes past 16 are left to the long way).
void BuildFastTable(const uint8_t *sizes, const uint16_t *codes, const uint8_t *symbols,
                    int32_t total, bool dc, uint32_t *fast) {
    for (int32_t i = 0; i < total; ++i) {
        const int32_t length = sizes[i];
        const int32_t size = dc ? symbols[i] : symbols[i] & 15;
        const int32_t used = length + size;
        const bool endOfBlock = !dc && symbols[i] == 0;
        if ((!dc && size == 0 && !endOfBlock) || size > 16 || used > kJpgHufFastBits)
            continue;
        const uint32_t run = dc ? 0 : (endOfBlock ? kJpgHufFastEndOfBlock : symbols[i] >> 4);
        const int32_t free = kJpgHufFastBits - length;
        for (int32_t rest = 0; rest < (1 << free); ++rest) {
            const int32_t magnitude = rest >> (kJpgHufFastBits - used);
            // A leading 0 bit means a negative value (T.81 F.2.2.1).
            const int32_t value = size == 0 || magnitude >> (size - 1)
                                      ? magnitude
                                      : magnitude + 1 - (1 << size);
            fast[(codes[i] << free) | rest] = (static_cast<uint32_t>(value) << 16) |
                                              (run << 8) | static_cast<uint32_t>(used);
        }
    }
}

} // namespace

extern "C" uint32_t JpgDecSetHuffTable(JpgDecoder *dec, int32_t number, int32_t tableClass) {
    if (!dec || !dec->reader || static_cast<uint32_t>(number) > 3)
        return VLTJPG_ERR_ARGUMENT;
    const JpgHuffTable *def = tableClass ? dec->acDefs[number] : dec->dcDefs[number];
    if (!def)
        return VLTJPG_ERR_ARGUMENT;
    uint8_t *sizes = dec->scratch.bytes;
    uint16_t *codes = dec->codeScratch;
    int32_t total = 0;
    uint32_t result = ListCodeSizes(def->bits, sizes, &total);
    if (result == VLTJPG_OK)
        result = AssignCodes(sizes, codes);
    if (result != VLTJPG_OK)
        return result;

    uint16_t first[kFirstLevel] = {};
    BuildFirstLevel(sizes, codes, def->values, total, first);
    const int32_t needed = kFirstLevel + SecondLevelSize(first);
    if (needed > kJpgHufMaxTableEntries)
        return VLTJPG_ERR_ARGUMENT; // sub-tables beyond what an entry can address
    const uint32_t bytes =
        kJpgHufMaxTableEntries * sizeof(uint16_t) + kJpgHufFastEntries * sizeof(uint32_t);

    auto *node = static_cast<JpgDecTableNode *>(JpgDecAlloc(dec, sizeof(JpgDecTableNode)));
    auto *table = static_cast<uint16_t *>(JpgDecAlloc(dec, bytes));
    if (!node || !table) {
        JpgDecFree(dec, node);
        JpgDecFree(dec, table);
        return VLTJPG_ERR_MEMORY;
    }
    JpgMemSet(table, 0, bytes);
    JpgMemCopy(table, first, sizeof first);
    BuildSecondLevel(sizes, codes, def->values, total, table);
    BuildFastTable(sizes, codes, def->values, total, tableClass == 0, JpgHufFastTable(table));
    node->table = table;
    node->next = dec->derivedTables;
    dec->derivedTables = node;
    if (tableClass)
        dec->reader->acTables[number] = table;
    else
        dec->reader->dcTables[number] = table;
    return VLTJPG_OK;
}
