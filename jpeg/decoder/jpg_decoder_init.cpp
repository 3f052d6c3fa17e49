// Decoder creation and destruction: allocates the state and everything it
// owns through the memory glue, installs the routine table and parses the
// header, so that a decoder that exists always describes a decodable image.
#include "decoder/jpg_dec_component.h"
#include "decoder/jpg_dec_index.h"
#include "decoder/jpg_dec_scan.h"
#include "decoder/jpg_decoder.h"
#include "decoder/jpg_huff_reader.h"
#include "decoder/jpg_idct.h"

namespace {

// The allocation slots exist only with an allocation callback; a free
// callback without one is treated as if neither were given.
JpgDecoder *AllocState(const vltJpgDecoderParams *params) {
    vltJpgAllocCallback alloc = params->alloc;
    vltJpgFreeCallback release = alloc ? params->release : nullptr;
    void **slots = nullptr;
    if (!JpgMemCreateSlots(alloc, &slots))
        return nullptr;
    auto *dec = static_cast<JpgDecoder *>(
        JpgMemAllocZeroed(sizeof(JpgDecoder), alloc, slots, params->memContext));
    if (!dec) {
        JpgMemReleaseSlots(slots);
        return nullptr;
    }
    dec->memContext = params->memContext;
    dec->alloc = alloc;
    dec->release = release;
    dec->allocSlots = slots;
    dec->streamCallback = params->streamCallback;
    dec->reserved = params->reserved4;
    return dec;
}

bool AllocComponents(JpgDecoder *dec) {
    auto *block = static_cast<JpgDecComponent *>(
        JpgDecAllocZeroed(dec, kJpgDecMaxComponents * sizeof(JpgDecComponent)));
    if (!block)
        return false;
    for (int32_t i = 0; i < kJpgDecMaxComponents; ++i)
        dec->components[i] = &block[i];
    return true;
}

// The reader counts stream positions from the stream's start, so that a
// JPEG embedded at an offset can still be repositioned by absolute offsets.
uint32_t AllocReader(JpgDecoder *dec, const vltJpgDecoderParams *params) {
    uint32_t chunk = params->chunkSize ? params->chunkSize : kJpgDecDefaultChunkSize;
    if (chunk < 256 || chunk > (1u << 24))
        return VLTJPG_ERR_ARGUMENT;
    auto *reader = static_cast<JpgHufReader *>(JpgDecAllocZeroed(dec, sizeof(JpgHufReader)));
    if (!reader)
        return VLTJPG_ERR_MEMORY;
    dec->reader = reader;
    reader->chunkSize = chunk;
    reader->buffer = static_cast<uint8_t *>(JpgDecAlloc(dec, chunk + 128));
    if (!reader->buffer)
        return VLTJPG_ERR_MEMORY;
    reader->streamCallback = dec->streamCallback;
    return JpgDecBindStream(dec, params->stream);
}

bool AllocBlockArea(JpgDecoder *dec) {
    dec->blockArea = static_cast<uint8_t *>(JpgDecAlloc(dec, kJpgDecBlockAreaBytes));
    if (!dec->blockArea)
        return false;
    JpgMemSet(dec->blockArea, 0, kJpgDecMultiplierOffset);
    dec->edgeBuffer = dec->blockArea + kJpgDecEdgeBufferOffset;
    for (int32_t t = 0; t < 4; ++t) {
        dec->dequantTables[t] = reinterpret_cast<int32_t *>(
            dec->blockArea + kJpgDecMultiplierOffset + t * kJpgDecMultiplierBytes);
    }
    return true;
}

bool AllocTableRecords(JpgDecoder *dec) {
    auto *quant = static_cast<JpgQuantTable *>(JpgDecAllocZeroed(dec, 4 * sizeof(JpgQuantTable)));
    auto *dc = static_cast<JpgHuffTable *>(JpgDecAllocZeroed(dec, 4 * sizeof(JpgHuffTable)));
    auto *ac = static_cast<JpgHuffTable *>(JpgDecAllocZeroed(dec, 4 * sizeof(JpgHuffTable)));
    for (int32_t t = 0; t < 4; ++t) {
        dec->quantTables[t] = quant ? &quant[t] : nullptr;
        dec->dcDefs[t] = dc ? &dc[t] : nullptr;
        dec->acDefs[t] = ac ? &ac[t] : nullptr;
    }
    return quant && dc && ac;
}

void InstallRoutines(JpgDecoder *dec) {
    JpgDecRoutines &r = dec->routines;
    r.runTable = jpg_yccrun_tbl;
    r.mcuModeTable = jpg_mcumode_tbl;
    r.readHeader = JpgDecReadHeader;
    r.decode = JpgDecImage;
    r.mcu[kJpgDecOutputStream] = JpgDecStreamMCU;
    r.mcu[kJpgDecOutputCoefficients] = JpgDecCoefMCU;
    r.mcu[kJpgDecOutputSamples] = JpgDecYCbCrMCU;
    r.mcu[kJpgDecOutputRgb] = JpgDecRGBMCU;
    r.lastMcu = JpgDecYCbCrLastMCU;
    r.block = JpgDecBlock_ARMV5;
    r.transform[0] = JpgDQIDCT8_ARMV6;
    r.transform[1] = JpgDQIDCT4_ARMV6;
    r.transform[2] = JpgDQIDCT2_ARMV6;
    r.transform[3] = JpgDQIDCT1;
    r.runDriver[0] = JpgDecStreamLayer;
    for (int32_t mode = 1; mode < 4; ++mode)
        r.runDriver[mode] = JpgDecDataLayer;
    r.stuff = JpgDecStuff;
    r.indexUpdate = JpgDecIdxUpdate;

    JpgHufReader *reader = dec->reader;
    reader->naturalOrder = jpg_natural_order;
    reader->extendTable = jpg_extend_tbl;
    reader->refill = JpgHufRead;
    reader->restartHandler = JpgDecRestart;
}

// A single-scan image stops at its scan header; a multi-scan one is read to
// its end with every scan recorded.
bool HeaderComplete(const JpgDecoder *dec) {
    bool scanReached = dec->multiScanMode == kJpgDecSingleScan
                           ? dec->decodeState == kJpgDecScanHeaderRead
                           : dec->decodeState == kJpgDecEndOfImage && dec->scanList;
    return dec->soiSeen && dec->sofSeen && dec->dqtSeen && dec->dhtSeen && scanReached;
}

// True when the data ran out before the image's end: the EOI the parser met
// is the one the reader appends to a cut stream, or the data ended inside a
// segment after a scan.
bool DataCutShort(const JpgDecoder *dec, uint32_t parseResult) {
    const JpgHufReader *reader = dec->reader;
    if (!reader->endFlag)
        return false;
    if (parseResult != VLTJPG_OK)
        return parseResult == VLTJPG_ERR_DATA && reader->bytesLeft <= 0;
    return reader->position == reader->buffer + reader->mainCount + 2;
}

// The header of a multi-scan image that lost its later scans (a cut
// download) still makes a decoder of the scans it has.
uint32_t ReadWholeHeader(JpgDecoder *dec, bool *truncated) {
    uint32_t result = dec->routines.readHeader(dec);
    *truncated = DataCutShort(dec, result);
    if (result != VLTJPG_OK && *truncated && dec->multiScanMode != kJpgDecSingleScan &&
        dec->scanList) {
        dec->decodeState = kJpgDecEndOfImage;
        return VLTJPG_OK;
    }
    return result;
}

uint32_t BuildDecoder(JpgDecoder *dec, vltJpgDecoderParams *params) {
    if (!AllocComponents(dec))
        return VLTJPG_ERR_MEMORY;
    uint32_t result = AllocReader(dec, params);
    if (result != VLTJPG_OK)
        return result;
    if (!AllocBlockArea(dec) || !AllocTableRecords(dec))
        return VLTJPG_ERR_MEMORY;
    InstallRoutines(dec);
    bool truncated = false;
    result = ReadWholeHeader(dec, &truncated);
    if (result != VLTJPG_OK)
        return result;
    if (!HeaderComplete(dec))
        return VLTJPG_ERR_DATA;
    result = JpgDecIdxSetUp(dec, params);
    if (result != VLTJPG_OK || dec->multiScanMode == kJpgDecSingleScan)
        return result;
    return JpgDecSetupMultiScan(dec, truncated);
}

void FreeDerivedTables(JpgDecoder *dec) {
    JpgDecTableNode *node = dec->derivedTables;
    while (node) {
        JpgDecTableNode *next = node->next;
        JpgDecFree(dec, node->table);
        JpgDecFree(dec, node);
        node = next;
    }
    dec->derivedTables = nullptr;
}

} // namespace

