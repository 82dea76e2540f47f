#!/bin/bash
# The main job, end to end, on this machine: builds the agent, starts a
# private CUPS server with one printer that prints to nowhere at a printer's
# pace, configures the agent for it, prints real documents and shows the
# daily log that the agent wrote for them. Leaves the system's own CUPS and
# settings alone; everything lives in a temporary folder, removed at the end.
#
#   bash tools/demo/run-demo.sh
#
# Environment: PELKO_BUILD_DIR (default build/native), PELKO_JOBS (parallel
# build jobs, default 2), PELKO_DEMO_KEEP=1 to keep the temporary folder.
set -u
root=$(cd "$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/../.." && pwd)
build=${PELKO_BUILD_DIR:-$root/build/native}
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
packages=(cups cups-client cups-bsd cups-filters cups-daemon ghostscript libcups2-dev
          cmake ninja-build g++ pkg-config googletest libgtest-dev libgmock-dev
          libbenchmark-dev libxml2-utils)
missing=()
for package in "${packages[@]}"; do
  dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done
if [[ ${#missing[@]} -gt 0 ]]; then
  say "Installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q || die "apt-get update failed"
  # Installing cups must not start (or enable) the system's scheduler for us.
  printf '#!/bin/sh\nexit 101\n' >/usr/sbin/policy-rc.d.pelko-demo
  chmod 755 /usr/sbin/policy-rc.d.pelko-demo
  if [[ ! -e /usr/sbin/policy-rc.d ]]; then
    mv /usr/sbin/policy-rc.d.pelko-demo /usr/sbin/policy-rc.d
    placed_policy=yes
  else
    rm -f /usr/sbin/policy-rc.d.pelko-demo
  fi
  apt-get install -y -q --no-install-recommends "${missing[@]}"
  status=$?
  [[ ${placed_policy:-} == yes ]] && rm -f /usr/sbin/policy-rc.d
  [[ $status -eq 0 ]] || die "apt-get install failed"
fi

# --- Build ---------------------------------------------------------------------
say "Building the agent in $build"
cd "$root" || die "no $root"
cmake --preset native -B "$build" >/dev/null || die "cmake configure failed"
cmake --build "$build" -j "$jobs" --target pelkomon pelkoreg || die "build failed"
bin=$build/bin

# --- A private CUPS server -------------------------------------------------------
source "$root/tests/cups/cups-env.sh"
work=$(mktemp -d /tmp/pelko-demo.XXXXXX)
chmod 755 "$work"
agent=
cleanup() {
  if [[ -n $agent ]]; then
    kill -TERM "$agent" 2>/dev/null
    for _ in $(seq 1 50); do kill -0 "$agent" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$agent" 2>/dev/null
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
cups_env_add_queue Office 1 2>/dev/null || die "lpadmin failed"
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
# Prints a document and waits (bounded) until its entry holds its pages and
# cost and the job has left the queue; the next one is printed only then, so
# that each job's pages rise the counter during passes of its own.
print_and_wait() {  # print_and_wait USER FILE PAGES TITLE
  local user=$1 file=$2 pages=$3 title=$4 id got
  id=$(lp -U "$user" -d Office -t "$title" "$file" |
       sed -n 's/^request id is Office-\([0-9]*\) .*/\1/p')
  [[ -n $id ]] || { echo "lp failed for $file"; failures=$((failures + 1)); return; }
  printf '%s printed %-12s %d pages, title "%s": job %s\n' "$user" "$(basename "$file")" \
    "$pages" "$title" "$id"
  for _ in $(seq 1 600); do  # at most 60 s
    got=$(entry_of "$id")
    [[ $got == "$pages $((pages * cost))" ]] && ! in_queue "$id" && break
    sleep 0.1
  done
  sleep 2.5  # the pass under way when the job left
  got=$(entry_of "$id")
  if [[ $got == "$pages $((pages * cost))" ]]; then
    echo "  logged: $pages pages, cost $((pages * cost))"
  else
    echo "  WRONG: expected '$pages $((pages * cost))' (pages cost), the log has '${got:-nothing}'"
    failures=$((failures + 1))
  fi
}

say "Printing (the printer takes about a second a page)"
print_and_wait anna "$work/report.pdf" 3 "Q3 <draft> & Bob's notes"
print_and_wait paul "$work/invoice.ps" 2 "Invoice 2026-12"
print_and_wait anna "$work/minutes.pdf" 4 "Minutes"

say "The daily log $log"
if command -v xmllint >/dev/null; then
  xmllint --noout "$log" && echo "(well-formed XML)"
fi
cat "$log"
echo
echo
if command -v xmllint >/dev/null; then xmllint --format "$log" | sed 1d; fi

if command -v xsltproc >/dev/null; then
  xsltproc "$work/pelko/Logs/Tavisk.xsl" "$log" >"$work/report.html" 2>/dev/null &&
    echo "The report as a person reads it: $work/report.html (PELKO_DEMO_KEEP=1 keeps it)"
fi

say "Stopping the agent with stopmon, and the private CUPS server"
"$bin/stopmon" || echo "stopmon failed"
for _ in $(seq 1 100); do kill -0 "$agent" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$agent" 2>/dev/null; then
  echo "the agent did not stop within 10 s"
  failures=$((failures + 1))
else
  wait "$agent"
  echo "agent ended with status $?"
fi
agent=

if [[ $failures -eq 0 ]]; then
  say "Done: every job is in the log with its pages and cost ($cost a page)."
else
  say "$failures job(s) did not reach the log as expected"
  exit 1
fi
