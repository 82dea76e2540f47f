#!/bin/bash
# Builds both presets and runs every test: the Linux build natively, the
# Windows build under Wine. The two suites run side by side: most of the
# Wine tests wait on Wine rather than on a core. The Windows suite's
# output goes to build/mingw/tests.log and is summed up at the end.
set -eu
cd "$(dirname "$0")/.."
bash scripts/setup.sh tests windows package
for preset in native mingw; do
  echo "== $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j2
done

windows_log=build/mingw/tests.log
echo "== mingw: test, side by side with native (output in $windows_log)"
setsid ctest --preset mingw -j2 >"$windows_log" 2>&1 &
windows=$!
# Nothing of the suite may outlive this command, whichever way it ends.
trap 'kill -- -"$windows" 2>/dev/null || true' EXIT
echo "== native: test"
status=0
ctest --preset native -j2 || status=1
windows_status=0
wait "$windows" || windows_status=1
trap - EXIT
echo "== mingw: test"
sed -n '/tests passed\|tests failed out of/,$p' "$windows_log"
[[ $windows_status -eq 0 ]] || status=1
exit $status