uint32_t JpgDecBindStream(JpgDecoder *dec, void *stream) {
    JpgHufReader *reader = dec->reader;
    uint32_t origin = stream ? JpgStreamTell(stream, dec->streamCallback) : 0;
    if (static_cast<int32_t>(origin) < 0)
        origin = 0;
    uint32_t result = JpgDecHufInit(reader, stream);
    reader->bufferOrigin = origin;
    dec->dataOrigin = origin;
    return result;
}

void JpgDecFreeReader(JpgDecoder *dec, JpgHufReader *reader) {
    if (!reader)
        return;
    JpgDecFree(dec, reader->buffer);
    JpgDecFree(dec, reader);
}

extern "C" {

uint32_t JpgDecInit(JpgDecoder **handle, vltJpgDecoderParams *params) {
    JpgDecoder *dec = AllocState(params);
    if (!dec)
        return VLTJPG_ERR_MEMORY;
    uint32_t result = BuildDecoder(dec, params);
    if (result != VLTJPG_OK) {
        JpgDecUninit(dec);
        return result;
    }
    *handle = dec;
    return VLTJPG_OK;
}

uint32_t JpgDecUninit(JpgDecoder *dec) {
    if (!dec)
        return VLTJPG_ERR_ARGUMENT;
    JpgDecFree(dec, dec->components[0]);
    JpgDecFreeReader(dec, dec->reader);
    JpgDecFreeScans(dec);
    JpgDecIdxRelease(dec);
    JpgDecFree(dec, dec->blockArea);
    JpgDecFree(dec, dec->quantTables[0]);
    JpgDecFree(dec, dec->dcDefs[0]);
    JpgDecFree(dec, dec->acDefs[0]);
    FreeDerivedTables(dec);
    void **slots = dec->allocSlots;
    JpgDecFree(dec, dec);
    JpgMemReleaseSlots(slots);
    return VLTJPG_OK;
}

uint32_t JpgDecSetDeQuantScale(JpgDecoder *dec, int32_t table) {
    if (!dec)
        return VLTJPG_ERR_ARGUMENT;
    int32_t first = table < 0 ? 0 : table;
    int32_t last = table < 0 ? 3 : table;
    if (last > 3)
        return VLTJPG_ERR_ARGUMENT;
    const int16_t *scale = jpg_idct_scale_tbl[dec->scaleIndex];
    for (int32_t t = first; t <= last; ++t) {
        const uint16_t *quant = dec->quantTables[t]->values;
        int32_t *multipliers = dec->dequantTables[t];
        for (int32_t i = 0; i < 64; ++i)
            multipliers[i] = static_cast<int32_t>(quant[i]) * scale[i];
    }
    return VLTJPG_OK;
}

} // extern "C"
