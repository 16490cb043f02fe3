// Tensor queries and the entry points the engine never calls: codes, sizes,
// strides, quantisation, buffers with offsets, Ion calls on host memory,
// versions, and handles that are null, stale or foreign.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime_test_support.h"

using namespace qdnn_test;

TEST(QdnnTensorApi, QueriesOfAFloatNhwcTensor) {
    ScopedHostTensor t(2, 5, 7, 3);
    ASSERT_NE(t.get(), nullptr);
    EXPECT_EQ(qdnnTensorGetSizeInElements(t.get()), 2u * 5u * 7u * 3u);
    EXPECT_EQ(qdnnTensorGetElementBytes(t.get()), 4u);
    EXPECT_EQ(qdnnTensorGetSizeInBytes(t.get()), 2u * 5u * 7u * 3u * 4u);
    EXPECT_EQ(qdnnTensorGetBatchStride(t.get()), 5 * 7 * 3);
    EXPECT_EQ(qdnnTensorGetHeightStride(t.get()), 7 * 3);
    EXPECT_EQ(qdnnTensorGetWidthStride(t.get()), 3);
    EXPECT_EQ(qdnnTensorGetChannelStride(t.get()), 1);
    EXPECT_EQ(qdnnTensorGetFormat(t.get()), kFormatNhwc);
    EXPECT_EQ(qdnnTensorGetType(t.get()), kTypeFloat32);
    EXPECT_EQ(qdnnTensorInferStride(t.get()), 0);
    float scale = 0.0f;
    int32_t zeroPoint = 5;
    EXPECT_EQ(qdnnTensorGetScale(t.get(), &scale), 0);
    EXPECT_EQ(qdnnTensorGetZeroPoint(t.get(), &zeroPoint), 0);
    EXPECT_EQ(scale, 1.0f);
    EXPECT_EQ(zeroPoint, 0);
    EXPECT_NE(qdnnTensorGetScale(t.get(), nullptr), 0);
    EXPECT_NE(qdnnTensorGetZeroPoint(t.get(), nullptr), 0);
}

TEST(QdnnTensorApi, CreateRefusesUnsupportedCodesAndShapes) {
    struct Case {
        int32_t n, h, w, c, format, type, memory;
    };
    const Case refused[] = {
        {1, 2, 2, 3, 0, kTypeFloat32, kMemoryHost},
        {1, 2, 2, 3, kFormatNhwc, 1, kMemoryHost},
        {1, 2, 2, 3, kFormatNhwc, kTypeFloat32, 1},
        {0, 2, 2, 3, kFormatNhwc, kTypeFloat32, 0},
        {1, -2, 2, 3, kFormatNhwc, kTypeFloat32, 0},
        {1, 2, 2, 0, kFormatNhwc, kTypeFloat32, 0},
        {65536, 65536, 2, 1, kFormatNhwc, kTypeFloat32, 0},  // byte count beyond 32 bits
    };
    for (const Case& c : refused) {
        QDNNTensor t = qdnnTensorCreate(c.n, c.h, c.w, c.c, c.format, c.type, c.memory);
        EXPECT_EQ(t, nullptr) << c.n << "x" << c.h << "x" << c.w << "x" << c.c << " " << c.format
                              << "/" << c.type << "/" << c.memory;
        qdnnTensorDestroy(t);
    }
}

TEST(QdnnTensorApi, SetShapeFormatAndType) {
    ScopedHostTensor t(1, 2, 2, 3);
    EXPECT_EQ(qdnnTensorSetShape(t.get(), 1, 4, 4, 3), 0);
    EXPECT_EQ(qdnnTensorGetSizeInBytes(t.get()), 4u * 4u * 3u * 4u);
    EXPECT_NE(qdnnTensorSetShape(t.get(), 1, 0, 4, 3), 0);
    EXPECT_EQ(qdnnTensorSetFormat(t.get(), kFormatNhwc), 0);
    EXPECT_NE(qdnnTensorSetFormat(t.get(), 2), 0);
    EXPECT_EQ(qdnnTensorSetType(t.get(), kTypeFloat32), 0);
    EXPECT_NE(qdnnTensorSetType(t.get(), 1), 0);
    // A bound buffer must still hold a new shape.
    std::vector<float> buffer(48);
    ASSERT_EQ(qdnnTensorSetHostBuffer(t.get(), buffer.data(), 48 * 4), 0);
    EXPECT_NE(qdnnTensorSetShape(t.get(), 1, 8, 8, 3), 0);
    EXPECT_EQ(qdnnTensorGetHeight(t.get()), 4);
}

