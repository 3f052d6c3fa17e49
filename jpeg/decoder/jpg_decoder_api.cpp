// Public decoder entry points: creation, properties, scanline bands and
// MCU runs.
#include "decoder/jpg_dec_component.h"
#include "decoder/jpg_dec_index.h"
#include "decoder/jpg_decoder.h"
#include "decoder/jpg_huff_reader.h"
#include "decoder/jpg_idct.h"

namespace {

JpgDecoder *FromHandle(vltJpgDecoder handle) {
    return static_cast<JpgDecoder *>(handle);
}

void WritePair(void *value, int32_t first, int32_t second) {
    int32_t *words = static_cast<int32_t *>(value);
    words[0] = first;
    words[1] = second;
}

// Sizes the properties take; 0 for identifiers a get does not handle.
uint32_t GetSize(uint32_t id) {
    switch (id) {
    case VLTJPG_DECPROP_PRECISION:
    case VLTJPG_DECPROP_SCALE:
    case VLTJPG_DECPROP_COMPONENTS:
    case VLTJPG_DECPROP_BLOCKS_PER_MCU:
    case VLTJPG_DECPROP_SAMPLING:
    case VLTJPG_DECPROP_MULTISCAN:
    case VLTJPG_DECPROP_RGB:
        return 4;
    case VLTJPG_DECPROP_SIZE:
    case VLTJPG_DECPROP_SCALED_SIZE:
    case VLTJPG_DECPROP_MCU_GRID:
    case VLTJPG_DECPROP_MCU_SIZE:
    case VLTJPG_DECPROP_SUBSAMPLING:
        return 8;
    case VLTJPG_DECPROP_INDEX:
        return sizeof(vltJpgDecIndexBlock);
    default:
        return 0;
    }
}

uint32_t GetWord(JpgDecoder *dec, uint32_t id, int32_t *value) {
    switch (id) {
    case VLTJPG_DECPROP_PRECISION:
        *value = dec->precision;
        break;
    case VLTJPG_DECPROP_SCALE:
        *value = 1 << dec->scaleIndex;
        break;
    case VLTJPG_DECPROP_COMPONENTS:
        *value = dec->componentCount;
        break;
    case VLTJPG_DECPROP_BLOCKS_PER_MCU:
        *value = dec->frameBlocksPerMcu;
        break;
    case VLTJPG_DECPROP_SAMPLING:
        *value = dec->samplingMode;
        break;
    case VLTJPG_DECPROP_MULTISCAN:
        *value = dec->multiScanMode;
        break;
    default: // VLTJPG_DECPROP_RGB
        *value = dec->rgbComponents;
        break;
    }
    return VLTJPG_OK;
}

// The chroma ratios need a second component to divide by.
uint32_t GetSubsampling(JpgDecoder *dec, void *value) {
    if (dec->componentCount < 2)
        return VLTJPG_ERR_UNSUPPORTED;
    const JpgDecComponent *chroma = dec->components[1];
    WritePair(value, dec->frameMaxH / chroma->h, dec->frameMaxV / chroma->v);
    return VLTJPG_OK;
}

uint32_t GetPair(JpgDecoder *dec, uint32_t id, void *value) {
    switch (id) {
    case VLTJPG_DECPROP_SIZE:
        WritePair(value, dec->width, dec->height);
        return VLTJPG_OK;
    case VLTJPG_DECPROP_SCALED_SIZE:
        dec->scaledWidth = JpgDecScaledExtent(dec->width, dec->scaleIndex);
        dec->scaledHeight = JpgDecScaledExtent(dec->height, dec->scaleIndex);
        WritePair(value, dec->scaledWidth, dec->scaledHeight);
        return VLTJPG_OK;
    case VLTJPG_DECPROP_MCU_GRID:
        WritePair(value, dec->frameMcusPerRow, dec->frameMcuRows);
        return VLTJPG_OK;
    case VLTJPG_DECPROP_MCU_SIZE:
        WritePair(value, 8 * dec->frameMaxH, 8 * dec->frameMaxV);
        return VLTJPG_OK;
    default: // VLTJPG_DECPROP_SUBSAMPLING
        return GetSubsampling(dec, value);
    }
}

// A scale change takes effect for the MCUs decoded afterwards: the
// multipliers, the coefficient cut-off and the coefficient block (which may
// hold values a coarser scale stored outside the region it reads) follow.
uint32_t SetScale(JpgDecoder *dec, const void *value) {
    int32_t denominator = *static_cast<const int32_t *>(value);
    int32_t index = 0;
    while (index < 4 && (1 << index) != denominator)
        ++index;
    if (index == 4)
        return VLTJPG_ERR_ARGUMENT;
    dec->scaleIndex = index;
    JpgDecSetDeQuantScale(dec, -1);
    dec->reader->lastIndexKept = jpg_scalese_tbl[index];
    JpgMemSet(JpgDecCoefBlock(dec), 0, kJpgDecBlockBytes);
    return VLTJPG_OK;
}

uint32_t SetProgress(JpgDecoder *dec, const void *value) {
    const auto *progress = static_cast<const vltJpgDecProgress *>(value);
    dec->progress = progress->callback;
    dec->progressContext = progress->context;
    return VLTJPG_OK;
}

uint32_t SetStream(JpgDecoder *dec, const void *value) {
    dec->reader->stream = *static_cast<void *const *>(value);
    return VLTJPG_OK;
}

// Binds the host's planes to the components the sampling mode outputs.
uint32_t BindPlanes(JpgDecoder *dec, uint8_t *const *planes, const int32_t *pitches) {
    if (dec->samplingMode > 5)
        return VLTJPG_ERR_UNSUPPORTED;
    if (!planes || !pitches)
        return VLTJPG_ERR_ARGUMENT;
    int32_t bound = dec->samplingMode == 4 ? 1 : 3;
    int32_t needed = dec->samplingMode == 4 ? 1 : dec->componentCount;
    for (int32_t i = 0; i < bound; ++i) {
        if (i < needed && !planes[i])
            return VLTJPG_ERR_ARGUMENT;
        dec->components[i]->plane = planes[i];
        dec->components[i]->pitch = pitches[i];
    }
    dec->pixelFormat = JpgOutputFormatForSampling(dec->samplingMode);
    return VLTJPG_OK;
}

// Coefficient output goes to one plane for all components.
uint32_t BindCoefficientPlane(JpgDecoder *dec, const vltJpgPlaneSet *set) {
    if (!set || !set->planes || !set->pitches || !set->planes[0])
        return VLTJPG_ERR_ARGUMENT;
    for (int32_t i = 0; i < kJpgDecMaxComponents; ++i) {
        dec->components[i]->plane = set->planes[0];
        dec->components[i]->pitch = set->pitches[0];
    }
    return VLTJPG_OK;
}

// Restart counters for a decoder positioned at MCU n of the scan: the
// marker numbers run 0..7 from the second interval on.
void SetRestartCounters(JpgDecoder *dec) {
    JpgHufReader *reader = dec->reader;
    uint32_t interval = reader->restartInterval;
    if (interval == 0)
        return;
    uint32_t n = static_cast<uint32_t>(dec->mcuRow * dec->mcusPerRow + dec->mcuColumn);
    if (n == 0) {
        reader->nextRestart = 0;
        reader->restartsToGo = interval;
        return;
    }
    reader->nextRestart = ((n - 1) / interval) % 8;
    reader->restartsToGo = n % interval ? interval - n % interval : 0;
}

uint32_t Rewind(JpgDecoder *dec) {
    dec->mcuColumn = 0;
    dec->mcuRow = 0;
    JpgDecClearPredictors(dec);
    return JpgHufReset(dec->reader, dec->reader->dataStart);
}

// Decodes `count` MCUs without output to move the stream position on: a
// run of stream-mode MCUs.
uint32_t SkipMcus(JpgDecoder *dec, int32_t count) {
    JpgDecRequest skip{kJpgDecOutputStream, count, 0, 0, nullptr};
    return JpgDecDataLayer(dec, &skip);
}

bool Decoding(const JpgDecoder *dec) {
    return dec->decodeState == kJpgDecDecodingMcus || dec->decodeState == kJpgDecScanHeaderRead;
}

// Moves the decoder to MCU (column, row) of the scan: forward by decoding
// without output, from the recorded index entry in front of it when that
// lies ahead of the decoder (or the decoder cannot go on), else backward
// by rewinding to the scan's data start.
uint32_t PositionAt(JpgDecoder *dec, int32_t column, int32_t row) {
    int32_t target = row * dec->mcusPerRow + column;
    int32_t current = dec->mcuRow * dec->mcusPerRow + dec->mcuColumn;
    bool continuing = Decoding(dec) && current <= target;
    int32_t entry = JpgDecIdxEntryStart(dec, column, row);
    uint32_t result = VLTJPG_OK;
    if (entry >= 0 && (entry > current || !continuing))
        result = JpgDecIdxResume(dec, column, row);
    else if (!continuing)
        result = Rewind(dec);
    if (result != VLTJPG_OK)
        return result;
    dec->decodeState = kJpgDecDecodingMcus;
    SetRestartCounters(dec);
    return SkipMcus(dec, target - (dec->mcuRow * dec->mcusPerRow + dec->mcuColumn));
}

// Decodes the whole image without output so that every index entry gets
// recorded; the decoder is left at the end of the image.
uint32_t BuildIndex(JpgDecoder *dec) {
    if (!dec->index)
        return VLTJPG_ERR_ARGUMENT;
    if (dec->multiScanMode != kJpgDecSingleScan)
        return VLTJPG_ERR_UNSUPPORTED;
    uint32_t result = Rewind(dec);
    if (result != VLTJPG_OK)
        return result;
    dec->decodeState = kJpgDecDecodingMcus;
    SetRestartCounters(dec);
    int32_t savedMode = dec->outputMode;
    dec->outputMode = kJpgDecOutputStream;
    result = dec->routines.decode(dec, dec->width, dec->height);
    dec->outputMode = savedMode;
    return result;
}

uint32_t SetIndex(JpgDecoder *dec, const void *value) {
    return JpgDecSetIndexInfo(dec, static_cast<const vltJpgDecIndexBlock *>(value));
}

uint32_t ConfigureRequest(JpgDecoder *dec, const JpgDecRequest *request) {
    switch (request->mode) {
    case kJpgDecOutputStream:
        return VLTJPG_OK;
    case kJpgDecOutputCoefficients:
        return BindCoefficientPlane(dec, request->planeSet);
    case kJpgDecOutputSamples:
        if (!request->planeSet)
            return VLTJPG_ERR_ARGUMENT;
        return BindPlanes(dec, request->planeSet->planes, request->planeSet->pitches);
    default:
        return VLTJPG_ERR_UNSUPPORTED;
    }
}

// A run starts at an MCU of the current scan's grid.
bool StartsInsideTheScan(const JpgDecoder *dec, const JpgDecRequest *request) {
    return request->startColumn >= 0 && request->startColumn < dec->mcusPerRow &&
           request->startRow >= 0 && request->startRow < dec->mcuRows;
}

// The image line the decoder has delivered up to: the first line of the
// MCU row it stands in, or the whole image once its scan is complete.
int32_t LineReached(const JpgDecoder *dec) {
    if (dec->decodeState != kJpgDecDecodingMcus && dec->decodeState != kJpgDecMultiScanOutput)
        return dec->height;
    int32_t line = dec->mcuRow * 8 * dec->frameMaxV;
    return line < dec->height ? line : dec->height;
}

} // namespace

