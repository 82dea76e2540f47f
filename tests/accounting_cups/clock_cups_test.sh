#!/bin/bash
# clock_cups_test.sh BIN_DIR --behind | --stepped | --ahead | --dst
# The catch-up must enter a job once, whatever the clocks say: it runs
# when the agent starts or cupsd comes back, here with clocks that
# disagree, under libfaketime (the monotonic clock is left real, so the
# agent's waits keep their pace):
#   --behind   the agent an hour behind cupsd, cupsd restarted twice
#   --stepped  the agent's clock stepped back an hour, the agent restarted
#              three times
#   --ahead    agent and cupsd a day ahead, then both corrected, the agent
#              restarted twice (its entries went into a log dated tomorrow)
#   --dst      TZ=Europe/Berlin across the clocks going forward
#              (2026-03-29 02:00) and back (2026-10-25 03:00), jobs
#              printing through the change, the agent restarted inside the
#              repeated hour
# After each step every job's pages, summed over all the printer's daily
# logs whatever their dates, must be exactly CUPS's own count (page_log).
# Each step first waits for the agent's catch-up to have run.
set -u
bin=$(readlink -f "$1")
mode=$2
here=$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")
source "$here/../../scripts/lib/cups-env.sh"
source "$here/../lib/check.sh"
source "$here/../lib/cups_test.sh"
cups_test_needs lp python3 inotifywait
faketime_lib=$(compgen -G '/usr/lib/*/faketime/libfaketimeMT.so.1' | head -1)
[[ -n $faketime_lib ]] || { echo "SKIP: needs libfaketime"; exit 77; }
[[ -x $bin/pelkomon && -x $bin/pelkoreg ]] || { echo "no pelkomon in $bin" >&2; exit 2; }

cups_test_begin
reader=
cleanup_more() { [[ -z $reader ]] || stop_process "$reader"; }
queue=Office
hold=$work/hold
logs=$work/pelko/Logs
source "$here/../lib/daily_log.sh"
reg() { PELKO_REGISTRY=$work/registry "$bin/pelkoreg" "$@" >/dev/null; }
source "$here/../../scripts/lib/settings.sh"

# `with_clock OFFSET COMMAND...`: COMMAND, a function too, and what it
# starts, with the clock moved by OFFSET (libfaketime's -1h, +1d, -N
# seconds); the real clock where OFFSET is empty.
with_clock() {
  local offset=$1
  shift
  if [[ -z $offset ]]; then
    "$@"
  else
    # An agent built with AddressSanitizer refuses a library preloaded ahead
    # of its runtime unless told that it is meant.
    ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0 \
      LD_PRELOAD=$faketime_lib FAKETIME=$offset FAKETIME_DONT_FAKE_MONOTONIC=1 "$@"
  fi
}
# `offset_to UTC_TIME`: the offset that makes now that time.
offset_to() { printf '%+d' $(($(date -ud "$1" +%s) - $(date +%s))); }

start_agent() {
  PELKO_REGISTRY=$work/registry "$bin/pelkomon" >>"$work/agent.out" 2>&1 &
  agent=$!
}

document() {
  local file=$work/doc$1.ps
  [[ -f $file ]] || cups_env_document "$file" "$1"
  echo "$file"
}
submit() {  # submit PAGES: the job id
  lp -d "$queue" "$(document "$1")" 2>>"$work/lp.err" |
    sed -n 's/^request id is [^ ]*-\([0-9]*\) .*/\1/p'
}
completed() { lpstat -W completed -o "$queue" 2>/dev/null | grep -q "^$queue-$1 "; }

# `logged ID`: the job's pages summed over every daily log of the printer.
logged() {
  local file id pages sum=0
  for file in "$logs/${queue}"_[0-9]*.xml; do
    while read -r id pages _; do
      [[ $id == "$1" ]] && sum=$((sum + pages))
    done < <(entries "$file")
  done
  echo $sum
}
# True once the job ended and its logs hold at least CUPS's count.
entered() {
  completed "$1" || return 1
  read_page_log
  [[ -n ${counted[$1]:-} ]] && (($(logged "$1") >= counted[$1]))
}

# `finish ID`: lets the held job print and waits for its end.
finish() {
  wait_for 60 cups_env_printing "$hold" "$1" || fail "job $1 was not held printing"
  cups_env_release "$hold" "$1"
  wait_for 60 completed "$1" || fail "job $1 did not end"
}
print_watched() {  # print_watched PAGES: a job printed while the agent watches
  local id
  id=$(submit "$1")
  finish "$id"
  wait_for 30 entered "$id" || echo "job $id not entered while watched"
}

# `restart_agent CLOCK CUPSD_CLOCK [ACROSS]`: the agent stopped, cupsd
# restarted on CUPSD_CLOCK (unless "keep"), a job ends unseen, and the
# agent started on CLOCK. With ACROSS a job of that many pages is held
# printing through the restart, and the unseen job ends before it. Only the
# catch-up can enter the unseen job: once it is entered, the catch-up has
# run.
restart_agent() {
  local marker= across=
  stop_process "$agent"
  if [[ -n ${3:-} ]]; then
    marker=$(submit 1)
    finish "$marker"
    across=$(submit "$3")
    held "$across"
  fi
  [[ $2 == keep ]] || with_clock "$2" cups_env_restart || fail "cupsd did not start again"
  if [[ -z $marker ]]; then
    marker=$(submit 1)
    finish "$marker"
  fi
  with_clock "$1" start_agent
  wait_for 30 entered "$marker" || echo "job $marker, ended unseen, not entered"
  [[ -z $across ]] || print_held "$across"
}
held() { wait_for 60 cups_env_printing "$hold" "$1" || fail "job $1 was not held printing"; }
print_held() {
  finish "$1"
  wait_for 30 entered "$1" || echo "job $1 not entered"
}

