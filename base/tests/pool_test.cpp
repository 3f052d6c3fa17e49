// Static memory pool: layout of the pool and block headers, the order in
// which space is taken and given back, and a long randomized run checked
// against a model of the allocated blocks.
#include "qvbase.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <random>
#include <vector>

namespace {

constexpr uint32_t kUnit = MMEM_POOL_UNIT_SIZE;

// Payload bytes that fill exactly `units` units.
constexpr uint32_t bytesFor(uint32_t units) { return units * kUnit - 16; }

// A caller's block of memory, 8-aligned, that a pool is created over.
class PoolMemory {
public:
    explicit PoolMemory(uint32_t units) : units_(units), words_((16 + units * kUnit) / 8 + 1) {}
    void *data() { return words_.data(); }
    // A pool of exactly the units asked for.
    MMemMgr createPool() { return MMemMgrCreate(data(), bytesForUnits(units_)); }
    uint32_t bytesForUnits(uint32_t units) const { return 16 + units * kUnit; }
    const char *begin() const { return reinterpret_cast<const char *>(words_.data()); }
    const char *end() const { return begin() + words_.size() * 8; }

private:
    uint32_t units_;
    std::vector<uint64_t> words_;
};

MMemPoolHeader &header(MMemMgr pool) { return *static_cast<MMemPoolHeader *>(pool); }

MMemPoolBlock &blockAt(MMemMgr pool, uint32_t index) {
    char *units = static_cast<char *>(pool) + MMEM_POOL_HEADER_SIZE;
    return *reinterpret_cast<MMemPoolBlock *>(units + index * kUnit);
}

MMemPoolBlock &blockOf(void *payload) {
    return *reinterpret_cast<MMemPoolBlock *>(static_cast<char *>(payload) - 16);
}

uint32_t unitIndexOf(MMemMgr pool, void *payload) {
    return uint32_t((static_cast<char *>(payload) - 16 - static_cast<char *>(pool) -
                     MMEM_POOL_HEADER_SIZE) / kUnit);
}

// `count` one-unit blocks taken from the top: units 0 .. count - 1.
std::vector<void *> oneUnitBlocks(MMemMgr pool, int count) {
    std::vector<void *> blocks;
    for (int k = 0; k < count; ++k)
        blocks.push_back(MMemAllocStatic(pool, 16));
    return blocks;
}

struct FreeBlock {
    uint32_t index;
    uint32_t units;
    bool operator==(const FreeBlock &other) const {
        return index == other.index && units == other.units;
    }
};

// Walks the free list from the head link, checking that every link agrees
// with the header of the block it leads to.
std::vector<FreeBlock> freeList(MMemMgr pool) {
    std::vector<FreeBlock> list;
    uint32_t index = header(pool).freeIndex;
    uint32_t units = header(pool).freeUnits;
    while (units != 0) {
        const MMemPoolBlock &block = blockAt(pool, index);
        EXPECT_EQ(block.index, index);
        EXPECT_EQ(block.units, units);
        list.push_back({index, units});
        index = block.nextIndex;
        units = block.nextUnits;
        if (list.size() > 100000) {
            ADD_FAILURE() << "free list does not end";
            break;
        }
    }
    return list;
}

void expectCreatedState(MMemMgr pool, uint32_t unitCount) {
    EXPECT_EQ(header(pool).top, 0u);
    EXPECT_EQ(header(pool).remaining, unitCount);
    EXPECT_EQ(header(pool).freeUnits, 0u);
    EXPECT_EQ(header(pool).freeIndex, 0u);
}

// Every unit below `top` belongs to exactly one allocated or free block; the
// free list is highest first, never holds neighbours, and never touches top.
void expectConsistent(MMemMgr pool, uint32_t unitCount, const std::vector<void *> &allocated) {
    const MMemPoolHeader &h = header(pool);
    ASSERT_EQ(h.top + h.remaining, unitCount);
    std::vector<FreeBlock> blocks = freeList(pool);
    for (size_t k = 1; k < blocks.size(); ++k) {
        EXPECT_LT(blocks[k].index + blocks[k].units, blocks[k - 1].index)
            << "free list out of order or holding neighbours";
    }
    if (!blocks.empty()) {
        EXPECT_LT(blocks.front().index + blocks.front().units, h.top);
    }
    for (void *payload : allocated) {
        const MMemPoolBlock &block = blockOf(payload);
        EXPECT_EQ(block.index, unitIndexOf(pool, payload));
        EXPECT_EQ(block.nextUnits, 0u);
        blocks.push_back({block.index, block.units});
    }
    std::sort(blocks.begin(), blocks.end(),
              [](const FreeBlock &a, const FreeBlock &b) { return a.index < b.index; });
    uint32_t expectedStart = 0;
    for (const FreeBlock &block : blocks) {
        ASSERT_EQ(block.index, expectedStart) << "gap or overlap below top";
        expectedStart += block.units;
    }
    EXPECT_EQ(expectedStart, h.top);
}

TEST(PoolCreate, SizesAndAlignment) {
    PoolMemory memory(4);
    char *m = static_cast<char *>(memory.data());

    MMemMgr oneUnit = MMemMgrCreate(m, 48);
    ASSERT_EQ(oneUnit, static_cast<void *>(m));
    expectCreatedState(oneUnit, 1);
    EXPECT_EQ(MMemAllocStatic(oneUnit, 17), nullptr);
    EXPECT_NE(MMemAllocStatic(oneUnit, 16), nullptr);

    EXPECT_EQ(MMemMgrCreate(m, 16), nullptr);
    EXPECT_EQ(MMemMgrCreate(m + 1, 18), nullptr);
    EXPECT_EQ(MMemMgrCreate(nullptr, 4096), nullptr);

    MMemMgr shifted = MMemMgrCreate(m + 1, 100);
    ASSERT_EQ(shifted, static_cast<void *>(m + 4));
    expectCreatedState(shifted, 2);
    MMemMgrDestroy(shifted);
}

TEST(PoolCreate, RequestSizesInUnits) {
    PoolMemory memory(8);
    MMemMgr pool = memory.createPool();
    const std::array<std::pair<uint32_t, uint32_t>, 5> requests{
        {{1, 1}, {16, 1}, {17, 2}, {48, 2}, {49, 3}}};
    for (const auto &[bytes, units] : requests) {
        void *p = MMemAllocStatic(pool, bytes);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(blockOf(p).units, units) << bytes << " bytes";
        EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 4, 0u);
        MMemFreeStatic(pool, p);
    }
    expectCreatedState(pool, 8);
}

