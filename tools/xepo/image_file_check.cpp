#include "image_file_check.h"

#include <stb_image.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>

namespace {

// Every JPEG scan codes each block of its components with at least one bit
// (a Huffman code is 1 to 16 bits long), and one block of any component covers
// at most 32 x 32 pixels (8 pixels times a sampling ratio of at most 4).
constexpr int64_t kJpegPixelsPerBitSide = 32;
// Deflate cannot shrink data more than 1032 times: its longest match (258
// bytes) takes at least 2 bits.
constexpr int64_t kDeflateMaxRatio = 1032;
// Longest PNG chunk the format allows (2^31 - 1 bytes).
constexpr uint64_t kPngMaxChunk = 0x7fffffffu;
// Bytes read for the BMP file and information headers.
constexpr int kBmpHeaderBytes = 54;

// The file, read from front to back one byte at a time.
class Reader {
  public:
    Reader(std::FILE* file, uint64_t size) : file_(file), size_(size) {}
    // The next byte, or -1 at the end of the file.
    int next() {
        const int c = getc_unlocked(file_);
        if (c != EOF) {
            ++offset_;
        }
        return c;
    }
    // False when the file ends within the next n bytes.
    bool skip(uint64_t n) {
        if (n > size_ - offset_) {
            return false;
        }
        if (std::fseek(file_, static_cast<long>(offset_ + n), SEEK_SET) != 0) {
            return false;
        }
        offset_ += n;
        return true;
    }
    // Big-endian number of `bytes` bytes; false at the end of the file.
    bool bigEndian(int bytes, uint64_t& value) {
        value = 0;
        for (int i = 0; i < bytes; ++i) {
            const int c = next();
            if (c < 0) {
                return false;
            }
            value = (value << 8) | static_cast<uint64_t>(c);
        }
        return true;
    }
    uint64_t offset() const { return offset_; }
    uint64_t size() const { return size_; }

