// Threads, recursive mutexes, events, the millisecond clock and the random
// numbers. No assertion depends on how fast anything runs: threads hand
// results over through joins and atomics, and waits are ended by signals.
#include "qvbase.h"
#include "../src/timestamp.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <pthread.h>
#include <sys/time.h>

namespace {

void *storeArgument(void *argument) {
    *static_cast<int *>(argument) = 42;
    return nullptr;
}

TEST(Thread, RunsRoutineWithArgumentAndJoins) {
    int value = 0;
    MThread thread = MThreadCreate(storeArgument, &value);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(MThreadExit(thread), 0u);
    EXPECT_EQ(value, 42);

    value = 0;
    thread = MThreadCreate(storeArgument, &value);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(MThreadDestory(thread), 0u);
    EXPECT_EQ(value, 42);
}

TEST(Thread, NullRoutineAndNullHandle) {
    int value = 0;
    EXPECT_EQ(MThreadCreate(nullptr, &value), nullptr);
    EXPECT_EQ(MThreadExit(nullptr), 0u);
    EXPECT_EQ(MThreadDestory(nullptr), 0u);
}

TEST(Thread, UnsupportedControlsSucceedWithoutEffect) {
    int value = 0;
    MThread thread = MThreadCreate(storeArgument, &value);
    EXPECT_EQ(MThreadSuspend(thread), 0u);
    EXPECT_EQ(MThreadResume(thread), 0u);
    EXPECT_EQ(MThreadSetPriority(thread, 5), 0u);
    EXPECT_EQ(MThreadExit(thread), 0u);
    EXPECT_EQ(value, 42);
}

int64_t monotonicMilliseconds() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t{now.tv_sec} * 1000 + now.tv_nsec / 1000000;
}

TEST(Thread, SleepLastsAtLeastTheRequestedTime) {
    const int64_t before = monotonicMilliseconds();
    EXPECT_EQ(MThreadSleep(nullptr, 15), 0u);
    EXPECT_GE(monotonicMilliseconds() - before, 14);
    EXPECT_EQ(MThreadSleep(nullptr, 0), 0u);
}

pthread_mutex_t *rawMutex(MMutex mutex) { return static_cast<pthread_mutex_t *>(mutex); }

// Whether another thread could take the mutex right now (without waiting).
void *tryLockFromOtherThread(void *mutex) {
    const int result = pthread_mutex_trylock(rawMutex(mutex));
    if (result == 0)
        pthread_mutex_unlock(rawMutex(mutex));
    return reinterpret_cast<void *>(static_cast<intptr_t>(result));
}

bool freeForOtherThreads(MMutex mutex) {
    pthread_t other;
    void *result = nullptr;
    pthread_create(&other, nullptr, tryLockFromOtherThread, mutex);
    pthread_join(other, &result);
    return result == nullptr;
}

TEST(Mutex, NullHandles) {
    EXPECT_EQ(MMutexLock(nullptr), 2u);
    EXPECT_EQ(MMutexUnlock(nullptr), 2u);
    EXPECT_EQ(MMutexDestroy(nullptr), 0u);
}

TEST(Mutex, RecursiveLockHeldUntilReleasedAsOftenAsTaken) {
    MMutex mutex = MMutexCreate();
    ASSERT_NE(mutex, nullptr);
    EXPECT_EQ(MMutexLock(mutex), 0u);
    EXPECT_EQ(MMutexLock(mutex), 0u);
    EXPECT_FALSE(freeForOtherThreads(mutex));
    EXPECT_EQ(MMutexUnlock(mutex), 0u);
    EXPECT_FALSE(freeForOtherThreads(mutex));
    EXPECT_EQ(MMutexUnlock(mutex), 0u);
    EXPECT_TRUE(freeForOtherThreads(mutex));
    EXPECT_EQ(MMutexDestroy(mutex), 0u);
}

void *lockAndUnlock(void *mutex) {
    MMutexLock(mutex);
    MMutexUnlock(mutex);
    return nullptr;
}

TEST(Mutex, AnotherThreadGetsInAfterDoubleRelease) {
    MMutex mutex = MMutexCreate();
    MMutexLock(mutex);
    MMutexLock(mutex);
    MMutexUnlock(mutex);
    MMutexUnlock(mutex);
    MThread other = MThreadCreate(lockAndUnlock, mutex);
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(MThreadExit(other), 0u);
    EXPECT_TRUE(freeForOtherThreads(mutex));
    MMutexDestroy(mutex);
}

struct SharedCounter {
    MMutex mutex;
    long value;
};

constexpr int kIncrements = 50000;

// Every other increment takes the lock twice, as a caller re-entering a
// locked service would.
void *hammer(void *argument) {
    auto *counter = static_cast<SharedCounter *>(argument);
    for (int k = 0; k < kIncrements; ++k) {
        MMutexLock(counter->mutex);
        if (k % 2)
            MMutexLock(counter->mutex);
        const long seen = counter->value;
        counter->value = seen + 1;
        if (k % 2)
            MMutexUnlock(counter->mutex);
        MMutexUnlock(counter->mutex);
    }
    return nullptr;
}

