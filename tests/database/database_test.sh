#!/bin/bash
# database_test.sh BIN_DIR SCENARIO
# The agent on a private cupsd keeps a private PostgreSQL (through unixODBC
# and the PostgreSQL ODBC driver) in step with its daily logs. Every
# scenario ends with the database row for row equal to the daily logs, no
# row doubled, the logs as accounting made them, and each trouble said
# once in the agent's system log.
#   plain     a day of jobs, hostile titles among them, half of them
#             with their print details (LogJobDetails)
#   stopped   the database stopped while jobs print, started again later
#   killed    the database killed in the middle of a first sync
#   agent     the agent killed in the middle of a first sync, started again
#   password  no password (pelkodb --check says to set one), a wrong one,
#             then the right one
#   silent    a server that accepts the connection and never answers
#   blocked   the table locked by another session while the agent writes
#   frozen    the server process serving the agent stopped (SIGSTOP)
#   driverlog the administrator's Debug=1;CommLog=1, and a data source that
#             asks for the driver's logs
#   mariadb   the same agent against MariaDB, whose ALTER TABLE commits by
#             itself: version 2 with rows upgraded by the agent and pelkodb
#             at once, then jobs with their print details
#   servers   on PostgreSQL and MariaDB: three servers meeting an empty
#             database at once; three servers' syncs (the same
#             printers, days and job ids) each held open before its commit
#             while the next one writes beside it, and again as they change
#             their rows; then two agents, one renamed, then removed, the
#             other's rows untouched throughout
#   sums_pg, sums_maria  on each engine, a database of version 1 with rows
#             of three months (a user told from another by case alone, jobs
#             dated the day before their log) upgraded by the agent and
#             pelkodb at once; a log written, written over (pages, user,
#             colour) and an entry gone from it: the sums a report reads are
#             a GROUP BY over the rows each time, and the report read from
#             them is the report read from the rows, byte for byte
#   upgrade   a database of version 1 with rows, then one of version 2,
#             each upgraded by the agent and pelkodb at once; then a job id
#             given twice in a day's log, one with details corrected later
# Root's umask is often 022: every scenario runs under it, the driver
# keeping its logs in a folder of the test's, and ends with none of them
# readable by other users.
set -u
bin=$(readlink -f "$1")
scenario=$2
here=$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")
source "$here/../../scripts/lib/cups-env.sh"
source "$here/../lib/check.sh"
source "$here/../../scripts/lib/pg-env.sh"
source "$here/../../scripts/lib/maria-env.sh"
if [[ $scenario == mariadb || $scenario == servers || $scenario == sums_maria ]] && ! maria_env_available; then
  echo "SKIP: needs MariaDB and its ODBC driver"
  exit 77
fi
if ! pg_env_available || ! command -v cupsd >/dev/null || ! command -v runuser >/dev/null; then
  echo "SKIP: needs root, cupsd, PostgreSQL and its ODBC driver"
  exit 77
fi
[[ -x $bin/pelkomon && -x $bin/pelkoreg ]] || { echo "no pelkomon in $bin" >&2; exit 2; }

work=$(mktemp -d)
chmod 755 "$work"
umask 022
pg_env_private_odbc "$work/odbc"
driver_logs=$work/odbc/logs
logs=$work/pelko/Logs
agent=
silent=
cleanup() {
  [[ -n $agent ]] && stop_process "$agent"
  [[ -n $silent ]] && kill "$silent" 2>/dev/null && wait "$silent" 2>/dev/null
  cups_env_stop
  pg_env_stop
  maria_env_stop
  rm -rf "$work"
}
trap cleanup EXIT

reg() { PELKO_REGISTRY=$work/registry "$bin/pelkoreg" "$@" >/dev/null; }
source "$here/../../scripts/lib/settings.sh"
set_connection() { reg add 'HKLM\Software\Pelko' /v DatabaseConnection /t REG_SZ /d "$1" /f; }
# As an administrator sets it: through standard input, never an argument.
set_password() { PELKO_REGISTRY=$work/registry "$bin/pelkodb" --set-password <<<"$1" 2>/dev/null; }

# The agent's system log goes to agent.log: it takes a stderr that is the
# stream JOURNAL_STREAM names for the journal.
start_agent() {
  touch "$work/agent.log"
  JOURNAL_STREAM=$(stat -c '%d:%i' "$work/agent.log") PELKO_REGISTRY=$work/registry \
    "$bin/pelkomon" >>"$work/agent.log" 2>>"$work/agent.log" &
  agent=$!
}
said() { grep -c "$1" "$work/agent.log"; }

