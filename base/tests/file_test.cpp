// Files and directories: wildcard matching, directory searches by pattern
// and mode, file status, directory creation and removal, path comparison
// and the executable's location. Every file lives in a temporary directory
// the test creates and removes.
#include "qvbase.h"
#include "../src/wildcard.h"
#include "temp_dir_test.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct WildcardCase {
    const char *pattern;  // lower case, as a search stores it
    const char *name;
    bool matches;
};

void expectMatches(const std::vector<WildcardCase> &cases) {
    for (const WildcardCase &c : cases)
        EXPECT_EQ(WildcardMatches(c.pattern, c.name), c.matches) << c.pattern << " ~ " << c.name;
}

TEST(Wildcard, QuestionMarkTakesExactlyOneCharacter) {
    expectMatches({{"ab?d", "ABCD", true},
                   {"ab?d", "abxd", true},
                   {"ab?d", "abd", false},
                   {"ab?d", "abxxd", false},
                   {"???", "a.b", true},
                   {"?", "", false}});
}

TEST(Wildcard, StarTakesAnyRunIgnoringCase) {
    expectMatches({{"*x*", "ax", true},
                   {"*x*", "xa", true},
                   {"*x*", "X", true},
                   {"*x*", "a", false},
                   {"*.txt", "notes.TXT", true},
                   {"*.txt", "a.b.txt", true},
                   {"*.txt", "a.txt.bak", false},
                   {"*", "", true},
                   {"", "", true},
                   {"", "a", false}});
}

// Cases where binding each star to the nearest fitting character is not
// enough: a later part fails and the star has to take more.
TEST(Wildcard, StarsBacktrackWhenALaterPartFails) {
    expectMatches({{"a*a", "aaa", true},
                   {"a*a", "a", false},
                   {"x*.c", "x.x.c", true},
                   {"*ab*", "aabb", true},
                   {"a*b*c", "aabcc", true},
                   {"*a*b", "bb", false},
                   {"img_*_*.jpg", "IMG_2009_04_08.JPG", true},
                   {"img_*_*.jpg", "img_2009.jpg", false},
                   {"**a**", "bab", true}});
}

// A temporary directory for one test, with helpers to fill it.
class TempDir : public TempDirTest {
protected:
    void makeFile(const std::string &name, size_t bytes = 0) const {
        std::ofstream(path(name)) << std::string(bytes, 'x');
    }
    void makeDir(const std::string &name) const { fs::create_directory(path(name)); }
};

struct Found {
    std::string path;
    uint32_t isDirectory;
    bool operator<(const Found &other) const { return path < other.path; }
    bool operator==(const Found &other) const {
        return path == other.path && isDirectory == other.isDirectory;
    }
};

// Runs a whole search with MDirFindNextS. The name buffer is large, and its
// state after the last entry (an empty string) is checked too.
std::set<Found> search(const std::string &pattern, uint32_t mode) {
    std::set<Found> found;
    MDirFind *find = MDirStartFindS(pattern.c_str(), &mode);
    EXPECT_NE(find, nullptr) << pattern;
    if (!find)
        return found;
    std::vector<char> name(4096, 'Z');
    uint32_t isDirectory = 7;
    while (MDirFindNextS(find, name.data(), &isDirectory)) {
        EXPECT_TRUE(isDirectory == 0 || isDirectory == 1);
        EXPECT_TRUE(found.insert({name.data(), isDirectory}).second) << "twice: " << name.data();
    }
    EXPECT_STREQ(name.data(), "");
    EXPECT_EQ(MDirFindNextS(find, name.data(), &isDirectory), 0u);
    MDirEndFind(find);
    return found;
}

class DirectorySearch : public TempDir {
protected:
    void SetUp() override {
        TempDir::SetUp();
        dir_ = root_ + "/dir";
        fs::create_directory(dir_);
        for (const char *file : {"a.txt", "B.TXT", "c.Txt", "d.jpg", "e.txt2", "notes"})
            std::ofstream(dir_ + "/" + file) << "text";
        fs::create_directory(dir_ + "/sub.txt");
        fs::create_directory(dir_ + "/pics");
    }

    Found file(const std::string &name) const { return {dir_ + "/" + name, 0}; }
    Found directory(const std::string &name) const { return {dir_ + "/" + name, 1}; }

    std::set<Found> everyEntry() const {
        return {directory("."), directory(".."), file("a.txt"), file("B.TXT"), file("c.Txt"),
                file("d.jpg"), file("e.txt2"), file("notes"), directory("sub.txt"),
                directory("pics")};
    }

    std::string dir_;
};

