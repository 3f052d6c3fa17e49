// Public encoder entry points: creation, destruction and properties.
#include "encoder/jpg_enc_index.h"
#include "encoder/jpg_enc_tables.h"
#include "encoder/jpg_encoder.h"

namespace {

struct SizeValue {
    uint32_t width;
    uint32_t height;
};

template <typename T> T ReadValue(const void *value) {
    T result;
    JpgMemCopy(&result, value, sizeof(T));
    return result;
}

template <typename T> void WriteValue(void *value, const T &from) {
    JpgMemCopy(value, &from, sizeof(T));
}

// Rewrites the header at the start of the creation stream with the tables
// of the new quality; the header written at creation has the same layout.
vltJpgResult RewriteHeader(JpgEncState *state) {
    JpgEncMarkTablesForHeader(state);
    state->headerWritten = 0;
    JpgBitWriter *writer = state->bitWriter;
    JpgEncHufInit(writer, state->headerStream);
    if (JpgStreamSeek(writer->stream, VLTJPG_SEEK_SET, 0, writer->streamCallback) != 0)
        return VLTJPG_ERR_DATA;
    vltJpgResult result = state->writeHeader(state);
    return result != 0 ? result : JpgHufFlush(writer);
}

vltJpgResult GetWord(void *value, uint32_t size, uint32_t word) {
    if (size != sizeof(uint32_t))
        return VLTJPG_ERR_ARGUMENT;
    WriteValue(value, word);
    return 0;
}

vltJpgResult SetQuality(JpgEncState *state, uint32_t quality) {
    if (quality == state->quality)
        return 0;
    vltJpgResult result = JpgSetQuality(state, static_cast<int32_t>(quality));
    if (result == 0 && state->headerOnCreate && state->headerWritten)
        result = RewriteHeader(state);
    return result != 0 ? result : JpgEncCreateDeQuantScale(state);
}

vltJpgResult SetRestartInterval(JpgEncState *state, uint32_t interval) {
    state->bitWriter->restartInterval = interval;
    state->bitWriter->restartCountdown = interval;
    return 0;
}

vltJpgResult SetSamplingMode(JpgEncState *state, uint32_t mode) {
    uint32_t previous = state->samplingMode;
    state->samplingMode = mode;
    vltJpgResult result = JpgEncSetCompInfoWithoutQH(state, state->width, state->height);
    if (result != 0)
        state->samplingMode = previous; // a refused layout leaves the old one
    return result;
}

vltJpgResult SetQualityStamp(JpgEncState *state, uint32_t on) {
    if (on > 1)
        return VLTJPG_ERR_ARGUMENT;
    state->qualityStamp = on;
    return 0;
}

vltJpgResult SetWordProperty(JpgEncState *state, uint32_t id, uint32_t word) {
    switch (id) {
    case VLTJPG_ENCPROP_QUALITY_STAMP:
        return SetQualityStamp(state, word);
    case VLTJPG_ENCPROP_RESTART:
        return SetRestartInterval(state, word);
    case VLTJPG_ENCPROP_SAMPLING:
        return SetSamplingMode(state, word);
    case VLTJPG_ENCPROP_BUFFER_SIZE:
        return JpgEncResizeHuffBuffer(state, static_cast<int32_t>(word));
    case VLTJPG_ENCPROP_ROTATION:
        return JpgEncRotateDQT(state, word);
    case VLTJPG_ENCPROP_QUALITY_MODE:
        return JpgEncSetQualityMode(state, word);
    default: // VLTJPG_ENCPROP_INDEX_INTERVAL
        return JpgEncSetIndexInterval(state, word);
    }
}

bool IsWordProperty(uint32_t id) {
    switch (id) {
    case VLTJPG_ENCPROP_RESTART:
    case VLTJPG_ENCPROP_SAMPLING:
    case VLTJPG_ENCPROP_BUFFER_SIZE:
    case VLTJPG_ENCPROP_ROTATION:
    case VLTJPG_ENCPROP_QUALITY_MODE:
    case VLTJPG_ENCPROP_INDEX_INTERVAL:
    case VLTJPG_ENCPROP_QUALITY_STAMP:
        return true;
    default:
        return false;
    }
}

} // namespace

