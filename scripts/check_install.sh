#!/usr/bin/env bash
# Installs the build in BUILD_DIR into a temporary prefix and checks that
# every file a desktop needs is in place and well formed.
# Usage: check_install.sh BUILD_DIR
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix" >/dev/null

failed=0
fail() { echo "install check: $*"; failed=1; }

expect_file() {
  [ -s "$prefix/$1" ] || fail "missing or empty: $1"
}

expect_file bin/qfc
[ -x "$prefix/bin/qfc" ] || fail "bin/qfc is not executable"
if grep -q '^QF_BUILD_UI:BOOL=ON' "$build/CMakeCache.txt" && [ -e "$build/quillforge" ]; then
  expect_file bin/quillforge
fi
expect_file share/doc/quillforge/manual.html
expect_file share/applications/quillforge.desktop
expect_file share/icons/hicolor/scalable/apps/quillforge.svg
expect_file share/man/man1/qfc.1.gz
expect_file share/man/man1/quillforge.1.gz
expect_file share/doc/quillforge/copyright
expect_file share/doc/quillforge/changelog.gz

# The installed compiler runs, and the installed manual is the one built.
"$prefix/bin/qfc" --version | grep -q '^qfc (Quillforge)' || fail "installed qfc does not run"
"$prefix/bin/qfc" --version | grep -q 'MIT licence' || fail "qfc --version names no licence"
cmp -s "$build/manual.html" "$prefix/share/doc/quillforge/manual.html" ||
  fail "installed manual differs from build/manual.html"

# The installed compiler finds its preview server where it was installed:
# it serves until the timeout stops it.
find "$prefix" -path '*/quillforge/modules/libqf_preview.so' | grep -q . ||
  fail "the preview server's module is not installed"
mkdir -p "$prefix/site/src"
echo '<p>served</p>' >"$prefix/site/src/a.src"
served=$(cd "$prefix/site" && timeout 3 "$prefix/bin/qfc" --all src --serve=0 2>&1 || true)
grep -q 'serving http://127.0.0.1:' <<<"$served" || fail "installed qfc does not serve: $served"

# Each PNG icon is a PNG of the size its directory names (IHDR width and height).
for size in 16 24 32 48 64 128 256; do
  png=share/icons/hicolor/${size}x${size}/apps/quillforge.png
  expect_file "$png"
  [ -s "$prefix/$png" ] || continue
  read -r signature < <(od -An -tx1 -N8 "$prefix/$png" | tr -d ' ')
  [ "$signature" = 89504e470d0a1a0a ] || fail "$png is not a PNG"
  read -r width height < <(od -An -tu1 -j16 -N8 "$prefix/$png" |
    awk '{print $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8}')
  [ "$width" = "$size" ] && [ "$height" = "$size" ] || fail "$png is ${width}x${height}"
done

# The menu entry is valid and names the installed program and icon.
desktop=$prefix/share/applications/quillforge.desktop
if [ -s "$desktop" ]; then
  desktop-file-validate "$desktop" || fail "desktop-file-validate rejects quillforge.desktop"
  grep -qx 'Exec=quillforge' "$desktop" || fail "the desktop entry does not run quillforge"
  grep -qx 'Icon=quillforge' "$desktop" || fail "the desktop entry does not name the icon"
fi

# The manual pages format without warnings and name the version qfc shows.
version=$("$prefix/bin/qfc" --version | sed -n '1s/^qfc (Quillforge) //p')
for page in qfc quillforge; do
  file=$prefix/share/man/man1/$page.1.gz
  [ -s "$file" ] || continue
  warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -l "$file" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "$page.1: $warnings"
  gzip -dc "$file" | head -1 | grep -qF "\"Quillforge $version\"" ||
    fail "$page.1 does not name version $version"
done
grep -qF "<title>Quillforge $version manual</title>" "$prefix/share/doc/quillforge/manual.html" ||
  fail "manual.html does not name version $version"

# The copyright file is in Debian's machine-readable format and gives the licence.
copyright=$prefix/share/doc/quillforge/copyright
if [ -s "$copyright" ]; then
  head -1 "$copyright" | grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/$' ||
    fail "copyright is not in the machine-readable format"
  grep -q '^License: Expat$' "$copyright" || fail "copyright names no licence"
fi
exit $failed