TEST_F(DirectorySearch, PatternMatchesWithoutRegardToCase) {
    EXPECT_EQ(search(dir_ + "/*.TXT", MDIR_FIND_FILES),
              (std::set<Found>{file("a.txt"), file("B.TXT"), file("c.Txt")}));
    EXPECT_EQ(search(dir_ + "/*.txt", MDIR_FIND_ALL),
              (std::set<Found>{file("a.txt"), file("B.TXT"), file("c.Txt"), directory("sub.txt")}));
    EXPECT_EQ(search(dir_ + "/?.jp?", MDIR_FIND_ALL), (std::set<Found>{file("d.jpg")}));
}

TEST_F(DirectorySearch, ModesSelectFilesDirectoriesOrBoth) {
    const std::set<Found> all = everyEntry();
    std::set<Found> files;
    std::set<Found> directories;
    for (const Found &entry : all)
        (entry.isDirectory ? directories : files).insert(entry);

    EXPECT_EQ(search(dir_ + "/*.*", MDIR_FIND_ALL), all);
    EXPECT_EQ(search(dir_ + "/*", MDIR_FIND_ALL), all);
    EXPECT_EQ(search(dir_ + "/", MDIR_FIND_ALL), all);
    EXPECT_EQ(search(dir_ + "/*.*", MDIR_FIND_FILES), files);
    EXPECT_EQ(search(dir_ + "/", MDIR_FIND_DIRECTORIES), directories);
    EXPECT_TRUE(search(dir_ + "/", 3).empty());
    EXPECT_TRUE(search(dir_ + "/*.*", 0xFFFFFFFFu).empty());
}

// Without a trailing separator the directory is still searched, and the
// paths come back with the separator in place.
TEST_F(DirectorySearch, DirectoryWithoutTrailingSeparator) {
    EXPECT_EQ(search(dir_, MDIR_FIND_ALL), everyEntry());
}

TEST_F(DirectorySearch, PatternsThatCannotBeOpened) {
    uint32_t mode = MDIR_FIND_ALL;
    EXPECT_EQ(MDirStartFindS("*.c", &mode), nullptr);
    EXPECT_EQ(MDirStartFindS("", &mode), nullptr);
    EXPECT_EQ(MDirStartFindS((dir_ + "/missing/*.*").c_str(), &mode), nullptr);
    EXPECT_EQ(MDirStartFindS((dir_ + "/a.txt").c_str(), &mode), nullptr);
    EXPECT_EQ(MDirStartFindS(nullptr, &mode), nullptr);
    EXPECT_EQ(MDirStartFindS(dir_.c_str(), nullptr), nullptr);
    EXPECT_EQ(MDirStartFindExS("*.c", &mode), nullptr);
    MDirEndFind(nullptr);
    MDirEndFindEx(nullptr);
}

TEST_F(DirectorySearch, HandleRecordsTheSearch) {
    const uint32_t mode = MDIR_FIND_FILES;
    MDirFind *find = MDirStartFindExS((dir_ + "/*.TXT").c_str(), &mode);
    ASSERT_NE(find, nullptr);
    EXPECT_EQ(find->mode, mode);
    EXPECT_EQ(std::string(find->directory), dir_ + "/");
    EXPECT_STREQ(find->pattern, "*.txt");
    MDirEndFindEx(find);

    find = MDirStartFindS((dir_ + "/*.*").c_str(), &mode);
    ASSERT_NE(find, nullptr);
    EXPECT_EQ(find->pattern, nullptr);
    MDirEndFind(find);
}

TEST_F(DirectorySearch, ExtendedNextFillsFileInfo) {
    const uint32_t mode = MDIR_FIND_ALL;
    MDirFind *find = MDirStartFindExS((dir_ + "/?.*").c_str(), &mode);
    ASSERT_NE(find, nullptr);
    std::map<std::string, MFileInfo> infos;
    char name[4096];
    MFileInfo info;
    while (MDirFindNextExS(find, name, &info))
        infos[name] = info;
    MDirEndFindEx(find);
    // "..", a.txt, B.TXT, c.Txt, d.jpg, e.txt2 (not ".": '?' leaves no dot).
    ASSERT_EQ(infos.size(), 6u);
    EXPECT_EQ(infos.count(dir_ + "/."), 0u);
    const MFileInfo &text = infos[dir_ + "/a.txt"];
    EXPECT_EQ(text.attributes, MFILE_ATTR_REGULAR);
    EXPECT_EQ(text.fileSize, 4u);
    struct stat status;
    ASSERT_EQ(stat((dir_ + "/a.txt").c_str(), &status), 0);
    EXPECT_EQ(text.writeTime, uint32_t(status.st_mtime));
    EXPECT_EQ(infos[dir_ + "/.."].attributes, MFILE_ATTR_DIRECTORY);
}

