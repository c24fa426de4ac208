#!/usr/bin/env bash
# Peak resident memory of `qfc -j 1` on a generated site of PAGES pages
# (default 2000) against its peak on one page of the same site.
# Usage: bench/memory.sh [PAGES]   (QFC=path/to/qfc to pick a build)
set -euo pipefail
cd "$(dirname "$0")/.."

pages=${1:-2000}
qfc=${QFC:-build/qfc}
[ -x "$qfc" ] || scripts/build.sh >/dev/null
if [ ! -x /usr/bin/time ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get install -y -qq time >/dev/null
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 bench/gen_site.py site --pages "$pages" --out "$work/gen" >/dev/null
site=$work/gen/qf

# Prints the peak resident set size in KiB of the given qfc run.
peak() {
  if ! /usr/bin/time -v "$qfc" -j 1 "$@" 2>"$work/time" >/dev/null; then
    cat "$work/time" >&2
    exit 1
  fi
  sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time"
}

whole=$(peak --all "$site" -r -I "$site/inc/" --out-dir "$work/out-all")
one=$(peak "$site/d0_00/d1_00/p00000.src" -I "$site/inc/" -o "$work/one.html")
echo "pages: $pages"
echo "peak RSS, whole site: $whole KiB"
echo "peak RSS, one page:   $one KiB"
echo "difference:           $((whole - one)) KiB"
