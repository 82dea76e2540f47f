#!/bin/bash
# switches_test.sh BIN_DIR VERSION [wine]
# Every program answers --help and --version, and refuses an argument it
# does not know with a message and a non-zero status, before it does
# anything else. Under Wine also /?, a second Pelkomon.exe refused while the
# first runs, and stopmon.exe /? that stops nothing.
set -u
bin=$(readlink -f "$1")
version=$2
wine=${3:-}
here=$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")
source "$here/../lib/check.sh"
work=$(mktemp -d)
agent=
if [[ -n $wine ]]; then
  source "$here/../wine/wine-env.sh"
  wine_setup || exit 1
  trap '[[ -n $agent ]] && kill -9 "$agent" 2>/dev/null; wine_cleanup; rm -rf "$work"' EXIT
  programs=(Pelkomon.exe pelkoctl.exe pelkoreport.exe pelkodb.exe Sendrik.exe stopmon.exe)
  for program in "${programs[@]}"; do cp "$bin/$program" "$WINE_TEST_DIR/" || exit 1; done
  cd "$WINE_TEST_DIR" || exit 1
  run() { timeout 60 "$WINE" "$@" >"$work/out" 2>"$work/err"; echo $?; }
else
  trap 'rm -rf "$work"' EXIT
  # A store of the test's own, so that nothing reads the machine's.
  export PELKO_REGISTRY=$work/registry
  mkdir -m 700 "$PELKO_REGISTRY"
  programs=(pelkomon pelkoctl pelkoreport pelkodb pelkoreg sendrik stopmon)
  run() { local p=$1; shift; timeout 60 "$bin/$p" "$@" >"$work/out" 2>"$work/err"; echo $?; }
fi
said() { tr -d '\r' <"$work/$1"; }

for program in "${programs[@]}"; do
  name=${program%.exe}
  name=${name,,}
  [[ $name == pelkomon ]] && name=$([[ -n $wine ]] && echo Pelkomon.exe || echo pelkomon)
  [[ $name == sendrik ]] && name=Sendrik
  check "$program --version" "0 $name $version" "$(run "$program" --version) $(said out)"
  helps=(--help)
  [[ -n $wine ]] && helps+=(/?)
  for help in "${helps[@]}"; do
    status=$(run "$program" "$help")
    check "$program $help: status 0 and a usage" "0 yes" \
      "$status $(grep -qi usage "$work/out" && echo yes)"
  done
  status=$(run "$program" --no-such-switch)
  check "$program --no-such-switch: refused, naming it" "yes yes" \
    "$([[ $status != 0 ]] && echo yes) $(grep -q -- --no-such-switch "$work/err" && echo yes)"
done

if [[ -n $wine ]]; then
  # The agent idle on an empty store, up once it says so in the Event Log;
  # a second one and stopmon.exe /? meet it.
  source "$here/../wine/eventlog.sh"
  wine_eventlog_launch "$work/events" Pelkomon.exe
  agent=$WINE_EVENTLOG_PID
  wine_eventlog_wait "$work/events" 'agent started' 60 >/dev/null || fail "the first agent did not start"
  check "a second Pelkomon.exe is refused with status 1" 1 "$(run Pelkomon.exe)"
  check "it says another runs" yes "$(grep -q 'another Pelkomon.exe runs' "$work/err" && echo yes)"
  check "stopmon.exe /? shows its usage" "0 yes" "$(run stopmon.exe /?) $(grep -qi usage "$work/out" && echo yes)"
  check "stopmon.exe /? stopped nothing" yes "$(kill -0 "$agent" 2>/dev/null && echo yes)"
  check "stopmon.exe ends the agent" 0 "$(run stopmon.exe)"
  wait_end "$agent" 30
  check "the agent has ended" yes "$([[ $ended != running ]] && echo yes)"
  agent=
fi
[[ $failures -eq 0 ]]