// A link that leads nowhere and a named pipe are neither files nor
// directories: they are passed over, and the search goes on past them.
TEST_F(DirectorySearch, UnreadableAndSpecialEntriesArePassedOver) {
    ASSERT_EQ(symlink((dir_ + "/nowhere").c_str(), (dir_ + "/a-dangling").c_str()), 0);
    ASSERT_EQ(mkfifo((dir_ + "/b-pipe").c_str(), 0600), 0);
    EXPECT_EQ(search(dir_ + "/*", MDIR_FIND_ALL), everyEntry());
}

TEST_F(DirectorySearch, NullArgumentsAreRefused) {
    const uint32_t mode = MDIR_FIND_ALL;
    MDirFind *find = MDirStartFindS(dir_.c_str(), &mode);
    ASSERT_NE(find, nullptr);
    char name[4096];
    EXPECT_EQ(MDirFindNextS(find, nullptr, nullptr), 0u);
    EXPECT_EQ(MDirFindNextS(nullptr, name, nullptr), 0u);
    EXPECT_STREQ(name, "");
    // Without a flag or info record the entries are still found.
    EXPECT_EQ(MDirFindNextS(find, name, nullptr), 1u);
    EXPECT_EQ(MDirFindNextExS(find, name, nullptr), 1u);
    MDirEndFind(find);
}

// A backslash is an ordinary character in a POSIX entry name: the name is
// matched and returned whole, so the path found is the path that exists.
TEST_F(TempDir, EntryNamesWithBackslashComeBackWhole) {
    makeFile("old\\name.txt");
    const std::set<Found> found = search(root_ + "/*.txt", MDIR_FIND_FILES);
    ASSERT_EQ(found, (std::set<Found>{{path("old\\name.txt"), 0}}));
    EXPECT_TRUE(fs::exists(found.begin()->path));
    EXPECT_TRUE(search(root_ + "/name.*", MDIR_FIND_FILES).empty());
}

TEST_F(TempDir, SearchThroughThousandsOfEntries) {
    constexpr int kFiles = 3000;
    std::set<Found> all;
    std::set<Found> matching;
    for (int k = 0; k < kFiles; ++k) {
        const std::string name = "f" + std::to_string(k) + (k % 3 ? ".dat" : ".BIN");
        makeFile(name);
        all.insert({path(name), 0});
        if (name.rfind("f1", 0) == 0 && k % 3)
            matching.insert({path(name), 0});
    }
    for (int k = 0; k < 50; ++k)
        makeDir("d" + std::to_string(k));
    EXPECT_EQ(search(root_ + "/*", MDIR_FIND_FILES), all);
    EXPECT_EQ(search(root_ + "/F1*.DAT", MDIR_FIND_FILES), matching);
    EXPECT_EQ(search(root_ + "/", MDIR_FIND_DIRECTORIES).size(), 52u);
}

TEST_F(TempDir, FileInfoFromStatus) {
    makeFile("data.bin", 1234);
    MFileInfo info{};
    ASSERT_EQ(MGetFileInfoS(&info, path("data.bin").c_str()), 1u);
    struct stat status;
    ASSERT_EQ(stat(path("data.bin").c_str(), &status), 0);
    EXPECT_EQ(info.attributes, MFILE_ATTR_REGULAR);
    EXPECT_EQ(info.fileSize, 1234u);
    EXPECT_EQ(info.changeTime, uint32_t(status.st_ctime));
    EXPECT_EQ(info.accessTime, uint32_t(status.st_atime));
    EXPECT_EQ(info.writeTime, uint32_t(status.st_mtime));

    ASSERT_EQ(MGetFileInfoS(&info, root_.c_str()), 1u);
    EXPECT_EQ(info.attributes, MFILE_ATTR_DIRECTORY);
    ASSERT_EQ(MGetFileInfoS(&info, "/dev/null"), 1u);
    EXPECT_EQ(info.attributes, 0u);
    EXPECT_EQ(MGetFileInfoS(&info, path("missing").c_str()), 0u);
    EXPECT_EQ(MGetFileInfoS(nullptr, root_.c_str()), 0u);
}

TEST_F(TempDir, CreateTestAndRemoveDirectories) {
    const std::string sub = path("sub");
    EXPECT_EQ(MIsDirectoryS(sub.c_str()), 0u);
    EXPECT_EQ(MDirectoryCreateS(sub.c_str()), 1u);
    EXPECT_EQ(MDirectoryCreateS(sub.c_str()), 0u);
    EXPECT_EQ(MIsDirectoryS(sub.c_str()), 1u);
    struct stat status;
    ASSERT_EQ(stat(sub.c_str(), &status), 0);
    const mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(status.st_mode & 0777, 0775u & ~mask);

    makeFile("sub/inside");
    EXPECT_EQ(MIsDirectoryS(path("sub/inside").c_str()), 0u);
    EXPECT_EQ(MDirectoryRemoveS(sub.c_str()), 0u);  // not empty
    fs::remove(path("sub/inside"));
    EXPECT_EQ(MDirectoryRemoveS(sub.c_str()), 1u);
    EXPECT_EQ(MDirectoryRemoveS(sub.c_str()), 0u);
    EXPECT_EQ(MIsDirectoryS(nullptr), 0u);
    EXPECT_EQ(MDirectoryCreateS(nullptr), 0u);
    EXPECT_EQ(MDirectoryRemoveS(nullptr), 0u);
}

