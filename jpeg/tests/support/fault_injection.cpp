#include "fault_injection.h"

#include "qvjpeg.h"

#include <atomic>

#include <malloc.h>

namespace fault {

namespace {

std::atomic<Target> armedTarget{Target::kNone};
std::atomic<int> failIndex{-1};
std::atomic<int> allocations{0};
std::atomic<int> streamOperations{0};
std::atomic<bool> failFallback{false};
std::atomic<int> liveBlocks{0};
std::atomic<uint64_t> liveBytes{0};
std::atomic<uint64_t> peakBytes{0};

bool CountsAsStream(uint32_t operation) {
    return operation == VLTJPG_STREAM_READ || operation == VLTJPG_STREAM_WRITE ||
           operation == VLTJPG_STREAM_SEEK || operation == VLTJPG_STREAM_FLUSH;
}

} // namespace

void Arm(Target target, int index) {
    allocations = 0;
    streamOperations = 0;
    liveBlocks = 0;
    liveBytes = 0;
    peakBytes = 0;
    failIndex = index;
    armedTarget = target;
}

Reach Disarm() {
    armedTarget = Target::kNone;
    failIndex = -1;
    failFallback = false;
    return Reach{allocations, streamOperations, liveBlocks, peakBytes};
}

bool FailsHostAllocation() {
    int index = allocations++;
    failFallback = armedTarget == Target::kAllocation && index == failIndex;
    return failFallback;
}

bool FailsAllocation() {
    if (failFallback.exchange(false))
        return true;
    int index = allocations++;
    return armedTarget == Target::kAllocation && index == failIndex;
}

bool FailsStream(uint32_t operation) {
    if (!CountsAsStream(operation))
        return false;
    int index = streamOperations++;
    return armedTarget == Target::kStream && index == failIndex;
}

void NoteBlock(int delta, void *block) {
    liveBlocks += delta;
    uint64_t bytes = malloc_usable_size(block);
    if (delta < 0) {
        liveBytes -= bytes;
        return;
    }
    uint64_t now = liveBytes += bytes;
    uint64_t peak = peakBytes;
    while (now > peak && !peakBytes.compare_exchange_weak(peak, now)) {
    }
}

uint32_t FailedStreamResult(uint32_t operation, uint32_t count) {
    switch (operation) {
    case VLTJPG_STREAM_WRITE:
        return count / 2;
    case VLTJPG_STREAM_SEEK:
        return 1;
    default: // read, flush
        return 0;
    }
}

} // namespace fault
