# The opening every test of the agent on a private cupsd shares. Source it
# after scripts/lib/cups-env.sh and tests/lib/check.sh, then:
#
#   cups_test_needs COMMAND...   skips the test (exit 77) unless it runs as
#                                root with cupsd and each COMMAND
#   cups_test_begin              makes $work, which cupsd's backends may
#                                read, and sets `agent` empty
#   read_page_log                CUPS's own count of each job, from its
#                                page_log: counted[ID] pages, printed_on[ID]
#                                its queue, `lines` the "total" lines read
#   agent_watches QUEUE...       waits, 30 s at most, for the agent's first
#                                look at each queue (its Path $work/pelko)
#
# On exit, also when the test is killed (check.sh sees to that), the
# test's own `cleanup_more`, where it defines one, runs first; then the
# agent named by $agent is stopped, cupsd is stopped and $work is removed,
# so no process of the test outlives it.

cups_test_needs() {
  local command
  [[ $(id -u) -eq 0 ]] || { echo "SKIP: needs root"; exit 77; }
  for command in cupsd "$@"; do
    command -v "$command" >/dev/null || { echo "SKIP: needs $command"; exit 77; }
  done
}

cups_test_begin() {
  work=$(mktemp -d)
  chmod 755 "$work"
  agent=
  trap _cups_test_end EXIT
}

_cups_test_end() {
  declare -F cleanup_more >/dev/null && cleanup_more
  [[ -n $agent ]] && stop_process "$agent"
  cups_env_stop
  rm -rf "$work"
}

# CUPS logs a "total" line at every end of a job's processing (a restart
# ends it once more); its last one is the job's count.
declare -A printed_on counted
lines=0
read_page_log() {
  local printer user id rest
  printed_on=()
  counted=()
  lines=0
  while read -r printer user id rest; do
    [[ $rest == *" total "* ]] || continue
    printed_on[$id]=$printer
    counted[$id]=${rest##* }
    lines=$((lines + 1))
  done <"$CUPS_ENV_DIR/log/page_log"
}

# A first start with no mark of when a printer was added takes every job
# that ended before its first look as printed before it watched, and bills
# none of them: a test's first job waits for that look, which writes the
# queue's book of jobs seen.
agent_watches() {
  local queue
  for queue; do
    wait_for 30 test -e "$work/pelko/$queue.seen" || {
      echo "FAIL: the agent never took its first look at $queue"
      return 1
    }
  done
}
