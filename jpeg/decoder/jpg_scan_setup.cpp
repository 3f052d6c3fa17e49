// Set-up of a multi-scan image: the checks of each scan against the ones
// before it, a record and reader per scan, and, once the whole header is
// read, the row store, the frame MCU layout and the multi-scan routines.
#include "decoder/jpg_dec_component.h"
#include "decoder/jpg_dec_scan.h"
#include "decoder/jpg_huff_reader.h"

namespace {

// Largest point transform a scan may use: coefficients of 8-bit samples
// need at most 14 bits of magnitude.
constexpr int32_t kMaxApproximationBit = 13;

// Spectral band and approximation bits of one progressive scan on their
// own: a DC scan codes only the DC and may be interleaved, an AC scan one
// band of one component; a refinement adds exactly one bit.
bool ProgressiveScanWellFormed(const JpgDecScanParams &scan) {
    bool dcScan = scan.ss == 0;
    if (dcScan ? scan.se != 0 : (scan.se < scan.ss || scan.se > 63 || scan.count != 1))
        return false;
    if (scan.ah > kMaxApproximationBit || scan.al > kMaxApproximationBit)
        return false;
    return scan.ah == 0 || scan.al == scan.ah - 1;
}

// What each coefficient of the scan must have had coded before it: nothing
// for a first scan, the bits down to Ah for a refinement; AC coefficients
// only after the component's DC.
bool ScanFollowsEarlierScans(const JpgDecoder *dec, const JpgDecScanParams &scan) {
    uint8_t expected = scan.ah == 0 ? 0 : static_cast<uint8_t>(scan.ah + 1);
    for (int32_t k = 0; k < scan.count; ++k) {
        const uint8_t *coded = dec->scanCoverage[scan.components[k]->index];
        if (scan.ss > 0 && coded[0] == 0)
            return false;
        for (int32_t i = scan.ss; i <= scan.se; ++i) {
            if (coded[i] != expected)
                return false;
        }
    }
    return true;
}

void RecordCoverage(JpgDecoder *dec, const JpgDecScanParams &scan) {
    for (int32_t k = 0; k < scan.count; ++k) {
        uint8_t *coded = dec->scanCoverage[scan.components[k]->index];
        for (int32_t i = scan.ss; i <= scan.se; ++i)
            coded[i] = static_cast<uint8_t>(scan.al + 1);
    }
}

void AppendToScanList(JpgDecoder *dec, JpgDecScan *scan) {
    if (dec->currentScan)
        dec->currentScan->next = scan;
    else
        dec->scanList = scan;
    dec->currentScan = scan;
}

JpgDecBlockRoutine ChooseBlockDecoder(const JpgDecoder *dec, const JpgHufReader *reader) {
    if (!dec->progressiveFrame)
        return dec->routines.block;
    if (reader->ss == 0)
        return reader->ah == 0 ? JpgDecBlockDCFirst : JpgDecBlockDCRefine;
    return reader->ah == 0 ? JpgDecBlockACFirst : JpgDecBlockACRefine;
}

// The scan's reader: a small buffer of its own, the scan parameters and the
// Huffman tables as they stand at its SOS (later DHT segments belong to
// later scans).
uint32_t CreateScanReader(JpgDecoder *dec, JpgDecScan *scan) {
    auto *reader = static_cast<JpgHufReader *>(JpgDecAllocZeroed(dec, sizeof(JpgHufReader)));
    scan->reader = reader;
    if (!reader)
        return VLTJPG_ERR_MEMORY;
    reader->chunkSize = kJpgScanChunkSize;
    reader->buffer =
        static_cast<uint8_t *>(JpgDecAllocZeroed(dec, kJpgScanChunkSize + kJpgHufSlack));
    if (!reader->buffer)
        return VLTJPG_ERR_MEMORY;
    const JpgHufReader *main = dec->reader;
    reader->streamCallback = dec->streamCallback;
    reader->dataStart = main->dataStart;
    for (int32_t t = 0; t < 4; ++t) {
        reader->dcTables[t] = main->dcTables[t];
        reader->acTables[t] = main->acTables[t];
    }
    return JpgScanHufInit(reader, dec);
}

// Private copies of the scan's components (they carry the scan's own DC
// predictors and table numbers) and the scan's block table over them.
bool CopyScanComponents(JpgDecoder *dec, JpgDecScan *scan) {
    const int32_t count = dec->scanComponentCount;
    auto *copies = static_cast<JpgDecComponent *>(
        JpgDecAllocZeroed(dec, static_cast<uint32_t>(count) * sizeof(JpgDecComponent)));
    if (!copies)
        return false;
    for (int32_t k = 0; k < count; ++k) {
        copies[k] = *dec->scanComponents[k];
        scan->components[k] = &copies[k];
    }
    scan->componentCount = count;
    scan->blocksPerMcu = dec->blocksPerMcu;
    for (int32_t b = 0; b < dec->blocksPerMcu; ++b) {
        const JpgDecComponent *comp = dec->blockComponents[b];
        int32_t k = 0;
        while (dec->scanComponents[k] != comp)
            ++k;
        scan->blockComponents[b] = &copies[k];
        // In an interleaved scan the MCU is the frame's: a block lies at the
        // same place in both.
        scan->frameBlocks[b] = comp->firstBlock + dec->blockOffsets[b][1] / 8 * comp->h +
                               dec->blockOffsets[b][0] / 8;
    }
    return true;
}

bool EveryComponentCoded(const JpgDecoder *dec) {
    for (int32_t c = 0; c < dec->componentCount; ++c) {
        if (dec->scanCoverage[c][0] == 0)
            return false;
    }
    return true;
}

uint32_t AllocRowStore(JpgDecoder *dec) {
    const uint64_t bytes = JpgDecRowStoreBytes(dec);
    if (bytes > 0x7FFFFFFFu)
        return VLTJPG_ERR_MEMORY;
    dec->rowStore = static_cast<int16_t *>(JpgDecAllocZeroed(dec, static_cast<uint32_t>(bytes)));
    return dec->rowStore ? VLTJPG_OK : VLTJPG_ERR_MEMORY;
}

void InstallMultiScanRoutines(JpgDecoder *dec) {
    JpgDecRoutines &r = dec->routines;
    for (int32_t mode = 0; mode < 4; ++mode) {
        r.mcu[mode] = JpgDecPCoefMCU;
        r.runDriver[mode] = JpgDecPDataLayer;
        r.coefOutput[mode] = nullptr;
    }
    r.coefOutput[kJpgDecOutputCoefficients] = JpgDecPOutCoef;
    r.coefOutput[kJpgDecOutputSamples] = JpgDecPOutYCbCr;
}

// The output works on whole frame MCUs: every component interleaved, as a
// scan over all of them would lay them out.
uint32_t LayOutFrameMcu(JpgDecoder *dec) {
    dec->scanComponentCount = dec->componentCount;
    for (int32_t c = 0; c < dec->componentCount; ++c)
        dec->scanComponents[c] = dec->components[c];
    return JpgDecSetScanInfo(dec);
}

} // namespace