TEST(QdnnTensorApi, HostBuffersWithSizeAndOffsetChecks) {
    ScopedHostTensor t(1, 1, 1, 4);  // 16 bytes
    std::vector<float> buffer(8, 0.0f);
    EXPECT_NE(qdnnTensorSetHostBuffer(t.get(), buffer.data(), 12), 0);  // too small
    EXPECT_NE(qdnnTensorSetHostBuffer(t.get(), nullptr, 16), 0);
    EXPECT_EQ(qdnnTensorSetHostBuffer(t.get(), buffer.data(), 16), 0);
    EXPECT_EQ(qdnnTensorGetHostBuffer(t.get()), buffer.data());
    EXPECT_EQ(qdnnTensorGetBufferOffset(t.get()), 0u);
    EXPECT_EQ(qdnnTensorSetOffsetedHostBuffer(t.get(), buffer.data(), 32, 16, 16), 0);
    EXPECT_EQ(qdnnTensorGetHostBuffer(t.get()), buffer.data());
    EXPECT_EQ(qdnnTensorGetBufferOffset(t.get()), 16u);
    EXPECT_NE(qdnnTensorSetOffsetedHostBuffer(t.get(), buffer.data(), 32, 20, 16), 0);  // past end
    EXPECT_NE(qdnnTensorSetOffsetedHostBuffer(t.get(), buffer.data(), 32, 40, 0), 0);
    EXPECT_NE(qdnnTensorSetOffsetedHostBuffer(t.get(), buffer.data(), 32, 0, 8), 0);  // too few

    // Data moves through the offset part of the buffer.
    ScopedNet net(kQdnnInferenceGpu);
    ASSERT_EQ(net.load(testModel("two_input.onnx")), 0);
    QDNNSession session = net.session();
    QDNNTensor sum = qdnnSessionGetOutputTensorByIndex(session, 0);
    ASSERT_EQ(qdnnSessionRun(session), 0);  // zero inputs: the sum is zero
    std::fill(buffer.begin(), buffer.end(), 9.0f);
    ASSERT_EQ(qdnnTensorSetOffsetedHostBuffer(t.get(), buffer.data(), 32, 16, 16), 0);
    ASSERT_EQ(qdnnTensorDownload(sum, t.get()), 0);
    EXPECT_EQ(buffer, (std::vector<float>{9, 9, 9, 9, 0, 0, 0, 0}));
}

TEST(QdnnTensorApi, SessionTensorsBelongToTheSession) {
    ScopedNet net;
    ASSERT_EQ(net.load(testModel("vector_nc.onnx")), 0);
    QDNNSession session = net.session();
    QDNNTensor in = qdnnSessionGetInputTensor(session, "v");
    QDNNTensor out = qdnnSessionGetOutputTensor(session, "p");
    EXPECT_EQ(in, qdnnSessionGetInputTensorByIndex(session, 0));
    EXPECT_EQ(out, qdnnSessionGetOutputTensorByIndex(session, 0));
    EXPECT_EQ(qdnnSessionGetInputTensor(session, "p"), nullptr);
    EXPECT_EQ(qdnnSessionGetOutputTensor(session, nullptr), nullptr);
    qdnnTensorDestroy(in);  // not the caller's: ignored
    EXPECT_EQ(qdnnTensorGetChannel(in), 5);
    EXPECT_NE(qdnnTensorSetShape(in, 1, 1, 1, 6), 0);
    // Upload and download need a session tensor on the first side.
    ScopedHostTensor a(in), b(in);
    EXPECT_NE(qdnnTensorUpload(a.get(), b.get()), 0);
    EXPECT_NE(qdnnTensorDownload(a.get(), b.get()), 0);
}

