// The parameter handle and the version line.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <tuple>

#include "log_capture.h"
#include "xepo.h"
#include "xepo/param_handle.h"

namespace {

using xepo::AeParamHandle;
using Slot = std::string AeParamHandle::*;
constexpr int kDebugPriority = 3, kErrorPriority = 6;

struct HandleGuard {
    void* handle = CreateParamHandle();
    ~HandleGuard() { releaseParamHandle(&handle); }
    std::string path(Slot slot) const { return static_cast<AeParamHandle*>(handle)->*slot; }
};

// Every key with the slot it fills and the file name it appends (keys sharing a
// slot form a pair: accelerator and plain file); unsupported keys fill nothing.
// clang-format off
const std::tuple<int, Slot, const char*> kKeys[] = {
    {1, &AeParamHandle::albedoAltPath, "xepo_albedo.qdnn"},
    {3, &AeParamHandle::entranceAltPath, "xepo_entrance.qdnn"},
    {5, &AeParamHandle::albedoModelPath, "libxepo_albedo_htp.qdnn"},
    {7, &AeParamHandle::entranceModelPath, "libxepo_entrance_htp.qdnn"},
    {9, &AeParamHandle::albedoModelPath, "xepo_albedo.qdnn"},
    {10, &AeParamHandle::entranceModelPath, "xepo_entrance.qdnn"},
    {11, &AeParamHandle::lightSegModelPath, "libstdc_fp16_htp.qdnn"},
    {13, &AeParamHandle::lightSegModelPath, "light-STDCNet813.pt.tflite.qdnn"},
    {14, &AeParamHandle::smoothAltPath, "xepo_smooth.qdnn"},
    {15, &AeParamHandle::smoothModelPath, "libxepo_smooth_htp.qdnn"},
    {16, &AeParamHandle::smoothModelPath, "xepo_smooth.qdnn"},
    {2, {}, ""}, {4, {}, ""}, {6, {}, ""}, {8, {}, ""}, {12, {}, ""}, {-1, {}, ""}, {-16, {}, ""},
    {17, {}, ""}, {1000, {}, ""}};
// clang-format on

// The value is used as given ("/m": no separator is inserted); unsupported keys
// are logged as errors and change nothing. The other key of a pair then replaces
// the value: each key of a pair comes first once, so both orders are covered.
TEST(AeSetParam, EachKeyFillsOnlyItsOwnSlotAndTheLaterKeyOfAPairWins) {
    for (const auto& [key, slot, file] : kKeys) {
        SCOPED_TRACE(key);
        HandleGuard guard;
        LogCapture log;
        EXPECT_EQ(AeSetParam(guard.handle, key, "/m"), 0);
        const std::string refused = "param key not supported:key:" + std::to_string(key) + ".\n";
        EXPECT_EQ(log.texts(), slot ? std::vector<std::string>{} : std::vector{refused});
        EXPECT_TRUE(slot || (log.lines().size() == 1 && log.lines()[0].priority == kErrorPriority));
        for (const auto& [otherKey, other, otherFile] : kKeys) {
            EXPECT_EQ(other ? guard.path(other) : "",
                      other && other == slot ? std::string("/m") + file : "")
                << otherKey;
        }
        for (const auto& [otherKey, other, otherFile] : kKeys) {
            if (other && other == slot && otherKey != key) {
                EXPECT_EQ(AeSetParam(guard.handle, otherKey, "/b/"), 0);
                EXPECT_EQ(guard.path(slot), std::string("/b/") + otherFile) << otherKey;
            }
        }
    }
}

TEST(AeSetParam, NullHandleKeyZeroAndNullValueAreRefused) {
    HandleGuard guard;
    const char* const kNullOrZero = "ae paramhandle is null or key is 0";
    const std::tuple<void*, int, const char*, const char*> cases[] = {
        {nullptr, 9, "/m/", kNullOrZero},
        {guard.handle, 0, "/m/", kNullOrZero},
        {nullptr, 0, "/m/", kNullOrZero},
        {guard.handle, 9, nullptr, "ae param value is null, key:9"}};
    for (const auto& [handle, key, value, logText] : cases) {
        LogCapture log;
        EXPECT_EQ(AeSetParam(handle, key, value), -1001);
        EXPECT_EQ(log.texts(), std::vector<std::string>{logText});
    }
    EXPECT_EQ(guard.path(&AeParamHandle::albedoModelPath), "");
}

// A null pointer is ignored silently; a pointer to null or to a live handle is
// cleared and logged once at debug priority.
TEST(ReleaseParamHandle, NullPointerNullHandleAndLiveHandle) {
    void* null = nullptr;
    void* live = CreateParamHandle();
    for (void** handle : {static_cast<void**>(nullptr), &null, &live}) {
        LogCapture log;
        releaseParamHandle(handle);
        ASSERT_EQ(log.texts(), handle ? std::vector<std::string>{"release aeparamHandle completed"}
                                      : std::vector<std::string>{});
        EXPECT_TRUE(!handle || (*handle == nullptr && log.lines()[0].priority == kDebugPriority));
    }
}

TEST(EngineLog, VersionLineHasTagPrefixAndDebugPriority) {
    LogCapture log;
    getAeVersion();
    ASSERT_EQ(log.lines().size(), 1u);
    const LoggedLine line = log.lines()[0];
    EXPECT_EQ(line.tag, "_Q_LXEPO");
    EXPECT_EQ(line.priority, kDebugPriority);
    const std::regex expected(
        R"(version\.cpp:\d+ getAeVersion\(\) XEPO SDK version: v3\.2\.1, build_time: 2026-8-10)");
    EXPECT_TRUE(std::regex_match(line.message, expected)) << line.message;
}

}  // namespace
