// Opening the runtime: missing or broken libraries, a library that lacks one
// entry point, and a complete one.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

#include "runtime/qdnn_interface.h"
#include "runtime_test_support.h"

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

// Number of slots in the table whose pointer is set.
int filledSlots(const QDNNInterface& table) {
    int filled = 0;
#define QDNN_ENTRY(kind, result, name, params, args) filled += table.name != nullptr ? 1 : 0;
#include "qdnn_entry_points.h"
    return filled;
}

constexpr int kEntryPointCount = 77;

struct UnopenablePathCase {
    friend void PrintTo(const UnopenablePathCase& c, std::ostream* out) { *out << c.label; }
    const char* label;
    std::string path;
};

class UnopenablePathTest : public testing::TestWithParam<UnopenablePathCase> {};

TEST_P(UnopenablePathTest, PrintsOneDlopenLineAndStaysUnloaded) {
    const UnopenablePathCase& c = GetParam();
    QDNNInterface table;
    CaptureStdout();
    const bool loaded = loadQDNNInterface(table, c.path.c_str());
    EXPECT_EQ(GetCapturedStdout(), "Failed to dlopen " + c.path + "\n");
    EXPECT_FALSE(loaded);
    EXPECT_FALSE(table.loaded);
    EXPECT_EQ(table.libHandle, nullptr);
    EXPECT_EQ(filledSlots(table), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, UnopenablePathTest,
    testing::Values(UnopenablePathCase{"no_file", "/nonexistent/runtime/libqdnn.so"},
                    UnopenablePathCase{"directory", XEPO_SOURCE_DIR},
                    UnopenablePathCase{"text_file",
                                       XEPO_SOURCE_DIR "/tests/runtime/CMakeLists.txt"}),
    [](const testing::TestParamInfo<UnopenablePathCase>& info) { return info.param.label; });

TEST(RuntimeLoader, LibraryLackingOnlyIonDeregisterCountsAsNotLoadedAndIsClosed) {
    ASSERT_FALSE(libraryIsLoaded(SCRIPTED_RUNTIME_WITHOUT_ION_PATH));
    QDNNInterface table;
    CaptureStdout();
    const bool loaded = loadQDNNInterface(table, SCRIPTED_RUNTIME_WITHOUT_ION_PATH);
    EXPECT_EQ(GetCapturedStdout(), "Failed to load symbol qdnnTensorIonDeregister\n");
    EXPECT_FALSE(loaded);
    EXPECT_FALSE(table.loaded);
    EXPECT_EQ(table.libHandle, nullptr);
    // Nothing may point into the closed library.
    EXPECT_EQ(filledSlots(table), 0);
    EXPECT_FALSE(libraryIsLoaded(SCRIPTED_RUNTIME_WITHOUT_ION_PATH));
}

TEST(RuntimeLoader, CompleteLibraryFillsEverySlotWithItsOwnEntryPoint) {
    QDNNInterface table;
    CaptureStdout();
    const bool loaded = loadQDNNInterface(table, SCRIPTED_RUNTIME_PATH);
    EXPECT_EQ(GetCapturedStdout(), "");
    ASSERT_TRUE(loaded);
    EXPECT_TRUE(table.loaded);
    ASSERT_NE(table.libHandle, nullptr);
    EXPECT_EQ(filledSlots(table), kEntryPointCount);
    // Each slot holds the runtime's function of the same name, the resolve-only
    // qdnnPlatformInit included.
#define QDNN_ENTRY(kind, result, name, params, args)                                        \
    EXPECT_EQ(reinterpret_cast<void*>(table.name), dlsym(table.libHandle, #name)) << #name; \
    EXPECT_NE(table.name, nullptr) << #name;
#include "qdnn_entry_points.h"
}

TEST(RuntimeLoader, DestroyingTheTableClosesTheLibrary) {
    {
        QDNNInterface table;
        ASSERT_TRUE(loadQDNNInterface(table, SCRIPTED_RUNTIME_PATH));
        EXPECT_TRUE(libraryIsLoaded(SCRIPTED_RUNTIME_PATH));
    }
    EXPECT_FALSE(libraryIsLoaded(SCRIPTED_RUNTIME_PATH));
}

TEST(RuntimeLoader, DefaultPathIsTheRuntimeBesideTheModuleHoldingTheEngine) {
    // This program links the engine code statically, so it is that module.
    EXPECT_EQ(defaultQDNNRuntimePath(), programDirectory() + "/libqdnn.so");
}

}  // namespace
