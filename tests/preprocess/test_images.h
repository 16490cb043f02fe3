// Small images for preprocessing tests: a scratch directory and PNG writing.
#ifndef XEPO_TEST_PREPROCESS_TEST_IMAGES_H
#define XEPO_TEST_PREPROCESS_TEST_IMAGES_H

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace test_images {

struct Rgb {
    uint8_t r, g, b;
};

// A directory that lives as long as the object.
class ScratchDir {
  public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    std::string file(const std::string& name) const { return (path_ / name).string(); }

  private:
    std::filesystem::path path_;
};

// Writes a width x height RGB PNG whose pixel (x, y) is colourAt(x, y).
bool writePng(const std::string& path, int width, int height,
              const std::function<Rgb(int x, int y)>& colourAt);
// Writes `text` as the whole file.
bool writeText(const std::string& path, const std::string& text);

}  // namespace test_images

#endif  // XEPO_TEST_PREPROCESS_TEST_IMAGES_H
