# Bash set-up for test scripts that run Pelkomon.exe under Wine against the
# stand-in winspool.drv and pdh.dll. Use:
#
#   source "$here/standin-env.sh"
#   standin_setup my_test "$exe" "$standins" [EXTRA_FILE...] || exit
#   wine_settings 'HKLM\Software\Pelko' <<<"$settings" || exit 1
#   export WINEDLLOVERRIDES="pdh,winspool.drv=n,b"
#   timeout 300 "$WINE" "$run/Pelkomon.exe" &
#
# standin_setup NAME EXE STANDIN_DIR [EXTRA_FILE...]
#     Checks that the exe, the stand-ins and the extra files exist (else
#     says so as NAME and returns 2), makes a prefix with wine_setup (1 if
#     it cannot) and sets `trap wine_cleanup EXIT`; a test that has more to
#     end on exit sets its own trap after, ending with wine_cleanup. Copies
#     the exe, both stand-ins and the extra files into a folder of their
#     own, so that no other program loads the stand-ins, and makes the
#     agent's Logs folder. Sets, for the test to use:
#       run       that folder
#       logs      the agent's Logs folder (its Path is C:\pelko)
#       scenario  where a scenario for PELKO_STANDIN_SCENARIO goes
#       steps     where steps for PELKO_STANDIN_STEPS go
#       result    the stand-in's result file, made empty
#
# standin_office
#     Settings of one printer, Office at 5 a page, accounting on, Path
#     C:\pelko; and the environment that has a program started next load
#     the stand-ins and follow $scenario.
#
# Also sources tests/wine/wine-env.sh (wine_setup, wine_settings, ...).

source "$(dirname "${BASH_SOURCE[0]}")/../wine/wine-env.sh"

standin_setup() {
  local name=$1 exe=$2 standins=$3 file
  shift 3
  for file in "$exe" "$standins/winspool.drv" "$standins/pdh.dll" "$@"; do
    [[ -f $file ]] || { echo "$name: no $file" >&2; return 2; }
  done
  wine_setup || return 1
  trap wine_cleanup EXIT
  run=$WINE_TEST_DIR/run
  logs=$WINEPREFIX/drive_c/pelko/Logs
  mkdir -p "$run" "$logs"
  cp "$exe" "$standins/winspool.drv" "$standins/pdh.dll" "$@" "$run/"
  scenario=$WINE_TEST_DIR/scenario.txt
  steps=$WINE_TEST_DIR/steps.txt
  result=$WINE_TEST_DIR/result.txt
  : >"$result"
}

standin_office() {
  wine_settings 'HKLM\Software\Pelko' <<'SETTINGS' || return 1
Path          REG_SZ     C:\pelko
nPrinters     REG_DWORD  1
Printer1      REG_SZ     Office
Printer1Cost  REG_DWORD  5
AppIsRunning  REG_DWORD  1
SETTINGS
  export WINEDLLOVERRIDES="pdh,winspool.drv=n,b"
  export PELKO_STANDIN_SCENARIO="Z:$scenario" PELKO_STANDIN_RESULT="Z:$result"
}
