// Random-access index of the encoder, in the block form a decoder of the
// output imports (entry 0 is the scan's first bit).
#include "common/jpg_index.h"
#include "encoder/jpg_enc_index.h"

struct JpgEncIndexControl : JpgIndexControl {};

void JpgEncIdxRelease(JpgEncState *state) {
    if (!state->index)
        return;
    JpgEncFree(state, state->index->block);
    JpgEncFree(state, state->index);
    state->index = nullptr;
    state->updateIndex = nullptr;
}

vltJpgResult JpgEncIdxExport(const JpgEncState *state, vltJpgEncIndexBlock *value) {
    if (!state->index)
        return VLTJPG_ERR_NO_INDEX;
    value->size = state->index->blockSize;
    value->address = state->index->block;
    return 0;
}

extern "C" {

vltJpgResult JpgEncSetIndexInterval(JpgEncState *state, uint32_t interval) {
    if (!state)
        return VLTJPG_ERR_ARGUMENT;
    JpgEncIdxRelease(state);
    if (interval == 0)
        return 0;
    JpgIndexLayout layout = JpgIndexLayoutFor(interval, state->mcuColumns, state->mcuRows,
                                              static_cast<uint32_t>(state->componentCount));
    if (layout.bytes > UINT32_MAX / 2)
        return VLTJPG_ERR_MEMORY;
    uint32_t bytes = static_cast<uint32_t>(layout.bytes);
    auto *control = static_cast<JpgEncIndexControl *>(JpgMemAllocZeroed(
        sizeof(JpgEncIndexControl), state->alloc, state->allocSlots, state->memContext));
    auto *block = static_cast<uint8_t *>(
        JpgMemAllocZeroed(bytes, state->alloc, state->allocSlots, state->memContext));
    if (!control || !block) {
        JpgEncFree(state, control);
        JpgEncFree(state, block);
        return VLTJPG_ERR_MEMORY;
    }
    JpgIndexWriteHeader(block, layout);
    JpgIndexStart(control, block, layout);
    control->block = block;
    control->blockSize = bytes;
    state->index = control;
    state->updateIndex = JpgEncIdxUpdate;
    return 0;
}

vltJpgResult JpgEncIdxUpdate(JpgEncState *state) {
    JpgEncIndexControl *index = state->index;
    if (!index || !JpgIndexWants(index, state->mcuColumn, state->mcuRow))
        return 0;
    const JpgBitWriter *writer = state->bitWriter;
    int32_t predictors[kJpgIndexMaxComponents] = {0, 0, 0, 0};
    for (int32_t i = 0; i < state->componentCount; ++i)
        predictors[i] = state->components[i]->dcPredictor;
    JpgIndexRecord(index, JpgHufBytesWritten(writer) * 8 + writer->bitsUsed, predictors);
    return 0;
}

} // extern "C"
