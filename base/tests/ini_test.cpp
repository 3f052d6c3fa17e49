// INI files: parsing through the line window, edits through a handle and
// single-shot calls compared byte for byte with the expected file, item
// value rules, and the atomic rewrite (a failing write leaves the file
// whole; a reader beside many rewrites sees only whole versions).
#include "qvbase.h"
#include "temp_dir_test.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

struct Edit {
    bool remove;
    const char *section;
    const char *key;    // null removes the whole section
    const char *value;
};

class IniFile : public TempDirTest {
protected:
    std::string file_ = path("test.ini");

    void SetUp() override {
        TempDirTest::SetUp();
        file_ = path("test.ini");
    }
    void put(const std::string &content) const { std::ofstream(file_, std::ios::binary) << content; }
    std::string content() const {
        std::ifstream in(file_, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    bool temporaryLeft() const { return std::filesystem::exists(file_ + "_tmp"); }
};

MIniItem stringItem(const char *section, const char *key, char *data, uint32_t size) {
    return {section, key, data, MINI_TYPE_STRING, size};
}

uint32_t apply(MIni *ini, const Edit &edit) {
    MIniItem item = stringItem(edit.section, edit.key, const_cast<char *>(edit.value), 1);
    return edit.remove ? MIniRemoveS(ini, &item) : MIniWriteS(ini, &item);
}

std::string readString(MIni *ini, const char *section, const char *key) {
    char value[64] = "";
    MIniItem item = stringItem(section, key, value, sizeof value);
    return MIniReadS(ini, &item) ? value : "<none>";
}

struct RewriteCase {
    const char *what;
    const char *before;  // null: no file
    std::vector<Edit> edits;
    const char *after;
};

TEST_F(IniFile, EditsThroughAHandleKeepEverythingElseByteForByte) {
    const RewriteCase cases[] = {
        {"value replaced in place", "[a]\r\nx=1\r\n; note\r\ny = two words  \r\n", {{false, "a", "x", "5"}},
         "[a]\r\nx=5\r\n; note\r\ny = two words  \r\n"},
        {"key added before the next section", "[a]\r\nx=1\r\n\r\n[b]\r\nk=v\r\n", {{false, "a", "z", "9"}},
         "[a]\r\nx=1\r\n\r\nz=9\r\n[b]\r\nk=v\r\n"},
        {"key added to the last section", "[a]\r\nx=1\r\n", {{false, " a ", " z ", "9"}},
         "[a]\r\nx=1\r\nz=9\r\n"},
        {"key removed", "[a]\r\nx=1\r\ny=2\r\n", {{true, "a", "x", nullptr}}, "[a]\r\ny=2\r\n"},
        {"first section removed, comments kept", "[a]\r\nx=1\r\n;c\r\n\r\ny=2\r\n[b]\r\nk=v\r\n",
         {{true, "A", nullptr, nullptr}}, ";c\r\n\r\n[b]\r\nk=v\r\n"},
        {"section added and removed", "[a]\r\nx=1\r\n", {{false, "n", "k", "1"}, {true, "n", nullptr, nullptr}},
         "[a]\r\nx=1\r\n"},
        {"removed key written again", "[a]\r\nx=1\r\n", {{true, "a", "x", nullptr}, {false, "a", "x", "2"}},
         "[a]\r\nx=2\r\n"},
        {"LF-only lines gain CR LF where copying resumes", "[a]\nx=1\n;c\ny=2\n", {{false, "a", "x", "5"}},
         "[a]\n\r\nx=5\r\n;c\ny=2\n\r\n"},
        {"last line without line end", "[a]\r\nx=1", {{false, "a", "z", "2"}}, "[a]\r\nx=1\r\nz=2\r\n"},
        {"missing file, default section", nullptr, {{false, nullptr, "k", "v"}}, "[default]\r\nk=v\r\n"},
        {"new section after the file", "[a]\r\nx=1\r\n", {{false, "b", "k", "v"}}, "[a]\r\nx=1\r\n[b]\r\nk=v\r\n"},
    };
    for (const RewriteCase &c : cases) {
        std::filesystem::remove(file_);
        if (c.before)
            put(c.before);
        MIni *ini = MIniStartS(file_.c_str());
        ASSERT_NE(ini, nullptr) << c.what;
        for (const Edit &edit : c.edits)
            EXPECT_EQ(apply(ini, edit), 1u) << c.what;
        MIniEndS(ini);
        EXPECT_EQ(content(), c.after) << c.what;
        EXPECT_FALSE(temporaryLeft()) << c.what;
    }
}

TEST_F(IniFile, SingleShotWritesPutTheKeyLineInPlace) {
    const RewriteCase cases[] = {
        {"value replaced", "[a]\r\nx=1\r\n; note\r\n", {{false, "a", "x", "5"}}, "[a]\r\nx=5\r\n; note\r\n"},
        {"key before the next section", "[a]\r\nx=1\r\n[b]\r\n", {{false, "a", "z", "9"}},
         "[a]\r\nx=1\r\nz=9\r\n[b]\r\n"},
        {"last line gets its line end first", "[a]\r\nx=1", {{false, "a", "z", "2"}}, "[a]\r\nx=1\r\nz=2\r\n"},
        {"section appended", "[a]\r\nx=1", {{false, "b", "k", "v"}}, "[a]\r\nx=1\r\n[b]\r\nk=v\r\n"},
        {"missing file", nullptr, {{false, nullptr, "k", "v"}}, "[default]\r\nk=v\r\n"},
    };
    for (const RewriteCase &c : cases) {
        std::filesystem::remove(file_);
        if (c.before)
            put(c.before);
        const Edit &edit = c.edits[0];
        MIniItem item = stringItem(edit.section, edit.key, const_cast<char *>(edit.value), 1);
        EXPECT_EQ(MIniWriteSingleS(file_.c_str(), &item), 1u) << c.what;
        EXPECT_EQ(content(), c.after) << c.what;
        EXPECT_FALSE(temporaryLeft()) << c.what;
    }
}

struct ParseCase {
    std::string text;
    bool opens;
    const char *section;
    const char *key;
    const char *value;  // "<none>" when the key is not there
};

TEST_F(IniFile, LinesAreClassifiedAndMustFitTheWindow) {
    const std::string keyPrefix = "[s]\r\nk=";
    const ParseCase cases[] = {
        {"[a]\r\nx=1\r\n; c\r\ny = two words  \r\n", true, "a", "y", "two words"},
        {"[ a ]b ] ]\r\nk = ==v=w= \r\n", true, "a ]b", "k", "v=w"},
        {"[ ]\r\nk=\r\n", true, "", "k", ""},
        {"[a\r\nk=1\r\n", false, nullptr, nullptr, nullptr},
        {"k=1\r\n[a]\r\n", false, nullptr, nullptr, nullptr},
        {"[a]\r\n=1\r\n#k=2\r\nk 3\r\n\tk\t=\t4\r\n", true, "a", "k", "4"},
        {"[a]\r\nk=1\rx\r\n", true, "a", "k", "1\rx"},
        {keyPrefix + std::string(2044, 'v') + "\r\n", true, "s", "k", nullptr},
        {keyPrefix + std::string(2045, 'v') + "\n", false, nullptr, nullptr, nullptr},
        {keyPrefix + std::string(2044, 'v') + "\n", true, "s", "k", nullptr},
        {keyPrefix + std::string(2044, 'v'), true, "s", "k", nullptr},
        {keyPrefix + std::string(2045, 'v'), false, nullptr, nullptr, nullptr},
    };
    for (const ParseCase &c : cases) {
        put(c.text);
        MIni *ini = MIniStartS(file_.c_str());
        EXPECT_EQ(ini != nullptr, c.opens) << c.text.substr(0, 40);
        if (ini && c.value) {
            EXPECT_EQ(readString(ini, c.section, c.key), c.value) << c.text;
        }
        MIniEndS(ini);
        EXPECT_EQ(content(), c.text);
    }
}

TEST_F(IniFile, SingleShotReadsSkipKeysOutsideSectionsAndFindLaterSections) {
    put("k=0\r\n[a]\r\nx=1\r\n[b]\r\nk=2\r\n[A]\r\nk=3\r\n");
    char value[8];
    MIniItem outside = stringItem(nullptr, "k", value, sizeof value);
    EXPECT_EQ(MIniReadSingleS(file_.c_str(), &outside), 0u);
    MIniItem later = stringItem("a", "K", value, sizeof value);
    EXPECT_EQ(MIniReadSingleS(file_.c_str(), &later), 1u);
    EXPECT_STREQ(value, "3");
    MIniItem missing = stringItem("a", "k", value, sizeof value);
    EXPECT_EQ(MIniReadSingleS(path("none.ini").c_str(), &missing), 0u);
}

TEST_F(IniFile, StringAndIntegerValues) {
    put("[a]\r\ns=abcde\r\nn = -17 \r\nw=abc\r\n");
    MIni *ini = MIniStartS(file_.c_str());
    ASSERT_NE(ini, nullptr);
    char text[8];
    MIniItem item = stringItem("a", "s", text, 5);
    EXPECT_EQ(MIniReadS(ini, &item), 0u);
    EXPECT_EQ(item.size, 5u);
    item.size = 6;
    EXPECT_EQ(MIniReadS(ini, &item), 1u);
    EXPECT_EQ(item.size, 5u);
    EXPECT_STREQ(text, "abcde");
    MIniItem single = stringItem("a", "s", text, 5);
    EXPECT_EQ(MIniReadSingleS(file_.c_str(), &single), 0u);
    EXPECT_EQ(single.size, 5u);

    int32_t number = 0x7777;
    MIniItem integer = {"a", "n", &number, MINI_TYPE_INTEGER, 4};
    EXPECT_EQ(MIniReadS(ini, &integer), 1u);
    EXPECT_EQ(number, -17);
    integer.key = "w";
    EXPECT_EQ(MIniReadS(ini, &integer), 1u);
    EXPECT_EQ(number, 0);

    uint8_t bytes[4] = {0x34, 0x12, 0xFF, 0xFF};
    MIniItem written = {"a", "i4", bytes, MINI_TYPE_INTEGER, 4};
    EXPECT_EQ(MIniWriteS(ini, &written), 1u);
    written = {"a", "i2", bytes, MINI_TYPE_INTEGER, 2};
    EXPECT_EQ(MIniWriteS(ini, &written), 1u);
    EXPECT_EQ(readString(ini, "a", "i4"), std::to_string(int32_t(0xFFFF1234)));
    EXPECT_EQ(readString(ini, "a", "i2"), "4660");
    MIniItem badType = {"a", "s", text, 3, 8};
    EXPECT_EQ(MIniReadS(ini, &badType), 0u);
    MIniEndS(ini);
}

TEST_F(IniFile, CategoriesAreListedAndTooSmallBuffersRetried) {
    put("[default]\r\n[gone]\r\n[ ]\r\n[b]\r\n");
    MIni *ini = MIniStartS(file_.c_str());
    ASSERT_NE(ini, nullptr);
    MIniItem gone = {"gone", nullptr, nullptr, 0, 0};
    EXPECT_EQ(MIniRemoveS(ini, &gone), 1u);
    char name[8];
    uint32_t size = 4;
    EXPECT_EQ(MIniFindFirstCategoryS(ini, name, &size), 0u);
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(MIniFindNextCategoryS(ini, name, &size), 1u);
    EXPECT_STREQ(name, "default");
    size = sizeof name;
    EXPECT_EQ(MIniFindNextCategoryS(ini, name, &size), 1u);
    EXPECT_STREQ(name, "b");
    EXPECT_EQ(MIniFindNextCategoryS(ini, name, &size), 0u);
    EXPECT_STREQ(name, "");
    MIniEndS(ini);
}

// Lines that would not fit the window, or not read back, are refused and the
// file stays as it was.
TEST_F(IniFile, UnwritableLinesAreRefused) {
    const std::string original = "[a]\r\nx=1\r\n";
    const std::string longValue(2048 - 3 - 1, 'v');
    const std::string longSection(2048 - 5, 's');
    const std::string fits(2048 - 3 - 2, 'v');
    const struct {
        const char *section;
        const char *key;
        const char *value;
        uint32_t written;
    } cases[] = {
        {"a", "k", longValue.c_str(), 0},   {longSection.c_str(), "k", "v", 0}, {"a", "k", "1\r\n[b]", 0},
        {"a", "k=j", "v", 0},               {"a", " ", "v", 0},                 {"a", "k", fits.c_str(), 1},
    };
    for (const auto &c : cases) {
        put(original);
        MIniItem item = stringItem(c.section, c.key, const_cast<char *>(c.value), 1);
        EXPECT_EQ(MIniWriteSingleS(file_.c_str(), &item), c.written);
        MIni *ini = MIniStartS(file_.c_str());
        ASSERT_NE(ini, nullptr);
        EXPECT_EQ(MIniWriteS(ini, &item), c.written);
        MIniEndS(ini);
        std::string back(2048, '\0');
        MIniItem read = stringItem(c.section, c.key, &back[0], 2048);
        EXPECT_EQ(MIniReadSingleS(file_.c_str(), &read), c.written);
        if (!c.written)
            EXPECT_EQ(content(), original);
        else
            EXPECT_STREQ(back.c_str(), c.value);
    }
}

// The rewrite runs in a child whose file size limit makes writing the
// temporary file fail part-way. The file is smaller than stdio's buffer, so
// the failure only shows when the temporary file is written out.
TEST_F(IniFile, FailedRewriteLeavesTheFileWhole) {
    std::string original = "[a]\r\n";
    for (int i = 0; i < 20; ++i)
        original += "key" + std::to_string(i) + "=" + std::string(100, 'v') + "\r\n";
    for (bool single : {false, true}) {
        put(original);
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            std::signal(SIGXFSZ, SIG_IGN);
            rlimit limit = {1000, 1000};
            setrlimit(RLIMIT_FSIZE, &limit);
            char value[] = "changed";
            MIniItem item = stringItem("a", "key3", value, 1);
            if (single)
                _exit(static_cast<int>(MIniWriteSingleS(file_.c_str(), &item)));
            MIni *ini = MIniStartS(file_.c_str());
            _exit(ini && MIniWriteS(ini, &item) ? (MIniEndS(ini), 0) : 2);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
        EXPECT_EQ(content(), original);
        EXPECT_FALSE(temporaryLeft());
    }
}

TEST_F(IniFile, AReaderBesideRewritesSeesOnlyWholeVersions) {
    const std::string values[] = {std::string(1500, 'A'), std::string(1500, 'B')};
    std::string versions[2];
    for (int i = 0; i < 2; ++i)
        versions[i] = "[s]\r\nk=" + values[i] + "\r\n";
    put(versions[0]);
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 1; i <= 40; ++i) {
            MIniItem item = stringItem("s", "k", const_cast<char *>(values[i % 2].c_str()), 1);
            EXPECT_EQ(MIniWriteSingleS(file_.c_str(), &item), 1u);
        }
        done = true;
    });
    int reads = 0;
    while (!done || reads == 0) {
        const std::string seen = content();
        EXPECT_TRUE(seen == versions[0] || seen == versions[1]) << seen.size();
        ++reads;
    }
    writer.join();
    EXPECT_EQ(content(), versions[0]);
}

TEST_F(IniFile, ARewrittenFileKeepsItsPermissions) {
    put("[a]\r\nx=1\r\n");
    ASSERT_EQ(chmod(file_.c_str(), 0600), 0);
    char value[] = "2";
    MIniItem item = stringItem("a", "x", value, 1);
    ASSERT_EQ(MIniWriteSingleS(file_.c_str(), &item), 1u);
    struct stat status;
    ASSERT_EQ(stat(file_.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
}

TEST_F(IniFile, NullArgumentsFail) {
    char value[4] = "";
    MIniItem item = stringItem("a", "k", value, sizeof value);
    EXPECT_EQ(MIniStartS(nullptr), nullptr);
    EXPECT_EQ(MIniReadS(nullptr, &item), 0u);
    EXPECT_EQ(MIniWriteSingleS(nullptr, &item), 0u);
    EXPECT_EQ(MIniReadSingleS(file_.c_str(), nullptr), 0u);
    MIniItem noKey = stringItem("a", nullptr, value, sizeof value);
    EXPECT_EQ(MIniWriteSingleS(file_.c_str(), &noKey), 0u);
    MIniEndS(nullptr);
}

} // namespace
