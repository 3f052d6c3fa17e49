// Memory glue, stream glue and version query of the codec frame.
#include "common/jpg_glue.h"
#include "qvbase.h"
#include "qvjpeg.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <set>
#include <vector>

namespace {

// A host allocator that hands out `budget` blocks, then refuses, and checks
// that every block it gave comes back to it exactly once.
struct CountingAllocator {
    int budget = 1 << 30;
    int allocated = 0;
    int refused = 0;
    std::set<void *> live;
    std::vector<void *> foreignFrees;

    static void *Alloc(uint32_t size, void *context) {
        auto *self = static_cast<CountingAllocator *>(context);
        if (self->budget == 0) {
            ++self->refused;
            return nullptr;
        }
        --self->budget;
        ++self->allocated;
        void *block = std::malloc(size);
        self->live.insert(block);
        return block;
    }
    static void Free(void *block, void *context) {
        auto *self = static_cast<CountingAllocator *>(context);
        if (self->live.erase(block) == 0)
            self->foreignFrees.push_back(block);
        std::free(block);
    }
};

struct GlueInstance {
    void *slots[kJpgAllocSlotCount] = {};
    CountingAllocator host;
    void *Alloc(uint32_t size) { return JpgMemAlloc(size, &CountingAllocator::Alloc, slots, &host); }
    void Free(void *block) { JpgMemFree(block, &CountingAllocator::Free, slots, &host); }
};

void ExpectAlignedWithDistance(void *block) {
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 16, 0u);
    uint32_t distance = static_cast<uint32_t *>(block)[-1];
    EXPECT_GE(distance, 1u);
    EXPECT_LE(distance, 16u);
}

TEST(MemoryGlue, HeapBlocksAreAlignedAndUsable) {
    for (uint32_t size : {0u, 1u, 15u, 16u, 17u, 4096u, 100001u}) {
        void *block = JpgMemAlloc(size, nullptr, nullptr, nullptr);
        ExpectAlignedWithDistance(block);
        std::memset(block, 0xA5, size);
        JpgMemFree(block, nullptr, nullptr, nullptr);
    }
    JpgMemFree(nullptr, nullptr, nullptr, nullptr);
}

TEST(MemoryGlue, HostAllocatorServesFirstEighteenLiveBlocks) {
    GlueInstance instance;
    std::vector<void *> blocks;
    for (int i = 0; i < 25; ++i) {
        blocks.push_back(instance.Alloc(100 + i));
        ExpectAlignedWithDistance(blocks.back());
    }
    EXPECT_EQ(instance.host.allocated, kJpgAllocSlotCount);
    EXPECT_EQ(instance.host.live.size(), size_t(kJpgAllocSlotCount));

    // Freeing one host block frees its slot for the next allocation.
    instance.Free(blocks[3]);
    blocks[3] = instance.Alloc(64);
    EXPECT_EQ(instance.host.allocated, kJpgAllocSlotCount + 1);

    for (void *block : blocks)
        instance.Free(block);
    EXPECT_TRUE(instance.host.live.empty());
    EXPECT_TRUE(instance.host.foreignFrees.empty());
    for (void *slot : instance.slots)
        EXPECT_EQ(slot, nullptr);
}

TEST(MemoryGlue, RefusingHostFallsBackToHeap) {
    for (int budget : {0, 1, 5}) {
        GlueInstance instance;
        instance.host.budget = budget;
        std::vector<void *> blocks;
        for (int i = 0; i < 10; ++i)
            blocks.push_back(instance.Alloc(32));
        for (void *block : blocks)
            ExpectAlignedWithDistance(block);
        EXPECT_EQ(instance.host.allocated, budget);
        EXPECT_EQ(instance.host.refused, 10 - budget);
        for (void *block : blocks)
            instance.Free(block);
        EXPECT_TRUE(instance.host.live.empty()) << "budget " << budget;
        EXPECT_TRUE(instance.host.foreignFrees.empty()) << "budget " << budget;
    }
}

// Records every call a stream callback receives.
struct StreamCall {
    uint32_t operation;
    void *stream;
    uint32_t first;
    uint32_t second;
    bool nullArgument;
};

std::vector<StreamCall> g_calls;

uint32_t RecordingStream(uint32_t operation, void *stream, void *argument) {
    StreamCall call{operation, stream, 0, 0, argument == nullptr};
    if (operation == VLTJPG_STREAM_READ || operation == VLTJPG_STREAM_WRITE) {
        auto *buffer = static_cast<vltJpgStreamBuffer *>(argument);
        call.first = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(buffer->buffer) & 0xFFFF);
        call.second = buffer->count;
    } else if (operation == VLTJPG_STREAM_SEEK) {
        auto *seek = static_cast<vltJpgStreamSeekArgs *>(argument);
        call.first = static_cast<uint32_t>(seek->origin);
        call.second = static_cast<uint32_t>(seek->offset);
    }
    g_calls.push_back(call);
    return 1000 + operation;
}

