#!/usr/bin/env bash
# Sets up, builds and runs every test: natively, then cross-built for arm64 and
# run under qemu. Usage: scripts/test.sh [--native-only]
set -euo pipefail
cd "$(dirname "$0")/.."

native_only=0
[ "${1:-}" = "--native-only" ] && native_only=1

if [ "$native_only" -eq 1 ]; then
  scripts/install-deps.sh
else
  scripts/install-deps.sh --arm64
fi

jobs=$(nproc)

echo "== native build and tests"
cmake --preset host >/dev/null
cmake --build --preset host -j "$jobs"
ctest --preset host -j "$jobs"

if [ "$native_only" -eq 0 ]; then
  echo "== arm64 cross build, tests under qemu"
  cmake --preset arm64 >/dev/null
  cmake --build --preset arm64 -j "$jobs"
  ctest --preset arm64 -j "$jobs"
fi
