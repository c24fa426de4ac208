#!/usr/bin/env bash
# Sets up, builds and runs every test. Extra arguments go to CMake.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh "$@"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "${BUILD_DIR:-build}" --output-on-failure --no-tests=error -j "$(nproc)"
