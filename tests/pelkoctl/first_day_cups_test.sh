#!/bin/bash
# first_day_cups_test.sh BIN_DIR DOC
# The table "The first day at a glance" of docs/install.md, run as written:
# every command between its <!-- first-day --> marks, in its order, on a
# private cupsd and settings store with the agent running, as the package
# leaves a machine. Each must exit 0, and what it is there to show must
# show: the test page entered at its cost, status, find, list and the
# reports naming it, the check clean, the report mailed.
#
# The test maps the installation's places and the mail relay to its own
# before running a command: /var/lib/pelko is its folder, smtp.example.org
# port 587 is a catcher on loopback without TLS (MailSecurity 0, set
# beforehand); `sendrik /setpassword` reads the catcher's password from its
# standard input. Its private cupsd takes raw jobs and lets anyone name a
# job's owner, as a stock CUPS does: those two warnings are accepted
# beforehand, so that any other one fails the check. PELKO_SHOW_OUTPUT=1
# prints what each command printed.
set -u
bin=$(readlink -f "$1")
doc=$2
here=$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")
source "$here/../../scripts/lib/cups-env.sh"
source "$here/../lib/check.sh"
source "$here/../lib/cups_test.sh"
source "$here/../lib/daily_log.sh"
cups_test_needs lp lpadmin gs
[[ -r /usr/share/cups/data/testprint ]] || { echo "SKIP: needs CUPS's test page"; exit 77; }
/usr/bin/python3 -c 'import aiosmtpd' 2>/dev/null || { echo "SKIP: needs python3-aiosmtpd"; exit 77; }

# The commands, each backticked text of the table's command column.
mapfile -t commands < <(sed -n '/<!-- first-day -->/,/<!-- \/first-day -->/p' "$doc" |
  awk -F'|' 'NF > 3 && $2 !~ /^-+$/ && $2 !~ /^ task / {print $3}' | grep -o '`[^`]*`' | tr -d '`')
check "the table found, with its commands" yes "$( ((${#commands[@]} >= 10)) && echo yes)"

cups_test_begin
cleanup_more() { [[ -n ${server:-} ]] && stop_process "$server"; }
export PELKO_REGISTRY=$work/registry
install -d -m 0755 "$work/registry"
logs=$work/pelko/Logs
mkdir -p "$logs"
install -m 0755 "$bin/sendrik" "$work/pelko/Sendrik.exe"
set_() { "$bin/pelkoctl" set "$@" >/dev/null || fail "setting $1"; }
# What the package writes, then the test's own two settings.
set_ Path "$work/pelko"
set_ AppIsRunning 0
set_ nPrinters 0
set_ AcceptedWarnings raw-jobs,owner-names
set_ MailSecurity 0

cups_env_start || exit 1
cups_env_add_queue Office 0.1 2>/dev/null || exit 1
password=first-day-secret
/usr/bin/python3 "$here/../sendrik/smtp_server.py" --out "$work/mail" --auth "pelko@example.org:$password" \
  --lifetime 280 >"$work/server.out" 2>&1 &
server=$!
server_ready() { grep -qs ready "$work/server.out"; }
wait_for 20 server_ready || { fail "the SMTP catcher did not start"; exit 1; }
port=$(awk '/ready/ {print $2}' "$work/server.out")
"$bin/pelkomon" >>"$work/agent.out" 2>&1 &
agent=$!

# The outcome each command is there for, by what it runs; `shown` lists
# those reached, so a row dropped from the table is missed at the end.
shown= job= pages= cost=
out_has() { grep -qE -- "$1" "$work/out" && echo yes || { echo no; cat "$work/out" "$work/err"; }; }
entered() { [[ -n $(entry Office "$job") ]]; }
mails() { ls "$work/mail"/*.eml 2>/dev/null | wc -l; }
mailed() { (($(mails) >= 1)); }
outcome() {
  case $1 in
    "lp "*)
      job=$(sed -n 's/^request id is Office-\([0-9]*\) .*/\1/p' "$work/out")
      check "the test page entered" yes "$(wait_for 120 entered && echo yes)"
      read_page_log
      IFS='|' read -r user printer title pages cost <<<"$(entry Office "$job")"
      # CUPS's test page is in colour: Ghostscript finds it so.
      check "its entry: CUPS's pages at the colour price" "root Office test page ${counted[$job]:-?} $((${counted[$job]:-0} * 60))" \
        "$user $printer $title $pages $cost"
      shown+=" entered" ;;
    "pelkoctl status"*)
      check "status: the day's job, pages and cost" yes "$(out_has "^Office +1 +$pages +$cost +0 ")"
      check "status: the agent runs" yes "$(out_has '^agent +running since')"
      shown+=" status" ;;
    "pelkoctl find"*)
      check "find: the job's entry" yes "$(out_has "^  entered in $logs/Office_[0-9]+\.xml: .* $job root $pages pages $cost\$")"
      shown+=" find" ;;
    "pelkoctl list"*)
      check "list: the printer, watched" yes "$(out_has "^1 +Office +20 +yes +.* 60 .* since [0-9/]+ [0-9:]+\$")"
      shown+=" list" ;;
    "pelkoctl check --probe"*)
      check "probe: all well" yes "$(out_has '^PELKO OK ')" ;;
    "pelkoctl check"*)
      check "check: the agent runs" yes "$(out_has '^ok +the agent is running')"
      shown+=" check" ;;
    "pelkoreport --summary"*)
      check "summary: the printer's cost" yes "$(out_has "^  Office +1 +$pages +$cost\$")"
      shown+=" report" ;;
    "pelkoreport "*"-o "*)
      file=$work/$(sed 's/.*-o \([^ ]*\).*/\1/' <<<"$1")
      check "$(basename "$file"): the test page" yes "$(grep -q "test page" "$file" 2>/dev/null && echo yes)" ;;
    "pelkoctl set EmailAlert 1")
      check "the report mailed at once" yes "$(wait_for 60 mailed && echo yes)"
      check "to both recipients, with the login" "office@example.org boss@example.org login=b'pelko@example.org'" \
        "$(sed -n 2,4p "$work/mail/0.env" 2>/dev/null | paste -sd' ')"
      shown+=" mail" ;;
    "sendrik")
      check "sendrik: mailed again" 2 "$(mails)" ;;
    "ls $logs")
      check "ls: the day's log and the mail program's" 2 \
        "$(grep -cxE "Office_$(date +%Y%m%d)\.xml|Sendrik\.log" "$work/out")" ;;
  esac
}

# Each command from the folder it was typed in, with the programs first on
# PATH, given what it asks for on its standard input.
cd "$work" || exit 1
echo "$password" >"$work/typed"
for command in "${commands[@]}"; do
  run=${command//\/var\/lib\/pelko/$work/pelko}
  run=${run//smtp.example.org/127.0.0.1}
  run=${run//MailPort 587/MailPort $port}
  PATH=$bin:$PATH timeout 60 bash -c "$run" <"$work/typed" >"$work/out" 2>"$work/err"
  status=$?
  check "$command" 0 "$status"
  ((status == 0)) || cat "$work/out" "$work/err"
  [[ -n ${PELKO_SHOW_OUTPUT:-} ]] && cat "$work/out"
  outcome "$run"
done
check "every first-day outcome shown" " entered status find list check report mail" "$shown"
# The tools that look once leave cupsd's notifiers nothing to fail on.
check "cupsd logged no error" "" "$(cat "$CUPS_ENV_DIR/log/error_log" 2>/dev/null)"

[[ $failures -eq 0 ]]
