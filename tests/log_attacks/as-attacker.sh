#!/bin/sh
# as-attacker.sh PROGRAM [ARGS]: runs PROGRAM as root with a new unprivileged
# user named in PELKO_ATTACKER, and removes the user afterwards.
if [ "$(id -u)" != 0 ] || ! command -v useradd >/dev/null; then
  echo "needs root and useradd: skipped" >&2
  exit 77
fi
user="pelkoatk$$"
group=
getent group nogroup >/dev/null && group="--gid nogroup"
# Other tests may be adding users at the same moment: /etc/passwd is locked
# for a while then.
retry() {
  for _ in 1 2 3 4 5 6 7 8 9 10; do
    "$@" 2>/dev/null && return 0
    sleep 1
  done
  "$@"
}
retry useradd --no-create-home --no-user-group $group --shell /usr/sbin/nologin "$user" ||
  exit 1
trap 'retry userdel "$user"' EXIT
trap 'exit 1' INT TERM
PELKO_ATTACKER="$user" "$@"
