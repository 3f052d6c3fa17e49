// Logs: messages and dumps filtered by a category mask and written to a file
// through a 16 KiB buffer; the binary debug stream is the same record opened
// on a truncated file. Also the trace, printed to standard output.
//
// A null log handle is the platform context's default log, and only then is
// the context's log mutex held: explicit handles are serialised by their
// owner (the debug stream by the debug mutex).
#include "context_lock.h"
#include "qvbase.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(MLog) == 28 + MLOG_BUFFER_SIZE, "log record is seven words and the buffer");
#endif
static_assert(sizeof(MLogConfig) == 16, "log configuration is four words");
// Below the threshold a full-length message and its NUL always fit.
static_assert(MLOG_BUFFER_SIZE - (MLOG_FLUSH_THRESHOLD - 1) >= MLOG_MESSAGE_MAX + 1, "message room");

namespace {

void openLog(const char *path, uint32_t mode, MLog **log) {
    if (!log)
        return;
    *log = nullptr;
    auto *record = static_cast<MLog *>(std::calloc(1, sizeof(MLog)));
    if (!record)
        return;
    record->stream = MStreamOpenFromFileS(path, mode);
    if (!record->stream) {
        std::free(record);
        return;
    }
    record->buffer = record->area;
    record->enabled = 1;
    record->buffered = 1;
    record->categoryMask = 0xFFFFFFFFu;
    *log = record;
}

// Runs `operation` on the log, or on the default log under the log mutex
// when the handle is null. Nothing happens without a log.
template <typename Operation> void onLog(MLog *log, Operation operation) {
    if (log) {
        operation(log);
        return;
    }
    __tag_context *context = MSTATIC_MGetContext();
    if (!context || !context->log)
        return;
    ContextLock lock(context->logMutex);
    operation(context->log);
}

bool accepts(const MLog *log, uint32_t mask) { return log->enabled && (mask & log->categoryMask); }

// After a failed write nothing more reaches the file: what is buffered is
// dropped at every write-out.
void writeOut(MLog *log) {
    const uint32_t used = static_cast<uint32_t>(log->used);
    log->used = 0;
    if (used == 0 || log->failed)
        return;
    if (MStreamWrite(log->stream, log->buffer, used) != used)
        log->failed = 1;
}

void writeAfterEachIfUnbuffered(MLog *log) {
    if (!log->buffered)
        writeOut(log);
}

void appendMessage(MLog *log, const char *format, va_list arguments) {
    if (static_cast<uint32_t>(log->used) >= MLOG_FLUSH_THRESHOLD)
        writeOut(log);
    // A longer message is cut: the room given is the longest message and its
    // NUL, which the threshold above keeps free.
    int length = std::vsnprintf(log->buffer + log->used, MLOG_MESSAGE_MAX + 1, format, arguments);
    if (length > 0)
        log->used += length < static_cast<int>(MLOG_MESSAGE_MAX) ? length : MLOG_MESSAGE_MAX;
    writeAfterEachIfUnbuffered(log);
}

void appendDump(MLog *log, const void *data, uint32_t n) {
    if (n >= MLOG_BUFFER_SIZE) {
        writeOut(log);
        if (!log->failed && MStreamWrite(log->stream, data, n) != n)
            log->failed = 1;
    } else {
        if (static_cast<uint32_t>(log->used) + n > MLOG_BUFFER_SIZE)
            writeOut(log);
        std::memcpy(log->buffer + log->used, data, n);
        log->used += static_cast<int32_t>(n);
    }
    writeAfterEachIfUnbuffered(log);
}

void closeLog(MLog *log) {
    writeOut(log);
    MStreamClose(log->stream);
    std::free(log);
}

} // namespace

extern "C" {

void MLogOpenS(const char *path, MLog **log) { openLog(path, MSTREAM_MODE_APPEND, log); }

void MSTATIC_MDebugStreamOpenS(const char *path, MLog **log) { openLog(path, MSTREAM_MODE_WRITE, log); }

void MLogS(MLog *log, uint32_t mask, const char *format, ...) {
    if (!format)
        return;
    va_list arguments;
    va_start(arguments, format);
    onLog(log, [&](MLog *target) {
        if (accepts(target, mask))
            appendMessage(target, format, arguments);
    });
    va_end(arguments);
}

void MLogDump(MLog *log, uint32_t mask, const void *data, uint32_t n) {
    if (!data && n)
        return;
    onLog(log, [&](MLog *target) {
        if (accepts(target, mask))
            appendDump(target, data, n);
    });
}

uint32_t MLogFlush(MLog *log) {
    onLog(log, writeOut);
    return 0;
}

void MLogGetConfig(MLog *log, MLogConfig *config) {
    if (!config)
        return;
    onLog(log, [&](MLog *target) {
        config->recordSize = sizeof(MLogConfig);
        config->enabled = target->enabled;
        config->buffered = target->buffered;
        config->categoryMask = target->categoryMask;
    });
}

void MLogSetConfig(MLog *log, const MLogConfig *config) {
    if (!config)
        return;
    onLog(log, [&](MLog *target) {
        writeOut(target);
        target->buffered = config->buffered;
        target->enabled = config->enabled;
        target->categoryMask = config->categoryMask;
    });
}

// Closing the default log also clears the context's hold on it.
void MLogClose(MLog *log) {
    onLog(log, [log](MLog *target) {
        closeLog(target);
        if (!log)
            MSTATIC_MGetContext()->log = nullptr;
    });
}

void MTraceS(uint32_t mask, const char *format, ...) {
    __tag_context *context = MSTATIC_MGetContext();
    if (!format || !context || !(mask & context->traceMask))
        return;
    char text[MTRACE_MESSAGE_MAX + 1];
    text[0] = '\0';
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    std::fputs(text, stdout);
}

} // extern "C"
