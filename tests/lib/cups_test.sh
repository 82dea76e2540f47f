# The opening every test of the agent on a private cupsd shares. Source it
# after scripts/lib/cups-env.sh and tests/lib/check.sh, then:
#
#   cups_test_needs COMMAND...   skips the test (exit 77) unless it runs as
#                                root with cupsd and each COMMAND
#   cups_test_begin              makes $work, which cupsd's backends may
#                                read, and sets `agent` empty
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
