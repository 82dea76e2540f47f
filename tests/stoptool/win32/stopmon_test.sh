#!/bin/bash
# stopmon_test.sh STOPMON.EXE FRONT_END.EXE PELKOMON.EXE
# stopmon.exe under Wine against a stand-in for the front end (a hidden
# window titled "Tavisk") and one for the agent (a program named
# Pelkomon.exe), all in one private prefix of their own.
set -u
if [[ $# -ne 3 ]]; then
  echo "usage: stopmon_test.sh STOPMON.EXE FRONT_END.EXE PELKOMON.EXE" >&2
  exit 2
fi
stopmon=$(readlink -f "$1") front_end=$(readlink -f "$2") agent=$(readlink -f "$3")
here=$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")
source "$here/../../wine/wine-env.sh"
source "$here/../../lib/check.sh"
wine_setup || exit 1
trap 'kill -9 $(jobs -p) 2>/dev/null; wine_cleanup' EXIT
cd "$WINE_TEST_DIR" || exit 1
# start EXE NAME: runs it in the background as $started and waits until it
# says it is ready.
start() {
  local exe=$1 name=$2 tries
  timeout 90 "$WINE" "$exe" >"$name.out" 2>&1 &
  started=$!
  for ((tries = 0; tries < 300; tries++)); do
    grep -q ready "$name.out" && return 0
    running "$started" || break
    sleep 0.1
  done
  fail "$name did not start: $(cat "$name.out")"
}

# expect_ended PID STATUS WHAT: the program ends within 20 s with STATUS.
expect_ended() {
  local pid=$1 want=$2 what=$3 tries status
  for ((tries = 0; tries < 200; tries++)); do
    running "$pid" || break
    sleep 0.1
  done
  if running "$pid"; then
    fail "$what is still running"
    kill -9 "$pid"
  fi
  wait "$pid"
  status=$?
  [[ $status == "$want" ]] || fail "$what ended with status $status, not $want"
}

# run_stopmon: stopmon.exe exits 0 and prints nothing.
run_stopmon() {
  timeout 60 "$WINE" "$stopmon" >stopmon.out 2>stopmon.err
  local status=$?
  [[ $status == 0 ]] || fail "stopmon.exe exited with $status"
  [[ -s stopmon.out || -s stopmon.err ]] &&
    fail "stopmon.exe printed: $(cat stopmon.out stopmon.err)"
}

echo "neither the front end nor the agent"
run_stopmon

echo "the front end and the agent"
start "$front_end" front_end; front_end_pid=$started
start "$agent" agent; agent_pid=$started
run_stopmon
expect_ended "$front_end_pid" 0 "the front end (0: closed by WM_CLOSE)"
expect_ended "$agent_pid" 0 "the agent (0: terminated with exit code 0)"

[[ $failures -eq 0 ]]
