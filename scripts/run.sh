#!/usr/bin/env bash
# Sets up and builds what running Quillforge needs (qfc, the window and the
# manual; no tests) in BUILD_DIR (default: build), compiles the example site
# with qfc and, when a display is present, opens the Quillforge window.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
build_dir=${BUILD_DIR:-build}
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" \
  -DQF_BUILD_TESTS=OFF -DQF_RENDER_ICONS=OFF >/dev/null
targets=(qfc manual)
grep -q '^QF_BUILD_UI:BOOL=ON' "$build_dir/CMakeCache.txt" && targets+=(quillforge)
cmake --build "$build_dir" -j "$(nproc)" --target "${targets[@]}"
out=$build_dir/example-site
# The style sheet and the pictures are mirrored beside the pages.
"$build_dir/qfc" --all examples/site -r --out-dir "$out"
echo "Compiled the example site into $out/ (open $out/index.html in a browser)."
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "No display (DISPLAY and WAYLAND_DISPLAY are unset), so the window is not opened."
elif [ ! -x "$build_dir/quillforge" ]; then
  echo "$build_dir/quillforge was not built (QF_BUILD_UI is off), so the window is not opened."
else
  echo "Opening the Quillforge window: pick examples/site as the source directory."
  exec "$build_dir/quillforge"
fi
