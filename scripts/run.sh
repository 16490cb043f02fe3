#!/usr/bin/env bash
# Sets up, builds and runs the main job on the bundled models and samples.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset host >/dev/null
cmake --build --preset host -j "$(nproc)"
build/host/bin/xepo image samples/*.jpg
