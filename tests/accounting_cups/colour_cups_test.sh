#!/bin/bash
# colour_cups_test.sh BIN_DIR
# Every page priced as it was printed, judged on a private cupsd. A colour
# queue and a mono one print a corpus whose colour pages are known (made by
# tests/colour/make_corpus.py, as PostScript and PDF), two-sided, in 3
# copies, on A3 and in monochrome, with each job's details in its entry
# (LogJobDetails). CUPS's page_log, which also logs each job's
# print-color-mode, sides, media, originating host and copies, is the judge
# of the pages and attributes; the corpus, of the colour pages. Then a
# document Ghostscript never finishes: billed by its asked mode, measured by
# no root process, the other queue's jobs entered meanwhile, and no
# Ghostscript left once the agent is gone.
set -u
bin=$(readlink -f "$1")
here=$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")
source "$here/../../scripts/lib/cups-env.sh"
source "$here/../lib/check.sh"
source "$here/../lib/cups_test.sh"
cups_test_needs ps2pdf xmllint
[[ -x $bin/pelkomon && -x $bin/pelkoreg ]] || { echo "no pelkomon in $bin" >&2; exit 2; }
cups_test_begin
logs=$work/pelko/Logs
source "$here/../lib/daily_log.sh"
reg() { PELKO_REGISTRY=$work/registry "$bin/pelkoreg" "$@" >/dev/null; }
source "$here/../../scripts/lib/settings.sh"
measuring() { pgrep -f 'sDEVICE=ink_?cov' >/dev/null; }
cleanup_more() { pkill -KILL -f 'sDEVICE=ink_?cov' 2>/dev/null; cups_env_release "$hold" 2>/dev/null; }

export CUPS_ENV_PAGELOGFORMAT='%p %u %j %{print-color-mode} %{sides} %{media} %{job-originating-host-name} %{copies} %T %P %C'
cups_env_start || exit 1
chmod 755 "$CUPS_ENV_DIR"
hold=$work/hold
cups_env_add_queue Colour 0 "$hold" 2>/dev/null || exit 1
# The generic PostScript printer prints colour; the same one without is mono.
cups_env_add_queue Mono 0 2>/dev/null || exit 1
sed 's/^\*ColorDevice:.*/*ColorDevice: False/' "$CUPS_ENV_DIR/ppd/Mono.ppd" >"$work/mono.ppd"
lpadmin -p Mono -P "$work/mono.ppd" || exit 1
mkdir -p "$logs"
watch_printers "$work/pelko" Colour=10 Mono=4 || exit 1
settings <<EOF || exit 1
Printer1ColorCost REG_DWORD 80
Printer1DuplexDiscount REG_DWORD 50
Printer1PaperFactors REG_SZ A3=2
LogJobDetails REG_DWORD 1
EOF
PELKO_REGISTRY=$work/registry "$bin/pelkomon" >"$work/agent.out" 2>&1 &
agent=$!

python3 "$here/../colour/make_corpus.py" "$work/corpus" >"$work/corpus.txt" || exit 1
chmod -R a+rX "$work/corpus"
# One line a job: id, queue, its document's colour pages, how it is judged
# ("document": by the corpus; "request": by its asked mode, all colour).
: >"$work/jobs.txt"
print() {  # print QUEUE FILE PAGES JUDGED [lp options...]
  local queue=$1 file=$2 pages=$3 judged=$4 id
  shift 4
  id=$(lp -U anna -d "$queue" "$@" "$file" | sed -n 's/^request id is [^ ]*-\([0-9]*\) .*/\1/p')
  [[ -n $id ]] || { echo "FAIL: lp refused $file on $queue"; return 1; }
  echo "$id $queue $pages $judged" >>"$work/jobs.txt"
}
seen_printing() { cups_env_printing "$hold" "$1"; }
# The colour queue holds its first job until every job is queued and seen
# by the agent (its entry written), so each is measured from the spool.
while read -r file pages; do
  print Colour "$file" "$pages" document
done <"$work/corpus.txt"
print Colour "$work/corpus/alternate.pdf" 101010 document -o sides=two-sided-long-edge -o media=A4
print Colour "$work/corpus/logo.ps" 000000100000 document -n 3
print Colour "$work/corpus/a3.ps" 10 document -o media=A3
print Colour "$work/corpus/colour.pdf" 111 document -o print-color-mode=monochrome
print Mono "$work/corpus/colour.ps" 111 document
print Mono "$work/corpus/alternate.pdf" 101010 document -o sides=two-sided-short-edge
cups_env_release "$hold"
all_ended() { all_queues_empty Colour && all_queues_empty Mono; }
all_queues_empty() { [[ -z $(lpstat -o "$1" 2>/dev/null) ]]; }
wait_for 120 all_ended || echo "FAIL: the jobs did not all print"

judge() { python3 "$here/colour_judge.py" "$CUPS_ENV_DIR/log/page_log" "$work/jobs.txt" "$logs" "$@"; }
judged_right() { judge --quiet; }
wait_for 120 judged_right || true
check "every job's pages, colour, sides, paper, copies, client and cost as printed" "all right" "$(judge)"
for queue in Colour Mono; do
  check "$queue's log with details is well-formed" ok \
    "$(xmllint --noout "$(log_of "$queue")" 2>&1 && echo ok)"
done

# A document Ghostscript never finishes: billed by its asked mode at once.
printf '%%!PS-Adobe-3.0\n%%%%Pages: 1\n%%%%EndComments\n%%%%Page: 1 1\n{ } loop\nshowpage\n%%%%EOF\n' \
  >"$work/corpus/endless.ps"
chmod a+r "$work/corpus/endless.ps"
print Colour "$work/corpus/endless.ps" 1 request
wait_for 60 measuring || echo "FAIL: the endless document was never measured"
check "the measuring process runs as no root" "" \
  "$(for pid in $(pgrep -f 'sDEVICE=ink_?cov'); do ps -o user= -p "$pid"; done | grep -x root)"
# The other queue's job is entered while the measure still runs.
print Mono "$work/corpus/mono.ps" 000 document
mono_id=$(tail -n 1 "$work/jobs.txt" | cut -d' ' -f1)
mono_entered() { [[ $(entry Mono "$mono_id" | cut -d'|' -f4) == 3 ]]; }
wait_for 30 mono_entered || echo "FAIL: the mono job waited for the measure"
check "the measure was still running when the mono job was entered" yes "$(measuring && echo yes)"
wait_for 30 all_ended || echo "FAIL: the endless job did not print"
wait_for 120 judged_right || true
check "the endless job billed by its asked mode, the others as before" "all right" "$(judge)"

stop_process "$agent"
agent=
not_measuring() { ! measuring; }
wait_for 10 not_measuring || true
check "no Ghostscript outlives the agent" "" "$(pgrep -af 'sDEVICE=ink_?cov')"
check "agent wrote nothing to its output" "" "$(cat "$work/agent.out")"
[[ $failures -eq 0 ]]
