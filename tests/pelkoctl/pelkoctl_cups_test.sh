#!/bin/bash
# pelkoctl_cups_test.sh BIN_DIR
# pelkoctl on a real registry store and a private cupsd: each command, each
# trap refused with its message, and check naming each fault it finds.
set -u
bin=$1
here=$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")
source "$here/../../scripts/lib/cups-env.sh"
source "$here/../lib/check.sh"
source "$here/../lib/cups_test.sh"
source "$here/../../scripts/lib/pg-env.sh"
cups_test_needs
cups_test_begin

export PELKO_REGISTRY=$work/registry
ctl() { "$bin/pelkoctl" "$@" >"$work/out" 2>"$work/err"; echo $?; }
said() { grep -qF -- "$1" "$work/out" "$work/err" && echo yes || echo "no: $(cat "$work/out" "$work/err")"; }
stored() { "$bin/pelkoreg" query 'HKLM\Software\Pelko' /v "$1" 2>/dev/null | awk -v v="$1" '$1 == v {print $2, $3}'; }

# A store that is not there is said, not made.
check "missing store refused" 1 "$(ctl list)"
check "missing store named" yes "$(said "the settings store $work/registry does not exist (named by PELKO_REGISTRY)")"
check "and not made" no "$([[ -e $work/registry ]] && echo yes || echo no)"
install -d -m 0755 "$work/registry"

cups_env_start || exit 1
cups_env_add_queue Office 1 2>/dev/null || exit 1
cups_env_add_queue Lab 1 2>/dev/null || exit 1
cups_env_add_raw_queue Raw 1 2>/dev/null || exit 1
# A printer that prints no colour (the queues above do).
lpadmin -p Mono -E -v "pelko:/nowhere?seconds=1" -m drv:///sample.drv/laserjet.ppd 2>/dev/null || exit 1

# add: the right types, the count and the flag raised.
check "add Office" 0 "$(ctl add Office --cost 20)"
check "add Lab" 0 "$(ctl add Lab --cost 7)"
check "Printer1 a REG_SZ" "REG_SZ Office" "$(stored Printer1)"
check "its cost a REG_DWORD" "REG_DWORD 0x14" "$(stored Printer1Cost)"
check "nPrinters raised" "REG_DWORD 0x2" "$(stored nPrinters)"
check "IsModified raised" "REG_DWORD 0x1" "$(stored IsModified)"

# A queue the scheduler does not have: refused, then forced.
check "unknown queue refused" 1 "$(ctl add Ofice --cost 20)"
check "refusal names it" yes "$(said "the spooler has no queue 'Ofice'")"
check "nothing written" "REG_DWORD 0x2" "$(stored nPrinters)"
check "hex cost refused" 2 "$(ctl add Spare --cost 0x14 --force)"
check "forced" 0 "$(ctl add Ofice --cost 1 --force)"

# list: decimal costs, whether the queue is there.
check "list" 0 "$(ctl list)"
check "Office listed in decimal" 1 "$(grep -cE '^1 +Office +20 +yes' "$work/out")"
check "the forced one flagged" 1 "$(grep -cE '^3 +Ofice +1 +NO' "$work/out")"

# remove keeps the slots dense; cost changes one printer.
check "remove Lab" 0 "$(ctl remove Lab)"
check "Ofice moved down" "REG_SZ Ofice" "$(stored Printer2)"
check "slot 3 gone" "" "$(stored Printer3)"
check "count lowered" "REG_DWORD 0x2" "$(stored nPrinters)"
check "cost" 0 "$(ctl cost Office 35)"
check "cost stored" "REG_DWORD 0x23" "$(stored Printer1Cost)"
check "remove Ofice" 0 "$(ctl remove Ofice)"

