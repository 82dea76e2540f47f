#!/bin/bash
# harness_test.sh PROBE.EXE: wine-run and wine-env.sh do what their users
# rely on.
set -u
probe=$(readlink -f "${1:?usage: harness_test.sh PROBE.EXE}")
here=$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")
wine_run=$here/wine-run
source "$here/../lib/check.sh"

unset WINEPREFIX
out=$("$wine_run" "$probe" exit 7 "a b" "" c)
status=$?
[[ $status == 7 ]] || fail "exit status $status, not 7"
out=${out%$'\r'}  # text-mode output ends lines with CR LF
[[ $out == "[a b][][c]" ]] || fail "arguments came through as $out"

SECONDS=0
"$wine_run" "$probe" crash >/dev/null 2>&1
status=$?
[[ $status == 5 ]] || fail "a crash gave status $status, not 5"
((SECONDS < 60)) || fail "a crash took $SECONDS s"

"$wine_run" "$probe" window || fail "no window without a display"

SECONDS=0
PELKO_WINE_TIMEOUT=2 "$wine_run" "$probe" sleep
status=$?
[[ $status == 124 ]] || fail "an overrun gave status $status, not 124"
((SECONDS < 30)) || fail "an overrun took $SECONDS s"

# A prefix of the caller's is used and left as it is.
source "$here/wine-env.sh"
wine_setup || exit 1
trap wine_cleanup EXIT
"$wine_run" "$probe" exit 0 >/dev/null || fail "run in the caller's prefix failed"
wine_reg add 'HKCU\Software\PelkoHarness' /v Mark /t REG_SZ /d kept /f >/dev/null ||
  fail "wine_reg add failed"
"$wine_run" "$probe" exit 0 >/dev/null
[[ -d $WINEPREFIX/drive_c ]] || fail "the caller's prefix was removed"
wine_reg query 'HKCU\Software\PelkoHarness' /v Mark 2>/dev/null | grep -q kept ||
  fail "the caller's prefix lost a registry value"
dir=$WINE_TEST_DIR
wine_cleanup
[[ ! -e $dir ]] || fail "wine_cleanup left $dir"

[[ $failures -eq 0 ]]
