#!/usr/bin/python3
"""Writes the seed inputs of the fuzz targets into fuzz/corpus/<target>/.

The seeds are committed; run this again only when an input layout changes
(the layouts are described at the top of each *_fuzzer.cpp).
Usage: fuzz/make_seed_corpus.py
"""
import os
import shutil
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "corpus")
MODELS = os.path.join(HERE, "..", "models")


def write(target, name, data):
    folder = os.path.join(CORPUS, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as out:
        out.write(data)


# Frame records ---------------------------------------------------------------

def frame_record(control_sel=3, format_sel=0, size_sel=0, width=64, height=48, stride=0,
                 plane_flags=0, rotation=0, scale_sel=5, flip=0, lux_sel=5, photo=0, hold=0,
                 camera=0, seg=1, gyro_sel=(1 << 2), count=1, t0=10**11, spacing=2_000_000,
                 rates=(0.0, 0.0, 0.0), map_flags=0, frames=0, pixels=b""):
    # Small-mode sides are (raw % 1100) - 4.
    raw_w = (width + 4) % 1100 if not size_sel & 1 else width & 0xffffffff
    raw_h = (height + 4) % 1100 if not size_sel & 2 else height & 0xffffffff
    head = struct.pack("<Bi", control_sel, 0)
    head += struct.pack("<Bi", format_sel, 0)
    head += struct.pack("<BIIi", size_sel, raw_w, raw_h, stride)
    head += struct.pack("<B", plane_flags)
    head += struct.pack("<iBfiBBfiiii", rotation, scale_sel, 0.0, 0, flip, lux_sel, 0.0, photo,
                        hold, camera, seg)
    head += struct.pack("<BiQIfff", gyro_sel, count, t0, spacing, *rates)
    head += struct.pack("<BB", map_flags, frames)
    if not pixels:
        pixels = bytes((x * 37 + 11) % 256 for x in range(64 * 48 * 3 // 2))
    return head + pixels


def frame_seeds():
    write("frame", "full_pipeline_64x48", frame_record(frames=2))
    write("frame", "entrance_only", frame_record(control_sel=1))
    write("frame", "albedo_only", frame_record(control_sel=2))
    write("frame", "neutral", frame_record(control_sel=0))
    write("frame", "photo_hold", frame_record(photo=1))
    write("frame", "null_segmap", frame_record(map_flags=1))
    write("frame", "nan_lux", frame_record(lux_sel=1))
    write("frame", "gyro_count_81", frame_record(gyro_sel=(3 << 2)))
    write("frame", "gyro_null", frame_record(gyro_sel=1))
    write("frame", "odd_size_stride", frame_record(width=63, height=47, size_sel=(1 << 2),
                                                   stride=5))
    write("frame", "rotated_flipped", frame_record(rotation=270, flip=1))
    write("frame", "ultra_wide_crop", frame_record(camera=1, scale_sel=7))
    write("frame", "null_planes", frame_record(plane_flags=3))
    write("frame", "run_ae_engine", frame_record(plane_flags=4))


# Image files -----------------------------------------------------------------

def png(width, height, rgb_rows=None):
    def chunk(kind, body):
        crc = zlib.crc32(kind + body) & 0xffffffff
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", crc)
    if rgb_rows is None:
        rgb_rows = [bytes((x * 16 + y * 8 + c * 64) % 256 for x in range(width) for c in range(3))
                    for y in range(height)]
    raw = b"".join(b"\x00" + row for row in rgb_rows)
    return (b"\x89PNG\r\n\x1a\n" +
            chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


def bmp(width, height):
    row = bytes((x * 40) % 256 for x in range(width * 3))
    row += b"\x00" * ((4 - len(row) % 4) % 4)
    pixels = row * height
    header = struct.pack("<2sIHHI", b"BM", 54 + len(pixels), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    return header + info + pixels


def image_seeds():
    prefix = bytes([0, 0, 0])  # full path, map written, lux 280
    write("image_file", "png_8x8", prefix + png(8, 8))
    write("image_file", "png_8x8_light_seg", bytes([3, 0, 0]) + png(8, 8))
    write("image_file", "bmp_4x4", prefix + bmp(4, 4))
    write("image_file", "ppm_2x2", prefix + b"P6\n2 2\n255\n" + bytes(range(12)))
    # Headers that declare far more pixels than the file holds: refused before
    # decoding (the gray one passes the decoder's own size limit, not ours).
    huge = png(1, 1)
    huge = huge[:16] + struct.pack(">II", 100000, 100000) + huge[24:]
    write("image_file", "png_declares_huge", prefix + huge)
    gray = png(1, 1)
    gray = gray[:16] + struct.pack(">IIBB", 20000, 20000, 8, 0) + gray[26:]
    write("image_file", "png_gray_declares_20000x20000", prefix + gray)
    write("image_file", "missing_file", prefix)


# Models and masks ------------------------------------------------------------

def model_seeds():
    for name in sorted(os.listdir(MODELS)):
        if name.endswith(".qdnn"):
            shutil.copy(os.path.join(MODELS, name), os.path.join(CORPUS, "model_load", name))


def mask_record(flags, width, height, extra_stride=1, connectivity=8, mode_sel=0, min_area=5,
                border=0, rotation=90, mask=b""):
    head = struct.pack("<BHHBBBIBi", flags, width + 1, height + 1, extra_stride + 1,
                       connectivity, mode_sel, min_area, border, rotation)
    return head + mask


def labeling_seeds():
    side = 56
    blobs = bytearray(side * side)
    for y in range(side):
        for x in range(side):
            inside = (5 <= x < 20 and 8 <= y < 30) or ((x - 40) ** 2 + (y - 40) ** 2 < 64)
            speck = x == 50 and y == 5
            blobs[y * side + x] = 255 if inside or speck else 0
    write("labeling", "mask_56x56_blobs", mask_record(1, side, side, extra_stride=0,
                                                      mask=bytes(blobs)))
    write("labeling", "mask_56x56_direct_4conn", mask_record(1 | 16, side, side, extra_stride=0,
                                                             connectivity=4, mode_sel=1,
                                                             mask=bytes(blobs)))
    checker = bytes(((x + y) % 2) for y in range(17) for x in range(23))
    write("labeling", "checker_odd_size", mask_record(0, 23, 17, extra_stride=3, mask=checker))
    write("labeling", "labels_wrong_size", mask_record(1 | 2, side, side, extra_stride=0,
                                                       mask=bytes(blobs)))


if __name__ == "__main__":
    # Seeds are overwritten by name; inputs kept from fuzz findings stay.
    for target in ("frame", "image_file", "model_load", "labeling"):
        os.makedirs(os.path.join(CORPUS, target), exist_ok=True)
    frame_seeds()
    image_seeds()
    model_seeds()
    labeling_seeds()
