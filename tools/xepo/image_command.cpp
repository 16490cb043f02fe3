// xepo image: runs the engine's image-file entry on image files and prints one
// answer per file.
//
// A host of the public interface: it makes a parameter handle for a model
// directory, creates the engine, calls runAeEngineImage per file and releases
// everything. The engine leaves the result untouched when it cannot read a
// file, so the tool checks and decodes every file itself first (once) to say
// what is wrong; it keeps only the thumbnail --map-png needs, so that its copy
// and the engine's own decode never hold full-size pixels at the same time.
#include <stb_image.h>
#include <sys/stat.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

#include "cli_values.h"
#include "commands.h"
#include "engine_handle.h"
#include "engine_log.h"
#include "image_file_check.h"
#include "light_map_png.h"
#include "xepo.h"

namespace {

// The full image path (entrance model, then the albedo model when asked for).
constexpr int kDefaultControl = 2;
// A lux index inside the band where the albedo score is used (150..400).
constexpr float kDefaultLux = 300.0f;
// Only this control fills the light-region map.
constexpr int kMapControl = 3;
// Without models only the neutral answer can be given.
constexpr int kNeutralControl = -1;
// Pixels per map cell in the --map-png picture (320 x 240).
constexpr int kMapPngCellSize = 5;

struct ImageOptions {
    std::vector<std::string> files;
    int control = kDefaultControl;
    float lux = kDefaultLux;
    std::string modelDir = XEPO_DEFAULT_MODEL_DIR;
    bool json = false;
    std::string mapPng;
    bool verbose = false;
};

struct StbImageDeleter {
    void operator()(uint8_t* pixels) const { stbi_image_free(pixels); }
};
using DecodedPixels = std::unique_ptr<uint8_t, StbImageDeleter>;

// Where the map picture of `file` goes: the path itself for a single file,
// else the path with the file's stem added ("map.png" -> "map_rocket.png").
std::string mapPngPath(const std::string& base, const std::string& file, bool several) {
    if (!several) {
        return base;
    }
    const std::filesystem::path basePath(base);
    std::filesystem::path out =
        basePath.parent_path() /
        (basePath.stem().string() + "_" + std::filesystem::path(file).stem().string());
    out += basePath.has_extension() ? basePath.extension().string() : std::string(".png");
    return out.string();
}

void reportFailure(const ImageOptions& options, const std::string& file,
                   const std::string& message) {
    std::fprintf(stderr, "xepo image: %s: %s\n", file.c_str(), message.c_str());
    if (options.json) {
        std::printf("%s\n", nlohmann::json{{"file", file}, {"error", message}}.dump().c_str());
    }
}

// Checks and decodes `file` the way the engine will (3 components). With a
// cell size, keeps the --map-png thumbnail and frees the decoded pixels before
// returning. False with a message when the file is not an image the tool takes.
bool prepareImage(const std::string& file, int thumbnailCellSize, MapThumbnail& thumbnail,
                  std::string& error) {
    ImageFileInfo info;
    if (!checkImageFile(file, info, error)) {
        return false;
    }
    const OpenFile opened = openRegularFile(file, error);
    if (opened == nullptr) {
        return false;
    }
    RgbImage image;
    int components = 0;
    const DecodedPixels pixels(
        stbi_load_from_file(opened.get(), &image.width, &image.height, &components, 3));
    if (pixels == nullptr) {
        const char* reason = stbi_failure_reason();
        error = std::string("cannot decode the ") + info.format + " (" +
                (reason != nullptr ? reason : "unknown") + ")";
        return false;
    }
    image.pixels = pixels.get();
    if (thumbnailCellSize > 0) {
        thumbnail = makeMapThumbnail(image, thumbnailCellSize);
    }
    return true;
}

int countLightCells(const std::vector<uint8_t>& map) {
    int count = 0;
    for (uint8_t cell : map) {
        count += cell != 0 ? 1 : 0;
    }
    return count;
}

// Runs one file; false when it could not be answered. `mapFile` is where its
// --map-png picture goes, or empty.
bool runImageFile(const ImageOptions& options, void* engine, const std::string& file,
                  const std::string& mapFile) {
    MapThumbnail thumbnail;
    std::string error;
    if (!prepareImage(file, mapFile.empty() ? 0 : kMapPngCellSize, thumbnail, error)) {
        reportFailure(options, file, error);
        return false;
    }

    std::vector<uint8_t> map(kLightMapBytes, 0);
    XEPOSegMap mapRecord{0, 0, 0, map.data()};
    // The engine leaves the record untouched when it cannot read the file: a
    // NaN left behind tells the tool so.
    _XEPO_RES_ result{NAN, NAN, &mapRecord};
    const auto start = std::chrono::steady_clock::now();
    runAeEngineImage(engine, file.c_str(), &result, options.lux, options.control);
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    if (std::isnan(result.result)) {
        reportFailure(options, file, "the engine could not prepare the image");
        return false;
    }

    const bool hasMap = options.control == kMapControl;
    if (!mapFile.empty() && !writeLightMapPng(mapFile, thumbnail, map.data(), error)) {
        reportFailure(options, file, error);
        return false;
    }

    if (options.json) {
        nlohmann::json line{{"file", file},
                            {"control", options.control},
                            {"lux", options.lux},
                            {"result", result.result},
                            {"confidence", result.confidence},
                            {"ms", ms}};
        if (hasMap) {
            line["light_cells"] = countLightCells(map);
        }
        if (!mapFile.empty()) {
            line["map_png"] = mapFile;
        }
        std::printf("%s\n", line.dump().c_str());
    } else {
        std::printf("%s: result %.3f confidence %.3f time %.1f ms", file.c_str(), result.result,
                    result.confidence, ms);
        if (hasMap) {
            std::printf(" light cells %d/%d", countLightCells(map), kLightMapBytes);
        }
        if (!mapFile.empty()) {
            std::printf(" map %s", mapFile.c_str());
        }
        std::printf("\n");
    }
    std::fflush(stdout);
    return true;
}

void showEngineLog(bool verbose) {
    captureEngineLog(verbose, [verbose](const char* tag, int, const char* message) {
        if (!verbose && std::strstr(message, kEngineReleaseNotice) != nullptr) {
            return;
        }
        // Many engine messages end in their own newline.
        const size_t length = std::strlen(message);
        const int shown =
            static_cast<int>(length > 0 && message[length - 1] == '\n' ? length - 1 : length);
        std::fprintf(stderr, "%s: %.*s\n", tag, shown, message);
    });
}

// What identifies a file: device and inode when it exists (so that any
// spelling, symbolic or hard link of it matches), else its absolute path with
// the existing part resolved.
std::string fileIdentity(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) == 0) {
        return "inode " + std::to_string(status.st_dev) + ":" + std::to_string(status.st_ino);
    }
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    return "path " + std::filesystem::weakly_canonical(absolute, ec).string();
}

