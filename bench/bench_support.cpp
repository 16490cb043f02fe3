#include "bench_support.h"

#include <android/log.h>
#include <stb_image.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <opencv2/imgproc.hpp>
#include <tuple>

namespace bench {

const char* const kSamplePhotos[4] = {"coffee.jpg", "astronaut.jpg", "chelsea.jpg", "rocket.jpg"};

std::string samplePath(const std::string& name) {
    return std::string(XEPO_SOURCE_DIR) + "/samples/" + name;
}

Nv21Canvas::Nv21Canvas(const std::string& photoPath, int frameWidth, int frameHeight,
                       int marginPixels)
    : width(frameWidth),
      height(frameHeight),
      margin(marginPixels),
      canvasWidth(frameWidth + marginPixels),
      canvasHeight(frameHeight + marginPixels) {
    int photoWidth = 0;
    int photoHeight = 0;
    int components = 0;
    std::unique_ptr<stbi_uc, void (*)(void*)> pixels(
        stbi_load(photoPath.c_str(), &photoWidth, &photoHeight, &components, 3), stbi_image_free);
    if (pixels == nullptr || canvasWidth % 2 != 0 || canvasHeight % 2 != 0) {
        return;
    }
    const cv::Mat photo(photoHeight, photoWidth, CV_8UC3, pixels.get());
    cv::Mat scaled;
    cv::resize(photo, scaled, cv::Size(canvasWidth, canvasHeight), 0.0, 0.0, cv::INTER_AREA);
    // Planar Y, then U and V at quarter size, BT.601.
    cv::Mat planar;
    cv::cvtColor(scaled, planar, cv::COLOR_RGB2YUV_I420);

    const size_t lumaBytes = static_cast<size_t>(canvasWidth) * canvasHeight;
    const size_t chromaBytes = lumaBytes / 4;
    y.assign(planar.data, planar.data + lumaBytes);
    const uint8_t* u = planar.data + lumaBytes;
    const uint8_t* v = u + chromaBytes;
    vu.resize(2 * chromaBytes);
    for (size_t i = 0; i < chromaBytes; ++i) {
        vu[2 * i] = v[i];
        vu[2 * i + 1] = u[i];
    }
}

VImage Nv21Canvas::frame(int offsetX, int offsetY) const {
    const int x = std::clamp(offsetX, 0, margin) & ~1;
    const int yOffset = std::clamp(offsetY, 0, margin) & ~1;
    VImage image{};
    image.yuv_format = 17;
    image.width = width;
    image.height = height;
    image.stride = canvasWidth;
    image.yPlane = const_cast<uint8_t*>(y.data()) + static_cast<size_t>(yOffset) * canvasWidth + x;
    image.uvPlane =
        const_cast<uint8_t*>(vu.data()) + static_cast<size_t>(yOffset / 2) * canvasWidth + x;
    return image;
}

const Nv21Canvas& canvasFor(int photo, int frameWidth, int frameHeight, int margin) {
    static std::map<std::tuple<int, int, int, int>, std::unique_ptr<Nv21Canvas>> canvases;
    const auto key = std::make_tuple(photo, frameWidth, frameHeight, margin);
    auto found = canvases.find(key);
    if (found == canvases.end()) {
        const int index = std::clamp(photo, 0, 3);
        found = canvases
                    .emplace(key, std::make_unique<Nv21Canvas>(samplePath(kSamplePhotos[index]),
                                                               frameWidth, frameHeight, margin))
                    .first;
    }
    return *found->second;
}

namespace {

struct TallyState {
    std::vector<std::string> watched;
    std::vector<int64_t> counts;
    int64_t errors = 0;
    std::string firstError;
};

TallyState tally;

void countLine(const __android_logger_data* data, const char* message) {
    if (message == nullptr) {
        return;
    }
    if (data != nullptr && data->priority >= ANDROID_LOG_ERROR) {
        if (tally.errors == 0) {
            tally.firstError = message;
        }
        ++tally.errors;
    }
    for (size_t i = 0; i < tally.watched.size(); ++i) {
        if (std::strstr(message, tally.watched[i].c_str()) != nullptr) {
            ++tally.counts[i];
        }
    }
}

void dropLine(const __android_logger_data*, const char*) {}

}  // namespace

LogTally::LogTally(std::vector<std::string> watched, bool withDebug) {
    tally = TallyState{};
    tally.counts.assign(watched.size(), 0);
    tally.watched = std::move(watched);
    __android_log_set_logger(countLine);
    __android_log_set_minimum_priority(withDebug ? ANDROID_LOG_DEBUG : ANDROID_LOG_INFO);
}

LogTally::~LogTally() {
    silenceEngineLog();
}

void silenceEngineLog() {
    __android_log_set_logger(dropLine);
    __android_log_set_minimum_priority(ANDROID_LOG_INFO);
}

int64_t LogTally::errors() const {
    return tally.errors;
}

int64_t LogTally::count(size_t i) const {
    return i < tally.counts.size() ? tally.counts[i] : 0;
}

std::string LogTally::firstError() const {
    return tally.firstError;
}

}  // namespace bench
