#!/bin/bash
# The Windows build says what it absorbs in the Event Log: each severity as
# its event type, a worker's failure with its cause, and the agent itself,
# meeting a log too big to read, saying so.
set -u
bin=$1
here=$(dirname "$(readlink -f "$0")")
source "$here/../wine/wine-env.sh"
source "$here/../wine/eventlog.sh"
source "$here/../lib/check.sh"
wine_setup || exit 1
trap wine_cleanup EXIT
cp "$bin/Pelkomon.exe" "$bin/trouble_probe.exe" "$WINE_TEST_DIR/"
events=$WINE_TEST_DIR/events
tab=$'\t'

probe() {
  (cd "$WINE_TEST_DIR" && WINEDEBUG=$WINE_EVENTLOG_DEBUG timeout 60 "$WINE" trouble_probe.exe "$@" \
    2>>"$events" >/dev/null)
}

probe say error 'cannot open the queue "Office"'
probe say warning 'cannot write C:\Pelko\Logs\Office_20261207.xml; 3 pages kept pending'
probe say info 'started'
check "each line is one record of its type" \
  "error${tab}cannot open the queue \"Office\"|warning${tab}cannot write C:\\Pelko\\Logs\\Office_20261207.xml; 3 pages kept pending|info${tab}started" \
  "$(wine_eventlog_records "$events" | paste -sd'|')"

: >"$events"
probe worker-fails 'no room for Office_20261207.xml'
check "a worker that fails on a Windows thread" 0 $?
check "its failure is one error record" "error${tab}the probe thread failed: no room for Office_20261207.xml" \
  "$(wine_eventlog_records "$events")"

# The agent, mailing a logs folder that holds a sparse 8 TB log.
data=$WINE_TEST_DIR/data
mkdir -p "$data/Logs"
truncate -s 8T "$data/Logs/Office_$(date +%Y%m%d).xml"
wine_settings 'HKLM\Software\Pelko' <<SETTINGS || exit 1
Path          REG_SZ     $(wine_path "$data")
AppIsRunning  REG_DWORD  1
EmailAlert    REG_DWORD  1
SETTINGS
: >"$events"
wine_eventlog_launch "$events" Pelkomon.exe
# Reading it whole runs out of memory and ends the e-mail thread, which the
# supervisor starts again; a bounded read skips the file instead. Either way
# the Event Log says so.
said=$(wine_eventlog_wait "$events" 'e-mail alert thread failed|Office_[0-9]{8}\.xml' 60)
check "the agent says what it absorbed" yes "$([[ -n $said ]] && echo yes)"
echo "record: $said"
if [[ $said == *"thread failed"* ]]; then
  check "the failure names its cause" "error${tab}the e-mail alert thread failed: std::bad_alloc" "$said"
  restarted=$(wine_eventlog_wait "$events" 'e-mail alert thread had ended; started it again' 30)
  check "the e-mail thread is started again within a poll" \
    "warning${tab}the e-mail alert thread had ended; started it again" "$restarted"
fi
check "the agent still runs" yes "$(kill -0 "$WINE_EVENTLOG_PID" 2>/dev/null && echo yes)"

[[ $failures -eq 0 ]]
