// Heap routing, the libc-shaped memory helpers, huge blocks and executable
// code buffers.
#include "qvbase.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

TEST(MemoryHeap, NullManagerAllocatesResizesAndFreesFromTheHeap) {
    auto *block = static_cast<unsigned char *>(MMemAlloc(nullptr, 64));
    ASSERT_NE(block, nullptr);
    for (int i = 0; i < 64; ++i)
        block[i] = static_cast<unsigned char>(i);
    auto *grown = static_cast<unsigned char *>(MMemRealloc(nullptr, block, 100000));
    ASSERT_NE(grown, nullptr);
    for (int i = 0; i < 64; ++i)
        ASSERT_EQ(grown[i], i);
    grown[99999] = 7; // the whole new size is usable
    MMemFree(nullptr, grown);
    MMemFree(nullptr, nullptr); // like free(NULL)
}

TEST(MemoryHelpers, BehaveLikeLibcAndReturnTheDestination) {
    char buffer[16] = "abcdefghijklmno";
    EXPECT_EQ(MMemSet(buffer, 'x', 3), buffer);
    EXPECT_EQ(std::string(buffer), "xxxdefghijklmno");
    EXPECT_EQ(MMemCpy(buffer, "12", 2), buffer);
    EXPECT_EQ(std::string(buffer), "12xdefghijklmno");
    // Overlapping move to the right keeps the source bytes intact.
    EXPECT_EQ(MMemMove(buffer + 2, buffer, 5), buffer + 2);
    EXPECT_EQ(std::string(buffer), "1212xdehijklmno");
    EXPECT_EQ(MMemCmp("abc", "abc", 3), 0);
    EXPECT_LT(MMemCmp("abc", "abd", 3), 0);
    EXPECT_GT(MMemCmp("\xff", "\x01", 1), 0); // bytes compare unsigned
    EXPECT_EQ(MMemCmp("abc", "xyz", 0), 0);
    EXPECT_EQ(MMemSet(buffer, 0x141, 1), buffer); // only the low byte is stored
    EXPECT_EQ(static_cast<unsigned char>(buffer[0]), 0x41);
}

TEST(MemoryHuge, IgnoresTheManagerAndAlwaysUsesTheHeap) {
    // Any non-null handle would normally select a pool; huge memory ignores
    // it, so a bogus handle must never be dereferenced.
    MMemMgr notAPool = reinterpret_cast<MMemMgr>(static_cast<uintptr_t>(0x10));
    auto *block = static_cast<char *>(MHugeMemAlloc(notAPool, 1 << 20));
    ASSERT_NE(block, nullptr);
    std::memset(block, 'h', 1 << 20);
    EXPECT_EQ(MHugeMemLock(notAPool, block), block);
    MHugeMemUnlock(notAPool, block);
    auto *grown = static_cast<char *>(MHugeMemReAlloc(notAPool, block, 2 << 20));
    ASSERT_NE(grown, nullptr);
    EXPECT_EQ(grown[(1 << 20) - 1], 'h');
    // It is a plain heap block: libc may release it.
    std::free(grown);
    void *viaNull = MHugeMemAlloc(nullptr, 16);
    ASSERT_NE(viaNull, nullptr);
    MHugeMemFree(notAPool, viaNull);
}

// The protection of the mapping that holds `address`, e.g. "r-xp".
std::string protectionOf(const void *address) {
    FILE *maps = std::fopen("/proc/self/maps", "r");
    if (!maps)
        return "";
    auto where = reinterpret_cast<uintptr_t>(address);
    char line[512];
    std::string found;
    while (found.empty() && std::fgets(line, sizeof line, maps)) {
        unsigned long start = 0, end = 0;
        char perms[8] = {};
        if (std::sscanf(line, "%lx-%lx %7s", &start, &end, perms) == 3 && where >= start && where < end)
            found = perms;
    }
    std::fclose(maps);
    return found;
}

// A function that returns 42, as machine code for the build's processor.
#if defined(__x86_64__) || defined(__i386__)
#define HAVE_RETURN42 1
const unsigned char kReturn42[] = {0xB8, 0x2A, 0x00, 0x00, 0x00, 0xC3}; // mov eax, 42; ret
#elif defined(__aarch64__)
#define HAVE_RETURN42 1
const uint32_t kReturn42[] = {0x52800540, 0xD65F03C0}; // mov w0, #42; ret
#elif defined(__arm__) // A-32 code; a call through a pointer interworks from Thumb
#define HAVE_RETURN42 1
const uint32_t kReturn42[] = {0xE3A0002A, 0xE12FFF1E}; // mov r0, #42; bx lr
#endif

TEST(MemoryCode, ZeroSizeAndNullHandlesAreRefused) {
    EXPECT_EQ(MCodeAlloc(0), nullptr);
    EXPECT_EQ(MCodeLock(nullptr, 16), nullptr);
    EXPECT_NE(MCodeUnlock(nullptr), 0);
    MCodeFree(nullptr);
}

TEST(MemoryCode, WrittenCodeBecomesExecutableAndReadOnly) {
    MCodeBlock *code = MCodeAlloc(4096);
    ASSERT_NE(code, nullptr);
    ASSERT_NE(code->address, nullptr);
    EXPECT_EQ(code->size, 4096u);
    EXPECT_EQ(protectionOf(code->address).substr(0, 3), "rw-");
    void *locked = MCodeLock(code, 4096);
    if (locked) { // mlock may be refused by a low RLIMIT_MEMLOCK
        EXPECT_EQ(locked, code->address);
    }
#ifdef HAVE_RETURN42
    std::memcpy(code->address, kReturn42, sizeof kReturn42);
#endif
    EXPECT_EQ(MCodeUnlock(code), 0);
    EXPECT_EQ(protectionOf(code->address).substr(0, 3), "r-x");
#ifdef HAVE_RETURN42
    auto *function = reinterpret_cast<int (*)()>(code->address);
    EXPECT_EQ(function(), 42);
#endif
    void *address = code->address;
    MCodeFree(code);
    EXPECT_EQ(protectionOf(address), ""); // unmapped
}

} // namespace
