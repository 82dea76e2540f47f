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
say "$journal" "$(stream_of "$journal")" warning 3001 'cannot write C:\Logs\Office_20261207.xml'
say "$journal" "$(stream_of "$journal")" error 1010 'the e-mail alert thread failed: std::bad_alloc' 'second'
say "$journal" "$(stream_of "$journal")" info 1099 $'a line\nbroken in two'
# The tag is what `journalctl -g '\[E3001\]'` finds.
check "journal entries carry their priority and kind, one per line" \
  "<4>[E3001] cannot write C:\\Logs\\Office_20261207.xml|<3>[E1010] the e-mail alert thread failed: std::bad_alloc|<3>[E1010] second|<6>[E1099] a line broken in two" \
  "$(paste -sd'|' "$journal")"

# The variable inherited by a program whose stderr went elsewhere.
other=$work/other
: >"$other"
say "$other" "$(stream_of "$journal")" warning 1099 'not the journal'
check "a stale JOURNAL_STREAM leaves stderr alone" "" "$(cat "$other")"
say "$other" "" warning 1099 'no systemd'
say "$other" "garbage" warning 1099 'bad variable'
check "without the journal nothing goes to stderr" "" "$(cat "$other")"

[[ $failures -eq 0 ]]
