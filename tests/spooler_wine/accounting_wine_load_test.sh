#!/bin/bash
# accounting_wine_load_test.sh PELKOMON_EXE STANDIN_DIR
# Pelkomon.exe under Wine on a busy print server: ten queues of the stand-in
# spooler, twenty jobs each from five users, all submitted at once, 1 to 9
# pages, every third job two copies and every fifth three; the queues print
# side by side; some jobs come and go between two looks; one job is
# cancelled while it prints; one is held until the test releases it. The
# stand-in advances step by step, each step once the agent has taken in the
# changes before it, so nothing hangs on the machine's pace. Every job must
# have exactly one entry with the pages the stand-in printed for it at the
# printer's cost, no entry more, and each Total must be the sum.
set -u
exe=$1
standins=$2
here=$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")
source "$here/standin-env.sh"
source "$here/../wine/eventlog.sh"
source "$here/../lib/check.sh"
standin_setup accounting_wine_load "$exe" "$standins" || exit
agent=
trap '[[ -n $agent ]] && kill -9 "$agent" 2>/dev/null; wine_cleanup' EXIT
release=$WINE_TEST_DIR/release

queues=()
declare -A cost
for n in $(seq 1 10); do
  queues+=(Room$n)
  cost[Room$n]=$((n + 1))
done
users=(anna bert cara dirk emil)

# The steps: all jobs submitted at once (those that come and go between
# looks held back to flash while the others print), then the queues print
# a page each per tick, with a look of every busy queue now and then.
declare -A load flashes
{
  echo "queues ${queues[*]}"
  echo ready
  echo "add Room1 held ${users[1]} 3"
  echo "hold held"
  echo "add Room2 cancelled ${users[0]} 12"
  load[Room2]=12
  k=0
  for queue in "${queues[@]}"; do
    for j in $(seq 1 20); do
      k=$((k + 1))
      pages=$((k % 9 + 1))
      ((k % 3 == 0)) && pages=$((pages * 2))
      ((k % 5 == 0)) && pages=$((pages * 3))
      user=${users[$((k % 5))]}
      if ((k % 7 == 0)); then
        flashes[$queue]+="flash $queue j$k $user $pages;"
      else
        echo "add $queue j$k $user $pages"
        load[$queue]=$((${load[$queue]:-0} + pages))
      fi
    done
  done
  ticks=0
  for queue in "${queues[@]}"; do ((load[$queue] > ticks)) && ticks=${load[$queue]}; done
  for t in $(seq 1 "$ticks"); do
    echo tick
    ((t == 5)) && echo "cancel cancelled"
    if ((t % 4 == 0)); then
      for queue in "${queues[@]}"; do
        rest=${flashes[$queue]:-}
        [[ -n $rest ]] || continue
        echo "${rest%%;*}"
        flashes[$queue]=${rest#*;}
      done
    fi
    ((t % 10 == 0)) && echo look
  done
  for queue in "${queues[@]}"; do tr ';' '\n' <<<"${flashes[$queue]:-}" | sed '/^$/d'; done
  echo "await $(wine_path "$release")"
  echo "release held"
  echo -e "tick\ntick\ntick\nlook"
} >"$steps"
jobs_planned=$(grep -c '^\(add\|flash\) ' "$steps")

# The settings, read back before the agent starts: a value that did not
# arrive would price a whole queue at 0.
{
  echo 'Path REG_SZ C:\pelko'
  echo "nPrinters REG_DWORD ${#queues[@]}"
  i=0
  for queue in "${queues[@]}"; do
    i=$((i + 1))
    echo "Printer$i REG_SZ $queue"
    echo "Printer${i}Cost REG_DWORD ${cost[$queue]}"
  done
  echo 'AppIsRunning REG_DWORD 1'
} | wine_settings 'HKLM\Software\Pelko' || exit 1

export WINEDLLOVERRIDES="pdh,winspool.drv=n,b"
export PELKO_STANDIN_STEPS="$(wine_path "$steps")" PELKO_STANDIN_RESULT="$(wine_path "$result")"
PELKO_WINE_TIMEOUT=500 wine_eventlog_launch "$WINE_TEST_DIR/events" "$run/Pelkomon.exe"
agent=$WINE_EVENTLOG_PID

source "$here/../lib/daily_log.sh"
# The jobs the stand-in ended: "QUEUE ID USER LABEL PAGES END_MS" lines.
ended() { grep -E '^Room[0-9]+ ' "$result"; }
# Every entry of every queue as "QUEUE ID USER|PRINTER|DOC|PAGES|COST".
table() {
  local queue
  for queue in "${queues[@]}"; do
    grep -o '<id>[0-9]*</id><user>[^<]*</user> <printer>[^<]*</printer><doc>[^<]*</doc> <pages>[0-9-]*</pages> <cost>[0-9-]*</cost>' \
      "$(log_of "$queue")" 2>/dev/null |
      sed "s|^<id>\([0-9]*\)</id><user>\([^<]*\)</user> <printer>\([^<]*\)</printer><doc>\([^<]*\)</doc> <pages>\([0-9-]*\)</pages> <cost>\([0-9-]*\)</cost>|$queue \1 \2\|\3\|\4\|\5\|\6|"
  done
}
costs=$(for queue in "${queues[@]}"; do echo -n "$queue=${cost[$queue]} "; done)
# judge [tell]: "exact N", N the jobs ended with exactly one entry holding
# their pages at their printer's cost; with tell, a line for each other.
judge() {
  table >"$WINE_TEST_DIR/entries"
  ended | awk -v costs="$costs" -v tell="${1:-}" '
    BEGIN { n = split(costs, c, " "); for (i = 1; i <= n; i++) { split(c[i], kv, "="); cost[kv[1]] = kv[2] } }
    FILENAME == ARGV[1] { key = $1 " " $2; got[key] = $3; times[key]++; next }
    {
      key = $1 " " $2; want = $3 "|" $1 "|" $4 "|" $5 "|" $5 * cost[$1]
      if (times[key] == 1 && got[key] == want) exact++
      else if (tell) print "FAIL: " $1 " job " $2 " (" $4 "): expected " want ", the log has " \
                           (key in got ? got[key] : "nothing") " (" times[key] + 0 " entries)"
    }
    END { print "exact " exact + 0 }' "$WINE_TEST_DIR/entries" -
}
all_exact() { [[ $(ended | wc -l) -eq $jobs_planned && $(judge) == "exact $jobs_planned" ]]; }
awaiting() { grep -q '^awaiting ' "$result"; }
held_seen() { grep -q '<doc>held</doc>' "$(log_of Room1)" 2>/dev/null; }
finished() { grep -qx done "$result"; }
# until SECONDS COMMAND...: bounded by the clock, however long one try takes.
until_true() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    ((SECONDS < deadline)) || return 1
    sleep 0.2
  done
}

