#!/bin/bash
# exec_attack_wine.sh PELKOMON.EXE SENDRIK.EXE
# The places the agent would start the mail program from, each left open to
# everyone in turn: the Path folder, its Logs, the program. Wine keeps no
# access lists and makes them of the Unix mode, so a mode that lets others
# write shows as Everyone holding write rights. The agent must refuse the
# start and say so as an error in the Event Log; the stand-in records any
# start it gets.
set -u
agent_bin=$(readlink -f "$1") sendrik=$(readlink -f "$2")
here=$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")
source "$here/../lib/check.sh"
source "$here/../wine/wine-env.sh"
source "$here/../wine/eventlog.sh"
wine_setup || exit 1
trap wine_cleanup EXIT
work=$WINE_TEST_DIR
path=$(wine_path "$work/pelko")
wine_settings 'HKLM\Software\Pelko' <<EOF2 || exit 1
EmailAlert      REG_DWORD  1
AppIsRunning    REG_DWORD  1
EmailAlertFreq  REG_DWORD  1
Path            REG_SZ     $path
EOF2

for open in pelko pelko/Logs pelko/Sendrik.exe; do
  rm -rf "$work/pelko"
  mkdir -p -m 0755 "$work/pelko/Logs"
  cp "$sendrik" "$work/pelko/Sendrik.exe"
  echo "<?xml version='1.0'?><log><type>HP</type></log>" >"$work/pelko/Logs/HP_20261205.xml"
  chmod o+w "$work/$open"
  events=$work/events-${open//\//-}
  wine_eventlog_launch "$events" "$agent_bin"
  said=$(wine_eventlog_wait "$events" 'Mail program' 60)
  kill "$WINE_EVENTLOG_PID" 2>/dev/null
  wait "$WINE_EVENTLOG_PID" 2>/dev/null
  check "$open open to everyone: the start refused as an error" \
    "error	Mail program $path\\Sendrik.exe refused: $(wine_path "$work/$open") can be changed by Everyone (S-1-1-0)" \
    "$said"
  check "$open open to everyone: the mail program never ran" no \
    "$([[ -e $work/pelko/mailed ]] && echo yes || echo no)"
done
[[ $failures -eq 0 ]]
