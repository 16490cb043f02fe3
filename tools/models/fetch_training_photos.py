#!/usr/bin/python3
"""Fetches the photographs that the reference models are trained and evaluated on.

    /usr/bin/python3 tools/models/fetch_training_photos.py [--set training|heldout] [--out DIR]
    /usr/bin/python3 tools/models/fetch_training_photos.py --review PACKAGE...

Every photograph comes from a Debian package: the script runs `apt-get download`
for each package named in the manifest (tools/models/training_manifest.csv or
heldout_manifest.csv), unpacks it with `dpkg-deb -x` and copies the listed files
to OUT/<photo>.<ext> together with the package's copyright file. Each copied file
must have the SHA-256 the manifest records, so that training always sees the same
pixels; a package whose version differs from the manifest's is reported, and its
files are still accepted when their hashes match.

The photographs are not part of the repository. OUT defaults to
build/training-photos or build/heldout-photos beside this repository's tools/.

Which files are photographs: a file of a candidate package qualifies when
  * it is a raster image (JPEG, PNG or WebP) at least 256 pixels on its short side,
    in colour and without transparency (the automatic rule, see `--review`), and
  * a person looked at it and judged it a camera photograph of a real scene:
    no render, illustration, gradient, pattern or montage, no added text or logo,
    no identifiable person as its subject (the hand-checked list is the manifest).
Near-duplicates (the same photograph at several sizes, stereo or sequence pairs)
are kept once. The held-out set (plasma-workspace-wallpapers and the photographs
in samples/) is never used for training, tuning or choosing between models.
"""

import argparse
import csv
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
MANIFESTS = {
    "training": os.path.join(HERE, "training_manifest.csv"),
    "heldout": os.path.join(HERE, "heldout_manifest.csv"),
}
RASTER_EXTENSIONS = (".jpg", ".jpeg", ".png", ".webp")
MIN_SHORT_SIDE = 256


def read_manifest(path):
    with open(path, newline="", encoding="utf-8") as f:
        return list(csv.DictReader(f))


def sha256_of(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def download_and_unpack(package, work_dir):
    """apt-get download PACKAGE into work_dir and unpack it; returns (root, version)."""
    subprocess.run(["apt-get", "download", package], cwd=work_dir, check=True,
                   stdout=subprocess.DEVNULL)
    debs = sorted(name for name in os.listdir(work_dir)
                  if name.startswith(package + "_") and name.endswith(".deb"))
    if not debs:
        raise RuntimeError(f"apt-get download {package} left no .deb")
    deb = os.path.join(work_dir, debs[-1])
    version = subprocess.run(["dpkg-deb", "-f", deb, "Version"], check=True,
                             capture_output=True, text=True).stdout.strip()
    root = os.path.join(work_dir, package)
    subprocess.run(["dpkg-deb", "-x", deb, root], check=True)
    return root, version


def fetch(set_name, out_dir):
    rows = read_manifest(MANIFESTS[set_name])
    os.makedirs(out_dir, exist_ok=True)
    failures = 0
    with tempfile.TemporaryDirectory(prefix="xepo-photos-") as work_dir:
        os.chmod(work_dir, 0o755)  # apt's download user must be able to write here
        for package in sorted({row["package"] for row in rows}):
            root, version = download_and_unpack(package, work_dir)
            wanted = {row["version"] for row in rows if row["package"] == package}
            if wanted != {version}:
                print(f"{package}: manifest names {sorted(wanted)}, apt served {version}; "
                      "checking the files by hash", file=sys.stderr)
            copyright_src = os.path.join(root, "usr", "share", "doc", package, "copyright")
            shutil.copyfile(copyright_src, os.path.join(out_dir, f"{package}.copyright"))
            copyright_text = open(copyright_src, encoding="utf-8", errors="replace").read()
            for row in (r for r in rows if r["package"] == package):
                src = os.path.join(root, row["file"])
                ext = os.path.splitext(row["file"])[1].lower()
                dst = os.path.join(out_dir, row["photo"] + ext)
                if not os.path.isfile(src):
                    print(f"missing in {package}: {row['file']}", file=sys.stderr)
                    failures += 1
                    continue
                if sha256_of(src) != row["sha256"]:
                    print(f"hash differs: {package} {row['file']}", file=sys.stderr)
                    failures += 1
                    continue
                licence = row.get("licence", "")
                if licence and licence != "see copyright" and \
                        f"License: {licence}" not in copyright_text:
                    print(f"licence {licence} not found in {package}'s copyright file",
                          file=sys.stderr)
                    failures += 1
                shutil.copyfile(src, dst)
    print(f"{len(rows) - failures} of {len(rows)} photographs in {out_dir}")
    return 1 if failures else 0


def review(packages):
    """Lists every raster file of the packages with the automatic rule's verdict and
    whether the manifests keep it, for the hand check."""
    from PIL import Image  # python3-pil, only needed here

    kept = {(r["package"], r["file"])
            for name in MANIFESTS for r in read_manifest(MANIFESTS[name])}
    with tempfile.TemporaryDirectory(prefix="xepo-review-") as work_dir:
        os.chmod(work_dir, 0o755)
        for package in packages:
            root, version = download_and_unpack(package, work_dir)
            for base, _, files in sorted(os.walk(root)):
                for name in sorted(files):
                    if not name.lower().endswith(RASTER_EXTENSIONS):
                        continue
                    path = os.path.join(base, name)
                    rel = os.path.relpath(path, root)
                    with Image.open(path) as image:
                        width, height = image.size
                        opaque = image.mode in ("RGB", "L", "YCbCr", "CMYK") or \
                            image.convert("RGBA").getextrema()[3][0] == 255
                        colour = image.mode not in ("L", "LA", "1")
                    rule = min(width, height) >= MIN_SHORT_SIDE and opaque and colour
                    used = "yes" if (package, rel) in kept else "no"
                    print(f"{package} {version} {rel} {width}x{height} "
                          f"rule={'yes' if rule else 'no'} kept={used}")
    return 0


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--set", choices=sorted(MANIFESTS), default="training")
    parser.add_argument("--out", help="output directory")
    parser.add_argument("--review", nargs="+", metavar="PACKAGE",
                        help="list the raster files of these packages for the hand check")
    args = parser.parse_args(argv[1:])
    if args.review:
        return review(args.review)
    out_dir = args.out or os.path.join(ROOT, "build", f"{args.set}-photos")
    return fetch(args.set, out_dir)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
