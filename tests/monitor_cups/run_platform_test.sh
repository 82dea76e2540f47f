#!/bin/bash
# run_platform_test.sh TEST_PROGRAM [GTEST ARGS...]
# Runs the CUPS platform tests against a private cupsd of their own, on a
# unix socket (the default server) and a loopback port (CUPS_ENV_PORT).
set -u
here=$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")
source "$here/../../scripts/lib/cups-env.sh"
if [[ $(id -u) -ne 0 ]] || ! command -v cupsd >/dev/null; then
  echo "SKIP: needs root and cupsd"
  exit 77
fi
export PELKO_TEST_DIR
PELKO_TEST_DIR=$(mktemp -d)
chmod 755 "$PELKO_TEST_DIR"
# A test restarts the scheduler, which then runs by its pid file.
stop_restarted() {
  local pid
  pid=$(cat "$CUPS_ENV_DIR/state/cupsd.pid" 2>/dev/null) || return 0
  [[ -n $pid && $pid != "${CUPS_ENV_PID:-}" ]] && stop_process "$pid"
}
trap 'stop_restarted; cups_env_stop; rm -rf "$PELKO_TEST_DIR"' EXIT
export CUPS_ENV_ACCESSLOGLEVEL=all CUPS_ENV_MAXJOBS=4
cups_env_start --tcp || exit 1
cups_env_add_queue Office 0.3 2>/dev/null || exit 1
cups_env_add_raw_queue Raw 0.3 2>/dev/null || exit 1
timeout -k 5 300 "$@"
