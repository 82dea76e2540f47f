#!/bin/sh
# as-attacker.sh PROGRAM [ARGS]: runs PROGRAM as root with a new unprivileged
# user named in PELKO_ATTACKER, and removes the user afterwards.
if [ "$(id -u)" != 0 ] || ! command -v useradd >/dev/null; then
  echo "needs root and useradd: skipped" >&2
  exit 77
fi
user="pelkoatk$$"
useradd --no-create-home --no-user-group --gid nogroup --shell /usr/sbin/nologin "$user" ||
  exit 1
trap 'userdel "$user" 2>/dev/null' EXIT INT TERM
PELKO_ATTACKER="$user" "$@"
