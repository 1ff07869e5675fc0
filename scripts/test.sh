#!/usr/bin/env bash
# Sets everything up and runs the whole test suite: the release build's tests,
# the same tests under AddressSanitizer and UndefinedBehaviorSanitizer, the
# network-share runs (a private SMB and SSH server on 127.0.0.1, mounted
# through FUSE: needs root and /dev/fuse), and the extra suites (fuzzing,
# Windows cross-build) where their scripts exist.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh build interop windows network

jobs="$(nproc)"
for preset in default asan; do
  echo "== $preset build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  echo "== $preset tests"
  ctest --preset "$preset" -j "$jobs"
done

echo "== network shares"
tests/network/with-network-mounts.sh ctest --preset default -L network

for extra in scripts/test-fuzz.sh scripts/test-windows.sh; do
  if [ -x "$extra" ]; then
    echo "== $extra"
    "$extra"
  fi
done
echo "== all suites passed"
