// Fully connected heads (Gemm, MatMul with constant weights) on the host
// runtime give the exactly rounded sum of their terms, whatever the CPU's
// vector width or fused multiply-add: the models' weights cancel so that any
// float32 summation order loses the small terms.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "qdnn_runner/qdnn_runner.h"

namespace {

// Input and exact output (representable in float32) for the weights of
// make_test_models.py sum-order: row 0 = 1e8, 1, -1e8, 1 and bias 0.5; row 1 =
// 0.25, -0.5, 0.125, 2 and bias -3.
const std::pair<std::vector<float>, std::vector<float>> kCases[] = {
    {{1.0f, 1.0f, 1.0f, 1.0f}, {2.5f, -1.125f}},
    {{3.0f, -2.0f, 3.0f, 5.0f}, {3.5f, 9.125f}},
    {{0.0f, 4.0f, 0.0f, -1.0f}, {3.5f, -7.0f}},
};

class SumOrder : public ::testing::TestWithParam<const char*> {};

TEST_P(SumOrder, HeadGivesTheExactSumUnderEveryBackend) {
    for (const char* backend : {"GPU", "HTP"}) {
        QDNNRunner runner(std::string(SUM_ORDER_MODEL_DIR) + "/" + GetParam(), backend, 20, 2);
        ASSERT_EQ(runner.init(), QDNNRunner::kOk) << backend;
        for (auto [input, expected] : kCases) {
            std::vector<float> output(2, -99.0f);
            ASSERT_EQ(runner.forward({input.data()}, {output.data()}), QDNNRunner::kOk);
            EXPECT_EQ(output, expected) << backend << " " << testing::PrintToString(input);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Heads, SumOrder,
                         ::testing::Values("gemm_cancel.onnx", "matmul_cancel.onnx"));

}  // namespace
