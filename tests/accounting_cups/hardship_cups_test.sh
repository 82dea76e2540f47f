#!/bin/bash
# hardship_cups_test.sh BIN_DIR --kills | --disk
# The agent's accounting through hard times, judged by CUPS's page_log:
# every job must end with exactly one entry with CUPS's pages and their
# cost, and every daily log must stay whole.
# --kills: the agent SIGKILLed ten times while three queues print fifteen
#   jobs, each held printing by the test backend until the test lets it go;
#   then cupsd SIGKILLed while a job prints on each queue, and started again.
# --disk: the Logs folder on a 256 KiB tmpfs. It fills up while eleven jobs
#   print (their pages wait in "Front.pending"), and is entered once space
#   is freed, without a restart; then it is read-only while six jobs print
#   on three queues, which are entered once it is writable again.
set -u
bin=$(readlink -f "$1")
mode=${2:-}
here=$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")
source "$here/../../scripts/lib/cups-env.sh"
source "$here/../lib/check.sh"
source "$here/../lib/cups_test.sh"
cups_test_needs xmllint
[[ -x $bin/pelkomon && -x $bin/pelkoreg ]] || { echo "no pelkomon in $bin" >&2; exit 2; }
[[ $mode == --kills || $mode == --disk ]] || { echo "usage: $0 BIN_DIR --kills|--disk" >&2; exit 2; }
# The tmpfs in a mount namespace of the test's own goes with the test's
# last process, even where a CTest timeout kills them all at once.
if [[ $mode == --disk && -z ${HARDSHIP_OWN_MOUNTS:-} ]] &&
  unshare --mount --propagation private true 2>/dev/null; then
  HARDSHIP_OWN_MOUNTS=yes exec unshare --mount --propagation private \
    bash "${BASH_SOURCE[0]}" "$@"
fi

queues=(Front Lab Back)
declare -A cost=([Front]=5 [Lab]=7 [Back]=3)
source "$here/../lib/daily_log.sh"
source "$here/accounting.sh"

cups_test_begin
logs=$work/pelko/Logs
mounted=
# The agent first, so that nothing holds the tmpfs busy.
cleanup_more() {
  [[ -n $agent ]] && stop_process "$agent"
  agent=
  [[ -n $mounted ]] && { umount "$logs" || umount -l "$logs"; }
}

mkdir -p "$logs"
if [[ $mode == --disk ]]; then
  mount -t tmpfs -o size=256k,mode=0755 tmpfs "$logs" ||
    { echo "SKIP: cannot mount a tmpfs for the Logs folder"; exit 77; }
  mounted=yes
else
  # What cupsd forgets when it is killed is not the agent's to count: it
  # saves its jobs at once.
  export CUPS_ENV_DIRTYCLEAN=0
fi

cups_env_start || exit 1
chmod 755 "$CUPS_ENV_DIR"
for queue in "${queues[@]}"; do
  cups_env_add_queue "$queue" 0.02 "$work/hold-$queue" 2>/dev/null || exit 1
done
watch_queues || exit 1

kills=0
kill_agent() {
  { kill -KILL "$agent" && wait "$agent"; } 2>/dev/null
  kills=$((kills + 1))
}
start_agent
first_agent=$agent
agent_watches "${queues[@]}" || exit 1

