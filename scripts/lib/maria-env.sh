# Sourced by the tests: a private MariaDB in a temporary folder, listening on
# loopback only, run by the mysql user. Sourced after pg-env.sh (its free port).
#   maria_env_available  root, the server, and its ODBC driver "MariaDB Unicode"
#   maria_env_start      starts it with a database pelko and a login pk (password
#                        pgsecret) that owns it; sets MARIA_ENV_DIR, MARIA_ENV_PORT,
#                        MARIA_ENV_ODBC
#   maria_env_stop       stops it and removes the folder
#   maria_sql ARGS...    the client as the server's root, on database pelko
MARIA_ENV_SERVER=/usr/sbin/mariadbd

maria_env_available() {
  [[ $(id -u) -eq 0 && -x $MARIA_ENV_SERVER ]] && command -v mariadb-install-db >/dev/null &&
    id mysql >/dev/null 2>&1 && odbcinst -q -d -n "MariaDB Unicode" >/dev/null 2>&1
}

maria_sql() {
  timeout 60 mariadb --no-defaults --socket="$MARIA_ENV_DIR/sock" -u root pelko "$@"
}

maria_env_start() {
  MARIA_ENV_DIR=$(mktemp -d /tmp/pelko-maria.XXXXXX)
  chown mysql "$MARIA_ENV_DIR"
  MARIA_ENV_PORT=$(pg_env_free_port)
  runuser -u mysql -- timeout 120 mariadb-install-db --no-defaults --datadir="$MARIA_ENV_DIR/data" \
    --auth-root-authentication-method=normal >"$MARIA_ENV_DIR/install.log" 2>&1 || return 1
  runuser -u mysql -- "$MARIA_ENV_SERVER" --no-defaults --datadir="$MARIA_ENV_DIR/data" \
    --socket="$MARIA_ENV_DIR/sock" --port="$MARIA_ENV_PORT" --bind-address=127.0.0.1 \
    --pid-file="$MARIA_ENV_DIR/pid" --log-error="$MARIA_ENV_DIR/server.log" >/dev/null 2>&1 &
  MARIA_ENV_RUNNER=$!
  local _
  for _ in $(seq 1 300); do
    [[ -S $MARIA_ENV_DIR/sock && -s $MARIA_ENV_DIR/pid ]] && break
    sleep 0.1
  done
  MARIA_ENV_ODBC="Driver={MariaDB Unicode};Server=127.0.0.1;Port=$MARIA_ENV_PORT;Database=pelko;Uid=pk;"
  timeout 60 mariadb --no-defaults --socket="$MARIA_ENV_DIR/sock" -u root -e "CREATE DATABASE pelko;
    CREATE USER pk@'127.0.0.1' IDENTIFIED BY 'pgsecret'; GRANT ALL ON pelko.* TO pk@'127.0.0.1';"
}

maria_env_stop() {
  [[ -n ${MARIA_ENV_DIR:-} && -d $MARIA_ENV_DIR ]] || return 0
  local pid _
  pid=$(cat "$MARIA_ENV_DIR/pid" 2>/dev/null)
  timeout 30 mariadb-admin --no-defaults --socket="$MARIA_ENV_DIR/sock" -u root shutdown >/dev/null 2>&1
  if [[ -n $pid ]]; then
    for _ in $(seq 1 300); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null
  fi
  [[ -n ${MARIA_ENV_RUNNER:-} ]] && wait "$MARIA_ENV_RUNNER" 2>/dev/null
  rm -rf "$MARIA_ENV_DIR"
}
