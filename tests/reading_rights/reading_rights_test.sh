#!/bin/bash
# reading_rights_test.sh LOG_WRITER PELKOREPORT
# The logs folder as the package makes it (root:pelko, 2750): the daily log
# and the global log the agent writes there are root's, of the folder's
# group, mode 0640, so a member of the group reads them and makes reports
# without root, and a user outside it cannot. The group and both users are
# made and removed here (a group of the test's own, not the package's).
set -u
writer=$1
report=$2
here=$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")
source "$here/../lib/check.sh"
if [[ $(id -u) -ne 0 ]] || ! command -v useradd >/dev/null || ! command -v runuser >/dev/null; then
  echo "SKIP: needs root, useradd and runuser"
  exit 77
fi

tag=$$
group=pkgrp$tag
member=pkmem$tag
outsider=pkout$tag
work=$(mktemp -d)
cleanup() {
  userdel "$member" >/dev/null 2>&1
  userdel "$outsider" >/dev/null 2>&1
  groupdel "$group" >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT

groupadd --system "$group" || exit 1
useradd --no-create-home --user-group --shell /usr/sbin/nologin -G "$group" "$member" || exit 1
useradd --no-create-home --user-group --shell /usr/sbin/nologin "$outsider" || exit 1
chmod 0755 "$work"
install -d -m 2750 -o root -g "$group" "$work/Logs"
# The users run the report from here: the build folder may be under a home
# only root can enter, and runuser's status for a program it cannot start
# (1) would pass for the report's own.
install -m 0755 "$report" "$work/pelkoreport"
report=$work/pelkoreport

# As the service writes: root, its unit's umask.
paths=$( (umask 0027; "$writer" "$work") ) || { echo "FAIL: the writer"; exit 1; }
daily=$(sed -n 1p <<<"$paths")
global=$(sed -n 2p <<<"$paths")
for log in "$daily" "$global"; do
  name=$(basename "$log")
  check "$name: root's, of the group, 0640" "root $group 640" "$(stat -c '%U %G %a' "$log")"
  check "$name: a member reads it" 0 "$(runuser -u "$member" -- cat "$log" >/dev/null 2>&1; echo $?)"
  check "$name: an outsider cannot" 1 "$(runuser -u "$outsider" -- cat "$log" >/dev/null 2>&1; echo $?)"
done
check "a member makes a report of the folder" 0 \
  "$(runuser -u "$member" -- "$report" --summary "$work/Logs" >/dev/null 2>&1; echo $?)"
check "an outsider cannot list the folder" no \
  "$(runuser -u "$outsider" -- ls "$work/Logs" >/dev/null 2>&1 && echo yes || echo no)"
check "nor make a report of it" 1 \
  "$(runuser -u "$outsider" -- "$report" --summary "$work/Logs" >/dev/null 2>&1; echo $?)"

[[ $failures -eq 0 ]]