TEST(StreamGlue, CallbackSeesEachOperationWithItsArguments) {
    g_calls.clear();
    int streamToken = 0;
    void *stream = &streamToken;
    uint8_t buffer[8];
    uint32_t bufferLow = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(buffer) & 0xFFFF);

    EXPECT_EQ(JpgStreamRead(stream, buffer, 7, RecordingStream), 1000u);
    EXPECT_EQ(JpgStreamWrite(stream, buffer, 5, RecordingStream), 1001u);
    EXPECT_EQ(JpgStreamFlush(stream, RecordingStream), 1002u);
    EXPECT_EQ(JpgStreamSeek(stream, VLTJPG_SEEK_END, 0, RecordingStream), 1003u);
    EXPECT_EQ(JpgStreamSeek(stream, VLTJPG_SEEK_CUR, -3, RecordingStream), 1003u);
    EXPECT_EQ(JpgStreamTell(stream, RecordingStream), 1004u);

    ASSERT_EQ(g_calls.size(), 6u);
    for (const StreamCall &call : g_calls)
        EXPECT_EQ(call.stream, stream);
    EXPECT_EQ(g_calls[0].operation, 0u);
    EXPECT_EQ(g_calls[0].first, bufferLow);
    EXPECT_EQ(g_calls[0].second, 7u);
    EXPECT_EQ(g_calls[1].operation, 1u);
    EXPECT_EQ(g_calls[1].second, 5u);
    EXPECT_EQ(g_calls[2].operation, 2u);
    EXPECT_TRUE(g_calls[2].nullArgument);
    EXPECT_EQ(g_calls[3].operation, 3u);
    EXPECT_EQ(g_calls[3].first, 1u);
    EXPECT_EQ(g_calls[3].second, 0u);
    EXPECT_EQ(static_cast<int32_t>(g_calls[4].second), -3);
    EXPECT_EQ(g_calls[5].operation, 4u);
    EXPECT_TRUE(g_calls[5].nullArgument);
}

TEST(StreamGlue, NullStreamCallsNothing) {
    g_calls.clear();
    uint8_t buffer[4];
    EXPECT_EQ(JpgStreamRead(nullptr, buffer, 4, RecordingStream), 0u);
    EXPECT_EQ(JpgStreamWrite(nullptr, buffer, 4, RecordingStream), 0u);
    EXPECT_EQ(JpgStreamFlush(nullptr, RecordingStream), 0u);
    EXPECT_EQ(JpgStreamSeek(nullptr, 0, 0, RecordingStream), 0u);
    EXPECT_EQ(JpgStreamTell(nullptr, RecordingStream), 0u);
    EXPECT_TRUE(g_calls.empty());
}

TEST(StreamGlue, PlatformStreamsWithoutCallback) {
    uint8_t block[32];
    for (int i = 0; i < 32; ++i)
        block[i] = static_cast<uint8_t>(i);
    MStream *stream = MStreamOpenFromMemoryBlock(block, sizeof block);
    ASSERT_NE(stream, nullptr);
    uint8_t out[8] = {};
    EXPECT_EQ(JpgStreamSeek(stream, VLTJPG_SEEK_SET, 10, nullptr), 0u);
    EXPECT_EQ(JpgStreamRead(stream, out, 4, nullptr), 4u);
    EXPECT_EQ(out[0], 10);
    EXPECT_EQ(out[3], 13);
    EXPECT_EQ(JpgStreamTell(stream, nullptr), 14u);
    EXPECT_EQ(JpgStreamWrite(stream, out, 2, nullptr), 2u);
    EXPECT_EQ(block[14], 10);
    EXPECT_EQ(JpgStreamFlush(stream, nullptr), 1u);
    MStreamClose(stream);
}

TEST(VersionInfo, NumbersAlwaysTextWhenItFits) {
    uint32_t major = 7, minor = 7, build = 7;
    char text[12];

    std::memset(text, 'x', sizeof text);
    EXPECT_EQ(vltJpgGetVersionInfo(&major, &minor, &build, text, 9), VLTJPG_OK);
    EXPECT_EQ(std::memcmp(text, "08042009\0", 9), 0);
    EXPECT_EQ(text[9], 'x');
    EXPECT_EQ(major, 4u);
    EXPECT_EQ(minor, 0u);
    EXPECT_EQ(build, 0u);

    major = minor = build = 7;
    std::memset(text, 'x', sizeof text);
    EXPECT_EQ(vltJpgGetVersionInfo(&major, &minor, &build, text, 8), VLTJPG_ERR_ARGUMENT);
    EXPECT_EQ(text[0], 'x');
    EXPECT_EQ(major, 4u);

    major = minor = build = 7;
    EXPECT_EQ(vltJpgGetVersionInfo(&major, &minor, &build, nullptr, 0), VLTJPG_OK);
    EXPECT_EQ(build, 0u);

    EXPECT_EQ(vltJpgGetVersionInfo(nullptr, &minor, &build, text, 9), VLTJPG_ERR_ARGUMENT);
}

} // namespace
