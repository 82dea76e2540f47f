#!/bin/bash
# accounting_wine_test.sh PELKOMON_EXE STANDIN_DIR
# Pelkomon.exe under Wine against the stand-in winspool.drv and pdh.dll: a
# scenario prints on three queues at once, several jobs waiting while one
# prints, and jobs that come and go between two looks. Every job's entry in
# the daily log must hold exactly the pages the stand-in printed for it, at
# pages x the printer's cost, and each Total the sum.
set -u
exe=$1
standins=$2
here=$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")
source "$here/standin-env.sh"
source "$here/../lib/check.sh"
standin_setup accounting_wine "$exe" "$standins" || exit

# Times in ms from the agent's first look. Flash jobs come and go at once,
# while their queue prints another job.
cat >"$scenario" <<'EOF'
page_ms 300
6000 Office alice report 3
6010 Office bob memo 1
6020 Office carol slides 5
6030 Office alice notes 2
6000 Lab bob plan 4
6005 Lab carol draft 2
6500 Lab dave list 1
6000 Annex erin poster 2
6000 Annex frank sheet 3
7000 Lab gina quick 2 flash
9000 Office henry blink 1 flash
9500 Annex ivan copies 4
12000 Office bob late 2
12000 Annex alice tail 4
12100 Annex carol blip 3 flash
EOF
declare -A cost=([Office]=5 [Lab]=7 [Annex]=3)

wine_settings 'HKLM\Software\Pelko' <<SETTINGS || exit 1
Path          REG_SZ     C:\pelko
nPrinters     REG_DWORD  3
Printer1      REG_SZ     Office
Printer1Cost  REG_DWORD  ${cost[Office]}
Printer2      REG_SZ     Lab
Printer2Cost  REG_DWORD  ${cost[Lab]}
Printer3      REG_SZ     Annex
Printer3Cost  REG_DWORD  ${cost[Annex]}
AppIsRunning  REG_DWORD  1
SETTINGS

export WINEDLLOVERRIDES="pdh,winspool.drv=n,b"
export PELKO_STANDIN_SCENARIO="Z:$scenario" PELKO_STANDIN_RESULT="Z:$result"
timeout 300 "$WINE" "$run/Pelkomon.exe" &

source "$here/../lib/daily_log.sh"
# The jobs the stand-in ended: "QUEUE ID USER DOC PAGES END_MS" lines.
ended() { grep -v '^done' "$result"; }
expected() {  # expected QUEUE USER DOC PAGES
  echo "$2|$1|$3|$4|$(($4 * cost[$1]))"
}
# Polls until every job has its exact entry (or a minute after the run),
# noting for each how long after its end the entry became exact.
declare -A latency
settle() {
  local queue id user doc pages end now n
  for _ in $(seq 1 400); do
    n=0
    while read -r queue id user doc pages end; do
      if [[ -z ${latency[$queue.$id]:-} ]]; then
        [[ $(entry "$queue" "$id") == "$(expected "$queue" "$user" "$doc" "$pages")" ]] || continue
        now=$(date +%s%3N)
        latency[$queue.$id]=$((now > end ? now - end : 0))
      fi
      n=$((n + 1))
    done < <(ended)
    [[ $n -eq $jobs_planned ]] && return
    if grep -qx done "$result"; then
      done_at=${done_at:-$(date +%s)}
      (( $(date +%s) - done_at > 60 )) && return
    fi
    sleep 0.5
  done
}
exact() {  # how many ended jobs have exactly their entry now
  local n=0 queue id user doc pages end
  while read -r queue id user doc pages end; do
    [[ $(entry "$queue" "$id") == "$(expected "$queue" "$user" "$doc" "$pages")" ]] && n=$((n + 1))
  done < <(ended)
  echo "$n"
}
jobs_planned=$(grep -c '^[0-9]' "$scenario")

settle
check "the stand-in printed every job" "yes $jobs_planned" \
  "$(grep -qx done "$result" && echo yes) $(ended | wc -l)"
sleep 3  # a late pass would show as a changed entry

while read -r queue id user doc pages end; do
  check "$queue job $id ($doc)" "$(expected "$queue" "$user" "$doc" "$pages")" \
    "$(entry "$queue" "$id")"
done < <(ended)
for queue in Office Lab Annex; do
  sum=$(awk -v q="$queue" -v c="${cost[$queue]}" '$1 == q { s += $5 * c } END { print s + 0 }' \
    <(ended))
  check "$queue Total" 1 \
    "$(grep -c "<entry><user>Total</user><cost>$sum</cost></entry></log>\$" "$(log_of "$queue")" \
       2>/dev/null)"
done
echo "jobs accounted exactly: $(exact) / $jobs_planned"
printf '%s\n' "${latency[@]}" | sort -n |
  awk '{ v[NR] = $1; s += $1 } END { if (NR) printf "end to exact entry: median %.1f s, max %.1f s, mean %.1f s\n", v[int((NR + 1) / 2)] / 1000, v[NR] / 1000, s / NR / 1000 }'
[[ $failures -eq 0 ]]
