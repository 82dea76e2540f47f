#!/bin/bash
# Builds the presets and runs every test: the Linux build natively, its unit
# tests again under AddressSanitizer and UndefinedBehaviorSanitizer, the
# Windows build under Wine. The Windows suite runs side by side with the
# others: most of the Wine tests wait on Wine rather than on a core. The
# Windows suite's output goes to build/mingw/tests.log, the sanitized unit
# tests' to build/native-asan/unit-tests.log; both are summed up at the end.
set -eu
cd "$(dirname "$0")/.."
bash scripts/setup.sh tests windows package
# configure_and_build PRESET [BUILD_PRESET]
configure_and_build() {
  echo "== $1: configure and build"
  cmake --preset "$1" >/dev/null
  cmake --build --preset "${2:-$1}" -j2
}
configure_and_build native
configure_and_build native-asan native-asan-unit  # the unit tests' targets only
configure_and_build mingw

windows_log=build/mingw/tests.log
asan_log=build/native-asan/unit-tests.log
echo "== mingw: test, side by side with native (output in $windows_log)"
setsid ctest --preset mingw -j2 >"$windows_log" 2>&1 &
windows=$!
# Nothing of the suite may outlive this command, whichever way it ends.
trap 'kill -- -"$windows" 2>/dev/null || true' EXIT
echo "== native: test"
status=0
ctest --preset native -j2 || status=1
echo "== native-asan: unit tests (output in $asan_log)"
ctest --preset native-asan-unit -j2 >"$asan_log" 2>&1 || status=1
windows_status=0
wait "$windows" || windows_status=1
trap - EXIT
summarise() { echo "== $1"; sed -n '/tests passed\|tests failed out of/,$p' "$2"; }
summarise "native-asan: unit tests" "$asan_log"
summarise "mingw: test" "$windows_log"
[[ $windows_status -eq 0 ]] || status=1
exit $status
