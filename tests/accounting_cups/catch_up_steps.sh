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

  echo "the printer threads restarted (IsModified) while two jobs end"
  reg add 'HKLM\Software\Pelko' /v IsModified /t REG_DWORD /d 1 /f
  _end_held && _end_held

  echo "the agent stopped while a job ends and cupsd restarts"
  kill -STOP "$agent"
  _end_held
  cups_env_restart || echo "FAIL: cupsd did not start again"
  kill -CONT "$agent"
  _end_held
  check "jobs ended while nobody watched" 6 "${#caught_up[@]}"
}
