#!/usr/bin/env bash
# Installs what building and running Quillforge needs on Debian 12, skipping
# what is already there; with --test, also what its tests, benchmarks and
# checks need.
#
#   scripts/setup.sh [--test]
set -euo pipefail

run_packages=(cmake g++ ninja-build pkgconf qt6-base-dev libexpat1-dev libcpp-httplib-dev
              libgumbo-dev libsqlite3-dev)
test_packages=(librsvg2-bin clang-format libgtest-dev libbenchmark-dev locales desktop-file-utils man-db
               lintian clang libclang-rt-14-dev chromium chromium-driver python3-selenium sqlite3
               make)
packages=("${run_packages[@]}")
case "${1:-}" in
  --test) packages+=("${test_packages[@]}") ;;
  "") ;;
  *) echo "setup.sh: unknown argument $1 (only --test)" >&2; exit 2 ;;
esac
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
