// Threads over POSIX threads, the millisecond clock and the random-number
// source. Suspension, resumption and priorities are not provided on this
// platform; their entry points succeed without doing anything.
#include "qvbase.h"
#include "timestamp.h"

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <pthread.h>
#include <sys/time.h>

static_assert(sizeof(pthread_t) <= sizeof(MThread), "a thread identifier fits in a handle");

namespace {

MThread handleOf(pthread_t thread) {
    return reinterpret_cast<MThread>(static_cast<uintptr_t>(thread));
}

pthread_t threadOf(MThread handle) {
    return static_cast<pthread_t>(reinterpret_cast<uintptr_t>(handle));
}

uint32_t joinThread(MThread thread) {
    if (thread)
        pthread_join(threadOf(thread), nullptr);
    return 0;
}

} // namespace

extern "C" {

MThread MThreadCreate(MThreadProc proc, void *argument) {
    if (!proc)
        return nullptr;
    pthread_t thread;
    if (pthread_create(&thread, nullptr, proc, argument) != 0)
        return nullptr;
    return handleOf(thread);
}

uint32_t MThreadExit(MThread thread) { return joinThread(thread); }
uint32_t MThreadDestory(MThread thread) { return joinThread(thread); }

// nanosleep instead of usleep(milliseconds * 1000): the product overflows
// 32 bits beyond about 71 minutes, and a signal must not cut the sleep
// short, so the rest is slept after an interruption.
uint32_t MThreadSleep(MThread, uint32_t milliseconds) {
    timespec rest{static_cast<time_t>(milliseconds / 1000),
                  static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&rest, &rest) != 0 && errno == EINTR) {
    }
    return 0;
}

uint32_t MThreadResume(MThread) { return 0; }
uint32_t MThreadSuspend(MThread) { return 0; }
uint32_t MThreadSetPriority(MThread, int32_t) { return 0; }

uint32_t MGetCurTimeStamp(void) {
    timeval now;
    gettimeofday(&now, nullptr);
    return MillisecondStamp(now.tv_sec, now.tv_usec);
}

int32_t MGetRandomNumber(void) { return std::rand(); }

uint32_t MSrand(uint32_t seed) {
    std::srand(seed);
    return 0;
}

} // extern "C"
