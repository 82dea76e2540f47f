#!/bin/bash
# reused_ids_wine_test.sh spooler|agent PELKOMON_EXE STANDIN_DIR STOPMON_EXE
# A job id used again must not merge two people's jobs. Pelkomon.exe under
# Wine on the stand-in spooler: anna prints job 1 (2 pages), bert job 2,
# jürgen job 3 (4 pages), and each has its entry. Then the spooler restarts
# and numbers from 1 again ("spooler"), or the agent is stopped with the
# stop tool and started again on a spooler that restarted too ("agent"):
# anna prints job 1 again (another document, 3 pages), cara job 2, doris job
# 3 (plan.xlsx, 4 pages). Every job must have an entry of its own with its
# user, document and pages, jürgen's must stay at 4 pages, and the Total
# must be the sum. The stand-in goes step by step, each step once the agent
# has taken in the changes before it.
set -u
mode=$1
exe=$2
standins=$3
stopmon=$4
here=$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")
source "$here/standin-env.sh"
source "$here/../wine/eventlog.sh"
source "$here/../lib/check.sh"
source "$here/../lib/daily_log.sh"
[[ $mode == spooler || $mode == agent ]] || { echo "reused_ids_wine: no mode $mode" >&2; exit 2; }
standin_setup reused_ids_wine "$exe" "$standins" "$stopmon" || exit
agent=
trap '[[ -n $agent ]] && kill -9 "$agent" 2>/dev/null; wine_cleanup' EXIT
export LC_ALL=C  # the logs are windows-1252
juergen=$'j\xfcrgen'
cost=5
before=$WINE_TEST_DIR/before
steps_after=$WINE_TEST_DIR/steps-after.txt

first="add Office notes.txt anna 2
add Office memo.txt bert 1
add Office report.pdf $juergen 4
$(printf 'tick\n%.0s' {1..7})"
# The restart moves the spooler's clock on: the jobs after it were
# submitted later, as they would have been.
second="restart 60
add Office letter.docx anna 3
add Office list.txt cara 1
add Office plan.xlsx doris 4
$(printf 'tick\n%.0s' {1..8})"
if [[ $mode == spooler ]]; then
  printf 'queues Office\nready\n%s\nawait %s\n%s\n' "$first" "$(wine_path "$before")" "$second" \
    >"$steps"
else
  printf 'queues Office\nready\n%s\n' "$first" >"$steps"
  printf 'queues Office\nready\n%s\n' "$second" >"$steps_after"
fi

wine_settings 'HKLM\Software\Pelko' <<SETTINGS || exit 1
Path          REG_SZ     C:\pelko
nPrinters     REG_DWORD  1
Printer1      REG_SZ     Office
Printer1Cost  REG_DWORD  $cost
AppIsRunning  REG_DWORD  1
SETTINGS

export WINEDLLOVERRIDES="pdh,winspool.drv=n,b"
export PELKO_STANDIN_RESULT="$(wine_path "$result")"
start_agent() {  # start_agent STEPS
  PELKO_STANDIN_STEPS="$(wine_path "$1")" PELKO_WINE_TIMEOUT=300 \
    wine_eventlog_launch "$WINE_TEST_DIR/events" "$run/Pelkomon.exe"
  agent=$WINE_EVENTLOG_PID
}

# The jobs the stand-in ended and the log's entries, each as
# "ID|USER|PRINTER|DOC|PAGES|COST", sorted.
ended_jobs() {
  awk -v c="$cost" '$1 == "Office" { print $2 "|" $3 "|Office|" $4 "|" $5 "|" $5 * c }' "$result" |
    sort
}
logged() { log_entries Office | sort; }
total() {
  sed -n 's|.*<entry><user>Total</user><cost>\([0-9-]*\)</cost></entry></log>$|\1|p' \
    "$(log_of Office)" 2>/dev/null
}
dones() { grep -cx done "$result"; }
first_entered() {
  [[ $(logged) == "$(printf '1|anna|Office|notes.txt|2|10\n2|bert|Office|memo.txt|1|5\n3|%s|Office|report.pdf|4|20' "$juergen")" ]]
}
# Every page the stand-in printed is in the log (the count, not whose).
all_counted() {
  local sum
  sum=$(awk -v c="$cost" '$1 == "Office" { s += $5 * c } END { print s + 0 }' "$result")
  [[ $(grep -c '^Office ' "$result") -eq 6 && $(total) == "$sum" ]]
}

start_agent "$steps"
check "the jobs before the restart have their entries" yes \
  "$(wait_for 200 first_entered && echo yes)"
if [[ $mode == spooler ]]; then
  touch "$before"
else
  check "the stand-in ran its first steps" yes "$(wait_for 60 eval '[[ $(dones) -ge 1 ]]' && echo yes)"
  (cd "$run" && timeout 60 "$WINE" "$(basename "$stopmon")" >/dev/null 2>&1)
  wait_end "$agent" 30
  check "the stop tool ended the agent" 0 "$ended"
  start_agent "$steps_after"
fi
runs=1
[[ $mode == agent ]] && runs=2
check "the stand-in ran every step" yes \
  "$(wait_for 200 eval '[[ $(dones) -ge $runs && $(grep -c "^Office " "$result") -eq 6 ]]' && echo yes)"
wait_for 60 all_counted
# What a later pass would change shows once the agent has stopped.
(cd "$run" && timeout 60 "$WINE" "$(basename "$stopmon")" >/dev/null 2>&1)
wait_end "$agent" 30
agent=

check "the stand-in ran its steps in their bounds" "" \
  "$(grep -E '^(timeout|bad step)' "$result")"
check "the spooler numbered from 1 again" "1 2 3 1 2 3" \
  "$(awk '$1 == "Office" { printf "%s%s", sep, $2; sep = " " }' "$result")"
check "every job its own entry, with its user, document and pages" "$(ended_jobs)" "$(logged)"
check "jürgen's entry stays 4 pages" "3|$juergen|Office|report.pdf|4|20" \
  "$(logged | grep "|$juergen|")"
check "doris's plan.xlsx is doris's, 4 pages" "3|doris|Office|plan.xlsx|4|20" \
  "$(logged | grep '|plan.xlsx|')"
check "the Total is the sum" 75 "$(total)"
if ((failures > 0)); then
  echo "the daily log's entries:"
  logged
  echo "what the agent reported:"
  wine_eventlog_records "$WINE_TEST_DIR/events" | sort | uniq -c | head -20
fi
[[ $failures -eq 0 ]]
