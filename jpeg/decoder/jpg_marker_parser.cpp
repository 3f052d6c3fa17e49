// Marker parser: reads the marker segments of a JPEG stream and sets up
// frame, tables and scan geometry: up to the first scan's entropy-coded data
// of a single-scan image, to the end of a progressive or multi-scan image,
// recording every scan. Only sequential and progressive Huffman frames with
// 8-bit samples are taken; everything else is refused here so that the
// decode loop never meets it.
#include "common/jpg_markers.h"
#include "decoder/jpg_decoder.h"
#include "decoder/jpg_dec_component.h"
#include "decoder/jpg_dec_scan.h"
#include "decoder/jpg_huff_reader.h"

#include <cstring>

namespace {

constexpr int32_t kMaxSamplingFactor = 4;

int32_t Larger(int32_t a, int32_t b) {
    return a > b ? a : b;
}

// Makes at least one byte available; fails once the stream (and the EOI the
// reader appends at its end) is used up.
uint32_t EnsureByte(JpgHufReader *reader) {
    if (reader->bytesLeft > 0)
        return VLTJPG_OK;
    if (reader->refill(reader) != VLTJPG_OK || reader->bytesLeft <= 0)
        return VLTJPG_ERR_DATA;
    return VLTJPG_OK;
}

uint32_t ReadByte(JpgHufReader *reader, uint32_t *value) {
    RETURN_IF_FAILED(EnsureByte(reader));
    *value = *reader->position++;
    reader->bytesLeft -= 1;
    return VLTJPG_OK;
}

uint32_t ReadWord(JpgHufReader *reader, uint32_t *value) {
    uint32_t high = 0;
    uint32_t low = 0;
    RETURN_IF_FAILED(ReadByte(reader, &high));
    RETURN_IF_FAILED(ReadByte(reader, &low));
    *value = (high << 8) | low;
    return VLTJPG_OK;
}

uint32_t SkipBytes(JpgHufReader *reader, uint32_t count) {
    while (count > 0) {
        RETURN_IF_FAILED(EnsureByte(reader));
        uint32_t available = static_cast<uint32_t>(reader->bytesLeft);
        uint32_t step = count < available ? count : available;
        reader->position += step;
        reader->bytesLeft -= static_cast<int32_t>(step);
        count -= step;
    }
    return VLTJPG_OK;
}

// A segment length counts its own two bytes; anything shorter is malformed.
uint32_t ReadSegmentLength(JpgHufReader *reader, uint32_t *remaining) {
    uint32_t length = 0;
    RETURN_IF_FAILED(ReadWord(reader, &length));
    if (length < 2)
        return VLTJPG_ERR_DATA;
    *remaining = length - 2;
    return VLTJPG_OK;
}

// Reads past the next 0xFF byte: a search through the buffered bytes, since
// it passes over whole scans of entropy-coded data in a multi-scan file.
uint32_t SkipPastFF(JpgHufReader *reader) {
    for (;;) {
        RETURN_IF_FAILED(EnsureByte(reader));
        const size_t available = static_cast<size_t>(reader->bytesLeft);
        const auto *found =
            static_cast<const uint8_t *>(std::memchr(reader->position, 0xFF, available));
        const size_t step = found ? static_cast<size_t>(found - reader->position) + 1 : available;
        reader->position += step;
        reader->bytesLeft -= static_cast<int32_t>(step);
        if (found)
            return VLTJPG_OK;
    }
}

} // namespace

uint32_t JpgDecFindMarker(JpgHufReader *reader) {
    for (;;) {
        uint32_t byte = 0;
        RETURN_IF_FAILED(SkipPastFF(reader));
        do {
            RETURN_IF_FAILED(ReadByte(reader, &byte));
        } while (byte == 0xFF);
        if (byte != 0) { // 0xFF 0x00 is stuffing inside entropy-coded data
            reader->marker = byte;
            return VLTJPG_OK;
        }
    }
}

