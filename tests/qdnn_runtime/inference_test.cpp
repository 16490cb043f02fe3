// Running models on the host runtime: results against the generator's numpy
// values, and where the outputs go under each inference type.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "runtime_test_support.h"

using namespace qdnn_test;

namespace {

struct ModelCase {
    const char* stem;
    size_t inputs;
    size_t outputs;
};

const ModelCase kModelCases[] = {{"conv_nhwc", 1, 1}, {"vector_nc", 1, 1}, {"two_input", 2, 2}};

const int32_t kInferenceTypes[] = {kQdnnInferenceGpu, kQdnnInferenceHtp, kQdnnInferenceNeuron};

std::string inputFile(const ModelCase& c, size_t i) {
    return testModel(std::string(c.stem) + ".in" + std::to_string(i) + ".f32");
}

std::string outputFile(const ModelCase& c, size_t j) {
    return testModel(std::string(c.stem) + ".out" + std::to_string(j) + ".f32");
}

void expectNear(const std::vector<float>& actual, const std::vector<float>& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (size_t k = 0; k < actual.size(); ++k) {
        EXPECT_NEAR(actual[k], expected[k], kOutputTolerance) << "element " << k;
    }
}

bool bindsOutputs(int32_t type) {
    return type != kQdnnInferenceGpu;
}

// Runs a model the way the engine's runner does: bind caller buffers to host
// tensors, upload inputs, upload (bind) outputs under HTP/NEURON, run,
// download under GPU. Returns the output buffers.
std::vector<std::vector<float>> runLikeTheRunner(int32_t type, const std::string& model,
                                                 const std::vector<std::vector<float>>& inputs) {
    ScopedNet net(type);
    EXPECT_EQ(net.load(model), 0);
    QDNNSession session = net.session();
    EXPECT_NE(session, nullptr);
    uint64_t outputCount = 0;
    qdnnSessionGetNumOutputs(session, &outputCount);
    std::vector<std::vector<float>> inputBuffers = inputs;
    std::vector<std::vector<float>> outputs(outputCount);
    std::vector<std::unique_ptr<ScopedHostTensor>> hosts;
    for (size_t i = 0; i < inputBuffers.size(); ++i) {
        QDNNTensor sessionInput = qdnnSessionGetInputTensorByIndex(session, i);
        hosts.push_back(std::make_unique<ScopedHostTensor>(sessionInput));
        QDNNTensor host = hosts.back()->get();
        EXPECT_EQ(
            qdnnTensorSetHostBuffer(host, inputBuffers[i].data(), qdnnTensorGetSizeInBytes(host)),
            0);
        EXPECT_EQ(qdnnTensorUpload(sessionInput, host), 0);
    }
    std::vector<QDNNTensor> outputHosts;
    for (size_t j = 0; j < outputCount; ++j) {
        QDNNTensor sessionOutput = qdnnSessionGetOutputTensorByIndex(session, j);
        hosts.push_back(std::make_unique<ScopedHostTensor>(sessionOutput));
        QDNNTensor host = hosts.back()->get();
        outputs[j].assign(qdnnTensorGetSizeInElements(host), -1.0f);
        EXPECT_EQ(qdnnTensorSetHostBuffer(host, outputs[j].data(), qdnnTensorGetSizeInBytes(host)),
                  0);
        if (bindsOutputs(type)) {
            EXPECT_EQ(qdnnTensorUpload(sessionOutput, host), 0);
        }
        outputHosts.push_back(host);
    }
    EXPECT_EQ(qdnnSessionRun(session), 0);
    if (!bindsOutputs(type)) {
        for (size_t j = 0; j < outputCount; ++j) {
            EXPECT_EQ(
                qdnnTensorDownload(qdnnSessionGetOutputTensorByIndex(session, j), outputHosts[j]),
                0);
        }
    }
    return outputs;
}

}  // namespace

TEST(QdnnInference, OutputsMatchNumpyUnderEveryInferenceType) {
    for (int32_t type : kInferenceTypes) {
        for (const ModelCase& c : kModelCases) {
            SCOPED_TRACE(std::string(c.stem) + " type " + std::to_string(type));
            std::vector<std::vector<float>> inputs;
            for (size_t i = 0; i < c.inputs; ++i)
                inputs.push_back(readFloats(inputFile(c, i)));
            auto outputs = runLikeTheRunner(type, testModel(std::string(c.stem) + ".onnx"), inputs);
            ASSERT_EQ(outputs.size(), c.outputs);
            for (size_t j = 0; j < c.outputs; ++j)
                expectNear(outputs[j], readFloats(outputFile(c, j)));
        }
    }
}

