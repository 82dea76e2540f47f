#!/bin/bash
# The main job, end to end, on this machine: builds the agent and its tools,
# starts a private CUPS server with one printer that prints to nowhere at a
# printer's pace, configures the agent for it, has two people print real
# documents at the same time and shows the daily log that the agent wrote
# for them, and the report a person reads. Leaves the system's own CUPS and
# settings alone; everything lives in a temporary folder, removed at the end.
#
#   bash tools/demo/run-demo.sh
#
# Environment: PELKO_BUILD_DIR (default build/demo), PELKO_JOBS (parallel
# build jobs, default 2), PELKO_DEMO_KEEP=1 to keep the temporary folder.
set -u
root=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/../.." && pwd)
build=${PELKO_BUILD_DIR:-$root/build/demo}
jobs=${PELKO_JOBS:-2}
cost=5

say() { printf '\n== %s\n' "$*"; }
die() { printf 'run-demo: %s\n' "$*" >&2; exit 1; }

if [[ $(id -u) -ne 0 ]]; then
  # cupsd runs its filters as lp, and the agent must see every job's user
  # and title: both want root.
  command -v sudo >/dev/null || die "run me as root"
  exec sudo -E bash "$0" "$@"
fi

# --- What is missing ---------------------------------------------------------
say "Installing what the demo needs, where it is missing"
bash "$root/scripts/setup.sh" demo || die "installing what the demo needs failed"

# --- Build ---------------------------------------------------------------------
say "Building the agent in $build (the compiler's output: $build/build.log)"
cd "$root" || die "no $root"
mkdir -p "$build"
built_badly() { tail -n 30 "$build/build.log" >&2; die "$1 (the whole output: $build/build.log)"; }
# The programs alone: the demo needs neither the tests nor the benchmarks.
cmake --preset native -B "$build" -DPELKO_BUILD_TESTS=OFF -DPELKO_BUILD_BENCH=OFF >"$build/build.log" 2>&1 ||
  built_badly "cmake configure failed"
cmake --build "$build" -j "$jobs" --target pelkomon pelkoreg stopmon pelko_stylesheet >>"$build/build.log" 2>&1 ||
  built_badly "build failed"
bin=$build/bin
for built in pelkomon pelkoreg stopmon Tavisk.xsl; do
  [[ -e $bin/$built ]] || die "the build made no $bin/$built"
done

