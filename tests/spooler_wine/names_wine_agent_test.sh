#!/bin/bash
# names_wine_agent_test.sh LOCALE LOGUTF8 PELKOMON_EXE STANDIN_DIR PELKOREPORT_EXE SENDRIK_EXE
# Names in the machine's ANSI code page: Wine under LOCALE (pl_PL.UTF-8 for
# code page 1250, ru_RU.UTF-8 for 1251) gives the stand-in's jobs names
# outside windows-1252. With LogUtf8 0 the daily log declares ISO-8859-1 and
# holds what windows-1252 holds, "?" for the rest; with 1 it declares UTF-8
# and holds the names whole. Either way it is well-formed XML, and
# pelkoreport.exe's UTF-8 CSV and the report Sendrik.exe mails of the day's
# logs (EmailReportPeriod today, no database) show what the log holds.
set -u
locale_name=$1
utf8=$2
exe=$3
standins=$4
report=$5
sendrik=$6
here=$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")
source "$here/standin-env.sh"
source "$here/../lib/check.sh"
source "$here/../lib/daily_log.sh"

short=$(tr 'A-Z' 'a-z' <<<"${locale_name%%.*}")
locale -a | tr 'A-Z' 'a-z' | grep -qx "$short.utf-\?8" ||
  { echo "SKIP: the locale $locale_name is not installed (locale-gen)"; exit 77; }
command -v xmllint >/dev/null || { echo "SKIP: needs xmllint"; exit 77; }
export LC_ALL=$locale_name LANG=$locale_name  # Wine's ANSI code page follows it

# Each name as it is, and as a log of windows-1252 holds it.
case $short in
  pl_pl) codepage=CP1250
         user='Łukasz Żółć' doc='Faktura_wrzesień.pdf'
         user1252='?ukasz ?ó??' doc1252='Faktura_wrzesie?.pdf' ;;
  *)     codepage=CP1251
         user='Иван Ёжиков' doc='Отчёт_№5.pdf'
         user1252='???? ??????' doc1252='?????_?5.pdf' ;;
esac

standin_setup "names_wine_agent_$short" "$exe" "$standins" "$report" "$sendrik" || exit

{
  echo "queues Office"
  echo "ready"
  echo "add Office $doc ${user// /%20} 2"
  echo "look"
  for _ in 1 2 3 4 5 6 7 8; do echo tick; done
} | iconv -f UTF-8 -t "$codepage" >"$steps" || { fail "the steps in $codepage"; exit 1; }

wine_settings 'HKLM\Software\Pelko' <<SETTINGS || exit 1
Path           REG_SZ     C:\pelko
nPrinters      REG_DWORD  1
Printer1       REG_SZ     Office
Printer1Cost   REG_DWORD  5
AppIsRunning   REG_DWORD  1
LogUtf8        REG_DWORD  $utf8
SETTINGS

export WINEDLLOVERRIDES="pdh,winspool.drv=n,b"
export PELKO_STANDIN_STEPS="$(wine_path "$steps")" PELKO_STANDIN_RESULT="$(wine_path "$result")"
timeout 300 "$WINE" "$run/Pelkomon.exe" &

# The logs' bytes read as bytes: a windows-1252 log is no UTF-8.
entered() { [[ $(LC_ALL=C log_entries Office | cut -d'|' -f5) == 2 ]]; }
check "the stand-in ran every step" yes "$(wait_for 200 grep -qx done "$result" && echo yes)"
check "the job entered with its pages" yes "$(wait_for 60 entered && echo yes)"
daily=$(log_of Office)
check "the daily log is well-formed XML" "" "$(xmllint --noout "$daily" 2>&1)"
csv=$WINE_TEST_DIR/report.csv
(cd "$run" && timeout 60 "$WINE" pelkoreport.exe --csv --encoding utf-8 -o 'C:\report.csv' \
  'C:\pelko\Logs' >/dev/null 2>&1)
cp "$WINEPREFIX/drive_c/report.csv" "$csv" 2>/dev/null

# The mail of the day's report, caught by a server on loopback; its HTML
# part as a mail reader shows it.
mail=$WINE_TEST_DIR/mail
/usr/bin/python3 "$here/../sendrik/smtp_server.py" --out "$mail" --lifetime 200 \
  >"$WINE_TEST_DIR/smtp.out" 2>&1 &
smtp=$!
trap 'kill $smtp 2>/dev/null; wait $smtp 2>/dev/null; wine_cleanup' EXIT
wait_for 20 grep -qs ready "$WINE_TEST_DIR/smtp.out"
wine_settings 'HKLM\Software\Pelko' <<SETTINGS || exit 1
MailServer         REG_SZ     127.0.0.1
MailPort           REG_DWORD  $(awk '/ready/ {print $2}' "$WINE_TEST_DIR/smtp.out")
MailSecurity       REG_DWORD  0
MailFrom           REG_SZ     pelko@example.com
MailTo             REG_SZ     boss@example.com
EmailReportPeriod  REG_SZ     today
SETTINGS
(cd "$run" && timeout 120 "$WINE" Sendrik.exe >/dev/null 2>&1)
check "Sendrik.exe mailed the day's report" 0 $?
page=$(/usr/bin/python3 - "$mail/0.eml" <<'PY' 2>&1
import email, email.policy, html, sys
with open(sys.argv[1], "rb") as f:
    message = email.message_from_binary_file(f, policy=email.policy.default)
print(html.unescape(message.get_body(preferencelist=("html",)).get_content()))
PY
)

if [[ $utf8 == 1 ]]; then
  check "the daily log declares UTF-8" 1 "$(head -c 60 "$daily" | grep -c "encoding='UTF-8'")"
  check "the log holds the names whole" "$user|Office|$doc|2|10" "$(entry Office '[0-9]*')"
  check "pelkoreport shows them whole" 1 "$(grep -c "$user.*$doc\|$doc.*$user" "$csv")"
  check "the mail shows them whole" "$user $doc" \
    "$(grep -oF "$user" <<<"$page" | head -n 1) $(grep -oF "$doc" <<<"$page" | head -n 1)"
else
  check "the daily log declares ISO-8859-1" 1 "$(head -c 60 "$daily" | grep -c "encoding='ISO-8859-1'")"
  check "the log holds windows-1252, ? for the rest" "$user1252|Office|$doc1252|2|10" \
    "$(LC_ALL=C entry Office '[0-9]*' | iconv -f CP1252 -t UTF-8)"
  check "pelkoreport shows what windows-1252 holds" 1 \
    "$(grep -cF "$user1252" "$csv")"
  check "the mail shows what windows-1252 holds" "$user1252 $doc1252" \
    "$(grep -oF "$user1252" <<<"$page" | head -n 1) $(grep -oF "$doc1252" <<<"$page" | head -n 1)"
fi
if ((failures > 0)); then
  echo "the daily log:"; cat "$daily"; echo; echo "the report:"; cat "$csv"
  echo "the mail's page:"; echo "$page"; cat "$logs/Sendrik.log"
fi
[[ $failures -eq 0 ]]
