#!/usr/bin/env bash
# Installs what building and testing Quillforge needs on Debian 12, skipping
# what is already there.
set -euo pipefail

packages=(cmake g++ ninja-build clang-format libgtest-dev libbenchmark-dev qt6-base-dev locales librsvg2-bin
          desktop-file-utils man-db lintian clang libclang-rt-14-dev libexpat1-dev
          libcpp-httplib-dev libgumbo-dev pkgconf chromium chromium-driver python3-selenium libsqlite3-dev
          sqlite3 make)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
