// Decode drivers of a multi-scan image. The image is produced one frame MCU
// row at a time: every scan the output needs is advanced, in file order,
// through its part of the row, accumulating coefficients in the row store;
// then the row is output. The row store needs no clearing between rows:
// every block a scan writes, it writes anew in every row (a DC first scan
// clears its blocks, a sequential scan each block it codes), and blocks no
// scan writes stay as zero as the store was made.
//
// All scans stay in step on the same row; when they cannot be (a run that
// goes back, or a scale change that needs scans skipped so far) every scan
// starts again from its data start. A run that stops inside a row leaves
// the row in the store with the decoder's MCU column on the first MCU not
// output, for a band that follows to finish.
#include "decoder/jpg_dec_component.h"
#include "decoder/jpg_dec_scan.h"
#include "decoder/jpg_huff_reader.h"

namespace {

int16_t *RowStoreBlock(JpgDecoder *dec, int32_t index) {
    return dec->rowStore + static_cast<intptr_t>(index) * 64;
}

void ClearRowStore(JpgDecoder *dec) {
    // The size was checked to fit when the store was made.
    JpgMemSet(dec->rowStore, 0, static_cast<uint32_t>(JpgDecRowStoreBytes(dec)));
}

// Sample output at 1/8 scale of a progressive image reads only the DC of
// each block: its AC scans are not decoded at all.
bool DcScansSuffice(const JpgDecoder *dec, int32_t outputMode) {
    return dec->progressiveFrame && dec->scaleIndex == 3 && outputMode == kJpgDecOutputSamples;
}

bool ScanNeeded(const JpgDecScan *scan, bool dcScansSuffice) {
    return !(dcScansSuffice && scan->acScan);
}

void MakeCurrent(JpgDecoder *dec, JpgDecScan *scan) {
    dec->currentScan = scan;
    dec->scanComponentCount = scan->componentCount;
    for (int32_t k = 0; k < scan->componentCount; ++k)
        dec->scanComponents[k] = scan->components[k];
}

// Advances one scan through the decoder's MCU row: the row's MCUs of an
// interleaved scan, or the component's block rows inside it (as many as
// its vertical sampling factor, fewer at the bottom of the component).
uint32_t AdvanceScan(JpgDecoder *dec, JpgDecScan *scan) {
    MakeCurrent(dec, scan);
    const int32_t row = scan->rowsDone;
    const int32_t blockRows = scan->componentCount > 1 ? 1 : scan->components[0]->v;
    for (int32_t y = 0; y < blockRows && row * blockRows + y < scan->mcuRows; ++y) {
        for (int32_t x = 0; x < scan->mcusPerRow; ++x)
            RETURN_IF_FAILED(JpgDecPCoefMCU(dec, x, y));
    }
    scan->rowsDone = row + 1;
    return VLTJPG_OK;
}

uint32_t AdvanceRow(JpgDecoder *dec, bool dcScansSuffice) {
    for (JpgDecScan *scan = dec->scanList; scan; scan = scan->next) {
        if (ScanNeeded(scan, dcScansSuffice))
            RETURN_IF_FAILED(AdvanceScan(dec, scan));
    }
    return VLTJPG_OK;
}

uint32_t RewindScans(JpgDecoder *dec) {
    for (JpgDecScan *scan = dec->scanList; scan; scan = scan->next) {
        scan->rowsDone = 0;
        for (int32_t k = 0; k < scan->componentCount; ++k)
            scan->components[k]->dcPredictor = 0;
        RETURN_IF_FAILED(JpgScanHufReset(scan->reader, scan->reader->dataStart));
    }
    ClearRowStore(dec);
    dec->mcuRow = 0;
    return VLTJPG_OK;
}

bool ScansInStep(const JpgDecoder *dec, bool dcScansSuffice) {
    for (const JpgDecScan *scan = dec->scanList; scan; scan = scan->next) {
        if (ScanNeeded(scan, dcScansSuffice) && scan->rowsDone != dec->mcuRow)
            return false;
    }
    return true;
}

// Brings the needed scans to the start of MCU row `target`: rows before it
// are decoded without output.
uint32_t PositionAtRow(JpgDecoder *dec, int32_t target, bool dcScansSuffice) {
    if (dec->mcuRow > target || !ScansInStep(dec, dcScansSuffice))
        RETURN_IF_FAILED(RewindScans(dec));
    while (dec->mcuRow < target) {
        RETURN_IF_FAILED(AdvanceRow(dec, dcScansSuffice));
        dec->mcuRow += 1;
    }
    return VLTJPG_OK;
}

// Outputs the decoder's MCU row from its MCU column on, `count` MCUs, the
// first at position (x, y) of the band or run. The row is done once its
// last MCU is out.
uint32_t OutputMcus(JpgDecoder *dec, int32_t count, int32_t x, int32_t y, int32_t mode) {
    for (int32_t i = 0; i < count; ++i, ++dec->mcuColumn)
        RETURN_IF_FAILED(dec->routines.coefOutput[mode](dec, x + i, y));
    if (dec->mcuColumn == dec->frameMcusPerRow) {
        dec->mcuColumn = 0;
        dec->mcuRow += 1;
    }
    return VLTJPG_OK;
}

// Decodes the decoder's MCU row and outputs `count` of its MCUs from
// column `first` on.
uint32_t OutputRow(JpgDecoder *dec, int32_t first, int32_t count, int32_t x, int32_t y,
                   int32_t mode) {
    RETURN_IF_FAILED(AdvanceRow(dec, DcScansSuffice(dec, mode)));
    dec->mcuColumn = first;
    return OutputMcus(dec, count, x, y, mode);
}

// Zigzag index of the block's last nonzero coefficient up to `kept`, the
// last one the scale's transform can use; it picks the transform's path,
// which at full size is the same for every index from 10 on.
int32_t LastNonzero(const int16_t *coef, int32_t kept) {
    const int32_t bound = JpgDecNonzeroBound(coef);
    if (kept == 63 && bound == 63)
        return kept;
    for (int32_t k = bound < kept ? bound : kept; k > 0; --k) {
        if (coef[jpg_natural_order[k]] != 0)
            return k;
    }
    return 0;
}

} // namespace

