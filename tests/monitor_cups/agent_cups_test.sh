#!/bin/bash
# agent_cups_test.sh BIN_DIR
# The agent as a whole on a private cupsd: real jobs printed with lp reach
# the daily logs with the pages CUPS counted and the configured costs.
set -u
bin=$1
here=$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")
source "$here/../../scripts/lib/cups-env.sh"
source "$here/../lib/check.sh"
source "$here/../lib/cups_test.sh"
cups_test_needs xmllint
cups_test_begin


document() {  # document PAGES: a PostScript file of that many pages
  cups_env_document "$work/doc$1.ps" "$1"
  echo "$work/doc$1.ps"
}

print() {  # print QUEUE PAGES TITLE -> the job id
  lp -d "$1" -t "$3" "$(document "$2")" | sed -n 's/^request id is [^ ]*-\([0-9]*\) .*/\1/p'
}

logs=$work/pelko/Logs
source "$here/../lib/daily_log.sh"
pages_of() { entry "$1" "$2" | cut -d'|' -f4; }
cost_of() { entry "$1" "$2" | cut -d'|' -f5; }
left_queue() { ! lpstat -o "$1" 2>/dev/null | grep -q "^$1-$2 "; }
has_pages() { [[ $(pages_of "$1" "$2") == "$3" ]]; }
# Waits until the job has been counted and has left the queue, and a little
# more, so that every pass that saw it is over.
settled() {  # settled QUEUE ID PAGES
  wait_for 40 has_pages "$1" "$2" "$3"
  wait_for 40 left_queue "$1" "$2"
  sleep 2.5
}

reg() { PELKO_REGISTRY=$work/registry "$bin/pelkoreg" "$@" >/dev/null; }
source "$here/../../scripts/lib/settings.sh"

cups_env_start || exit 1
for queue in Office Lab Spare; do cups_env_add_queue "$queue" 1.5 2>/dev/null || exit 1; done
cups_env_add_raw_queue Raw 0.5 2>/dev/null || exit 1

mkdir -p "$work/pelko/Logs"
watch_printers "$work/pelko" Office=5 Lab=7 Raw=2 Spare=9 || exit 1

PELKO_REGISTRY=$work/registry "$bin/pelkomon" >"$work/agent.out" 2>&1 &
agent=$!
sleep 1

# One job of three pages, which stays in the queue for several passes after
# its pages were counted (the backend takes 1.5 s a page).
id=$(print Office 3 "Budget <2026> & Co's")
start=$(date +%s)
settled Office "$id" 3
stayed=$(( $(date +%s) - start ))
check "3 pages at 5 cost 15" "root|Office|Budget 2026  Cos|3|15" "$(entry Office "$id")"
check "the job stayed for several passes" yes "$([[ $stayed -ge 6 ]] && echo yes)"

# Two jobs back to back: each gets its own pages. (The second is printed
# once every pass that saw the first is over: a rise belongs to the pass
# that reads it, so a job whose pages are counted during a pass of the job
# before it would give them to that one.)
first=$(print Lab 2 first)
settled Lab "$first" 2
second=$(print Lab 4 second)
settled Lab "$second" 4
check "first of two: 2 pages, cost 14" "2|14" "$(pages_of Lab "$first")|$(cost_of Lab "$first")"
check "second of two: 4 pages, cost 28" "4|28" "$(pages_of Lab "$second")|$(cost_of Lab "$second")"
check "the day's total" 1 "$(grep -c '<entry><user>Total</user><cost>42</cost></entry></log>$' "$(log_of Lab)")"

# A printer whose configured name changed under the running worker: its
# jobs are no longer found among the configured names and cost nothing.
reg add 'HKLM\Software\Pelko' /v Printer4 /t REG_SZ /d Elsewhere /f
id=$(print Spare 2 unconfigured)
settled Spare "$id" 2
check "unconfigured name: pages counted, cost 0" "2|0" "$(pages_of Spare "$id")|$(cost_of Spare "$id")"

# CUPS counts no pages on a raw queue.
id=$(print Raw 3 raw)
wait_for 30 bash -c "grep -qs '<id>$id</id>' '$(log_of Raw)'"
wait_for 30 left_queue Raw "$id"
sleep 2.5
check "raw queue: 0 pages" "0|0" "$(pages_of Raw "$id")|$(cost_of Raw "$id")"

# A restart of the scheduler between two jobs loses no pages of the later one.
before=$(print Office 2 "before restart")
settled Office "$before" 2
cups_env_restart || exit 1
after=$(print Office 3 "after restart")
settled Office "$after" 3
check "job before the restart" "2|10" "$(pages_of Office "$before")|$(cost_of Office "$before")"
check "job after the restart" "3|15" "$(pages_of Office "$after")|$(cost_of Office "$after")"

check "agent still running" yes "$(kill -0 "$agent" 2>/dev/null && echo yes)"
check "agent wrote nothing to its output" "" "$(cat "$work/agent.out")"
for file in "$work"/pelko/Logs/*.xml; do
  check "well-formed: $(basename "$file")" ok "$(xmllint --noout "$file" 2>&1 && echo ok)"
done

if [[ $failures -ne 0 ]]; then
  for file in "$work"/pelko/Logs/*.xml; do echo "--- $file"; cat "$file"; echo; done
fi
echo "$failures failure(s)"
[[ $failures -eq 0 ]]
