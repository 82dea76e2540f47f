#!/bin/bash
# Where the Linux agent says its troubles: standard error while that is the
# journal stream systemd gave it (JOURNAL_STREAM names its device and inode),
# syslog otherwise. No syslog daemon is needed: only the stderr side is
# looked at.
set -u
probe=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
source "$(dirname "$0")/../lib/check.sh"

# Runs the probe with stderr on FILE and JOURNAL_STREAM set to STREAM (none
# when empty).
say() {
  local file=$1 stream=$2
  shift 2
  if [[ -n $stream ]]; then
    JOURNAL_STREAM=$stream timeout 10 "$probe" "$@" 2>>"$file"
  else
    (unset JOURNAL_STREAM; timeout 10 "$probe" "$@" 2>>"$file")
  fi
}
stream_of() { stat -c '%d:%i' "$1"; }

journal=$work/journal
: >"$journal"
say "$journal" "$(stream_of "$journal")" warning 'cannot write C:\Logs\Office_20261207.xml'
say "$journal" "$(stream_of "$journal")" error 'the e-mail alert thread failed: std::bad_alloc' 'second'
say "$journal" "$(stream_of "$journal")" info $'a line\nbroken in two'
check "journal entries carry their priority, one per line" \
  "<4>cannot write C:\\Logs\\Office_20261207.xml|<3>the e-mail alert thread failed: std::bad_alloc|<3>second|<6>a line broken in two" \
  "$(paste -sd'|' "$journal")"

# The variable inherited by a program whose stderr went elsewhere.
other=$work/other
: >"$other"
say "$other" "$(stream_of "$journal")" warning 'not the journal'
check "a stale JOURNAL_STREAM leaves stderr alone" "" "$(cat "$other")"
say "$other" "" warning 'no systemd'
say "$other" "garbage" warning 'bad variable'
check "without the journal nothing goes to stderr" "" "$(cat "$other")"

[[ $failures -eq 0 ]]
