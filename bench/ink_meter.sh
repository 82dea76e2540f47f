#!/bin/bash
# What measuring colour costs: ms per page and pages judged right.
#
#   bash bench/ink_meter.sh [BUILD_DIR]
#
# Starts a private cupsd (scripts/lib/cups-env.sh) with a queue whose
# backend holds every job, submits tests/colour's corpus to it and runs
# BUILD_DIR/bin/ink_meter_bench (default build/native), which measures each
# job five times through the real ink meter. Needs root, cupsd and
# Ghostscript.
set -u
here=$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")
root=$(dirname "$here")
build=$(readlink -f "${1:-$root/build/native}")
[[ -x $build/bin/ink_meter_bench ]] || { echo "ink_meter: no $build/bin/ink_meter_bench" >&2; exit 2; }
source "$root/scripts/lib/cups-env.sh"
work=$(mktemp -d)
chmod 755 "$work"
trap 'cups_env_release "$work/hold" 2>/dev/null; cups_env_stop; rm -rf "$work"' EXIT
cups_env_start || exit 1
cups_env_add_queue Office 0 "$work/hold" 2>/dev/null || exit 1
python3 "$root/tests/colour/make_corpus.py" "$work/corpus" | while read -r path colours; do
  id=$(lp -d Office "$path" | sed -n 's/.*Office-\([0-9]*\).*/\1/p')
  echo "$id $path $colours"
done >"$work/jobs"
PELKO_INK_JOBS=$work/jobs PELKO_INK_FOLDER=$work/ink nice "$build/bin/ink_meter_bench"
