// A test fixture that owns a fresh temporary directory for each test and
// removes it, with everything in it, afterwards.
#ifndef QVBASE_TESTS_TEMP_DIR_TEST_H
#define QVBASE_TESTS_TEMP_DIR_TEST_H

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

class TempDirTest : public ::testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/qvbase_test_XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        root_ = name;
    }
    void TearDown() override { std::filesystem::remove_all(root_); }

    std::string path(const std::string &name) const { return root_ + "/" + name; }

    std::string root_;
};

#endif // QVBASE_TESTS_TEMP_DIR_TEST_H
