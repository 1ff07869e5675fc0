#!/usr/bin/env bash
# Starts the program over the sample tree on a virtual X display, types the
# values from the README, presses "Process" and saves a picture of the main
# window as docs/main-window.png.
# Usage: scripts/screenshot.sh [BUILD_DIR]   (default: build/default)
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
build="${1:-build/default}"
out="$root/docs/main-window.png"

scripts/install-deps.sh build screenshot
if [ ! -x "$build/ui/quavelle" ]; then
  cmake --preset default
  cmake --build --preset default --target quavelle
fi
tree="$(samples/make-samples.sh build/samples)"

n=99
while [ -e "/tmp/.X$n-lock" ] && [ "$n" -gt 10 ]; do n=$((n - 1)); done
Xvfb ":$n" -screen 0 1024x640x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
app=""
trap 'kill $app $xvfb 2>/dev/null || true' EXIT
export DISPLAY=":$n"
for _ in $(seq 50); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.1; done

(cd build/samples && exec "$root/$build/ui/quavelle") &
app=$!
wid="$(xdotool search --sync --name '^Quavelle$' | head -n 1)"
xdotool windowfocus --sync "$wid"
sleep 0.5

# The focus starts on "Process": two Tabs reach the folder box, two more
# "Current Path:", one more "New path:".
xdotool key --delay 50 Tab Tab
xdotool type --delay 10 "$tree"
xdotool key --delay 50 Tab Tab
xdotool type --delay 10 '\\srv1'
xdotool key Tab
xdotool type --delay 10 '\\srv2'
# "Process" sits at 232,104 (73 x 25 pixels) in the window.
xdotool mousemove --window "$wid" 268 116 click 1
sleep 2

mkdir -p "$(dirname "$out")"
import -window "$wid" "$out"
echo "$out"
