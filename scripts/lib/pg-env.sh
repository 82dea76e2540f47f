# Sourced by the tests and the benches: a private PostgreSQL in a temporary folder, listening on
# loopback only, run by the postgres user (the server refuses root).
#   pg_env_start        starts it; sets PG_ENV_DIR, PG_ENV_PORT, PG_ENV_ODBC
#   pg_env_stop         stops it (fast) and removes the folder
#   pg_env_halt         stops it, keeping the data (pg_env_resume starts it)
#   pg_env_kill         kills the server at once (SIGKILL), keeping the data
#   pg_psql ARGS...     psql as the superuser "pg" on database "postgres"
#   pg_env_private_odbc DIR
#                       unixODBC reads DIR/odbcinst.ini (the system's drivers, which keep
#                       their logs in DIR/logs) and DIR/odbc.ini from here on
PG_ENV_BIN=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1)

pg_env_free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

pg_env_available() {
  [[ $(id -u) -eq 0 && -x $PG_ENV_BIN/initdb ]] && id postgres >/dev/null 2>&1 &&
    odbcinst -q -d -n "PostgreSQL Unicode" >/dev/null 2>&1
}

pg_ctl_as_postgres() {
  runuser -u postgres -- timeout 60 "$PG_ENV_BIN/pg_ctl" -D "$PG_ENV_DIR/db" "$@"
}

pg_env_resume() {
  pg_ctl_as_postgres -w -t 30 \
    -o "-p $PG_ENV_PORT -k $PG_ENV_DIR -c listen_addresses=127.0.0.1" \
    -l "$PG_ENV_DIR/pg.log" start >/dev/null
}

pg_env_start() {
  PG_ENV_DIR=$(mktemp -d /tmp/pelko-pg.XXXXXX)
  chown postgres "$PG_ENV_DIR"
  PG_ENV_PORT=$(pg_env_free_port)
  echo pgsecret >"$PG_ENV_DIR/pw"
  chown postgres "$PG_ENV_DIR/pw"
  chmod 600 "$PG_ENV_DIR/pw"
  runuser -u postgres -- timeout 120 "$PG_ENV_BIN/initdb" -D "$PG_ENV_DIR/db" -A md5 -U pg \
    --pwfile="$PG_ENV_DIR/pw" -E UTF8 --locale=C.UTF-8 >/dev/null || return 1
  PG_ENV_ODBC="Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=$PG_ENV_PORT;Database=postgres;Uid=pg;"
  pg_env_resume
}

pg_env_halt() { pg_ctl_as_postgres -m fast -w -t 30 stop >/dev/null 2>&1; }

pg_env_kill() {
  local pid
  pid=$(head -1 "$PG_ENV_DIR/db/postmaster.pid" 2>/dev/null)
  [[ -n $pid ]] || return 0
  kill -KILL "$pid" 2>/dev/null
  # Its children end once they see it gone; none may keep the port.
  for _ in $(seq 1 100); do
    kill -0 "$pid" 2>/dev/null || [[ -n $(pgrep -P "$pid") ]] || break
    sleep 0.1
  done
  rm -f "$PG_ENV_DIR/db/postmaster.pid"
}

pg_env_stop() {
  [[ -n ${PG_ENV_DIR:-} && -d $PG_ENV_DIR ]] || return 0
  pg_env_halt || pg_env_kill
  rm -rf "$PG_ENV_DIR"
}

pg_psql() {
  PGPASSWORD=pgsecret timeout 60 psql -X -q -v ON_ERROR_STOP=1 -h 127.0.0.1 -p "$PG_ENV_PORT" \
    -U pg -d postgres "$@"
}

pg_env_private_odbc() {
  local system
  system=$(odbcinst -j | sed -n 's/^DRIVERS\.*: //p')
  mkdir -p "$1/logs"
  sed "/^\[ODBC\]/!s|^\[.*\]\$|&\nLogdir=$1/logs|" "${system:-/etc/odbcinst.ini}" >"$1/odbcinst.ini"
  : >"$1/odbc.ini"
  export ODBCSYSINI=$1
}
