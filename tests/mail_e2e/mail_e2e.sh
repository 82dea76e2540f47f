#!/bin/bash
# mail_e2e.sh wine PELKOMON.EXE STOPMON.EXE SENDRIK.EXE FRONT_END.EXE
# mail_e2e.sh posix PELKOMON STOPMON SENDRIK.EXE PELKOREG
# The agent, configured for e-mail alerts over a logs folder with daily
# files, builds the global log, makes its stylesheet remote and starts the
# mail program, which finds ToSendFile naming the complete file. Then the
# stop tool closes the front end and ends the agent with exit code 0.
set -u
# The stop tool acts on every agent of the machine: on Linux the test runs
# in a process namespace of its own where it can.
if [[ $1 == posix && -z ${PELKO_OWN_PIDS:-} ]] && unshare -Urpf --mount-proc true 2>/dev/null; then
  PELKO_OWN_PIDS=1 exec unshare -Urpf --mount-proc bash "$0" "$@"
fi
mode=$1 agent_bin=$(readlink -f "$2") stopmon=$(readlink -f "$3") sendrik=$(readlink -f "$4")
extra=$(readlink -f "$5")
here=$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")
source "$here/../lib/check.sh"

if [[ $mode == wine ]]; then
  source "$here/../wine/wine-env.sh"
  wine_setup || exit 1
  trap 'kill -9 $(jobs -p) 2>/dev/null; wine_cleanup' EXIT
  work=$WINE_TEST_DIR
  run() { timeout 90 "$WINE" "$@"; }
  sep='\'
  winpath() { wine_path "$1"; }
else
  work=$(mktemp -d)
  trap 'kill -9 $(jobs -p) 2>/dev/null; rm -rf "$work"' EXIT
  export PELKO_REGISTRY=$work/registry
  run() { timeout 90 "$@"; }
  sep=/
  winpath() { echo "$1"; }
fi
cd "$work" || exit 1
mkdir -p pelko/Logs
cp "$sendrik" pelko/Sendrik.exe
cp "$agent_bin" "$stopmon" "$work/"
agent_exe=$work/$(basename "$agent_bin")
stop_exe=$work/$(basename "$stopmon")

prolog="<?xml version='1.0' encoding='ISO-8859-1' ?> <?xml-stylesheet href='Tavisk.xsl' type='text/xsl' ?>"
entry() {  # entry ID USER PAGES COST PRINTER
  printf '%s' "<entry> <date>2026/12/05</date><time>10:00:0$1</time> <id>$1</id><user>$2</user> <printer>$5</printer><doc>d$1.doc</doc> <pages>$3</pages> <cost>$4</cost></entry>"
}
printf '%s' "$prolog<log> <type>HP</type> <date>2026/12/05</date>$(entry 1 anna 2 10 HP)$(entry 2 paul 3 15 HP)<entry><user>Total</user><cost>25</cost></entry></log>" \
  >pelko/Logs/HP_20261205.xml
printf '%s' "$prolog<log> <type>\\\\SRV\\Lab</type> <date>2026/12/05</date>$(entry 3 eva 4 8 '\\SRV\Lab')<entry><user>Total</user><cost>8</cost></entry></log>" \
  >pelko/Logs/Lab_20261205.xml

path=$(winpath "$work/pelko")
if [[ $mode == wine ]]; then
  for v in "EmailAlert 1" "AppIsRunning 1" "EmailAlertFreq 1"; do
    set -- $v
    wine_reg add 'HKLM\Software\Pelko' /v "$1" /t REG_DWORD /d "$2" /f >/dev/null
  done
  wine_reg add 'HKLM\Software\Pelko' /v Path /t REG_SZ /d "$path" /f >/dev/null
else
  for v in "EmailAlert 1" "AppIsRunning 1" "EmailAlertFreq 1"; do
    set -- $v
    "$extra" add 'HKLM\Software\Pelko' /v "$1" /t REG_DWORD /d "$2" /f >/dev/null
  done
  "$extra" add 'HKLM\Software\Pelko' /v Path /t REG_SZ /d "$path" /f >/dev/null
fi

# A variable and a descriptor of the agent's that the mail program must not get.
PELKO_TEST_SECRET=hunter2 run "$agent_exe" >agent.out 2>&1 9>held.txt &
agent=$!
for ((i = 0; i < 600; i++)); do
  [[ -s pelko/mailed/tosend.txt ]] && break
  sleep 0.1
done
today=$(date +%Y%m%d)
global="pelko/Logs/GlobalLog_$today.xml"
check "mail program started, ToSendFile names today's global log" \
  "$path${sep}Logs${sep}GlobalLog_$today.xml" "$(head -n1 pelko/mailed/tosend.txt 2>/dev/null | tr -d '\r')"
mailed=$(cat pelko/mailed/copy-0.xml 2>/dev/null)
remote="<?xml version='1.0' encoding='ISO-8859-1' ?> <?xml-stylesheet href='http://"
check "the file named begins with the remote stylesheet" "$remote" "${mailed:0:${#remote}}"
check "it names /Pelko/Tavisk.xsl" 1 "$(grep -c "/Pelko/Tavisk.xsl' type='text/xsl' ?><log><type>Global Log</type>" <<<"$mailed")"
check "it was complete when the mail program started" "$(cat "$global")" "$mailed"
check "every daily entry is in it" 3 "$(grep -o '<id>' <<<"$mailed" | wc -l)"
check "grand total of the daily totals" 1 "$(grep -c '<entry><user>Total</user><cost>33</cost></entry></log>$' <<<"$mailed")"
check "well-formed" ok "$(xmllint --noout "$global" 2>&1 && echo ok)"
if [[ $mode == posix ]]; then
  check "the mail program's environment is a fixed PATH and the store's location" \
    "PATH=/usr/sbin:/usr/bin:/sbin:/bin PELKO_REGISTRY=$PELKO_REGISTRY" \
    "$(tr '\n' ' ' <pelko/mailed/env.txt | sed 's/ $//')"
  check "it has /dev/null for its standard streams and nothing else open" \
    "0 /dev/null 1 /dev/null 2 /dev/null" "$(tr '\n' ' ' <pelko/mailed/fds.txt | sed 's/ $//')"
fi

# The stop tool: closes the front end and ends the agent.
if [[ $mode == wine ]]; then
  timeout 90 "$WINE" "$extra" >front.out 2>&1 &
  front=$!
  for ((i = 0; i < 300; i++)); do grep -q ready front.out && break; sleep 0.1; done
else
  cp "$(command -v sleep)" "$work/Tavisk"
  "$work/Tavisk" 60 &
  front=$!
  # The stop tool knows the front end by its program file: until the fork
  # has become it, there is nothing of the front end's to close.
  for ((i = 0; i < 300; i++)); do
    [[ $(readlink "/proc/$front/exe") == "$work/Tavisk" ]] && break
    sleep 0.01
  done
fi
run "$stop_exe" >stop.out 2>&1
check "stop tool exits 0" 0 $?
check "stop tool prints nothing" "" "$(cat stop.out)"
wait_end "$front" 20
if [[ $mode == wine ]]; then
  check "front end closed by WM_CLOSE" 0 "$ended"
else
  check "front end asked to close (SIGTERM)" 143 "$ended"
fi
wait_end "$agent" 20
check "agent ended with exit code 0" 0 "$ended"
check "agent printed nothing" "" "$(cat agent.out)"
run "$stop_exe" >stop.out 2>&1
check "with neither present the stop tool exits 0" 0 $?
check "and prints nothing" "" "$(cat stop.out)"
[[ $failures -eq 0 ]]