# The prices beyond the mono one, with the types the agent reads.
check "colour, discount, factors" 0 "$(ctl cost Office --color-cost 60 --duplex-discount 10 --paper-factors 'A3=2,Ledger=1.5')"
check "colour a REG_DWORD" "REG_DWORD 0x3c" "$(stored Printer1ColorCost)"
check "discount a REG_DWORD" "REG_DWORD 0xa" "$(stored Printer1DuplexDiscount)"
check "factors a REG_SZ" "REG_SZ a3=2,tabloid=1.5" "$(stored Printer1PaperFactors)"
check "mono left alone" "REG_DWORD 0x23" "$(stored Printer1Cost)"
check "bad factors refused" 2 "$(ctl cost Office --paper-factors 'A3=two')"
check "refusal says why" yes "$(said "'two' for A3 is no factor")"
ctl list >/dev/null
check "prices listed after the known columns" 1 "$(grep -cE '^1 +Office +35 +yes +- +60 +-10% +a3=2,tabloid=1.5 +not yet$' "$work/out")"

# set/show with the table's types; reg.exe's trap named by show.
check "set freq" 0 "$(ctl set EmailAlertFreq 60)"
check "freq a REG_DWORD" "REG_DWORD 0x3c" "$(stored EmailAlertFreq)"
check "bad port refused" 1 "$(ctl set MailPort 70000)"
check "refusal says why" yes "$(said "out of range")"
"$bin/pelkoreg" add 'HKLM\Software\Pelko' /v DeleteLogsDays /d 30 /f >/dev/null
check "text number shown as a fault" 1 "$(ctl show DeleteLogsDays)"
check "show says the agent reads 0" yes "$(said "reads as 0")"
"$bin/pelkoreg" delete 'HKLM\Software\Pelko' /v DeleteLogsDays /f >/dev/null
# The database's settings, which the documents tell administrators to set;
# a password in the connection string would be readable with it.
check "set connection" 0 "$(ctl set DatabaseConnection 'Driver=PostgreSQL Unicode;Server=db;Database=pelko')"
check "connection a REG_SZ" "REG_SZ Driver=PostgreSQL" "$(stored DatabaseConnection)"
check "password in it refused" 1 "$(ctl set DatabaseConnection 'Server=db;PWD=secret')"
check "refusal names the command" yes "$(said "pelkodb --set-password")"
check "set server name" 0 "$(ctl set ServerName print-01)"
ctl show >/dev/null
check "show aligns the longest name" 1 "$(grep -cE '^EmailReportPeriod +REG_SZ' "$work/out")"
check "show aligns the rest with it" 1 "$(grep -cE '^ServerName {10}REG_SZ +"print-01"$' "$work/out")"

# check: a machine with every fault, then each mended.
mkdir -p "$work/pelko"
ctl set Path "$work/pelko" >/dev/null
"$bin/pelkoreg" add 'HKLM\Software\Pelko' /v nPrinters /d 1 /f >/dev/null
check "check fails with a fault" 2 "$(ctl check)"
check "count as text named" yes "$(said "nPrinters is stored as \"1\" (REG_SZ), which the agent reads as 0")"
check "accounting off named" yes "$(said "AppIsRunning is not 1")"
check "missing Logs named" yes "$(said "Logs folder $work/pelko/Logs: the folder is missing")"
check "agent not running named" yes "$(said "the agent is not running: no process runs")"
ctl set nPrinters 1 >/dev/null
ctl set AppIsRunning 1 >/dev/null
mkdir -p "$work/pelko/Logs"
chown 65534:65534 "$work/pelko/Logs"
ctl check >/dev/null
check "Logs not writable by root without capabilities" yes "$(said "Logs folder $work/pelko/Logs: not writable by the agent's service: it belongs to uid 65534")"
check "root is told to chown, not chmod" yes "$(said "own rights allow (chown root '$work/pelko/Logs')")"
check "open CUPS policy warned" yes "$(said "WARN   CUPS policy 'default' lets any user name a job's owner")"
check "policy names the queue" yes "$(said "bills someone on Office")"
chown 0:daemon "$work/pelko/Logs"
chmod 2770 "$work/pelko/Logs"
ctl check >/dev/null
check "a group that may write Logs named" yes "$(said "Logs folder $work/pelko/Logs: group daemon may write it")"
chown 0:0 "$work/pelko/Logs"
rm -rf "$work/pelko"
ctl check >/dev/null
check "missing Path named" yes "$(said "Path $work/pelko: the folder is missing")"
mkdir -p "$work/pelko/Logs"

