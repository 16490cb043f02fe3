// The engine's model runner on the real host runtime: the generator's models
// run through QDNNRunner (which opens libqdnn.so beside this program) under
// "NEURON" and "GPU", with outputs compared to the generator's values.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "qdnn_runner/qdnn_runner.h"

namespace {

// Tolerance of OpenCV's float arithmetic against numpy's double precision.
constexpr float kOutputTolerance = 1e-5f;
// The engine's runner settings.
constexpr uint8_t kFrequencyHint = 20;
constexpr int32_t kPriority = 3;

std::string testModel(const std::string& file) {
    return std::string(QDNN_TEST_MODEL_DIR) + "/" + file;
}

std::string constantModel(const std::string& file) {
    return std::string(QDNN_CONSTANT_MODEL_DIR) + "/" + file;
}

std::vector<float> readFloats(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::vector<char> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    std::vector<float> values(bytes.size() / sizeof(float));
    std::copy(bytes.begin(), bytes.begin() + values.size() * sizeof(float),
              reinterpret_cast<char*>(values.data()));
    return values;
}

struct RunnerCase {
    std::string model;
    std::vector<std::vector<float>> inputs;
    std::vector<std::vector<float>> expected;
};

std::vector<RunnerCase> runnerCases() {
    std::vector<RunnerCase> cases;
    const std::pair<const char*, std::pair<int, int>> generated[] = {
        {"conv_nhwc", {1, 1}}, {"vector_nc", {1, 1}}, {"two_input", {2, 2}}};
    for (const auto& g : generated) {
        RunnerCase c;
        c.model = testModel(std::string(g.first) + ".onnx");
        for (int i = 0; i < g.second.first; ++i) {
            c.inputs.push_back(
                readFloats(testModel(std::string(g.first) + ".in" + std::to_string(i) + ".f32")));
        }
        for (int j = 0; j < g.second.second; ++j) {
            c.expected.push_back(
                readFloats(testModel(std::string(g.first) + ".out" + std::to_string(j) + ".f32")));
        }
        cases.push_back(c);
    }
    const std::vector<float> image(224 * 224 * 3, 0.25f);
    cases.push_back({constantModel("xepo_entrance.qdnn"), {image}, {{QDNN_CONSTANT_ENTRANCE}}});
    cases.push_back({constantModel("xepo_albedo.qdnn"), {image}, {{QDNN_CONSTANT_ALBEDO}}});
    cases.push_back(
        {constantModel("xepo_smooth.qdnn"), {{120.0f, 18.0f, 240.0f}}, {{QDNN_CONSTANT_SMOOTH}}});
    std::vector<float> light(56 * 56 * 2);
    const int rect[] = {QDNN_CONSTANT_LIGHT_RECT};
    for (int cell = 0; cell < 56 * 56; ++cell) {
        int row = cell / 56, col = cell % 56;
        bool inside = row >= rect[0] && row <= rect[2] && col >= rect[1] && col <= rect[3];
        light[cell * 2] = inside ? 0.0f : 1.0f;
        light[cell * 2 + 1] = inside ? 1.0f : 0.0f;
    }
    cases.push_back({constantModel("light-STDCNet813.pt.tflite.qdnn"), {image}, {light}});
    return cases;
}

}  // namespace

TEST(QdnnRunnerOnHostRuntime, GeneratedModelsGiveTheGeneratorsValues) {
    for (const char* backend : {"NEURON", "GPU", "HTP"}) {
        for (const RunnerCase& c : runnerCases()) {
            SCOPED_TRACE(std::string(backend) + " " + c.model);
            QDNNRunner runner(c.model, backend, kFrequencyHint, kPriority);
            ASSERT_EQ(runner.init(), 0);
            std::vector<std::vector<float>> inputs = c.inputs;
            std::vector<std::vector<float>> outputs;
            std::vector<void*> inputPointers, outputPointers;
            for (auto& input : inputs)
                inputPointers.push_back(input.data());
            for (const auto& expected : c.expected)
                outputs.emplace_back(expected.size(), -99.0f);
            for (auto& output : outputs)
                outputPointers.push_back(output.data());
            // Twice: the second run must not depend on anything the first left.
            for (int run = 0; run < 2; ++run) {
                ASSERT_EQ(runner.forward(inputPointers, outputPointers), 0);
                for (size_t j = 0; j < outputs.size(); ++j) {
                    ASSERT_EQ(outputs[j].size(), c.expected[j].size());
                    for (size_t k = 0; k < outputs[j].size(); ++k) {
                        ASSERT_NEAR(outputs[j][k], c.expected[j][k], kOutputTolerance)
                            << "output " << j << " element " << k;
                    }
                }
                for (auto& output : outputs)
                    std::fill(output.begin(), output.end(), -99.0f);
            }
        }
    }
}

TEST(QdnnRunnerOnHostRuntime, BadModelFailsInitWithTheLoadCode) {
    for (const char* file : {"bad_short_weight.onnx", "bad_truncated.onnx", "bad_no_nodes.onnx"}) {
        QDNNRunner runner(testModel(file), "NEURON", kFrequencyHint, kPriority);
        EXPECT_EQ(runner.init(), -2) << file;
    }
}