TEST(PoolCreate, NullAndZeroArgumentsChangeNothing) {
    PoolMemory memory(4);
    MMemMgr pool = memory.createPool();
    EXPECT_EQ(MMemAllocStatic(nullptr, 16), nullptr);
    EXPECT_EQ(MMemAllocStatic(pool, 0), nullptr);
    EXPECT_EQ(MMemAllocStatic(pool, 0xFFFFFFFFu), nullptr);
    EXPECT_EQ(MMemAllocStatic(pool, 0xFFFFFFF0u), nullptr);
    MMemFreeStatic(pool, nullptr);
    MMemFreeStatic(nullptr, memory.data());
    EXPECT_EQ(MMemReallocStatic(pool, nullptr, 16), nullptr);
    EXPECT_EQ(MMemReallocStatic(nullptr, memory.data(), 16), nullptr);
    expectCreatedState(pool, 4);
}

// Four one-unit blocks A, B, E, D freed in every order: the pool always ends
// up in its created state.
TEST(PoolFree, FourBlocksInAnyOrderEmptyThePool) {
    std::array<int, 4> order{0, 1, 2, 3};
    do {
        PoolMemory memory(16);
        MMemMgr pool = memory.createPool();
        const std::vector<void *> blocks = oneUnitBlocks(pool, 4);
        std::vector<void *> live = blocks;
        for (int k : order) {
            MMemFreeStatic(pool, blocks[k]);
            live.erase(std::find(live.begin(), live.end(), blocks[k]));
            expectConsistent(pool, 16, live);
        }
        expectCreatedState(pool, 16);
    } while (std::next_permutation(order.begin(), order.end()));
}

