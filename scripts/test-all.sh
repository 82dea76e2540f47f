#!/bin/bash
# Builds both presets and runs every test: the Linux build natively, the
# Windows build under Wine.
set -eu
cd "$(dirname "$0")/.."
bash scripts/setup.sh tests windows package
status=0
for preset in native mingw; do
  echo "== $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j2
  echo "== $preset: test"
  ctest --preset "$preset" -j2 || status=1
done
exit $status