TEST(Mutex, ProtectsACounterShakenByTwoThreads) {
    SharedCounter counter{MMutexCreate(), 0};
    MThread first = MThreadCreate(hammer, &counter);
    MThread second = MThreadCreate(hammer, &counter);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    MThreadExit(first);
    MThreadExit(second);
    EXPECT_EQ(counter.value, 2L * kIncrements);
    MMutexDestroy(counter.mutex);
}

TEST(Event, NullHandles) {
    EXPECT_EQ(MEventSignal(nullptr), 2u);
    EXPECT_EQ(MEventWait(nullptr, MEVENT_WAIT_INFINITE), 2u);
    EXPECT_EQ(MEventWait(nullptr, 0), 2u);
    EXPECT_EQ(MEventDestroy(nullptr), 2u);
    EXPECT_EQ(MEventReset(nullptr), 0u);
}

TEST(Event, FiniteWaitsReturnOneAtOnce) {
    MEvent event = MEventCreate();
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(MEventWait(event, 0), 1u);
    EXPECT_EQ(MEventWait(event, 100), 1u);
    EXPECT_EQ(MEventSignal(event), 0u);
    EXPECT_EQ(MEventWait(event, 100), 1u);
    EXPECT_EQ(MEventReset(event), 0u);
    EXPECT_EQ(MEventDestroy(event), 0u);
}

struct Waiter {
    MEvent event;
    std::atomic<bool> finished{false};
    uint32_t result = 99;
};

void *waitForever(void *argument) {
    auto *waiter = static_cast<Waiter *>(argument);
    waiter->result = MEventWait(waiter->event, MEVENT_WAIT_INFINITE);
    waiter->finished = true;
    return nullptr;
}

// Signals until the waiter is through: signals given before it waits are
// lost, so a single signal could come too early.
void signalUntilFinished(Waiter &waiter) {
    while (!waiter.finished) {
        EXPECT_EQ(MEventSignal(waiter.event), 0u);
        MThreadSleep(nullptr, 1);
    }
}

TEST(Event, InfiniteWaitWakesOnSignal) {
    Waiter waiter;
    waiter.event = MEventCreate();
    MThread thread = MThreadCreate(waitForever, &waiter);
    ASSERT_NE(thread, nullptr);
    signalUntilFinished(waiter);
    MThreadExit(thread);
    EXPECT_EQ(waiter.result, 0u);
    MEventDestroy(waiter.event);
}

TEST(Event, SignalWithoutWaiterIsLost) {
    Waiter waiter;
    waiter.event = MEventCreate();
    for (int k = 0; k < 3; ++k)
        EXPECT_EQ(MEventSignal(waiter.event), 0u);
    MThread thread = MThreadCreate(waitForever, &waiter);
    ASSERT_NE(thread, nullptr);
    // The earlier signals must not release the new waiter. (A correct event
    // never fails this, however the threads are scheduled.)
    MThreadSleep(nullptr, 20);
    EXPECT_FALSE(waiter.finished);
    signalUntilFinished(waiter);
    MThreadExit(thread);
    EXPECT_EQ(waiter.result, 0u);
    MEventDestroy(waiter.event);
}

TEST(Event, EveryWaiterOfSeveralIsWoken) {
    constexpr int kWaiters = 4;
    MEvent event = MEventCreate();
    Waiter waiters[kWaiters];
    MThread threads[kWaiters];
    for (int k = 0; k < kWaiters; ++k) {
        waiters[k].event = event;
        threads[k] = MThreadCreate(waitForever, &waiters[k]);
        ASSERT_NE(threads[k], nullptr);
    }
    // Each signal releases one waiter, whichever it is.
    for (Waiter &waiter : waiters)
        signalUntilFinished(waiter);
    for (int k = 0; k < kWaiters; ++k) {
        MThreadExit(threads[k]);
        EXPECT_EQ(waiters[k].result, 0u);
    }
    MEventDestroy(event);
}

TEST(Clock, RoundsMicrosecondsToNearestMillisecond) {
    EXPECT_EQ(MillisecondStamp(1000, 345600), 1000346u);
    EXPECT_EQ(MillisecondStamp(1000, 499), 1000000u);
    EXPECT_EQ(MillisecondStamp(1000, 500), 1000001u);
    EXPECT_EQ(MillisecondStamp(1000, 999999), 1001000u);
    // Wraps modulo 2^32 (4294967296 ms = 4294967 s + 296 ms).
    EXPECT_EQ(MillisecondStamp(4294968, 0), 704u);
}

TEST(Clock, FollowsTheWallClock) {
    timeval before;
    timeval after;
    gettimeofday(&before, nullptr);
    const uint32_t stamp = MGetCurTimeStamp();
    gettimeofday(&after, nullptr);
    const uint32_t first = MillisecondStamp(before.tv_sec, before.tv_usec);
    const uint32_t last = MillisecondStamp(after.tv_sec, after.tv_usec);
    // Unsigned differences, so a wrap between the readings does no harm.
    EXPECT_LE(stamp - first, last - first);
}

TEST(Random, SeedRepeatsTheSequence) {
    EXPECT_EQ(MSrand(7), 0u);
    int32_t first[5];
    for (int32_t &value : first) {
        value = MGetRandomNumber();
        EXPECT_GE(value, 0);
        EXPECT_LE(value, RAND_MAX);
    }
    MSrand(7);
    for (int32_t value : first)
        EXPECT_EQ(MGetRandomNumber(), value);
}

} // namespace
