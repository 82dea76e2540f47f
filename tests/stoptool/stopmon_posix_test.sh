#!/bin/bash
# stopmon_posix_test.sh STOPMON
# The stop tool against stand-ins for the front end (a process named Tavisk)
# and the agent (processes named pelkomon or Pelkomon.exe). It runs in a pid
# namespace of its own, so that stopmon neither sees nor signals any process
# of the machine outside this test; without one it is skipped (status 77).
set -u
stopmon=$(readlink -f "${1:?usage: stopmon_posix_test.sh STOPMON}")

if [[ ${STOPMON_TEST_ISOLATED:-} != 1 ]]; then
  if ! timeout 10 unshare -Urpf --mount-proc true 2>/dev/null; then
    echo "SKIP: cannot make a private pid namespace with unshare" >&2
    exit 77
  fi
  exec env STOPMON_TEST_ISOLATED=1 timeout 100 \
    unshare -Urpf --mount-proc --kill-child bash "$0" "$@"
fi

tmp=$(mktemp -d)
trap 'kill -9 $(jobs -p) 2>/dev/null; rm -rf "$tmp"' EXIT
cp /bin/sleep "$tmp/pelkomon" && cp /bin/sleep "$tmp/Tavisk" || exit 1
shell_exe=$(readlink /proc/$$/exe)
failures=0

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# start COMMAND...: runs it in the background as $started, once it has
# left the shell for its own program.
start() {
  "$@" &
  started=$!
  local tries
  for ((tries = 0; tries < 100; tries++)); do
    [[ $(readlink /proc/$started/exe) != "$shell_exe" ]] && return 0
    sleep 0.05
  done
  fail "process $* did not start"
}

# expect_ended PID STATUS WHAT: the process ends within 10 s with STATUS.
expect_ended() {
  local pid=$1 want=$2 what=$3 tries status
  for ((tries = 0; tries < 200; tries++)); do
    [[ $(awk '{print $3}' /proc/$pid/stat 2>/dev/null) == Z ]] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.05
  done
  if [[ $(awk '{print $3}' /proc/$pid/stat 2>/dev/null) != Z ]] && kill -0 "$pid" 2>/dev/null; then
    fail "$what is still running"
    kill -9 "$pid"
  fi
  wait "$pid"
  status=$?
  [[ $status == "$want" ]] || fail "$what ended with status $status, not $want"
}

expect_running() {
  sleep 0.3
  [[ $(awk '{print $3}' /proc/$1/stat 2>/dev/null) == [RSD] ]] || fail "$2 has ended"
}

# run_stopmon ARGS...: stopmon exits 0 and prints nothing.
run_stopmon() {
  timeout 20 "$stopmon" "$@" >"$tmp/out" 2>"$tmp/err"
  local status=$?
  [[ $status == 0 ]] || fail "stopmon $* exited with $status"
  [[ -s $tmp/out || -s $tmp/err ]] && fail "stopmon $* printed: $(cat "$tmp/out" "$tmp/err")"
}

readonly SIGTERM_STATUS=143

echo "neither the front end nor the agent"
run_stopmon
run_stopmon --help "Pelkomon.exe"

echo "the front end and the agent"
start "$tmp/Tavisk" 30; front_end=$started
start "$tmp/pelkomon" 30; agent=$started
run_stopmon
expect_ended "$front_end" $SIGTERM_STATUS "the front end"
expect_ended "$agent" $SIGTERM_STATUS "the agent"

echo "two agents: the lower pid first, then the other (argv[0], other case)"
start "$tmp/pelkomon" 30; first=$started
start bash -c 'exec -a PELKOMON.EXE sleep 30'; second=$started
((first < second)) || fail "pids not ascending: $first, $second"
run_stopmon
expect_ended "$first" $SIGTERM_STATUS "the first agent"
expect_running "$second" "the second agent"
run_stopmon
expect_ended "$second" $SIGTERM_STATUS "the second agent"

if ((failures > 0)); then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "all checks passed"