void JpgDecAlignToByte(JpgHufReader *reader) {
    if (reader->bitsLeft == 8)
        return;
    if (reader->bytesLeft <= 0)
        reader->refill(reader);
    bool stuffed = reader->bytesLeft >= 2 && reader->position[0] == 0xFF &&
                   reader->position[1] == 0x00;
    int32_t step = stuffed ? 2 : 1;
    reader->position += step;
    reader->bytesLeft -= step;
    reader->bitsLeft = 8;
}

namespace {

// Bit offset in the stream of the reader's next unread bit.
uint32_t JpgDecBitPosition(const JpgHufReader *reader) {
    uint32_t byte = reader->bufferOrigin + static_cast<uint32_t>(reader->position - reader->buffer);
    return byte * 8 + 8 - static_cast<uint32_t>(reader->bitsLeft);
}

uint32_t SkipToSoi(JpgHufReader *reader) {
    do {
        RETURN_IF_FAILED(JpgDecFindMarker(reader));
    } while (reader->marker != kJpgMarkerSoi);
    return VLTJPG_OK;
}

// ---------------------------------------------------------------- tables

uint32_t ReadQuantTable(JpgDecoder *dec, uint32_t *remaining) {
    JpgHufReader *reader = dec->reader;
    uint32_t pqTq = 0;
    RETURN_IF_FAILED(ReadByte(reader, &pqTq));
    uint32_t number = pqTq & 15;
    bool wide = (pqTq >> 4) != 0;
    uint32_t size = wide ? 129 : 65;
    if (number > 3 || *remaining < size)
        return VLTJPG_ERR_DATA;
    JpgQuantTable *table = dec->quantTables[number];
    for (int k = 0; k < 64; ++k) {
        uint32_t value = 0;
        RETURN_IF_FAILED(wide ? ReadWord(reader, &value) : ReadByte(reader, &value));
        table->values[jpg_natural_order[k]] = static_cast<uint16_t>(value);
    }
    JpgDecSetDeQuantScale(dec, static_cast<int32_t>(number));
    *remaining -= size;
    return VLTJPG_OK;
}

uint32_t ReadDqt(JpgDecoder *dec) {
    uint32_t remaining = 0;
    RETURN_IF_FAILED(ReadSegmentLength(dec->reader, &remaining));
    while (remaining > 0)
        RETURN_IF_FAILED(ReadQuantTable(dec, &remaining));
    dec->dqtSeen = 1;
    return VLTJPG_OK;
}

uint32_t ReadHuffTable(JpgDecoder *dec, uint32_t *remaining) {
    JpgHufReader *reader = dec->reader;
    uint32_t tcTh = 0;
    RETURN_IF_FAILED(ReadByte(reader, &tcTh));
    int32_t tableClass = (tcTh & 0x10) ? 1 : 0;
    uint32_t number = tableClass ? tcTh - 16 : tcTh;
    if (number > 3)
        return VLTJPG_ERR_DATA;
    JpgHuffTable *def = tableClass ? dec->acDefs[number] : dec->dcDefs[number];
    uint32_t total = 0;
    for (int length = 1; length <= 16; ++length) {
        uint32_t count = 0;
        RETURN_IF_FAILED(ReadByte(reader, &count));
        def->bits[length] = static_cast<uint8_t>(count);
        total += count;
    }
    if (total > 256 || total > *remaining - 17)
        return VLTJPG_ERR_DATA;
    for (uint32_t i = 0; i < total; ++i) {
        uint32_t symbol = 0;
        RETURN_IF_FAILED(ReadByte(reader, &symbol));
        def->values[i] = static_cast<uint8_t>(symbol);
    }
    RETURN_IF_FAILED(JpgDecSetHuffTable(dec, static_cast<int32_t>(number), tableClass));
    *remaining -= 17 + total;
    return VLTJPG_OK;
}

uint32_t ReadDht(JpgDecoder *dec) {
    uint32_t remaining = 0;
    RETURN_IF_FAILED(ReadSegmentLength(dec->reader, &remaining));
    while (remaining >= 17)
        RETURN_IF_FAILED(ReadHuffTable(dec, &remaining));
    if (remaining != 0)
        return VLTJPG_ERR_DATA;
    dec->dhtSeen = 1;
    return VLTJPG_OK;
}

// DRI and DNL carry one 16-bit value in a segment of length 4.
uint32_t ReadShortSegment(JpgHufReader *reader, uint32_t *value) {
    uint32_t length = 0;
    RETURN_IF_FAILED(ReadWord(reader, &length));
    if (length != 4)
        return VLTJPG_ERR_DATA;
    return ReadWord(reader, value);
}

uint32_t ReadDri(JpgDecoder *dec) {
    uint32_t interval = 0;
    RETURN_IF_FAILED(ReadShortSegment(dec->reader, &interval));
    dec->reader->restartInterval = interval;
    return VLTJPG_OK;
}

uint32_t ReadDnl(JpgDecoder *dec) {
    uint32_t height = 0;
    RETURN_IF_FAILED(ReadShortSegment(dec->reader, &height));
    if (height == 0)
        return VLTJPG_ERR_DATA;
    dec->height = static_cast<int32_t>(height);
    return VLTJPG_OK;
}

uint32_t SkipSegment(JpgHufReader *reader) {
    uint32_t remaining = 0;
    RETURN_IF_FAILED(ReadSegmentLength(reader, &remaining));
    return SkipBytes(reader, remaining);
}

// ----------------------------------------------------------------- frame

bool IsLetter(uint32_t id, char upper) {
    return id == static_cast<uint32_t>(upper) || id == static_cast<uint32_t>(upper + 32);
}

void NoteRgbComponents(JpgDecoder *dec) {
    JpgDecComponent **c = dec->components;
    dec->rgbComponents = dec->componentCount == 3 && IsLetter(c[0]->id, 'R') &&
                         IsLetter(c[1]->id, 'G') && IsLetter(c[2]->id, 'B');
}

uint32_t ReadFrameComponents(JpgDecoder *dec) {
    for (int32_t i = 0; i < dec->componentCount; ++i) {
        JpgDecComponent *comp = dec->components[i];
        uint32_t id = 0;
        uint32_t factors = 0;
        uint32_t tq = 0;
        RETURN_IF_FAILED(ReadByte(dec->reader, &id));
        RETURN_IF_FAILED(ReadByte(dec->reader, &factors));
        RETURN_IF_FAILED(ReadByte(dec->reader, &tq));
        if (tq > 3)
            return VLTJPG_ERR_DATA;
        comp->id = static_cast<int32_t>(id);
        comp->index = i;
        comp->h = static_cast<int32_t>(factors >> 4);
        comp->v = static_cast<int32_t>(factors & 15);
        comp->quantTable = static_cast<int32_t>(tq);
    }
    return VLTJPG_OK;
}

uint32_t ReadFrameHeader(JpgDecoder *dec, int32_t progressive) {
    if (dec->sofSeen)
        return VLTJPG_ERR_DATA;
    dec->progressiveFrame = progressive;
    JpgHufReader *reader = dec->reader;
    uint32_t length = 0, precision = 0, height = 0, width = 0, count = 0;
    RETURN_IF_FAILED(ReadWord(reader, &length));
    RETURN_IF_FAILED(ReadByte(reader, &precision));
    RETURN_IF_FAILED(ReadWord(reader, &height));
    RETURN_IF_FAILED(ReadWord(reader, &width));
    RETURN_IF_FAILED(ReadByte(reader, &count));
    if (precision != 8 || count * 3 + 8 != length || width == 0 || height == 0 || count == 0 ||
        count > 4)
        return VLTJPG_ERR_DATA;
    if (count == 4)
        return VLTJPG_ERR_UNSUPPORTED;
    dec->precision = static_cast<int32_t>(precision);
    dec->width = static_cast<int32_t>(width);
    dec->height = static_cast<int32_t>(height);
    dec->componentCount = static_cast<int32_t>(count);
    RETURN_IF_FAILED(ReadFrameComponents(dec));
    dec->sofSeen = 1;
    NoteRgbComponents(dec);
    return JpgDecSetFrameInfo(dec);
}

bool FactorsInRange(const JpgDecoder *dec) {
    for (int32_t i = 0; i < dec->componentCount; ++i) {
        const JpgDecComponent *c = dec->components[i];
        if (c->h < 1 || c->h > kMaxSamplingFactor || c->v < 1 || c->v > kMaxSamplingFactor)
            return false;
    }
    return true;
}

// Component 0 carries the largest factors; chroma components share theirs,
// which must divide the luma ones.
bool SamplingLayoutSupported(const JpgDecoder *dec) {
    const JpgDecComponent *luma = dec->components[0];
    if (luma->h != dec->frameMaxH || luma->v != dec->frameMaxV)
        return false;
    if (dec->componentCount != 3)
        return true;
    const JpgDecComponent *cb = dec->components[1];
    const JpgDecComponent *cr = dec->components[2];
    return cb->h == cr->h && cb->v == cr->v && dec->frameMaxH % cb->h == 0 &&
           dec->frameMaxV % cb->v == 0;
}

int32_t DeriveSamplingMode(const JpgDecoder *dec) {
    if (dec->frameMaxH > 2 || dec->frameMaxV > 2)
        return 5;
    int32_t mode = jpg_yuvsample_tbl[3 * dec->frameMaxV + dec->frameMaxH];
    if (dec->componentCount == 1 && mode == 3)
        return 4;
    if (dec->componentCount == 3 && mode == 0) {
        const JpgDecComponent *cb = dec->components[1];
        if (dec->frameBlocksPerMcu == 8)
            return dec->frameMaxH / cb->h == 2 ? 1 : 2;
        if (dec->frameBlocksPerMcu == 12)
            return 3;
    }
    return mode;
}

} // namespace

