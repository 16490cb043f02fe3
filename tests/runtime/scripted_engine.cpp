#include "scripted_engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "runtime/qdnn_interface.h"
#include "xepo_contract.h"

namespace scripted {
namespace {

// Entrance, albedo, light segmentation, smooth.
constexpr const char* kFiles[] = {"xepo_entrance.qdnn", "xepo_albedo.qdnn",
                                  "light-STDCNet813.pt.tflite.qdnn", "xepo_smooth.qdnn"};

void script(ScriptedModel& model, const QDNNTensorShape& input, const QDNNTensorShape& output,
            std::vector<float> answer) {
    model.input = {input.batch, input.height, input.width, input.channel};
    model.output = {output.batch, output.height, output.width, output.channel};
    model.outputs = {std::move(answer)};
}

}  // namespace

std::vector<float> entrance(float confidence, float highKey, float lightScene) {
    return {1.0f - confidence, confidence, highKey, lightScene};
}

std::vector<float> lightCells(int r0, int c0, int r1, int c1) {
    std::vector<float> out(xepo::kLightSegFloats);
    for (int row = 0; row < xepo::kLightSegSide; ++row) {
        for (int col = 0; col < xepo::kLightSegSide; ++col) {
            const bool light = row >= r0 && row <= r1 && col >= c0 && col <= c1;
            const size_t cell = static_cast<size_t>(row * xepo::kLightSegSide + col);
            out[2 * cell] = light ? 0.0f : 1.0f;
            out[2 * cell + 1] = light ? 1.0f : 0.0f;
        }
    }
    return out;
}

std::unique_ptr<xepo::AeEngine> bareEngine() {
    auto e = std::make_unique<xepo::AeEngine>();
    e->enResult = std::make_unique<float[]>(xepo::kEntranceOutputs);
    e->lastEnResult = std::make_unique<float[]>(xepo::kEntranceOutputs);
    e->smoothInput = std::make_unique<float[]>(xepo::kSmoothInputs);
    e->smoothResult = std::make_unique<float[]>(1);
    e->lightSegOutput = std::make_unique<float[]>(xepo::kLightSegFloats);
    e->modelInput = std::make_unique<float[]>(xepo::kModelInputFloats);
    e->rgbImage = std::make_unique<uint8_t[]>(xepo::kRgbImageBytes);
    e->curHist = std::make_unique<int32_t[]>(xepo::kHistBins);
    e->grayThumb = std::make_unique<uint8_t[]>(xepo::kThumbBytes);
    e->lastSegMap = std::make_unique<uint8_t[]>(xepo::kSegMapBytes);
    e->segMap = std::make_unique<uint8_t[]>(xepo::kSegMapBytes);
    return e;
}

ScriptedEngine::ScriptedEngine(const std::string& modelDir) {
    if (modelDir.empty()) {
        rt = scriptedRuntimeOf(getQDNNInterface().libHandle);
        if (rt == nullptr) {
            ADD_FAILURE() << "the scripted runtime must sit beside this program";
            return;
        }
        rt->reset();
        const QDNNTensorShape& image = xepo::kImageModelInputShape;
        script(entrance(), image, xepo::kEntranceOutputShape, scripted::entrance(0.9f));
        script(albedo(), image, xepo::kAlbedoOutputShape, {0.3f});
        script(lightSeg(), image, xepo::kLightSegOutputShape, scripted::lightCells(0, 0, -1, -1));
        script(smooth(), xepo::kSmoothInputShape, xepo::kSmoothOutputShape, {21.5f});
        smooth().keepInputs = true;
    }
    paramHandle = CreateParamHandle();
    for (int key : {kAeKeyEntrance, kAeKeyAlbedo, kAeKeyLightSeg, kAeKeySmooth}) {
        AeSetParam(paramHandle, key, modelDir.empty() ? "/scripted/" : modelDir.c_str());
    }
    engine = initAeEngine(paramHandle);
    EXPECT_NE(engine, nullptr) << "no engine on " << (modelDir.empty() ? "/scripted/" : modelDir);
}

ScriptedEngine::~ScriptedEngine() {
    releaseAeEngine(&engine);
    releaseParamHandle(&paramHandle);
}

ScriptedModel& ScriptedEngine::model(int index) {
    return rt->models[kFiles[index]];
}

AEParams ScriptedEngine::params(float lux) {
    AEParams p{};
    p.scale = 1.0f;
    p.aec_lux = lux;
    return p;
}

int ScriptedEngine::lightCells() const {
    return static_cast<int>(std::count(map.begin(), map.end(), uint8_t{255}));
}

_XEPO_RES_ ScriptedEngine::frame(const Nv21Frame& f, const AEParams& params, const float rate[3],
                                 int control) {
    uint8_t* y = const_cast<uint8_t*>(f.y.data());
    uint8_t* vu = const_cast<uint8_t*>(f.vu.data());
    VImage image{xepo::kFrameFormatNv21, f.width, f.height, {}, y, vu, {}, f.width, {}};
    IMUDataBlock imu{};
    imu.count = 2;
    for (int i = 0; i < imu.count; ++i) {
        imu.timestamp[i] = clockNs += 16'500'000;
        if (rate != nullptr) {
            std::tie(imu.gyroX[i], imu.gyroY[i], imu.gyroZ[i]) =
                std::tie(rate[0], rate[1], rate[2]);
        }
    }
    AEParams p = params;
    std::fill(map.begin(), map.end(), uint8_t{1});
    mapRecord = XEPOSegMap{0, 0, 0, map.data()};
    _XEPO_RES_ result{-1.0f, -1.0f, &mapRecord};
    if (viaRunAeEngine) {
        runAeEngine(engine, y, vu, f.width, f.height, p.rotation, p.scale, p.reserved0, p.flip,
                    &result, control, p.aec_lux, &imu);
    } else {
        qiraAeProcess(engine, &image, &p, &result, control, &imu);
    }
    return result;
}

void ScriptedEngine::frames(int count, const Nv21Frame& f, const AEParams& p, const float rate[3]) {
    for (int i = 0; i < count; ++i) {
        frame(f, p, rate);
    }
}

}  // namespace scripted
