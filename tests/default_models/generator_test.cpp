// The committed formula models (the baseline set in tools/models/formula/) are
// exactly what the generator writes, and the shipped model folder stays small.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

namespace fs = std::filesystem;

// The interpreter the build found with python3-onnx and python3-numpy
// (Python3_EXECUTABLE, Debian's /usr/bin/python3 by default).
const std::string kPython = XEPO_PYTHON;

std::string readBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(DefaultModelGenerator, CommittedFilesEqualAFreshRunAndStaySmall) {
    std::uintmax_t total = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(XEPO_SOURCE_DIR "/models")) {
        total += entry.is_regular_file() ? entry.file_size() : 0;
    }
    EXPECT_LT(total, 4u * 1024u * 1024u) << "the default set ships with the engine";
    if (std::system((kPython + " -c 'import onnx, numpy' >/dev/null 2>&1").c_str()) != 0) {
        GTEST_SKIP() << "python3-onnx or python3-numpy is not installed for " << kPython
                     << ": cannot regenerate the default models (scripts/install-deps.sh)";
    }
    const fs::path outDir = fs::path(XEPO_BINARY_DIR) / "default_models_regenerated";
    fs::remove_all(outDir);
    const std::string command = kPython +
                                " '" XEPO_SOURCE_DIR "/tools/models/make_default_models.py' '" +
                                outDir.string() + "' >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    for (const char* file : {"xepo_entrance.qdnn", "xepo_albedo.qdnn",
                             "light-STDCNet813.pt.tflite.qdnn", "xepo_smooth.qdnn"}) {
        const std::string fresh = readBytes(outDir / file);
        ASSERT_FALSE(fresh.empty()) << "the generator wrote no " << file;
        EXPECT_TRUE(readBytes(fs::path(XEPO_SOURCE_DIR "/tools/models/formula") / file) == fresh)
            << "tools/models/formula/" << file << " differs from the generator's output: run "
            << kPython << " tools/models/make_default_models.py and commit the result";
    }
}

}  // namespace
