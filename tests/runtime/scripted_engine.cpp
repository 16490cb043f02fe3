#include "scripted_engine.h"

#include <gtest/gtest.h>

#include "runtime/qdnn_interface.h"

namespace scripted {
namespace {

constexpr const char* kEntranceFile = "xepo_entrance.qdnn";
constexpr const char* kAlbedoFile = "xepo_albedo.qdnn";
constexpr const char* kLightSegFile = "light-STDCNet813.pt.tflite.qdnn";
constexpr const char* kSmoothFile = "xepo_smooth.qdnn";

void script(const char* file, const QDNNTensorShape& input, const QDNNTensorShape& output,
            std::vector<float> answer) {
    ScriptedModel& model = scriptedRuntimeOf(getQDNNInterface().libHandle)->models[file];
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

ScriptedEngine::ScriptedEngine() {
    rt = scriptedRuntimeOf(getQDNNInterface().libHandle);
    if (rt == nullptr) {
        ADD_FAILURE() << "the scripted runtime must sit beside this program";
        return;
    }
    rt->reset();
    script(kEntranceFile, xepo::kImageModelInputShape, xepo::kEntranceOutputShape,
           scripted::entrance(0.9f));
    script(kAlbedoFile, xepo::kImageModelInputShape, xepo::kAlbedoOutputShape, {0.3f});
    script(kLightSegFile, xepo::kImageModelInputShape, xepo::kLightSegOutputShape,
           lightCells(0, 0, -1, -1));
    script(kSmoothFile, xepo::kSmoothInputShape, xepo::kSmoothOutputShape, {21.5f});
    rt->models[kSmoothFile].keepInputs = true;
    paramHandle = CreateParamHandle();
    for (int key : {kAeKeyEntrance, kAeKeyAlbedo, kAeKeyLightSeg, kAeKeySmooth}) {
        AeSetParam(paramHandle, key, "/scripted/");
    }
    engine = initAeEngine(paramHandle);
    if (engine == nullptr) {
        ADD_FAILURE() << "the engine was not created on the scripted runtime";
    }
}

ScriptedEngine::~ScriptedEngine() {
    releaseAeEngine(&engine);
    releaseParamHandle(&paramHandle);
}

ScriptedModel& ScriptedEngine::entrance() {
    return rt->models[kEntranceFile];
}
ScriptedModel& ScriptedEngine::albedo() {
    return rt->models[kAlbedoFile];
}
ScriptedModel& ScriptedEngine::lightSeg() {
    return rt->models[kLightSegFile];
}
ScriptedModel& ScriptedEngine::smooth() {
    return rt->models[kSmoothFile];
}

AEParams ScriptedEngine::params(float lux) {
    AEParams p{};
    p.scale = 1.0f;
    p.aec_lux = lux;
    return p;
}

_XEPO_RES_ ScriptedEngine::frame(const Nv21Frame& f, const AEParams& params, const float rate[3]) {
    VImage image{};
    image.yuv_format = 17;
    image.width = f.width;
    image.height = f.height;
    image.stride = f.width;
    image.yPlane = const_cast<uint8_t*>(f.y.data());
    image.uvPlane = const_cast<uint8_t*>(f.vu.data());
    IMUDataBlock imu{};
    imu.count = 2;
    for (int i = 0; i < imu.count; ++i) {
        clockNs += 16'500'000;
        imu.timestamp[i] = clockNs;
        if (rate != nullptr) {
            imu.gyroX[i] = rate[0];
            imu.gyroY[i] = rate[1];
            imu.gyroZ[i] = rate[2];
        }
    }
    AEParams p = params;
    mapRecord = XEPOSegMap{0, 0, 0, map.data()};
    _XEPO_RES_ result{-1.0f, -1.0f, &mapRecord};
    qiraAeProcess(engine, &image, &p, &result, 2, &imu);
    return result;
}

}  // namespace scripted
