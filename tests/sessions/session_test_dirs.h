// Scratch directories for the session and simulation tests, below the build
// tree, and writing and reading a file.
#ifndef XEPO_TEST_SESSION_TEST_DIRS_H
#define XEPO_TEST_SESSION_TEST_DIRS_H

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

// An empty directory named after the running test plus `suffix`.
inline std::string freshTestDir(const std::string& suffix = "") {
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name() + suffix;
    const auto dir = std::filesystem::path(XEPO_BINARY_DIR) / "tests/sessions/scratch" / name;
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir.string();
}

// The bytes of the file at `path` (empty when it cannot be read).
inline std::string readWholeFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Writes `text` to `path`, making its folders first.
inline void writeText(const std::filesystem::path& path, const std::string& text) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

#endif  // XEPO_TEST_SESSION_TEST_DIRS_H
