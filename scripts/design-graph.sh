#!/bin/bash
# Draws docs/layers-linux.png and docs/layers-windows.png from the build's
# own targets (cmake --graphviz, then Graphviz's dot: Debian's graphviz).
set -euo pipefail
cd "$(dirname "$0")/.."
out=build/graph
draw() {  # draw NAME CMAKE_ARGS...
  local name=$1
  shift
  rm -rf "$out/$name"
  cmake -S . -B "$out/$name" -G Ninja -DPELKO_BUILD_TESTS=OFF -DPELKO_BUILD_BENCH=OFF \
    "$@" --graphviz="$out/$name/pelko.dot" >/dev/null
  # The legend goes: docs/design.md says what the shapes are.
  sed '/^subgraph clusterLegend/,/^}/d' "$out/$name/pelko.dot" |
    dot -Tpng -Gdpi=72 -Grankdir=BT -o "docs/layers-$name.png"
  echo "docs/layers-$name.png"
}
draw linux
draw windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
