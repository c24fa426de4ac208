#!/usr/bin/env bash
# Sets up and builds Quillforge, compiles the example site with qfc and, when
# a display is present, opens the Quillforge window.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
out=build/example-site
build/qfc --all examples/site -r --out-dir "$out"
cp examples/site/style.css "$out/"
mkdir -p "$out/img" && cp examples/site/img/* "$out/img/"
echo "Compiled the example site into $out/ (open $out/index.html in a browser)."
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "No display (DISPLAY and WAYLAND_DISPLAY are unset), so the window is not opened."
elif [ ! -x build/quillforge ]; then
  echo "build/quillforge was not built (QF_BUILD_UI is off), so the window is not opened."
else
  echo "Opening the Quillforge window: pick examples/site as the source directory."
  exec build/quillforge
fi
