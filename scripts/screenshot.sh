#!/usr/bin/env bash
# Takes docs/screenshot.png: the real Quillforge window under a virtual X
# server, after compiling a copy of the example site. Installs what it needs
# (a virtual X server, xauth, a font, ImageMagick and xdotool) with apt-get.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(xvfb xauth fonts-dejavu-core imagemagick xdotool)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi
scripts/build.sh

# A copy of the example site, and settings of its own so that the user's are
# neither shown nor changed.
demo=/tmp/quillforge-demo
rm -rf "$demo"
mkdir -p "$demo/config/Ambervale" "$demo/public"
cp -r examples/site "$demo/site"
cat >"$demo/config/Ambervale/Quillforge.conf" <<CONF
[General]
InReq=$demo/site/
OutReq=$demo/public/
IncReq=$demo/site/parts/
UseOutDir=1
RecurseFolders=1
OutExt=.html
CONF
trap 'rm -rf "$demo"' EXIT

export XDG_CONFIG_HOME=$demo/config
export SHOT=$PWD/docs/screenshot.png
# The window's caption is the program's name and version, as qfc gives it.
export CAPTION="Quillforge $(build/qfc --version | sed -n '1s/^qfc (Quillforge) //p')"
xvfb-run --auto-servernum --server-args="-screen 0 1024x768x24" bash -c '
  set -euo pipefail
  build/quillforge & program=$!
  window=""
  for _ in $(seq 100); do
    window=$(xdotool search --name "^$CAPTION$" 2>/dev/null | head -1) && [ -n "$window" ] && break
    sleep 0.1
  done
  [ -n "$window" ] || { echo "the window did not appear"; kill $program; exit 1; }
  # The keyboard focus starts on "Compile all files in Source directory".
  xdotool windowfocus --sync "$window" key space
  sleep 1
  import -window "$window" "$SHOT"
  kill $program
'
echo "Wrote docs/screenshot.png"
