#!/bin/bash
# database_wine_test.sh MINGW_BIN_DIR NATIVE_BIN_DIR
# Two servers, one database: pelkomon on Linux and Pelkomon.exe under Wine
# (through Wine's ODBC proxy to the host's unixODBC) send their daily logs
# to one private PostgreSQL. The database holds both servers' jobs apart,
# each equal to its own logs, and the site report's totals are the sum of
# both machines' logs. The password of the Windows agent is sealed by
# pelkodb.exe. Wine has no print queues: the Windows agent's logs are
# written beforehand, as its accounting would have left them, half the
# entries with their print details (NULL in the others' rows).
set -u
winbin=$(readlink -f "$1")
bin=$(readlink -f "$2")
here=$(dirname "$(readlink -f "$0")")
source "$here/../wine/wine-env.sh"
source "$here/../lib/check.sh"
source "$here/../../scripts/lib/pg-env.sh"
if ! pg_env_available || [[ ! -x $bin/pelkomon || ! -x $bin/pelkoreport ]]; then
  echo "SKIP: needs root, PostgreSQL with its ODBC driver, and the native build in $bin"
  exit 77
fi
work=$(mktemp -d)
agent=
cleanup() {
  [[ -n $agent ]] && stop_process "$agent"
  wine_cleanup
  pg_env_stop
  rm -rf "$work"
}
trap cleanup EXIT
pg_env_start || { echo "FAIL: PostgreSQL did not start"; exit 1; }
wine_setup || exit 1
cp "$winbin/Pelkomon.exe" "$winbin/pelkodb.exe" "$WINE_TEST_DIR/"

# Linux: 3 printers x 2 days x 40 jobs as srv1.
python3 "$here/../../bench/make_daily_logs.py" "$work/linux/Logs" 3 2 40 >/dev/null
reg() { PELKO_REGISTRY=$work/registry "$bin/pelkoreg" "$@" >/dev/null; }
reg add 'HKLM\Software\Pelko' /v Path /t REG_SZ /d "$work/linux" /f
reg add 'HKLM\Software\Pelko' /v nPrinters /t REG_DWORD /d 0 /f
reg add 'HKLM\Software\Pelko' /v ServerName /t REG_SZ /d srv1 /f
reg add 'HKLM\Software\Pelko' /v DatabaseConnection /t REG_SZ /d "$PG_ENV_ODBC" /f
reg add 'HKLM\Software\Pelko' /v AppIsRunning /t REG_DWORD /d 1 /f
PELKO_REGISTRY=$work/registry "$bin/pelkodb" --set-password <<<pgsecret 2>/dev/null
PELKO_REGISTRY=$work/registry "$bin/pelkomon" >/dev/null 2>&1 &
agent=$!

# Windows: the same printers' names, other days and counts, as srv2.
data=$WINE_TEST_DIR/data
python3 "$here/../../bench/make_daily_logs.py" --details "$data/Logs" 3 3 25 20261102 >/dev/null
wine_settings 'HKLM\Software\Pelko' <<SETTINGS || exit 1
Path                REG_SZ     $(wine_path "$data")
nPrinters           REG_DWORD  0
ServerName          REG_SZ     srv2
DatabaseConnection  REG_SZ     $PG_ENV_ODBC
SETTINGS
(cd "$WINE_TEST_DIR" && timeout 60 "$WINE" pelkodb.exe --set-password <<<pgsecret 2>/dev/null)
check "the Windows password is sealed (REG_BINARY)" 1 \
  "$(wine_reg query 'HKLM\Software\Pelko' /v DatabasePassword | grep -c REG_BINARY)"
wine_reg add 'HKLM\Software\Pelko' /v AppIsRunning /t REG_DWORD /d 1 /f >/dev/null
(cd "$WINE_TEST_DIR" && exec timeout 300 "$WINE" Pelkomon.exe >/dev/null 2>&1) &
winagent=$!

