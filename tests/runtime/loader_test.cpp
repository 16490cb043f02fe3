// Opening the runtime by path: only a library with every entry point loads; a
// failure prints its one line, leaves no slot pointing anywhere and closes the
// library.
#include <gtest/gtest.h>

#include "runtime/qdnn_interface.h"
#include "scripted_runtime.h"

namespace {

TEST(RuntimeLoader, OnlyACompleteLibraryLoads) {
    const std::string text = XEPO_SOURCE_DIR "/tests/runtime/CMakeLists.txt";
    const struct {
        std::string path, printed;
        bool loads;
    } cases[] = {
        {"/nonexistent/libqdnn.so", "Failed to dlopen /nonexistent/libqdnn.so\n", false},
        {text, "Failed to dlopen " + text + "\n", false},
        {SCRIPTED_RUNTIME_WITHOUT_ION_PATH, "Failed to load symbol qdnnTensorIonDeregister\n",
         false},
        {SCRIPTED_RUNTIME_PATH, "", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        {
            QDNNInterface table;
            testing::internal::CaptureStdout();
            EXPECT_EQ(loadQDNNInterface(table, c.path.c_str()), c.loads);
            EXPECT_EQ(testing::internal::GetCapturedStdout(), c.printed);
            EXPECT_EQ(table.loaded, c.loads);
            EXPECT_EQ(table.libHandle != nullptr, c.loads);
            // Each slot holds the runtime's function of the same name, or nothing.
            int filled = 0;
#define QDNN_ENTRY(kind, result, name, params, args) \
    filled += table.name != nullptr;                 \
    EXPECT_TRUE(!c.loads || reinterpret_cast<void*>(table.name) == dlsym(table.libHandle, #name));
#include "qdnn_entry_points.h"
            EXPECT_EQ(filled, c.loads ? 77 : 0);
        }
        EXPECT_EQ(dlopen(c.path.c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr)
            << "closed on failure and with the table";
    }
}

}  // namespace
