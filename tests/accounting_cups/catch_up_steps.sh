# Sourced by accounting_cups_test.sh --catchup: jobs of a held queue end
# while nobody watches them. Each job of the queue is held printing by the
# test backend until it is let go, so which jobs end when is the test's
# choice, not the machine's pace. Uses the caller's agent, start_agent, reg.

_is_held() { cups_env_held "$_hold" >/dev/null; }

# Lets the held job go and waits until CUPS has it as ended.
_end_held() {
  local id
  wait_for 60 _is_held || { echo "FAIL: no job of $_queue held printing"; return 1; }
  id=$(cups_env_held "$_hold")
  cups_env_release "$_hold" "$id"
  wait_for 60 cups_env_ended "$_queue" "$id" || echo "FAIL: job $id did not end"
  caught_up+=("$id")
}

_entered() {
  local id
  for id; do entries "$(log_of "$_queue")" | grep -q "^$id " || return 1; done
}
_notifier_lines() { grep -c '\[Notifier\]' "$CUPS_ENV_DIR/log/error_log" 2>/dev/null; }

# catch_up_steps QUEUE HOLD_FOLDER
catch_up_steps() {
  _queue=$1 _hold=$2
  caught_up=()
  wait_for 60 _is_held || echo "FAIL: no job of $_queue began to print"

  echo "the agent killed while jobs print; two end before it starts again"
  kill -KILL "$agent"
  wait "$agent" 2>/dev/null
  _end_held && _end_held
  start_agent
  # Once the new agent has entered them it has looked at the queue and
  # cancelled the subscriptions the killed one left: cupsd's notifiers for
  # those would fail at every later event.
  wait_for 60 _entered "${caught_up[@]}" || echo "FAIL: the jobs that ended while it was killed have no entries"
  local failed_pushes
  failed_pushes=$(_notifier_lines)

  echo "the printer threads restarted (IsModified) while two jobs end"
  reg add 'HKLM\Software\Pelko' /v IsModified /t REG_DWORD /d 1 /f
  _end_held && _end_held
  check "no notifier fails once the agent is back" "$failed_pushes" "$(_notifier_lines)"

  echo "the agent stopped while a job ends and cupsd restarts"
  kill -STOP "$agent"
  _end_held
  cups_env_restart || echo "FAIL: cupsd did not start again"
  kill -CONT "$agent"
  _end_held
  check "jobs ended while nobody watched" 6 "${#caught_up[@]}"
}
