#!/bin/bash
# The Linux agent as a whole: idle on an empty registry store, silent, a
# printer worker started within one poll once configured, a second agent on
# the same store refused, and SIGTERM ending it with status 0.
set -u
bin=$1
work=$(mktemp -d)
agent=
cleanup() {
  [[ -n $agent ]] && kill -KILL "$agent" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
export PELKO_REGISTRY=$work/registry

source "$(dirname "$0")/../lib/check.sh"
threads() { ls "/proc/$agent/task" 2>/dev/null | wc -l; }

"$bin/pelkomon" >"$work/out" 2>&1 &
agent=$!
sleep 1
check "agent keeps running on an empty store" yes "$(kill -0 "$agent" 2>/dev/null && echo yes)"
idle=$(threads)
check "only the main thread and the supervisor run" 2 "$idle"

timeout 20 "$bin/pelkomon" >"$work/second" 2>&1
check "a second agent on the store is refused" 1 $?
check "it names the first" "pelkomon: another pelkomon runs (process $agent); not started. Stop that one first (stopmon) to run this one" \
  "$(cat "$work/second")"
check "the store's agent.lock is root's alone" "600 0" "$(stat -c '%a %u' "$PELKO_REGISTRY/agent.lock")"
# The lock file made a link to a file of root's: the agent must not write
# its process id through it.
mkdir -m 700 "$work/linked"
cp /etc/hostname "$work/victim"
ln -s "$work/victim" "$work/linked/agent.lock"
PELKO_REGISTRY=$work/linked timeout 20 "$bin/pelkomon" >"$work/linked.out" 2>&1
check "a linked lock file is refused" 1 $?
check "and the file it names is untouched" "" "$(cmp "$work/victim" /etc/hostname)"

"$bin/pelkoreg" add 'HKLM\Software\Pelko' /v nPrinters /t REG_DWORD /d 2 /f >/dev/null
"$bin/pelkoreg" add 'HKLM\Software\Pelko' /v Printer1 /d Office /f >/dev/null
"$bin/pelkoreg" add 'HKLM\Software\Pelko' /v Printer2 /d '\\host\Lab' /f >/dev/null
"$bin/pelkoreg" add 'HKLM\Software\Pelko' /v AppIsRunning /t REG_DWORD /d 1 /f >/dev/null
started=no
for _ in $(seq 120); do  # one poll interval and a little more
  [[ $(threads) -eq $((idle + 2)) ]] && { started=yes; break; }
  sleep 0.1
done
check "both printer workers started within one poll" yes "$started"

"$bin/pelkoreg" add 'HKLM\Software\Pelko' /v AppIsRunning /t REG_DWORD /d 0 /f >/dev/null
stopped=no
for _ in $(seq 120); do
  [[ $(threads) -eq $idle ]] && { stopped=yes; break; }
  sleep 0.1
done
check "printer workers stopped when the run switch goes to 0" yes "$stopped"
check "IsModified untouched while never set" "" \
  "$("$bin/pelkoreg" query 'HKLM\Software\Pelko' /v IsModified 2>/dev/null | grep IsModified)"

"$bin/pelkoreg" add 'HKLM\Software\Pelko' /v AppIsRunning /t REG_DWORD /d 1 /f >/dev/null
for _ in $(seq 120); do [[ $(threads) -gt $idle ]] && break; sleep 0.1; done
kill -TERM "$agent"
status=timeout
for _ in $(seq 100); do
  if ! kill -0 "$agent" 2>/dev/null; then wait "$agent"; status=$?; break; fi
  sleep 0.1
done
agent=
check "SIGTERM ends the running agent with 0" 0 "$status"
check "agent printed nothing" "" "$(cat "$work/out")"
[[ $failures -eq 0 ]]
