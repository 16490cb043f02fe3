#include "test_images.h"

#include <stb_image_write.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <vector>

namespace test_images {

ScratchDir::ScratchDir() {
    static std::atomic<int> serial{0};
    path_ = std::filesystem::temp_directory_path() /
            ("xepo_preprocess_" + std::to_string(getpid()) + "_" + std::to_string(serial++));
    std::filesystem::create_directories(path_);
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

bool writePng(const std::string& path, int width, int height,
              const std::function<Rgb(int x, int y)>& colourAt) {
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const Rgb c = colourAt(x, y);
            uint8_t* p = &pixels[(static_cast<size_t>(y) * width + x) * 3];
            p[0] = c.r;
            p[1] = c.g;
            p[2] = c.b;
        }
    }
    return stbi_write_png(path.c_str(), width, height, 3, pixels.data(), width * 3) != 0;
}

bool writeText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
    return static_cast<bool>(out);
}

}  // namespace test_images
