# Checks for the shell tests: `check WHAT EXPECTED ACTUAL` prints ok or FAIL
# and counts failures; `fail WHAT` counts one where there is no value to
# show. End a script with `[[ $failures -eq 0 ]]`.
failures=0
check() {
  if [[ "$2" == "$3" ]]; then
    echo "ok: $1"
  else
    echo "FAIL: $1: expected '$2', got '$3'"
    failures=$((failures + 1))
  fi
}
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# A test killed (a CTest timeout sends SIGTERM) still runs its EXIT trap, so
# what it started does not outlive it: bash skips that trap on a signal it
# is not told to exit on.
trap 'exit 143' TERM
trap 'exit 130' INT

# The bounded waits on processes (wait_for, stop_process, wait_end).
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib/process.sh"