# The held job is released once the agent has entered it, still held,
# and every other job has been printed.
until_true 300 awaiting || echo "FAIL: the stand-in never came to the held job"
until_true 30 held_seen || echo "FAIL: the held job has no entry while it waits"
touch "$release"
until_true 60 finished || echo "FAIL: the stand-in did not finish its steps"
until_true 60 all_exact
# Whatever a later pass would change shows once the agent has stopped.
WINEPREFIX=$WINEPREFIX _wine_server -k >/dev/null 2>&1
wait "$agent" 2>/dev/null
agent=

check "the stand-in ran every step in its bounds" "" \
  "$(grep -E '^(timeout|bad step)' "$result")"
check "the stand-in ended every job" "$jobs_planned" "$(ended | wc -l)"
check "a job was cancelled after 5 of its 12 pages" 1 \
  "$(ended | awk '$4 == "cancelled" && $5 == 5' | wc -l)"
check "the held job printed its 3 pages after release" 1 \
  "$(ended | awk '$4 == "held" && $5 == 3' | wc -l)"
verdict=$(judge tell)
grep -v '^exact ' <<<"$verdict"
for queue in "${queues[@]}"; do
  file=$(log_of "$queue")
  check "$queue: one entry per job, none more" "$(ended | awk -v q="$queue" '$1 == q' | wc -l)" \
    "$(grep -o '<id>' "$file" 2>/dev/null | wc -l)"
  sum=$(ended | awk -v q="$queue" -v c="${cost[$queue]}" '$1 == q { s += $5 * c } END { print s + 0 }')
  check "$queue: Total is the stand-in's pages at ${cost[$queue]} a page" 1 \
    "$(grep -c "<entry><user>Total</user><cost>$sum</cost></entry></log>\$" "$file" 2>/dev/null)"
done
exact=$(sed -n 's/^exact //p' <<<"$verdict")
echo "jobs accounted exactly: $exact / $jobs_planned"
check "every job accounted exactly" "$jobs_planned" "$exact"
if ((failures > 0)); then
  echo "what the agent reported:"
  wine_eventlog_records "$WINE_TEST_DIR/events" | sort | uniq -c | head -40
  grep -E '^(timeout|bad step)' "$result"
fi
[[ $failures -eq 0 ]]
