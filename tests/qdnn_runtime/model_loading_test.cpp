// Loading models into the host runtime: shapes known right after loading, from
// a path and from memory, and every bad model file refused with a status.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "runtime_test_support.h"

using namespace qdnn_test;

namespace {

using Shape = std::array<int32_t, 4>;  // batch, height, width, channel

Shape shapeOf(QDNNTensor tensor) {
    return {qdnnTensorGetBatch(tensor), qdnnTensorGetHeight(tensor), qdnnTensorGetWidth(tensor),
            qdnnTensorGetChannel(tensor)};
}

struct ShapeCase {
    std::string path;
    std::vector<Shape> inputs;
    std::vector<Shape> outputs;
};

std::vector<ShapeCase> shapeCases() {
    return {
        {testModel("conv_nhwc.onnx"), {{1, 8, 8, 3}}, {{1, 8, 8, 4}}},
        {testModel("vector_nc.onnx"), {{1, 1, 1, 5}}, {{1, 1, 1, 3}}},
        {testModel("two_input.onnx"), {{1, 1, 1, 4}, {1, 1, 1, 4}}, {{1, 1, 1, 4}, {1, 1, 1, 2}}},
        {constantModel("xepo_entrance.qdnn"), {{1, 224, 224, 3}}, {{1, 1, 1, 4}}},
        {constantModel("xepo_albedo.qdnn"), {{1, 224, 224, 3}}, {{1, 1, 1, 1}}},
        {constantModel("light-STDCNet813.pt.tflite.qdnn"), {{1, 224, 224, 3}}, {{1, 56, 56, 2}}},
        {constantModel("xepo_smooth.qdnn"), {{1, 1, 1, 3}}, {{1, 1, 1, 1}}},
    };
}

void expectShapes(QDNNSession session, const ShapeCase& c) {
    uint64_t inputs = 0, outputs = 0;
    ASSERT_EQ(qdnnSessionGetNumInputs(session, &inputs), 0);
    ASSERT_EQ(qdnnSessionGetNumOutputs(session, &outputs), 0);
    ASSERT_EQ(inputs, c.inputs.size());
    ASSERT_EQ(outputs, c.outputs.size());
    for (size_t i = 0; i < c.inputs.size(); ++i) {
        EXPECT_EQ(shapeOf(qdnnSessionGetInputTensorByIndex(session, i)), c.inputs[i]) << i;
    }
    for (size_t j = 0; j < c.outputs.size(); ++j) {
        EXPECT_EQ(shapeOf(qdnnSessionGetOutputTensorByIndex(session, j)), c.outputs[j]) << j;
    }
    EXPECT_EQ(qdnnSessionGetInputTensorByIndex(session, c.inputs.size()), nullptr);
    EXPECT_EQ(qdnnSessionGetOutputTensorByIndex(session, c.outputs.size()), nullptr);
}

}  // namespace

TEST(QdnnModelLoading, ShapesAreKnownBeforeAnyRun) {
    for (const ShapeCase& c : shapeCases()) {
        SCOPED_TRACE(c.path);
        ScopedNet net;
        ASSERT_EQ(net.load(c.path), 0);
        QDNNSession session = net.session();
        ASSERT_NE(session, nullptr);
        expectShapes(session, c);
    }
}

TEST(QdnnModelLoading, LoadsFromMemoryLikeFromPath) {
    for (const ShapeCase& c : shapeCases()) {
        SCOPED_TRACE(c.path);
        std::vector<char> bytes = readBytes(c.path);
        ASSERT_FALSE(bytes.empty());
        ScopedNet net;
        ASSERT_EQ(qdnnNetLoadModelFromMemory(net.get(), bytes.data(), bytes.size(), nullptr), 0);
        // The runtime keeps its own copy: the caller's bytes may go at once.
        std::fill(bytes.begin(), bytes.end(), 0);
        QDNNSession session = net.session();
        ASSERT_NE(session, nullptr);
        expectShapes(session, c);
        EXPECT_EQ(qdnnSessionWarmup(session), 0);
    }
}

