#!/usr/bin/env bash
# Cross-builds the non-UI code and its tests for 64-bit Windows with mingw-w64
# and runs them under Wine through ctest, in a Wine prefix inside the build tree.
set -euo pipefail
cd "$(dirname "$0")/.."

build="${QUAVELLE_WINDOWS_BUILD_DIR:-build/windows}"
jobs="${QUAVELLE_JOBS:-$(nproc)}"

cmake -S . -B "$build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUAVELLE_BUILD_UI=OFF -DQUAVELLE_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j "$jobs"

WINEPREFIX="$(cd "$build" && pwd)/wineprefix"
export WINEPREFIX WINEDEBUG=-all
wineserver=/usr/lib/wine/wineserver
[ -x "$wineserver" ] || wineserver="$(command -v wineserver)"
stop_wine() { "$wineserver" -k 2>/dev/null || true; }
trap stop_wine EXIT

# The first start of a prefix sets it up; do it once, before tests run side by side.
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "== setting up the Wine prefix $WINEPREFIX"
  timeout 300 wineboot -i >/dev/null 2>&1
  "$wineserver" -w
fi
# One server for the whole run instead of one per test process. Its helper
# processes start now, detached from any output, so that they cannot hold
# open the pipes through which ctest reads a test's output.
"$wineserver" -p
timeout 120 wineboot </dev/null >/dev/null 2>&1

ctest --test-dir "$build" --output-on-failure --no-tests=error --timeout 300 -j "$jobs"