  private:
    std::FILE* file_;
    uint64_t size_;
    uint64_t offset_ = 0;
};

std::string sizeText(const ImageFileInfo& info) {
    return std::to_string(info.width) + "x" + std::to_string(info.height);
}

std::string cutShort(const char* format, const std::string& detail) {
    return std::string(format) + " data ends before the image does (" + detail + ")";
}

// JPEG: markers up to the end-of-image marker; the entropy-coded bytes of every
// scan are counted, since a header followed by (almost) nothing would decode
// as a flat grey picture.
bool checkJpeg(Reader& in, const ImageFileInfo& info, std::string& error) {
    const char* const kCut = "no end-of-image marker: the file is cut short";
    in.skip(2);  // start of image, already recognised
    uint64_t scanBytes = 0;
    bool sawScan = false;
    int pending = -1;  // a marker that ended a scan
    for (;;) {
        int marker = pending;
        pending = -1;
        if (marker < 0) {
            // Like the decoder, step over stray bytes between segments.
            int first = in.next();
            while (first >= 0 && first != 0xFF) {
                first = in.next();
            }
            if (first < 0) {
                error = cutShort("JPEG", kCut);
                return false;
            }
            do {
                marker = in.next();
            } while (marker == 0xFF);
            if (marker < 0) {
                error = cutShort("JPEG", kCut);
                return false;
            }
        }
        if (marker == 0xD9) {  // end of image
            break;
        }
        if ((marker >= 0xD0 && marker <= 0xD7) || marker == 0x01) {
            continue;  // markers without a segment
        }
        uint64_t length = 0;
        if (!in.bigEndian(2, length)) {
            error = cutShort("JPEG", kCut);
            return false;
        }
        if (length < 2) {
            error = "JPEG segment at byte " + std::to_string(in.offset() - 4) +
                    " has an impossible length";
            return false;
        }
        if (!in.skip(length - 2)) {
            error = cutShort("JPEG", "a marker segment is cut short");
            return false;
        }
        if (marker != 0xDA) {
            continue;
        }
        // Entropy-coded data up to the next marker; 0xFF 0x00 is a data byte,
        // restart markers belong to the scan.
        sawScan = true;
        while (pending < 0) {
            int c = in.next();
            if (c < 0) {
                error = cutShort("JPEG", kCut);
                return false;
            }
            if (c != 0xFF) {
                ++scanBytes;
                continue;
            }
            do {
                c = in.next();
            } while (c == 0xFF);
            if (c < 0) {
                error = cutShort("JPEG", kCut);
                return false;
            }
            if (c == 0x00) {
                ++scanBytes;
            } else if (c < 0xD0 || c > 0xD7) {
                pending = c;
            }
        }
    }
    if (!sawScan) {
        error = "JPEG has no image data (no scan before the end-of-image marker)";
        return false;
    }
    const int64_t cellsWide = (info.width + kJpegPixelsPerBitSide - 1) / kJpegPixelsPerBitSide;
    const int64_t cellsHigh = (info.height + kJpegPixelsPerBitSide - 1) / kJpegPixelsPerBitSide;
    const uint64_t neededBytes = static_cast<uint64_t>((cellsWide * cellsHigh + 7) / 8);
    if (scanBytes < neededBytes) {
        error =
            cutShort("JPEG", std::to_string(scanBytes) + " bytes of scan data, " + sizeText(info) +
                                 " needs at least " + std::to_string(neededBytes));
        return false;
    }
    return true;
}

// PNG: chunks up to IEND, each whole; the compressed image data must be able to
// hold the rows the header announces.
bool checkPng(Reader& in, const ImageFileInfo& info, std::string& error) {
    in.skip(8);  // signature, already recognised
    uint64_t rawBytes = 0;
    uint64_t dataBytes = 0;
    for (;;) {
        uint64_t length = 0;
        uint64_t type = 0;
        if (!in.bigEndian(4, length) || !in.bigEndian(4, type)) {
            error = cutShort("PNG", "no IEND chunk: the file is cut short");
            return false;
        }
        const char name[5] = {static_cast<char>(type >> 24), static_cast<char>(type >> 16),
                              static_cast<char>(type >> 8), static_cast<char>(type), 0};
        if (length > kPngMaxChunk) {
            error = std::string("PNG chunk ") + name + " declares an impossible length";
            return false;
        }
        if (in.size() - in.offset() < length + 4) {  // data and CRC
            error = cutShort("PNG", std::string("chunk ") + name + " is cut short");
            return false;
        }
        if (std::strcmp(name, "IEND") == 0) {
            break;
        }
        if (std::strcmp(name, "IHDR") == 0 && length >= 13) {
            uint64_t width = 0, height = 0, depth = 0, colour = 0;
            in.bigEndian(4, width);
            in.bigEndian(4, height);
            in.bigEndian(1, depth);
            in.bigEndian(1, colour);
            const uint64_t channels = colour == 2 ? 3 : colour == 4 ? 2 : colour == 6 ? 4 : 1;
            // Each row: a filter byte and its packed samples.
            rawBytes = height * (1 + (width * channels * depth + 7) / 8);
            length -= 10;
        }
        if (std::strcmp(name, "IDAT") == 0) {
            dataBytes += length;
        }
        in.skip(length + 4);
    }
    if (dataBytes * kDeflateMaxRatio < rawBytes) {
        error =
            cutShort("PNG", std::to_string(dataBytes) + " bytes of image data, " + sizeText(info) +
                                " needs at least " + std::to_string(rawBytes / kDeflateMaxRatio));
        return false;
    }
    return true;
}

uint32_t littleEndian(const uint8_t* bytes, int count) {
    uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i) {
        value = (value << 8) | bytes[i];
    }
    return value;
}

// BMP without compression: the rows from the pixel offset on. The last row
// may lack its padding.
bool checkBmp(Reader& in, const ImageFileInfo& info, std::string& error) {
    uint8_t header[kBmpHeaderBytes] = {};
    for (uint8_t& byte : header) {
        const int c = in.next();
        byte = static_cast<uint8_t>(c < 0 ? 0 : c);
    }
    const uint32_t offset = littleEndian(header + 10, 4);
    const uint32_t headerSize = littleEndian(header + 14, 4);
    const bool old = headerSize == 12;
    const uint32_t bits = littleEndian(header + (old ? 24 : 28), 2);
    const uint32_t compression = old ? 0 : littleEndian(header + 30, 4);
    if (compression != 0 && compression != 3) {
        return true;  // the decoder refuses these itself
    }
    const uint64_t width = static_cast<uint64_t>(info.width);
    const uint64_t rowBytes = (width * bits + 31) / 32 * 4;
    const uint64_t needed =
        offset + rowBytes * (static_cast<uint64_t>(info.height) - 1) + (width * bits + 7) / 8;
    if (in.size() < needed) {
        error = cutShort("BMP", sizeText(info) + " at " + std::to_string(bits) + " bits needs " +
                                    std::to_string(needed) + " bytes, the file has " +
                                    std::to_string(in.size()));
        return false;
    }
    return true;
}

