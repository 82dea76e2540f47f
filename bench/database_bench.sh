#!/bin/bash
# database_bench.sh BIN_DIR [PRINTERS DAYS JOBS]
# Figures of the database sink against a private PostgreSQL and a private
# MariaDB on loopback (through unixODBC and their ODBC drivers), run as root.
# For each database:
#  1. rows per second of a first sync of PRINTERS x DAYS x JOBS (49 x 10 x
#     200) daily-log entries by the agent, and of the database's own bulk
#     load of the same rows (COPY; LOAD DATA LOCAL INFILE) into a table like
#     pelko_jobs, indexes and all;
#  2. steady state: the statements the agent sends for one new job, and the
#     time from its first to its last, with 10 and with 2 000 jobs already
#     in that printer's day (the mean of 10 jobs each).
# Then on PostgreSQL:
#  3. the agent's CPU time and the database's transactions over 30 s in
#     which no log changes;
#  4. the time of pelkoreport --database over one million rows of several
#     servers (the rows beyond the sync copied in SQL).
set -eu
bin=$(readlink -f "$1")
printers=${2:-49} days=${3:-10} jobs=${4:-200}
here=$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")
source "$here/db_bench_env.sh"
agent=
cleanup() {
  set +e  # the stops' own checks fail by design
  [[ -n $agent ]] && stop_process "$agent"
  pg_env_stop
  maria_env_stop
  rm -rf "$work"
}
trap cleanup EXIT
pg_env_start
maria_env_start
reg() { PELKO_REGISTRY=$work/registry "$bin/pelkoreg" "$@" >/dev/null; }
source "$here/../scripts/lib/settings.sh"
read -r expected _ < <(python3 "$here/make_daily_logs.py" "$work/logs" "$printers" "$days" "$jobs")
python3 "$here/db_rows.py" "$work/logs" bench1 "$work/rows.csv"
chmod 644 "$work/rows.csv"
rate() { python3 -c "import sys; r, s = int(sys.argv[1]), float(sys.argv[2]); \
print('%d rows in %.2f s: %.0f rows/s' % (r, s, r / s))" "$1" "$2"; }
since() { python3 -c "import sys, time; print('%.3f' % (time.time() - float(sys.argv[1])))" "$1"; }

# Per database: its SQL client (sql), its connection, its bulk load, and the
# agent's statements since a mark with their times (statements MARK: one
# line "EPOCH_SECONDS TEXT" each).
pg_sql() { pg_psql -At "$@"; }
pg_count() { pg_sql -c "$1"; }
maria_count() { maria_sql -Ne "$1"; }
pg_bulk() {
  pg_sql -c "CREATE TABLE bulk_jobs (LIKE pelko_jobs INCLUDING ALL)"
  local t0; t0=$(date +%s.%N)
  pg_sql -c "\\copy bulk_jobs (server_name, printer, log_date, job_id, user_name, document, pages, cost, job_date, job_time) FROM '$work/rows.csv' WITH (FORMAT csv)"
  since "$t0"
}
pg_log_on() {
  pg_sql -c "ALTER SYSTEM SET log_statement = 'all'" -c "ALTER SYSTEM SET log_line_prefix = '%n [%a] '" \
    -c "SELECT pg_reload_conf()" >/dev/null
}
pg_mark() { wc -l <"$PG_ENV_DIR/pg.log"; }
pg_statements() {
  tail -n +$(($1 + 1)) "$PG_ENV_DIR/pg.log" | grep -v '^[0-9.]* \[psql\]' |
    sed -n 's/^\([0-9.]*\) \[.*\] LOG:  \(statement\|execute [^:]*\): /\1 /p'
}
maria_bulk() {
  maria_sql -e "CREATE TABLE bulk_jobs LIKE pelko_jobs"
  local t0; t0=$(date +%s.%N)
  maria_sql --local-infile=1 -e "LOAD DATA LOCAL INFILE '$work/rows.csv' INTO TABLE bulk_jobs
    FIELDS TERMINATED BY ',' OPTIONALLY ENCLOSED BY '\"' (server_name, printer, log_date, job_id,
    user_name, document, pages, cost, job_date, job_time)"
  since "$t0"
}
maria_log_on() {
  maria_sql -e "SET GLOBAL log_output = 'TABLE'; SET GLOBAL general_log = 1"
}
maria_mark() { maria_sql -Ne "SELECT NOW(6)"; }
maria_statements() {
  maria_sql -Ne "SELECT UNIX_TIMESTAMP(event_time), REPLACE(LEFT(argument, 60), '\n', ' ')
    FROM mysql.general_log WHERE user_host LIKE 'pk[%' AND command_type IN ('Query', 'Execute')
    AND event_time > '$1' ORDER BY event_time" | tr '\t' ' '
}