extern "C" {

uint32_t JpgDecSetFrameInfo(JpgDecoder *dec) {
    if (dec->componentCount == 1) {
        dec->components[0]->h = 1;
        dec->components[0]->v = 1;
    }
    if (!FactorsInRange(dec))
        return VLTJPG_ERR_UNSUPPORTED;
    dec->frameMaxH = 1;
    dec->frameMaxV = 1;
    int32_t blocks = 0;
    for (int32_t i = 0; i < dec->componentCount; ++i) {
        JpgDecComponent *comp = dec->components[i];
        dec->frameMaxH = Larger(dec->frameMaxH, comp->h);
        dec->frameMaxV = Larger(dec->frameMaxV, comp->v);
        comp->firstBlock = blocks;
        comp->dequant = dec->dequantTables[comp->quantTable];
        blocks += comp->h * comp->v;
    }
    dec->frameBlocksPerMcu = blocks;
    if (blocks > kJpgDecMaxBlocksPerMcu)
        return VLTJPG_ERR_UNSUPPORTED;
    dec->outputMode = kJpgDecOutputSamples;
    if (!SamplingLayoutSupported(dec))
        return VLTJPG_ERR_UNSUPPORTED;
    dec->samplingMode = DeriveSamplingMode(dec);
    int32_t mcuWidth = 8 * dec->frameMaxH;
    int32_t mcuHeight = 8 * dec->frameMaxV;
    dec->frameMcusPerRow = (dec->width + mcuWidth - 1) / mcuWidth;
    dec->frameMcuRows = (dec->height + mcuHeight - 1) / mcuHeight;
    return VLTJPG_OK;
}

} // extern "C"

