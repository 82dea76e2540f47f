#!/bin/bash
# What watching idle print queues costs, and how soon a job reaches the log.
#
#   bash bench/monitor_idle.sh [BUILD_DIR] [SECONDS]
#
# Starts a private cupsd (scripts/lib/cups-env.sh) with 49 generic PostScript
# queues, then runs the real agent (BUILD_DIR/bin/pelkomon, default
# build/native) with 1, 10 and 49 of them configured. For each it measures,
# over SECONDS (default 30) of idle queues, the CPU time of the agent and of
# cupsd with its children (the notifiers), from /proc, and gives it per
# queue as a share of one core. Then it prints 1-page jobs and measures the
# time from the start of lp to the job's entry in the daily log. Needs root.
set -u
here=$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")
root=$(dirname "$here")
build=$(readlink -f "${1:-$root/build/native}")
seconds=${2:-30}
bin=$build/bin
for tool in pelkomon pelkoreg; do
  [[ -x $bin/$tool ]] || { echo "monitor_idle: no $bin/$tool; build it first" >&2; exit 2; }
done
source "$root/scripts/lib/cups-env.sh"

work=$(mktemp -d)
agent=
cleanup() {
  [[ -n $agent ]] && kill -TERM "$agent" 2>/dev/null && wait "$agent" 2>/dev/null
  cups_env_stop
  rm -rf "$work"
}
trap cleanup EXIT

# CPU time in ns of a process's threads (and, with "tree", of its
# descendants'), from schedstat: ticks of 10 ms are too coarse for a queue
# that costs a few hundredths of a percent. Children that ended and were
# reaped count with their ticks (cutime and cstime of /proc/PID/stat): the
# notifiers cupsd starts come and go.
tick_ns=$((1000000000 / $(getconf CLK_TCK)))
cpu_ns() {
  local pid=$1 tree=${2:-} total=0 task run rest child stat
  for task in /proc/"$pid"/task/*/schedstat; do
    [[ -r $task ]] && read -r run rest <"$task" 2>/dev/null || continue
    total=$((total + run))
  done
  if [[ -n $tree ]]; then
    stat=$(cat /proc/"$pid"/stat 2>/dev/null)
    read -r -a stat <<<"${stat##*) }"
    total=$((total + (${stat[13]:-0} + ${stat[14]:-0}) * tick_ns))
    for child in $(cat /proc/"$pid"/task/*/children 2>/dev/null); do
      total=$((total + $(cpu_ns "$child" tree)))
    done
  fi
  echo "$total"
}

share() {  # share NS SECONDS QUEUES -> percent of one core per queue
  awk -v t="$1" -v s="$2" -v n="$3" 'BEGIN { printf "%.3f", t / 1e9 / s / n * 100 }'
}

reg() { PELKO_REGISTRY=$work/registry "$bin/pelkoreg" "$@" >/dev/null; }
source "$here/../scripts/lib/settings.sh"

configure() {  # configure N
  rm -rf "$work/registry" "$work/logs"
  mkdir -p "$work/logs/Logs"
  local i printers=()
  for i in $(seq 1 "$1"); do printers+=("Q$i=1"); done
  watch_printers "$work/logs" "${printers[@]}" || exit 1
}

start_agent() {
  PELKO_REGISTRY=$work/registry "$bin/pelkomon" >"$work/agent.out" 2>&1 &
  agent=$!
}

stop_agent() {
  kill -TERM "$agent" 2>/dev/null
  wait "$agent" 2>/dev/null
  agent=
}

ps_page() {  # a one-page PostScript document
  printf '%%!PS-Adobe-3.0\n%%%%Pages: 1\n%%%%EndComments\n%%%%Page: 1 1\n'
  printf '/Helvetica findfont 24 scalefont setfont 72 720 moveto (Pelko) show showpage\n'
  printf '%%%%EOF\n'
}

echo "starting a private cupsd with 49 queues..."
cups_env_start || exit 1
for i in $(seq 1 49); do cups_env_add_queue "Q$i" 0.2 2>/dev/null || exit 1; done
ps_page >"$work/page.ps"

base0=$(cpu_ns "$CUPS_ENV_PID" tree)
sleep "$seconds"
base=$(( $(cpu_ns "$CUPS_ENV_PID" tree) - base0 ))
echo "cupsd alone, idle: $(share "$base" "$seconds" 1) % of a core"
echo
printf '%-7s %-14s %-18s %-18s %s\n' queues agent/queue cupsd/queue "(cupsd net)/queue" \
  "agent+cupsd, all queues"

for n in 1 10 49; do
  configure "$n"
  start_agent
  # Workers started, subscriptions made, and the notifiers cupsd started
  # for them bored and gone (after 30 s): a cost of the start, not of idling.
  sleep 40
  a0=$(cpu_ns "$agent"); c0=$(cpu_ns "$CUPS_ENV_PID" tree)
  sleep "$seconds"
  a=$(( $(cpu_ns "$agent") - a0 )); c=$(( $(cpu_ns "$CUPS_ENV_PID" tree) - c0 ))
  printf '%-7s %-14s %-18s %-18s %s\n' "$n" "$(share "$a" "$seconds" "$n") %" \
    "$(share "$c" "$seconds" "$n") %" "$(share $((c - base)) "$seconds" "$n") %" \
    "$(share $((a + c)) "$seconds" 1) %"

  # Latency: the start of lp to the entry in the daily log, on the last queue.
  day=$(date +%Y%m%d)
  log=$work/logs/Logs/Q${n}_$day.xml
  latencies=()
  for round in 1 2 3 4 5; do
    sleep 1.5
    t0=$(date +%s%N)
    id=$(lp -d "Q$n" -t "lat$round" "$work/page.ps" | sed -n 's/.*Q[0-9]*-\([0-9]*\).*/\1/p')
    found=
    for _ in $(seq 1 1000); do
      if grep -q "<id>$id</id>" "$log" 2>/dev/null; then found=yes; break; fi
      sleep 0.005
    done
    t1=$(date +%s%N)
    [[ -n $found ]] && latencies+=($(( (t1 - t0) / 1000000 ))) || latencies+=(lost)
    # Let the job leave the queue before the next round.
    for _ in $(seq 1 100); do
      [[ -z $(lpstat -o "Q$n" 2>/dev/null) ]] && break
      sleep 0.1
    done
  done
  echo "        job to log on Q$n, ms: ${latencies[*]}"
  stop_agent
done