dump() {  # dump SERVER
  pg_psql -At -F $'\x1f' -R $'\x1e' -P null=NULL -c "SELECT printer, log_date, job_id, user_name,
    document, pages, cost, job_date, job_time, copies, color_pages, mono_pages, sides, paper,
    client, color_from FROM pelko_jobs WHERE server_name = '$1'" >"$work/dump.$1" 2>/dev/null
}
in_step() {
  dump srv1 && dump srv2 &&
    python3 "$here/../database/compare_db.py" "$work/linux/Logs" "$work/dump.srv1" quiet &&
    python3 "$here/../database/compare_db.py" "$data/Logs" "$work/dump.srv2" quiet
}
wait_for 120 in_step
python3 "$here/../database/compare_db.py" "$work/linux/Logs" "$work/dump.srv1"
check "srv1's rows are the Linux logs" 0 $?
python3 "$here/../database/compare_db.py" "$data/Logs" "$work/dump.srv2"
check "srv2's rows are the Windows logs, their print details too" 0 $?
check "srv2's details arrived" 117 "$(pg_psql -Atc "SELECT COUNT(copies) FROM pelko_jobs WHERE server_name = 'srv2'")"

totals() { grep -ho '<user>Total</user><cost>[0-9]*' "$1"/*.xml | grep -o '[0-9]*$' | awk '{ s += $1 } END { print s }'; }
site_report() {  # site_report [OPTION...]: the site report as HTML, costs as bare numbers
  "$bin/pelkoreport" --database "$PG_ENV_ODBC" --password-stdin --html --cost-unit "" "$@" <<<pgsecret |
    tr -d '\n' | sed 's/&#8239;//g'
}
site_total() { grep -o 'id="total">[^<]*' | sed 's/.*>//'; }
server_total() {  # server_total NAME: the cost of NAME's row in the report on stdin
  grep -o "<tr><td>$1</td>\(<td class=\"num\">[^<]*</td>\)\{3\}" | sed 's/<\/td>$//; s/.*>//'
}
report=$(site_report)
check "the site total is both machines' logs" "$(($(totals "$work/linux/Logs") + $(totals "$data/Logs")))" \
  "$(site_total <<<"$report")"
check "srv1's total" "$(totals "$work/linux/Logs")" "$(server_total srv1 <<<"$report")"
check "srv2's total" "$(totals "$data/Logs")" "$(server_total srv2 <<<"$report")"
check "the Windows agent still runs" yes "$(kill -0 "$winagent" 2>/dev/null && echo yes)"

# Sendrik.exe, with EmailReportPeriod last-month, mails the site report of
# both servers through Wine's ODBC proxy: its total is the database's for
# that month.
if /usr/bin/python3 -c 'import aiosmtpd' 2>/dev/null && [[ -f $winbin/Sendrik.exe ]]; then
  /usr/bin/python3 "$here/../sendrik/smtp_server.py" --out "$work/mail" --lifetime 200 \
    >"$work/smtp.out" 2>&1 &
  smtp=$!
  wait_for 10 grep -qs ready "$work/smtp.out"
  wine_settings 'HKLM\Software\Pelko' <<SETTINGS || failures=$((failures + 1))
MailServer         REG_SZ     127.0.0.1
MailFrom           REG_SZ     pelko@example.com
MailTo             REG_SZ     boss@example.com
EmailReportPeriod  REG_SZ     last-month
MailSecurity       REG_DWORD  0
MailPort           REG_DWORD  $(awk '/ready/ {print $2}' "$work/smtp.out")
SETTINGS
  cp "$winbin/Sendrik.exe" "$WINE_TEST_DIR/"
  (cd "$WINE_TEST_DIR" && timeout 120 "$WINE" Sendrik.exe >/dev/null 2>&1)
  check "Sendrik.exe mailed the site report" 0 $?
  first=$(date -d "$(date +%Y-%m-01) -1 month" +%Y%m%d)
  last=$(date -d "$(date +%Y-%m-01) -1 day" +%Y%m%d)
  month=$(site_report --from "$first" --to "$last" | site_total)
  check "its total is the site's for last month" 1 \
    "$(grep -c "sent SiteReport_$first-$last.html (site report last-month, .* total $month)" "$data/Logs/Sendrik.log")"
  kill "$smtp" 2>/dev/null
  wait "$smtp" 2>/dev/null
fi
[[ $failures -eq 0 ]]
