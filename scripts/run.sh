#!/usr/bin/env bash
# Installs whatever is missing, builds, makes the sample tree and starts the
# program with the sample tree's folder as its current folder.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh build
cmake --preset default
cmake --build --preset default
tree="$(samples/make-samples.sh build/samples)"

cat <<TEXT
Sample tree: $tree
Type into the window:
  Folder to search:  $tree   (or pick it with Browse)
  Current Path:      \\\\srv1
  New path:          \\\\srv2
then press Process.
TEXT

cd build/samples && exec ../default/ui/quavelle