TEST(SameFile, ComparesTextIgnoringCase) {
    EXPECT_EQ(MIsSameFileS("A/B", "a/b"), 1u);
    EXPECT_EQ(MIsSameFileS("A/B", "a/c"), 0u);
    EXPECT_EQ(MIsSameFileS("a/b", "a/b/"), 0u);
    EXPECT_EQ(MIsSameFileS(nullptr, "a"), 0u);
    EXPECT_EQ(MIsSameFileW(L"Dir/File.TXT", L"dir/file.txt"), 1u);
    EXPECT_EQ(MIsSameFileW(L"dir/a", L"dir/b"), 0u);
    EXPECT_EQ(MIsSameFileW(L"a", nullptr), 0u);
}

// What the kernel reports for this test executable.
std::string executablePath() { return fs::read_symlink("/proc/self/exe").string(); }

std::string executableDirectory() {
    const std::string path = executablePath();
    return path.substr(0, path.find_last_of('/') + 1);
}

constexpr char kGuard = '#';

bool guardIntact(const std::vector<char> &buffer, size_t from) {
    for (size_t k = from; k < buffer.size(); ++k) {
        if (buffer[k] != kGuard)
            return false;
    }
    return true;
}

TEST(ModulePath, FileNameWithinTheCallersSize) {
    const std::string expected = executablePath();
    const uint32_t length = uint32_t(expected.size());
    std::vector<char> buffer(length + 32, kGuard);

    EXPECT_EQ(MGetModuleFileName(nullptr, buffer.data(), length + 1), length);
    EXPECT_EQ(std::string(buffer.data()), expected);
    EXPECT_TRUE(guardIntact(buffer, length + 1));

    std::fill(buffer.begin(), buffer.end(), kGuard);
    EXPECT_EQ(MGetModuleFileName(nullptr, buffer.data(), length), 0u);
    EXPECT_TRUE(guardIntact(buffer, length));
    EXPECT_EQ(MGetModuleFileName(nullptr, buffer.data(), 1), 0u);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(MGetModuleFileName(nullptr, buffer.data(), 0), 0u);
    EXPECT_EQ(MGetModuleFileName(buffer.data(), buffer.data(), length + 1), 0u);
}

TEST(ModulePath, DirectoryNeedsRoomForItsTerminator) {
    const std::string expected = executableDirectory();
    const uint32_t length = uint32_t(expected.size());
    std::vector<char> buffer(length + 32, kGuard);

    EXPECT_EQ(MGetModulePathS(buffer.data(), length), MMODULE_PATH_FAILED);
    EXPECT_TRUE(guardIntact(buffer, length));
    EXPECT_EQ(MGetModulePathS(buffer.data(), length + 1), MMODULE_PATH_OK);
    EXPECT_EQ(std::string(buffer.data()), expected);
    EXPECT_EQ(buffer[length - 1], '/');
    EXPECT_TRUE(guardIntact(buffer, length + 1));
    EXPECT_EQ(MGetModulePathS(buffer.data(), 0), MMODULE_PATH_FAILED);
    EXPECT_EQ(MGetModulePathS(nullptr, 4096), MMODULE_PATH_FAILED);
}

TEST(ModulePath, WideDirectoryNeedsRoomForItsTerminator) {
    const std::string expected = executableDirectory();
    const std::wstring wide(expected.begin(), expected.end());  // the build path is ASCII
    const uint32_t length = uint32_t(expected.size());
    std::vector<wchar_t> buffer(length + 32, L'#');

    EXPECT_EQ(MGetModulePathW(buffer.data(), length), MMODULE_PATH_FAILED);
    for (size_t k = length; k < buffer.size(); ++k)
        ASSERT_EQ(buffer[k], L'#');
    EXPECT_EQ(MGetModulePathW(buffer.data(), length + 1), MMODULE_PATH_OK);
    EXPECT_EQ(std::wstring(buffer.data()), wide);
    for (size_t k = length + 1; k < buffer.size(); ++k)
        ASSERT_EQ(buffer[k], L'#');
    EXPECT_EQ(MGetModulePathW(buffer.data(), 0), MMODULE_PATH_FAILED);
    EXPECT_EQ(MGetModulePathW(nullptr, 4096), MMODULE_PATH_FAILED);
}

} // namespace
