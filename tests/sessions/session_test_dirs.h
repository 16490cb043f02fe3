// Scratch directories for the session tests, below the build tree.
#ifndef XEPO_TEST_SESSION_TEST_DIRS_H
#define XEPO_TEST_SESSION_TEST_DIRS_H

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

// An empty directory named after the running test plus `suffix`.
inline std::string freshTestDir(const std::string& suffix = "") {
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name() + suffix;
    std::replace(name.begin(), name.end(), '/', '_');
    const auto dir = std::filesystem::path(XEPO_BINARY_DIR) / "tests/sessions/scratch" / name;
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir.string();
}

#endif  // XEPO_TEST_SESSION_TEST_DIRS_H