TEST(PoolFree, MergesStepByStepThenReturnsToTop) {
    PoolMemory memory(16);
    MMemMgr pool = memory.createPool();
    void *a = MMemAllocStatic(pool, 16);
    void *b = MMemAllocStatic(pool, 16);
    void *e = MMemAllocStatic(pool, 16);
    void *d = MMemAllocStatic(pool, 16);
    EXPECT_EQ(header(pool).top, 4u);

    MMemFreeStatic(pool, b);
    MMemFreeStatic(pool, e);
    EXPECT_EQ(freeList(pool), (std::vector<FreeBlock>{{1, 2}}));
    MMemFreeStatic(pool, a);
    EXPECT_EQ(freeList(pool), (std::vector<FreeBlock>{{0, 3}}));
    MMemFreeStatic(pool, d);
    expectCreatedState(pool, 16);
    // Headers of blocks that were merged away are cleared.
    for (uint32_t u = 0; u < 4; ++u)
        EXPECT_EQ(blockAt(pool, u).units, 0u);
}

TEST(PoolFree, KeepsDescendingOrderAndMergesBothSides) {
    PoolMemory memory(16);
    MMemMgr pool = memory.createPool();
    const std::vector<void *> blocks = oneUnitBlocks(pool, 8);
    MMemFreeStatic(pool, blocks[1]);
    MMemFreeStatic(pool, blocks[5]);
    MMemFreeStatic(pool, blocks[3]);
    MMemFreeStatic(pool, blocks[0]);  // lowest: merges with 1
    EXPECT_EQ(freeList(pool), (std::vector<FreeBlock>{{5, 1}, {3, 1}, {0, 2}}));
    MMemFreeStatic(pool, blocks[4]);  // between 3 and 5: all three merge
    EXPECT_EQ(freeList(pool), (std::vector<FreeBlock>{{3, 3}, {0, 2}}));
    MMemFreeStatic(pool, blocks[2]);  // joins everything below it
    EXPECT_EQ(freeList(pool), (std::vector<FreeBlock>{{0, 6}}));
    MMemFreeStatic(pool, blocks[7]);
    EXPECT_EQ(header(pool).top, 7u);
    MMemFreeStatic(pool, blocks[6]);
    expectCreatedState(pool, 16);
}

TEST(PoolAlloc, TopRegionComesBeforeFreeBlocks) {
    PoolMemory memory(8);
    MMemMgr pool = memory.createPool();
    void *a = MMemAllocStatic(pool, 16);
    void *b = MMemAllocStatic(pool, 16);
    ASSERT_NE(b, nullptr);
    MMemFreeStatic(pool, a);
    void *c = MMemAllocStatic(pool, 16);
    EXPECT_EQ(unitIndexOf(pool, c), 2u);
    EXPECT_EQ(freeList(pool), (std::vector<FreeBlock>{{0, 1}}));
}

