#!/bin/bash
# held_log_wine_test.sh PELKOMON_EXE STANDIN_DIR FILE_HOLDER_EXE
# Pelkomon.exe under Wine while another program holds its daily log open
# (share mode 0) as a job prints: the job's pages must not be lost. They
# stay pending, the agent says so in the Event Log, and once the log is
# released the job's entry holds every page it printed.
set -u
exe=$1
standins=$2
holder=$3
here=$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")
source "$here/standin-env.sh"
source "$here/../wine/eventlog.sh"
source "$here/../lib/check.sh"
standin_setup held_log_wine "$exe" "$standins" "$holder" || exit
# The first job makes the log; the second prints while it is held.
cat >"$scenario" <<'SCENARIO'
page_ms 300
2000 Office anna first 1
9000 Office paul held 4
SCENARIO

standin_office || exit 1
events=$WINE_TEST_DIR/events
wine_eventlog_launch "$events" "$run/Pelkomon.exe"

log=$logs/Office_$(date +%Y%m%d).xml
winlog="C:\\pelko\\Logs\\Office_$(date +%Y%m%d).xml"
entry_of() {  # "pages cost" of the entry of the job whose document is $1
  grep -o "<doc>$1</doc> <pages>[0-9-]*</pages> <cost>[0-9-]*</cost>" "$log" 2>/dev/null |
    sed 's|.*<pages>\([0-9-]*\)</pages> <cost>\([0-9-]*\)</cost>|\1 \2|'
}
first_logged() { [[ $(entry_of first) == "1 5" ]]; }
held() { [[ -e $log.held ]]; }
second_ended() { grep -q ' held ' "$result"; }
second_logged() { [[ $(entry_of held) == "4 20" ]]; }

check "the first job is logged" yes "$(wait_for 60 first_logged && echo yes)"
# Another program holds the log while the second job prints, and a while
# after it has ended.
(cd "$run" && WINEDEBUG=-all timeout 60 "$WINE" file_holder.exe hold "$winlog" \
  >/dev/null 2>&1) &
holder_pid=$!
check "the log is held" yes "$(wait_for 30 held && echo yes)"
check "the second job printed" yes "$(wait_for 60 second_ended && echo yes)"
sleep 4  # passes that meet the held log
check "nothing written while the log is held" "" "$(entry_of held)"
record=$(wine_eventlog_wait "$events" "paul|job [0-9]+ could not be entered|daily log .*Office_" 30)
check "the agent says so in the Event Log" yes "$([[ -n $record ]] && echo yes)"
echo "record: $record"

touch "$log.release"
wait "$holder_pid"
check "the job's entry holds all its pages once the log is free" yes \
  "$(wait_for 30 second_logged && echo yes)"
echo "entry of the held job: $(entry_of held)"
check "the Total counts both jobs" 1 \
  "$(grep -c '<entry><user>Total</user><cost>25</cost></entry></log>$' "$log")"
[[ $failures -eq 0 ]]
