#!/bin/bash
# names_cups_test.sh BIN_DIR [SENDRIK PELKOREPORT]
# A user and a title with umlauts, sharp s, the euro sign and characters
# outside ISO-8859-1, printed on a private cupsd: the daily log, which
# declares ISO-8859-1, holds them in one byte each, with "?" for what it cannot hold,
# and stays well-formed. The bytes are windows-1252's, which the reports
# read them as (the euro sign is 0x80), as the Windows agent writes them;
# browsers read ISO-8859-1 so too. Given the mail program and pelkoreport, the names
# are followed on: into the global log, the mail that the mail program
# hands to an SMTP server on loopback, and pelkoreport's HTML and CSV; each
# must read "jürgen" in the encoding it declares.
set -u
export LC_ALL=C  # the log holds Latin-1 bytes
bin=$(readlink -f "$1")
sendrik=${2:+$(readlink -f "$2")}
pelkoreport=${3:+$(readlink -f "$3")}
here=$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")
source "$here/../../scripts/lib/cups-env.sh"
source "$here/../lib/check.sh"
source "$here/../lib/cups_test.sh"
cups_test_needs xmllint
cups_test_begin
server=
cleanup_more() { [[ -n $server ]] && stop_process "$server"; }
logs=$work/pelko/Logs
source "$here/../lib/daily_log.sh"
reg() { PELKO_REGISTRY=$work/registry "$bin/pelkoreg" "$@" >/dev/null; }
source "$here/../../scripts/lib/settings.sh"

cups_env_start || exit 1
chmod 755 "$CUPS_ENV_DIR"
cups_env_add_queue Desk 0.01 2>/dev/null || exit 1
mkdir -p "$logs"
watch_printers "$work/pelko" Desk=2 || exit 1
PELKO_REGISTRY=$work/registry "$bin/pelkomon" >"$work/agent.out" 2>&1 &
agent=$!
agent_watches Desk || exit 1

cups_env_document "$work/doc.ps" 2
# UTF-8 as CUPS keeps it: ä ö ü ß €, a CJK character and one beyond 16 bits.
user=$'j\xc3\xbcrgen\xe2\x82\xac\xe6\x97\xa5'
title=$'B\xc3\xa4\xc3\xb6\xc3\xbc\xc3\x9f \xe2\x82\xac \xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x98\x80'
id=$(lp -U "$user" -d Desk -t "$title" "$work/doc.ps" |
  sed -n 's/^request id is [^ ]*-\([0-9]*\) .*/\1/p')
has_pages() { [[ $(entry Desk "$id" | cut -d'|' -f4) == 2 ]]; }
wait_for 30 has_pages || echo "FAIL: no entry of 2 pages for job $id"

file=$(log_of Desk)
check "the user in windows-1252, ? for what it cannot hold" \
  "$(printf 'j\xfcrgen\x80?')" "$(entry Desk "$id" | cut -d'|' -f1)"
check "the title in windows-1252, ? for what it cannot hold" \
  "$(printf 'B\xe4\xf6\xfc\xdf \x80 ?? ?')" "$(entry Desk "$id" | cut -d'|' -f3)"
check "no UTF-8 sequence in the log" "" "$(grep -c $'\xc3' "$file" | grep -v '^0$')"
check "the log is well-formed" ok "$(xmllint --noout "$file" 2>&1 && echo ok)"
# What an XML reader makes of the entry, in UTF-8: the log's bytes and its
# declared encoding agree.
read_user() { xmllint --xpath "string(//entry[id=$id]/user)" "$1" 2>/dev/null; }
check "an XML reader reads the user from the daily log" $'j\xc3\xbcrgen\xc2\x80?' "$(read_user "$file")"
if command -v xsltproc >/dev/null; then
  check "the stylesheet view shows the user, the euro sign as it stands for" yes \
    "$(xsltproc "$here/../../share/Tavisk.xsl" "$file" 2>/dev/null | grep -q $'j\xc3\xbcrgen\xe2\x82\xac?' && echo yes)"
fi

if [[ -n $sendrik && -n $pelkoreport ]]; then
  names() { /usr/bin/python3 "$here/names_check.py" "$@"; }
  # The mail cycle, switched on now that the entry is there: it builds the
  # global log at once and starts the mail program.
  cp "$sendrik" "$work/pelko/Sendrik.exe"
  /usr/bin/python3 "$here/../sendrik/smtp_server.py" --out "$work/out" --lifetime 120 \
    >"$work/server.out" 2>&1 &
  server=$!
  server_ready() { grep -qs ready "$work/server.out"; }
  wait_for 20 server_ready || echo "FAIL: the SMTP server did not start"
  settings <<EOF || exit 1
MailServer REG_SZ 127.0.0.1
MailPort REG_DWORD $(awk '/ready/ {print $2}' "$work/server.out")
MailSecurity REG_DWORD 0
MailFrom REG_SZ pelko@example.com
MailTo REG_SZ boss@example.com
EmailAlertFreq REG_DWORD 60
EmailAlert REG_DWORD 1
EOF
  mailed() { grep -qs "sent GlobalLog" "$logs/Sendrik.log"; }
  wait_for 60 mailed || { echo "FAIL: no mail sent"; cat "$logs/Sendrik.log" 2>/dev/null; }

  global=$logs/GlobalLog_$(date +%Y%m%d).xml
  check "the global log holds the user in windows-1252" 1 "$(grep -c $'<user>j\xfcrgen\x80?</user>' "$global")"
  check "the global log is well-formed" ok "$(xmllint --noout "$global" 2>&1 && echo ok)"
  check "an XML reader reads the user from the global log" $'j\xc3\xbcrgen\xc2\x80?' "$(read_user "$global")"
  check "the mail: text and HTML read right in their charsets, the log attached" \
    "messages=1 text:names=yes html:names=yes html-meta=agrees attachment=the-global-log" \
    "$(names mail "$work/out" "$global")"

  "$pelkoreport" --html -o "$work/report.html" "$logs"
  check "pelkoreport --html: the names read right in the charset it declares" \
    "charset=windows-1252 names=yes" "$(names html "$work/report.html")"
  "$pelkoreport" --html --encoding utf-8 -o "$work/report-utf8.html" "$logs"
  check "pelkoreport --html --encoding utf-8: UTF-8, declared so" \
    "charset=utf-8 names=yes" "$(names html "$work/report-utf8.html")"
  "$pelkoreport" --csv -o "$work/report.csv" "$logs"
  check "pelkoreport --csv: the names in windows-1252" "bom=no names=yes" \
    "$(names csv "$work/report.csv" windows-1252)"
  "$pelkoreport" --csv --encoding utf-8 -o "$work/report-utf8.csv" "$logs"
  check "pelkoreport --csv --encoding utf-8: the names in UTF-8 after its BOM" "bom=yes names=yes" \
    "$(names csv "$work/report-utf8.csv" utf-8)"
fi
check "agent wrote nothing to its output" "" "$(cat "$work/agent.out")"
[[ $failures -eq 0 ]]