TEST(PoolAlloc, SplitRemainderKeepsItsListPlace) {
    // Units: A 0, S 1-6, C 7, H 8, E 9; the pool is full.
    PoolMemory memory(10);
    MMemMgr pool = memory.createPool();
    void *a = MMemAllocStatic(pool, 16);
    void *s = MMemAllocStatic(pool, bytesFor(6));
    void *c = MMemAllocStatic(pool, 16);
    void *h = MMemAllocStatic(pool, 16);
    void *e = MMemAllocStatic(pool, 16);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(header(pool).remaining, 0u);
    MMemFreeStatic(pool, s);
    MMemFreeStatic(pool, h);
    ASSERT_EQ(freeList(pool), (std::vector<FreeBlock>{{8, 1}, {1, 6}}));

    void *taken = MMemAllocStatic(pool, 100);
    EXPECT_EQ(taken, s);
    EXPECT_EQ(blockOf(taken).units, 4u);
    EXPECT_EQ(freeList(pool), (std::vector<FreeBlock>{{8, 1}, {5, 2}}));
    expectConsistent(pool, 10, {a, taken, c, e});

    // Exact fit takes the block out of the list.
    void *exact = MMemAllocStatic(pool, bytesFor(2));
    EXPECT_EQ(unitIndexOf(pool, exact), 5u);
    EXPECT_EQ(freeList(pool), (std::vector<FreeBlock>{{8, 1}}));
}

TEST(PoolAlloc, NoCompactionAcrossFreeBlocks) {
    PoolMemory memory(5);
    MMemMgr pool = memory.createPool();
    const std::vector<void *> blocks = oneUnitBlocks(pool, 5);
    MMemFreeStatic(pool, blocks[1]);
    MMemFreeStatic(pool, blocks[3]);
    // Two free units, but no single free block of two.
    EXPECT_EQ(MMemAllocStatic(pool, 17), nullptr);
    EXPECT_EQ(freeList(pool), (std::vector<FreeBlock>{{3, 1}, {1, 1}}));
    EXPECT_NE(MMemAllocStatic(pool, 16), nullptr);
}

TEST(PoolRealloc, SameUnitCountKeepsPointerAndZeroKeepsBlock) {
    PoolMemory memory(8);
    MMemMgr pool = memory.createPool();
    void *p = MMemAllocStatic(pool, 10);
    EXPECT_EQ(MMemReallocStatic(pool, p, 16), p);
    EXPECT_EQ(MMemReallocStatic(pool, p, 0), nullptr);
    EXPECT_EQ(blockOf(p).units, 1u);
    EXPECT_EQ(header(pool).top, 1u);
    MMemFreeStatic(pool, p);
    expectCreatedState(pool, 8);
}

TEST(PoolRealloc, ShrinkMergesTailWithFollowingFreeBlock) {
    PoolMemory memory(16);
    MMemMgr pool = memory.createPool();
    void *big = MMemAllocStatic(pool, bytesFor(5));
    void *next = MMemAllocStatic(pool, 16);
    void *guard = MMemAllocStatic(pool, 16);
    MMemFreeStatic(pool, next);
    ASSERT_EQ(freeList(pool), (std::vector<FreeBlock>{{5, 1}}));
    EXPECT_EQ(MMemReallocStatic(pool, big, 16), big);
    EXPECT_EQ(blockOf(big).units, 1u);
    EXPECT_EQ(freeList(pool), (std::vector<FreeBlock>{{1, 5}}));
    expectConsistent(pool, 16, {big, guard});
}

TEST(PoolRealloc, ShrinkAtTopGivesTailBack) {
    PoolMemory memory(8);
    MMemMgr pool = memory.createPool();
    void *p = MMemAllocStatic(pool, bytesFor(6));
    EXPECT_EQ(MMemReallocStatic(pool, p, 40), p);
    EXPECT_EQ(header(pool).top, 2u);
    EXPECT_EQ(header(pool).remaining, 6u);
    EXPECT_TRUE(freeList(pool).empty());
}