dump() {
  pg_psql -At -F $'\x1f' -R $'\x1e' -P null=NULL -c "SELECT printer, log_date, job_id, user_name,
    document, pages, cost, job_date, job_time, copies, color_pages, mono_pages, sides, paper,
    client, color_from FROM pelko_jobs WHERE server_name = 'srv1'" >"$work/dump" 2>/dev/null
}
in_step() { dump && python3 "$here/compare_db.py" "$logs" "$work/dump" quiet; }
rows() { pg_psql -Atc "SELECT COUNT(*) FROM pelko_jobs" 2>/dev/null || echo 0; }
# hold_lock SQL: another session runs SQL in a transaction it keeps open
# until release_lock; its input is fd 7, which no process started later
# may keep (7>&-).
lock_client() { pg_psql -At; }
hold_lock() {
  rm -f "$work/lock.in" "$work/lock.out"
  mkfifo "$work/lock.in"
  lock_client <"$work/lock.in" >"$work/lock.out" 2>&1 &
  locker=$!
  exec 7>"$work/lock.in"
  echo "BEGIN; $1; SELECT 'locked';" >&7
  wait_for 20 grep -q locked "$work/lock.out" || fail "the lock was not taken"
}
release_lock() {
  echo "COMMIT;" >&7
  exec 7>&-
  wait "$locker"
}
lock_waiters() {  # lock_waiters N: N sessions at least wait on a lock
  [[ $(pg_psql -Atc "SELECT COUNT(*) FROM pg_stat_activity WHERE wait_event_type = 'Lock'") -ge $1 ]]
}
# On MariaDB, where an upgrader waits on the upgrade's lock of its session
# or on the version's row.
maria_lock_waiters() {
  [[ $(maria_sql -Ne "SELECT (SELECT COUNT(*) FROM information_schema.innodb_trx WHERE trx_state =
    'LOCK WAIT') + (SELECT COUNT(*) FROM information_schema.processlist WHERE state = 'User lock')") -ge $1 ]]
}
# both_upgrade: the agent (started anew) and pelkodb --check find the old
# tables at once, another session holding the version's row until both
# wait; pelkodb's status in ended, its output in check.out.
both_upgrade() {
  local checker
  hold_lock "UPDATE pelko_schema_version SET version = version"
  start_agent 7>&-
  PELKO_REGISTRY=$work/registry "$bin/pelkodb" --check >"$work/check.out" 2>"$work/check.err" 7>&- &
  checker=$!
  wait_for 20 lock_waiters 2 || fail "the agent and pelkodb did not both wait for the version"
  release_lock
  wait_end "$checker" 60
  check "pelkodb --check succeeded" 0 "$ended"
  [[ $ended == 0 ]] || cat "$work/check.err"
}

submit() {  # submit PAGES TITLE: prints as the test's user; the job id
  runuser -u "$user" -- env CUPS_SERVER="$CUPS_SERVER" lp -d Front -t "$2" \
    "$(cups_env_document_once "$1")" 2>/dev/null | sed -n 's/^request id is [^ ]*-\([0-9]*\) .*/\1/p'
}
cups_env_document_once() {
  local file=$work/doc$1.ps
  [[ -f $file ]] || cups_env_document "$file" "$1"
  echo "$file"
}
queue_empty() { [[ -z $(lpstat -o Front 2>/dev/null) ]]; }
has_entries() { (($(entries) >= wanted)); }
entries() { grep -o '<entry> <date>' "$logs"/Front_*.xml 2>/dev/null | wc -l; }

user=pk$$db
useradd -M -N -s /usr/sbin/nologin "$user" || exit 1
trap 'cleanup; userdel "$user" 2>/dev/null' EXIT

pg_env_start || { echo "FAIL: PostgreSQL did not start"; exit 1; }
printf '[pelkotest]\nDriver=PostgreSQL Unicode\nServername=127.0.0.1\nPort=%s\nDatabase=postgres\nDebug=1\nCommLog=1\n' \
  "$PG_ENV_PORT" >"$work/odbc/odbc.ini"
cups_env_start || exit 1
chmod 755 "$CUPS_ENV_DIR"
cups_env_add_queue Front 0.05 2>/dev/null || exit 1
mkdir -p "$logs"
watch_printers "$work/pelko" Front=5 || exit 1
reg add 'HKLM\Software\Pelko' /v ServerName /t REG_SZ /d srv1 /f
set_connection "$PG_ENV_ODBC"
set_password pgsecret

# print_day COUNT: COUNT jobs of 1 to 4 pages, hostile titles among them;
# waits until every one has its entry.
print_day() {
  local titles=("plain report" "O'Brien's \"quote\"; semi;colon" "x'); DROP TABLE pelko_jobs; --"
                $'tab\there\x01bell\x07' "Ärger über Öl, 東京, ŝ€" "100% \\ back\\slash")
  local k before
  before=$(entries)
  for k in $(seq 1 "$1"); do
    submit $((k % 4 + 1)) "${titles[k % ${#titles[@]}]} #$k" >/dev/null
  done
  wait_for 120 queue_empty || echo "FAIL: the queue did not empty"
  wanted=$((before + $1))
  wait_for 60 has_entries || echo "FAIL: not every job has its entry"
}

# A log written by hand (upgrade, mariadb): the spooler numbered from 1
# again, job 5 twice in today's log, the newest entry first, as the agent
# writes them; the second with its print details.
day=$(date +%Y%m%d)
slash=$(date +%Y/%m/%d)
entry() {  # entry TIME USER DOC PAGES COST [DETAILS]
  printf '<entry> <date>%s</date><time>%s</time> <id>5</id><user>%s</user> <printer>Back</printer><doc>%s</doc> <pages>%s</pages> <cost>%s</cost>%s</entry>' \
    "$slash" "$1" "$2" "$3" "$4" "$5" "${6:-}"
}
details() {  # details COLOUR_PAGES
  printf ' <copies>2</copies><colorpages>%s</colorpages><monopages>%s</monopages> <sides>two-sided-long-edge</sides><paper>A4</paper><client></client><colorfrom>document</colorfrom>' \
    "$1" $((4 - $1))
}
back_log() {  # back_log COLOUR_PAGES: written anew, as the agent replaces a log
  (umask 027; set -o noclobber
   printf "%s%s%s%s" "<?xml version='1.0' encoding='ISO-8859-1' ?> <?xml-stylesheet href='Tavisk.xsl' type='text/xsl' ?><log> <type>Back</type> <date>$slash</date>" \
     "$(entry 11:00:00 eve 'second job 5' 2 10 "$(details "$1")")" "$(entry 09:00:00 paul 'first job 5' 1 5)" \
     "<entry><user>Total</user><cost>15</cost></entry></log>" >"$logs/Back_$day.xml.new") &&
    mv "$logs/Back_$day.xml.new" "$logs/Back_$day.xml"
}
colour_pages() {
  count_sql "SELECT color_pages FROM pelko_jobs WHERE server_name = 'srv1' AND job_time = '11:00:00'"
}
count_sql() { pg_psql -Atc "$1"; }

case $scenario in
  plain)
    start_agent
    print_day 12
    wait_for 90 in_step
    check "with LogJobDetails 0 the logs hold no details, the database all" "0 12" \
      "$(cat "$logs"/Front_*.xml | grep -c '<copies>') $(pg_psql -Atc "SELECT COUNT(*) FROM pelko_jobs WHERE copies IS NOT NULL")"
    reg add 'HKLM\Software\Pelko' /v LogJobDetails /t REG_DWORD /d 1 /f
    print_day 12
    # An entry made before may gain details too, on a later pass.
    check "the jobs printed with LogJobDetails have details" yes \
      "$( (($(grep -o '<copies>' "$logs"/Front_*.xml | wc -l) >= 12)) && echo yes)"
    # A document's measure may change its entry long after it printed on a
    # busy machine: the rows follow the entries.
    wait_for 90 in_step
    python3 "$here/compare_db.py" "$logs" "$work/dump"
    check "the database holds the logs row for row, NULL for no details" 0 $?
    check "the pelko_jobs table survived the titles" 24 "$(rows)"
    check "no trouble was said" 0 "$(said 'database')"
    check "pelkodb finds the tables" "PostgreSQL: tables of version 5, 24 jobs" \
      "$(PELKO_REGISTRY=$work/registry "$bin/pelkodb" --check)"
    # The site report's total is the sum of the logs' Totals.
    logs_total=$(grep -ho '<user>Total</user><cost>[0-9]*' "$logs"/*.xml | grep -o '[0-9]*$' |
      awk '{ s += $1 } END { print s }')
    site_total=$("$bin/pelkoreport" --database "$PG_ENV_ODBC" --password-stdin --html --cost-unit "" \
      <<<pgsecret | grep -o 'id="total">[^<]*' | sed 's/.*>//; s/&#8239;//g')
    "$bin/pelkoreport" --database 2>/dev/null
    check "pelkoreport --database without a connection is refused" 2 $?
    "$bin/pelkoreport" --database "$PG_ENV_ODBC" --text --from 2026 2>/dev/null
    check "a bad date is refused" 2 $?
    "$bin/pelkoreport" --database "Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=1;" --csv \
      2>/dev/null
    check "a database out of reach fails the report" 1 $?
    check "the database report's total is the logs'" "$logs_total" "$site_total"
    # Debian's odbcinst.ini has the driver's CommLog on: what it writes at a
    # disconnect, and nothing else.
    check "no driver debug log" "" "$(ls "$driver_logs" | grep mylog_)"
    check "the driver logged no statement" "" "$(cat "$driver_logs"/psqlodbc_* 2>/dev/null | grep -v '^PQfinish: ')"
    ;;
  driverlog)
    checked_pelkodb() {  # checked_pelkodb WHAT: pelkodb --check, its pid in $pelkodb
      PELKO_REGISTRY=$work/registry "$bin/pelkodb" --check >/dev/null &
      pelkodb=$!
      wait "$pelkodb"
      check "pelkodb --check $1" 0 $?
    }
    # The administrator's attributes are kept: the driver logs, the password
    # with it, into files no other user may read.
    set_connection "${PG_ENV_ODBC}Debug=1;CommLog=1;"
    start_agent
    print_day 2
    wait_for 20 in_step || echo "FAIL: not in step with the driver's logs on"
    checked_pelkodb "with the driver's logs on"
    "$bin/pelkoreport" --database "${PG_ENV_ODBC}CommLog=1;" --password-stdin --text <<<pgsecret >/dev/null
    check "pelkoreport --database with the driver's logs on" 0 $?
    # psqlODBC names a log by the program where it can tell it, not always.
    check "the driver logged as asked" yes \
      "$(find "$driver_logs" -name "mylog_*root$pelkodb.log" -size +0 | grep -q . && echo yes)"
    check "the password is in its logs" yes "$(grep -qr pgsecret "$driver_logs" && echo yes)"
    # A data source asking for the logs is not the administrator's word in
    # DatabaseConnection: the programs ask them off.
    set_connection "DSN=pelkotest;Uid=pg;"
    checked_pelkodb "through the data source"
    check "no driver debug log through the data source" no \
      "$(find "$driver_logs" -name "mylog_*root$pelkodb.log" | grep -q . && echo yes || echo no)"
    check "no statement logged through the data source" "" \
      "$(find "$driver_logs" -name "psqlodbc_*root$pelkodb.log" -exec cat {} + | grep -v '^PQfinish: ')"
    ;;
  stopped)
    start_agent
    print_day 4
    wait_for 20 in_step || echo "FAIL: not in step before the stop"
    pg_env_halt
    print_day 8
    sleep 3  # the agent meets the stopped database more than once
    pg_env_resume
    wait_for 90 in_step
    python3 "$here/compare_db.py" "$logs" "$work/dump"
    check "every job reached the database once it was back" 0 $?
    check "the database away said once" 1 "$(said 'out of reach')"
    check "its return said once" 1 "$(said 'reachable again')"
    ;;
  killed | agent)
    # A first sync of 20 000 rows takes some seconds: long enough to be cut.
    python3 "$here/../../bench/make_daily_logs.py" "$logs" 20 5 200 >/dev/null
    start_agent
    wait_for 60 eval '(( $(rows) > 2000 ))' || echo "FAIL: the first sync did not start"
    if [[ $scenario == killed ]]; then
      pg_env_kill
      print_day 3
      pg_env_resume
    else
      kill -KILL "$agent"
      wait "$agent" 2>/dev/null
      start_agent
      print_day 3
    fi
    before=$(rows)
    check "the sync was cut in its middle" yes "$( ((before < 20003)) && echo yes)"
    wait_for 120 in_step
    python3 "$here/compare_db.py" "$logs" "$work/dump"
    check "every row sent once after the cut" 0 $?
    if [[ $scenario == killed ]]; then
      check "the database away said once" 1 "$(said 'out of reach')"
    fi
    ;;
  password)
    # No password kept: the driver's words and what to do about them.
    reg delete 'HKLM\Software\Pelko' /v DatabasePassword /f
    PELKO_REGISTRY=$work/registry "$bin/pelkodb" --check >/dev/null 2>"$work/check.err"
    check "pelkodb --check without a password fails" 1 $?
    check "and says to set one" yes \
      "$(grep -q 'no DatabasePassword is set: give it with pelkodb --set-password' "$work/check.err" && echo yes)"
    set_password wrong
    start_agent
    print_day 3
    sleep 12  # two tries at least, after 5 and 10 s
    check "no row arrived with a wrong password" 0 "$(rows)"
    check "the wrong password said once" 1 "$(said 'out of reach.*password authentication failed')"
    set_password pgsecret
    wait_for 90 in_step
    python3 "$here/compare_db.py" "$logs" "$work/dump"
    check "every job arrived with the right password" 0 $?
    ;;
  silent)
    port=$(pg_env_free_port)
    python3 -c '
import socket, sys, time
s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("127.0.0.1", int(sys.argv[1]))); s.listen(16); held = []
while True: held.append(s.accept())' "$port" &
    silent=$!
    set_connection "Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=$port;Database=postgres;Uid=pg;"
    start_agent
    print_day 4
    check "printing accounted while the database never answers" 4 "$(entries)"
    wait_for 40 eval '(( $(said "out of reach") >= 1 ))' || echo "FAIL: the silence was not said"
    sleep 12
    check "the silent database said once" 1 "$(said 'out of reach')"
    set_connection "$PG_ENV_ODBC"
    wait_for 90 in_step
    python3 "$here/compare_db.py" "$logs" "$work/dump"
    check "every job arrived once a database answered" 0 $?
    ;;
  blocked)
    start_agent
    print_day 4
    wait_for 20 in_step || echo "FAIL: not in step before the lock"
    # Another session takes the table: the agent's next write waits on the
    # lock, in the middle of its transaction, with no answer coming.
    hold_lock "LOCK TABLE pelko_jobs IN EXCLUSIVE MODE"
    print_day 6
    check "printing accounted while the database holds the agent" 10 "$(entries)"
    wait_for 20 lock_waiters 1 || echo "FAIL: the agent's write did not wait on the lock"
    # Bounded: the statement gives up and the trouble is said, the lock
    # still held.
    wait_for 40 eval '(( $(said "out of reach") >= 1 ))'
    check "the blocked statement ended within its bound" 1 "$(said 'out of reach')"
    # The agent tries again, and waits again.
    wait_for 40 lock_waiters 1 || echo "FAIL: the agent did not try again"
    check "the blocked database said once" 1 "$(said 'out of reach')"
    check "nothing arrived while blocked" 4 "$(rows)"
    release_lock
    wait_for 90 in_step
    python3 "$here/compare_db.py" "$logs" "$work/dump"
    check "every job arrived once, once the lock went" 0 $?
    check "the database's return said once" 1 "$(said 'reachable again')"
    ;;
  frozen)
    start_agent
    print_day 4
    wait_for 20 in_step || echo "FAIL: not in step before the freeze"
    # The server process that serves the agent stops dead (SIGSTOP): the
    # connection stays open, nothing answers, not even a cancel request.
    backend=$(pg_psql -Atc "SELECT pid FROM pg_stat_activity WHERE backend_type = 'client backend'
      AND pid <> pg_backend_pid() AND application_name <> 'psql'")
    [[ -n $backend ]] || echo "FAIL: the agent's server process not found"
    kill -STOP "$backend"
    print_day 6
    check "printing accounted while the database is frozen" 10 "$(entries)"
    wait_for 60 eval '(( $(said "out of reach") >= 1 ))'
    check "the frozen statement ended within its bound" 1 "$(said 'out of reach')"
    kill -CONT "$backend"
    wait_for 90 in_step
    python3 "$here/compare_db.py" "$logs" "$work/dump"
    check "every job arrived once, once it answered again" 0 $?
    check "the frozen database said once" 1 "$(said 'out of reach')"
    check "its return said once" 1 "$(said 'reachable again')"
    ;;
  upgrade)
    # Tables of an earlier version, as its agents made them, with other
    # servers' rows: old_tables VERSION KEY.
    old_rows=20000
    old_tables() {
      pg_psql <<SQL || fail "the tables of version $1 were not made"
DROP TABLE IF EXISTS pelko_jobs, pelko_log_state, pelko_sync_state, pelko_job_sums, pelko_schema_version;
CREATE TABLE pelko_jobs (
  server_name VARCHAR(64) NOT NULL, printer VARCHAR(255) NOT NULL, log_date CHAR(8) NOT NULL,
  job_id INTEGER NOT NULL, user_name VARCHAR(255) NOT NULL, document VARCHAR(1000) NOT NULL,
  pages INTEGER NOT NULL, cost INTEGER NOT NULL, job_date VARCHAR(10) NOT NULL,
  job_time VARCHAR(8) NOT NULL, PRIMARY KEY ($2));
CREATE INDEX pelko_jobs_by_date ON pelko_jobs (log_date)
  INCLUDE (server_name, printer, user_name, pages, cost);
CREATE INDEX pelko_jobs_by_user ON pelko_jobs (user_name, log_date);
CREATE TABLE pelko_log_state (
  server_name VARCHAR(64) NOT NULL, log_file VARCHAR(400) NOT NULL,
  size_bytes BIGINT NOT NULL, written BIGINT NOT NULL, PRIMARY KEY (server_name, log_file));
CREATE TABLE pelko_schema_version (version INTEGER NOT NULL);
INSERT INTO pelko_schema_version (version) VALUES ($1);
INSERT INTO pelko_jobs SELECT 'old' || (g % 2), 'P' || (g / 2 % 10), '202611' || lpad((g / 20 % 30 + 1)::text, 2, '0'),
  g / 600, 'user' || (g % 37), 'doc ' || g || ' Ärger', g % 7 + 1, g % 7 * 5 + 5,
  '2026/11/01', '09:00:00' FROM generate_series(0, $old_rows - 1) g;
SQL
    }
    fingerprint() {
      pg_psql -Atc "SELECT COUNT(*), md5(string_agg(concat_ws('|', server_name, printer, log_date,
        job_id, user_name, document, pages, cost, job_date, job_time), ',' ORDER BY server_name,
        printer, log_date, job_id)) FROM pelko_jobs WHERE server_name <> 'srv1'"
    }
    version() { pg_psql -Atc "SELECT MAX(version) FROM pelko_schema_version"; }
    # upgrade_from VERSION: the agent (started anew) and pelkodb find the
    # tables of VERSION at once; another session holds the version row
    # until both wait on it.
    upgrade_from() {
      local before started checker upgraders
      before=$(fingerprint)
      check "version $1 holds its rows" "$old_rows" "${before%%|*}"
      hold_lock "UPDATE pelko_schema_version SET version = version"
      start_agent 7>&-
      PELKO_REGISTRY=$work/registry "$bin/pelkodb" --check >"$work/check.out" 2>"$work/check.err" 7>&- &
      checker=$!
      wait_for 20 lock_waiters 2 || fail "the agent and pelkodb did not both wait for the version"
      started=$(date +%s%N)
      release_lock
      wait_end "$checker" 30
      check "pelkodb --check succeeded on version $1" 0 "$ended"
      check "pelkodb reports version 5 and every row" "PostgreSQL: tables of version 5, $old_rows jobs" \
        "$(cat "$work/check.out")"
      wait_for 30 eval '[[ $(version) == 5 ]]'
      echo "upgrade of $old_rows rows from version $1 done within $(( ($(date +%s%N) - started) / 1000000 )) ms"
      check "version $1 became 5" 5 "$(version)"
      upgraders() {
        echo $(( $(said "upgraded from version $1 to 5") + $(grep -c 'upgraded from' "$work/check.err") ))
      }
      wait_for 10 eval '(( $(upgraders '"$1"') > 0 ))'
      check "one of the two upgraded version $1, the other found it done" 1 "$(upgraders "$1")"
      check "every row of version $1 kept once, as it was" "$before" "$(fingerprint)"
      check "their details are NULL" "$old_rows" \
        "$(pg_psql -Atc "SELECT COUNT(*) FROM pelko_jobs WHERE COALESCE(copies, color_pages, mono_pages)
          IS NULL AND COALESCE(sides, paper, client, color_from) IS NULL")"
      check "no holding table left" 0 "$(pg_psql -Atc "SELECT COUNT(*) FROM pg_tables WHERE tablename = 'pelko_jobs_v1'")"
    }
    old_tables 1 "server_name, printer, log_date, job_id"
    upgrade_from 1
    stop_process "$agent"
    old_tables 2 "server_name, printer, log_date, job_id, job_date, job_time"
    upgrade_from 2
    back_log 1
    wait_for 30 in_step
    python3 "$here/compare_db.py" "$logs" "$work/dump"
    check "both jobs 5 reached the database, the details in their columns" 0 $?
    check "as two rows" 2 "$(pg_psql -Atc "SELECT COUNT(*) FROM pelko_jobs WHERE server_name = 'srv1' AND job_id = 5")"
    check "the entry without details is NULL, not 0" "NULL" \
      "$(pg_psql -At -P null=NULL -c "SELECT copies FROM pelko_jobs WHERE server_name = 'srv1' AND job_time = '09:00:00'")"
    # The document measured later: a colour page more, no page more.
    back_log 3
    wait_for 30 eval '[[ $(colour_pages) == 3 ]]'
    check "the corrected colour pages reached their row" 3 "$(colour_pages)"
    wait_for 30 in_step
    python3 "$here/compare_db.py" "$logs" "$work/dump"
    check "the logs row for row after the correction" 0 $?
    check "no trouble was said" 0 "$(said 'out of reach')"
    ;;
  mariadb)
    maria_env_start || { echo "FAIL: MariaDB did not start"; exit 1; }
    lock_client() { maria_sql -N --unbuffered; }
    lock_waiters() { maria_lock_waiters "$@"; }
    dump() {
      maria_sql -N -B -e "SELECT printer, log_date, job_id, user_name, document, pages, cost,
        job_date, job_time, copies, color_pages, mono_pages, sides, paper, client, color_from
        FROM pelko_jobs WHERE server_name = 'srv1'" 2>/dev/null |
        python3 -c 'import sys; sys.stdout.write("\x1e".join(l.rstrip("\n").replace("\t", "\x1f") for l in sys.stdin))' >"$work/dump"
    }
    old_rows() {
      maria_sql -N -B -e "SELECT server_name, printer, log_date, job_id, user_name, document, pages,
        cost, job_date, job_time FROM pelko_jobs WHERE server_name <> 'srv1'
        ORDER BY server_name, printer, log_date, job_id" | md5sum
    }
    # Version 2's tables as an administrator makes them on MariaDB, whose
    # indexes take no INCLUDE.
    maria_sql <<'SQL' || fail "the tables of version 2 were not made"
CREATE TABLE pelko_jobs (
  server_name VARCHAR(64) NOT NULL, printer VARCHAR(255) NOT NULL, log_date CHAR(8) NOT NULL,
  job_id INTEGER NOT NULL, user_name VARCHAR(255) NOT NULL, document VARCHAR(1000) NOT NULL,
  pages INTEGER NOT NULL, cost INTEGER NOT NULL, job_date VARCHAR(10) NOT NULL,
  job_time VARCHAR(8) NOT NULL, PRIMARY KEY (server_name, printer, log_date, job_id, job_date, job_time));
CREATE INDEX pelko_jobs_by_date ON pelko_jobs (log_date, server_name, printer, user_name, pages, cost);
CREATE INDEX pelko_jobs_by_user ON pelko_jobs (user_name, log_date);
CREATE TABLE pelko_log_state (
  server_name VARCHAR(64) NOT NULL, log_file VARCHAR(400) NOT NULL,
  size_bytes BIGINT NOT NULL, written BIGINT NOT NULL, PRIMARY KEY (server_name, log_file));
CREATE TABLE pelko_schema_version (version INTEGER NOT NULL);
INSERT INTO pelko_schema_version (version) VALUES (2);
INSERT INTO pelko_jobs SELECT CONCAT('old', seq % 2), CONCAT('P', seq DIV 2 % 10),
  CONCAT('202611', LPAD(seq DIV 20 % 30 + 1, 2, '0')), seq DIV 600, CONCAT('user', seq % 37),
  CONCAT('doc ', seq, ' Ärger'), seq % 7 + 1, seq % 7 * 5 + 5, '2026/11/01', '09:00:00'
  FROM seq_0_to_19999;
SQL
    before=$(old_rows)
    set_connection "$MARIA_ENV_ODBC"
    # ALTER TABLE commits there, letting the version row go: the other
    # waits on the upgrade's lock of the session instead.
    both_upgrade
    check "pelkodb reports version 5 and every row" "MariaDB: tables of version 5, 20000 jobs" \
      "$(cat "$work/check.out")"
    version() { maria_sql -Ne "SELECT MAX(version) FROM pelko_schema_version"; }
    wait_for 30 eval '[[ $(version) == 5 ]]'
    check "the version is 5" 5 "$(version)"
    check "one version row" 1 "$(maria_sql -Ne "SELECT COUNT(*) FROM pelko_schema_version")"
    check "every row kept once, as it was" "$before" "$(old_rows)"
    check "their details are NULL" 20000 "$(maria_sql -Ne "SELECT COUNT(*) FROM pelko_jobs
      WHERE COALESCE(copies, color_pages, mono_pages, sides, paper, client, color_from) IS NULL")"
    reg add 'HKLM\Software\Pelko' /v LogJobDetails /t REG_DWORD /d 1 /f
    print_day 4
    wait_for 30 in_step
    python3 "$here/compare_db.py" "$logs" "$work/dump"
    check "the jobs reached MariaDB with their print details" 0 $?
    # A log rewritten whole, an entry changed in place after its sync: the
    # row is written over, not doubled.
    count_sql() { maria_sql -Ne "$1"; }
    back_log 1
    wait_for 30 in_step
    back_log 3
    wait_for 30 eval '[[ $(colour_pages) == 3 ]]'
    check "the corrected colour pages reached their MariaDB row" 3 "$(colour_pages)"
    wait_for 30 in_step
    python3 "$here/compare_db.py" "$logs" "$work/dump"
    check "MariaDB holds the logs row for row after the correction" 0 $?
    check "no trouble was said" 0 "$(said 'out of reach')"
    ;;
  servers)
    [[ -x $bin/servers_bench ]] || { echo "SKIP: needs servers_bench (PELKO_BUILD_BENCH)"; exit 77; }
    maria_env_start || { echo "FAIL: MariaDB did not start"; exit 1; }
    pg_q() { pg_psql -At -F ' ' -c "$1"; }
    maria_q() { maria_sql -N -e "$1" | tr '\t' ' '; }
    # The first start of a site: three servers find no tables at once,
    # another session holding the lock of their making until all three
    # wait on it. None makes them meanwhile; let go, one makes them and the
    # others find them made, none failing ("already exists").
    for db in pg maria; do
      connection=$([[ $db == pg ]] && echo "$PG_ENV_ODBC" || echo "$MARIA_ENV_ODBC")
      if [[ $db == pg ]]; then
        lock_client() { pg_psql -At; }
        hold_lock "SELECT pg_advisory_xact_lock(345298987887)"
      else
        lock_client() { maria_sql -N --unbuffered; }
        hold_lock "SELECT GET_LOCK('pelko_schema_upgrade', 60)"
      fi
      firsts=()
      for n in 1 2 3; do
        PELKO_BENCH_PASSWORD=pgsecret "$bin/servers_bench" "first_$db$n" "$connection" 8 1 \
          >"$work/first_$db$n.out" 2>"$work/first_$db$n.err" 7>&- &
        firsts+=($!)
      done
      waiters=$([[ $db == pg ]] && echo lock_waiters || echo maria_lock_waiters)
      wait_for 20 "$waiters" 3 || fail "$db: the three servers did not all wait to make the tables"
      check "$db: no table made while the making is held" 0 \
        "$(${db}_q "SELECT COUNT(*) FROM information_schema.tables WHERE table_name LIKE 'pelko%'")"
      release_lock
      for n in 1 2 3; do
        wait_end "${firsts[n - 1]}" 60
        check "$db: first server $n connected at once and sent its jobs" "0 " \
          "$ended $(cat "$work/first_$db$n.err")"
      done
      check "$db: each first server holds its 8 rows" "3 8" \
        "$(${db}_q "SELECT COUNT(*), MIN(n) FROM (SELECT COUNT(*) AS n FROM pelko_jobs
          WHERE server_name LIKE 'first_%' GROUP BY server_name HAVING COUNT(*) = 8) AS s")"
    done
    lock_client() { pg_psql -At; }
    # held N NAME CONNECTION: a server's sync of 40 jobs of one printer, held before each
    # commit until a line comes on fd 7 + N, which nothing started later keeps.
    held() {
      mkfifo "$work/$2.in"
      PELKO_BENCH_PASSWORD=pgsecret "$bin/servers_bench" "$2" "$3" 40 1 --hold <"$work/$2.in" \
        >"$work/$2.out" 2>"$work/$2.err" 8>&- 9>&- 10>&- &
      eval "held_$1=\$!"
      eval "exec $((7 + $1))>\"\$work/\$2.in\""
    }
    holds() { grep -q "^held $2\$" "$work/$1.out"; }
    for db in pg maria; do
      connection=$([[ $db == pg ]] && echo "$PG_ENV_ODBC" || echo "$MARIA_ENV_ODBC")
      # b's rows fall between a's and c's, all under the same printers,
      # day, ids and times: a lock beyond a server's own rows holds the
      # next server up until its statement gives up (10 s), which it says.
      for n in 1 3 2; do
        held "$n" "$db$n" "$connection"
        wait_for 30 holds "$db$n" 1 || fail "$db: server $n did not write beside the held ones"
      done
      for n in 2 1 3; do  # each changes its rows while the others hold theirs
        echo >&$((7 + n))
        wait_for 30 holds "$db$n" 2 || fail "$db: server $n did not change its rows beside the held ones"
      done
      for n in 1 2 3; do
        echo >&$((7 + n))
        eval "wait_end \$held_$n 30"
        eval "exec $((7 + n))>&-"
        check "$db: server $n's sync ended well" 0 "$ended"
        check "$db: server $n's statements never waited until they gave up" "" "$(cat "$work/$db$n.err")"
      done
      check "$db: each server holds its 80 rows, the first 40 changed once" \
        "${db}1 40 40 ${db}2 40 40 ${db}3 40 40" \
        "$(${db}_q "SELECT server_name, SUM(CASE WHEN pages = 2 THEN 1 ELSE 0 END),
          SUM(CASE WHEN pages = 1 THEN 1 ELSE 0 END) FROM pelko_jobs WHERE server_name LIKE '$db%'
          GROUP BY server_name ORDER BY server_name" | tr '\n' ' ' | sed 's/ $//')"
      check "$db: no row holds another server's job" 0 \
        "$(${db}_q "SELECT COUNT(*) FROM pelko_jobs WHERE document NOT LIKE CONCAT(server_name, ': %')")"
    done

    # Two agents, srv1 and south, with the same log; srv1 renamed east,
    # then removed. south's rows and sent state stay as they were.
    south=$work/south
    mkdir -p "$south/Logs"
    reg2() { PELKO_REGISTRY=$work/registry2 "$bin/pelkoreg" add 'HKLM\Software\Pelko' /v "$1" /t "$2" /d "$3" /f >/dev/null; }
    reg2 Path REG_SZ "$south"; reg2 ServerName REG_SZ south; reg2 DatabasePassword REG_SZ pgsecret
    reg2 nPrinters REG_DWORD 0; reg2 AppIsRunning REG_DWORD 1
    for db in pg maria; do
      connection=$([[ $db == pg ]] && echo "$PG_ENV_ODBC" || echo "$MARIA_ENV_ODBC")
      set_connection "$connection"
      reg2 DatabaseConnection REG_SZ "$connection"
      reg add 'HKLM\Software\Pelko' /v ServerName /t REG_SZ /d srv1 /f
      back_log 1
      cp "$logs/Back_$day.xml" "$south/Logs/"
      start_agent
      PELKO_REGISTRY=$work/registry2 "$bin/pelkomon" >/dev/null 2>&1 &
      south_agent=$!
      rows_of() { ${db}_q "SELECT COUNT(*) FROM pelko_jobs WHERE server_name = '$1'"; }
      wait_for 30 eval '[[ $(rows_of srv1)$(rows_of south) == 22 ]]' || fail "$db: the two servers did not sync"
      south_rows() {
        ${db}_q "SELECT j.printer, j.log_date, job_id, job_date, job_time, user_name, document, pages,
          cost, color_pages, s.log_file, s.size_bytes, s.written FROM pelko_jobs j, pelko_sync_state s
          WHERE j.server_name = 'south' AND s.server_name = 'south' ORDER BY job_time, s.log_file" | md5sum
      }
      before=$(south_rows)
      reg add 'HKLM\Software\Pelko' /v ServerName /t REG_SZ /d east /f
      wait_for 30 eval '[[ $(rows_of east) == 2 ]]'
      check "$db: the renamed server sends its logs under its new name" 2 "$(rows_of east)"
      check "$db: the old name's rows stay" 2 "$(rows_of srv1)"
      check "$db: the other server's rows and state untouched by the rename" "$before" "$(south_rows)"
      stop_process "$agent"
      rm "$logs/Back_$day.xml"
      back_log 3  # south goes on: a page measured in colour later
      mv "$logs/Back_$day.xml" "$south/Logs/"
      south_colour() { ${db}_q "SELECT color_pages FROM pelko_jobs WHERE server_name = 'south' AND job_time = '11:00:00'"; }
      wait_for 30 eval '[[ $(south_colour) == 3 ]]' || fail "$db: south did not go on"
      check "$db: the removed server's rows stay as they were" "east 1 srv1 1" \
        "$(${db}_q "SELECT server_name, color_pages FROM pelko_jobs WHERE server_name IN ('east', 'srv1')
          AND job_time = '11:00:00' ORDER BY server_name" | tr '\n' ' ' | sed 's/ $//')"
      stop_process "$south_agent"
    done
    start_agent  # for the check below
    ;;
  sums_pg|sums_maria)
    # v1_sql ROWS: version 1's tables with ROWS rows of two old servers from
    # 2025-10-01 on, 20 a day; every 50th job dated the day before its log.
    if [[ $scenario == sums_maria ]]; then
      maria_env_start || { echo "FAIL: MariaDB did not start"; exit 1; }
      lock_client() { maria_sql -N --unbuffered; }
      lock_waiters() { maria_lock_waiters "$@"; }
      db_sql() { maria_sql -N -B -e "$1" | tr '\t' '|'; }
      db_script() { maria_sql; }
      connection=$MARIA_ENV_ODBC engine=MariaDB g="CAST(seq AS SIGNED)" bin_=BINARY
      day_of() { echo "DATE_ADD('2025-10-01', INTERVAL $1 DAY)"; }
      text_of() { echo "DATE_FORMAT($1, '$2')"; }
      rows_of="FROM seq_0_to_$((20000 - 1))"
      on_jobs=" ON pelko_jobs" carried=", server_name, printer, user_name, pages, cost)"
      indexes="SELECT DISTINCT index_name FROM information_schema.statistics
        WHERE table_schema = DATABASE() AND table_name = 'pelko_jobs' ORDER BY 1"
    else
      db_sql() { pg_psql -At -F'|' -c "$1"; }
      db_script() { pg_psql; }
      connection=$PG_ENV_ODBC engine=PostgreSQL g=g bin_=
      day_of() { echo "(DATE '2025-10-01' + $1)"; }
      text_of() { echo "to_char($1, '$(sed 's/%Y/YYYY/; s/%m/MM/; s/%d/DD/' <<<"$2")')"; }
      rows_of="FROM generate_series(0, 20000 - 1) g"
      on_jobs= carried=") INCLUDE (server_name, printer, user_name, pages, cost)"
      indexes="SELECT indexname FROM pg_indexes WHERE tablename = 'pelko_jobs' ORDER BY 1"
    fi
    day_n="$g DIV 20 % 92"; [[ -z $bin_ ]] && day_n="$g / 20 % 92"
    db_script <<SQL || fail "the tables of version 1 were not made"
CREATE TABLE pelko_jobs (
  server_name VARCHAR(64) NOT NULL, printer VARCHAR(255) NOT NULL, log_date CHAR(8) NOT NULL,
  job_id INTEGER NOT NULL, user_name VARCHAR(255) NOT NULL, document VARCHAR(1000) NOT NULL,
  pages INTEGER NOT NULL, cost INTEGER NOT NULL, job_date VARCHAR(10) NOT NULL,
  job_time VARCHAR(8) NOT NULL, PRIMARY KEY (server_name, printer, log_date, job_id));
CREATE TABLE pelko_log_state (
  server_name VARCHAR(64) NOT NULL, log_file VARCHAR(400) NOT NULL,
  size_bytes BIGINT NOT NULL, written BIGINT NOT NULL, PRIMARY KEY (server_name, log_file));
CREATE TABLE pelko_schema_version (version INTEGER NOT NULL);
INSERT INTO pelko_schema_version (version) VALUES (1);
INSERT INTO pelko_jobs SELECT CONCAT('old', $g % 2), CONCAT('P', $g % 10), $(text_of "$(day_of "$day_n")" '%Y%m%d'), $g,
  CASE WHEN $g % 74 = 0 THEN 'User0' ELSE CONCAT('user', $g % 37) END, CONCAT('doc ', $g), $g % 7 + 1, $g % 7 * 5 + 5,
  $(text_of "$(day_of "$day_n - CASE WHEN $g % 50 = 0 THEN 1 ELSE 0 END")" '%Y/%m/%d'), CONCAT('09:', LPAD(CONCAT('', $g % 60), 2, '0'), ':00')
  $rows_of;
SQL
    fingerprint() {
      db_sql "SELECT COUNT(*), SUM(pages), SUM(cost), SUM(job_id), COUNT(DISTINCT $bin_ user_name) FROM pelko_jobs WHERE server_name <> 'srv1'"
    }
    # The sums, and what a GROUP BY over the rows gives, line for line.
    grouped() {
      local figures="COUNT(*), SUM(pages), SUM(cost), SUM(CASE WHEN color_pages IS NULL THEN 0 ELSE color_pages END),
        SUM(CASE WHEN color_pages IS NULL THEN 0 ELSE mono_pages END), SUM(CASE WHEN color_pages IS NULL THEN pages ELSE 0 END),
        COUNT(color_pages)"
      db_sql "SELECT MIN(server_name), 'd', log_date, MIN(job_date), '', $figures FROM pelko_jobs
          GROUP BY $bin_ server_name, log_date, $bin_ job_date
        UNION ALL SELECT MIN(server_name), 'u', SUBSTRING(log_date, 1, 6), MIN(SUBSTRING(job_date, 1, 7)), MIN(user_name), $figures
          FROM pelko_jobs GROUP BY $bin_ server_name, SUBSTRING(log_date, 1, 6), $bin_ SUBSTRING(job_date, 1, 7), $bin_ user_name
        UNION ALL SELECT MIN(server_name), 'p', SUBSTRING(log_date, 1, 6), MIN(SUBSTRING(job_date, 1, 7)), MIN(printer), $figures
          FROM pelko_jobs GROUP BY $bin_ server_name, SUBSTRING(log_date, 1, 6), $bin_ SUBSTRING(job_date, 1, 7), $bin_ printer" |
        LC_ALL=C sort
    }
    sums() {
      db_sql "SELECT server_name, kind, period, job_date, name, jobs, pages, cost, color_pages, mono_pages,
        untold_pages, told_jobs FROM pelko_job_sums WHERE jobs <> 0" | LC_ALL=C sort
    }
    sums_in_step() { [[ $(sums) == "$(grouped)" ]]; }
    version() { db_sql "SELECT MAX(version) FROM pelko_schema_version"; }
    before=$(fingerprint)
    set_connection "$connection"
    both_upgrade
    check "pelkodb reports version 5 and every row" "$engine: tables of version 5, 20000 jobs" "$(cat "$work/check.out")"
    wait_for 30 eval '[[ $(version) == 5 ]]'
    check "version 1 became 5" 5 "$(version)"
    check "every row of version 1 kept once" "$before" "$(fingerprint)"
    check "no log state left under its old name" 0 \
      "$(db_sql "SELECT COUNT(*) FROM information_schema.tables WHERE table_name IN ('pelko_log_state', 'pelko_jobs_v1')")"
    check "the upgrade's sums are a GROUP BY over the rows" "$(grouped)" "$(sums)"
    # Entries as the agent writes them: hand_log ENTRY...; hand_entry ID
    # TIME USER PAGES [DETAILS].
    hand_entry() {
      printf '<entry> <date>%s</date><time>%s</time> <id>%s</id><user>%s</user> <printer>Back</printer><doc>d%s</doc> <pages>%s</pages> <cost>%s</cost>%s</entry>' \
        "$slash" "$2" "$1" "$3" "$1" "$4" $(($4 * 5)) "${5:-}"
    }
    hand_log() {
      (umask 027; set -o noclobber
       printf "%s" "<?xml version='1.0' encoding='ISO-8859-1' ?> <?xml-stylesheet href='Tavisk.xsl' type='text/xsl' ?><log> <type>Back</type> <date>$slash</date>" \
         "$@" "</log>" >"$logs/Back_$day.xml.new") && mv "$logs/Back_$day.xml.new" "$logs/Back_$day.xml"
    }
    hand_log "$(hand_entry 7 10:00:00 anna 3)" "$(hand_entry 6 09:30:00 Anna 2 "$(details 1)")" \
      "$(hand_entry 5 09:00:00 eve 1)"
    srv1_rows() { db_sql "SELECT COUNT(*) FROM pelko_jobs WHERE server_name = 'srv1'"; }
    wait_for 30 eval '[[ $(srv1_rows) == 3 ]]'
    wait_for 30 sums_in_step
    check "a new log's sums" "$(grouped)" "$(sums)"
    # The site from the database reads no job while the sums stay.
    site() {
      "$bin/pelkoreport" --site "$work/dbsite" --database "$connection" --password-stdin --cost-unit "" \
        <<<pgsecret
    }
    site >/dev/null
    check "a site run with nothing changed in the database" "$work/dbsite: up to date" "$(site)"
    # Written over: job 6's user and colour, job 5's pages; job 7 gone, 8 new.
    hand_log "$(hand_entry 8 10:30:00 paul 4)" "$(hand_entry 6 09:30:00 bob 2 "$(details 2)")" \
      "$(hand_entry 5 09:00:00 eve 4)"
    wait_for 30 eval '[[ $(srv1_rows) == 4 ]]'
    wait_for 30 sums_in_step
    check "the sums after rows written over, one gone from its log" "$(grouped)" "$(sums)"
    check "a site run after the agent wrote rows over builds again" 1 \
      "$(site | grep -c ' [1-9][0-9]* files written')"
    stop_process "$agent"
    # Version 4, today's index on log_date, brought to 5 in place.
    db_script <<SQL || fail "version 4's index was not made"
DROP INDEX pelko_jobs_by_log_date$on_jobs;
CREATE INDEX pelko_jobs_by_date ON pelko_jobs (log_date$carried;
UPDATE pelko_schema_version SET version = 4;
SQL
    before=$(fingerprint)
    PELKO_REGISTRY=$work/registry "$bin/pelkodb" --check >/dev/null 2>&1
    check "version 4 became 5" 5 "$(version)"
    check "version 4's index on log_date replaced, every row kept" \
      "pelko_jobs_by_log_date pelko_jobs_by_user pelko_jobs_pkey $before" \
      "$(db_sql "$indexes" | sed 's/^PRIMARY$/pelko_jobs_pkey/' | tr '\n' ' ')$(fingerprint)"
    # The same report from the rows (a database of version 3 keeps no sums)
    # and from the sums: whole months, the days about them, a span within
    # one month, the newest jobs listed among ties of 20 a day.
    report() {  # report NAME ARGS...
      local name=$1
      shift
      "$bin/pelkoreport" --database "$connection" --password-stdin "$@" <<<pgsecret >"$work/report.$name" 2>&1
    }
    forms=("--html" "--html --from 20251015 --to 20251130" "--html --from 20251105 --to 20251120"
           "--summary --by month --from 20251001 --to $day")
    db_sql "UPDATE pelko_schema_version SET version = 3" >/dev/null
    for i in "${!forms[@]}"; do report "rows$i" ${forms[i]}; done
    db_sql "UPDATE pelko_schema_version SET version = 5" >/dev/null
    for i in "${!forms[@]}"; do
      report "sums$i" ${forms[i]}
      check "the report ${forms[i]} from the sums is the one from the rows" "" \
        "$(cmp "$work/report.rows$i" "$work/report.sums$i" 2>&1)"
    done
    check "the reports hold the users told apart by case" yes \
      "$(grep -qw User0 "$work/report.sums0" && grep -qw user0 "$work/report.sums0" && echo yes)"
    start_agent
    ;;
  *)
    echo "unknown scenario $scenario" >&2
    exit 2
    ;;
esac
check "agent still running" yes "$(running "$agent" && echo yes)"
check "no driver log readable by other users" "" "$(find "$driver_logs" -type f -perm /o=r)"
[[ $failures -eq 0 ]]