# --- A private CUPS server -------------------------------------------------------
source "$root/scripts/lib/cups-env.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/pelko-demo.XXXXXX")
chmod 755 "$work"
agent=
cleanup() {
  # Whatever happened above, no agent of ours outlives the demo.
  if [[ -n $agent ]] && kill -0 "$agent" 2>/dev/null; then
    kill -TERM "$agent" 2>/dev/null
    for _ in $(seq 1 50); do kill -0 "$agent" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$agent" 2>/dev/null
    wait "$agent" 2>/dev/null
  fi
  cups_env_stop
  if [[ -n ${PELKO_DEMO_KEEP:-} ]]; then
    echo "kept $work"
  else
    rm -rf "$work"
  fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

say "Starting a private CUPS server (unix socket under $work)"
cups_env_start || die "cupsd did not start"
echo "scheduler: $CUPS_SERVER"
cups_env_add_queue Office 1 || die "lpadmin failed"
lpstat -v Office

# --- The agent's settings ---------------------------------------------------------
export PELKO_REGISTRY=$work/registry
mkdir -p "$work/pelko/Logs"
# The report stylesheet beside the logs, so a browser shows them as reports.
cp "$bin/Tavisk.xsl" "$work/pelko/Logs/"
reg() { "$bin/pelkoreg" add 'HKLM\Software\Pelko' "$@" /f >/dev/null || die "pelkoreg $*"; }
say "Writing the settings to the registry store $PELKO_REGISTRY"
reg /v Path /t REG_SZ /d "$work/pelko"
reg /v nPrinters /t REG_DWORD /d 1
reg /v Printer1 /t REG_SZ /d Office
reg /v Printer1Cost /t REG_DWORD /d "$cost"
reg /v AppIsRunning /t REG_DWORD /d 1
"$bin/pelkoreg" query 'HKLM\Software\Pelko'

say "Starting $bin/pelkomon"
"$bin/pelkomon" >"$work/agent.out" 2>&1 &
agent=$!
sleep 1
kill -0 "$agent" 2>/dev/null || die "the agent did not start: $(cat "$work/agent.out")"

# --- Documents --------------------------------------------------------------------
postscript() {  # postscript PAGES TITLE: a document with that many pages
  local i
  printf '%%!PS-Adobe-3.0\n%%%%Title: %s\n%%%%Pages: %d\n%%%%EndComments\n' "$2" "$1"
  for i in $(seq 1 "$1"); do
    printf '%%%%Page: %d %d\n' "$i" "$i"
    printf '/Helvetica-Bold findfont 28 scalefont setfont 72 700 moveto (%s) show\n' "$2"
    printf '/Helvetica findfont 14 scalefont setfont 72 660 moveto (Page %d of %d) show\n' \
      "$i" "$1"
    printf 'showpage\n'
  done
  printf '%%%%EOF\n'
}
postscript 3 "Quarterly report" >"$work/report.ps"
gs -q -dBATCH -dNOPAUSE -dSAFER -sDEVICE=pdfwrite -sOutputFile="$work/report.pdf" \
  "$work/report.ps" || die "ghostscript failed"
postscript 2 "Invoice 2026-12" >"$work/invoice.ps"
postscript 4 "Minutes" >"$work/minutes.ps"
gs -q -dBATCH -dNOPAUSE -dSAFER -sDEVICE=pdfwrite -sOutputFile="$work/minutes.pdf" \
  "$work/minutes.ps" || die "ghostscript failed"

log=$work/pelko/Logs/Office_$(date +%Y%m%d).xml
entry_of() {  # the pages and cost of a job's entry: "PAGES COST"
  grep -o "<id>$1</id><user>[^<]*</user> <printer>[^<]*</printer><doc>[^<]*</doc> <pages>[0-9-]*</pages> <cost>[0-9-]*</cost>" \
    "$log" 2>/dev/null | sed 's|.*<pages>\([0-9-]*\)</pages> <cost>\([0-9-]*\)</cost>|\1 \2|'
}
in_queue() { lpstat -o Office 2>/dev/null | grep -q "^Office-$1 "; }

failures=0
declare -A expected_pages=() titles=()
print_job() {  # print_job USER FILE PAGES TITLE: the job's id in $printed
  local user=$1 file=$2 pages=$3 title=$4
  printed=$(lp -U "$user" -d Office -t "$title" "$file" |
            sed -n 's/^request id is Office-\([0-9]*\) .*/\1/p')
  if [[ -z $printed ]]; then
    echo "lp failed for $file"
    failures=$((failures + 1))
    return
  fi
  expected_pages[$printed]=$pages
  titles[$printed]=$title
  printf '%s printed %-12s %d pages, title "%s": job %s\n' "$user" "$(basename "$file")" \
    "$pages" "$title" "$printed"
}

say "Printing: anna and paul print at the same time (the printer takes about a second a page)"
print_job anna "$work/report.pdf" 3 "Q3 <draft> & Bob's notes"
print_job paul "$work/invoice.ps" 2 "Invoice 2026-12"
print_job anna "$work/minutes.pdf" 4 "Minutes"

# Every job's entry must come to its own pages, whoever's pass read the
# counter. Waits (bounded) until all have left the queue and their entries
# hold what they printed.
all_logged() {
  local id
  for id in "${!expected_pages[@]}"; do
    in_queue "$id" && return 1
    [[ $(entry_of "$id") == "${expected_pages[$id]} $((expected_pages[$id] * cost))" ]] || return 1
  done
}
for _ in $(seq 1 600); do  # at most 60 s
  all_logged && break
  sleep 0.1
done
sleep 2.5  # a pass under way when the last job left
for id in $(printf '%s\n' "${!expected_pages[@]}" | sort -n); do
  pages=${expected_pages[$id]}
  got=$(entry_of "$id")
  if [[ $got == "$pages $((pages * cost))" ]]; then
    echo "job $id (\"${titles[$id]}\"): logged $pages pages, cost $((pages * cost))"
  else
    echo "job $id: WRONG: expected '$pages $((pages * cost))' (pages cost), the log has '${got:-nothing}'"
    failures=$((failures + 1))
  fi
done

say "The daily log $log"
if command -v xmllint >/dev/null; then
  xmllint --noout "$log" && echo "(well-formed XML)"
fi
cat "$log"
echo
echo
if command -v xmllint >/dev/null; then xmllint --format "$log" | sed 1d; fi

if xsltproc "$work/pelko/Logs/Tavisk.xsl" "$log" >"$work/report.html"; then
  echo "The report as a person reads it: $work/report.html (PELKO_DEMO_KEEP=1 keeps it)"
else
  echo "xsltproc could not make the report"
  failures=$((failures + 1))
fi

say "Stopping the agent with stopmon, and the private CUPS server"
stop_failed=
if ! "$bin/stopmon"; then
  echo "stopmon failed"
  stop_failed=yes
fi
for _ in $(seq 1 100); do kill -0 "$agent" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$agent" 2>/dev/null; then
  echo "the agent did not stop within 10 s (the clean-up ends it)"
  stop_failed=yes
else
  wait "$agent"
  echo "agent ended with status $?"
  agent=
fi

if [[ $failures -ne 0 ]]; then
  say "$failures job(s) or report(s) did not come out as expected"
  exit 1
fi
if [[ -n $stop_failed ]]; then
  say "Every job is in the log, but stopping the agent failed"
  exit 1
fi
say "Done: every job is in the log with its pages and cost ($cost a page)."
