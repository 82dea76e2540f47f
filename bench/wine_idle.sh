#!/bin/bash
# What idle print queues cost the Windows build, under Wine.
#
#   bash bench/wine_idle.sh [MINGW_BUILD_DIR] [SECONDS]
#
# Wine has no print queues, so Pelkomon.exe (MINGW_BUILD_DIR, default
# build/mingw) runs beside the tests' stand-in winspool.drv and pdh.dll,
# whose queues are all empty, with 1, 10 and 49 printers configured: once with the
# spooler's change notifications and once with them refused (plain 20 ms
# polling). For each, the agent's CPU over SECONDS (default 30) per queue as
# a share of one core, from schedstat. A real spooler's own cost of a look
# (its RPC and the spooler service) is not in these figures.
set -u
here=$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")
root=$(dirname "$here")
build=$(readlink -f "${1:-$root/build/mingw}")
seconds=${2:-30}
exe=$build/bin/Pelkomon.exe
standin=$build/tests/spooler_wine/run/winspool.drv
pdh=$build/tests/spooler_wine/run/pdh.dll
for file in "$exe" "$standin" "$pdh"; do
  [[ -f $file ]] || { echo "wine_idle: no $file; build the mingw preset first" >&2; exit 2; }
done
source "$root/tests/wine/wine-env.sh"
wine_setup || exit 1
agent=
cleanup() {
  [[ -n $agent ]] && kill "$agent" 2>/dev/null
  wine_cleanup
}
trap cleanup EXIT
run=$WINE_TEST_DIR/run
mkdir -p "$run"
cp "$exe" "$standin" "$pdh" "$run/"
export WINEDLLOVERRIDES="pdh,winspool.drv=n,b"

cpu_ns() {
  local total=0 task value rest
  for task in /proc/"$1"/task/*/schedstat; do
    read -r value rest <"$task" 2>/dev/null && total=$((total + value))
  done
  echo "$total"
}

printf '%-28s %-7s %s\n' mode queues agent/queue
for mode in notifications polling; do
  for n in 1 10 49; do
    if [[ $mode == polling ]]; then
      export PELKO_STANDIN_NO_NOTIFICATIONS=1
    else
      unset PELKO_STANDIN_NO_NOTIFICATIONS
    fi
    wine_reg add 'HKLM\Software\Pelko' /v Path /t REG_SZ /d 'C:\pelko' /f >/dev/null
    wine_reg add 'HKLM\Software\Pelko' /v nPrinters /t REG_DWORD /d "$n" /f >/dev/null
    for i in $(seq 1 "$n"); do
      wine_reg add 'HKLM\Software\Pelko' /v "Printer$i" /t REG_SZ /d "Q$i" /f >/dev/null
    done
    wine_reg add 'HKLM\Software\Pelko' /v AppIsRunning /t REG_DWORD /d 1 /f >/dev/null
    timeout $((seconds + 60)) "$WINE" "$run/Pelkomon.exe" &
    sleep 8  # started, workers running
    agent=$(pgrep -f "^$run/Pelkomon.exe" | head -1)
    [[ -n $agent ]] || { echo "wine_idle: the agent did not start" >&2; exit 1; }
    a=$(cpu_ns "$agent")
    sleep "$seconds"
    b=$(cpu_ns "$agent")
    awk -v d=$((b - a)) -v s="$seconds" -v n="$n" -v m="$mode" \
      'BEGIN { printf "%-28s %-7d %.3f %%\n", m, n, d / 1e9 / s / n * 100 }'
    kill "$agent" 2>/dev/null
    wait 2>/dev/null
    agent=
  done
done
