// The checks an image file passes before the tool lets anything decode it:
// declared size against the tool's pixel limit, and data that ends before the
// image does, on files made from bytes.
#include "image_file_check.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "crafted_images.h"
#include "session_test_dirs.h"

namespace {

// The JPEG with restart markers RST0 and RST7 put into the middle of its scan
// data (not inside an FF 00 pair), so that scan data follows them.
Bytes withRestartMarkers(Bytes jpeg, size_t scan) {
    size_t at = (scan + jpeg.size()) / 2;
    while (jpeg[at - 1] == 0xFF || jpeg[at] == 0xFF) {
        ++at;
    }
    jpeg.insert(jpeg.begin() + static_cast<std::ptrdiff_t>(at),
                {0xFF, 0xD0, 0x12, 0x34, 0xFF, 0xD7});
    return jpeg;
}

// Guards: every damaged or oversized file is refused with a message that names
// its format and the fault, and whole files pass; only regular files are opened
// (a directory or a pipe in an image's place is refused, a pipe without
// blocking).
TEST(ImageFileCheck, RefusesDamagedAndOversizedFilesByFormat) {
    // Every picture is 64 x 48.
    const Bytes jpeg = encodeJpeg(64, 48);
    const Bytes png = encodePng(64, 48);
    const Bytes bmp = encodeBmp(64, 48);
    const Bytes pnm = encodePnm(64, 48);
    const Bytes endOfImage = {0xFF, 0xD9};
    const size_t scan = jpegSegment(jpeg, 0xDA);
    const Bytes large = jpegHeaderOnly(withJpegSize(jpeg, 6144, 4096));  // at the pixel limit
    // A NUL byte ends the decoder's header: the maximum value reads as 0 (8-bit
    // samples), not as the 65535 (16-bit) written after it.
    const std::string nulHeader("P6\n64 48\0 65535\n", 16);
    Bytes pnmNul(nulHeader.begin(), nulHeader.end());
    pnmNul.resize(pnmNul.size() + 64 * 48 * 3, 0x40);
    // name, bytes, and empty when accepted, else the start of the refusal
    const std::tuple<const char*, Bytes, std::string> cases[] = {
        {"JpegWhole", jpeg, ""},
        {"PngWhole", png, ""},
        {"BmpWhole", bmp, ""},
        {"PnmWhole", pnm, ""},
        // Declared sizes: refused before decoding, just above the limit too.
        {"JpegHeaderClaimsHugeSize", jpegHeaderOnly(withJpegSize(jpeg, 16384, 8192)),
         "JPEG declares 16384x8192 (134217728 pixels), more than the 25165824"},
        {"JpegOnePixelRowTooMany", withJpegSize(jpeg, 6144, 4097), "JPEG declares 6144x4097"},
        {"PngClaimsHugeSize", withPngSize(png, 6000, 6000), "PNG declares 6000x6000"},
        // Data that ends before the image does.
        {"JpegTablesThenEndMarker", concat(large, endOfImage),
         "JPEG data ends before the image does (0 bytes of scan data, 6144x4096 needs at least "
         "3072)"},
        // A bit per 32 x 32 block is the least scan data: 3072 bytes pass, 3071 do not.
        {"JpegLeastScanData", concat(concat(large, Bytes(3072, 0x12)), endOfImage), ""},
        {"JpegOneScanByteShort", concat(concat(large, Bytes(3071, 0x12)), endOfImage),
         "JPEG data ends before the image does (3071 bytes of scan data"},
        {"JpegWithoutEndMarker", firstBytes(jpeg, jpeg.size() - 2),
         "JPEG data ends before the image does (no end-of-image marker"},
        {"JpegCutInTheScan", firstBytes(jpeg, jpeg.size() / 2),
         "JPEG data ends before the image does (no end-of-image marker"},
        {"JpegCutInTheScanHeader", firstBytes(jpeg, scan + 5),
         "JPEG data ends before the image does (a marker segment is cut short)"},
        {"JpegNoScanAtAll", concat(firstBytes(jpeg, scan), endOfImage), "JPEG has no image data"},
        // Restart markers (FF D0 to FF D7) belong to the scan: data goes on after them.
        {"JpegWithRestartMarkers", withRestartMarkers(jpeg, scan), ""},
        {"PngWithoutIend", firstBytes(png, png.size() - 12),
         "PNG data ends before the image does (no IEND chunk"},
        {"PngCutInTheData", firstBytes(png, png.size() / 2),
         "PNG data ends before the image does (chunk IDAT is cut short)"},
        {"PngDataTooShortForItsHeader", withPngSize(png, 4000, 3000),
         "PNG data ends before the image does ("},
        {"BmpCutInTheRows", firstBytes(bmp, bmp.size() - 64 * 3),
         "BMP data ends before the image does (64x48 at 24 bits needs"},
        {"PnmCutInTheSamples", firstBytes(pnm, pnm.size() - 1),
         "PNM data ends before the image does (64x48 needs"},
        {"PnmNulEndsTheHeaderAsInTheDecoder", pnmNul, ""},
        // Not images at all.
        {"Text", {'h', 'e', 'l', 'l', 'o', '\n'}, "cannot read the image header"},
        {"Empty", {}, "empty file"},
    };
    const std::string dir = freshTestDir();
    for (const auto& [name, bytes, message] : cases) {
        SCOPED_TRACE(name);
        writeBytes(dir + "/" + name, bytes);
        ImageFileInfo info;
        std::string error;
        EXPECT_EQ(checkImageFile(dir + "/" + name, info, error), message.empty()) << error;
        EXPECT_EQ(error.substr(0, message.size()), message);
    }
    const std::string pipe = dir + "/pipe.jpg";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    for (const auto& [path, message] : {std::pair{dir, "not a regular file"},
                                        {pipe, "not a regular file"},
                                        {dir + "/none.jpg", "no such file"}}) {
        ImageFileInfo info;
        std::string error;
        EXPECT_FALSE(checkImageFile(path, info, error)) << path;
        EXPECT_EQ(error, message) << path;
    }
}

}  // namespace