TEST(QdnnTensorApi, IonCallsWorkOnHostMemory) {
    QDNNTensor t = qdnnTensorCreateIon(1, 1, 1, 4, kFormatNhwc, kTypeFloat32);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(qdnnTensorCreateIon(1, 1, 1, 4, 3, kTypeFloat32), nullptr);
    std::vector<float> buffer(4);
    EXPECT_EQ(qdnnTensorGetIonDescriptor(t), -1);
    EXPECT_EQ(qdnnTensorSetHostBufferIon(t, buffer.data(), 42, 16), 0);
    EXPECT_EQ(qdnnTensorGetIonDescriptor(t), 42);
    EXPECT_EQ(qdnnTensorGetHostBuffer(t), buffer.data());
    EXPECT_EQ(qdnnTensorIonDeregister(t), 0);
    EXPECT_NE(qdnnTensorGetHostBuffer(t), buffer.data());  // back on its own storage
    EXPECT_EQ(qdnnTensorGetIonDescriptor(t), -1);
    EXPECT_NE(qdnnTensorIonDeregister(t), 0);
    EXPECT_EQ(qdnnTensorIonRegister(t, buffer.data()), 0);
    EXPECT_EQ(qdnnTensorGetHostBuffer(t), buffer.data());
    EXPECT_NE(qdnnTensorIonRegister(t, nullptr), 0);
    qdnnTensorDestroy(t);

    ScopedNet net;
    EXPECT_EQ(qdnnNetSetRuntimeSharedBuffer(net.get(), buffer.data(), 3, 16, 0), 0);
    EXPECT_EQ(qdnnNetSetMemoryPoolBuffer(net.get(), 3, buffer.data(), 16, 0), 0);
    EXPECT_NE(qdnnNetSetMemoryPoolBuffer(net.get(), 3, nullptr, 16, 0), 0);
    EXPECT_NE(qdnnNetSetRuntimeSharedBuffer(nullptr, buffer.data(), 3, 16, 0), 0);
}

TEST(QdnnTensorApi, NetSettingsCheckTheirValues) {
    ScopedNet net;
    struct Case {
        const char* what;
        int32_t status;
        bool ok;
    };
    const Case cases[] = {
        {"inference 7", qdnnNetSetInferenceType(net.get(), 7), true},
        {"inference 3", qdnnNetSetInferenceType(net.get(), 3), false},
        {"hint 100", qdnnNetSetFrequencyHint(net.get(), 100), true},
        {"hint 101", qdnnNetSetFrequencyHint(net.get(), 101), false},
        {"hint -1", qdnnNetSetFrequencyHint(net.get(), -1), false},
        {"power 3", qdnnNetSetPowerMode(net.get(), 3), true},
        {"priority 3", qdnnNetSetPriority(net.get(), 3), true},
        {"float16", qdnnNetSetGpuFloat16(net.get(), 1), true},
        {"allocate 0", qdnnNetSetAllocateOutput(net.get(), 0), true},
        {"deadline -5", qdnnNetSetDeadlineTime(net.get(), -5), false},
        {"tuned path null", qdnnNetSetPathToSaveTunedModel(net.get(), nullptr), false},
        {"third-party path", qdnnNetSetThirdPartyModelPath(net.get(), "/tmp/x"), true},
        {"null net", qdnnNetSetPriority(nullptr, 3), false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.status == 0, c.ok) << c.what;
}

TEST(QdnnTensorApi, StaleAndForeignHandlesFailCleanly) {
    QDNNTensor t = qdnnTensorCreate(1, 1, 1, 2, kFormatNhwc, kTypeFloat32, kMemoryHost);
    qdnnTensorDestroy(t);
    qdnnTensorDestroy(t);  // second destroy: ignored
    EXPECT_EQ(qdnnTensorGetSizeInBytes(t), 0u);
    float value = 0;
    EXPECT_NE(qdnnTensorSetHostBuffer(t, &value, 4), 0);
    QDNNNet net = qdnnNetCreate();
    qdnnNetDestroy(net);
    qdnnNetDestroy(net);
    EXPECT_EQ(qdnnNetCreateSession(net, "default"), nullptr);
    int foreign = 0;
    EXPECT_NE(qdnnSessionRun(&foreign), 0);
    EXPECT_EQ(qdnnTensorGetBatch(&foreign), 0);
    uint64_t count = 0;
    EXPECT_NE(qdnnSessionGetNumInputs(nullptr, &count), 0);
}

TEST(QdnnTensorApi, VersionsAndPlatformCalls) {
    EXPECT_NE(std::string(qdnnGetVersion()).find("1.0.0"), std::string::npos);
    EXPECT_EQ(qdnnCheckVersion(1, 0, 0), 1);
    EXPECT_EQ(qdnnCheckVersion(1, 0, 1), 0);
    EXPECT_EQ(qdnnCheckVersion(1, 1, 0), 0);
    EXPECT_EQ(qdnnCheckVersion(2, 0, 0), 0);
    EXPECT_EQ(qdnnCheckVersion(0, 9, 0), 0);
    EXPECT_EQ(qdnnBuildOpenclKernels(0), 0);
    EXPECT_EQ(qdnnPlatformInit(nullptr, 0), 0);
    EXPECT_EQ(qdnnPlatformUninit(nullptr), 0);
}
