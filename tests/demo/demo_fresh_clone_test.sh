#!/bin/bash
# demo_fresh_clone_test.sh SOURCE_DIR
# Clones the repository into an empty folder and runs the demo there, so
# that a build or install step the demo relies on but does not do itself
# fails here rather than for a newcomer. Afterwards no process of the demo
# (its agent, its cupsd) may be left running.
set -u
source_dir=$1
if [[ $(id -u) -ne 0 ]] || ! command -v git >/dev/null || ! command -v cupsd >/dev/null; then
  echo "SKIP: needs root, git and cupsd"
  exit 77
fi
if ! git -C "$source_dir" rev-parse --git-dir >/dev/null 2>&1; then
  echo "SKIP: $source_dir is no git work tree"
  exit 77
fi

work=$(mktemp -d)
chmod 755 "$work"  # cupsd runs its filters as lp
cleanup() {
  pkill -KILL -f "$work/" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
source "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/../lib/check.sh"

git clone --quiet "$source_dir" "$work/clone" || { echo "FAIL: git clone"; exit 1; }
check "no build folder in the clone" "no" "$([[ -e $work/clone/build ]] && echo yes || echo no)"

# The demo's folders, its cupsd's among them, under ours: what is left
# running is found by its path.
mkdir -m 755 "$work/tmp"
TMPDIR=$work/tmp timeout 800 bash "$work/clone/tools/demo/run-demo.sh" >"$work/demo.out" 2>&1
status=$?
cat "$work/demo.out"
check "the demo's exit status" 0 "$status"
check "every job logged" 1 "$(grep -c 'every job is in the log with its pages' "$work/demo.out")"
check "jobs logged with their pages" 3 "$(grep -c ': logged [0-9]* pages, cost' "$work/demo.out")"
check "the report was made" 1 "$(grep -c 'The report as a person reads it' "$work/demo.out")"
check "the agent ended by stopmon with 0" 1 "$(grep -c 'agent ended with status 0' "$work/demo.out")"
check "no process of the demo left" "" "$(pgrep -af "$work/" | grep -v pgrep)"
[[ $failures -eq 0 ]]
