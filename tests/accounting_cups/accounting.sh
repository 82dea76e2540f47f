# Sourced by the accounting tests: the agent watching the test's queues,
# and every job CUPS counted (read_page_log, tests/lib/cups_test.sh) judged
# against the daily logs (entries, tests/lib/daily_log.sh). Uses the
# caller's `queues`, `cost` (QUEUE -> cost a page), `bin` and `work`.

reg() { PELKO_REGISTRY=$work/registry "$bin/pelkoreg" "$@" >/dev/null; }
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib/settings.sh"

# The settings that have the agent watch every queue at its cost, with its
# logs in $work/pelko/Logs.
watch_queues() {
  local queue printers=()
  for queue in "${queues[@]}"; do printers+=("$queue=${cost[$queue]}"); done
  watch_printers "$work/pelko" "${printers[@]}"
}

# Starts the agent on the test's settings; sets `agent`.
# The agent's system log goes to agent.log (its stderr, named as the
# journal's stream); anything else it writes, to agent.out.
start_agent() {
  touch "$work/agent.log"
  JOURNAL_STREAM=$(stat -c '%d:%i' "$work/agent.log") PELKO_REGISTRY=$work/registry \
    "$bin/pelkomon" >>"$work/agent.out" 2>>"$work/agent.log" &
  agent=$!
}
# What the agent wrote but its log lines.
agent_output() { cat "$work/agent.out"; grep -v '^<[0-7]>' "$work/agent.log"; }

queue_empty() { [[ -z $(lpstat -o "$1" 2>/dev/null) ]]; }
all_empty() {
  local queue
  for queue in "${queues[@]}"; do queue_empty "$queue" || return 1; done
}

# judge_jobs [quiet]: exact := how many jobs have one entry, with CUPS's
# pages and their cost; the others are named unless quiet.
judge_jobs() {
  local id queue pages price user expected
  local -A found=() times=()
  for queue in "${queues[@]}"; do
    while read -r id pages price user; do
      [[ -n $id ]] || continue
      found[$queue.$id]="$id $pages $price"
      times[$queue.$id]=$((${times[$queue.$id]:-0} + 1))
    done < <(entries "$(log_of "$queue")")
  done
  exact=0
  for id in "${!counted[@]}"; do
    queue=${printed_on[$id]}
    expected="$id ${counted[$id]} $((counted[$id] * cost[$queue]))"
    if [[ ${times[$queue.$id]:-0} -eq 1 && ${found[$queue.$id]} == "$expected" ]]; then
      exact=$((exact + 1))
    elif [[ -z ${1:-} ]]; then
      echo "job $id on $queue: CUPS counted ${counted[$id]}, log has: ${found[$queue.$id]:-nothing} (${times[$queue.$id]:-0} entries)"
    fi
  done
}
all_exact() {
  judge_jobs quiet
  ((exact == ${#counted[@]}))
}
# until_exact SECONDS: waits, by the clock and not by tries, for every job
# to be exact (one judgement of 200 jobs takes a while on a busy machine).
until_exact() {
  local deadline=$((SECONDS + $1))
  until all_exact; do
    ((SECONDS < deadline)) || return 1
    sleep 0.5
  done
}
