// Memory and stream glue: the only way codec code reaches memory and
// streams. Each call goes to the host's callback when one was given at
// creation, otherwise to libqvbase (heap memory with a null manager handle,
// platform stream functions).
#ifndef QVJPEG_COMMON_JPG_GLUE_H
#define QVJPEG_COMMON_JPG_GLUE_H

#include "qvjpeg.h"

#include <cstdint>

extern "C" {

// Live blocks from the host allocator are remembered here, so each block
// returns to the allocator it came from.
constexpr int kJpgAllocSlotCount = 18;

// Returns a 16-byte aligned block of `size` bytes, or null when even the
// platform heap is exhausted. `slots` (kJpgAllocSlotCount entries) may be
// null only when `alloc` is null.
void *JpgMemAlloc(uint32_t size, vltJpgAllocCallback alloc, void **slots, void *context);
void JpgMemFree(void *block, vltJpgFreeCallback release, void **slots, void *context);
void *JpgMemCopy(void *dst, const void *src, uint32_t count);
void *JpgMemSet(void *dst, int32_t value, uint32_t count);

// Each returns 0 without calling anything when `stream` is null.
uint32_t JpgStreamRead(void *stream, void *buffer, uint32_t count, vltJpgStreamCallback callback);
uint32_t JpgStreamWrite(void *stream, const void *buffer, uint32_t count,
                        vltJpgStreamCallback callback);
uint32_t JpgStreamFlush(void *stream, vltJpgStreamCallback callback);
uint32_t JpgStreamSeek(void *stream, int32_t origin, int32_t offset, vltJpgStreamCallback callback);
uint32_t JpgStreamTell(void *stream, vltJpgStreamCallback callback);

} // extern "C"

// A zero-filled block from JpgMemAlloc, or null.
inline void *JpgMemAllocZeroed(uint32_t size, vltJpgAllocCallback alloc, void **slots,
                               void *context) {
    void *block = JpgMemAlloc(size, alloc, slots, context);
    return block ? JpgMemSet(block, 0, size) : nullptr;
}

// The allocation slots of a new instance, from the platform heap. They exist
// only when the host gives an allocation callback: *slots stays null
// without one. False when the heap is exhausted.
inline bool JpgMemCreateSlots(vltJpgAllocCallback alloc, void ***slots) {
    *slots = nullptr;
    if (!alloc)
        return true;
    *slots = static_cast<void **>(
        JpgMemAllocZeroed(kJpgAllocSlotCount * sizeof(void *), nullptr, nullptr, nullptr));
    return *slots != nullptr;
}

// Releases what JpgMemCreateSlots made; the instance's own blocks go first.
inline void JpgMemReleaseSlots(void **slots) { JpgMemFree(slots, nullptr, nullptr, nullptr); }

#endif