TEST(QdnnModelLoading, EveryBadModelFileFailsWithAStatus) {
    const char* badFiles[] = {
        "bad_empty.onnx",      "bad_garbage.onnx",      "bad_text.onnx",
        "bad_truncated.onnx",  "bad_short_weight.onnx", "bad_no_nodes.onnx",
        "bad_unknown_op.onnx", "bad_foreign_op.onnx",   "bad_missing_input.onnx",
        "no_such_model.onnx",
    };
    for (const char* file : badFiles) {
        SCOPED_TRACE(file);
        ScopedNet net;
        EXPECT_NE(net.load(testModel(file)), 0);
        EXPECT_EQ(net.session(), nullptr);
        std::vector<char> bytes = readBytes(testModel(file));
        EXPECT_NE(qdnnNetLoadModelFromMemory(net.get(), bytes.data(), bytes.size(), nullptr), 0);
        EXPECT_EQ(net.session(), nullptr);
        // The net stays usable.
        EXPECT_EQ(net.load(testModel("vector_nc.onnx")), 0);
        EXPECT_NE(net.session(), nullptr);
    }
}

TEST(QdnnModelLoading, FailedLoadKeepsThePreviousModelAndSessions) {
    ScopedNet net;
    ASSERT_EQ(net.load(testModel("vector_nc.onnx")), 0);
    QDNNSession session = net.session();
    ASSERT_NE(session, nullptr);
    EXPECT_NE(net.load(testModel("bad_short_weight.onnx")), 0);
    EXPECT_EQ(qdnnNetGetSession(net.get(), "default"), session);
    EXPECT_EQ(qdnnSessionRun(session), 0);
}

TEST(QdnnModelLoading, NullAndUnknownArgumentsFail) {
    ScopedNet net;
    EXPECT_NE(qdnnNetLoadModelFromPath(nullptr, testModel("vector_nc.onnx").c_str()), 0);
    EXPECT_NE(qdnnNetLoadModelFromPath(net.get(), nullptr), 0);
    EXPECT_NE(qdnnNetLoadModelFromMemory(net.get(), nullptr, 10, nullptr), 0);
    int notANet = 0;
    EXPECT_NE(qdnnNetLoadModelFromPath(&notANet, testModel("vector_nc.onnx").c_str()), 0);
    EXPECT_EQ(qdnnNetCreateSession(net.get(), "default"), nullptr);  // nothing loaded
    EXPECT_NE(qdnnNetUnloadModel(net.get()), 0);
}

TEST(QdnnModelLoading, SessionsAreNamedAndOwnedByTheNet) {
    ScopedNet net;
    ASSERT_EQ(net.load(testModel("vector_nc.onnx")), 0);
    QDNNSession first = net.session("default");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(net.session("default"), nullptr);  // names are unique
    QDNNSession clone = qdnnSessionClone(first, "second");
    ASSERT_NE(clone, nullptr);
    EXPECT_EQ(qdnnNetGetSession(net.get(), "second"), clone);
    EXPECT_EQ(qdnnNetGetSession(net.get(), "missing"), nullptr);
    QDNNTensor cloneInput = qdnnSessionGetInputTensorByIndex(clone, 0);
    EXPECT_EQ(qdnnNetReleaseSession(net.get(), clone), 0);
    EXPECT_NE(qdnnNetReleaseSession(net.get(), clone), 0);
    // A released session's tensors are gone with it.
    EXPECT_EQ(qdnnTensorGetSizeInBytes(cloneInput), 0u);
    EXPECT_NE(qdnnSessionRun(clone), 0);
    // Unloading ends the remaining session.
    EXPECT_EQ(qdnnNetUnloadModel(net.get()), 0);
    EXPECT_NE(qdnnSessionRun(first), 0);
    EXPECT_EQ(qdnnNetGetSession(net.get(), "default"), nullptr);
}

TEST(QdnnModelLoading, InfoStringDescribesTheModel) {
    ScopedNet net(kQdnnInferenceNeuron);
    ASSERT_EQ(net.load(constantModel("light-STDCNet813.pt.tflite.qdnn")), 0);
    std::string info = qdnnNetGetInfoString(net.get());
    EXPECT_NE(info.find("NEURON"), std::string::npos) << info;
    EXPECT_NE(info.find("1x224x224x3"), std::string::npos) << info;
    EXPECT_NE(info.find("1x56x56x2"), std::string::npos) << info;
    EXPECT_STREQ(qdnnNetGetInfoString(nullptr), "");
}