namespace {

// ------------------------------------------------------------------ scan

JpgDecComponent *FindComponent(JpgDecoder *dec, uint32_t id) {
    for (int32_t i = 0; i < dec->componentCount; ++i) {
        if (dec->components[i]->id == static_cast<int32_t>(id))
            return dec->components[i];
    }
    return nullptr;
}

// A scan header as read, before it is taken over into the decoder.
using ScanHeader = JpgDecScanParams;

bool ListedBefore(const ScanHeader &scan, int32_t k) {
    for (int32_t j = 0; j < k; ++j) {
        if (scan.components[j] == scan.components[k])
            return true;
    }
    return false;
}

// Each scan component is a distinct frame component using tables the frame
// type allows.
uint32_t ReadScanComponents(JpgDecoder *dec, ScanHeader *scan) {
    for (int32_t k = 0; k < scan->count; ++k) {
        uint32_t id = 0;
        uint32_t tables = 0;
        RETURN_IF_FAILED(ReadByte(dec->reader, &id));
        RETURN_IF_FAILED(ReadByte(dec->reader, &tables));
        scan->components[k] = FindComponent(dec, id);
        scan->dcTables[k] = static_cast<int32_t>(tables >> 4);
        scan->acTables[k] = static_cast<int32_t>(tables & 15);
        if (!scan->components[k] || ListedBefore(*scan, k) ||
            scan->dcTables[k] >= dec->huffTableLimit || scan->acTables[k] >= dec->huffTableLimit)
            return VLTJPG_ERR_DATA;
    }
    return VLTJPG_OK;
}

uint32_t ReadSpectralParameters(JpgHufReader *reader, ScanHeader *scan) {
    uint32_t ss = 0, se = 0, approximation = 0;
    RETURN_IF_FAILED(ReadByte(reader, &ss));
    RETURN_IF_FAILED(ReadByte(reader, &se));
    RETURN_IF_FAILED(ReadByte(reader, &approximation));
    scan->ss = static_cast<int32_t>(ss);
    scan->se = static_cast<int32_t>(se);
    scan->ah = static_cast<int32_t>(approximation >> 4);
    scan->al = static_cast<int32_t>(approximation & 15);
    return VLTJPG_OK;
}

// A sequential scan codes the whole spectrum at full precision; anything
// else would index past the coefficient order or belongs to another process.
// Progressive scans are checked against the scans before them.
uint32_t CheckSpectralParameters(JpgDecoder *dec, const ScanHeader &scan) {
    if (dec->progressiveFrame)
        return JpgDecCheckScan(dec, scan);
    if (scan.ss != 0 || scan.se != 63 || scan.ah != 0 || scan.al != 0)
        return VLTJPG_ERR_DATA;
    return dec->multiScanMode == kJpgDecSingleScan ? VLTJPG_OK : JpgDecCheckScan(dec, scan);
}

// Every table the scan's block decoder reads must exist before its data is
// decoded: a DC first scan reads DC tables, AC scans AC tables, a DC
// refinement none, a sequential scan both.
bool ScanTablesDefined(const JpgDecoder *dec, const ScanHeader &scan) {
    bool dcScan = scan.ss == 0;
    bool needsDc = !dec->progressiveFrame || (dcScan && scan.ah == 0);
    bool needsAc = !dec->progressiveFrame || !dcScan;
    for (int32_t k = 0; k < scan.count; ++k) {
        if ((needsDc && !dec->reader->dcTables[scan.dcTables[k]]) ||
            (needsAc && !dec->reader->acTables[scan.acTables[k]]))
            return false;
    }
    return true;
}

void TakeOverScan(JpgDecoder *dec, const ScanHeader &scan) {
    dec->scanComponentCount = scan.count;
    for (int32_t k = 0; k < scan.count; ++k) {
        dec->scanComponents[k] = scan.components[k];
        scan.components[k]->dcTable = scan.dcTables[k];
        scan.components[k]->acTable = scan.acTables[k];
    }
    JpgHufReader *reader = dec->reader;
    reader->ss = scan.ss;
    reader->ah = scan.ah;
    reader->al = scan.al;
    // A scan reader keeps the scan's whole band; the output cuts it by scale.
    reader->lastIndexKept =
        dec->multiScanMode == kJpgDecSingleScan ? jpg_scalese_tbl[dec->scaleIndex] : scan.se;
    reader->eobRun = 0;
    reader->nextRestart = 0;
    reader->restartsToGo = reader->restartInterval;
    reader->dataStart = JpgDecBitPosition(reader);
    dec->decodeState = kJpgDecScanHeaderRead;
}

// The scan header is read and checked whole before the decoder takes it
// over, so that a refused header leaves the current scan intact.
uint32_t ReadScanHeader(JpgDecoder *dec) {
    if (!dec->sofSeen)
        return VLTJPG_ERR_DATA;
    JpgHufReader *reader = dec->reader;
    uint32_t length = 0, count = 0;
    RETURN_IF_FAILED(ReadWord(reader, &length));
    RETURN_IF_FAILED(ReadByte(reader, &count));
    if (count < 1 || count > static_cast<uint32_t>(dec->componentCount) ||
        length != 2 * (count + 3))
        return VLTJPG_ERR_DATA;
    ScanHeader scan{};
    scan.count = static_cast<int32_t>(count);
    RETURN_IF_FAILED(ReadScanComponents(dec, &scan));
    RETURN_IF_FAILED(ReadSpectralParameters(reader, &scan));
    if (dec->multiScanMode == kJpgDecSingleScan && scan.count < dec->componentCount) {
        // Only an image's first scan can make it a multi-scan one (blocks
        // per MCU stay 0 until a scan is set up); a later partial scan of a
        // single-scan image is not decoded.
        if (dec->blocksPerMcu != 0)
            return VLTJPG_ERR_UNSUPPORTED;
        dec->multiScanMode = kJpgDecSequentialScans;
    }
    RETURN_IF_FAILED(CheckSpectralParameters(dec, scan));
    if (!ScanTablesDefined(dec, scan))
        return VLTJPG_ERR_DATA;
    TakeOverScan(dec, scan);
    RETURN_IF_FAILED(JpgDecSetScanInfo(dec));
    return dec->multiScanMode == kJpgDecSingleScan ? VLTJPG_OK : JpgDecAddScan(dec);
}

// Appends the component's blocks to the MCU's block table, row by row,
// each with its sample offset inside the component's part of the MCU.
void AppendBlocks(JpgDecoder *dec, JpgDecComponent *comp) {
    for (int32_t r = 0; r < comp->mcuHeight; ++r) {
        for (int32_t c = 0; c < comp->mcuWidth; ++c) {
            int32_t entry = dec->blocksPerMcu++;
            dec->blockComponents[entry] = comp;
            dec->blockOffsets[entry][0] = 8 * c;
            dec->blockOffsets[entry][1] = 8 * r;
        }
    }
}

uint32_t HandleSoi(JpgDecoder *dec) {
    if (dec->soiSeen)
        return VLTJPG_ERR_DATA;
    dec->reader->restartInterval = 0;
    dec->soiSeen = 1;
    return VLTJPG_OK;
}

// Lossless, hierarchical and arithmetic-coded frames (SOF3, SOF5..SOF15)
// and the JPG extension code: every code from 0xC3 to 0xCF but DHT and DAC.
bool IsUnsupportedFrame(uint32_t marker) {
    return marker >= 0xC3 && marker <= 0xCF && marker != kJpgMarkerDht &&
           marker != kJpgMarkerDac;
}

// Handles one marker whose code the reader holds; the reader lets go of it
// here, before its segment is read. *done is set when the parser must
// return (first scan header reached, or EOI).
uint32_t DispatchMarker(JpgDecoder *dec, uint32_t marker, bool *done) {
    JpgHufReader *reader = dec->reader;
    reader->marker = 0;
    if (marker == kJpgMarkerSof0 || marker == kJpgMarkerSof1) {
        dec->huffTableLimit = marker == kJpgMarkerSof0 ? 2 : 4;
        return ReadFrameHeader(dec, 0);
    }
    if (marker == kJpgMarkerSof2) {
        dec->huffTableLimit = 4;
        dec->multiScanMode = kJpgDecProgressive;
        return ReadFrameHeader(dec, 1);
    }
    if (IsUnsupportedFrame(marker)) {
        dec->multiScanMode = kJpgDecUnsupportedProcess;
        return VLTJPG_ERR_UNSUPPORTED;
    }
    switch (marker) {
    case kJpgMarkerTem:
        return VLTJPG_OK;
    case kJpgMarkerDht:
        return ReadDht(dec);
    case kJpgMarkerSoi:
        return HandleSoi(dec);
    case kJpgMarkerEoi:
        dec->decodeState = kJpgDecEndOfImage;
        *done = true;
        return VLTJPG_OK;
    case kJpgMarkerSos: {
        // A multi-scan image is read to its end, past every scan's data.
        uint32_t result = ReadScanHeader(dec);
        *done = dec->multiScanMode == kJpgDecSingleScan;
        return result;
    }
    case kJpgMarkerDqt:
        return ReadDqt(dec);
    case kJpgMarkerDnl:
        return ReadDnl(dec);
    case kJpgMarkerDri:
        return ReadDri(dec);
    case kJpgMarkerCom:
        return SkipSegment(reader);
    default:
        break;
    }
    if (JpgIsRestartMarker(marker))
        return VLTJPG_OK;
    if (marker >= kJpgMarkerApp0 && marker <= kJpgMarkerApp15)
        return SkipSegment(reader);
    return VLTJPG_ERR_UNSUPPORTED; // DAC, DHP, EXP, JPGn, reserved codes
}

} // namespace

