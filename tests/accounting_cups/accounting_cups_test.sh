#!/bin/bash
# accounting_cups_test.sh BIN_DIR [--restart | --load | --catchup]
# Jobs printed at once by several users on several queues of a private cupsd,
# judged by CUPS's own count: every job in its page_log ("total" lines) must
# have exactly one entry in its printer's daily log, with exactly the pages
# CUPS counted and their cost, and every Total must be the sum of the day.
# One job is cancelled while it prints, one is held and released later; with
# --restart the scheduler is also restarted while the jobs print. --load is
# a busy print server: ten queues, five users, twenty jobs a queue of 1 to 9
# pages, 1 to 3 copies, some two-sided, one queue disabled while the jobs
# arrive and enabled after; half the queues mono, the others with a colour
# price three times the mono one and each job's details logged, so that
# each document is measured: every page (black text) must come out mono. --catchup has jobs end while nobody watches:
# while the agent is killed, while its printer threads restart (IsModified),
# and while it is stopped and cupsd restarts.
# Prints "jobs accounted exactly: N / M" and the time from each job's end
# to its final entry.
set -u
bin=$(readlink -f "$1")
restart=${2:-}
here=$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")
source "$here/../../scripts/lib/cups-env.sh"
source "$here/../lib/check.sh"
source "$here/../lib/cups_test.sh"
source "$here/accounting.sh"
cups_test_needs runuser
[[ -x $bin/pelkomon && -x $bin/pelkoreg ]] || { echo "no pelkomon in $bin" >&2; exit 2; }

queues=(Front Lab Back)
declare -A cost=([Front]=5 [Lab]=7 [Back]=3)
declare -A pace=([Front]=0.1 [Lab]=0.15 [Back]=0.05)  # seconds a page
jobs_per_user=8
user_count=3
disabled=
if [[ $restart == --load ]]; then
  for n in 1 2 3 4 5 6 7; do
    queues+=(Room$n)
    cost[Room$n]=$((n + 1))
    pace[Room$n]=0.02
  done
  for queue in "${queues[@]}"; do pace[$queue]=0.02; done
  jobs_per_user=4
  user_count=5
  disabled=Room3
fi

cups_test_begin
users=()
poller=
cleanup_more() {
  [[ -n $poller ]] && kill "$poller" 2>/dev/null && wait "$poller" 2>/dev/null
  local user
  for user in "${users[@]}"; do userdel "$user" 2>/dev/null; done
}


now_ms() { echo $(($(date +%s%N) / 1000000)); }

document() {  # document PAGES: a PostScript file of that many pages
  local file=$work/doc$1.ps
  [[ -f $file ]] || cups_env_document "$file" "$1"
  echo "$file"
}

# submit USER QUEUE PAGES OPTIONS...: prints as that user; the job id. A
# scheduler swamped by hundreds of clients at once may turn lp away before
# it made a job ("printer does not exist", "unable to connect"): lp tries
# again, a few times.
submit() {
  local user=$1 queue=$2 pages=$3 id
  shift 3
  for _ in 1 2 3 4 5; do
    id=$(runuser -u "$user" -- env CUPS_SERVER="$CUPS_SERVER" \
      lp -d "$queue" "$@" "$(document "$pages")" 2>>"$work/lp.err" |
      sed -n 's/^request id is [^ ]*-\([0-9]*\) .*/\1/p')
    [[ -n $id ]] && break
    sleep 1
  done
  echo "$id"
}

logs=$work/pelko/Logs
source "$here/../lib/daily_log.sh"

# Every quarter second: when each page_log line and each entry's page count
# was first seen, for the latencies.
poll() {
  local seen=0 line count id pages
  declare -A known
  for _ in $(seq 1 4000); do
    count=$(cat "$CUPS_ENV_DIR/log/page_log" 2>/dev/null | wc -l)
    if ((count > seen)); then
      sed -n "$((seen + 1)),${count}p" "$CUPS_ENV_DIR/log/page_log" |
        while read -r line; do echo "$(now_ms) $line"; done >>"$work/ends"
      seen=$count
    fi
    for queue in "${queues[@]}"; do
      while read -r id pages _; do
        [[ -n $id && -z ${known[$id.$pages]:-} ]] || continue
        known[$id.$pages]=1
        echo "$(now_ms) $id $pages" >>"$work/seen"
      done < <(entries "$(log_of "$queue")")
    done
    sleep 0.25
  done
}

