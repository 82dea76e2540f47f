# Sourced by the database benches after setting here (their folder): the
# process helpers, both databases' environments (each bench needs both),
# and a folder of the run's own in work.
source "$here/../scripts/lib/process.sh"
source "$here/../scripts/lib/pg-env.sh"
source "$here/../scripts/lib/maria-env.sh"
pg_env_available || { echo "needs root, PostgreSQL and its ODBC driver" >&2; exit 2; }
maria_env_available || { echo "needs MariaDB and its ODBC driver" >&2; exit 2; }
work=$(mktemp -d)
chmod 755 "$work"
