// A host that links neither library: it loads libqvbase with global symbol
// visibility, then libqvjpeg, whose platform references must resolve
// against the first, and calls the codec through dlsym.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

namespace {

using VersionInfo = uint32_t (*)(uint32_t *, uint32_t *, uint32_t *, char *, uint32_t);

TEST(LibraryLoading, CodecResolvesPlatformLoadedGlobally) {
    void *base = dlopen(QVBASE_PATH, RTLD_NOW | RTLD_GLOBAL);
    ASSERT_NE(base, nullptr) << dlerror();
    void *codec = dlopen(QVJPEG_PATH, RTLD_NOW);
    ASSERT_NE(codec, nullptr) << dlerror();

    auto version = reinterpret_cast<VersionInfo>(dlsym(codec, "vltJpgGetVersionInfo"));
    ASSERT_NE(version, nullptr);
    uint32_t major = 9, minor = 9, build = 9;
    char text[16];
    std::memset(text, 'x', sizeof text);
    EXPECT_EQ(version(&major, &minor, &build, text, sizeof text), 0u);
    EXPECT_EQ(major, 4u);
    EXPECT_EQ(minor, 0u);
    EXPECT_EQ(build, 0u);
    EXPECT_STREQ(text, "08042009");

    EXPECT_EQ(dlclose(codec), 0);
    EXPECT_EQ(dlclose(base), 0);
}

TEST(LibraryLoading, CodecAloneDoesNotLoad) {
    // Without libqvbase in the process the codec's platform references stay
    // unresolved, which proves it does not pull libqvbase in by itself.
    void *codec = dlopen(QVJPEG_PATH, RTLD_NOW | RTLD_LOCAL);
    EXPECT_EQ(codec, nullptr);
    if (codec)
        dlclose(codec);
}

} // namespace