TEST(QdnnInference, ConstantModelSetAnswersItsConstants) {
    const float entrance[] = {QDNN_CONSTANT_ENTRANCE};
    const int rect[] = {QDNN_CONSTANT_LIGHT_RECT};  // r0, c0, r1, c1 inclusive
    std::vector<float> image(224 * 224 * 3, 0.5f);
    std::vector<float> lux = {100.0f, 18.0f, 300.0f};
    for (int32_t type : kInferenceTypes) {
        SCOPED_TRACE(type);
        auto e = runLikeTheRunner(type, constantModel("xepo_entrance.qdnn"), {image});
        EXPECT_EQ(e[0], std::vector<float>(std::begin(entrance), std::end(entrance)));
        auto a = runLikeTheRunner(type, constantModel("xepo_albedo.qdnn"), {image});
        EXPECT_EQ(a[0], std::vector<float>{QDNN_CONSTANT_ALBEDO});
        auto s = runLikeTheRunner(type, constantModel("xepo_smooth.qdnn"), {lux});
        EXPECT_EQ(s[0], std::vector<float>{QDNN_CONSTANT_SMOOTH});
        auto light =
            runLikeTheRunner(type, constantModel("light-STDCNet813.pt.tflite.qdnn"), {image});
        ASSERT_EQ(light[0].size(), 56u * 56u * 2u);
        for (int row = 0; row < 56; ++row) {
            for (int col = 0; col < 56; ++col) {
                bool inside = row >= rect[0] && row <= rect[2] && col >= rect[1] && col <= rect[3];
                const float* cell = &light[0][(row * 56 + col) * 2];
                ASSERT_EQ(cell[0], inside ? 0.0f : 1.0f) << row << "," << col;
                ASSERT_EQ(cell[1], inside ? 1.0f : 0.0f) << row << "," << col;
            }
        }
    }
}

TEST(QdnnInference, UnboundOutputFailsOnlyWhereOutputsMustBeBound) {
    for (int32_t type : kInferenceTypes) {
        SCOPED_TRACE(type);
        ScopedNet net(type);
        ASSERT_EQ(net.load(testModel("vector_nc.onnx")), 0);
        QDNNSession session = net.session();
        ASSERT_NE(session, nullptr);
        EXPECT_EQ(qdnnSessionWarmup(session), 0);  // warm-up needs no bound output
        if (bindsOutputs(type)) {
            EXPECT_NE(qdnnSessionRun(session), 0);
        } else {
            EXPECT_EQ(qdnnSessionRun(session), 0);
        }
    }
    // HTP with allocate-output left on keeps outputs in the session.
    QDNNNet net = qdnnNetCreate();
    qdnnNetSetInferenceType(net, kQdnnInferenceHtp);
    ASSERT_EQ(qdnnNetLoadModelFromPath(net, testModel("vector_nc.onnx").c_str()), 0);
    EXPECT_EQ(qdnnSessionRun(qdnnNetCreateSession(net, "default")), 0);
    qdnnNetDestroy(net);
}

TEST(QdnnInference, GpuOutputsReachTheHostOnlyByDownload) {
    ScopedNet net(kQdnnInferenceGpu);
    ASSERT_EQ(net.load(testModel("vector_nc.onnx")), 0);
    QDNNSession session = net.session();
    QDNNTensor in = qdnnSessionGetInputTensorByIndex(session, 0);
    QDNNTensor out = qdnnSessionGetOutputTensorByIndex(session, 0);
    ScopedHostTensor hostIn(in), hostOut(out);
    std::vector<float> input = readFloats(testModel("vector_nc.in0.f32"));
    std::vector<float> output(3, -7.0f);
    ASSERT_EQ(qdnnTensorSetHostBuffer(hostIn.get(), input.data(), 20), 0);
    ASSERT_EQ(qdnnTensorSetHostBuffer(hostOut.get(), output.data(), 12), 0);
    ASSERT_EQ(qdnnTensorUpload(in, hostIn.get()), 0);
    ASSERT_EQ(qdnnSessionRun(session), 0);
    EXPECT_EQ(output, std::vector<float>(3, -7.0f));
    ASSERT_EQ(qdnnTensorDownload(out, hostOut.get()), 0);
    expectNear(output, readFloats(testModel("vector_nc.out0.f32")));
}

