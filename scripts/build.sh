#!/usr/bin/env bash
# Configures and builds Quillforge with its tests in BUILD_DIR (default:
# build). Extra arguments go to CMake's configure step.
set -euo pipefail
cd "$(dirname "$0")/.."
"$(dirname "$0")/setup.sh" --test
build_dir=${BUILD_DIR:-build}
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" \
  -DQF_BUILD_TESTS=ON -DQF_RENDER_ICONS=ON "$@" >/dev/null
cmake --build "$build_dir" -j "$(nproc)"