// Binary PNM (P5 grey, P6 colour): a text header, then the samples.
bool checkPnm(Reader& in, const ImageFileInfo& info, std::string& error) {
    in.next();
    const int kind = in.next();
    int c = in.next();
    uint64_t numbers[3] = {0, 0, 0};
    for (uint64_t& number : numbers) {
        // The decoder's whitespace; a NUL byte ends the header (strchr finds the
        // terminator of its list, so 0 is kept out).
        while (c == '#' || (c > 0 && std::strchr(" \t\r\n\v\f", c) != nullptr)) {
            if (c == '#') {
                while (c >= 0 && c != '\n' && c != '\r') {
                    c = in.next();
                }
            } else {
                c = in.next();
            }
        }
        while (c >= '0' && c <= '9' && number < (uint64_t{1} << 32)) {
            number = number * 10 + static_cast<uint64_t>(c - '0');
            c = in.next();
        }
    }
    // One whitespace byte follows the largest sample value; it is consumed.
    const uint64_t channels = kind == '6' ? 3 : 1;
    const uint64_t sampleBytes = numbers[2] > 255 ? 2 : 1;
    const uint64_t needed = in.offset() + static_cast<uint64_t>(info.width) *
                                              static_cast<uint64_t>(info.height) * channels *
                                              sampleBytes;
    if (in.size() < needed) {
        error = cutShort("PNM", sizeText(info) + " needs " + std::to_string(needed) +
                                    " bytes, the file has " + std::to_string(in.size()));
        return false;
    }
    return true;
}

const char* formatOf(const uint8_t* magic, size_t size) {
    const auto starts = [&](const char* bytes, size_t count) {
        return size >= count && std::memcmp(magic, bytes, count) == 0;
    };
    if (starts("\xFF\xD8\xFF", 3)) {
        return "JPEG";
    }
    if (starts("\x89PNG\r\n\x1A\n", 8)) {
        return "PNG";
    }
    if (starts("BM", 2)) {
        return "BMP";
    }
    if (starts("P5", 2) || starts("P6", 2)) {
        return "PNM";
    }
    if (starts("GIF8", 4)) {
        return "GIF";
    }
    return "image";
}

}  // namespace

bool checkImageFile(const std::string& path, ImageFileInfo& info, std::string& error) {
    const OpenFile file = openRegularFile(path, error);
    if (file == nullptr) {
        return false;
    }
    struct stat fileStat {};
    ::fstat(::fileno(file.get()), &fileStat);
    const uint64_t size = static_cast<uint64_t>(fileStat.st_size);
    if (size == 0) {
        error = "empty file";
        return false;
    }
    uint8_t magic[8] = {};
    const size_t got = std::fread(magic, 1, sizeof magic, file.get());
    std::rewind(file.get());
    info = ImageFileInfo{};
    info.format = formatOf(magic, got);

    int components = 0;
    if (stbi_info_from_file(file.get(), &info.width, &info.height, &components) == 0) {
        const char* reason = stbi_failure_reason();
        error = std::string("cannot read the ") + info.format + " header (" +
                (reason != nullptr ? reason : "unknown") + ")";
        return false;
    }
    const int64_t pixels = static_cast<int64_t>(info.width) * info.height;
    if (info.width <= 0 || info.height <= 0 || pixels > kMaxImagePixels) {
        error = info.format + std::string(" declares ") + sizeText(info) + " (" +
                std::to_string(pixels) + " pixels), more than the " +
                std::to_string(kMaxImagePixels) + " this tool decodes";
        return false;
    }
    Reader in(file.get(), size);
    const std::string format = info.format;
    if (format == "JPEG") {
        return checkJpeg(in, info, error);
    }
    if (format == "PNG") {
        return checkPng(in, info, error);
    }
    if (format == "BMP") {
        return checkBmp(in, info, error);
    }
    if (format == "PNM") {
        return checkPnm(in, info, error);
    }
    return true;
}
