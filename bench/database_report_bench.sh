#!/bin/bash
# database_report_bench.sh BIN_DIR [SERVERS DAYS JOBS]
# The site report over the books of a large site, on a private PostgreSQL and
# a private MariaDB on loopback, run as root: SERVERS x DAYS x JOBS job rows
# (100 servers, 730 days from 2025-01-01, 137 jobs a server's day: ten
# million; each server 10 printers and 200 users of its own, every other job
# with its print details), bulk loaded into tables of version 3, then:
#  1. the upgrade to version 5 by pelkodb --check, which makes the sums of
#     every row and the index on log_date that carries the colour pages;
#  2. pelkoreport --database: the summary by user and printer, by month,
#     and the HTML report (users, printers, servers, months, the newest 300
#     jobs; the mailed site report is this report) over the whole span, one
#     month, and a span that starts and ends in the middle of months;
#  3. the same month's HTML report read from the rows (the database taken
#     for version 3), as before the sums.
# BENCH_ENGINES="pg" or "maria" runs one of them alone.
set -eu
bin=$(readlink -f "$1")
servers=${2:-100} days=${3:-730} jobs=${4:-137}
here=$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")
source "$here/db_bench_env.sh"
cleanup() {
  set +e
  pg_env_stop
  maria_env_stop
  rm -rf "$work"
}
trap cleanup EXIT
# The clients without the tests' bound of 60 s: a load of ten million rows
# takes longer.
pg_long() { PGPASSWORD=pgsecret timeout 3600 psql -X -q -v ON_ERROR_STOP=1 -h 127.0.0.1 -p "$PG_ENV_PORT" -U pg postgres "$@"; }
maria_long() { timeout 3600 mariadb --no-defaults --socket="$MARIA_ENV_DIR/sock" -u root pelko "$@"; }
since() { python3 -c "import sys, time; print('%.2f' % (time.time() - float(sys.argv[1])))" "$1"; }
load() { cut -d' ' -f1 /proc/loadavg; }

