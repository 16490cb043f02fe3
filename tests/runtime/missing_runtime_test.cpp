// A process without a runtime beside the engine: the first use of the table
// reports the missing library once, and every runner initialisation fails with
// the interface error without retrying the load.
#include <gtest/gtest.h>

#include "log_capture.h"
#include "qdnn_runner/qdnn_runner.h"
#include "runtime/qdnn_interface.h"
#include "runtime_test_support.h"

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

constexpr int kErrorPriority = 6;

// One case on purpose: the table is loaded once per process, so the first call
// can only be observed once.
TEST(MissingRuntime, ReportedOnceAndEveryInitFailsWithInterfaceError) {
    const std::string expectedPath = programDirectory() + "/libqdnn.so";
    ASSERT_FALSE(libraryIsLoaded(expectedPath)) << "this directory must not hold a runtime";

    CaptureStdout();
    const QDNNInterface& first = getQDNNInterface();
    EXPECT_EQ(GetCapturedStdout(), "Failed to dlopen " + expectedPath + "\n");
    EXPECT_FALSE(first.loaded);
    EXPECT_EQ(first.libHandle, nullptr);

    LogCapture log;
    CaptureStdout();
    const QDNNInterface& second = getQDNNInterface();
    EXPECT_EQ(&second, &first);

    QDNNRunner runner("/models/model.qdnn", "NEURON", 20, 3);
    EXPECT_EQ(runner.init(), QDNNRunner::kRuntimeNotLoaded);
    // The interface error leaves the runner valid, and a second init fails the
    // same way rather than as an invalid runner.
    EXPECT_TRUE(runner.isValid());
    EXPECT_EQ(runner.init(), QDNNRunner::kRuntimeNotLoaded);
    EXPECT_EQ(GetCapturedStdout(), "") << "a failed load is never retried";

    ASSERT_EQ(log.lines().size(), 2u);
    for (const LoggedLine& line : log.lines()) {
        EXPECT_EQ(line.text(), "Get QDNN interface failed!\n");
        EXPECT_EQ(line.priority, kErrorPriority);
        EXPECT_EQ(line.tag, "_Q_LXEPO");
    }
    EXPECT_NE(log.lines()[0].message.find("qdnn_runner.cpp:"), std::string::npos);
    EXPECT_NE(log.lines()[0].message.find(" init() "), std::string::npos);

    // Exports called anyway get the documented not-loaded results, no crash.
    EXPECT_EQ(qdnnNetCreate(), nullptr);
    EXPECT_EQ(qdnnGetVersion(), nullptr);
    EXPECT_EQ(qdnnSessionRun(nullptr), -1);
    EXPECT_EQ(qdnnTensorGetSizeInBytes(nullptr), 0u);
    EXPECT_EQ(qdnnCheckVersion(1, 0, 0), 0);
    qdnnNetDestroy(nullptr);
}

}  // namespace
