#!/bin/bash
# servers_bench.sh BIN_DIR [SERVERS JOBS]
# Many print servers writing to one database at once, against a private
# PostgreSQL and a private MariaDB on loopback, run as root. Each server is
# a servers_bench process: the agent's own sync code over ODBC, its own
# daily logs (the same printer names and job numbers on every server), half
# of its JOBS sent by a first sync, the rest as they come, one to four at a
# time. For each database:
#  - the rows in the database against the rows sent, each server's own, and
#    any row of one server that holds another's;
#  - the time until every server has sent everything (the drain), the most
#    connections open at once and the machine's load;
#  - deadlocks as the database counts them, and the transactions the
#    servers sent again, the times one gave a connection up;
#  - one server in steady state: the statements and time per new job with
#    10 and with 2 000 jobs already in its printer's day.
set -eu
bin=$(readlink -f "$1")
servers=${2:-100} jobs=${3:-1000}
here=$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")
source "$here/../scripts/lib/process.sh"
source "$here/../scripts/lib/pg-env.sh"
source "$here/../scripts/lib/maria-env.sh"
pg_env_available && maria_env_available ||
  { echo "needs root, PostgreSQL, MariaDB and their ODBC drivers" >&2; exit 2; }
[[ -x $bin/servers_bench ]] || { echo "no servers_bench in $bin" >&2; exit 2; }
work=$(mktemp -d)
pids=()
cleanup() {
  set +e
  local pid
  for pid in "${pids[@]}"; do stop_process "$pid" 1; done
  pg_env_stop
  maria_env_stop
  rm -rf "$work"
}
trap cleanup EXIT
since() { python3 -c "import sys, time; print('%.1f' % (time.time() - float(sys.argv[1])))" "$1"; }

pg_env_start
# PostgreSQL's default of 100 connections (3 of them kept for superusers)
# is too few for 100 servers and anyone else.
pg_psql -c "ALTER SYSTEM SET max_connections = 250" >/dev/null
pg_env_halt
pg_env_resume
maria_env_start
pg_q() { pg_psql -At -c "$1"; }
maria_q() { maria_sql -N -e "$1"; }
pg_deadlocks() { pg_q "SELECT deadlocks FROM pg_stat_database WHERE datname = 'postgres'"; }
maria_deadlocks() { maria_q "SHOW GLOBAL STATUS LIKE 'Innodb_deadlocks'" | awk '{ print $2 }'; }
pg_connections() { pg_q "SELECT COUNT(*) FROM pg_stat_activity WHERE backend_type = 'client backend'"; }
maria_connections() { maria_q "SELECT COUNT(*) FROM information_schema.processlist WHERE user = 'pk'"; }
pg_limit() { pg_q "SHOW max_connections"; }
maria_limit() { maria_q "SELECT @@max_connections"; }

run_engine() {  # run_engine pg|maria CONNECTION
  local db=$1 connection=$2 i start drain deadlocks peak=0 load=0 now running
  deadlocks=$(${db}_deadlocks)
  echo "$db: $servers servers x $jobs jobs, max_connections $(${db}_limit), load before $(cut -d' ' -f1-3 /proc/loadavg)"
  start=$(date +%s.%N)
  pids=()
  for i in $(seq 1 "$servers"); do
    PELKO_BENCH_PASSWORD=pgsecret nice "$bin/servers_bench" "$(printf 'srv%03d' "$i")" "$connection" \
      "$jobs" >"$work/$db.$i.out" 2>"$work/$db.$i.err" &
    pids+=($!)
  done
  for _ in $(seq 1 3600); do
    running=0
    for i in "${pids[@]}"; do running "$i" && running=$((running + 1)); done
    ((running > 0)) || break
    now=$(${db}_connections 2>/dev/null || echo 0)
    ((now > peak)) && peak=$now
    load=$(awk -v a="$load" '{ print ($1 > a ? $1 : a) }' /proc/loadavg)
    sleep 1
  done
  for i in "${pids[@]}"; do wait "$i" || echo "$db: a server ended with $?"; done
  pids=()
  drain=$(since "$start")
  cat "$work/$db".*.out | python3 -c '
import sys
servers = []
for line in sys.stdin:
    line, _, error = line.rstrip("\n").partition(" first_error=")
    servers.append(dict(kv.split("=", 1) for kv in line.split() if "=" in kv))
    if error: servers[-1]["first_error"] = error
total = lambda key: sum(int(s.get(key, 0)) for s in servers)
slowest = max(float(s["seconds"]) for s in servers)
print("%s: %d servers done, %d rows sent, %d statements, %d transactions sent again, %d connections given up, slowest server %.1f s"
      % (sys.argv[1], len(servers), total("rows"), total("statements"), total("retries"), total("outages"), slowest))
errors = {}
for s in servers:
    if "first_error" in s: errors[s["first_error"][:90]] = errors.get(s["first_error"][:90], 0) + 1
for e, n in sorted(errors.items())[:5]: print("%s: first error of %d servers: %s" % (sys.argv[1], n, e))' "$db" "$jobs"
  echo "$db: drained in $drain s; at most $peak connections at once; load average at most $load"
  echo "$db: rows in the database $(${db}_q "SELECT COUNT(*) FROM pelko_jobs"), expected $((servers * jobs))"
  echo "$db: servers holding exactly $jobs rows: $(${db}_q "SELECT COUNT(*) FROM (SELECT server_name
    FROM pelko_jobs GROUP BY server_name HAVING COUNT(*) = $jobs) s") of $servers"
  echo "$db: rows that hold another server's job: $(${db}_q "SELECT COUNT(*) FROM pelko_jobs
    WHERE document NOT LIKE CONCAT(server_name, ': %')")"
  echo "$db: deadlocks counted by the database: $(( $(${db}_deadlocks) - deadlocks ))"
  echo "$db: $(PELKO_BENCH_PASSWORD=pgsecret "$bin/servers_bench" steady "$connection" --steady |
    tr '\n' ';')"
}

run_engine pg "$PG_ENV_ODBC"
run_engine maria "$MARIA_ENV_ODBC"
