// Static memory pool: allocation inside a block the caller owns, with all
// bookkeeping in the block itself (a pool header, then 32-byte units that
// each allocation takes in runs, a 16-byte block header at the start of each
// run).
//
// New space is taken from the never-used region at `top` first; only when
// that is too small is the free list searched, first fit. The free list is
// kept highest address first and coalesced, and a block freed next to `top`
// goes back to the top region, so a pool whose blocks are all freed is back
// in its created state whatever the order of the frees.
#include "qvbase.h"

#include <cstring>

static_assert(sizeof(MMemPoolHeader) == MMEM_POOL_HEADER_SIZE, "pool header is four words");
static_assert(sizeof(MMemPoolBlock) == 16, "block header is four words");

namespace {

constexpr uint32_t kBlockHeaderSize = sizeof(MMemPoolBlock);

// A link in the free list: the (index, units) pair that leads to a free
// block. The head link lives in the pool header, every other one in the free
// block above the block it leads to. Units 0 means the list ends here.
struct Link {
    uint32_t *index;
    uint32_t *units;

    bool leadsNowhere() const { return *units == 0; }
    void set(uint32_t newIndex, uint32_t newUnits) const {
        *index = newIndex;
        *units = newUnits;
    }
};

Link headLink(MMemPoolHeader *pool) { return {&pool->freeIndex, &pool->freeUnits}; }
Link nextLink(MMemPoolBlock *block) { return {&block->nextIndex, &block->nextUnits}; }

uint32_t totalUnits(const MMemPoolHeader *pool) { return pool->top + pool->remaining; }

MMemPoolBlock *blockAt(MMemPoolHeader *pool, uint32_t index) {
    char *units = reinterpret_cast<char *>(pool) + MMEM_POOL_HEADER_SIZE;
    return reinterpret_cast<MMemPoolBlock *>(units + size_t{index} * MMEM_POOL_UNIT_SIZE);
}

MMemPoolBlock *blockOfPayload(void *payload) {
    return reinterpret_cast<MMemPoolBlock *>(static_cast<char *>(payload) - kBlockHeaderSize);
}

void *payloadOf(MMemPoolBlock *block) { return reinterpret_cast<char *>(block) + kBlockHeaderSize; }

// Header plus request, rounded up to whole units. Computed in 64 bits so
// that a request near 4 GiB cannot wrap around to a tiny block.
uint64_t unitsForRequest(uint32_t bytes) {
    return (uint64_t{bytes} + kBlockHeaderSize + MMEM_POOL_UNIT_SIZE - 1) / MMEM_POOL_UNIT_SIZE;
}

MMemPoolBlock *startBlock(MMemPoolHeader *pool, uint32_t index, uint32_t units) {
    MMemPoolBlock *block = blockAt(pool, index);
    block->index = index;
    block->units = units;
    block->nextIndex = 0;
    block->nextUnits = 0;
    return block;
}

// A header that is no longer a block start is zeroed, so stale headers
// never linger inside merged blocks.
void eraseHeader(MMemPoolBlock *block) { std::memset(block, 0, sizeof *block); }

MMemPoolBlock *takeFromTop(MMemPoolHeader *pool, uint32_t units) {
    MMemPoolBlock *block = startBlock(pool, pool->top, units);
    pool->top += units;
    pool->remaining -= units;
    return block;
}

// First fit along the free list. A larger block is split: its lower part is
// handed out and the remainder takes its place in the list, which keeps the
// list in descending order without moving anything.
MMemPoolBlock *takeFromFreeList(MMemPoolHeader *pool, uint32_t units) {
    Link link = headLink(pool);
    while (*link.units < units) {
        if (link.leadsNowhere())
            return nullptr;
        link = nextLink(blockAt(pool, *link.index));
    }
    MMemPoolBlock *found = blockAt(pool, *link.index);
    if (found->units == units) {
        link.set(found->nextIndex, found->nextUnits);
    } else {
        MMemPoolBlock *rest = startBlock(pool, found->index + units, found->units - units);
        rest->nextIndex = found->nextIndex;
        rest->nextUnits = found->nextUnits;
        link.set(rest->index, rest->units);
        found->units = units;
    }
    found->nextIndex = 0;
    found->nextUnits = 0;
    return found;
}

// The block ends at `top`: the top region grows down over it, and over the
// highest free block too if that one ends where the block started. No other
// free block can touch it, since the list is highest first and never holds
// two adjacent blocks.
void returnToTop(MMemPoolHeader *pool, MMemPoolBlock *block) {
    pool->top = block->index;
    pool->remaining += block->units;
    eraseHeader(block);
    Link head = headLink(pool);
    if (head.leadsNowhere() || *head.index + *head.units != pool->top)
        return;
    MMemPoolBlock *highest = blockAt(pool, *head.index);
    head.set(highest->nextIndex, highest->nextUnits);
    pool->top = highest->index;
    pool->remaining += highest->units;
    eraseHeader(highest);
}

// Puts a block into the free list at its place in the descending order,
// merging it with the free block just above it and the one just below it
// when they touch.
void insertIntoFreeList(MMemPoolHeader *pool, MMemPoolBlock *block) {
    const uint32_t index = block->index;
    const uint32_t units = block->units;

    // Find the link to the first free block below, remembering the free
    // block above (null when the new block becomes the highest).
    Link toLower = headLink(pool);
    Link toUpper{};
    MMemPoolBlock *upper = nullptr;
    while (!toLower.leadsNowhere() && *toLower.index > index) {
        toUpper = toLower;
        upper = blockAt(pool, *toLower.index);
        toLower = nextLink(upper);
    }
    MMemPoolBlock *lower = toLower.leadsNowhere() ? nullptr : blockAt(pool, *toLower.index);
    const bool touchesLower = lower && lower->index + lower->units == index;
    const bool touchesUpper = upper && index + units == upper->index;

    if (touchesLower && touchesUpper) {
        lower->units += units + upper->units;
        toUpper.set(lower->index, lower->units);
        eraseHeader(upper);
        eraseHeader(block);
    } else if (touchesLower) {
        lower->units += units;
        *toLower.units += units;
        eraseHeader(block);
    } else if (touchesUpper) {
        block->units = units + upper->units;
        block->nextIndex = upper->nextIndex;
        block->nextUnits = upper->nextUnits;
        toUpper.set(index, block->units);
        eraseHeader(upper);
    } else {
        block->nextIndex = *toLower.index;
        block->nextUnits = *toLower.units;
        toLower.set(index, units);
    }
}

void releaseBlock(MMemPoolHeader *pool, MMemPoolBlock *block) {
    if (block->index + block->units == pool->top)
        returnToTop(pool, block);
    else
        insertIntoFreeList(pool, block);
}

// Cuts the units beyond `units` off the block and frees them, so they merge
// with a free neighbour or go back to the top region.
void shrinkInPlace(MMemPoolHeader *pool, MMemPoolBlock *block, uint32_t units) {
    MMemPoolBlock *tail = startBlock(pool, block->index + units, block->units - units);
    block->units = units;
    releaseBlock(pool, tail);
}

} // namespace

