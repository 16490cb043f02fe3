// The committed default models are exactly what the generator writes, and the
// model folder stays small.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Debian's interpreter: its python3-onnx and python3-numpy belong to it alone.
const std::string kPython = "/usr/bin/python3";
const std::string kGenerator =
    std::string(XEPO_SOURCE_DIR) + "/tools/models/make_default_models.py";
const std::string kModelDir = std::string(XEPO_SOURCE_DIR) + "/models";

const std::vector<std::string> kModelFiles = {"xepo_entrance.qdnn", "xepo_albedo.qdnn",
                                              "light-STDCNet813.pt.tflite.qdnn",
                                              "xepo_smooth.qdnn"};

// The whole folder is shipped with the engine; trained models may be larger,
// the reference set must not be.
constexpr std::uintmax_t kMaxModelDirBytes = 256 * 1024;

bool generatorAvailable() {
    const std::string probe = kPython + " -c 'import onnx, numpy' >/dev/null 2>&1";
    return std::system(probe.c_str()) == 0;
}

std::string readBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(DefaultModelGenerator, CommittedFilesEqualAFreshRun) {
    if (!generatorAvailable()) {
        GTEST_SKIP() << "python3-onnx or python3-numpy is not installed for " << kPython
                     << ": cannot regenerate the default models (scripts/install-deps.sh)";
    }
    const fs::path outDir = fs::path(XEPO_BINARY_DIR) / "default_models_regenerated";
    fs::remove_all(outDir);
    const std::string command =
        kPython + " '" + kGenerator + "' '" + outDir.string() + "' >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;

    for (const std::string& file : kModelFiles) {
        SCOPED_TRACE(file);
        const std::string committed = readBytes(fs::path(kModelDir) / file);
        const std::string fresh = readBytes(outDir / file);
        ASSERT_FALSE(fresh.empty()) << "the generator wrote no " << file;
        EXPECT_EQ(committed.size(), fresh.size());
        EXPECT_TRUE(committed == fresh)
            << "models/" << file << " differs from the generator's output: run "
            << "/usr/bin/python3 tools/models/make_default_models.py and commit the result";
    }
}

TEST(DefaultModelGenerator, ModelFolderHoldsTheFourFilesAndStaysSmall) {
    std::uintmax_t total = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(kModelDir)) {
        if (entry.is_regular_file()) {
            total += entry.file_size();
        }
    }
    for (const std::string& file : kModelFiles) {
        EXPECT_TRUE(fs::is_regular_file(fs::path(kModelDir) / file)) << file;
    }
    EXPECT_LT(total, kMaxModelDirBytes);
}

}  // namespace