TEST(PoolRealloc, GrowMovesDataIntoALargerBlock) {
    PoolMemory memory(16);
    MMemMgr pool = memory.createPool();
    auto *p = static_cast<unsigned char *>(MMemAllocStatic(pool, 16));
    for (int k = 0; k < 16; ++k)
        p[k] = static_cast<unsigned char>(0xA0 + k);
    auto *q = static_cast<unsigned char *>(MMemReallocStatic(pool, p, 40));
    ASSERT_NE(q, nullptr);
    EXPECT_NE(q, p);
    // 40 bytes need two units; the replacement is asked for as 64 bytes.
    EXPECT_EQ(blockOf(q).units, 3u);
    for (int k = 0; k < 16; ++k)
        EXPECT_EQ(q[k], 0xA0 + k);
    EXPECT_EQ(freeList(pool), (std::vector<FreeBlock>{{0, 1}}));
    MMemFreeStatic(pool, q);
    expectCreatedState(pool, 16);
}

TEST(PoolRealloc, FailedGrowLeavesBlockUntouched) {
    PoolMemory memory(4);
    MMemMgr pool = memory.createPool();
    auto *p = static_cast<char *>(MMemAllocStatic(pool, 16));
    std::memcpy(p, "kept", 5);
    EXPECT_EQ(MMemReallocStatic(pool, p, bytesFor(3)), nullptr);
    EXPECT_EQ(MMemReallocStatic(pool, p, 0xFFFFFFFFu), nullptr);
    EXPECT_STREQ(p, "kept");
    expectConsistent(pool, 4, {p});
}

TEST(PoolThroughMemoryInterface, AllocReallocFreeWithPoolHandle) {
    PoolMemory memory(64);
    MMemMgr pool = memory.createPool();
    auto *p = static_cast<char *>(MMemAlloc(pool, 100));
    ASSERT_NE(p, nullptr);
    EXPECT_GE(p, memory.begin());
    EXPECT_LE(p + 100, memory.end());
    std::memset(p, 'x', 100);
    auto *q = static_cast<char *>(MMemRealloc(pool, p, 500));
    ASSERT_NE(q, nullptr);
    EXPECT_LE(q + 500, memory.end());
    EXPECT_EQ(std::count(q, q + 100, 'x'), 100);
    EXPECT_EQ(MMemRealloc(pool, q, 0), nullptr);
    MMemFree(pool, q);
    expectCreatedState(pool, 64);
    // Huge memory ignores the pool.
    void *huge = MHugeMemAlloc(pool, 100);
    EXPECT_TRUE(static_cast<char *>(huge) < memory.begin() ||
                static_cast<char *>(huge) >= memory.end());
    MHugeMemFree(pool, huge);
    expectCreatedState(pool, 64);
}

// A model of the caller's view: each live block with its requested size and
// the byte pattern written into it.
struct LiveBlock {
    unsigned char *payload;
    uint32_t size;
    unsigned char fill;
};

class RandomizedPool : public ::testing::Test {
protected:
    static constexpr uint32_t kUnits = 512;

    void SetUp() override { pool_ = memory_.createPool(); }

    uint32_t randomSize() {
        // Mostly small requests, some large enough to exhaust the pool.
        std::uniform_int_distribution<uint32_t> pick(0, 9);
        std::uniform_int_distribution<uint32_t> small(1, 200);
        std::uniform_int_distribution<uint32_t> large(201, 4000);
        return pick(random_) < 8 ? small(random_) : large(random_);
    }

    void fill(LiveBlock &block) {
        block.fill = static_cast<unsigned char>(random_());
        std::memset(block.payload, block.fill, block.size);
    }

    void expectInsideCallersMemory(const LiveBlock &block) {
        EXPECT_GE(reinterpret_cast<char *>(block.payload), memory_.begin() + 32);
        EXPECT_LE(reinterpret_cast<char *>(block.payload) + block.size, memory_.end());
        EXPECT_GE(bytesFor(blockOf(block.payload).units), block.size);
    }

    void expectIntact(const LiveBlock &block, uint32_t size) {
        const size_t good = std::count(block.payload, block.payload + size, block.fill);
        EXPECT_EQ(good, size) << "block contents changed";
    }