extern "C" {

MMemMgr MMemMgrCreate(void *memory, uint32_t size) {
    if (!memory)
        return nullptr;
    const uintptr_t address = reinterpret_cast<uintptr_t>(memory);
    const uintptr_t start = (address + 3) & ~uintptr_t{3};
    const int64_t available = int64_t{size} - int64_t(start - address);
    const int64_t usable = available / 4 * 4 - MMEM_POOL_HEADER_SIZE;
    if (usable <= 0)
        return nullptr;
    auto *pool = reinterpret_cast<MMemPoolHeader *>(start);
    pool->top = 0;
    pool->remaining = uint32_t(usable / MMEM_POOL_UNIT_SIZE);
    pool->freeIndex = 0;
    pool->freeUnits = 0;
    return pool;
}

void MMemMgrDestroy(MMemMgr) {}

void *MMemAllocStatic(MMemMgr handle, uint32_t size) {
    auto *pool = static_cast<MMemPoolHeader *>(handle);
    if (!pool || size == 0)
        return nullptr;
    const uint64_t units = unitsForRequest(size);
    if (units > totalUnits(pool))
        return nullptr;
    // The top region is used before any free block, even one that fits.
    MMemPoolBlock *block = pool->remaining >= units ? takeFromTop(pool, uint32_t(units))
                                                     : takeFromFreeList(pool, uint32_t(units));
    return block ? payloadOf(block) : nullptr;
}

void MMemFreeStatic(MMemMgr handle, void *payload) {
    auto *pool = static_cast<MMemPoolHeader *>(handle);
    if (!pool || !payload)
        return;
    releaseBlock(pool, blockOfPayload(payload));
}

void *MMemReallocStatic(MMemMgr handle, void *payload, uint32_t size) {
    auto *pool = static_cast<MMemPoolHeader *>(handle);
    if (!pool || !payload || size == 0)
        return nullptr;
    MMemPoolBlock *block = blockOfPayload(payload);
    const uint64_t units = unitsForRequest(size);
    const uint32_t current = block->units;
    if (units == current)
        return payload;
    if (units < current) {
        shrinkInPlace(pool, block, uint32_t(units));
        return payload;
    }
    // Growing always moves the data. The replacement is requested as
    // units * 32 bytes, which takes one unit more than the units needed.
    if (units >= totalUnits(pool))
        return nullptr;
    void *moved = MMemAllocStatic(pool, uint32_t(units) * MMEM_POOL_UNIT_SIZE);
    if (!moved)
        return nullptr;
    MMemCpy(moved, payload, current * MMEM_POOL_UNIT_SIZE - kBlockHeaderSize);
    releaseBlock(pool, block);
    return moved;
}

} // extern "C"
