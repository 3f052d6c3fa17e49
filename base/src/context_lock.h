// Holds one of the platform context's mutexes for a scope. A null mutex
// (the context could not create it) is simply not taken.
#ifndef QVBASE_CONTEXT_LOCK_H
#define QVBASE_CONTEXT_LOCK_H

#include "qvbase.h"

class ContextLock {
public:
    explicit ContextLock(MMutex mutex) : mutex_(mutex) { MMutexLock(mutex_); }
    ~ContextLock() { MMutexUnlock(mutex_); }
    ContextLock(const ContextLock &) = delete;
    ContextLock &operator=(const ContextLock &) = delete;

private:
    MMutex mutex_;
};

#endif // QVBASE_CONTEXT_LOCK_H