# Three users of our own, so that CUPS records real originating users.
for n in $(seq 1 $user_count); do
  user=pk$$u$n
  useradd -M -N -s /usr/sbin/nologin "$user" || exit 1
  users+=("$user")
done

cups_env_start || exit 1
chmod 755 "$CUPS_ENV_DIR"
# Lab's jobs wait, printing, until the test lets them go on: the first is
# cancelled while it prints. With --restart Back's first job is held
# printing while cupsd restarts, so the restart surely cuts it short.
declare -A hold=([Lab]=$work/hold-Lab)
[[ $restart == --restart || $restart == --catchup ]] && hold[Back]=$work/hold-Back
for queue in "${queues[@]}"; do
  cups_env_add_queue "$queue" "${pace[$queue]}" "${hold[$queue]:-}" 2>/dev/null || exit 1
done
mono=()
[[ $restart == --load ]] && mono=(Room1 Room2 Room3 Room4 Room5)
for queue in "${mono[@]}"; do
  sed 's/^\*ColorDevice:.*/*ColorDevice: False/' "$CUPS_ENV_DIR/ppd/$queue.ppd" >"$work/mono.ppd"
  lpadmin -p "$queue" -P "$work/mono.ppd" || exit 1
done

mkdir -p "$work/pelko/Logs"
watch_queues || exit 1
if [[ $restart == --load ]]; then
  for i in "${!queues[@]}"; do
    [[ " ${mono[*]} " == *" ${queues[$i]} "* ]] && continue
    echo "Printer$((i + 1))ColorCost REG_DWORD $((3 * cost[${queues[$i]}]))"
  done | settings || exit 1
  echo "LogJobDetails REG_DWORD 1" | settings || exit 1
fi
start_agent
poll &
poller=$!
agent_watches "${queues[@]}" || exit 1

# A 12-page job that is cancelled while it prints, and one held. CUPS
# drops a cancelled job's document, so whether it is measured depends on
# when the cancel comes: it asks for mono, which needs no measuring.
cancelled=$(submit "${users[0]}" Lab 12 -o print-color-mode=monochrome -t cancelled)
held=$(submit "${users[1]}" Front 3 -H hold -t held)
# Everybody prints at once: 1 to 5 pages, every third job with two copies
# (with --load: 1 to 9 pages, every fifth 3 copies, every fourth two-sided).
[[ -n $disabled ]] && cupsdisable "$disabled"
k=0
submissions=()
for queue in "${queues[@]}"; do
  for user in "${users[@]}"; do
    for j in $(seq 1 $jobs_per_user); do
      k=$((k + 1))
      copies=()
      pages=$((k % 5 + 1))
      ((k % 3 == 0)) && copies=(-n 2)
      if [[ $restart == --load ]]; then
        pages=$((k % 9 + 1))
        ((k % 5 == 0)) && copies=(-n 3)
        ((k % 4 == 0)) && copies+=(-o sides=two-sided-long-edge)
      fi
      submit "$user" "$queue" "$pages" "${copies[@]}" -t "job $k" >/dev/null &
      submissions+=($!)
    done
  done
done
cut=no
wait_for 60 cups_env_printing "${hold[Lab]}" "$cancelled" &&
  wait_for 20 cancel "$cancelled" 2>/dev/null && cut=yes
cups_env_release "${hold[Lab]}"
# A restart in the middle of a submission may lose the job being sent.
wait "${submissions[@]}"
[[ -n $disabled ]] && cupsenable "$disabled"
if [[ $restart == --restart ]]; then
  held_printing() { compgen -G "${hold[Back]}/printing-*" >/dev/null; }
  wait_for 60 held_printing || echo "FAIL: no job of Back began to print"
  echo "restarting cupsd while a job prints"
  cups_env_restart || exit 1
  cups_env_release "${hold[Back]}"
fi
if [[ $restart == --catchup ]]; then
  source "$here/catch_up_steps.sh"
  catch_up_steps Back "${hold[Back]}"
  cups_env_release "${hold[Back]}"
fi
lp -i "$held" -H resume || echo "FAIL: the held job could not be released"

# The queues print for about a minute. Then the entries are given time to
# be complete, and a little more: no later pass may change them.
wait_for 240 all_empty || { echo "FAIL: the queues did not empty"; lpstat -o; lpstat -p; }
read_page_log
# Measured documents put their jobs' first entries right as they come.
until_exact $([[ $restart == --load ]] && echo 240 || echo 60)
sleep 3