extern "C" {

vltJpgResult vltJpgDecoderCreate(vltJpgDecoder *handle, vltJpgDecoderParams *params) {
    if (!handle || !params)
        return VLTJPG_ERR_ARGUMENT;
    *handle = nullptr;
    JpgDecoder *dec = nullptr;
    uint32_t result = JpgDecInit(&dec, params);
    if (result == VLTJPG_OK)
        *handle = dec;
    return result;
}

vltJpgResult vltJpgDecoderDestroy(vltJpgDecoder handle) {
    return handle ? JpgDecUninit(FromHandle(handle)) : VLTJPG_ERR_ARGUMENT;
}

vltJpgResult vltJpgDecoderGetProp(vltJpgDecoder handle, uint32_t id, void *value, uint32_t size) {
    if (!handle || !value)
        return VLTJPG_ERR_ARGUMENT;
    JpgDecoder *dec = FromHandle(handle);
    if (id == VLTJPG_DECPROP_BUILD_INDEX)
        return BuildIndex(dec);
    uint32_t expected = GetSize(id);
    if (expected == 0)
        return VLTJPG_OK;
    if (size != expected)
        return VLTJPG_ERR_ARGUMENT;
    if (id == VLTJPG_DECPROP_INDEX)
        return JpgDecIdxExport(dec, static_cast<vltJpgDecIndexBlock *>(value));
    if (expected == 4)
        return GetWord(dec, id, static_cast<int32_t *>(value));
    return GetPair(dec, id, value);
}

vltJpgResult vltJpgDecoderSetProp(vltJpgDecoder handle, uint32_t id, void *value, uint32_t size) {
    if (!handle || !value)
        return VLTJPG_ERR_ARGUMENT;
    JpgDecoder *dec = FromHandle(handle);
    switch (id) {
    case VLTJPG_DECPROP_SCALE:
        return size == 4 ? SetScale(dec, value) : VLTJPG_ERR_ARGUMENT;
    case VLTJPG_DECPROP_PROGRESS:
        return size == sizeof(vltJpgDecProgress) ? SetProgress(dec, value) : VLTJPG_ERR_ARGUMENT;
    case VLTJPG_DECPROP_INDEX:
        return size == sizeof(vltJpgDecIndexBlock) ? SetIndex(dec, value) : VLTJPG_ERR_ARGUMENT;
    case VLTJPG_DECPROP_STREAM:
        return size == sizeof(void *) ? SetStream(dec, value) : VLTJPG_ERR_ARGUMENT;
    default:
        return VLTJPG_OK;
    }
}

vltJpgResult vltJpgDecoderScanlines(vltJpgDecoder handle, uint8_t **planes, int32_t *pitches,
                                    void *reserved, int32_t *lines) {
    (void)reserved;
    if (!handle || !planes || !lines)
        return VLTJPG_ERR_ARGUMENT;
    JpgDecoder *dec = FromHandle(handle);
    uint32_t result = BindPlanes(dec, planes, pitches);
    if (result != VLTJPG_OK)
        return result;
    int32_t left = dec->height - dec->firstLine;
    int32_t count = *lines < 0 ? 0 : (*lines < left ? *lines : left);
    int32_t startLine = dec->firstLine;
    result = dec->routines.decode(dec, dec->width, count);
    dec->firstLine = LineReached(dec);
    *lines = dec->firstLine - startLine;
    return result;
}

vltJpgResult vltJpgDecoderDefaultScanlines(vltJpgDecoder handle, uint8_t **planes,
                                           int32_t *pitches, void *reserved, int32_t *lines,
                                           void *stream) {
    if (!handle || !stream)
        return VLTJPG_ERR_ARGUMENT;
    JpgDecoder *dec = FromHandle(handle);
    // The scans of a multi-scan image belong to its own stream.
    if (dec->multiScanMode != kJpgDecSingleScan)
        return VLTJPG_ERR_UNSUPPORTED;
    dec->sofSeen = 0;
    dec->decodeState = kJpgDecReadMarkers;
    uint32_t result = JpgDecBindStream(dec, stream);
    JpgDecIdxForget(dec);
    // The other stream is another image: its restart interval is its own
    // (0 unless it has a DRI), as an SOI would have set it.
    dec->reader->marker = 0;
    dec->reader->restartInterval = 0;
    if (result == VLTJPG_OK)
        result = dec->routines.readHeader(dec);
    if (result != VLTJPG_OK)
        return result;
    if (dec->multiScanMode != kJpgDecSingleScan)
        return VLTJPG_ERR_UNSUPPORTED;
    if (dec->decodeState != kJpgDecScanHeaderRead)
        return VLTJPG_ERR_DATA;
    JpgDecClearPredictors(dec);
    // The other stream's image starts at its own first line; the decoder's
    // line count is left as it was.
    int32_t savedLine = dec->firstLine;
    dec->firstLine = 0;
    result = vltJpgDecoderScanlines(handle, planes, pitches, reserved, lines);
    dec->firstLine = savedLine;
    return result;
}

vltJpgResult vltJpgDecoderReadMCUs(vltJpgDecoder handle, vltJpgDecoderRequest *request) {
    if (!handle || !request)
        return VLTJPG_ERR_ARGUMENT;
    JpgDecoder *dec = FromHandle(handle);
    int32_t savedLine = dec->firstLine;
    uint32_t result = JpgDecSetReadProp(dec, request);
    if (result == VLTJPG_OK && !StartsInsideTheScan(dec, request))
        result = VLTJPG_ERR_ARGUMENT;
    if (result != VLTJPG_OK) { // a refused request changes nothing
        dec->firstLine = savedLine;
        return result;
    }
    // A multi-scan run driver positions its scans itself.
    if (dec->decodeState != kJpgDecMultiScanOutput)
        result = PositionAt(dec, request->startColumn, request->startRow);
    if (result == VLTJPG_OK)
        result = dec->routines.runDriver[request->mode](dec, request);
    // A band that follows continues from the MCU row the run stopped in.
    dec->firstLine = LineReached(dec);
    return result;
}

uint32_t JpgDecSetReadProp(JpgDecoder *dec, const JpgDecRequest *request) {
    dec->firstLine = 0;
    return ConfigureRequest(dec, request);
}

} // extern "C"
