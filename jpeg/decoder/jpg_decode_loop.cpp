// Decode drivers: the band driver behind the scanline calls, the run
// drivers behind the MCU-run call, and the restart handler that keeps the
// entropy decoder in step with the RSTn markers and resynchronises after
// damaged data.
#include "common/jpg_markers.h"
#include "decoder/jpg_dec_component.h"
#include "decoder/jpg_dec_scan.h"
#include "decoder/jpg_decoder.h"
#include "decoder/jpg_huff_reader.h"

namespace {

uint32_t DecodeMcu(JpgDecoder *dec, int32_t routine, int32_t x, int32_t y) {
    if (dec->routines.indexUpdate)
        dec->routines.indexUpdate(dec);
    return dec->routines.mcu[routine](dec, x, y);
}

// Decodes the MCU rows a band of `lines` image lines needs, starting at the
// decoder's MCU position (which a run may have left inside a row: the rest
// of that row is written at its own columns). Sets *scanDone when the
// scan's last MCU row is complete.
uint32_t DecodeBand(JpgDecoder *dec, int32_t lines, bool *scanDone) {
    int32_t scanLines = dec->scanMaxV * lines / dec->frameMaxV;
    int32_t rows = (scanLines + dec->mcuHeight - 1) / dec->mcuHeight;
    if (dec->mcuRow >= dec->mcuRows) { // a run has read the scan to its end
        *scanDone = true;
        return VLTJPG_OK;
    }
    for (int32_t bandRow = 0; bandRow < rows;) {
        for (int32_t x = dec->mcuColumn; dec->mcuColumn < dec->mcusPerRow; ++x) {
            uint32_t result = DecodeMcu(dec, dec->outputMode, x, bandRow);
            if (result != VLTJPG_OK)
                return result;
            dec->mcuColumn += 1;
        }
        dec->mcuRow += 1;
        if (dec->mcuRow >= dec->mcuRows) {
            *scanDone = true;
            return VLTJPG_OK;
        }
        dec->mcuColumn = 0;
        bandRow += 1;
        uint32_t result = JpgDecReportProgress(dec, bandRow, rows);
        if (result != VLTJPG_OK)
            return result;
    }
    return VLTJPG_OK;
}

// Chooses what to do with the pending marker at the end of an interval: the
// expected RSTn (or one too far off to tell) is taken, an old one is passed
// over, a later one or any other marker stays pending so that the coming
// interval comes out grey. Returns true once the marker is settled, false
// when the data ended while looking further.
bool Resynchronise(JpgHufReader *reader) {
    uint32_t next = reader->nextRestart;
    for (;;) {
        while (reader->marker < 0xC0) {
            if (JpgDecFindMarker(reader) != VLTJPG_OK)
                return false;
        }
        if (!JpgIsRestartMarker(reader->marker))
            return true; // a real marker: stays pending
        uint32_t number = reader->marker - kJpgMarkerRst0;
        uint32_t ahead = (number - next) & 7;
        if (ahead == 1 || ahead == 2)
            return true; // an interval was lost: wait for this marker
        if (ahead == 7 || ahead == 6) {
            if (JpgDecFindMarker(reader) != VLTJPG_OK) // an old marker: look further
                return false;
            continue;
        }
        reader->marker = 0; // taken as the expected one
        return true;
    }
}

} // namespace

uint32_t JpgDecReportProgress(JpgDecoder *dec, int32_t bandRow, int32_t rows) {
    if (!dec->progress)
        return VLTJPG_OK;
    uint32_t percent = static_cast<uint32_t>(bandRow * 100 / rows);
    return dec->progress(percent, dec->progressContext) ? VLTJPG_ERR_CANCELLED : VLTJPG_OK;
}

void JpgDecClearPredictors(JpgDecoder *dec) {
    for (int32_t k = 0; k < dec->scanComponentCount; ++k)
        dec->scanComponents[k]->dcPredictor = 0;
}

extern "C" {

uint32_t JpgDecImage(JpgDecoder *dec, int32_t width, int32_t lines) {
    (void)width;
    for (;;) {
        switch (dec->decodeState) {
        case kJpgDecReadMarkers: {
            uint32_t result = dec->routines.readHeader(dec);
            if (result != VLTJPG_OK)
                return result;
            if (dec->decodeState == kJpgDecReadMarkers)
                return VLTJPG_ERR_DATA;
            break;
        }
        case kJpgDecScanHeaderRead:
            dec->decodeState = kJpgDecDecodingMcus;
            break;
        case kJpgDecEndOfImage:
            return VLTJPG_OK;
        case kJpgDecMultiScanOutput:
            return JpgDecMultiScanBand(dec, lines);
        case kJpgDecDecodingMcus: {
            bool scanDone = false;
            uint32_t result = DecodeBand(dec, lines, &scanDone);
            if (result != VLTJPG_OK || !scanDone)
                return result;
            // The band ends with the scan: read the markers that follow it
            // (normally the EOI); a further scan waits for the next call.
            dec->decodeState = kJpgDecReadMarkers;
            return dec->routines.readHeader(dec);
        }
        default:
            return VLTJPG_ERR_DATA;
        }
    }
}

uint32_t JpgDecDataLayer(JpgDecoder *dec, JpgDecRequest *request) {
    int32_t x = 0;
    int32_t y = 0;
    while (request->mcuCount > 0 && dec->mcuRow < dec->mcuRows) {
        request->mcuCount -= 1;
        uint32_t result = DecodeMcu(dec, request->mode, x, y);
        if (result != VLTJPG_OK)
            return result;
        dec->mcuColumn += 1;
        x += 1;
        if (dec->mcuColumn == dec->mcusPerRow) {
            dec->mcuColumn = 0;
            dec->mcuRow += 1;
            x = 0;
            y += 1;
        }
    }
    return VLTJPG_OK;
}

uint32_t JpgDecStreamLayer(JpgDecoder *dec, JpgDecRequest *request) {
    request->mcuCount = 0;
    request->planeSet = reinterpret_cast<vltJpgPlaneSet *>(dec);
    return VLTJPG_OK;
}

uint32_t JpgDecRestart(JpgDecoder *dec) {
    JpgHufReader *reader = JpgDecActiveReader(dec);
    JpgDecAlignToByte(reader);
    bool found = reader->marker != 0 || JpgDecFindMarker(reader) == VLTJPG_OK;
    if (found && Resynchronise(reader))
        reader->nextRestart = (reader->nextRestart + 1) & 7;
    JpgDecClearPredictors(dec);
    reader->eobRun = 0;
    reader->restartsToGo = reader->restartInterval;
    return VLTJPG_OK;
}

} // extern "C"
