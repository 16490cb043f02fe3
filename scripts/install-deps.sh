#!/usr/bin/env bash
# Installs every Debian package that the build, the tests and the tools need.
# Idempotent: packages already present are skipped, and nothing is fetched when
# everything is there. Runs apt-get directly as root, through sudo otherwise.
#
#   scripts/install-deps.sh           native build, tests and tools
#   scripts/install-deps.sh --arm64   also the arm64 cross compiler, qemu and the
#                                     arm64 libraries the cross-built tests link
set -euo pipefail

NATIVE_PACKAGES=(
  # build
  cmake ninja-build g++ pkg-config clang-format file binutils
  # engine and platform stand-ins
  android-liblog-dev libyuv-dev libhwy-dev libstb-dev
  libopencv-dev libopencv-dnn-dev libonnx-dev libprotobuf-dev protobuf-compiler
  # tests, benchmarks, fuzzing
  libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev
  # command-line tool
  libcli11-dev nlohmann-json3-dev
  # model generator, plots, the Python module and its tests (Debian's
  # interpreter: /usr/bin/python3)
  python3 python3-dev python3-onnx python3-numpy python3-matplotlib pybind11-dev python3-pytest
  python3-distributed
)

ARM64_PACKAGES=(
  g++-aarch64-linux-gnu qemu-user
  android-liblog-dev:arm64 libyuv-dev:arm64 libhwy-dev:arm64 libstb-dev:arm64
  libopencv-dnn-dev:arm64 libopencv-imgproc-dev:arm64 libprotobuf-dev:arm64
  libgtest-dev:arm64 libgmock-dev:arm64
)

want_arm64=0
for arg in "$@"; do
  case "$arg" in
    --arm64) want_arm64=1 ;;
    *) echo "usage: $0 [--arm64]" >&2; exit 2 ;;
  esac
done

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

missing_from() {
  local pkg
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || echo "$pkg"
  done
}

packages=("${NATIVE_PACKAGES[@]}")
if [ "$want_arm64" -eq 1 ]; then
  if ! dpkg --print-foreign-architectures | grep -qx arm64; then
    as_root dpkg --add-architecture arm64
    need_update=1
  fi
  packages+=("${ARM64_PACKAGES[@]}")
fi

mapfile -t missing < <(missing_from "${packages[@]}")
if [ "${#missing[@]}" -eq 0 ]; then
  echo "install-deps: all ${#packages[@]} packages present"
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
as_root apt-get update -qq
DEBIAN_FRONTEND=noninteractive as_root apt-get install -y -qq --no-install-recommends "${missing[@]}"
