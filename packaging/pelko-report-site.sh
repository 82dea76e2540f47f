#!/bin/sh
# The report site of the settings in /etc/default/pelko-report-site, as
# pelko-report-site.service runs it.
set -eu

if [ -z "${SITE_DIR:-}" ]; then
  echo "pelko-report-site: SITE_DIR is empty in /etc/default/pelko-report-site" >&2
  exit 1
fi
if [ -n "${DATABASE:-}" ]; then
  # The password, where a drop-in hands it over with
  # LoadCredential=database-password:FILE.
  if [ -n "${CREDENTIALS_DIRECTORY:-}" ] && [ -f "$CREDENTIALS_DIRECTORY/database-password" ]; then
    exec /usr/bin/pelkoreport --site "$SITE_DIR" --database "$DATABASE" --password-stdin \
      <"$CREDENTIALS_DIRECTORY/database-password"
  fi
  exec /usr/bin/pelkoreport --site "$SITE_DIR" --database "$DATABASE"
fi
exec /usr/bin/pelkoreport --site "$SITE_DIR" "${LOGS_DIR:-/var/lib/pelko/Logs}"