# Mail: program missing, then one anyone may change, settings incomplete.
ctl set EmailAlert 1 >/dev/null
ctl check >/dev/null
check "missing mail program named" yes "$(said "mail program $work/pelko/Sendrik.exe cannot be started")"
printf '#!/bin/sh\n' >"$work/pelko/Sendrik.exe"
chmod 777 "$work/pelko/Sendrik.exe"
ctl check >/dev/null
check "unsafe mail program named" yes "$(said "mail program $work/pelko/Sendrik.exe would be refused")"
check "incomplete mail named" yes "$(said "mail settings incomplete: MailServer, MailFrom, MailTo not set")"

# The raw queue accepts raw jobs: pages nobody pays for.
ctl add Raw --cost 3 >/dev/null
ctl check >/dev/null
check "raw jobs warned" yes "$(said "queue 'Raw' accepts raw jobs")"

# A colour printer without a colour price, as CUPS's color-supported says.
ctl add Lab --cost 7 >/dev/null
ctl add Mono --cost 2 >/dev/null
ctl check >/dev/null
check "colour printer without a colour price warned" yes "$(said "WARN   printer 3 'Lab': the printer prints colour but has no colour price: colour pages cost 7")"
check "one with a colour price not" 0 "$(grep -c "'Office': the printer prints colour" "$work/out")"
check "a mono printer not" 0 "$(grep -c "'Mono': the printer prints colour" "$work/out")"
ctl remove Lab >/dev/null
ctl remove Mono >/dev/null

# Database driver logs asked for: each named with what it leaks.
"$bin/pelkoreg" add 'HKLM\Software\Pelko' /v DatabaseConnection \
  /d 'Driver={PostgreSQL Unicode};Server=db;Debug=1;CommLog=0;' /f >/dev/null
mkdir -p "$work/odbc"
printf '[ODBC]\nTrace = Yes\nTraceFile = /var/tmp/sql.log\n' >"$work/odbc/odbcinst.ini"
ODBCSYSINI=$work/odbc ctl check >/dev/null
check "Debug=1 warned" yes "$(said "WARN   DatabaseConnection sets Debug=1: the ODBC driver logs every connection")"
check "it says what leaks" yes "$(said "with the database password, every statement and the rows sent")"
check "CommLog=0 not warned" 0 "$(grep -c "sets CommLog" "$work/out")"
check "unixODBC's trace warned" yes "$(said "unixODBC traces every ODBC call (Trace in $work/odbc/odbcinst.ini) to /var/tmp/sql.log")"
"$bin/pelkoreg" delete 'HKLM\Software\Pelko' /v DatabaseConnection /f >/dev/null

# A user's folder first on root's PATH (sudo -E, a "." in it): check runs
# systemctl and journalctl from the system folders only. Where systemd
# does not run, a private /run/systemd/system makes check reach for them.
fake=$work/fake-tools
mkdir -p "$fake"
for tool in systemctl journalctl; do
  printf '#!/bin/sh\ntouch %s\n' "$work/$tool-ran" >"$fake/$tool"
