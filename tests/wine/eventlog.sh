# Bash functions that read what a Windows program under Wine writes to the
# Event Log. Wine keeps no Event Log; its ReportEventW traces each string on
# the debug channel "eventlog" ("err" for an error, "warn" for a warning,
# "trace" otherwise), after a "fixme:advapi" line with its arguments (the
# category and the event ID among them), so a program run with
# WINEDEBUG=$WINE_EVENTLOG_DEBUG has its records on its standard error. Use
# after wine-env.sh:
#
#   source tests/wine/wine-env.sh
#   source tests/wine/eventlog.sh
#   wine_setup || exit 1
#   trap wine_cleanup EXIT
#   wine_eventlog_launch "$WINE_TEST_DIR/events" "$exe" args...
#   record=$(wine_eventlog_wait "$WINE_TEST_DIR/events" 'held.*Office_' 30)
#
# wine_eventlog_launch LOG EXE [ARGS...]
#                   Starts EXE in the background, from WINE_TEST_DIR, bounded
#                   by PELKO_WINE_TIMEOUT (600 s), its standard error (and so
#                   its records) appended to LOG; its pid in WINE_EVENTLOG_PID.
#                   wine_cleanup ends it with the prefix.
# wine_eventlog_records LOG
#                   Every record in LOG so far, one a line: the type (error,
#                   warning or info), a tab, the text as the program gave it.
# wine_eventlog_events LOG
#                   As wine_eventlog_records, each line led by the record's
#                   event ID and category: "4010<tab>4<tab>error<tab>text".
# wine_eventlog_wait LOG REGEX SECONDS
#                   Waits up to SECONDS for a record whose line (as above)
#                   matches the extended REGEX; prints the first one and
#                   returns 0, or returns 1 when none came.
#
# Wine cuts a traced string at about 300 characters (the "..." after it is
# dropped here) and writes a string with line breaks as one record a line.

WINE_EVENTLOG_DEBUG=-all,+eventlog,fixme+advapi

wine_eventlog_launch() {
  local log=$1
  shift
  (cd "$WINE_TEST_DIR" &&
    WINEDEBUG=$WINE_EVENTLOG_DEBUG exec timeout "${PELKO_WINE_TIMEOUT:-600}" "$WINE" "$@" \
      2>>"$log" >/dev/null) &
  WINE_EVENTLOG_PID=$!
}

wine_eventlog_records() {
  [[ -f $1 ]] || return 0
  # 0024:warn:eventlog:ReportEventW L"text", the text escaped C-like.
  sed -n -E 's/^[0-9a-f]+:(err|warn|trace):eventlog:ReportEventW L"(.*)"(\.\.\.)?\r?$/\1\t\2/p' "$1" |
    sed -E 's/^err\t/error\t/; s/^warn\t/warning\t/; s/^trace\t/info\t/' |
    sed -E 's/\\"/"/g; s/\\\\/\\/g'
}

wine_eventlog_events() {
  [[ -f $1 ]] || return 0
  # 0024:fixme:advapi:ReportEventW (handle,0x0001,0x0004,0x00000faa,...): stub, then
  # the strings of that thread's record.
  sed -n -E 's/^([0-9a-f]+):fixme:advapi:ReportEventW \([^,]*,0x[0-9a-f]+,0x([0-9a-f]+),0x([0-9a-f]+),.*$/\1 head \2 \3/p;
             s/^([0-9a-f]+):(err|warn|trace):eventlog:ReportEventW L"(.*)"(\.\.\.)?\r?$/\1 line \2 \3/p' "$1" |
    while read -r thread what first rest; do
      if [[ $what == head ]]; then
        printf -v "_wine_event_$thread" '%d\t%d' "0x${rest}" "0x${first}"
      else
        local head="_wine_event_$thread"
        printf '%s\t%s\t%s\n' "${!head:-0$'\t'0}" "$first" "$rest"
      fi
    done |
    sed -E 's/\terr\t/\terror\t/; s/\twarn\t/\twarning\t/; s/\ttrace\t/\tinfo\t/' |
    sed -E 's/\\"/"/g; s/\\\\/\\/g'
}

wine_eventlog_wait() {
  local log=$1 regex=$2 seconds=$3 found
  local until=$((SECONDS + seconds))
  while :; do
    found=$(wine_eventlog_records "$log" | grep -E -m1 -e "$regex")
    [[ -n $found ]] && { printf '%s\n' "$found"; return 0; }
    ((SECONDS >= until)) && return 1
    sleep 0.2
  done
}