    // When the pool refuses a request, neither the top region nor any free
    // block may have had room for it.
    void expectReallyFull(uint32_t bytes) {
        const uint32_t units = (bytes + 47) / 32;
        EXPECT_LT(header(pool_).remaining, units);
        for (const FreeBlock &block : freeList(pool_))
            EXPECT_LT(block.units, units);
    }

    void allocate() {
        LiveBlock block{nullptr, randomSize(), 0};
        const bool fromTop = header(pool_).remaining >= (block.size + 47) / 32;
        const uint32_t top = header(pool_).top;
        block.payload = static_cast<unsigned char *>(MMemAlloc(pool_, block.size));
        if (!block.payload) {
            expectReallyFull(block.size);
            ++counts_.refused;
            return;
        }
        if (fromTop) {
            EXPECT_EQ(unitIndexOf(pool_, block.payload), top);
            ++counts_.fromTop;
        } else {
            ++counts_.fromFreeList;
        }
        expectInsideCallersMemory(block);
        fill(block);
        live_.push_back(block);
    }

    void release(size_t which) {
        expectIntact(live_[which], live_[which].size);
        MMemFree(pool_, live_[which].payload);
        live_.erase(live_.begin() + which);
    }

    void resize(size_t which) {
        LiveBlock &block = live_[which];
        const uint32_t size = randomSize();
        auto *moved = static_cast<unsigned char *>(MMemRealloc(pool_, block.payload, size));
        if (!moved) {
            // Only growing can fail, and the old block stays as it was.
            EXPECT_GT((size + 47) / 32, blockOf(block.payload).units);
            expectIntact(block, block.size);
            ++counts_.refused;
            return;
        }
        ++(moved == block.payload ? counts_.resizedInPlace : counts_.moved);
        block.payload = moved;
        expectIntact(block, std::min(block.size, size));
        block.size = size;
        expectInsideCallersMemory(block);
        fill(block);
    }

    void expectNoOverlap() {
        std::vector<LiveBlock> sorted = live_;
        std::sort(sorted.begin(), sorted.end(),
                  [](const LiveBlock &a, const LiveBlock &b) { return a.payload < b.payload; });
        for (size_t k = 1; k < sorted.size(); ++k)
            ASSERT_LE(sorted[k - 1].payload + sorted[k - 1].size, sorted[k].payload - 16);
    }

    void expectPoolConsistent() {
        std::vector<void *> payloads;
        for (const LiveBlock &block : live_)
            payloads.push_back(block.payload);
        expectConsistent(pool_, kUnits, payloads);
    }

    PoolMemory memory_{kUnits};
    MMemMgr pool_ = nullptr;
    std::mt19937 random_{12345};
    std::vector<LiveBlock> live_;
    struct {
        int fromTop = 0, fromFreeList = 0, refused = 0, resizedInPlace = 0, moved = 0;
    } counts_;
};

TEST_F(RandomizedPool, ThousandsOfOperationsMatchTheModel) {
    ASSERT_NE(pool_, nullptr);
    for (int step = 0; step < 6000; ++step) {
        const uint32_t action = random_() % 10;
        if (live_.empty() || action < 4) {
            allocate();
        } else {
            const size_t which = random_() % live_.size();
            if (action < 7)
                release(which);
            else
                resize(which);
        }
        expectNoOverlap();
        if (step % 16 == 0)
            expectPoolConsistent();
        if (HasFatalFailure() || HasFailure())
            FAIL() << "at step " << step;
    }
    expectPoolConsistent();
    // The run went through every path: both sources, refusals, both kinds
    // of resizing.
    EXPECT_GT(counts_.fromTop, 50);
    EXPECT_GT(counts_.fromFreeList, 100);
    EXPECT_GT(counts_.refused, 10);
    EXPECT_GT(counts_.resizedInPlace, 100);
    EXPECT_GT(counts_.moved, 100);
    std::shuffle(live_.begin(), live_.end(), random_);
    while (!live_.empty())
        release(live_.size() - 1);
    expectCreatedState(pool_, kUnits);
}

} // namespace