extern "C" {

uint32_t JpgDecReadHeader(JpgDecoder *dec) {
    JpgHufReader *reader = dec->reader;
    JpgDecAlignToByte(reader);
    if (!dec->soiSeen) {
        RETURN_IF_FAILED(SkipToSoi(reader));
        reader->marker = 0;
        RETURN_IF_FAILED(HandleSoi(dec));
    }
    bool done = false;
    while (!done) {
        if (reader->marker == 0)
            RETURN_IF_FAILED(JpgDecFindMarker(reader));
        RETURN_IF_FAILED(DispatchMarker(dec, reader->marker, &done));
    }
    return VLTJPG_OK;
}

uint32_t JpgDecSetScanInfo(JpgDecoder *dec) {
    bool interleaved = dec->scanComponentCount > 1;
    int32_t widest = 0, tallest = 0, mcuBlocksH = 1, mcuBlocksV = 1;
    dec->scanMaxV = 1;
    dec->blocksPerMcu = 0;
    for (int32_t k = 0; k < dec->scanComponentCount; ++k) {
        JpgDecComponent *comp = dec->scanComponents[k];
        comp->width = JpgDecComponentExtent(dec->width, comp->h, dec->frameMaxH);
        comp->height = JpgDecComponentExtent(dec->height, comp->v, dec->frameMaxV);
        comp->mcuWidth = interleaved ? comp->h : 1;
        comp->mcuHeight = interleaved ? comp->v : 1;
        AppendBlocks(dec, comp);
        dec->scanMaxV = Larger(dec->scanMaxV, comp->v);
        widest = Larger(widest, comp->width);
        tallest = Larger(tallest, comp->height);
        mcuBlocksH = Larger(mcuBlocksH, comp->mcuWidth);
        mcuBlocksV = Larger(mcuBlocksV, comp->mcuHeight);
    }
    int32_t mcuWidth = 8 * mcuBlocksH;
    dec->mcuHeight = 8 * mcuBlocksV;
    dec->mcusPerRow = (widest + mcuWidth - 1) / mcuWidth;
    dec->mcuRows = (tallest + dec->mcuHeight - 1) / dec->mcuHeight;
    dec->edgeMcuColumn = widest / mcuWidth;
    dec->edgeMcuRow = tallest / dec->mcuHeight;
    dec->mcuColumn = 0;
    dec->mcuRow = 0;
    return VLTJPG_OK;
}

} // extern "C"
