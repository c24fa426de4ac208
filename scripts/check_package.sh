#!/usr/bin/env bash
# Builds the Debian package of the build in BUILD_DIR with cpack, checks
# that it holds the files a Debian package needs, and, when lintian is
# installed, that lintian finds no error and no warning in it.
# Usage: check_package.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

(cd "$out" && cpack -G DEB --config "$build/CPackConfig.cmake" >cpack.log 2>&1) || {
  cat "$out/cpack.log"
  exit 1
}
debs=("$out"/*.deb)
deb=${debs[0]}
[ -s "$deb" ] || { echo "package check: cpack made no package"; exit 1; }

failed=0
fail() { echo "package check: $*"; failed=1; }

contents=$(dpkg-deb --contents "$deb" | awk '{print $6}')
for file in usr/bin/qfc usr/share/doc/quillforge/copyright \
            usr/share/doc/quillforge/changelog.gz usr/share/man/man1/qfc.1.gz \
            usr/share/man/man1/quillforge.1.gz; do
  grep -qx "./$file" <<<"$contents" || fail "the package lacks $file"
done
grep -q '/quillforge/modules/libqf_preview\.so$' <<<"$contents" ||
  fail "the package lacks the preview server's module"
grep -q '\.1$' <<<"$contents" && fail "the package holds an uncompressed manual page"

# The changelog's newest entry names the package's version.
version=$(dpkg-deb --field "$deb" Version)
dpkg-deb --fsys-tarfile "$deb" | tar -xOf - ./usr/share/doc/quillforge/changelog.gz |
  gzip -dc | head -1 | grep -qF "quillforge ($version)" ||
  fail "changelog.gz does not start with version $version"

if command -v lintian >/dev/null; then
  # As root lintian says that it should not run as root; that line is no finding.
  report=$(lintian --fail-on none "$deb" 2>&1 | grep -v 'running with root privileges' || true)
  if grep -qE '^[EW]: ' <<<"$report"; then
    fail "lintian finds errors or warnings:"
    echo "$report"
  fi
else
  echo "lintian is not installed; the package was not checked with it"
fi
exit $failed
