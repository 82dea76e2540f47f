#!/bin/bash
# first_printer_cups_test.sh BIN_DIR
# The administrator's first printer on a private cupsd, as docs/install.md
# has it: `pelkoctl add`, accounting switched on and a test page printed at
# once, which CUPS has ended before the agent first looks at the queue. The
# page gets one entry, and still one after the printer is removed and added
# again and after the agent restarts; a job that ended before the add, or
# while the printer was removed, gets none.
set -u
bin=$1
here=$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")
source "$here/../../scripts/lib/cups-env.sh"
source "$here/../lib/check.sh"
source "$here/../lib/cups_test.sh"
source "$here/../lib/daily_log.sh"
cups_test_needs lp lpadmin
cups_test_begin

export PELKO_REGISTRY=$work/registry
install -d -m 0755 "$work/registry"
mkdir -p "$work/pelko/Logs"
logs=$work/pelko/Logs
ctl() { "$bin/pelkoctl" "$@" >"$work/out" 2>"$work/err"; echo $?; }
start_agent() { "$bin/pelkomon" >>"$work/agent.out" 2>&1 & agent=$!; }

cups_env_start || exit 1
hold=$work/hold
cups_env_add_queue Office 0.1 "$hold" 2>/dev/null || exit 1
cups_env_document "$work/page.ps" 1
ctl set Path "$work/pelko" >/dev/null

# print_ended TITLE: a page held printing, let go, and ended in CUPS's
# history; prints its id.
print_ended() {
  local id
  id=$(lp -d Office -t "$1" "$work/page.ps" | sed -n 's/^request id is Office-\([0-9]*\) .*/\1/p')
  wait_for 30 cups_env_printing "$hold" "$id" || echo "FAIL: job $id did not begin to print" >&2
  cups_env_release "$hold" "$id"
  wait_for 30 cups_env_ended Office "$id" || echo "FAIL: job $id did not end" >&2
  echo "$id"
}
# entries_of ID: how many entries the job has in today's log.
entries_of() { log_entries Office | grep -c "^$1|"; }
has_entry() { [[ $(entries_of "$1") -ge 1 ]]; }
flag_lowered() { [[ $("$bin/pelkoreg" query 'HKLM\Software\Pelko' /v IsModified 2>/dev/null) == *0x0* ]]; }

before=$(print_ended "before the add")
check "add" 0 "$(ctl add Office --cost 20)"
ctl set AppIsRunning 1 >/dev/null
page=$(print_ended "test page")
ctl list >/dev/null
check "list: watching since the add" 1 "$(grep -cE '^1 +Office +20 +yes .* since [0-9/]+ [0-9:]+$' "$work/out")"

start_agent
check "the test page entered" yes "$(wait_for 60 has_entry "$page" && echo yes)"
read_page_log
check "once, with CUPS's pages at 20" "root|Office|test page|${counted[$page]}|$((counted[$page] * 20))" \
  "$(entry Office "$page")"
check "the job before the add not billed" 0 "$(entries_of "$before")"

# Removed and added again while the agent runs; a job ends in between.
check "remove" 0 "$(ctl remove Office)"
check "the agent lets it go" yes "$(wait_for 30 flag_lowered && echo yes)"
removed=$(print_ended "while removed")
check "add again" 0 "$(ctl add Office --cost 20)"
check "the agent takes it up again" yes "$(wait_for 30 flag_lowered && echo yes)"
# Its catch-up comes before its first look: an entry after the add says it ran.
after=$(print_ended "after the add again")
check "a job after the add again entered" yes "$(wait_for 60 has_entry "$after" && echo yes)"
check "the test page still once" 1 "$(entries_of "$page")"
check "the job while removed not billed" 0 "$(entries_of "$removed")"
check "the job before the add still not" 0 "$(entries_of "$before")"

stop_process "$agent"
start_agent
last=$(print_ended "after a restart")
check "a job after a restart entered" yes "$(wait_for 60 has_entry "$last" && echo yes)"
check "and nothing entered twice" "1 1 1" "$(entries_of "$page") $(entries_of "$after") $(entries_of "$last")"

[[ $failures -eq 0 ]]