// The --map-png file of every input (all empty without --map-png). False with
// a message when two inputs would write the same picture or a picture would
// overwrite one of the inputs.
bool planMapFiles(const ImageOptions& options, std::vector<std::string>& mapFiles,
                  std::string& error) {
    mapFiles.assign(options.files.size(), std::string());
    if (options.mapPng.empty()) {
        return true;
    }
    std::map<std::string, std::string> inputs;  // identity -> input as given
    for (const std::string& file : options.files) {
        inputs.emplace(fileIdentity(file), file);
    }
    std::map<std::string, std::string> taken;  // identity -> input whose map goes there
    for (size_t i = 0; i < options.files.size(); ++i) {
        const std::string& file = options.files[i];
        mapFiles[i] = mapPngPath(options.mapPng, file, options.files.size() > 1);
        const std::string identity = fileIdentity(mapFiles[i]);
        const auto input = inputs.find(identity);
        if (input != inputs.end()) {
            error =
                "--map-png: the picture of " + file + " would overwrite the input " + input->second;
            return false;
        }
        const auto [earlier, fresh] = taken.emplace(identity, file);
        if (!fresh) {
            error = "--map-png: " + earlier->second + " and " + file +
                    " would both write their picture to " + mapFiles[i];
            return false;
        }
    }
    return true;
}

int runImageCommand(const ImageOptions& options) {
    showEngineLog(options.verbose);
    if (!options.mapPng.empty() && options.control != kMapControl) {
        std::fprintf(stderr, "xepo image: --map-png needs --control %d (only it makes the map)\n",
                     kMapControl);
        return kExitUsage;
    }
    std::vector<std::string> mapFiles;
    std::string error;
    if (!planMapFiles(options, mapFiles, error)) {
        std::fprintf(stderr, "xepo image: %s\n", error.c_str());
        return kExitUsage;
    }
    EngineHandle session;
    if (options.control != kNeutralControl) {
        if (!session.open(options.modelDir, error)) {
            std::fprintf(stderr, "xepo image: %s\n", error.c_str());
            return kExitFailure;
        }
    }
    int exitCode = kExitOk;
    for (size_t i = 0; i < options.files.size(); ++i) {
        if (!runImageFile(options, session.get(), options.files[i], mapFiles[i])) {
            exitCode = kExitFailure;
        }
    }
    return exitCode;
}

}  // namespace

void registerImageCommand(CLI::App& app) {
    auto options = std::make_shared<ImageOptions>();
    CLI::App* command = app.add_subcommand(
        "image", "Run the engine's models on image files and print one answer per file");
    command->footer(kExitCodesFooter);
    command->add_option("files", options->files, "Image files (any format stb_image reads)")
        ->required();
    command
        ->add_option("--control", options->control,
                     "-1 neutral, 0 entrance, 1 albedo fraction, 3 light map, other: full path")
        ->check(wholeNumberCheck(true))
        ->capture_default_str();
    command
        ->add_option("--lux", options->lux,
                     "Lux index of the exposure control, 0..10000 (larger = darker)")
        ->check(luxCheck(false))
        ->capture_default_str();
    command->add_option("--models", options->modelDir, "Directory of the four model files")
        ->capture_default_str();
    command->add_flag("--json", options->json, "One JSON object per file");
    command->add_option("--map-png", options->mapPng,
                        "Write the 64x48 light map over a thumbnail (with --control 3; several "
                        "files add their name to the path)");
    command->add_flag("--verbose", options->verbose, "Show the engine's debug lines");
    command->callback([options] { setCommandExitCode(runImageCommand(*options)); });
}
