#!/usr/bin/env bash
# Remakes docs/window.png, the picture of the window in use the README shows: the window on a
# virtual X display stepping the sample video in "Graphics 16" with the conversion time shown,
# photographed a few seconds in. Usage: bash scripts/screenshot.sh [BUILD_DIR] [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
seconds="${2:-4}"
if [[ ! -x "$build/pelorin" || ! -f "$build/tom.avi" ]]; then
    echo "screenshot: $build/pelorin and $build/tom.avi are needed; run bash scripts/start.sh first" >&2
    exit 1
fi

# The virtual display and the tools that photograph it, from Debian's packages.
packages=(xvfb x11-apps x11-utils imagemagick)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
    SUDO=""
    [[ $(id -u) != 0 ]] && SUDO="sudo"
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

display=":$((90 + RANDOM % 100))"
Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
app=""
cleanup() {
    [[ -n "$app" ]] && kill "$app" 2>/dev/null || true
    kill "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT
sleep 1

DISPLAY="$display" QT_QPA_PLATFORM=xcb "$build/pelorin" --show-time --real-time --loop \
    "$build/tom.avi" >/dev/null 2>&1 &
app=$!
sleep "$seconds"

# The program's top-level window: the largest one on the display with a name.
id=$(DISPLAY="$display" xwininfo -root -children | awk '/"/ && $1 ~ /^0x/ {print $1}' | while read -r w; do
    size=$(DISPLAY="$display" xwininfo -id "$w" | awk '/Width:/ {w=$2} /Height:/ {h=$2} END {print w*h}')
    echo "$size $w"
done | sort -n | tail -1 | cut -d' ' -f2)
if [[ -z "$id" ]]; then
    echo "screenshot: the window did not appear on $display" >&2
    exit 1
fi
mkdir -p docs
DISPLAY="$display" xwd -silent -id "$id" | convert xwd:- -strip docs/window.png
echo "screenshot: wrote docs/window.png ($(identify -format '%w x %h' docs/window.png))"