# print QUEUE PAGES LP_OPTIONS...: the job id.
print() {
  local queue=$1 pages=$2
  shift 2
  [[ -f $work/doc$pages.ps ]] || cups_env_document "$work/doc$pages.ps" "$pages"
  lp -d "$queue" "$@" "$work/doc$pages.ps" | sed -n 's/^request id is [^ ]*-\([0-9]*\) .*/\1/p'
}
entered() { [[ -n $(entry "$1" "$2") ]]; }
held() { cups_env_held "$work/hold-$1" >/dev/null; }
release_all() {
  local queue
  for queue in "${queues[@]}"; do cups_env_release "$work/hold-$queue"; done
}
logs_whole() {
  local file
  for file in "$logs"/*.xml; do xmllint --noout "$file" 2>/dev/null || return 1; done
}

# kept_exact WHAT JOBS: once the queues are empty, every job in page_log
# (JOBS of them) must reach its exact entry, and stay so: a job printed on
# each queue after them is entered exactly too, so the agent has passed
# over every queue since.
kept_exact() {
  local queue
  wait_for 120 all_empty || fail "the queues did not empty"
  read_page_log
  check "$1: every job printed" "$2" "${#counted[@]}"
  until_exact 60
  release_all
  for queue in "${queues[@]}"; do print "$queue" 1 -t after >/dev/null; done
  wait_for 60 all_empty || fail "the last jobs did not print"
  read_page_log
  until_exact 60
  judge_jobs
  check "$1: every job accounted exactly" "${#counted[@]}" "$exact"
  check "$1: every log whole" yes "$(logs_whole && echo yes)"
}

# The agent watches every queue once a first job on each is entered.
for queue in "${queues[@]}"; do
  cups_env_release "$work/hold-$queue" "$(print "$queue" 1 -t first)"
done
wait_for 60 all_empty || fail "the first jobs did not print"
read_page_log
until_exact 60 || { fail "the agent entered no first jobs"; exit 1; }

if [[ $mode == --kills ]]; then
  # Five jobs a queue, 1 to 5 pages, every third with two copies; each
  # queue's first is held printing from the start.
  k=0
  for queue in "${queues[@]}"; do
    for _ in 1 2 3 4 5; do
      k=$((k + 1))
      copies=()
      ((k % 3 == 0)) && copies=(-n 2)
      print "$queue" $((k % 5 + 1)) "${copies[@]}" -t "job $k" >/dev/null
    done
  done
  # Fifteen ends of a job, queue after queue, so that the two other queues
  # hold a job printing at every kill. Ten ends are cut by a kill: after
  # the agent entered the job, which then ends while the agent is down; or
  # at once as the job is let go, while the agent sees it end.
  echo "the agent killed ten times while three queues print"
  for r in $(seq 0 14); do
    queue=${queues[r % 3]}
    wait_for 60 held "$queue" || { fail "no job of $queue held printing"; break; }
    id=$(cups_env_held "$work/hold-$queue")
    case $(((r + r / 3) % 3)) in
      1)
        wait_for 30 entered "$queue" "$id" || fail "job $id was not entered while it printed"
        kill_agent
        cups_env_release "$work/hold-$queue" "$id"
        wait_for 60 cups_env_ended "$queue" "$id" || fail "job $id did not end"
        start_agent
        ;;
      2)
        cups_env_release "$work/hold-$queue" "$id"
        kill_agent
        start_agent
        ;;
      *) cups_env_release "$work/hold-$queue" "$id" ;;
    esac
  done
  check "the agent was killed while jobs printed" 10 "$kills"
  kept_exact "agent killed" 18

  echo "cupsd killed while a job prints on each queue, and started again"
  for queue in "${queues[@]}"; do
    rm -f "$work/hold-$queue"/*  # every job before has ended: hold anew
    print "$queue" 3 -t "cut 1" >/dev/null
    print "$queue" 2 -t "cut 2" >/dev/null
  done
  cut=()
  for queue in "${queues[@]}"; do
    wait_for 60 held "$queue" && id=$(cups_env_held "$work/hold-$queue") &&
      wait_for 30 entered "$queue" "$id" && cut+=("$id")
  done
  check "a job held printing and entered on each queue" 3 "${#cut[@]}"
  orphans=$(pgrep -P "$CUPS_ENV_PID")
  { kill -KILL "$CUPS_ENV_PID" && wait "$CUPS_ENV_PID"; } 2>/dev/null
  # The killed scheduler's backends print on alone once let go.
  release_all
  for pid in $orphans; do wait_for 30 _not_running "$pid" || kill -KILL "$pid" 2>/dev/null; done
  cups_env_restart || exit 1
  kept_exact "cupsd killed" 27
  # CUPS prints a job cut short again and counts its pages anew on top.
  for id in "${cut[@]}"; do
    check "job $id cut short: CUPS counted its 3 pages twice" 6 "${counted[$id]:-none}"
  done
else
  title=$(printf 'T%.0s' $(seq 1 240))
  release_all
  # Twelve jobs with long titles make Front's log longer than a page of the
  # tmpfs, so that one free page takes "Front.pending" but not the log.
  for k in $(seq 1 12); do print Front 1 -t "$title $k" >/dev/null; done
  wait_for 60 all_empty || fail "the first jobs did not print"
  read_page_log
  until_exact 60 || fail "the first jobs were not entered"
  log=$(log_of Front)
  check "Front's log is longer than a page" yes "$( (($(stat -c %s "$log") > 4096)) && echo yes)"
  cp "$log" "$work/front-before"

  echo "the Logs folder full while eleven jobs print"
  free=$(stat -f -c %a "$logs")
  dd if=/dev/zero of="$logs/filler" bs=4096 count=$((free - 1)) status=none 2>/dev/null
  check "one page left free" 1 "$(stat -f -c %a "$logs")"
  full=("$(print Front 2 -t "full 1")")
  wait_for 30 test -e "$logs/Front.pending" || fail "no Front.pending while the log cannot grow"
  # Room for the next Front.pending beside the last, still none for the log.
  truncate -s -4096 "$logs/filler"
  for k in $(seq 2 11); do full+=("$(print Front $((k % 5 + 1)) -t "full $k")"); done
  wait_for 60 all_empty || fail "the jobs did not print on a full disk"
  read_page_log
  full_pages=0
  for id in "${full[@]}"; do full_pages=$((full_pages + ${counted[$id]:-0})); done
  pending_pages() { awk -F'\t' '{ s += $3 } END { print s + 0 }' "$logs/Front.pending" 2>/dev/null; }
  waiting() { [[ $(pending_pages) == "$full_pages" ]]; }
  wait_for 30 waiting
  check "the pages of the eleven jobs wait in Front.pending" "$full_pages" "$(pending_pages)"
  check "Front's log as it was before the disk filled" yes \
    "$(cmp -s "$log" "$work/front-before" && echo yes)"
  check "every log whole on a full disk" yes "$(logs_whole && echo yes)"
  rm "$logs/filler"
  freed=$SECONDS
  until_exact 60
  echo "entered $((SECONDS - freed)) s after the space was freed"
  judge_jobs
  check "the eleven jobs entered once space is freed" 26 "$exact"
  wait_for 30 test ! -e "$logs/Front.pending" || fail "Front.pending outlived what it held"

  echo "the Logs folder read-only while six jobs print"
  # Refused while the agent has a file there open for writing.
  read_only() { mount -o remount,ro "$logs" 2>/dev/null; }
  wait_for 10 read_only || fail "the Logs folder could not be made read-only"
  for queue in "${queues[@]}"; do
    print "$queue" 2 -t "read-only 1" >/dev/null
    print "$queue" 3 -n 2 -t "read-only 2" >/dev/null
  done
  wait_for 60 all_empty || fail "the jobs did not print on a read-only folder"
  mount -o remount,rw "$logs" || fail "the Logs folder could not be made writable"
  kept_exact "read-only while printing" 32
  check "the agent that saw it all still runs" yes \
    "$([[ $agent == "$first_agent" ]] && running "$agent" && echo yes)"
fi
check "the agent wrote nothing to its output" "" "$(cat "$work/agent.out")"
[[ $failures -eq 0 ]]
