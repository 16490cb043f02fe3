// The parameter handle, the version line and the engine's log format.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "log_capture.h"
#include "xepo.h"
#include "xepo/param_handle.h"

namespace {

using xepo::AeParamHandle;

constexpr const char* kDir = "/models/";
// Platform log priorities.
constexpr int kDebugPriority = 3;
constexpr int kErrorPriority = 6;

struct HandleGuard {
    void* handle = CreateParamHandle();
    ~HandleGuard() { releaseParamHandle(&handle); }
    AeParamHandle& params() { return *static_cast<AeParamHandle*>(handle); }
};

struct KeyPairCase {
    int plainKey;
    int htpKey;
    std::string AeParamHandle::*slot;
    const char* plainFile;
    const char* htpFile;
};

const KeyPairCase kKeyPairs[] = {
    {9, 5, &AeParamHandle::albedoModelPath, "xepo_albedo.qdnn", "libxepo_albedo_htp.qdnn"},
    {10, 7, &AeParamHandle::entranceModelPath, "xepo_entrance.qdnn", "libxepo_entrance_htp.qdnn"},
    {13, 11, &AeParamHandle::lightSegModelPath, "light-STDCNet813.pt.tflite.qdnn",
     "libstdc_fp16_htp.qdnn"},
    {16, 15, &AeParamHandle::smoothModelPath, "xepo_smooth.qdnn", "libxepo_smooth_htp.qdnn"},
};

TEST(AeSetParam, LaterKeyOfAPairWinsInEitherOrder) {
    for (const KeyPairCase& pair : kKeyPairs) {
        SCOPED_TRACE(pair.plainFile);
        HandleGuard plainThenHtp;
        EXPECT_EQ(AeSetParam(plainThenHtp.handle, pair.plainKey, kDir), 0);
        EXPECT_EQ(AeSetParam(plainThenHtp.handle, pair.htpKey, kDir), 0);
        EXPECT_EQ(plainThenHtp.params().*pair.slot, std::string(kDir) + pair.htpFile);

        HandleGuard htpThenPlain;
        EXPECT_EQ(AeSetParam(htpThenPlain.handle, pair.htpKey, kDir), 0);
        EXPECT_EQ(AeSetParam(htpThenPlain.handle, pair.plainKey, kDir), 0);
        EXPECT_EQ(htpThenPlain.params().*pair.slot, std::string(kDir) + pair.plainFile);
    }
}

TEST(AeSetParam, InsertsNoSeparatorAndReplacesThePreviousValue) {
    HandleGuard guard;
    EXPECT_EQ(AeSetParam(guard.handle, 9, "/first/"), 0);
    EXPECT_EQ(AeSetParam(guard.handle, 9, "models"), 0);
    EXPECT_EQ(guard.params().albedoModelPath, "modelsxepo_albedo.qdnn");
    EXPECT_EQ(AeSetParam(guard.handle, 16, ""), 0);
    EXPECT_EQ(guard.params().smoothModelPath, "xepo_smooth.qdnn");
}

TEST(AeSetParam, AlternateKeysFillOnlyTheirOwnSlots) {
    HandleGuard guard;
    EXPECT_EQ(AeSetParam(guard.handle, 1, kDir), 0);
    EXPECT_EQ(AeSetParam(guard.handle, 3, kDir), 0);
    EXPECT_EQ(AeSetParam(guard.handle, 14, kDir), 0);
    const AeParamHandle& params = guard.params();
    EXPECT_EQ(params.albedoAltPath, "/models/xepo_albedo.qdnn");
    EXPECT_EQ(params.entranceAltPath, "/models/xepo_entrance.qdnn");
    EXPECT_EQ(params.smoothAltPath, "/models/xepo_smooth.qdnn");
    EXPECT_TRUE(params.albedoModelPath.empty());
    EXPECT_TRUE(params.entranceModelPath.empty());
    EXPECT_TRUE(params.lightSegModelPath.empty());
    EXPECT_TRUE(params.smoothModelPath.empty());
}

TEST(AeSetParam, UnsupportedKeysAreLoggedAndChangeNothing) {
    for (int key : {2, 4, 6, 8, 12, -1, -16, 17, 1000}) {
        SCOPED_TRACE(key);
        HandleGuard guard;
        LogCapture log;
        EXPECT_EQ(AeSetParam(guard.handle, key, kDir), 0);
        const std::string expected = "param key not supported:key:" + std::to_string(key) + ".\n";
        ASSERT_EQ(log.lines().size(), 1u);
        EXPECT_EQ(log.lines()[0].text(), expected);
        EXPECT_EQ(log.lines()[0].priority, kErrorPriority);
        const AeParamHandle empty;
        const AeParamHandle& params = guard.params();
        for (auto slot : {&AeParamHandle::albedoModelPath, &AeParamHandle::entranceModelPath,
                          &AeParamHandle::lightSegModelPath, &AeParamHandle::smoothModelPath,
                          &AeParamHandle::albedoAltPath, &AeParamHandle::entranceAltPath,
                          &AeParamHandle::smoothAltPath}) {
            EXPECT_EQ(params.*slot, empty.*slot);
        }
    }
}

TEST(AeSetParam, NullHandleKeyZeroAndNullValueAreRefused) {
    HandleGuard guard;
    struct Case {
        void* handle;
        int key;
        const char* value;
        const char* logText;
    } cases[] = {
        {nullptr, 9, kDir, "ae paramhandle is null or key is 0"},
        {guard.handle, 0, kDir, "ae paramhandle is null or key is 0"},
        {nullptr, 0, kDir, "ae paramhandle is null or key is 0"},
        {guard.handle, 9, nullptr, "ae param value is null, key:9"},
    };
    for (const Case& c : cases) {
        LogCapture log;
        EXPECT_EQ(AeSetParam(c.handle, c.key, c.value), -1001);
        EXPECT_EQ(log.count(c.logText), 1) << c.logText;
    }
    EXPECT_TRUE(guard.params().albedoModelPath.empty());
}

TEST(ReleaseParamHandle, NullPointerNullHandleAndLiveHandle) {
    {
        LogCapture log;
        releaseParamHandle(nullptr);
        EXPECT_TRUE(log.lines().empty());
    }
    {
        LogCapture log;
        void* handle = nullptr;
        releaseParamHandle(&handle);
        EXPECT_EQ(handle, nullptr);
        EXPECT_EQ(log.count("release aeparamHandle completed"), 1);
    }
    {
        void* handle = CreateParamHandle();
        ASSERT_NE(handle, nullptr);
        ASSERT_EQ(AeSetParam(handle, 9, kDir), 0);
        LogCapture log;
        releaseParamHandle(&handle);
        EXPECT_EQ(handle, nullptr);
        ASSERT_EQ(log.lines().size(), 1u);
        EXPECT_EQ(log.lines()[0].priority, kDebugPriority);
    }
}

TEST(EngineLog, VersionLineHasTagPrefixAndDebugPriority) {
    LogCapture log;
    getAeVersion();
    ASSERT_EQ(log.lines().size(), 1u);
    const LoggedLine line = log.lines()[0];
    EXPECT_EQ(line.tag, "_Q_LXEPO");
    EXPECT_EQ(line.priority, kDebugPriority);
    EXPECT_TRUE(std::regex_match(
        line.message,
        std::regex(
            R"(version\.cpp:\d+ getAeVersion\(\) XEPO SDK version: v3\.2\.1, build_time: 2026-8-10)")))
        << line.message;
}

TEST(EngineLog, ErrorLinesNameTheirFunction) {
    LogCapture log;
    AeSetParam(nullptr, 9, kDir);
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_TRUE(std::regex_match(log.lines()[0].message,
                                 std::regex(R"(param_handle\.cpp:\d+ AeSetParam\(\) .*)")))
        << log.lines()[0].message;
}

}  // namespace
