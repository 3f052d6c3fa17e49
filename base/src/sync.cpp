// Recursive mutexes and events over POSIX mutexes and condition variables.
#include "qvbase.h"

#include <cstdlib>
#include <pthread.h>

namespace {

constexpr uint32_t kDone = 0;
constexpr uint32_t kFailed = 1;
constexpr uint32_t kNullHandle = 2;

// An event has no signalled state of its own: a signal is handed to a thread
// already waiting, or lost. The counts make that exact: `waiting` threads
// are inside MEventWait, `wakeups` signals are handed out but not yet taken.
// A waiter only returns by taking a wakeup, so a spurious return of the
// condition wait is never reported as a signal.
struct Event {
    pthread_mutex_t mutex;
    pthread_cond_t condition;
    uint32_t waiting;
    uint32_t wakeups;
};

pthread_mutex_t *mutexOf(MMutex handle) { return static_cast<pthread_mutex_t *>(handle); }

bool initRecursive(pthread_mutex_t *mutex) {
    pthread_mutexattr_t attributes;
    if (pthread_mutexattr_init(&attributes) != 0)
        return false;
    const bool ok = pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE) == 0 &&
                    pthread_mutex_init(mutex, &attributes) == 0;
    pthread_mutexattr_destroy(&attributes);
    return ok;
}

// Waits until a signal hands this thread a wakeup. The event's mutex is held.
int waitForWakeup(Event *event) {
    ++event->waiting;
    int result = 0;
    while (event->wakeups == 0 && result == 0)
        result = pthread_cond_wait(&event->condition, &event->mutex);
    if (event->wakeups > 0)
        --event->wakeups;
    --event->waiting;
    return result;
}

} // namespace

extern "C" {

MMutex MMutexCreate(void) {
    auto *mutex = static_cast<pthread_mutex_t *>(std::malloc(sizeof(pthread_mutex_t)));
    if (mutex && !initRecursive(mutex)) {
        std::free(mutex);
        return nullptr;
    }
    return mutex;
}

uint32_t MMutexLock(MMutex mutex) {
    if (!mutex)
        return kNullHandle;
    pthread_mutex_lock(mutexOf(mutex));
    return kDone;
}

uint32_t MMutexUnlock(MMutex mutex) {
    if (!mutex)
        return kNullHandle;
    pthread_mutex_unlock(mutexOf(mutex));
    return kDone;
}

uint32_t MMutexDestroy(MMutex mutex) {
    if (mutex) {
        pthread_mutex_destroy(mutexOf(mutex));
        std::free(mutex);
    }
    return kDone;
}

MEvent MEventCreate(void) {
    auto *event = static_cast<Event *>(std::malloc(sizeof(Event)));
    if (!event)
        return nullptr;
    event->waiting = 0;
    event->wakeups = 0;
    if (pthread_mutex_init(&event->mutex, nullptr) != 0) {
        std::free(event);
        return nullptr;
    }
    if (pthread_cond_init(&event->condition, nullptr) != 0) {
        pthread_mutex_destroy(&event->mutex);
        std::free(event);
        return nullptr;
    }
    return event;
}

// Signals under the event's mutex, so that a thread that has entered
// MEventWait cannot miss the signal between its check and its wait.
uint32_t MEventSignal(MEvent handle) {
    auto *event = static_cast<Event *>(handle);
    if (!event)
        return kNullHandle;
    if (pthread_mutex_lock(&event->mutex) != 0)
        return kFailed;
    int result = 0;
    if (event->waiting > event->wakeups) {
        ++event->wakeups;
        result = pthread_cond_signal(&event->condition);
    }
    const int unlocked = pthread_mutex_unlock(&event->mutex);
    return result == 0 && unlocked == 0 ? kDone : kFailed;
}

// Only the infinite timeout waits; any other returns 1 at once.
uint32_t MEventWait(MEvent handle, uint32_t timeout) {
    auto *event = static_cast<Event *>(handle);
    if (!event)
        return kNullHandle;
    if (pthread_mutex_lock(&event->mutex) != 0)
        return kFailed;
    const int result = timeout == MEVENT_WAIT_INFINITE ? waitForWakeup(event) : 1;
    const int unlocked = pthread_mutex_unlock(&event->mutex);
    return result == 0 && unlocked == 0 ? kDone : kFailed;
}

uint32_t MEventReset(MEvent) { return kDone; }

uint32_t MEventDestroy(MEvent handle) {
    auto *event = static_cast<Event *>(handle);
    if (!event)
        return kNullHandle;
    pthread_cond_destroy(&event->condition);
    pthread_mutex_destroy(&event->mutex);
    std::free(event);
    return kDone;
}

} // extern "C"
