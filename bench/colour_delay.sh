#!/bin/bash
# The delay from a job's end to its final entry, with colour measured and
# without: median and 95th percentile, in ms.
#
#   bash bench/colour_delay.sh [BUILD_DIR] [ROUNDS] [GAP_SECONDS]
#
# Starts a private cupsd (scripts/lib/cups-env.sh) with a colour queue
# printing 20 pages a second, and the agent twice: "off", the printer's one
# price and no details (no Ghostscript runs), then "on", a colour price and
# LogJobDetails 1. Each time tests/colour's corpus is printed ROUNDS times
# (default 2), all at once or GAP_SECONDS apart (default 0: a burst, whose
# documents wait in turn for the printer's one measuring thread), and
# bench/colour_delay.py times each job from its line in
# CUPS's page_log to the entry that is final: its pages and, measuring, its
# colour counted from the document. Needs root, cupsd and Ghostscript.
set -u
here=$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")
root=$(dirname "$here")
build=$(readlink -f "${1:-$root/build/native}")
rounds=${2:-2}
gap=${3:-0}
bin=$build/bin
[[ -x $bin/pelkomon && -x $bin/pelkoreg ]] || { echo "colour_delay: no pelkomon in $bin" >&2; exit 2; }
source "$root/scripts/lib/cups-env.sh"
work=$(mktemp -d)
chmod 755 "$work"
agent=
trap '[[ -n $agent ]] && stop_process "$agent"; cups_env_stop; rm -rf "$work"' EXIT
reg() { PELKO_REGISTRY=$work/registry "$bin/pelkoreg" "$@" >/dev/null; }
source "$root/scripts/lib/settings.sh"
cups_env_start || exit 1
chmod 755 "$CUPS_ENV_DIR"
cups_env_add_queue Colour 0.05 2>/dev/null || exit 1
python3 "$root/tests/colour/make_corpus.py" "$work/corpus" >"$work/corpus.txt" || exit 1
chmod -R a+rX "$work/corpus"

for mode in off on; do
  rm -rf "$work/pelko" "$work/registry"
  mkdir -p "$work/pelko/Logs"
  watch_printers "$work/pelko" Colour=10 || exit 1
  if [[ $mode == on ]]; then
    printf 'Printer1ColorCost REG_DWORD 80\nLogJobDetails REG_DWORD 1\n' | settings || exit 1
  fi
  PELKO_REGISTRY=$work/registry "$bin/pelkomon" >>"$work/agent.out" 2>&1 &
  agent=$!
  : >"$work/jobs"
  for _ in $(seq 1 "$rounds"); do
    while read -r path _; do
      lp -d Colour "$path" | sed -n 's/.*Colour-\([0-9]*\).*/\1/p' >>"$work/jobs"
      sleep "$gap"
    done <"$work/corpus.txt"
  done
  echo -n "measuring $mode: "
  python3 "$here/colour_delay.py" "$CUPS_ENV_DIR/log/page_log" "$work/jobs" \
    "$work/pelko/Logs/Colour_$(date +%Y%m%d).xml" "$mode" || exit 1
  stop_process "$agent"
  agent=
done