read_page_log
if [[ $restart == --restart ]]; then
  echo "jobs the restart cut short: $((lines - ${#counted[@]}))"
  check "the restart cut jobs short" yes "$( ((lines > ${#counted[@]})) && echo yes)"
fi
judge_jobs
total_jobs=${#counted[@]}
submitted=$((${#queues[@]} * user_count * jobs_per_user + 2))
check "every job submitted printed" "$submitted" "$total_jobs"
((total_jobs == submitted)) || cat "$work/lp.err"
for queue in "${queues[@]}"; do
  file=$(log_of "$queue")
  total=$(sed -n 's|.*<entry><user>Total</user><cost>\([0-9-]*\)</cost></entry></log>$|\1|p' \
    "$file" 2>/dev/null)
  check "$queue: Total is the sum of its entries" \
    "$(entries "$file" | awk '{ s += $3 } END { print s + 0 }')" "$total"
  pages=0
  for id in "${!counted[@]}"; do
    [[ ${printed_on[$id]} == "$queue" ]] && pages=$((pages + counted[$id]))
  done
  check "$queue: Total is CUPS's pages at ${cost[$queue]} a page" $((pages * cost[$queue])) "$total"
done
check "the users are CUPS's" "$user_count" "$(for queue in "${queues[@]}"; do cat "$(log_of "$queue")"; done 2>/dev/null |
  grep -o "<user>pk$$u[0-9]</user>" | sort -u | wc -l)"
if [[ $restart == --load ]]; then
  # The kinds of entry of a queue's jobs, as "colour pages/how told".
  job_colours() { grep -oP '<id>\d+</id>.*?<colorfrom>[a-z]*</colorfrom>' "$(log_of "$1")"; }
  kinds() { sed 's|.*<colorpages>\([0-9]*\)<.*<colorfrom>\([a-z]*\)<.*|\1/\2|' | sort -u | xargs; }
  colour_of() { job_colours "$1" | grep -v "^<id>$cancelled</id>" | kinds; }
  check "the cancelled job is mono, as it asked" "0/request" \
    "$(job_colours Lab | grep "^<id>$cancelled</id>" | kinds)"
  for queue in "${queues[@]}"; do
    if [[ " ${mono[*]} " == *" $queue "* ]]; then
      # A cupsd too busy to say the printer prints no colour leaves it to
      # the job's own request for mono.
      check "$queue: every page mono, as its printer or its request tells" yes \
        "$([[ $(colour_of "$queue") =~ ^0/(printer|request)( 0/(printer|request))?$ ]] && echo yes)"
    else
      check "$queue: every page mono, as its document tells" "0/document" "$(colour_of "$queue")"
    fi
  done
fi
check "a job was cancelled while it printed" yes "$cut"
check "the cancelled job was counted by CUPS" yes "$([[ -n ${counted[$cancelled]:-} ]] && echo yes)"
check "the held job was counted by CUPS" 3 "${counted[$held]:-none}"
check "agent still running" yes "$(kill -0 "$agent" 2>/dev/null && echo yes)"
check "agent wrote nothing to its output" "" "$(agent_output)"
((failures > 0)) && grep -i "measur\|colour" "$work/agent.log"

# Latency: from the job's last "total" line to its entry with those pages.
latencies=$(for id in "${!counted[@]}"; do
  ended=$(awk -v id="$id" '$4 == id && / total / { t = $1 } END { print t }' "$work/ends")
  final=$(awk -v id="$id" -v p="${counted[$id]}" '$2 == id && $3 == p { print $1; exit }' \
    "$work/seen" 2>/dev/null)
  [[ -n $ended && -n $final ]] && echo $((final > ended ? final - ended : 0))
done | sort -n)
if [[ -n $latencies ]]; then
  n=$(wc -l <<<"$latencies")
  echo "latency from a job's end to its final entry, ms: median $(sed -n "$(((n + 1) / 2))p" \
    <<<"$latencies"), max $(tail -1 <<<"$latencies") (over $n jobs)"
fi
# cupsd starts a notifier for each subscription, which pushes to the
# agent's listener; none may fail to reach it. (--catchup kills the agent,
# whose notifiers then fail until the next agent cancels its leftovers.)
if [[ $restart != --catchup ]]; then
  check "cupsd's notifiers all reached the agent" "" \
    "$(grep -m 3 '\[Notifier\]' "$CUPS_ENV_DIR/log/error_log" 2>/dev/null)"
fi
echo "jobs accounted exactly: $exact / $total_jobs"
check "every job accounted exactly" "$total_jobs" "$exact"
[[ $failures -eq 0 ]]
