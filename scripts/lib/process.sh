# Waiting on processes, bounded, for the scripts and the tests: wait_for,
# stop_process, running, wait_end.
# `wait_for SECONDS COMMAND...`: true once COMMAND succeeds, tried every
# 0.1 s; false when it has not within SECONDS.
wait_for() {
  local limit=$(($1 * 10))
  shift
  for _ in $(seq 1 "$limit"); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}

# `stop_process PID [SECONDS]`: asks the process to end (SIGTERM), kills it
# when it has not within SECONDS (5), and reaps it when it is our child.
stop_process() {
  kill -TERM "$1" 2>/dev/null
  wait_for "${2:-5}" gone "$1" || kill -KILL "$1" 2>/dev/null
  wait "$1" 2>/dev/null
}
gone() { ! kill -0 "$1" 2>/dev/null; }

# `running PID`: true while the process runs (a zombie has ended).
running() {
  local state
  state=$(awk '{print $3}' "/proc/$1/stat" 2>/dev/null) && [[ $state != Z ]]
}
_not_running() { ! running "$1"; }

# `wait_end PID [SECONDS]`: sets `ended` to the status the process ended
# with, or to "running" (and kills it) when it has not ended within SECONDS
# (10). Not in $(...): a subshell cannot collect a child of this shell.
wait_end() {
  if wait_for "${2:-10}" _not_running "$1"; then
    wait "$1" 2>/dev/null
    ended=$?
  else
    kill -9 "$1" 2>/dev/null
    ended=running
  fi
}
