// The host runtime through its C interface: every bad model file refused with
// a status, outputs that must be bound before a run, inputs of another shape,
// and handles that are stale or foreign.
#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "qdnn_api.h"

namespace {

using Net = std::unique_ptr<void, void (*)(QDNNNet)>;

// A net set up as the runner does it (allocate-output 0 for HTP and NEURON),
// with the model at `path` loaded.
Net loadedNet(const std::string& path, int32_t type = kQdnnInferenceNeuron) {
    Net net(qdnnNetCreate(), &qdnnNetDestroy);
    qdnnNetSetInferenceType(net.get(), type);
    if (type != kQdnnInferenceGpu) {
        qdnnNetSetAllocateOutput(net.get(), 0);
    }
    EXPECT_EQ(qdnnNetLoadModelFromPath(net.get(), path.c_str()), 0) << path;
    return net;
}

const std::string kTest = std::string(QDNN_TEST_MODEL_DIR) + "/";
const std::string kConstant = std::string(QDNN_CONSTANT_MODEL_DIR) + "/";

// Each file in its own case: the runtime validates what OpenCV would run anyway
// (short weights, no nodes); the sanitizer build sees any read out of bounds.
TEST(HostRuntime, EveryBadModelFileFailsWithAStatus) {
    for (const char* file : {"bad_empty.onnx", "bad_garbage.onnx", "bad_text.onnx",
                             "bad_truncated.onnx", "bad_short_weight.onnx", "bad_no_nodes.onnx",
                             "bad_unknown_op.onnx", "bad_foreign_op.onnx", "bad_missing_input.onnx",
                             "bad_declared_size.onnx", "no_such_model.onnx"}) {
        SCOPED_TRACE(file);
        Net net(qdnnNetCreate(), &qdnnNetDestroy);
        EXPECT_NE(qdnnNetLoadModelFromPath(net.get(), (kTest + file).c_str()), 0);
        EXPECT_EQ(qdnnNetCreateSession(net.get(), "default"), nullptr);
        EXPECT_EQ(qdnnNetLoadModelFromPath(net.get(), (kTest + "vector_nc.onnx").c_str()), 0)
            << "the net stays usable";
    }
}

// Under HTP and NEURON a run writes into bound host buffers, so a run with an
// unbound output fails; under GPU outputs stay in the session.
TEST(HostRuntime, UnboundOutputFailsWhereOutputsMustBeBound) {
    for (int32_t type : {kQdnnInferenceGpu, kQdnnInferenceHtp, kQdnnInferenceNeuron}) {
        Net net = loadedNet(kTest + "vector_nc.onnx", type);
        QDNNSession session = qdnnNetCreateSession(net.get(), "default");
        EXPECT_EQ(qdnnSessionWarmup(session), 0) << type;
        EXPECT_EQ(qdnnSessionRun(session) != 0, type != kQdnnInferenceGpu) << type;
    }
}

// A host buffer smaller than its tensor is refused when it is bound, so no
// upload, run or download can write past it.
TEST(HostRuntime, ABufferSmallerThanItsTensorIsRefused) {
    QDNNTensor host = qdnnTensorCreate(1, 1, 1, 4, 1, 8, 0);
    std::vector<float> values(4);
    EXPECT_NE(qdnnTensorSetHostBuffer(host, values.data(), 3 * sizeof(float)), 0);
    EXPECT_NE(qdnnTensorSetOffsetedHostBuffer(host, values.data(), 4 * sizeof(float), 4,
                                              4 * sizeof(float)),
              0);
    EXPECT_EQ(qdnnTensorSetHostBuffer(host, values.data(), 4 * sizeof(float)), 0);
    qdnnTensorDestroy(host);
}

// OpenCV would silently run a 112x112 input through a 224x224 model; an index
// past the inputs gives no tensor. (The shapes the runtime reports are read by
// the runner and checked by the engine: tests/lifecycle, tests/driver.)
TEST(HostRuntime, InputOfAnotherShapeIsRejected) {
    Net net = loadedNet(kConstant + "xepo_entrance.qdnn");
    QDNNSession session = qdnnNetCreateSession(net.get(), "default");
    EXPECT_EQ(qdnnSessionGetInputTensorByIndex(session, 1), nullptr);  // one input only
    // batch, height, width, channel; bound as the output
    const std::pair<std::array<int32_t, 4>, bool> cases[] = {
        {{1, 112, 112, 3}, false}, {{1, 224, 3, 224}, false}, {{1, 1, 1, 3}, true}};
    for (const auto& [s, output] : cases) {
        QDNNTensor host = qdnnTensorCreate(s[0], s[1], s[2], s[3], 1, 8, 0);
        std::vector<float> values(qdnnTensorGetSizeInElements(host));
        ASSERT_EQ(qdnnTensorSetHostBuffer(host, values.data(), values.size() * 4), 0);
        EXPECT_NE(qdnnTensorUpload(output ? qdnnSessionGetOutputTensorByIndex(session, 0)
                                          : qdnnSessionGetInputTensorByIndex(session, 0),
                                   host),
                  0);
        qdnnTensorDestroy(host);
    }
}

TEST(HostRuntime, NullStaleAndForeignHandlesFailCleanly) {
    QDNNTensor tensor = qdnnTensorCreate(1, 1, 1, 2, 1, 8, 0);
    qdnnTensorDestroy(tensor);
    qdnnTensorDestroy(tensor);
    EXPECT_EQ(qdnnTensorGetSizeInBytes(tensor), 0u);
    int foreign = 0;
    EXPECT_NE(qdnnSessionRun(&foreign), 0);
    EXPECT_EQ(qdnnTensorGetBatch(&foreign), 0);
    EXPECT_NE(qdnnNetLoadModelFromPath(nullptr, (kTest + "vector_nc.onnx").c_str()), 0);
}

}  // namespace
