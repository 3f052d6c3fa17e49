#include "common/jpg_glue.h"

#include "qvbase.h"

namespace {

constexpr uintptr_t kAlignment = 16;

void *AlignAndRecordDistance(void *raw) {
    uintptr_t rawAddress = reinterpret_cast<uintptr_t>(raw);
    uintptr_t aligned = (rawAddress + kAlignment) & ~(kAlignment - 1);
    reinterpret_cast<uint32_t *>(aligned)[-1] = static_cast<uint32_t>(aligned - rawAddress);
    return reinterpret_cast<void *>(aligned);
}

void *AllocFromHost(uint32_t rawSize, vltJpgAllocCallback alloc, void **slots, void *context) {
    for (int i = 0; i < kJpgAllocSlotCount; ++i) {
        if (slots[i] == nullptr) {
            slots[i] = alloc(rawSize, context);
            return slots[i];
        }
    }
    return nullptr;
}

bool ReturnToHost(void *raw, vltJpgFreeCallback release, void **slots, void *context) {
    if (!slots)
        return false;
    for (int i = 0; i < kJpgAllocSlotCount; ++i) {
        if (slots[i] == raw) {
            release(raw, context);
            slots[i] = nullptr;
            return true;
        }
    }
    return false;
}

} // namespace

extern "C" {

void *JpgMemAlloc(uint32_t size, vltJpgAllocCallback alloc, void **slots, void *context) {
    if (size > UINT32_MAX - kAlignment)
        return nullptr;
    uint32_t rawSize = size + kAlignment;
    void *raw = (alloc && slots) ? AllocFromHost(rawSize, alloc, slots, context) : nullptr;
    if (!raw)
        raw = MMemAlloc(nullptr, rawSize);
    return raw ? AlignAndRecordDistance(raw) : nullptr;
}

void JpgMemFree(void *block, vltJpgFreeCallback release, void **slots, void *context) {
    if (!block)
        return;
    uint32_t distance = static_cast<uint32_t *>(block)[-1];
    void *raw = static_cast<uint8_t *>(block) - distance;
    if (release && ReturnToHost(raw, release, slots, context))
        return;
    MMemFree(nullptr, raw);
}

void *JpgMemCopy(void *dst, const void *src, uint32_t count) { return MMemCpy(dst, src, count); }

void *JpgMemSet(void *dst, int32_t value, uint32_t count) { return MMemSet(dst, value, count); }

uint32_t JpgStreamRead(void *stream, void *buffer, uint32_t count, vltJpgStreamCallback callback) {
    if (!stream)
        return 0;
    if (!callback)
        return MStreamRead(static_cast<MStream *>(stream), buffer, count);
    vltJpgStreamBuffer argument{buffer, count};
    return callback(VLTJPG_STREAM_READ, stream, &argument);
}

uint32_t JpgStreamWrite(void *stream, const void *buffer, uint32_t count,
                        vltJpgStreamCallback callback) {
    if (!stream)
        return 0;
    if (!callback)
        return MStreamWrite(static_cast<MStream *>(stream), buffer, count);
    vltJpgStreamBuffer argument{const_cast<void *>(buffer), count};
    return callback(VLTJPG_STREAM_WRITE, stream, &argument);
}

uint32_t JpgStreamFlush(void *stream, vltJpgStreamCallback callback) {
    if (!stream)
        return 0;
    if (!callback)
        return MStreamFlush(static_cast<MStream *>(stream));
    return callback(VLTJPG_STREAM_FLUSH, stream, nullptr);
}

uint32_t JpgStreamSeek(void *stream, int32_t origin, int32_t offset, vltJpgStreamCallback callback) {
    if (!stream)
        return 0;
    if (!callback)
        return static_cast<uint32_t>(MStreamSeek(static_cast<MStream *>(stream), origin, offset));
    vltJpgStreamSeekArgs argument{origin, offset};
    return callback(VLTJPG_STREAM_SEEK, stream, &argument);
}

uint32_t JpgStreamTell(void *stream, vltJpgStreamCallback callback) {
    if (!stream)
        return 0;
    if (!callback)
        return static_cast<uint32_t>(MStreamTell(static_cast<MStream *>(stream)));
    return callback(VLTJPG_STREAM_TELL, stream, nullptr);
}

} // extern "C"
