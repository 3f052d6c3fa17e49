// Memory streams (caller's blocks and growing chunk lists), file streams in
// every open mode, stream copies and whole-file operations.
#include "qvbase.h"
#include "temp_dir_test.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace {

std::vector<unsigned char> pattern(size_t size, unsigned seed = 1) {
    std::vector<unsigned char> bytes(size);
    std::mt19937 random(seed);
    for (auto &byte : bytes)
        byte = static_cast<unsigned char>(random());
    return bytes;
}

std::vector<unsigned char> readAll(MStream *stream, uint32_t n) {
    std::vector<unsigned char> bytes(n);
    bytes.resize(MStreamRead(stream, bytes.data(), n));
    return bytes;
}

int chunkCount(const MStream *stream) {
    int count = 0;
    for (MStreamChunk *chunk = stream->chunkList->first; chunk; chunk = chunk->next)
        ++count;
    return count;
}

// ---- Library-owned memory streams ----

TEST(MemoryStreamOwned, StartsEmptyWithAFirstChunkOfAtMostOneChunkSize) {
    for (uint32_t hint : {0u, 100000u, 16384u}) {
        MStream *stream = MStreamOpenFromMemoryBlock(nullptr, hint);
        ASSERT_NE(stream, nullptr);
        EXPECT_EQ(stream->kind, MSTREAM_KIND_MEMORY);
        EXPECT_EQ(stream->chunkCapacity, MSTREAM_CHUNK_SIZE) << hint;
        EXPECT_EQ(MStreamGetSize(stream), 0);
        EXPECT_EQ(MStreamTell(stream), 0);
        unsigned char byte;
        EXPECT_EQ(MStreamRead(stream, &byte, 1), 0u);
        EXPECT_EQ(MStreamClose(stream), 1u);
    }
    MStream *small = MStreamOpenFromMemoryBlock(nullptr, 100);
    ASSERT_NE(small, nullptr);
    EXPECT_EQ(small->chunkCapacity, 100);
    MStreamClose(small);
}

TEST(MemoryStreamOwned, GrowsByWholeChunksAndReadsBackWhatWasWritten) {
    MStream *stream = MStreamOpenFromMemoryBlock(nullptr, 0);
    ASSERT_NE(stream, nullptr);
    auto data = pattern(40000);
    EXPECT_EQ(MStreamWrite(stream, data.data(), 40000), 40000u);
    EXPECT_EQ(chunkCount(stream), 3);
    EXPECT_EQ(stream->chunkList->first->next->capacity, MSTREAM_CHUNK_SIZE);
    EXPECT_EQ(MStreamGetSize(stream), 40000);
    EXPECT_EQ(MStreamTell(stream), 40000);
    EXPECT_EQ(MStreamSeek(stream, MSTREAM_SEEK_BEGIN, 0), 0);
    EXPECT_EQ(readAll(stream, 50000), data); // cut at the logical size
    EXPECT_EQ(MStreamRead(stream, data.data(), 1), 0u);
    MStreamClose(stream);
}

TEST(MemoryStreamOwned, SmallFirstChunkIsFollowedByFullChunks) {
    MStream *stream = MStreamOpenFromMemoryBlock(nullptr, 100);
    ASSERT_NE(stream, nullptr);
    auto data = pattern(300);
    EXPECT_EQ(MStreamWrite(stream, data.data(), 300), 300u);
    EXPECT_EQ(chunkCount(stream), 2);
    EXPECT_EQ(stream->chunkList->current, stream->chunkList->first->next);
    EXPECT_EQ(stream->chunkPos, 200);
    MStreamSeek(stream, MSTREAM_SEEK_BEGIN, 50);
    EXPECT_EQ(readAll(stream, 300), std::vector<unsigned char>(data.begin() + 50, data.end()));
    MStreamClose(stream);
}