# The rows as tab-separated text, \N for NULL: what COPY and LOAD DATA take.
python3 - "$work/rows.tsv" "$servers" "$days" "$jobs" <<'PY'
import datetime, sys
path, servers, days, jobs = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
start = datetime.date(2025, 1, 1)
with open(path, "w", buffering=1 << 20) as out:
    # A server at a time: in the order of the primary key, as a bulk load
    # goes fastest into MariaDB's.
    for s in range(1, servers + 1):
        server = "srv%03d" % s
        for d in range(days):
            day = start + datetime.timedelta(days=d)
            log_date, slash = day.strftime("%Y%m%d"), day.strftime("%Y/%m/%d")
            lines = []
            for j in range(1, jobs + 1):
                k = (d * 7919 + s * 104729 + j * 31) & 0xffffff
                pages = k % 9 + 1
                details = (("%d\t%d\t%d\tone-sided\tA4\tpc-%d\tdocument" % (1, pages // 3, pages - pages // 3, k % 50))
                           if j % 2 else "\\N\t\\N\t\\N\t\\N\t\\N\t\\N\t\\N")
                lines.append("%s\t%s-P%d\t%s\t%d\tu%03d-%d\treport %d.pdf\t%d\t%d\t%s\t%02d:%02d:%02d\t%s\n" % (
                    server, server, k % 10, log_date, j, s, k % 200, k, pages, pages * 5, slash,
                    8 + j * 10 // jobs, j % 60, k % 60, details))
            out.write("".join(lines))
PY
rows=$(wc -l <"$work/rows.tsv")
chmod 644 "$work/rows.tsv"
echo "$rows rows generated (load $(load))"

# Version 3's tables as the agent made them, their indexes made after the
# load (faster in bulk).
tables() {
  cat <<SQL
CREATE TABLE pelko_jobs (
  server_name VARCHAR(64) NOT NULL, printer VARCHAR(255) NOT NULL, log_date CHAR(8) NOT NULL,
  job_id INTEGER NOT NULL, user_name VARCHAR(255) NOT NULL, document VARCHAR(1000) NOT NULL,
  pages INTEGER NOT NULL, cost INTEGER NOT NULL, job_date VARCHAR(10) NOT NULL,
  job_time VARCHAR(8) NOT NULL, copies INTEGER, color_pages INTEGER, mono_pages INTEGER,
  sides VARCHAR(64), paper VARCHAR(64), client VARCHAR(255), color_from VARCHAR(64),
  PRIMARY KEY (server_name, printer, log_date, job_id, job_date, job_time));
CREATE TABLE pelko_log_state (
  server_name VARCHAR(64) NOT NULL, log_file VARCHAR(400) NOT NULL,
  size_bytes BIGINT NOT NULL, written BIGINT NOT NULL, PRIMARY KEY (server_name, log_file));
CREATE TABLE pelko_schema_version (version INTEGER NOT NULL);
INSERT INTO pelko_schema_version (version) VALUES (3);
SQL
}

run_engine() {  # run_engine pg|maria CONNECTION
  local db=$1 connection=$2 t0 form
  rm -rf "$work/registry"
  t0=$(date +%s.%N)
  if [[ $db == pg ]]; then
    tables | pg_long -q
    pg_long -qc "\\copy pelko_jobs FROM '$work/rows.tsv'"
    pg_long -q <<'SQL'
CREATE INDEX pelko_jobs_by_date ON pelko_jobs (log_date) INCLUDE (server_name, printer, user_name, pages, cost);
CREATE INDEX pelko_jobs_by_user ON pelko_jobs (user_name, log_date);
SQL
  else
    tables | maria_sql
    maria_long --local-infile=1 -e "SET unique_checks = 0; LOAD DATA LOCAL INFILE '$work/rows.tsv' INTO TABLE pelko_jobs"
    maria_long -e "CREATE INDEX pelko_jobs_by_date ON pelko_jobs (log_date, server_name, printer, user_name, pages, cost);
      CREATE INDEX pelko_jobs_by_user ON pelko_jobs (user_name, log_date)"
  fi
  echo "$db: $rows rows loaded with their indexes in $(since "$t0") s (load $(load))"
  PELKO_REGISTRY=$work/registry "$bin/pelkoreg" add 'HKLM\Software\Pelko' /v DatabaseConnection /t REG_SZ /d "$connection" /f >/dev/null
  PELKO_REGISTRY=$work/registry "$bin/pelkoreg" add 'HKLM\Software\Pelko' /v DatabasePassword /t REG_SZ /d pgsecret /f >/dev/null
  t0=$(date +%s.%N)
  PELKO_REGISTRY=$work/registry "$bin/pelkodb" --check
  echo "$db: upgrade to version 5, the sums of every row and the new index made, in $(since "$t0") s (load $(load))"
  if [[ $db == pg ]]; then
    pg_long -qc "VACUUM ANALYZE"
    pg_psql -Atc "SELECT 'pg: sums ' || SUM(n) || ' rows (' || string_agg(n || ' ' || kind, ', ') || '), ' ||
      pg_size_pretty(pg_total_relation_size('pelko_job_sums')) || '; jobs ' ||
      pg_size_pretty(pg_total_relation_size('pelko_jobs')) FROM (SELECT kind, COUNT(*) n FROM pelko_job_sums GROUP BY kind) k"
  else
    maria_long -e "ANALYZE TABLE pelko_jobs, pelko_job_sums" >/dev/null
    maria_sql -Ne "SELECT CONCAT('maria: sums ', (SELECT COUNT(*) FROM pelko_job_sums), ' rows, ',
      ROUND(SUM(CASE WHEN table_name = 'pelko_job_sums' THEN data_length + index_length END) / 1048576), ' MB; jobs ',
      ROUND(SUM(CASE WHEN table_name = 'pelko_jobs' THEN data_length + index_length END) / 1048576), ' MB')
      FROM information_schema.tables WHERE table_schema = 'pelko'"
  fi
  report() {  # report ARGS...: the seconds pelkoreport takes
    local start
    start=$(date +%s.%N)
    "$bin/pelkoreport" --database "$connection" --password-stdin "$@" -o "$work/report" <<<pgsecret
    since "$start"
  }
  for form in "--summary" "--summary --by month" "--html" "--html --from 20260301 --to 20260331" \
              "--html --from 20250317 --to 20260112"; do
    echo "$db: pelkoreport --database $form: $(report $form) s (load $(load))"
  done
  if [[ $db == pg ]]; then pg_psql -qc "UPDATE pelko_schema_version SET version = 3"
  else maria_sql -e "UPDATE pelko_schema_version SET version = 3"; fi
  echo "$db: the month's HTML report from the rows: $(report --html --from 20260301 --to 20260331) s (load $(load))"
}

engines=${BENCH_ENGINES:-pg maria}
if [[ $engines == *pg* ]]; then
  pg_env_start
  run_engine pg "$PG_ENV_ODBC"
  pg_env_stop
fi
if [[ $engines == *maria* ]]; then
  maria_env_start
  run_engine maria "$MARIA_ENV_ODBC"
fi
