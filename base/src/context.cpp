// The process-wide platform context: the default log, the debug stream with
// its three ID tables, the trace mask and the two mutexes that guard them.
#include "qvbase.h"

#include <cstdlib>
#include <cstring>

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(__tag_context) == 32, "platform context is eight words");
static_assert(sizeof(MPlatInitParams) == 28, "init parameters are seven words");
#endif

namespace {

// Read without locking: initialization and teardown must not overlap any
// other use of the diagnostics.
__tag_context *g_context = nullptr;

constexpr uint32_t kAppMemInfo = 3;

// The magic goes into the buffer, not the file, so that it reaches the file
// with the first write-out, ahead of every record.
void putMagic(MLog *debugStream) {
    std::memcpy(debugStream->buffer, MDEBUG_MAGIC, 4);
    debugStream->used = 4;
}

bool openDebugStream(__tag_context *context, const MPlatInitParams *params) {
    MSTATIC_MDebugStreamOpenS(params->debugPath, &context->debugStream);
    if (!context->debugStream)
        return false;
    context->debugStream->categoryMask = params->debugMask;
    putMagic(context->debugStream);
    MIdNode **tables[] = {&context->idTable1, &context->idTable2, &context->idTable3};
    const uint32_t storage[] = {0, 0, MDEBUG_NODE_STORAGE};
    for (int i = 0; i < 3; ++i) {
        *tables[i] = static_cast<MIdNode *>(MSTATIC_MTableNewOneNode(MDEBUG_FORM_ID_NODE, storage[i]));
        if (!*tables[i])
            return false;
    }
    return true;
}

bool openLog(__tag_context *context, const MPlatInitParams *params) {
    MLogOpenS(params->logPath, &context->log);
    if (!context->log)
        return false;
    context->log->categoryMask = params->logMask;
    return true;
}

void freeTable(MIdNode **table) {
    if (*table)
        MSTATIC_MTableReMoveAll(MDEBUG_FORM_ID_NODE, *table);
    *table = nullptr;
}

void destroyMutex(MMutex *mutex) {
    if (*mutex)
        MMutexDestroy(*mutex);
    *mutex = nullptr;
}

} // namespace

extern "C" {

__tag_context *MSTATIC_MGetContext(void) { return g_context; }

uint32_t MSTATIC_MSetContext(__tag_context *context) {
    g_context = context;
    return 0;
}

uint32_t MSTATIC_MContextDestroy(void) { return 0; }

uint32_t MGetAppMemInfo(void) { return kAppMemInfo; }

// A second initialization is refused: replacing the context would leave the
// first one's files open and its memory lost.
uint32_t MPlatInitialize(const MPlatInitParams *params) {
    if (!params || g_context)
        return MPLAT_FAILED;
    auto *context = static_cast<__tag_context *>(std::calloc(1, sizeof(__tag_context)));
    if (!context) {
        MPlatUninitialize();
        return MPLAT_NO_MEMORY;
    }
    // Published at once, so that the teardown of a failure below finds
    // whatever has been built.
    MSTATIC_MSetContext(context);
    context->traceMask = params->traceMask;
    context->logMutex = MMutexCreate();
    context->debugMutex = MMutexCreate();
    if ((params->debugPath && !openDebugStream(context, params)) ||
        (params->logPath && !openLog(context, params))) {
        MPlatUninitialize();
        return MPLAT_FAILED;
    }
    return MPLAT_OK;
}

uint32_t MPlatUninitialize(void) {
    __tag_context *context = g_context;
    if (!context)
        return MPLAT_FAILED;
    if (context->log) {
        MLogClose(context->log);
        context->log = nullptr;
    }
    if (context->debugStream)
        MSTATIC_MDebugStreamClose();
    freeTable(&context->idTable1);
    freeTable(&context->idTable2);
    freeTable(&context->idTable3);
    destroyMutex(&context->logMutex);
    destroyMutex(&context->debugMutex);
    std::free(context);
    MSTATIC_MSetContext(nullptr);
    return MSTATIC_MContextDestroy();
}

} // extern "C"