extern "C" {

vltJpgResult vltJpgEncoderCreate(vltJpgEncoder *encoder, const vltJpgEncCreateInfo *info) {
    if (!encoder)
        return VLTJPG_ERR_ARGUMENT;
    *encoder = nullptr;
    JpgEncState *state = nullptr;
    vltJpgResult result = JpgEncInit(&state, info, nullptr, 0);
    if (result == 0)
        *encoder = state;
    return result;
}

vltJpgResult vltJpgEncoderDestroy(vltJpgEncoder encoder) {
    return JpgEncUninit(static_cast<JpgEncState *>(encoder));
}

vltJpgResult vltJpgEncoderSetProp(vltJpgEncoder encoder, uint32_t id, void *value, uint32_t size) {
    auto *state = static_cast<JpgEncState *>(encoder);
    if (!state || !value)
        return VLTJPG_ERR_ARGUMENT;
    switch (id) {
    case VLTJPG_ENCPROP_QUALITY: {
        vltJpgResult result = SetQuality(state, ReadValue<uint32_t>(value));
        JpgEncKeepStreamFailure(state, result); // a damaged header is reported again later
        return result;
    }
    case VLTJPG_ENCPROP_APP_DATA:
        state->appData = static_cast<const uint8_t *>(value);
        state->appDataLength = size;
        return 0;
    case VLTJPG_ENCPROP_PROGRESS: {
        if (size != sizeof(vltJpgEncProgress))
            return VLTJPG_ERR_ARGUMENT;
        auto progress = ReadValue<vltJpgEncProgress>(value);
        state->progress = progress.callback;
        state->progressData = progress.data;
        return 0;
    }
    case VLTJPG_ENCPROP_THUMB_SCALE:
        return JpgEncSetThumbnailScale(state, ReadValue<uint32_t>(value));
    case VLTJPG_ENCPROP_THUMB_BUFFER: {
        if (size != sizeof(vltJpgPlaneSet))
            return VLTJPG_ERR_ARGUMENT;
        auto planeSet = ReadValue<vltJpgPlaneSet>(value);
        return JpgSetThumbnailBuffer(state, &planeSet);
    }
    case VLTJPG_ENCPROP_IMAGE_SIZE: {
        if (size != sizeof(SizeValue))
            return VLTJPG_ERR_ARGUMENT;
        auto imageSize = ReadValue<SizeValue>(value);
        if (!JpgEncFrameSizeFits(imageSize.width, imageSize.height))
            return VLTJPG_ERR_ARGUMENT;
        JpgEncSetImageProp(state, imageSize.width, imageSize.height);
        return 0;
    }
    default:
        if (!IsWordProperty(id))
            return 0;
        if (size != sizeof(uint32_t))
            return VLTJPG_ERR_ARGUMENT;
        return SetWordProperty(state, id, ReadValue<uint32_t>(value));
    }
}

vltJpgResult vltJpgEncoderGetProp(vltJpgEncoder encoder, uint32_t id, void *value, uint32_t size) {
    auto *state = static_cast<JpgEncState *>(encoder);
    if (!state || !value)
        return VLTJPG_ERR_ARGUMENT;
    switch (id) {
    case VLTJPG_ENCPROP_QUALITY:
        return GetWord(value, size, state->quality);
    case VLTJPG_ENCPROP_QUALITY_MODE:
        return GetWord(value, size, state->qualityMode);
    case VLTJPG_ENCPROP_QUALITY_STAMP:
        return GetWord(value, size, state->qualityStamp);
    case VLTJPG_ENCPROP_THUMB_SIZE: {
        if (size != sizeof(SizeValue))
            return VLTJPG_ERR_ARGUMENT;
        if (state->thumbScale < 0)
            return 0; // no thumbnail: nothing written
        SizeValue thumbnail;
        JpgEncGetThumbnailSize(state, &thumbnail.width, &thumbnail.height);
        WriteValue(value, thumbnail);
        return 0;
    }
    case VLTJPG_ENCPROP_INDEX:
        if (size != sizeof(vltJpgEncIndexBlock))
            return VLTJPG_ERR_ARGUMENT;
        return JpgEncIdxExport(state, static_cast<vltJpgEncIndexBlock *>(value));
    default:
        return 0;
    }
}

} // extern "C"
