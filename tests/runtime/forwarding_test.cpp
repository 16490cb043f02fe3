// The exported runtime functions, checked one by one from the entry list: each
// reaches the runtime's function of the same name with its arguments unchanged
// and passes its result back (qdnnCheckVersion reduced to one bit).
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "qdnn_api.h"
#include "runtime/qdnn_interface.h"
#include "runtime_test_support.h"

namespace {

// Memory that pointer arguments point into; the runtime may write through some.
struct ArgumentMemory {
    alignas(8) uint64_t words[16] = {};
    std::string texts[16];
};

// A value for argument `position` of an entry, distinct per position and
// entry, so that swapped or dropped arguments show.
template <typename T>
T argumentValue(ArgumentMemory& memory, size_t entry, size_t position) {
    const uint64_t distinct = 1000 * (entry + 1) + 17 * (position + 1);
    if constexpr (std::is_same_v<T, const char*>) {
        memory.texts[position] = "argument " + std::to_string(distinct);
        return memory.texts[position].c_str();
    } else if constexpr (std::is_pointer_v<T> && !std::is_function_v<std::remove_pointer_t<T>>) {
        return reinterpret_cast<T>(&memory.words[position]);
    } else if constexpr (std::is_pointer_v<T>) {
        return reinterpret_cast<T>(static_cast<uintptr_t>(distinct));  // never called
    } else if constexpr (std::is_signed_v<T>) {
        // Negative values for odd positions catch lost sign extension.
        return static_cast<T>(position % 2 == 0 ? static_cast<int64_t>(distinct)
                                                : -static_cast<int64_t>(distinct));
    } else {
        return static_cast<T>(distinct);
    }
}

template <typename T>
uint64_t asWord(T value) {
    if constexpr (std::is_pointer_v<T>) {
        return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(value));
    } else if constexpr (std::is_signed_v<T>) {
        return static_cast<uint64_t>(static_cast<int64_t>(value));
    } else {
        return static_cast<uint64_t>(value);
    }
}

// A word as the runtime hands it back in a result of type T.
template <typename T>
T fromWord(uint64_t word) {
    if constexpr (std::is_pointer_v<T>) {
        return reinterpret_cast<T>(static_cast<uintptr_t>(word));
    } else {
        return static_cast<T>(word);
    }
}

template <typename Result>
uint64_t scriptedResult(size_t entry) {
    if constexpr (std::is_pointer_v<Result>) {
        return 0x700000 + 0x100 * entry;
    } else if constexpr (std::is_signed_v<Result>) {
        return static_cast<uint64_t>(-static_cast<int64_t>(40 + entry));
    } else {
        return 40 + entry;
    }
}

template <typename Result, typename... Args, size_t... Positions>
void checkForwarding(ScriptedRuntime& runtime, const char* name, size_t entry, bool boolResult,
                     Result (*exported)(Args...), std::index_sequence<Positions...>) {
    SCOPED_TRACE(name);
    ArgumentMemory memory;
    const std::tuple<Args...> arguments{argumentValue<Args>(memory, entry, Positions)...};
    const std::vector<uint64_t> expectedWords = {asWord(std::get<Positions>(arguments))...};
    runtime.reset();
    const uint64_t resultWord = scriptedResult<Result>(entry);
    runtime.script(name, {resultWord});

    if constexpr (std::is_void_v<Result>) {
        exported(std::get<Positions>(arguments)...);
    } else {
        const Result result = exported(std::get<Positions>(arguments)...);
        if (boolResult) {
            EXPECT_EQ(asWord(result), resultWord & 1);
        } else {
            EXPECT_EQ(asWord(result), asWord(fromWord<Result>(resultWord)));
        }
    }
    ASSERT_EQ(runtime.calls.size(), 1u);
    EXPECT_EQ(runtime.calls[0].name, name);
    EXPECT_EQ(runtime.calls[0].args, expectedWords);
}

template <typename Result, typename... Args>
void checkForwarding(ScriptedRuntime& runtime, const char* name, size_t entry, bool boolResult,
                     Result (*exported)(Args...)) {
    checkForwarding(runtime, name, entry, boolResult, exported, std::index_sequence_for<Args...>{});
}

struct ExportCase {
    const char* name;
    std::function<void(ScriptedRuntime&, size_t)> check;
};

// One case per exported entry point, straight from the list.
#define EXPORT_CASE_FORWARD(name) \
    {#name, [](ScriptedRuntime& r, size_t e) { checkForwarding(r, #name, e, false, &::name); }},
#define EXPORT_CASE_FORWARD_BOOL(name) \
    {#name, [](ScriptedRuntime& r, size_t e) { checkForwarding(r, #name, e, true, &::name); }},
#define EXPORT_CASE_RESOLVE_ONLY(name)
const std::vector<ExportCase> kExportCases = {
#define QDNN_ENTRY(kind, result, name, params, args) EXPORT_CASE_##kind(name)
#include "qdnn_entry_points.h"
};

constexpr size_t kExportedCount = 76;

class ForwardingTest : public testing::Test {
  protected:
    void SetUp() override {
        const QDNNInterface& table = getQDNNInterface();
        ASSERT_TRUE(table.loaded);
        runtime = scriptedRuntimeOf(table.libHandle);
        ASSERT_NE(runtime, nullptr);
        runtime->reset();
    }
    void TearDown() override {
        if (runtime != nullptr) {
            runtime->reset();
        }
    }
    ScriptedRuntime* runtime = nullptr;
};

TEST_F(ForwardingTest, EveryExportPassesArgumentsAndResultUnchanged) {
    ASSERT_EQ(kExportCases.size(), kExportedCount);
    for (size_t entry = 0; entry < kExportCases.size(); ++entry) {
        kExportCases[entry].check(*runtime, entry);
    }
}

struct VersionCheckCase {
    const char* label;
    int32_t runtimeResult;
    int32_t exported;
    friend void PrintTo(const VersionCheckCase& c, std::ostream* out) { *out << c.label; }
};

class CheckVersionTest : public ForwardingTest,
                         public testing::WithParamInterface<VersionCheckCase> {};

TEST_P(CheckVersionTest, ResultIsReducedToItsLowestBit) {
    runtime->script("qdnnCheckVersion", {static_cast<uint64_t>(GetParam().runtimeResult)});
    EXPECT_EQ(qdnnCheckVersion(3, 2, 1), GetParam().exported);
}

INSTANTIATE_TEST_SUITE_P(Results, CheckVersionTest,
                         testing::Values(VersionCheckCase{"zero", 0, 0},
                                         VersionCheckCase{"one", 1, 1},
                                         VersionCheckCase{"six", 6, 0},
                                         VersionCheckCase{"seven", 7, 1},
                                         VersionCheckCase{"bit_eight_only", 256, 0},
                                         VersionCheckCase{"all_bits", -1, 1}),
                         [](const testing::TestParamInfo<VersionCheckCase>& info) {
                             return std::string(info.param.label);
                         });

TEST_F(ForwardingTest, TableIsCreatedOnceAndFoundBesideTheProgram) {
    const QDNNInterface& first = getQDNNInterface();
    EXPECT_EQ(&getQDNNInterface(), &first);
    EXPECT_EQ(defaultQDNNRuntimePath(), programDirectory() + "/libqdnn.so");
    EXPECT_TRUE(libraryIsLoaded(defaultQDNNRuntimePath()));
}

}  // namespace