run_engine() {  # run_engine pg|maria CONNECTION
  local db=$1 t0 t1
  local folder=$work/$db
  rm -rf "$folder" "$work/registry"
  mkdir -p "$folder"
  cp -r "$work/logs" "$folder/Logs"
  settings <<EOS || exit 1
Path REG_SZ $folder
nPrinters REG_DWORD 0
ServerName REG_SZ bench1
DatabaseConnection REG_SZ $2
DatabasePassword REG_SZ pgsecret
AppIsRunning REG_DWORD 1
EOS
  count() { ${db}_count "SELECT COUNT(*) FROM pelko_jobs $1" 2>/dev/null || echo 0; }
  # The files' states are written with their rows: counting them, a few
  # hundred, keeps the poll from loading the database it measures (a
  # COUNT(*) of pelko_jobs ten times a second took a third of MariaDB's time).
  local files
  files=$(find "$folder/Logs" -name '*.xml' | wc -l)
  synced() { (($(${db}_count "SELECT COUNT(*) FROM pelko_sync_state" 2>/dev/null || echo 0) >= files)); }
  t0=$(date +%s.%N)
  PELKO_REGISTRY=$work/registry "$bin/pelkomon" >/dev/null 2>&1 &
  agent=$!
  wait_for 3600 synced
  t1=$(since "$t0")
  [[ $(count "") == "$expected" ]] || echo "$db: $(count "") rows, not $expected" >&2
  echo "$db first sync by the agent: $(rate "$expected" "$t1")"
  echo "$db bulk load of the same rows: $(rate "$expected" "$(${db}_bulk)")"

  # Steady state: one printer's day of N jobs, then jobs one at a time,
  # each entry new in front, as the agent writes them.
  ${db}_log_on
  local day n k mark
  day=$(date +%Y%m%d)
  steady_log() {  # steady_log JOBS: the day's log with JOBS entries, written anew
    python3 - "$folder/Logs/Steady_$day.xml" "$1" <<'PY'
import os, sys
path, n = sys.argv[1], int(sys.argv[2])
d = path[-12:-4]
slash = "%s/%s/%s" % (d[:4], d[4:6], d[6:])
out = ["<?xml version='1.0' encoding='ISO-8859-1' ?> <?xml-stylesheet href='Tavisk.xsl' type='text/xsl' ?>",
       "<log> <type>Steady</type> <date>%s</date>" % slash]
for j in range(n, 0, -1):
    out.append("<entry> <date>%s</date><time>%02d:%02d:%02d</time> <id>%d</id><user>user%03d</user> "
               "<printer>Steady</printer><doc>report %d.pdf</doc> <pages>%d</pages> <cost>%d</cost></entry>"
               % (slash, j // 3600 % 24, j // 60 % 60, j % 60, j, j % 300, j, j % 9 + 1, j % 9 + 1))
out.append("<entry><user>Total</user><cost>0</cost></entry></log>")
with open(path + ".new", "w") as f:
    f.write("".join(out))
os.rename(path + ".new", path)
PY
  }
  steady_rows() { count "WHERE printer = 'Steady'"; }
  for n in 10 2000; do
    steady_log "$n"
    wait_for 60 eval '(( $(steady_rows) >= n ))'
    sleep 3
    mark=$(${db}_mark)
    for k in $(seq 1 10); do
      steady_log $((n + k))
      wait_for 60 eval '(( $(steady_rows) >= n + k ))'
    done
    sleep 3
    ${db}_statements "$mark" | python3 -c '
import sys
rounds, last = [], None
for line in sys.stdin:
    t = float(line.split(" ", 1)[0])
    if last is None or t - last > 1.0:
        rounds.append([t, t, 0])
    rounds[-1][1] = t
    rounds[-1][2] += 1
    last = t
jobs = int(sys.argv[2])
print("%s steady state, %s jobs in the day: %.1f statements and %.1f ms per new job (%d rounds)" % (
    sys.argv[1], sys.argv[3], sum(r[2] for r in rounds) / jobs,
    1000 * sum(r[1] - r[0] for r in rounds) / jobs, len(rounds)))' "$db" 10 "$n"
  done
}

run_engine maria "$MARIA_ENV_ODBC"
stop_process "$agent"
agent=
run_engine pg "$PG_ENV_ODBC"

sleep 5  # the agent idles
ticks() { awk '{ print $14 + $15 }' "/proc/$agent/stat"; }
mark=$(pg_mark)
t0=$(ticks)
sleep 30
t1=$(ticks)
statements=$(pg_statements "$mark" | wc -l)
echo "idle 30 s: agent CPU $(((t1 - t0) * 1000 / $(getconf CLK_TCK))) ms, statements from the agent $statements"
stop_process "$agent"
agent=
pg_sql -c "ALTER SYSTEM SET log_statement = 'none'" -c "SELECT pg_reload_conf()" >/dev/null

# One million rows: the synced ones, and copies under other server names.
copies=$(( (1000000 + expected - 1) / expected - 1 ))
for n in $(seq 2 $((copies + 1))); do
  pg_psql -c "INSERT INTO pelko_jobs SELECT 'bench$n', printer, log_date, job_id, user_name,
    document, pages, cost, job_date, job_time FROM pelko_jobs WHERE server_name = 'bench1'"
done
pg_psql -c "VACUUM ANALYZE pelko_jobs"
total=$(pg_sql -c "SELECT COUNT(*) FROM pelko_jobs")
for form in --text --csv --html; do
  start=$(date +%s.%N)
  "$bin/pelkoreport" --database "$PG_ENV_ODBC" --password-stdin $form -o "$work/report" <<<pgsecret
  echo "report $form over $total rows: $(since "$start") s"
done
