#!/bin/bash
# database_bench.sh BIN_DIR [PRINTERS DAYS JOBS]
# Figures of the database sink against a private PostgreSQL on loopback
# (through unixODBC and the PostgreSQL ODBC driver), run as root:
#  1. rows per second of a first sync of PRINTERS x DAYS x JOBS (49 x 30 x
#     200) daily-log entries by the agent;
#  2. the agent's CPU time and the database's transactions over 30 s in
#     which no log changes;
#  3. the time of pelkoreport --database over one million rows of several
#     servers (the rows beyond the sync copied in SQL).
set -eu
bin=$(readlink -f "$1")
printers=${2:-49} days=${3:-30} jobs=${4:-200}
here=$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")
source "$here/../scripts/lib/process.sh"
source "$here/../scripts/lib/pg-env.sh"
pg_env_available || { echo "needs root, PostgreSQL and its ODBC driver" >&2; exit 2; }
work=$(mktemp -d)
agent=
cleanup() {
  [[ -n $agent ]] && stop_process "$agent"
  pg_env_stop
  rm -rf "$work"
}
trap cleanup EXIT
pg_env_start
reg() { PELKO_REGISTRY=$work/registry "$bin/pelkoreg" "$@" >/dev/null; }
source "$here/../scripts/lib/settings.sh"
settings <<EOF || exit 1
Path REG_SZ $work/pelko
nPrinters REG_DWORD 0
ServerName REG_SZ bench1
DatabaseConnection REG_SZ $PG_ENV_ODBC
DatabasePassword REG_SZ pgsecret
AppIsRunning REG_DWORD 1
EOF
read -r expected _ < <(python3 "$here/make_daily_logs.py" "$work/pelko/Logs" "$printers" "$days" "$jobs")
rows() { pg_psql -Atc "SELECT COUNT(*) FROM pelko_jobs" 2>/dev/null || echo 0; }
synced() { (($(rows) >= expected)); }

start=$(date +%s.%N)
PELKO_REGISTRY=$work/registry "$bin/pelkomon" >/dev/null 2>&1 &
agent=$!
wait_for 3600 synced
end=$(date +%s.%N)
python3 -c "import sys; r, s = int(sys.argv[1]), float(sys.argv[3]) - float(sys.argv[2]); \
print('first sync: %d rows in %.1f s: %.0f rows/s' % (r, s, r / s))" "$expected" "$start" "$end"

sleep 5  # the last commit's state row is written, the agent idles
ticks() { awk '{ print $14 + $15 }' "/proc/$agent/stat"; }
# Every statement from here on is logged with the program that sent it.
pg_psql -c "ALTER SYSTEM SET log_statement = 'all'" -c "ALTER SYSTEM SET log_line_prefix = '[%a] '" \
  -c "SELECT pg_reload_conf()" >/dev/null
sleep 1
mark=$(wc -l <"$PG_ENV_DIR/pg.log")
t0=$(ticks)
sleep 30
t1=$(ticks)
statements=$(tail -n +$((mark + 1)) "$PG_ENV_DIR/pg.log" | grep "statement:" | grep -vc '^\[psql\]' || true)
echo "idle 30 s: agent CPU $(((t1 - t0) * 1000 / $(getconf CLK_TCK))) ms, statements from the agent $statements"
stop_process "$agent"
agent=

# One million rows: the synced ones, and copies under other server names.
copies=$(( (1000000 + expected - 1) / expected - 1 ))
for n in $(seq 2 $((copies + 1))); do
  pg_psql -c "INSERT INTO pelko_jobs SELECT 'bench$n', printer, log_date, job_id, user_name,
    document, pages, cost, job_date, job_time FROM pelko_jobs WHERE server_name = 'bench1'"
done
pg_psql -c "VACUUM ANALYZE pelko_jobs"
total=$(rows)
for form in --text --csv --html; do
  start=$(date +%s.%N)
  PGPASSWORD= "$bin/pelkoreport" --database "$PG_ENV_ODBC" --password-stdin $form \
    -o "$work/report" <<<pgsecret
  end=$(date +%s.%N)
  python3 -c "import sys; print('report %s over %s rows: %.2f s' % (sys.argv[1], sys.argv[2], \
float(sys.argv[4]) - float(sys.argv[3])))" "$form" "$total" "$start" "$end"
done
head -20 "$work/report.txt" 2>/dev/null || true
"$bin/pelkoreport" --database "$PG_ENV_ODBC" --password-stdin --text --from 20261101 --to 20261130 <<<pgsecret | tail -12