done
chmod 755 "$fake"/*
with_systemd() {
  if [[ -d /run/systemd/system ]]; then "$@"; return; fi
  unshare -m --propagation private sh -c \
    'mount -t tmpfs pelko /run/systemd && mkdir /run/systemd/system && exec "$@"' sh "$@"
}
# A chroot (a fresh-machine run) may allow neither: check then reaches for
# no system tool at all, and only that is checked.
if [[ -d /run/systemd/system ]] || unshare -m --propagation private true 2>/dev/null; then
  (cd "$fake" && PATH="$fake:.:$PATH" with_systemd "$bin/pelkoctl" check >"$work/out" 2>"$work/err")
  check "check ran where systemd seems to run" yes "$(said "the agent is not running")"
else
  echo "note: no systemd and no private mount namespace here"
  (cd "$fake" && PATH="$fake:.:$PATH" "$bin/pelkoctl" check >"$work/out" 2>"$work/err")
fi
check "no systemctl from the caller's PATH" no "$([[ -e $work/systemctl-ran ]] && echo yes || echo no)"
check "no journalctl from the caller's PATH" no "$([[ -e $work/journalctl-ran ]] && echo yes || echo no)"

# A store written by hand, as an administrator met it: every fix named is
# a command that works, and nothing is written over unseen.
reg() { "$bin/pelkoreg" "$@" >/dev/null; }
rm -rf "$work/registry" "$work/pelko"
install -d -m 0755 "$work/registry"
mkdir -p "$work/pelko/Logs"
ctl set Path "$work/pelko" >/dev/null
ctl set AppIsRunning 1 >/dev/null
ctl add Office --cost 20 >/dev/null
ctl add Lab --cost 3 >/dev/null
reg add 'HKLM\Software\Pelko' /v Printer2Cost /d 7 /f
check "a cost stored as text: list still lists" 0 "$(ctl list)"
check "its row marked" 1 "$(grep -cE '^2! +Lab +\? +yes' "$work/out")"
check "with the fix" yes "$(said '! Printer2Cost is stored as "7" (REG_SZ), which the agent reads as 0: its pages cost nothing (pelkoctl cost "Lab" 7)')"
ctl check >/dev/null
check "check says it once" 1 "$(grep -c 'Printer2Cost' "$work/out")"
check "and no ok about the types" 0 "$(grep -c 'ok     every setting is stored' "$work/out")"
check "the fix works" 0 "$(ctl cost Lab 7)"
check "the cost a number again" "REG_DWORD 0x7" "$(stored Printer2Cost)"
reg add 'HKLM\Software\Pelko' /v nPrinters /t REG_DWORD /d 3 /f
check "nPrinters above the printers: list still lists" 0 "$(ctl list)"
check "the empty slot a row" 1 "$(grep -cE '^3! +-' "$work/out")"
ctl check >/dev/null
check "check names it with its fix" 1 "$(grep -c "FAULT  printer 3: slot 3 has no printer, but nPrinters is 3 (pelkoctl set nPrinters 2)" "$work/out")"
ctl add Mono --cost 1 >/dev/null
reg add 'HKLM\Software\Pelko' /v nPrinters /t REG_DWORD /d 2 /f
check "a printer above nPrinters listed" 0 "$(ctl list)"
check "its row marked" 1 "$(grep -cE '^3! +Mono' "$work/out")"
check "add --force does not write over it" 1 "$(ctl add Office2 --cost 1 --force)"
check "and says why" yes "$(said "slot 3 holds 'Mono' above nPrinters 2, which the agent does not account")"
check "Mono kept" "REG_SZ Mono" "$(stored Printer3)"
ctl set nPrinters 3 >/dev/null

# A store others can change: one line with its chmod, nothing after it.
chmod 777 "$work/registry"
check "a store anyone may write: check fails" 2 "$(ctl check)"
check "one line and the summary" 2 "$(wc -l <"$work/out")"
check "the line names the fix" yes "$(said "the settings store $work/registry can be changed by others ($work/registry can be written by every user")"
check "with the chmod" yes "$(said "chmod -R go-w '$work/registry')")"
check "list refuses" 1 "$(ctl list)"
check "in one line" 1 "$(wc -l <"$work/err")"
chmod 755 "$work/registry"

# The exit status of a monitoring plugin, with the agent running beside
# it: the warnings of a stock CUPS accepted, then not, then a fault.
"$bin/pelkomon" >/dev/null 2>&1 &
agent=$!
running_said() { ctl check >/dev/null; grep -qF "ok     the agent is running" "$work/out"; }
check "a running agent found" yes "$(wait_for 30 running_said && echo yes)"
watched() { [[ -e $work/pelko/Office.seen && -e $work/pelko/Lab.seen && -e $work/pelko/Mono.seen ]]; }
check "the printers watched" yes "$(wait_for 60 watched && echo yes)"
ctl set AcceptedWarnings raw-jobs,owner-names,colour-price >/dev/null
check "all well: 0" 0 "$(ctl check)"
check "accepted warnings shown" yes "$(said "[raw-jobs, accepted]")"
ctl check --probe >/dev/null
check "probe form: the summary first" "PELKO OK - all is well" "$(head -1 "$work/out" | sed 's/ [(|].*//')"
ctl set AcceptedWarnings '' >/dev/null
check "warnings only: 1" 1 "$(ctl check --probe)"
check "the summary names the first" 1 "$(head -1 "$work/out" | grep -c '^PELKO WARNING - 0 fault(s), [0-9]* warning(s): ')"
# A printer written as reg.exe writes it, without IsModified.
reg add 'HKLM\Software\Pelko' /v Printer4 /d Ofice /f
reg add 'HKLM\Software\Pelko' /v Printer4Cost /t REG_DWORD /d 1 /f
reg add 'HKLM\Software\Pelko' /v nPrinters /t REG_DWORD /d 4 /f
check "a fault: 2" 2 "$(ctl check)"
check "the missing queue with its fix" yes "$(said "FAULT  printer 4 'Ofice': the spooler has no such queue; its jobs are not accounted (pelkoctl remove \"Ofice\", then add the right name; lpstat -e lists them)")"
lpadmin -p Ofice -E -v "pelko:/nowhere?seconds=1" -m drv:///sample.drv/laserjet.ppd 2>/dev/null
ctl check >/dev/null
check "a printer not taken up named" yes "$(said "FAULT  printer 4 'Ofice' is not watched: the agent has not taken it up, as it was written without raising IsModified")"
check "with the fix" yes "$(said "(pelkoctl set IsModified 1)")"

