// The engine's model runner on the real host runtime (libqdnn.so beside this
// program): the generator's NHWC image, (N,C) vector and two-input models and
// the constant-output set give the generator's values under every backend.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "log_capture.h"
#include "qdnn_runner/qdnn_runner.h"
#include "scripted_engine.h"

namespace {

// Tolerance of OpenCV's float arithmetic against numpy's double precision.
constexpr float kOutputTolerance = 1e-5f;
const std::string kTest = std::string(QDNN_TEST_MODEL_DIR) + "/";
const std::string kConstant = std::string(QDNN_CONSTANT_MODEL_DIR) + "/";

std::vector<float> readFloats(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(file), {}};
    std::vector<float> values(bytes.size() / sizeof(float));
    std::memcpy(values.data(), bytes.data(), values.size() * sizeof(float));
    return values;
}

// Every model here has as many outputs as inputs.
struct Case {
    std::string model;
    std::vector<std::vector<float>> inputs, expected;
};

std::vector<Case> cases() {
    std::vector<Case> all;
    const std::pair<std::string, int> generated[] = {
        {"conv_nhwc", 1}, {"vector_nc", 1}, {"two_input", 2}};
    for (const auto& [stem, count] : generated) {
        Case c{kTest + stem + ".onnx", {}, {}};
        for (int k = 0; k < count; ++k) {
            c.inputs.push_back(readFloats(kTest + stem + ".in" + std::to_string(k) + ".f32"));
            c.expected.push_back(readFloats(kTest + stem + ".out" + std::to_string(k) + ".f32"));
        }
        all.push_back(c);
    }
    const std::vector<float> image(224 * 224 * 3, 0.25f);
    // The rectangle is given as the scripted light answer takes it: r0, c0, r1, c1.
    const std::vector<float> light = scripted::lightCells(QDNN_CONSTANT_LIGHT_RECT);
    all.push_back({kConstant + "xepo_entrance.qdnn", {image}, {{QDNN_CONSTANT_ENTRANCE}}});
    all.push_back({kConstant + "xepo_albedo.qdnn", {image}, {{QDNN_CONSTANT_ALBEDO}}});
    all.push_back({kConstant + "light-STDCNet813.pt.tflite.qdnn", {image}, {light}});
    all.push_back(
        {kConstant + "xepo_smooth.qdnn", {{120.0f, 18.0f, 240.0f}}, {{QDNN_CONSTANT_SMOOTH}}});
    return all;
}

TEST(RunnerOnHostRuntime, ModelsGiveTheGeneratorsValuesUnderEveryBackend) {
    for (const char* backend : {"NEURON", "GPU", "HTP"}) {
        for (Case c : cases()) {
            SCOPED_TRACE(std::string(backend) + " " + c.model);
            QDNNRunner runner(c.model, backend, 20, 3);
            ASSERT_EQ(runner.init(), QDNNRunner::kOk);
            std::vector<std::vector<float>> outputs = c.expected;
            std::vector<void*> inputPointers, outputPointers;
            for (size_t k = 0; k < outputs.size(); ++k) {
                inputPointers.push_back(c.inputs[k].data());
                outputPointers.push_back(outputs[k].data());
            }
            // Twice: the second run must not depend on anything the first left.
            for (int run = 0; run < 2; ++run) {
                for (auto& output : outputs) {
                    std::fill(output.begin(), output.end(), -99.0f);
                }
                ASSERT_EQ(runner.forward(inputPointers, outputPointers), QDNNRunner::kOk);
                for (size_t j = 0; j < outputs.size(); ++j) {
                    for (size_t k = 0; k < outputs[j].size(); ++k) {
                        ASSERT_NEAR(outputs[j][k], c.expected[j][k], kOutputTolerance)
                            << "output " << j << " element " << k;
                    }
                }
            }
        }
    }
}

// A model of other shapes than the caller's buffers fails init with one line
// that lists every tensor of both sides.
TEST(RunnerOnHostRuntime, AModelOfOtherShapesIsNamedWithAllItsTensors) {
    const std::string model = kTest + "two_input.onnx";
    QDNNRunner runner(model, "NEURON", 20, 3);
    runner.expectShapes({{1, 1, 1, 4}}, {{1, 1, 1, 4}});
    LogCapture log;
    EXPECT_NE(runner.init(), QDNNRunner::kOk);
    EXPECT_EQ(log.texts(), std::vector<std::string>{
                               "model " + model +
                               " has input 1x1x1x4, 1x1x1x4 and output 1x1x1x4, 1x1x1x2 (batch x "
                               "height x width x channel); the engine needs input 1x1x1x4 and "
                               "output 1x1x1x4"});
}

}  // namespace
