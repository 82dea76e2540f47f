#!/bin/bash
# site_bench.sh BIN_DIR [PRINTERS DAYS JOBS USERS]
# The report site (pelkoreport --site) of PRINTERS x DAYS daily logs of JOBS
# jobs each among USERS users (49 x 365 x 56 x 400: a year, about a million
# jobs), ending today: the time of the first build, of a second run with
# nothing changed, and of a run after one day's log changed. Then, where a
# private PostgreSQL can be started (root, its ODBC driver), the same jobs
# from the central database: the first build and a second run. Each figure
# with its processor time and the load average at its end, since the
# machine may be shared. The programs are copied first: the build may go on.
set -eu
printers=${2:-49} days=${3:-365} jobs=${4:-56} users=${5:-400}
here=$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")
source "$here/../scripts/lib/pg-env.sh"
work=$(mktemp -d)
cleanup() {
  set +e
  pg_env_stop
  rm -rf "$work"
}
trap cleanup EXIT
mkdir "$work/bin"
cp "$1/pelkoreport" "$1/pelkoreg" "$1/pelkodb" "$work/bin/"
bin=$work/bin
first=$(date -d "-$((days - 1)) days" +%Y%m%d)
read -r count _ < <(python3 "$here/make_daily_logs.py" --details --users "$users" "$work/logs" \
  "$printers" "$days" "$jobs" "$first")
echo "$count jobs of $printers printers and $users users in $((printers * days)) daily logs from $first"
timed() {  # timed WHAT COMMAND...: its time, processor time, last line of output, the load average
  local what=$1 start out
  shift
  start=$(date +%s.%N)
  out=$(/usr/bin/time -f '%U %S' -o "$work/cpu" "$@" | tail -1)
  printf '%-32s %6.2f s, cpu %5.2f s  (%s; load %s)\n' "$what" "$(echo "$(date +%s.%N) - $start" | bc)" \
    "$(awk '{ print $1 + $2 }' "$work/cpu")" "${out#"$work"/}" "$(cut -d' ' -f1-3 /proc/loadavg)"
}
export PELKO_REGISTRY=$work/registry
timed "first build from the logs" "$bin/pelkoreport" --site "$work/site" "$work/logs"
echo "  $(find "$work/site" -type f | wc -l) files, $(du -sh "$work/site" | cut -f1)"
timed "second run, nothing changed" "$bin/pelkoreport" --site "$work/site" "$work/logs"
last=$(ls "$work/logs" | tail -1)
sed -i 's|<pages>1</pages>|<pages>2</pages>|' "$work/logs/$last"
timed "after one daily log changed" "$bin/pelkoreport" --site "$work/site" "$work/logs"

pg_env_available || { echo "no PostgreSQL (needs root and its ODBC driver): no database figures"; exit 0; }
pg_env_private_odbc "$work/odbc"
pg_env_start
"$bin/pelkoreg" add 'HKLM\Software\Pelko' /v DatabaseConnection /t REG_SZ /d "$PG_ENV_ODBC" /f >/dev/null
"$bin/pelkodb" --set-password <<<pgsecret >/dev/null 2>&1
"$bin/pelkodb" --check >/dev/null
python3 "$here/db_rows.py" "$work/logs" bench1 "$work/rows.csv"
pg_psql -c "\\copy pelko_jobs (server_name, printer, log_date, job_id, user_name, document, pages, cost, job_date, job_time) FROM '$work/rows.csv' WITH (FORMAT csv)"
# Rows put in by hand come without their sums: the agents' upgrade makes them.
pg_psql -c "DELETE FROM pelko_job_sums" -c "UPDATE pelko_schema_version SET version = 3" >/dev/null
"$bin/pelkodb" --check >/dev/null
pg_psql -c "VACUUM ANALYZE pelko_jobs" -c "VACUUM ANALYZE pelko_job_sums"
echo "$(pg_psql -At -c 'SELECT COUNT(*) FROM pelko_jobs') rows in pelko_jobs"
db=("$bin/pelkoreport" --site "$work/dbsite" --database "$PG_ENV_ODBC" --password-stdin)
timed "first build from the database" "${db[@]}" <<<pgsecret
timed "second run from the database" "${db[@]}" <<<pgsecret
