// Memory services: the process heap or a static pool behind one interface,
// huge blocks (always the heap) and executable code buffers.
#include "qvbase.h"

#include <cstdlib>
#include <cstring>
#include <sys/mman.h>

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(MCodeBlock) == 8, "code block record is two words");
#endif

extern "C" {

void *MMemAlloc(MMemMgr mgr, uint32_t size) {
    return mgr ? MMemAllocStatic(mgr, size) : std::malloc(size);
}

void MMemFree(MMemMgr mgr, void *block) {
    if (mgr)
        MMemFreeStatic(mgr, block);
    else
        std::free(block);
}

void *MMemRealloc(MMemMgr mgr, void *block, uint32_t size) {
    return mgr ? MMemReallocStatic(mgr, block, size) : std::realloc(block, size);
}

void *MMemCpy(void *dst, const void *src, uint32_t n) { return std::memcpy(dst, src, n); }
void *MMemMove(void *dst, const void *src, uint32_t n) { return std::memmove(dst, src, n); }
void *MMemSet(void *dst, int32_t value, uint32_t n) { return std::memset(dst, value, n); }
int32_t MMemCmp(const void *a, const void *b, uint32_t n) { return std::memcmp(a, b, n); }

void *MHugeMemAlloc(MMemMgr, uint32_t size) { return std::malloc(size); }
void *MHugeMemReAlloc(MMemMgr, void *block, uint32_t size) { return std::realloc(block, size); }
void MHugeMemFree(MMemMgr, void *block) { std::free(block); }
void *MHugeMemLock(MMemMgr, void *block) { return block; }
void MHugeMemUnlock(MMemMgr, void *) {}

MCodeBlock *MCodeAlloc(uint32_t size) {
    if (size == 0)
        return nullptr;
    auto *code = static_cast<MCodeBlock *>(std::malloc(sizeof(MCodeBlock)));
    if (!code)
        return nullptr;
    void *address = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (address == MAP_FAILED) {
        std::free(code);
        return nullptr;
    }
    code->address = address;
    code->size = size;
    return code;
}

void *MCodeLock(MCodeBlock *code, uint32_t length) {
    if (!code)
        return nullptr;
    return mlock(code->address, length) == 0 ? code->address : nullptr;
}

int32_t MCodeUnlock(MCodeBlock *code) {
    if (!code)
        return -1;
    char *start = static_cast<char *>(code->address);
    munlock(start, code->size);
    // Make freshly written instructions visible to the instruction fetch
    // (the ARM cache-flush call on ARM, the right sequence elsewhere).
    __builtin___clear_cache(start, start + code->size);
    // Code that cannot be made executable must not be reported as ready.
    if (mprotect(start, code->size, PROT_READ | PROT_EXEC) != 0)
        return -1;
    return msync(start, code->size, MS_SYNC | MS_INVALIDATE);
}

void MCodeFree(MCodeBlock *code) {
    if (!code)
        return;
    if (code->address)
        munmap(code->address, code->size);
    std::free(code);
}

} // extern "C"
