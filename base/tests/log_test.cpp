// The platform context, logs and the trace: initialization and teardown,
// category masks, buffering and its threshold, dumps around the buffer
// size, the sticky write failure, message cutting and the trace filter.
#include "qvbase.h"
#include "temp_dir_test.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

namespace {

class LogFile : public TempDirTest {
protected:
    void TearDown() override {
        MPlatUninitialize();
        TempDirTest::TearDown();
    }
    std::string read(const std::string &name) const {
        std::ifstream in(path(name), std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    // What the log has handed to its stream (libc may still hold it).
    std::string written(MLog *log, const std::string &name) const {
        MStreamFlush(log->stream);
        return read(name);
    }
    MLog *open(const std::string &name) const {
        MLog *log = nullptr;
        MLogOpenS(path(name).c_str(), &log);
        EXPECT_NE(log, nullptr);
        return log;
    }
};

TEST_F(LogFile, InitializeWithNothingKeepsOnlyTheMasks) {
    const MPlatInitParams params = {};
    ASSERT_EQ(MPlatInitialize(&params), MPLAT_OK);
    __tag_context *context = MSTATIC_MGetContext();
    ASSERT_NE(context, nullptr);
    EXPECT_EQ(context->log, nullptr);
    EXPECT_EQ(context->debugStream, nullptr);
    EXPECT_EQ(context->idTable1, nullptr);
    testing::internal::CaptureStdout();
    MTraceS(0xFFFFFFFFu, "hidden");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(MPlatInitialize(&params), MPLAT_FAILED);
    EXPECT_EQ(MSTATIC_MGetContext(), context);
    EXPECT_EQ(MPlatUninitialize(), 0u);
    EXPECT_EQ(MPlatUninitialize(), 1u);
    EXPECT_EQ(MSTATIC_MGetContext(), nullptr);
    EXPECT_EQ(MGetAppMemInfo(), 3u);
    EXPECT_EQ(MPlatInitialize(nullptr), MPLAT_FAILED);
}

TEST_F(LogFile, AnUnopenableFileLeavesNoContext) {
    const std::string missing = path("no/such/file");
    const std::string good = path("good");
    const MPlatInitParams cases[] = {
        {0, 0, 0, missing.c_str(), 0, nullptr, 0},
        {0, 0, 0, good.c_str(), 0, missing.c_str(), 0},
    };
    for (const MPlatInitParams &params : cases) {
        EXPECT_EQ(MPlatInitialize(&params), MPLAT_FAILED);
        EXPECT_EQ(MSTATIC_MGetContext(), nullptr);
    }
}

TEST_F(LogFile, DefaultLogAppendsAndDebugStreamStartsAnew) {
    std::ofstream(path("log"), std::ios::binary) << "old ";
    std::ofstream(path("debug"), std::ios::binary) << "old content";
    const std::string log = path("log");
    const std::string debug = path("debug");
    const MPlatInitParams params = {28, 1, 0, debug.c_str(), 0x3, log.c_str(), 0};
    ASSERT_EQ(MPlatInitialize(&params), MPLAT_OK);
    MLogS(nullptr, 0x4, "dropped ");
    MLogS(nullptr, 0x2, "kept %d", 7);
    EXPECT_EQ(MPlatUninitialize(), 0u);
    EXPECT_EQ(read("log"), "old kept 7");
    EXPECT_EQ(read("debug"), "AADD");
}

TEST_F(LogFile, CategoryMaskAndEnabledFilterMessages) {
    MLog *log = open("log");
    MLogConfig config;
    MLogGetConfig(log, &config);
    EXPECT_EQ(config.recordSize, 16u);
    EXPECT_EQ(config.enabled, 1u);
    EXPECT_EQ(config.buffered, 1u);
    EXPECT_EQ(config.categoryMask, 0xFFFFFFFFu);
    config.categoryMask = 0x0F;
    MLogSetConfig(log, &config);
    MLogS(log, 0x10, "a");
    MLogS(log, 0x11, "b");
    config.enabled = 0;
    MLogSetConfig(log, &config);
    MLogS(log, 0x11, "c");
    MLogClose(log);
    EXPECT_EQ(read("log"), "b");
}

TEST_F(LogFile, BufferedTextWaitsForTheThresholdUnbufferedDoesNot) {
    MLog *log = open("log");
    const std::string line(MLOG_MESSAGE_MAX, 'x');
    for (uint32_t i = 0; i < MLOG_FLUSH_THRESHOLD / MLOG_MESSAGE_MAX; ++i)
        MLogS(log, 1, "%s", line.c_str());
    EXPECT_EQ(written(log, "log").size(), 0u);
    MLogS(log, 1, "y");
    EXPECT_EQ(written(log, "log").size(), MLOG_FLUSH_THRESHOLD);
    MLogConfig config = {16, 1, 0, 0xFFFFFFFFu};
    MLogSetConfig(log, &config);
    EXPECT_EQ(written(log, "log").size(), MLOG_FLUSH_THRESHOLD + 1);
    MLogS(log, 1, "z");
    EXPECT_EQ(written(log, "log").size(), MLOG_FLUSH_THRESHOLD + 2);
    MLogClose(log);
}

TEST_F(LogFile, LongMessagesAreCut) {
    MLog *log = open("log");
    const std::string text(5000, 'm');
    MLogS(log, 1, "%s", text.c_str());
    MLogS(log, 1, "!");
    MLogClose(log);
    EXPECT_EQ(read("log"), std::string(MLOG_MESSAGE_MAX, 'm') + "!");
}

TEST_F(LogFile, DumpsOfTheBufferSizeBypassTheBuffer) {
    const struct {
        uint32_t size;
        size_t fileAfterDump;
    } cases[] = {{MLOG_BUFFER_SIZE, 3 + MLOG_BUFFER_SIZE}, {MLOG_BUFFER_SIZE - 1, 3}, {100, 0}};
    for (const auto &c : cases) {
        std::remove(path("log").c_str());
        MLog *log = open("log");
        MLogS(log, 1, "abc");
        const std::string data(c.size, 'd');
        MLogDump(log, 1, data.data(), c.size);
        EXPECT_EQ(written(log, "log").size(), c.fileAfterDump) << c.size;
        MLogFlush(log);
        EXPECT_TRUE(written(log, "log") == "abc" + data) << c.size;
        MLogClose(log);
    }
}

// A stream over a fixed 8-byte block takes no more than 8 bytes, so the
// first write-out falls short; nothing is written after that even once
// the stream would take bytes again.
TEST_F(LogFile, AShortWriteStopsAllLaterWrites) {
    MLog *log = open("log");
    MStream *file = log->stream;
    char block[8] = {};
    log->stream = MStreamOpenFromMemoryBlock(block, sizeof block);
    MLogS(log, 1, "0123456789");
    MLogFlush(log);
    EXPECT_EQ(log->failed, 1u);
    MStreamSeek(log->stream, MSTREAM_SEEK_BEGIN, 0);
    MLogS(log, 1, "later");
    MLogDump(log, 1, "dump", 4);
    MLogFlush(log);
    EXPECT_EQ(std::string(block, sizeof block), "01234567");
    MLogClose(log);
    MStreamClose(file);
}

TEST_F(LogFile, TraceFollowsTheContextMaskAndIsCut) {
    testing::internal::CaptureStdout();
    MTraceS(0x4, "no context");
    const MPlatInitParams params = {0, 0, 0, nullptr, 0, nullptr, 0x6};
    ASSERT_EQ(MPlatInitialize(&params), MPLAT_OK);
    MTraceS(0x4, "shown %d;", 1);
    MTraceS(0x8, "hidden");
    MTraceS(0x2, "%s", std::string(300, 't').c_str());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "shown 1;" + std::string(MTRACE_MESSAGE_MAX, 't'));
}

} // namespace
