#!/bin/bash
# details_wine_agent_test.sh PELKOMON_EXE STANDIN_DIR
# Pelkomon.exe under Wine on the stand-in spooler, with LogJobDetails = 1:
# each job's entry holds, after its cost, how it asked to be printed, its
# colour and mono pages, and what decided them. On Windows the DEVMODE's
# asked mode decides for every page ("request"); a printer that cannot
# print colour makes every page mono ("printer"). The stand-in goes step by
# step; each job stays in the queue until the agent has listed it.
set -u
exe=$1
standins=$2
here=$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")
source "$here/standin-env.sh"
source "$here/../lib/check.sh"
source "$here/../lib/daily_log.sh"
standin_setup details_wine_agent "$exe" "$standins" || exit
cost=5

# anna: 2 pages x 3 copies, mono, long-edge duplex, A4, from \\PC-12.
cat >"$steps" <<'EOF_STEPS'
queues Office Mono
colordevice Mono 0
ready
add Office report.pdf anna 6 copies=3 color=1 duplex=2 paper=9 machine=\\PC-12 size=48000
add Office photo.jpg bert 2 copies=1 color=2 duplex=1 paper=8 machine=\\PC-7
add Mono chart.pdf cara 2 copies=1 color=2 duplex=1 paper=1 machine=\\PC-9
look
tick
tick
tick
tick
tick
tick
tick
tick
EOF_STEPS

wine_settings 'HKLM\Software\Pelko' <<SETTINGS || exit 1
Path           REG_SZ     C:\pelko
nPrinters      REG_DWORD  2
Printer1       REG_SZ     Office
Printer1Cost   REG_DWORD  $cost
Printer2       REG_SZ     Mono
Printer2Cost   REG_DWORD  $cost
AppIsRunning   REG_DWORD  1
LogJobDetails  REG_DWORD  1
SETTINGS

export WINEDLLOVERRIDES="pdh,winspool.drv=n,b"
export PELKO_STANDIN_STEPS="$(wine_path "$steps")" PELKO_STANDIN_RESULT="$(wine_path "$result")"
timeout 300 "$WINE" "$run/Pelkomon.exe" &

# What follows the cost in the entry of job ID of QUEUE.
details() {
  grep -o "<id>$2</id><user>.*" "$(log_of "$1")" 2>/dev/null |
    awk '{ print substr($0, 1, index($0, "</entry>") - 1) }' | sed 's|.*</cost>||'
}
id_of() { awk -v d="$1" '$4 == d { print $2 }' "$result"; }
all_entered() {
  local queue doc pages
  for job in "Office report.pdf 6" "Office photo.jpg 2" "Mono chart.pdf 2"; do
    read -r queue doc pages <<<"$job"
    [[ -n $(id_of "$doc") && $(entry "$queue" "$(id_of "$doc")" | cut -d'|' -f4) == "$pages" &&
       -n $(details "$queue" "$(id_of "$doc")") ]] || return 1
  done
}

check "the stand-in ran every step" yes "$(wait_for 200 grep -qx done "$result" && echo yes)"
check "the stand-in ran its steps in their bounds" "" "$(grep -E '^(timeout|bad step)' "$result")"
check "every job entered with its pages and details" yes "$(wait_for 60 all_entered && echo yes)"
check "anna's mono duplex copies" \
  " <copies>3</copies><colorpages>0</colorpages><monopages>6</monopages> <sides>two-sided-long-edge</sides><paper>A4</paper><client>PC-12</client><colorfrom>request</colorfrom>" \
  "$(details Office "$(id_of report.pdf)")"
check "bert's colour job: every page colour, as asked" \
  " <copies>1</copies><colorpages>2</colorpages><monopages>0</monopages> <sides>one-sided</sides><paper>A3</paper><client>PC-7</client><colorfrom>request</colorfrom>" \
  "$(details Office "$(id_of photo.jpg)")"
check "colour asked of a mono printer: every page mono" \
  " <copies>1</copies><colorpages>0</colorpages><monopages>2</monopages> <sides>one-sided</sides><paper>Letter</paper><client>PC-9</client><colorfrom>printer</colorfrom>" \
  "$(details Mono "$(id_of chart.pdf)")"
if ((failures > 0)); then
  echo "the daily logs:"
  cat "$(log_of Office)" "$(log_of Mono)" 2>/dev/null
fi
[[ $failures -eq 0 ]]