uint32_t JpgDecCheckScan(JpgDecoder *dec, const JpgDecScanParams &scan) {
    if (dec->progressiveFrame && !ProgressiveScanWellFormed(scan))
        return VLTJPG_ERR_DATA;
    // A sequential image codes each component in one scan, at full precision.
    if (!ScanFollowsEarlierScans(dec, scan))
        return VLTJPG_ERR_DATA;
    RecordCoverage(dec, scan);
    return VLTJPG_OK;
}

uint32_t JpgDecAddScan(JpgDecoder *dec) {
    auto *scan = static_cast<JpgDecScan *>(JpgDecAllocZeroed(dec, sizeof(JpgDecScan)));
    if (!scan)
        return VLTJPG_ERR_MEMORY;
    AppendToScanList(dec, scan);
    if (!CopyScanComponents(dec, scan))
        return VLTJPG_ERR_MEMORY;
    uint32_t result = CreateScanReader(dec, scan);
    if (result != VLTJPG_OK)
        return result;
    scan->mcusPerRow = dec->mcusPerRow;
    scan->mcuRows = dec->mcuRows;
    scan->blockDecoder = ChooseBlockDecoder(dec, scan->reader);
    scan->acScan = dec->progressiveFrame && scan->reader->ss > 0;
    return VLTJPG_OK;
}

uint32_t JpgDecSetupMultiScan(JpgDecoder *dec, bool truncated) {
    // A cut file decodes what its scans give (missing components come out
    // grey); a complete one must code every component.
    if (!dec->scanList || (!truncated && !EveryComponentCoded(dec)))
        return VLTJPG_ERR_DATA;
    uint32_t result = AllocRowStore(dec);
    if (result != VLTJPG_OK)
        return result;
    InstallMultiScanRoutines(dec);
    result = LayOutFrameMcu(dec);
    dec->currentScan = nullptr;
    // The main reader is done with: a marker left in it must not paint the
    // output grey.
    dec->reader->marker = 0;
    dec->decodeState = kJpgDecMultiScanOutput;
    return result;
}

void JpgDecFreeScans(JpgDecoder *dec) {
    JpgDecScan *scan = dec->scanList;
    while (scan) {
        JpgDecScan *next = scan->next;
        JpgDecFree(dec, scan->components[0]);
        JpgDecFreeReader(dec, scan->reader);
        JpgDecFree(dec, scan);
        scan = next;
    }
    dec->scanList = nullptr;
    dec->currentScan = nullptr;
    JpgDecFree(dec, dec->rowStore);
    dec->rowStore = nullptr;
}