# status and find over what was printed: two jobs on a configured queue and
# one on a queue that is not.
cups_env_add_queue Spare 1 2>/dev/null || fail "queue Spare"
cups_env_document "$work/two.ps" 2
print_job() { lp -d "$1" -t "$2" "$work/two.ps" | sed -n 's/^request id is [^ ]*-\([0-9]*\) .*/\1/p'; }
office_log=$work/pelko/Logs/Office_$(date +%Y%m%d).xml
first=$(print_job Office "status one")
second=$(print_job Office "status two")
other=$(print_job Spare "not accounted")
both_entered() { [[ $(grep -oE "<id>($first|$second)</id>" "$office_log" 2>/dev/null | wc -l) -eq 2 ]]; }
check "both jobs entered" yes "$(wait_for 60 both_entered && echo yes)"
spare_ended() { cups_env_ended Spare "$other"; }
check "the other job ended" yes "$(wait_for 60 spare_ended && echo yes)"
check "status" 0 "$(ctl status)"
cp "$work/out" "$work/status.txt"
check "status: Office's day" 1 "$(grep -cE '^Office +2 +4 +80 +0  ' "$work/out")"
check "status: the last entry is the second job" 1 "$(grep -cE "^last entry Office [0-9/]+ [0-9:]+ job $second " "$work/out")"
check "status: the agent's uptime" 1 "$(grep -cE '^agent     running since [0-9-]+ [0-9:]+ UTC \(' "$work/out")"
check "status --json" 0 "$(ctl status --json)"
check "status --json is JSON" 0 "$(python3 -m json.tool "$work/out" >"$work/status.json"; echo $?)"
json_says() { python3 -c "import json,sys; d=json.load(open(sys.argv[1])); print($1)" "$work/out"; }
check "json: Office's pages" 4 "$(json_says '[p["pages_today"] for p in d["printers"] if p["name"] == "Office"][0]')"
check "json: the last entry" "$second" "$(json_says 'd["last_entry"]["id"]')"
check "json: the agent runs" True "$(json_says 'd["agent"]["running"] and d["agent"]["uptime_seconds"] >= 0')"
: >"$work/find.txt"
for job in "$first" "$second"; do
  check "find $job" 0 "$(ctl find "$job")"
  check "find $job: its entry" 1 "$(grep -cE "^  entered in $office_log: [0-9/]+ [0-9:]+ $job root 2 pages 40$" "$work/out")"
  cat "$work/out" >>"$work/find.txt"