TEST(MemoryStreamOwned, SeekToAChunkBoundaryStaysInTheChunkThenWritesIntoTheNext) {
    MStream *stream = MStreamOpenFromMemoryBlock(nullptr, 0);
    ASSERT_NE(stream, nullptr);
    auto data = pattern(40000);
    MStreamWrite(stream, data.data(), 40000);
    MStreamChunk *first = stream->chunkList->first;
    MStreamChunk *second = first->next;

    EXPECT_EQ(MStreamSeek(stream, MSTREAM_SEEK_BEGIN, MSTREAM_CHUNK_SIZE), 0);
    EXPECT_EQ(stream->chunkList->current, first);
    EXPECT_EQ(stream->chunkPos, MSTREAM_CHUNK_SIZE);
    EXPECT_EQ(MStreamTell(stream), MSTREAM_CHUNK_SIZE);

    const unsigned char patch[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    EXPECT_EQ(MStreamWrite(stream, patch, 10), 10u);
    EXPECT_EQ(stream->chunkList->current, second); // reused, not reallocated
    EXPECT_EQ(stream->chunkPos, 10);
    EXPECT_EQ(chunkCount(stream), 3);
    EXPECT_EQ(MStreamGetSize(stream), 40000); // overwriting does not grow

    std::copy(patch, patch + 10, data.begin() + MSTREAM_CHUNK_SIZE);
    MStreamSeek(stream, MSTREAM_SEEK_BEGIN, 0);
    EXPECT_EQ(readAll(stream, 40000), data);
    MStreamClose(stream);
}

TEST(MemoryStreamOwned, SeeksClampToTheData) {
    MStream *stream = MStreamOpenFromMemoryBlock(nullptr, 0);
    ASSERT_NE(stream, nullptr);
    auto data = pattern(20000);
    MStreamWrite(stream, data.data(), 20000);

    EXPECT_EQ(MStreamSeek(stream, MSTREAM_SEEK_END, 5), 0);
    EXPECT_EQ(MStreamTell(stream), 20000);
    EXPECT_EQ(MStreamSeek(stream, MSTREAM_SEEK_END, -20), 0);
    EXPECT_EQ(MStreamTell(stream), 19980);
    MStreamSeek(stream, MSTREAM_SEEK_BEGIN, 10);
    EXPECT_EQ(MStreamSeek(stream, MSTREAM_SEEK_CURRENT, -1000), 0);
    EXPECT_EQ(MStreamTell(stream), 0);
    EXPECT_EQ(MStreamSeek(stream, MSTREAM_SEEK_BEGIN, 30000), 0);
    EXPECT_EQ(MStreamTell(stream), 20000);
    EXPECT_EQ(MStreamSeek(stream, MSTREAM_SEEK_BEGIN, -1), 0);
    EXPECT_EQ(MStreamTell(stream), 0);
    MStreamSeek(stream, MSTREAM_SEEK_BEGIN, 17000);
    EXPECT_EQ(MStreamSeek(stream, MSTREAM_SEEK_CURRENT, -2000), 0);
    EXPECT_EQ(MStreamTell(stream), 15000);
    // Extreme offsets must not overflow the arithmetic.
    EXPECT_EQ(MStreamSeek(stream, MSTREAM_SEEK_END, INT32_MAX), 0);
    EXPECT_EQ(MStreamTell(stream), 20000);
    EXPECT_EQ(MStreamSeek(stream, MSTREAM_SEEK_CURRENT, INT32_MIN), 0);
    EXPECT_EQ(MStreamTell(stream), 0);

    MStreamSeek(stream, MSTREAM_SEEK_BEGIN, 123);
    EXPECT_EQ(MStreamSeek(stream, 3, 0), 1);
    EXPECT_EQ(MStreamSeek(stream, -1, 0), 1);
    EXPECT_EQ(MStreamTell(stream), 123);
    MStreamClose(stream);
}

TEST(MemoryStreamOwned, RandomWritesSeeksAndReadsMatchAPlainBuffer) {
    MStream *stream = MStreamOpenFromMemoryBlock(nullptr, 1000);
    ASSERT_NE(stream, nullptr);
    std::vector<unsigned char> model;
    size_t position = 0;
    std::mt19937 random(7);
    for (int step = 0; step < 400; ++step) {
        uint32_t length = random() % 9000;
        switch (random() % 3) {
        case 0: {
            auto bytes = pattern(length, step);
            ASSERT_EQ(MStreamWrite(stream, bytes.data(), length), length);
            if (model.size() < position + length)
                model.resize(position + length);
            std::copy(bytes.begin(), bytes.end(), model.begin() + position);
            position += length;
            break;
        }
        case 1: {
            size_t expected = std::min<size_t>(length, model.size() - position);
            auto bytes = readAll(stream, length);
            ASSERT_EQ(bytes, std::vector<unsigned char>(model.begin() + position,
                                                        model.begin() + position + expected));
            position += expected;
            break;
        }
        default:
            position = model.empty() ? 0 : random() % (model.size() + 1);
            ASSERT_EQ(MStreamSeek(stream, MSTREAM_SEEK_BEGIN, static_cast<int32_t>(position)), 0);
        }
        ASSERT_EQ(MStreamTell(stream), static_cast<int32_t>(position));
        ASSERT_EQ(MStreamGetSize(stream), static_cast<int32_t>(model.size()));
    }
    MStreamClose(stream);
}

TEST(MemoryStreamOwned, SetSizeOnlyShortensAndKeepsThePosition) {
    MStream *stream = MStreamOpenFromMemoryBlock(nullptr, 0);
    ASSERT_NE(stream, nullptr);
    auto data = pattern(100);
    MStreamWrite(stream, data.data(), 100);
    EXPECT_EQ(MStreamSetSize(stream, 500), 100);
    MStreamSeek(stream, MSTREAM_SEEK_BEGIN, 30);
    EXPECT_EQ(MStreamSetSize(stream, 40), 40);
    EXPECT_EQ(MStreamTell(stream), 30);
    EXPECT_EQ(readAll(stream, 100).size(), 10u); // reads stop at the new size
    MStreamSeek(stream, MSTREAM_SEEK_BEGIN, 0);
    EXPECT_EQ(MStreamSetSize(stream, 20), 20);
    MStreamSeek(stream, MSTREAM_SEEK_END, 0);
    EXPECT_EQ(MStreamTell(stream), 20);
    EXPECT_EQ(MStreamSetSize(stream, -5), 0);
    EXPECT_EQ(MStreamGetSize(stream), 0);
    MStreamClose(stream);
}

TEST(MemoryStreamOwned, PositionPastAShortenedSizeReadsNothingAndWritesExtend) {
    MStream *stream = MStreamOpenFromMemoryBlock(nullptr, 0);
    ASSERT_NE(stream, nullptr);
    auto data = pattern(100);
    MStreamWrite(stream, data.data(), 100);
    MStreamSetSize(stream, 10);
    EXPECT_EQ(MStreamTell(stream), 100);
    EXPECT_EQ(readAll(stream, 5).size(), 0u);
    EXPECT_EQ(MStreamWrite(stream, data.data(), 5), 5u);
    EXPECT_EQ(MStreamGetSize(stream), 105);
    MStreamClose(stream);
}

// ---- Memory streams over a caller's block ----

TEST(MemoryStreamBlock, StartsFullAtOffsetZeroAndNeverGrows) {
    auto block = pattern(100);
    auto original = block;
    MStream *stream = MStreamOpenFromMemoryBlock(block.data(), 100);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(stream->chunkList, nullptr);
    EXPECT_EQ(MStreamGetSize(stream), 100);
    EXPECT_EQ(MStreamTell(stream), 0);
    EXPECT_EQ(readAll(stream, 40), std::vector<unsigned char>(original.begin(), original.begin() + 40));

    MStreamSeek(stream, MSTREAM_SEEK_BEGIN, 0);
    auto data = pattern(150, 2);
    EXPECT_EQ(MStreamWrite(stream, data.data(), 150), 100u);
    EXPECT_EQ(block, std::vector<unsigned char>(data.begin(), data.begin() + 100));
    EXPECT_EQ(MStreamWrite(stream, data.data(), 1), 0u);
    EXPECT_EQ(MStreamGetSize(stream), 100);
    EXPECT_EQ(MStreamTell(stream), 100);
    EXPECT_EQ(MStreamClose(stream), 1u);
    EXPECT_EQ(block[0], data[0]); // the block stays the caller's
}

TEST(MemoryStreamBlock, ReadsToTheEndOfTheBlockWhateverTheSize) {
    auto block = pattern(100);
    MStream *stream = MStreamOpenFromMemoryBlock(block.data(), 100);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(MStreamSetSize(stream, 10), 10);
    EXPECT_EQ(readAll(stream, 200), block);
    // Seeks are still bounded by the logical size.
    MStreamSeek(stream, MSTREAM_SEEK_END, 0);
    EXPECT_EQ(MStreamTell(stream), 10);
    MStreamClose(stream);
}

TEST(MemoryStreamBlock, EmptyAndOversizedBlocks) {
    char byte = 'x';
    MStream *empty = MStreamOpenFromMemoryBlock(&byte, 0);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(MStreamWrite(empty, "abc", 3), 0u);
    EXPECT_EQ(MStreamRead(empty, &byte, 1), 0u);
    EXPECT_EQ(byte, 'x');
    MStreamClose(empty);
    // Sizes beyond the 32-bit signed range cannot be described by the record.
    EXPECT_EQ(MStreamOpenFromMemoryBlock(&byte, 0x80000000u), nullptr);
}

// ---- Kinds, null handles and the memory halves ----

TEST(StreamDispatch, UnknownKindsAndNullHandlesDoNothing) {
    MStream odd = {};
    odd.kind = 7;
    char buffer[4] = {};
    for (MStream *stream : {&odd, static_cast<MStream *>(nullptr)}) {
        EXPECT_EQ(MStreamRead(stream, buffer, 4), 0u);
        EXPECT_EQ(MStreamWrite(stream, buffer, 4), 0u);
        EXPECT_EQ(MStreamSeek(stream, 0, 0), 0);
        EXPECT_EQ(MStreamTell(stream), 0);
        EXPECT_EQ(MStreamFlush(stream), 0u);
        EXPECT_EQ(MStreamGetSize(stream), 0);
        EXPECT_EQ(MStreamSetSize(stream, 0), 0);
        EXPECT_EQ(MStreamClose(stream), 0u);
    }
}

TEST(StreamDispatch, MemoryHalvesRefuseOtherKinds) {
    MStream odd = {};
    odd.kind = MSTREAM_KIND_FILE;
    char buffer[4] = {};
    EXPECT_EQ(QVStreamMemRead(&odd, buffer, 4), 0u);
    EXPECT_EQ(QVStreamMemWrite(&odd, buffer, 4), 0u);
    EXPECT_EQ(QVStreamMemSeek(&odd, 0, 0), 1);
    EXPECT_EQ(QVStreamMemTell(&odd), 0);
    EXPECT_EQ(QVStreamMemGetSize(&odd), 0);
    EXPECT_EQ(QVStreamMemClose(&odd), 0u);
}

TEST(StreamDispatch, MemoryHalvesMatchTheGenericOperations) {
    MStream *stream = MStreamOpenFromMemoryBlock(nullptr, 0);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(QVStreamMemWrite(stream, "hello", 5), 5u);
    EXPECT_EQ(QVStreamMemGetSize(stream), 5);
    EXPECT_EQ(QVStreamMemSeek(stream, MSTREAM_SEEK_BEGIN, 1), 0);
    EXPECT_EQ(QVStreamMemTell(stream), 1);
    char text[4] = {};
    EXPECT_EQ(QVStreamMemRead(stream, text, 3), 3u);
    EXPECT_EQ(std::string(text, 3), "ell");
    EXPECT_EQ(MStreamFlush(stream), 1u);
    EXPECT_EQ(QVStreamMemClose(stream), 1u);
}

// ---- File streams ----

class FileStreams : public TempDirTest {
protected:
    void writeFile(const std::string &name, const std::string &content) const {
        std::ofstream(path(name), std::ios::binary) << content;
    }

    std::string fileContent(const std::string &name) const {
        std::ifstream in(path(name), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    bool exists(const std::string &name) const { return std::filesystem::exists(path(name)); }

    // Writes `initial` to a file, opens it in `mode`, hands the stream to
    // `edit`, closes it and returns what the file then holds.
    template <typename Edit> std::string editFile(const std::string &initial, uint32_t mode, Edit edit) {
        writeFile("edited", initial);
        MStream *stream = MStreamOpenFromFileS(path("edited").c_str(), mode);
        if (!stream)
            return "(open failed)";
        edit(stream);
        EXPECT_EQ(MStreamClose(stream), 1u);
        return fileContent("edited");
    }

    bool createsMissingFile(uint32_t mode) const {
        std::string name = path("created" + std::to_string(mode));
        MStream *stream = MStreamOpenFromFileS(name.c_str(), mode);
        if (stream)
            MStreamClose(stream);
        return stream != nullptr && std::filesystem::exists(name);
    }

    static std::string readText(MStream *stream, uint32_t n) {
        std::string text(n, '\0');
        text.resize(MStreamRead(stream, text.data(), n));
        return text;
    }

    static std::vector<MWChar> wide(const std::string &text) {
        std::vector<MWChar> units(text.begin(), text.end());
        units.push_back(0);
        return units;
    }
};

TEST_F(FileStreams, ReadModeNeedsAnExistingFileAndDoesNotWrite) {
    // 1 and any value outside 1..6 open for reading.
    for (uint32_t mode : {1u, 0u, 7u, 0xFFFFFFFFu}) {
        EXPECT_EQ(editFile("0123456789", mode, [](MStream *stream) {
                      EXPECT_EQ(stream->kind, MSTREAM_KIND_FILE);
                      EXPECT_EQ(readText(stream, 4), "0123");
                      EXPECT_EQ(MStreamWrite(stream, "x", 1), 0u);
                  }),
                  "0123456789")
            << mode;
        EXPECT_FALSE(createsMissingFile(mode)) << mode;
    }
}

// Each mode on an existing file: what `edit` sees and what the file holds
// afterwards.
TEST_F(FileStreams, WriteModeCreatesOrTruncates) {
    EXPECT_EQ(editFile("old content", MSTREAM_MODE_WRITE, [](MStream *stream) {
                  EXPECT_EQ(MStreamGetSize(stream), 0);
                  EXPECT_EQ(MStreamWrite(stream, "new", 3), 3u);
                  EXPECT_EQ(MStreamFlush(stream), 1u);
              }),
              "new");
    EXPECT_TRUE(createsMissingFile(MSTREAM_MODE_WRITE));
}

TEST_F(FileStreams, AppendModeWritesAtTheEndWhateverTheSeek) {
    EXPECT_EQ(editFile("abc", MSTREAM_MODE_APPEND, [](MStream *stream) {
                  MStreamSeek(stream, MSTREAM_SEEK_BEGIN, 0);
                  EXPECT_EQ(MStreamWrite(stream, "de", 2), 2u);
              }),
              "abcde");
    EXPECT_TRUE(createsMissingFile(MSTREAM_MODE_APPEND));
}

TEST_F(FileStreams, ReadWriteModeUpdatesAnExistingFileInPlace) {
    EXPECT_EQ(editFile("0123456789", MSTREAM_MODE_READ_WRITE, [](MStream *stream) {
                  EXPECT_EQ(readText(stream, 2), "01");
                  MStreamSeek(stream, MSTREAM_SEEK_CURRENT, 0);
                  EXPECT_EQ(MStreamWrite(stream, "ab", 2), 2u);
                  MStreamSeek(stream, MSTREAM_SEEK_BEGIN, 0);
                  EXPECT_EQ(readText(stream, 100), "01ab456789");
              }),
              "01ab456789");
    EXPECT_FALSE(createsMissingFile(MSTREAM_MODE_READ_WRITE));
}

TEST_F(FileStreams, CreateReadWriteModeTruncatesAndReadsBack) {
    EXPECT_EQ(editFile("old content", MSTREAM_MODE_CREATE_RW, [](MStream *stream) {
                  EXPECT_EQ(MStreamWrite(stream, "fresh", 5), 5u);
                  MStreamSeek(stream, MSTREAM_SEEK_BEGIN, 1);
                  EXPECT_EQ(readText(stream, 100), "resh");
              }),
              "fresh");
    EXPECT_TRUE(createsMissingFile(MSTREAM_MODE_CREATE_RW));
}

TEST_F(FileStreams, ReadAppendModeReadsAnywhereAndAppends) {
    EXPECT_EQ(editFile("abc", MSTREAM_MODE_READ_APPEND, [](MStream *stream) {
                  EXPECT_EQ(readText(stream, 2), "ab");
                  MStreamSeek(stream, MSTREAM_SEEK_BEGIN, 0);
                  EXPECT_EQ(MStreamWrite(stream, "XY", 2), 2u);
                  MStreamSeek(stream, MSTREAM_SEEK_BEGIN, 0);
                  EXPECT_EQ(readText(stream, 100), "abcXY");
              }),
              "abcXY");
    EXPECT_TRUE(createsMissingFile(MSTREAM_MODE_READ_APPEND));
}

TEST_F(FileStreams, SeekOriginsTellAndSizeKeepThePosition) {
    writeFile("f", "0123456789");
    MStream *stream = MStreamOpenFromFileS(path("f").c_str(), MSTREAM_MODE_READ);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(MStreamSeek(stream, MSTREAM_SEEK_BEGIN, 3), 0);
    EXPECT_EQ(MStreamTell(stream), 3);
    EXPECT_EQ(MStreamSeek(stream, MSTREAM_SEEK_CURRENT, 2), 0);
    EXPECT_EQ(MStreamTell(stream), 5);
    EXPECT_EQ(MStreamSeek(stream, MSTREAM_SEEK_END, -1), 0);
    EXPECT_EQ(MStreamTell(stream), 9);
    EXPECT_EQ(MStreamSeek(stream, 9, 4), 0); // unknown origins count from the start
    EXPECT_EQ(MStreamTell(stream), 4);
    EXPECT_NE(MStreamSeek(stream, MSTREAM_SEEK_BEGIN, -1), 0);
    EXPECT_EQ(MStreamGetSize(stream), 10);
    EXPECT_EQ(MStreamTell(stream), 4);
    EXPECT_EQ(readText(stream, 1), "4");
    EXPECT_EQ(MStreamSetSize(stream, 2), -1); // files are not resized
    EXPECT_EQ(MStreamGetSize(stream), 10);
    MStreamClose(stream);
}

TEST_F(FileStreams, WidePathsOpenTheSameFile) {
    writeFile("wide", "data");
    auto name = wide(path("wide"));
    MStream *stream = MStreamOpenFromFileW(name.data(), MSTREAM_MODE_READ);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(readText(stream, 10), "data");
    MStreamClose(stream);
    EXPECT_EQ(MStreamOpenFromFileW(nullptr, MSTREAM_MODE_READ), nullptr);
}

TEST_F(FileStreams, WidePathsThatDoNotFitOrAreNotBytesAreRefused) {
    // The longest accepted path fills the buffer with its terminator.
    std::string fits = path(std::string(MSTREAM_PATH_MAX - 1 - root_.size() - 1, 'a'));
    ASSERT_EQ(fits.size(), MSTREAM_PATH_MAX - 1u);
    MStream *stream = MStreamOpenFromFileW(wide(fits).data(), MSTREAM_MODE_WRITE);
    ASSERT_NE(stream, nullptr);
    MStreamClose(stream);
    EXPECT_EQ(MStreamFileExistsW(wide(fits).data()), 1u);

    // One unit longer must not open the path cut to 255 bytes.
    std::filesystem::remove(fits);
    std::string tooLong = fits + "b";
    EXPECT_EQ(MStreamOpenFromFileW(wide(tooLong).data(), MSTREAM_MODE_WRITE), nullptr);
    EXPECT_EQ(MStreamFileCreateW(wide(tooLong).data()), nullptr);
    EXPECT_FALSE(std::filesystem::exists(fits));

    // 0x100 would become a NUL byte and 0x161 an 'a': neither may name a file.
    auto cut = wide(path("x"));
    cut.insert(cut.end() - 1, 0x100);
    EXPECT_EQ(MStreamOpenFromFileW(cut.data(), MSTREAM_MODE_WRITE), nullptr);
    EXPECT_FALSE(exists("x"));
    auto aliased = wide(path("y"));
    aliased.insert(aliased.end() - 1, 0x161);
    EXPECT_EQ(MStreamOpenFromFileW(aliased.data(), MSTREAM_MODE_WRITE), nullptr);
    EXPECT_FALSE(exists("ya"));
}

// ---- Stream copies ----

TEST_F(FileStreams, CopyMovesUpToNBytesBetweenAnyKinds) {
    auto data = pattern(300000);
    MStream *memory = MStreamOpenFromMemoryBlock(nullptr, 0);
    ASSERT_NE(memory, nullptr);
    MStreamWrite(memory, data.data(), 300000);
    MStreamSeek(memory, MSTREAM_SEEK_BEGIN, 0);

    MStream *file = MStreamOpenFromFileS(path("copy").c_str(), MSTREAM_MODE_CREATE_RW);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(MStreamCopy(memory, file, 0), 0u);
    EXPECT_EQ(MStreamTell(memory), 0);
    EXPECT_EQ(MStreamCopy(memory, file, 290000), 290000u); // several passes
    EXPECT_EQ(MStreamTell(memory), 290000);
    EXPECT_EQ(MStreamCopy(memory, file, 50000), 10000u);    // source ends first
    EXPECT_EQ(MStreamGetSize(file), 300000);

    MStream *back = MStreamOpenFromMemoryBlock(nullptr, 0);
    ASSERT_NE(back, nullptr);
    MStreamSeek(file, MSTREAM_SEEK_BEGIN, 0);
    EXPECT_EQ(MStreamCopy(file, back, 0x7FFFFFFF), 300000u);
    MStreamSeek(back, MSTREAM_SEEK_BEGIN, 0);
    EXPECT_EQ(readAll(back, 300000), data);
    MStreamClose(back);
    MStreamClose(file);
    MStreamClose(memory);
}

TEST(StreamCopy, StopsWhenTheDestinationIsFull) {
    auto data = pattern(1000);
    MStream *source = MStreamOpenFromMemoryBlock(data.data(), 1000);
    std::vector<unsigned char> small(300);
    MStream *destination = MStreamOpenFromMemoryBlock(small.data(), 300);
    ASSERT_NE(source, nullptr);
    ASSERT_NE(destination, nullptr);
    EXPECT_EQ(MStreamCopy(source, destination, 1000), 300u);
    EXPECT_EQ(small, std::vector<unsigned char>(data.begin(), data.begin() + 300));
    MStreamClose(destination);
    MStreamClose(source);
}

// ---- Whole-file operations ----

TEST_F(FileStreams, CreateExistsAndDelete) {
    MStream *created = MStreamFileCreateS(path("a").c_str());
    ASSERT_NE(created, nullptr);
    EXPECT_EQ(MStreamWrite(created, "x", 1), 1u);
    MStreamClose(created);
    EXPECT_EQ(MStreamFileExistsS(path("a").c_str()), 1u);
    EXPECT_EQ(MStreamFileExistsW(wide(path("a")).data()), 1u);
    MStream *wideCreated = MStreamFileCreateW(wide(path("b")).data());
    ASSERT_NE(wideCreated, nullptr);
    MStreamClose(wideCreated);
    EXPECT_TRUE(exists("b"));

    EXPECT_EQ(MStreamFileDeleteS(path("a").c_str()), 1u);
    EXPECT_EQ(MStreamFileExistsS(path("a").c_str()), 0u);
    EXPECT_EQ(MStreamFileExistsW(wide(path("a")).data()), 0u);
    EXPECT_EQ(MStreamFileDeleteS(path("a").c_str()), 0u);
}

TEST_F(FileStreams, MoveTakesTheDestinationFirstAndRenameTheSourceFirst) {
    writeFile("A", "moved");
    EXPECT_EQ(MStreamFileMoveS(path("B").c_str(), path("A").c_str()), 1u);
    EXPECT_FALSE(exists("A"));
    EXPECT_EQ(fileContent("B"), "moved");
    EXPECT_EQ(MStreamFileRenameS(path("B").c_str(), path("C").c_str()), 1u);
    EXPECT_FALSE(exists("B"));
    EXPECT_EQ(fileContent("C"), "moved");
    EXPECT_EQ(MStreamFileRenameS(path("B").c_str(), path("D").c_str()), 0u);
    EXPECT_EQ(MStreamFileMoveS(path("D").c_str(), path("B").c_str()), 0u);
}

TEST_F(FileStreams, FileCopyDuplicatesContentsOfAnyLength) {
    for (size_t length : {0u, 1u, 1024u, 5000u}) {
        auto bytes = pattern(length);
        writeFile("src", std::string(bytes.begin(), bytes.end()));
        writeFile("dst", "previous content that must go");
        EXPECT_EQ(MStreamFileCopyS(path("dst").c_str(), path("src").c_str()), 1u) << length;
        EXPECT_EQ(fileContent("dst"), fileContent("src")) << length;
    }
    EXPECT_EQ(MStreamFileCopyS(path("dst").c_str(), path("missing").c_str()), 0u);
    EXPECT_EQ(MStreamFileCopyS(path("no/such/dir").c_str(), path("src").c_str()), 0u);
}

TEST_F(FileStreams, FileCopyReportsAFullDevice) {
    if (!std::filesystem::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    writeFile("src", std::string(100, 'z'));
    // The data fits stdio's buffer; only writing it out at close fails.
    EXPECT_EQ(MStreamFileCopyS("/dev/full", path("src").c_str()), 0u);
}

TEST_F(FileStreams, FileCopyReportsAnUnreadableSource) {
    // A directory opens for reading but cannot be read.
    EXPECT_EQ(MStreamFileCopyS(path("dst").c_str(), root_.c_str()), 0u);
}

TEST_F(FileStreams, FileSizeFromTheFileSystem) {
    writeFile("f", std::string(12345, 'q'));
    EXPECT_EQ(MStreamFileGetSizeS(path("f").c_str()), 12345u);
    writeFile("e", "");
    EXPECT_EQ(MStreamFileGetSizeS(path("e").c_str()), 0u);
    EXPECT_EQ(MStreamFileGetSizeS(path("missing").c_str()), 0xFFFFFFFFu);
}

} // namespace