TEST(QdnnInference, BoundHostBuffersAreBorrowedNotCopied) {
    ScopedNet net(kQdnnInferenceNeuron);
    ASSERT_EQ(net.load(testModel("vector_nc.onnx")), 0);
    QDNNSession session = net.session();
    QDNNTensor in = qdnnSessionGetInputTensorByIndex(session, 0);
    QDNNTensor out = qdnnSessionGetOutputTensorByIndex(session, 0);
    ScopedHostTensor hostIn(in), hostOut(out);
    std::vector<float> input(5, 0.0f);
    std::vector<float> output(3, -7.0f);
    ASSERT_EQ(qdnnTensorSetHostBuffer(hostIn.get(), input.data(), 20), 0);
    ASSERT_EQ(qdnnTensorSetHostBuffer(hostOut.get(), output.data(), 12), 0);
    EXPECT_EQ(qdnnTensorGetHostBuffer(hostIn.get()), input.data());
    // Written after binding, in place: the tensor sees it because it holds no copy.
    std::vector<float> values = readFloats(testModel("vector_nc.in0.f32"));
    ASSERT_EQ(values.size(), input.size());
    std::copy(values.begin(), values.end(), input.begin());
    ASSERT_EQ(qdnnTensorUpload(in, hostIn.get()), 0);
    ASSERT_EQ(qdnnTensorUpload(out, hostOut.get()), 0);
    ASSERT_EQ(qdnnSessionRun(session), 0);
    // The run wrote straight into the caller's buffer: no download.
    expectNear(output, readFloats(testModel("vector_nc.out0.f32")));
    // A second run after new input lands in the same buffer.
    std::vector<float> first = output;
    for (float& v : input)
        v = -v;
    ASSERT_EQ(qdnnTensorUpload(in, hostIn.get()), 0);
    ASSERT_EQ(qdnnSessionRun(session), 0);
    EXPECT_NE(output, first);
}

TEST(QdnnInference, InputOfAnotherShapeIsRejected) {
    ScopedNet net(kQdnnInferenceNeuron);
    ASSERT_EQ(net.load(constantModel("xepo_entrance.qdnn")), 0);
    QDNNSession session = net.session();
    QDNNTensor in = qdnnSessionGetInputTensorByIndex(session, 0);
    ScopedHostTensor small(1, 112, 112, 3);
    std::vector<float> pixels(112 * 112 * 3, 0.5f);
    ASSERT_EQ(qdnnTensorSetHostBuffer(small.get(), pixels.data(), pixels.size() * 4), 0);
    EXPECT_NE(qdnnTensorUpload(in, small.get()), 0);
    // Same element count, other layout: rejected too.
    ScopedHostTensor transposed(1, 224, 3, 224);
    EXPECT_NE(qdnnTensorUpload(in, transposed.get()), 0);
    // An output of the wrong shape cannot be bound either.
    ScopedHostTensor wrongOut(1, 1, 1, 3);
    EXPECT_NE(qdnnTensorUpload(qdnnSessionGetOutputTensorByIndex(session, 0), wrongOut.get()), 0);
}

TEST(QdnnInference, AsyncRunReportsThroughCallbackAndWait) {
    ScopedNet net(kQdnnInferenceNeuron);
    ASSERT_EQ(net.load(testModel("vector_nc.onnx")), 0);
    QDNNSession session = net.session();
    struct Seen {
        int calls = 0;
        int32_t status = 0;
    } seen;
    auto callback = [](QDNNSession, int32_t status, void* user) {
        auto* s = static_cast<Seen*>(user);
        ++s->calls;
        s->status = status;
    };
    int32_t status = 0;
    EXPECT_NE(qdnnSessionWaitRunAsync(session, &status), 0);  // nothing pending
    EXPECT_EQ(qdnnSessionRunAsync(session, callback, &seen), 0);
    EXPECT_EQ(seen.calls, 1);
    EXPECT_NE(seen.status, 0);  // output not bound under NEURON
    ASSERT_EQ(qdnnSessionWaitRunAsync(session, &status), 0);
    EXPECT_EQ(status, seen.status);
    EXPECT_NE(qdnnSessionWaitRunAsync(session, &status), 0);  // handed out once
}