done
check "find the job on Spare" 0 "$(ctl find "$other")"
check "find: the queue is not configured" yes "$(said "not entered: its queue 'Spare' is not configured")"
cat "$work/out" >>"$work/find.txt"
check "find a job nobody printed" 1 "$(ctl find 9999)"
check "find: not found anywhere" yes "$(said "job 9999 is not found anywhere")"
if [[ -n ${PELKO_SHOW_STATUS:-} ]]; then cat "$work/status.txt" "$work/status.json" "$work/find.txt"; fi
stop_process "$agent"
agent=

# Frozen servers: check ends within its bound, each line naming the fault
# and the fix. A stopped cupsd takes connections and never answers.
cleanup_more() {
  [[ -n ${CUPS_ENV_PID:-} ]] && kill -CONT "$CUPS_ENV_PID" 2>/dev/null
  [[ -n ${pg_pid:-} ]] && kill -CONT "$pg_pid" 2>/dev/null
  [[ -n ${PG_ENV_DIR:-} ]] && pg_env_stop
}
pg_pid=
if pg_env_available && pg_env_start; then
  pg_env_private_odbc "$work/odbc-pg"
  reg add 'HKLM\Software\Pelko' /v DatabaseConnection /d "$PG_ENV_ODBC" /f
  reg add 'HKLM\Software\Pelko' /v DatabasePassword /d pgsecret /f
  ctl check >/dev/null
  check "the database without tables: said with its fix" yes "$(said "FAULT  the central database answers but cannot tell what it holds")"
  pg_pid=$(head -1 "$PG_ENV_DIR/db/postmaster.pid")
  kill -STOP "$pg_pid"
else
  echo "note: no private PostgreSQL here; the frozen database is not tried"
fi
kill -STOP "$CUPS_ENV_PID"
started=$(date +%s%N)
timeout 15 "$bin/pelkoctl" check >"$work/out" 2>"$work/err"
status=$?
took=$((($(date +%s%N) - started) / 1000000))
echo "note: check with cupsd${pg_pid:+ and PostgreSQL} stopped took $took ms"
check "frozen servers: check ended within 15 s, with a fault" 2 "$status"
check "the spooler's fault and fix" yes "$(said "FAULT  the spooler does not answer (asked about 'Office', 'Lab', 'Mono', 'Ofice'): nothing is accounted while it does not (systemctl restart cups; lpstat -r says whether it answers)")"
check "said once" 1 "$(grep -c 'the spooler does not answer' "$work/out")"
if [[ -n $pg_pid ]]; then
  check "the database's fault and fix" yes "$(said "FAULT  the central database cannot be reached within 4 s: ")"
  check "with what to do" yes "$(said "the jobs wait in the daily logs and are sent when it is back (pelkodb --check; docs/database.md)")"
  kill -CONT "$pg_pid"
fi
kill -CONT "$CUPS_ENV_PID"

[[ $failures -eq 0 ]]
