#!/bin/bash
# stopmon_test.sh STOPMON PELKOMON
# The Linux stop tool as root runs it, against a second, unprivileged user
# who names processes like the agent and the front end, or even runs their
# very files. Copies of stopmon and the agent go into a folder of their own,
# with a copy of sleep standing in for the front end (Tavisk). Everything
# runs in a pid namespace of its own, so that no stop tool, right or wrong,
# can reach a process of the machine outside this test. Needs root; skipped
# (status 77) without it.
set -u
if [[ $# -ne 2 ]]; then
  echo "usage: stopmon_test.sh STOPMON PELKOMON" >&2
  exit 2
fi

skip() {
  echo "SKIP: $*" >&2
  exit 77
}

if [[ ${STOPMON_TEST_DIR:-} == "" ]]; then
  [[ $(id -u) == 0 ]] || skip "needs root, to make a second user"
  for tool in useradd userdel setpriv unshare; do
    command -v "$tool" >/dev/null || skip "no $tool"
  done
  timeout 10 unshare -pf --mount-proc true 2>/dev/null || skip "cannot make a pid namespace"

  user=pstop$$r$RANDOM
  tmp=$(mktemp -d)
  cleanup() {
    userdel "$user" 2>/dev/null || userdel -f "$user" 2>/dev/null
    rm -rf "$tmp"
  }
  trap cleanup EXIT
  trap 'exit 143' TERM INT HUP
  useradd --system --no-create-home --shell /usr/sbin/nologin --user-group "$user" || exit 1
  chmod 755 "$tmp"
  # The namespace's first process is the shell below; when it ends, the
  # kernel kills every process left in the namespace.
  STOPMON_TEST_DIR=$tmp STOPMON_TEST_USER=$user \
    timeout 100 unshare -pf --mount-proc --kill-child bash "$0" "$@"
  exit $?
fi

tmp=$STOPMON_TEST_DIR user=$STOPMON_TEST_USER
trap 'kill -9 $(jobs -p) 2>/dev/null' EXIT
source "$(dirname "$(readlink -f "$0")")/../../lib/check.sh"
sleep_exe=$(readlink -f /bin/sleep)

bin=$tmp/bin
mkdir "$bin" "$tmp/user" || exit 1
cp "$1" "$bin/stopmon" && cp "$2" "$bin/pelkomon" && cp /bin/sleep "$bin/Tavisk" || exit 1
cp /bin/sleep "$tmp/user/PELKOMON" && cp /bin/sleep "$tmp/user/pelkomon" || exit 1
chown -R "$user:" "$tmp/user"
export PELKO_REGISTRY=$tmp/registry

as_user=(setpriv --reuid="$user" --regid="$user" --clear-groups)

# start EXE COMMAND...: runs COMMAND in the background as $started, once it
# has become EXE.
start() {
  local exe=$1 tries
  shift
  "$@" </dev/null >/dev/null 2>&1 &
  started=$!
  for ((tries = 0; tries < 200; tries++)); do
    [[ $(readlink "/proc/$started/exe") == "$exe" ]] && return 0
    sleep 0.02
  done
  check "$* started" "$exe" "$(readlink "/proc/$started/exe")"
}

# start_agent COMMAND...: start for the agent, which also waits until it
# holds its quit signals: a stop sent before the program itself runs (still
# the loader's) is no stop of the agent's.
start_agent() {
  local tries
  start "$bin/pelkomon" "$@"
  for ((tries = 0; tries < 200; tries++)); do
    quit_blocked "$started" && return 0
    sleep 0.02
  done
  check "$* holds SIGTERM" yes no
}
# quit_blocked PID: a thread of PID holds SIGTERM (15, mask bit 14). The one
# waiting for it shows it open while it waits; its workers hold it.
quit_blocked() {
  local mask
  for mask in $(awk '/^SigBlk:/ { print $2 }' /proc/"$1"/task/*/status 2>/dev/null); do
    (( (16#$mask >> 14) & 1 )) && return 0
  done
  return 1
}

alive() { running "$1" && echo yes || echo no; }

# run_stopmon [SETPRIV...] STOPMON ARGS...: sets $status, $out, $err, $took (s).
run_stopmon() {
  local begin=$EPOCHREALTIME
  timeout 20 "$@" >"$tmp/out" 2>"$tmp/err"
  status=$?
  took=$(awk -v a="$begin" -v b="$EPOCHREALTIME" 'BEGIN { printf "%d", b - a }')
  out=$(cat "$tmp/out") err=$(cat "$tmp/err")
}

readonly SIGTERM_STATUS=143

echo "== another user's lookalikes, started first, are left alone"
start "$tmp/user/PELKOMON" "${as_user[@]}" "$tmp/user/PELKOMON" 30; upper=$started
start "$tmp/user/pelkomon" "${as_user[@]}" "$tmp/user/pelkomon" 30; lower=$started
start "$sleep_exe" "${as_user[@]}" bash -c 'exec -a Tavisk sleep 30'; named_front_end=$started
start "$sleep_exe" "${as_user[@]}" bash -c 'exec -a pelkomon sleep 30'; named_agent=$started
start "$bin/Tavisk" "${as_user[@]}" "$bin/Tavisk" 30; users_front_end=$started
start_agent "${as_user[@]}" env PELKO_REGISTRY="$tmp/user/registry" "$bin/pelkomon"
users_agent=$started
uid=$(id -u "$user")
check "the lookalikes are the user's alone" "Uid:	$uid	$uid	$uid	$uid" \
  "$(grep '^Uid:' "/proc/$upper/status")"

start "$bin/Tavisk" "$bin/Tavisk" 30; front_end=$started
start_agent "$bin/pelkomon"; agent=$started
# One agent runs on a store: the second copy on a store of its own.
start_agent env PELKO_REGISTRY="$tmp/registry2" "$bin/pelkomon"; second_agent=$started

run_stopmon "$bin/stopmon"
check "stopmon exits 0" 0 "$status"
check "stopmon prints nothing" "" "$out$err"
wait_end "$front_end"
check "root's front end is ended" $SIGTERM_STATUS "$ended"
wait_end "$agent"
check "root's agent is ended (0: its own SIGTERM exit)" 0 "$ended"
wait_end "$second_agent"
check "root's second agent is ended too" 0 "$ended"
check "the user's PELKOMON runs on" yes "$(alive "$upper")"
check "the user's pelkomon runs on" yes "$(alive "$lower")"
check "the user's process named Tavisk runs on" yes "$(alive "$named_front_end")"
check "the user's process named pelkomon runs on" yes "$(alive "$named_agent")"
check "the user's run of the front end's file runs on" yes "$(alive "$users_front_end")"
check "the user's run of the agent's file runs on" yes "$(alive "$users_agent")"

echo "== the user's own stopmon ends only the user's own agent"
start_agent "$bin/pelkomon"; agent=$started
run_stopmon "${as_user[@]}" "$bin/stopmon"
check "the user's stopmon exits 0" 0 "$status"
wait_end "$users_agent"
check "the user's run of the agent's file is ended" 0 "$ended"
wait_end "$users_front_end"
check "the user's run of the front end's file is ended" $SIGTERM_STATUS "$ended"
check "root's agent runs on" yes "$(alive "$agent")"

echo "== arguments are refused and nothing is ended"
run_stopmon "$bin/stopmon" --now
check "stopmon --now exits 2" 2 "$status"
check "stopmon --now says why" yes \
  "$([[ $err == *"unexpected argument '--now'"* ]] && echo yes)"
check "the agent runs on" yes "$(alive "$agent")"
run_stopmon "$bin/stopmon"
wait_end "$agent"
check "stopmon then ends it" 0 "$ended"

echo "== an agent that ignores SIGTERM"
mkdir "$tmp/stubborn" && cp "$1" "$tmp/stubborn/stopmon" && cp /bin/sleep "$tmp/stubborn/pelkomon"
start "$tmp/stubborn/pelkomon" bash -c "trap '' TERM; exec '$tmp/stubborn/pelkomon' 60"
stubborn=$started
run_stopmon "$tmp/stubborn/stopmon"
check "stopmon exits 1" 1 "$status"
check "stopmon names the agent left running" \
  "stopmon: the agent (process $stubborn) did not end within 5 s" "$err"
check "stopmon waited its 5 s and no more than 7" yes \
  "$(((took >= 4 && took <= 7)) && echo yes)"
{ kill -9 "$stubborn" && wait "$stubborn"; } 2>/dev/null

echo "== no agent beside stopmon"
mkdir "$tmp/lonely" && cp "$1" "$tmp/lonely/stopmon"
run_stopmon "$tmp/lonely/stopmon"
check "stopmon exits 1" 1 "$status"
check "stopmon says which file it missed" yes \
  "$([[ $err == *"$tmp/lonely/pelkomon"* ]] && echo yes)"

echo "== an agent whose file was replaced while it ran"
start "$tmp/stubborn/pelkomon" "$tmp/stubborn/pelkomon" 30; old=$started
cp /bin/sleep "$tmp/stubborn/new" && mv "$tmp/stubborn/new" "$tmp/stubborn/pelkomon"
run_stopmon "$tmp/stubborn/stopmon"
check "stopmon exits 1" 1 "$status"
check "stopmon names it" yes "$([[ $err == *"process $old runs a"*replaced* ]] && echo yes)"
check "it is not ended" yes "$(alive "$old")"

[[ $failures -eq 0 ]]