# `restart_cupsd ACROSS`: cupsd restarted while the agent watches and a job
# of ACROSS pages prints. The agent is seen to find cupsd down, so it
# catches up once cupsd is back (within kCatchUpRetryMs, 30 s, of its last
# catch-up), and to read its mark of when it began to watch, which only a
# catch-up does. The job is let go only then: its entry, made by the same
# worker, comes after the catch-up's.
restart_cupsd() {
  local across
  across=$(submit "$1")
  held "$across"
  cups_env_restart outage || fail "cupsd did not start again"
  ended=none
  [[ -z $reader ]] || wait_end "$reader" 100
  reader=
  check "the agent caught up after cupsd came back" 0 "$ended"
  print_held "$across"
}
# While cupsd is down: its socket takes one connection of the agent and
# closes it, and a reader of the old log only a catch-up reads is awaited.
outage() {
  timeout 30 python3 -c '
import os, socket, sys
if os.path.exists(sys.argv[1]):
    os.unlink(sys.argv[1])
with socket.socket(socket.AF_UNIX) as listener:
    listener.bind(sys.argv[1])
    listener.listen()
    listener.accept()[0].close()
os.unlink(sys.argv[1])' "$CUPS_SERVER" || fail "the agent did not look while cupsd was down"
  inotifywait -t 90 -e open "$old_log" >/dev/null 2>"$work/inotify.err" &
  reader=$!
  wait_for 10 grep -q "Watches established" "$work/inotify.err" || fail "inotifywait did not start"
}

# `judge STEP`: every job's pages in the logs against CUPS's count.
judge() {
  local id expected= actual=
  read_page_log
  for id in $(printf '%s\n' "${!counted[@]}" | sort -n); do
    expected+="$id:${counted[$id]} "
    actual+="$id:$(logged "$id") "
  done
  check "$1: pages of each job (job:pages)" "$expected" "$actual"
}

# `begin AGENT_CLOCK CUPSD_CLOCK`: cupsd with the queue, the agent, and its
# first look (the book of seen jobs begun). A log of 20 days ago, which
# only a catch-up reads, tells when one runs.
begin() {
  with_clock "$2" cups_env_start || exit 1
  cups_env_add_queue "$queue" 0.02 "$hold" 2>/dev/null || exit 1
  mkdir -p "$logs"
  old_log=$logs/${queue}_$(date -d '-20 days' +%Y%m%d).xml
  printf '%s' "<?xml version='1.0' encoding='ISO-8859-1' ?> <?xml-stylesheet href='Tavisk.xsl' type='text/xsl' ?><log> <type>$queue</type> <date>$(date -d '-20 days' +%Y/%m/%d)</date><entry><user>Total</user><cost>0</cost></entry></log>" >"$old_log"
  watch_printers "$work/pelko" "$queue=1" || exit 1
  with_clock "$1" start_agent
  wait_for 30 test -e "$work/pelko/$queue.seen" || fail "the agent did not take its first look"
}

case $mode in
  --behind)
    echo "the agent an hour behind cupsd"
    begin -1h ""
    print_watched 3
    judge "a job entered while watched"
    for n in 1 2; do
      echo "cupsd restarted while a job prints ($n)"
      restart_cupsd 2
      judge "restart $n of cupsd"
    done
    ;;
  --stepped)
    echo "the agent's clock stepped back an hour"
    begin "" ""
    print_watched 2
    judge "a job entered on the real clock"
    for n in 1 2 3; do
      echo "the agent restarted an hour behind ($n)"
      restart_agent -1h keep
      print_watched 2
      judge "restart $n an hour behind"
    done
    ;;
  --ahead)
    echo "agent and cupsd a day ahead"
    begin +1d +1d
    print_watched 3
    judge "a job entered a day ahead"
    echo "both clocks corrected: cupsd and the agent restarted on the real clock"
    restart_agent "" ""
    judge "corrected"
    echo "the agent restarted again"
    restart_agent "" keep
    judge "restarted after the correction"
    ;;
  --dst)
    export TZ=Europe/Berlin
    echo "01:50 CET before the clocks go forward"
    begin "$(offset_to '2026-03-29 00:50')" "$(offset_to '2026-03-29 00:50')"
    print_watched 2
    judge "a job entered before the clocks go forward"
    echo "03:10 CEST: the clocks went forward, a job printing through the change"
    now=$(offset_to '2026-03-29 01:10')
    restart_agent "$now" "$now" 3
    judge "after the clocks went forward"
    echo "02:30 CEST before the clocks go back"
    now=$(offset_to '2026-10-25 00:30')
    restart_agent "$now" "$now"
    print_watched 2
    judge "a job entered before the clocks go back"
    echo "02:10 CET, the repeated hour: the clocks went back, a job printing through the change"
    now=$(offset_to '2026-10-25 01:10')
    restart_agent "$now" "$now" 3
    judge "after the clocks went back"
    echo "the agent restarted inside the repeated hour"
    restart_agent "$now" keep
    judge "restarted inside the repeated hour"
    ;;
  *)
    echo "usage: clock_cups_test.sh BIN_DIR --behind|--stepped|--ahead|--dst" >&2
    exit 2
    ;;
esac
check "agent still running" yes "$(running "$agent" && echo yes)"
check "agent wrote nothing to its output" "" "$(cat "$work/agent.out")"
[[ $failures -eq 0 ]]
