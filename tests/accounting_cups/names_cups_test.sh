#!/bin/bash
# names_cups_test.sh BIN_DIR
# A user and a title with umlauts, sharp s, the euro sign and characters
# outside ISO-8859-1, printed on a private cupsd: the daily log, which
# declares ISO-8859-1, holds them in it, with "?" for what it cannot hold,
# and stays well-formed.
set -u
export LC_ALL=C  # the log holds Latin-1 bytes
bin=$(readlink -f "$1")
here=$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")
source "$here/../cups/cups-env.sh"
source "$here/../lib/check.sh"
if [[ $(id -u) -ne 0 ]] || ! command -v cupsd >/dev/null || ! command -v xmllint >/dev/null; then
  echo "SKIP: needs root, cupsd and xmllint"
  exit 77
fi
work=$(mktemp -d)
chmod 755 "$work"
agent=
cleanup() {
  [[ -n $agent ]] && stop_process "$agent"
  cups_env_stop
  rm -rf "$work"
}
trap cleanup EXIT
logs=$work/pelko/Logs
source "$here/../lib/daily_log.sh"
reg() { PELKO_REGISTRY=$work/registry "$bin/pelkoreg" "$@" >/dev/null; }

cups_env_start || exit 1
chmod 755 "$CUPS_ENV_DIR"
cups_env_add_queue Desk 0.01 2>/dev/null || exit 1
mkdir -p "$logs"
reg add 'HKLM\Software\Pelko' /v Path /t REG_SZ /d "$work/pelko" /f
reg add 'HKLM\Software\Pelko' /v nPrinters /t REG_DWORD /d 1 /f
reg add 'HKLM\Software\Pelko' /v Printer1 /t REG_SZ /d Desk /f
reg add 'HKLM\Software\Pelko' /v Printer1Cost /t REG_DWORD /d 2 /f
reg add 'HKLM\Software\Pelko' /v AppIsRunning /t REG_DWORD /d 1 /f
PELKO_REGISTRY=$work/registry "$bin/pelkomon" >"$work/agent.out" 2>&1 &
agent=$!

cups_env_document "$work/doc.ps" 2
# UTF-8 as CUPS keeps it: ä ö ü ß €, a CJK character and one beyond 16 bits.
user=$'j\xc3\xbcrgen\xe2\x82\xac\xe6\x97\xa5'
title=$'B\xc3\xa4\xc3\xb6\xc3\xbc\xc3\x9f \xe2\x82\xac \xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x98\x80'
id=$(lp -U "$user" -d Desk -t "$title" "$work/doc.ps" |
  sed -n 's/^request id is [^ ]*-\([0-9]*\) .*/\1/p')
has_pages() { [[ $(entry Desk "$id" | cut -d'|' -f4) == 2 ]]; }
wait_for 30 has_pages || echo "FAIL: no entry of 2 pages for job $id"

file=$(log_of Desk)
check "the user in ISO-8859-1, ? for what it cannot hold" \
  "$(printf 'j\xfcrgen??')" "$(entry Desk "$id" | cut -d'|' -f1)"
check "the title in ISO-8859-1, ? for what it cannot hold" \
  "$(printf 'B\xe4\xf6\xfc\xdf ? ?? ?')" "$(entry Desk "$id" | cut -d'|' -f3)"
check "no UTF-8 sequence in the log" "" "$(grep -c $'\xc3' "$file" | grep -v '^0$')"
check "the log is well-formed" ok "$(xmllint --noout "$file" 2>&1 && echo ok)"
check "agent wrote nothing to its output" "" "$(cat "$work/agent.out")"
[[ $failures -eq 0 ]]
