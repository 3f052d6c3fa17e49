// Interposes the platform heap and stream functions the codec calls, so
// that the fault plan reaches them: each forwards to libqvbase unless it
// is the operation to fail. Linked only into the fault-injection tests.
#include "fault_injection.h"

#include "qvbase.h"
#include "qvjpeg.h"

#include <dlfcn.h>

namespace {

template <typename Function> Function Next(const char *name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" {

void *MMemAlloc(MMemMgr mgr, uint32_t size) {
    static auto next = Next<void *(*)(MMemMgr, uint32_t)>("MMemAlloc");
    if (mgr || !fault::FailsAllocation()) {
        void *block = next(mgr, size);
        if (block && !mgr)
            fault::NoteBlock(1, block);
        return block;
    }
    return nullptr;
}

void MMemFree(MMemMgr mgr, void *block) {
    static auto next = Next<void (*)(MMemMgr, void *)>("MMemFree");
    if (block && !mgr)
        fault::NoteBlock(-1, block);
    next(mgr, block);
}

uint32_t MStreamRead(MStream *stream, void *buffer, uint32_t n) {
    static auto next = Next<uint32_t (*)(MStream *, void *, uint32_t)>("MStreamRead");
    if (fault::FailsStream(VLTJPG_STREAM_READ))
        return fault::FailedStreamResult(VLTJPG_STREAM_READ, n);
    return next(stream, buffer, n);
}

uint32_t MStreamWrite(MStream *stream, const void *buffer, uint32_t n) {
    static auto next = Next<uint32_t (*)(MStream *, const void *, uint32_t)>("MStreamWrite");
    uint32_t count = n;
    if (fault::FailsStream(VLTJPG_STREAM_WRITE))
        count = fault::FailedStreamResult(VLTJPG_STREAM_WRITE, n);
    return next(stream, buffer, count);
}

int32_t MStreamSeek(MStream *stream, int32_t origin, int32_t offset) {
    static auto next = Next<int32_t (*)(MStream *, int32_t, int32_t)>("MStreamSeek");
    if (fault::FailsStream(VLTJPG_STREAM_SEEK))
        return static_cast<int32_t>(fault::FailedStreamResult(VLTJPG_STREAM_SEEK, 0));
    return next(stream, origin, offset);
}

uint32_t MStreamFlush(MStream *stream) {
    static auto next = Next<uint32_t (*)(MStream *)>("MStreamFlush");
    if (fault::FailsStream(VLTJPG_STREAM_FLUSH))
        return fault::FailedStreamResult(VLTJPG_STREAM_FLUSH, 0);
    return next(stream);
}

} // extern "C"