JpgHufReader *JpgDecActiveReader(JpgDecoder *dec) {
    bool scanActive = dec->decodeState == kJpgDecMultiScanOutput && dec->currentScan;
    return scanActive ? dec->currentScan->reader : dec->reader;
}

uint32_t JpgDecMultiScanBand(JpgDecoder *dec, int32_t lines) {
    const int32_t mcuLines = 8 * dec->frameMaxV;
    const int32_t rows = (lines + mcuLines - 1) / mcuLines;
    const int32_t perRow = dec->frameMcusPerRow;
    for (int32_t r = 0; r < rows && dec->mcuRow < dec->frameMcuRows; ++r) {
        const int32_t first = dec->mcuColumn;
        if (first > 0) { // the rest of a row a run began, at its own columns
            RETURN_IF_FAILED(OutputMcus(dec, perRow - first, first, r, kJpgDecOutputSamples));
        } else {
            RETURN_IF_FAILED(
                PositionAtRow(dec, dec->mcuRow, DcScansSuffice(dec, kJpgDecOutputSamples)));
            RETURN_IF_FAILED(OutputRow(dec, 0, perRow, 0, r, kJpgDecOutputSamples));
        }
        if (dec->mcuRow < dec->frameMcuRows)
            RETURN_IF_FAILED(JpgDecReportProgress(dec, r + 1, rows));
    }
    return VLTJPG_OK;
}

extern "C" {

uint32_t JpgDecPCoefMCU(JpgDecoder *dec, int32_t x, int32_t y) {
    JpgDecScan *scan = dec->currentScan;
    JpgHufReader *reader = scan->reader;
    RETURN_IF_FAILED(JpgDecCheckRestart(dec, reader));
    const int32_t frameBlocks = dec->frameBlocksPerMcu;
    const bool interleaved = scan->componentCount > 1;
    for (int32_t b = 0; b < scan->blocksPerMcu; ++b) {
        JpgDecComponent *comp = scan->blockComponents[b];
        // A single-component scan counts the component's blocks: block
        // column x lies in frame MCU x / h, block row y of it (no division
        // for the usual h of 1, which 32-bit ARM would make a library call).
        const int32_t h = comp->h;
        const int32_t column = h == 1 ? x : x / h;
        int32_t index = interleaved ? x * frameBlocks + scan->frameBlocks[b]
                                    : column * frameBlocks + comp->firstBlock + y * h +
                                          (x - column * h);
        int16_t *coef = RowStoreBlock(dec, index);
        if (!dec->progressiveFrame)
            JpgMemSet(coef, 0, kJpgDecBlockBytes); // a sequential scan codes the block whole
        RETURN_IF_FAILED(scan->blockDecoder(reader, coef, comp));
    }
    return VLTJPG_OK;
}

uint32_t JpgDecPOutYCbCr(JpgDecoder *dec, int32_t x, int32_t y) {
    const int32_t kept = jpg_scalese_tbl[dec->scaleIndex];
    int16_t *mcu = RowStoreBlock(dec, dec->mcuColumn * dec->frameBlocksPerMcu);
    for (int32_t b = 0; b < dec->frameBlocksPerMcu; ++b) {
        int16_t *coef = mcu + b * 64;
        dec->blockComponents[b]->lastNonzero = LastNonzero(coef, kept);
        JpgDecOutputBlock(dec, b, x, y, coef);
    }
    return VLTJPG_OK;
}

uint32_t JpgDecPOutCoef(JpgDecoder *dec, int32_t x, int32_t y) {
    const JpgDecComponent *first = dec->components[0];
    const int32_t blocks = dec->frameBlocksPerMcu;
    int16_t *dest = reinterpret_cast<int16_t *>(first->plane) +
                    static_cast<intptr_t>(x) * blocks * 64 + static_cast<intptr_t>(first->pitch) * y;
    JpgMemCopy(dest, RowStoreBlock(dec, dec->mcuColumn * blocks),
               static_cast<uint32_t>(blocks) * kJpgDecBlockBytes);
    return VLTJPG_OK;
}

uint32_t JpgDecPDataLayer(JpgDecoder *dec, JpgDecRequest *request) {
    const int32_t mode = request->mode;
    if (mode != kJpgDecOutputCoefficients && mode != kJpgDecOutputSamples)
        return VLTJPG_ERR_UNSUPPORTED;
    if (dec->mcuColumn > 0) { // a row a run left unfinished is left behind
        dec->mcuColumn = 0;
        dec->mcuRow += 1;
    }
    RETURN_IF_FAILED(PositionAtRow(dec, request->startRow, DcScansSuffice(dec, mode)));
    int32_t first = request->startColumn;
    for (int32_t y = 0; request->mcuCount > 0 && dec->mcuRow < dec->frameMcuRows; ++y) {
        int32_t left = dec->frameMcusPerRow - first;
        int32_t count = request->mcuCount < left ? request->mcuCount : left;
        RETURN_IF_FAILED(OutputRow(dec, first, count, 0, y, mode));
        request->mcuCount -= count;
        first = 0;
    }
    return VLTJPG_OK;
}

} // extern "C"
