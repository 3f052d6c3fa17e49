// The debug stream and its ID tables: the file magic, ID and trace-data
// records byte for byte, registration by address and by contents, node
// overflow, masks, records too long for their length field, the unit-node
// functions, and many threads registering and tracing at once (this test
// also runs under ThreadSanitizer).
#include "qvbase.h"
#include "temp_dir_test.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Record {
    uint32_t type;
    std::vector<uint32_t> words;  // the body
    std::string text;             // of an ID record
};

uint32_t wordAt(const std::string &bytes, size_t at) {
    uint32_t word = 0;
    for (int i = 3; i >= 0; --i)
        word = word << 8 | static_cast<unsigned char>(bytes[at + i]);
    return word;
}

class DebugStream : public TempDirTest {
protected:
    std::string file_;

    void start(uint32_t debugMask, const char *logPath = nullptr) {
        file_ = path("debug");
        const MPlatInitParams params = {0, 0, debugMask, file_.c_str(), 0xFFFFFFFFu, logPath, 0};
        ASSERT_EQ(MPlatInitialize(&params), MPLAT_OK);
    }
    void TearDown() override {
        MPlatUninitialize();
        TempDirTest::TearDown();
    }
    std::string bytes() {
        MPlatUninitialize();
        std::ifstream in(file_, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    // Ends the context and splits its file into records, checking that
    // every record is whole.
    std::vector<Record> records() {
        const std::string file = bytes();
        EXPECT_EQ(file.substr(0, 4), "AADD");
        std::vector<Record> found;
        for (size_t at = 4; at < file.size();) {
            const uint32_t header = wordAt(file, at);
            const uint32_t length = header & 0xFFFF;
            EXPECT_TRUE(length >= 8 && length % 4 == 0 && at + length <= file.size()) << at;
            if (length < 8 || at + length > file.size())
                break;
            Record record = {header >> 16, {}, {}};
            for (size_t word = at + 4; word < at + length; word += 4)
                record.words.push_back(wordAt(file, word));
            if (record.type != MDEBUG_RECORD_TRACE_DATA) {
                record.text = file.substr(at + 8, length - 8);
                EXPECT_EQ(record.text.back(), '\0');
                record.text = record.text.c_str();
            }
            found.push_back(record);
            at += length;
        }
        return found;
    }
};

uint32_t low(uintptr_t id) { return static_cast<uint32_t>(id); }

TEST_F(DebugStream, AFiveCharacterIdRecordByteForByte) {
    start(0xFFFFFFFFu);
    const uintptr_t id = MSTATIC_MTableAddOneID(3, "abcde");
    ASSERT_NE(id, 0u);
    const std::string file = bytes();
    ASSERT_EQ(file.size(), 4u + 16u);
    EXPECT_EQ(wordAt(file, 4), 16u | 13u << 16);
    EXPECT_EQ(wordAt(file, 8), low(id));
    EXPECT_EQ(file.substr(12), std::string("abcde\0\0\0", 8));
}

TEST_F(DebugStream, KindThreeKeepsOneEntryPerTextKindOnePerAddress) {
    start(0xFFFFFFFFu);
    char first[] = "name";
    char second[] = "name";
    const uintptr_t byContents = MSTATIC_MTableAddOneID(3, first);
    EXPECT_EQ(MSTATIC_MTableAddOneID(3, second), byContents);
    EXPECT_NE(byContents, reinterpret_cast<uintptr_t>(first));
    EXPECT_EQ(MSTATIC_MTableAddOneID(1, first), reinterpret_cast<uintptr_t>(first));
    EXPECT_EQ(MSTATIC_MTableAddOneID(1, second), reinterpret_cast<uintptr_t>(second));
    EXPECT_EQ(MSTATIC_MTableAddOneID(1, first), reinterpret_cast<uintptr_t>(first));
    EXPECT_EQ(MSTATIC_MTableAddOneID(4, first), 0u);
    EXPECT_EQ(MSTATIC_MTableAddOneID(2, nullptr), 0u);
    const std::vector<Record> found = records();
    ASSERT_EQ(found.size(), 3u);
    const uint32_t types[] = {13, 11, 11};
    const uintptr_t ids[] = {byContents, reinterpret_cast<uintptr_t>(first), reinterpret_cast<uintptr_t>(second)};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(found[i].type, types[i]);
        EXPECT_EQ(found[i].words[0], low(ids[i]));
        EXPECT_EQ(found[i].text, "name");
    }
}

TEST_F(DebugStream, FullNodesOverflowIntoNewNodes) {
    start(0xFFFFFFFFu);
    static char strings[257][4];
    for (int i = 0; i < 257; ++i) {
        std::snprintf(strings[i], sizeof strings[i], "%d", i);
        ASSERT_NE(MSTATIC_MTableAddOneID(1, strings[i]), 0u);
    }
    const __tag_context *context = MSTATIC_MGetContext();
    EXPECT_EQ(context->idTable1->count, 256u);
    ASSERT_NE(context->idTable1->next, nullptr);
    EXPECT_EQ(context->idTable1->next->entries[0], strings[256]);

    // Kind 3 runs out of storage first; a text longer than a node's storage
    // gets a node of its own.
    const std::string texts[] = {std::string(3000, 'a'), std::string(3000, 'b'), std::string(3000, 'c'),
                                 std::string(9000, 'd')};
    for (const std::string &text : texts)
        EXPECT_STREQ(reinterpret_cast<const char *>(MSTATIC_MTableAddOneID(3, text.c_str())), text.c_str());
    const MIdNode *node = context->idTable3;
    const uint32_t counts[] = {2, 1, 1};
    for (uint32_t count : counts) {
        ASSERT_NE(node, nullptr);
        EXPECT_EQ(node->count, count);
        node = node->next;
    }
    EXPECT_EQ(node, nullptr);
    EXPECT_EQ(records().size(), 261u);
}

TEST_F(DebugStream, TraceDataRecordsAndMasks) {
    uint32_t data[40];
    for (uint32_t i = 0; i < 40; ++i)
        data[i] = 0xA0000000u + i;
    const struct {
        uint32_t debugMask;
        uint32_t traceMask;
        uint32_t count;
        size_t records;  // the ID record, then the trace record if kept
    } cases[] = {{0xFFFFFFFFu, 1, 0, 2}, {0xFFFFFFFFu, 1, 40, 2}, {0x1, 0x2, 40, 1}, {0, 0xFFFFFFFFu, 0, 0}};
    for (const auto &c : cases) {
        start(c.debugMask);
        MSTATIC_MTableAddOneID(3, "id");
        MSTATIC_MLogTraceData(c.traceMask, 1, 2, 3, 4, data, c.count);
        const std::vector<Record> found = records();
        ASSERT_EQ(found.size(), c.records) << c.debugMask;
        if (c.records < 2)
            continue;
        const Record &trace = found[1];
        EXPECT_EQ(trace.type, MDEBUG_RECORD_TRACE_DATA);
        ASSERT_EQ(trace.words.size(), 4 + c.count);
        EXPECT_EQ(std::vector<uint32_t>(trace.words.begin(), trace.words.begin() + 4),
                  (std::vector<uint32_t>{1, 2, 3, 4}));
        EXPECT_EQ(std::vector<uint32_t>(trace.words.begin() + 4, trace.words.end()),
                  std::vector<uint32_t>(data, data + c.count));
    }
}

// A text is cut to what the 16-bit length holds; trace data that would not
// fit is not written. Either way the records after it stay whole.
TEST_F(DebugStream, RecordsTooLongForTheLengthFieldKeepTheStreamParseable) {
    start(0xFFFFFFFFu);
    const std::string longest(65523, 'x');
    const std::string tooLong(70000, 'y');
    std::vector<uint32_t> words(16379, 7);
    EXPECT_NE(MSTATIC_MTableAddOneID(3, longest.c_str()), 0u);
    EXPECT_NE(MSTATIC_MTableAddOneID(3, tooLong.c_str()), 0u);
    MSTATIC_MLogTraceData(1, 0, 0, 0, 0, words.data(), 16379);
    MSTATIC_MLogTraceData(1, 0, 0, 0, 0, words.data(), 16378);
    MSTATIC_MTableAddOneID(3, "after");
    const std::vector<Record> found = records();
    ASSERT_EQ(found.size(), 4u);
    EXPECT_EQ(found[0].text, longest);
    EXPECT_EQ(found[1].text, tooLong.substr(0, 65523));
    EXPECT_EQ(found[2].words.size(), 4u + 16378u);
    EXPECT_EQ(found[3].text, "after");
}

TEST(UnitNode, PairsAreStoredFoundAndAssembledFromAnImage) {
    auto *chain = static_cast<MUnitNode *>(MSTATIC_MTableNewOneNode(MDEBUG_FORM_UNIT_NODE, MDEBUG_NODE_STORAGE));
    ASSERT_NE(chain, nullptr);
    const std::string big(9000, 'b');
    MSTATIC_MTableAssembleOneUnit(chain, 7, "seven", 6);
    MSTATIC_MTableAssembleOneUnit(chain, 9, big.c_str(), static_cast<uint32_t>(big.size() + 1));
    void *node = nullptr;
    uint32_t index = 9;
    const struct {
        uintptr_t id;
        const char *text;
    } expected[] = {{7, "seven"}, {9, big.c_str()}};
    for (const auto &e : expected) {
        ASSERT_EQ(MSTATIC_MTableIDExists(2, chain, reinterpret_cast<void *>(e.id), &node, &index), 1u);
        EXPECT_STREQ(static_cast<MUnitNode *>(node)->inner->entries[index], e.text);
    }
    EXPECT_EQ(MSTATIC_MTableIDExists(2, chain, reinterpret_cast<void *>(8), nullptr, &index), 0u);

    // A loaded image: IDs in the entries, strings back to back in storage,
    // and a third entry whose string runs past the end of the storage.
    auto *image = static_cast<MUnitNode *>(MSTATIC_MTableNewOneNode(MDEBUG_FORM_UNIT_NODE, sizeof(MIdNode) + 8));
    ASSERT_NE(image, nullptr);
    image->inner->count = 3;
    image->inner->entries[0] = reinterpret_cast<const char *>(0x11);
    image->inner->entries[1] = reinterpret_cast<const char *>(0x22);
    std::memcpy(reinterpret_cast<char *>(image->inner + 1), "ab\0cd\0ef", 8);
    MSTATIC_MTableAssembleOneNode(image);
    EXPECT_EQ(image->inner->count, 2u);
    EXPECT_EQ(image->ids[0], 0x11u);
    EXPECT_EQ(image->ids[1], 0x22u);
    EXPECT_STREQ(image->inner->entries[1], "cd");
    MSTATIC_MTableAddOneNode(MDEBUG_FORM_UNIT_NODE, chain, image);
    EXPECT_EQ(MSTATIC_MTableIDExists(2, chain, reinterpret_cast<void *>(0x22), nullptr, &index), 1u);
    MSTATIC_MTableReMoveAll(MDEBUG_FORM_UNIT_NODE, chain);
}

// Every thread registers shared and own texts, traces their IDs and logs a
// line to the default log. The debug file then holds every record whole,
// one ID record per distinct text, and every traced ID after the record
// that defines it; the log holds every line whole.
TEST_F(DebugStream, ThreadsRegisterAndTraceAtOnce) {
    const std::string log = path("log");
    start(0xFFFFFFFFu, log.c_str());
    constexpr int kThreads = 4;
    constexpr int kRounds = 100;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int round = 0; round < kRounds; ++round) {
                const std::string shared = "shared " + std::to_string(round % 10);
                const std::string own = "thread " + std::to_string(t) + " " + std::to_string(round % 20);
                const uint32_t ids[] = {low(MSTATIC_MTableAddOneID(3, shared.c_str())),
                                        low(MSTATIC_MTableAddOneID(3, own.c_str()))};
                MSTATIC_MLogTraceData(1, static_cast<uint32_t>(t), static_cast<uint32_t>(round), 0, 0, ids, 2);
                MLogS(nullptr, 1, "thread %d round %03d\n", t, round);
            }
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    std::set<std::string> texts;
    std::set<uint32_t> defined;
    size_t traces = 0;
    for (const Record &record : records()) {
        if (record.type == MDEBUG_RECORD_TRACE_DATA) {
            ASSERT_EQ(record.words.size(), 6u);
            EXPECT_TRUE(defined.count(record.words[4]) && defined.count(record.words[5]));
            ++traces;
        } else {
            EXPECT_TRUE(texts.insert(record.text).second) << record.text;
            defined.insert(record.words[0]);
        }
    }
    EXPECT_EQ(texts.size(), 10u + kThreads * 20u);
    EXPECT_EQ(traces, size_t{kThreads} * kRounds);
    std::ifstream lines(log);
    size_t logged = 0;
    for (std::string line; std::getline(lines, line); ++logged)
        EXPECT_EQ(line.size(), 18u) << line;
    EXPECT_EQ(logged, size_t{kThreads} * kRounds);
}

} // namespace
