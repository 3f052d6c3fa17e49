// Fault injection: one process-wide plan fails the k-th allocation (the
// test host allocators and, in executables built with the platform
// interposer, the platform heap) or the k-th stream read, write, seek or
// flush (the test stream callbacks and the interposed platform streams).
// A sweep runs a scenario once cleanly to count what it reaches, then
// once for every one of those operations failing.
#ifndef QVJPEG_TESTS_FAULT_INJECTION_H
#define QVJPEG_TESTS_FAULT_INJECTION_H

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace fault {

enum class Target { kNone, kAllocation, kStream };

// What a scenario run reached: the operations counted, the blocks still
// live at its end and the most bytes live at once.
struct Reach {
    int allocations = 0;
    int streamOperations = 0;
    int liveBlocks = 0;
    uint64_t peakBytes = 0;
};

// Starts counting with operation `index` of `target` to fail.
void Arm(Target target, int index);
Reach Disarm();

// Hooks of the allocators and streams: each counts one operation and says
// whether it is the one to fail. A failed host allocation also fails the
// heap request the codec falls back to, so that the allocation as a whole
// fails.
bool FailsHostAllocation();
bool FailsAllocation();
bool FailsStream(uint32_t operation);
// A block handed out (+1) or returned (-1) by the counted allocators.
void NoteBlock(int delta, void *block);
// What a failing stream operation answers: no bytes, half the bytes
// written, a refused seek, a failed flush.
uint32_t FailedStreamResult(uint32_t operation, uint32_t count);

// Runs `scenario` (returning a record with a `result` field) cleanly, then
// with each allocation and each stream operation it reached failing. Every
// run must return 0 or one of `codes` and leave no block behind; `check`
// (clean run, faulty run) adds the scenario's own expectations. With
// `streamFailuresReported` no failing stream operation may end in success.
// Returns the number of injection points.
template <typename Scenario, typename Check>
int Sweep(Scenario scenario, const std::vector<uint32_t> &codes, Check check,
          bool streamFailuresReported = false) {
    Arm(Target::kNone, -1);
    auto clean = scenario();
    Reach reached = Disarm();
    EXPECT_EQ(0u, clean.result);
    EXPECT_EQ(0, reached.liveBlocks);
    EXPECT_GT(reached.allocations + reached.streamOperations, 0);
    for (Target target : {Target::kAllocation, Target::kStream}) {
        int points = target == Target::kAllocation ? reached.allocations
                                                   : reached.streamOperations;
        for (int k = 0; k < points; ++k) {
            SCOPED_TRACE(::testing::Message()
                         << (target == Target::kAllocation ? "allocation " : "stream operation ")
                         << k);
            Arm(target, k);
            auto faulty = scenario();
            Reach after = Disarm();
            EXPECT_TRUE(faulty.result == 0 ||
                        std::find(codes.begin(), codes.end(), faulty.result) != codes.end())
                << std::hex << faulty.result;
            EXPECT_EQ(0, after.liveBlocks);
            EXPECT_FALSE(streamFailuresReported && target == Target::kStream && faulty.result == 0);
            check(clean, faulty);
        }
    }
    return reached.allocations + reached.streamOperations;
}

} // namespace fault

#endif
