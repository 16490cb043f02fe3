// A process without a runtime beside the engine: the first use of the table
// reports the missing library once, every runner init fails with the interface
// error without retrying the load, and the exports answer "not loaded".
#include <gtest/gtest.h>

#include <filesystem>

#include "log_capture.h"
#include "qdnn_runner/qdnn_runner.h"
#include "runtime/qdnn_interface.h"

namespace {

// Slashes on the stack below the test, where the engine reads its program's
// path: a path read without its terminator then names another directory.
__attribute__((noinline)) void paintStack() {
    volatile char junk[65536];
    for (volatile char& c : junk) {
        c = '/';
    }
}

// One case: the table is loaded once per process.
TEST(MissingRuntime, ReportedOnceAndEveryInitFailsWithTheInterfaceError) {
    const std::string path =
        (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "libqdnn.so").string();
    testing::internal::CaptureStdout();
    paintStack();
    const QDNNInterface& first = getQDNNInterface();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Failed to dlopen " + path + "\n");
    EXPECT_FALSE(first.loaded);

    LogCapture log;
    testing::internal::CaptureStdout();
    EXPECT_EQ(&getQDNNInterface(), &first);
    QDNNRunner runner("/models/model.qdnn", "NEURON", 20, 3);
    EXPECT_EQ(runner.init(), QDNNRunner::kRuntimeNotLoaded);
    EXPECT_TRUE(runner.isValid()) << "a later init fails the same way, not as invalid";
    EXPECT_EQ(runner.init(), QDNNRunner::kRuntimeNotLoaded);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << "a failed load is never retried";
    ASSERT_EQ(log.count("Get QDNN interface failed!\n"), 2);
    EXPECT_EQ(log.lines()[0].priority, 6);
    EXPECT_EQ(log.lines()[0].tag, "_Q_LXEPO");
    EXPECT_NE(log.lines()[0].message.find("qdnn_runner.cpp:"), std::string::npos);

    EXPECT_EQ(qdnnNetCreate(), nullptr);
    EXPECT_EQ(qdnnSessionRun(nullptr), -1);
    EXPECT_EQ(qdnnCheckVersion(1, 0, 0), 0);
    qdnnNetDestroy(nullptr);
}

}  // namespace
