#!/usr/bin/env bash
# Sets up and builds Quillforge, then compiles the example site with qfc.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
out=build/example-site
build/qfc --all examples/site -r --out-dir "$out"
cp examples/site/style.css "$out/"
mkdir -p "$out/img" && cp examples/site/img/* "$out/img/"
echo "Compiled the example site into $out/ (open $out/index.html in a browser)."
