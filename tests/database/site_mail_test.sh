#!/bin/bash
# site_mail_test.sh BIN_DIR
# With EmailReportPeriod last-month, the real mail program reads the
# site-wide report of two servers' rows from a private PostgreSQL and mails
# it to an SMTP server on loopback; with the database stopped it mails this
# computer's own report of the same month instead (its daily logs of it,
# not every log it keeps), says so in the mail and once in the system log,
# and with the database back the site report again. Between the two,
# pelkoreport --database meets owners named as formulas and terminal
# controls, and gives the same CSV bytes as pelkoreport of log files for
# the same jobs, with the same options. Under root's usual umask 022, no log its database driver writes
# is readable by other users.
set -u
bin=$(readlink -f "$1")
here=$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")
source "$here/../lib/check.sh"
source "$here/../../scripts/lib/pg-env.sh"
if ! pg_env_available || ! /usr/bin/python3 -c 'import aiosmtpd' 2>/dev/null; then
  echo "SKIP: needs root, PostgreSQL, its ODBC driver and python3-aiosmtpd"
  exit 77
fi
work=$(mktemp -d)
umask 022
pg_env_private_odbc "$work/odbc"
server=
cleanup() {
  [[ -n $server ]] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null
  pg_env_stop
  rm -rf "$work"
}
trap cleanup EXIT
export PELKO_REGISTRY=$work/registry
reg() { "$bin/pelkoreg" add 'HKLM\Software\Pelko' /v "$1" /t "$2" /d "$3" /f >/dev/null; }
setting() { "$bin/pelkoreg" query 'HKLM\Software\Pelko' /v "$1" 2>/dev/null | sed -n "s/^ *$1 *REG_[A-Z]* *//p"; }

pg_env_start || { echo "FAIL: PostgreSQL did not start"; exit 1; }
/usr/bin/python3 "$here/../sendrik/smtp_server.py" --out "$work/out" --lifetime 300 \
  >"$work/server.out" 2>&1 &
server=$!
wait_for 10 grep -qs ready "$work/server.out" || { echo "FAIL: no SMTP server"; exit 1; }
mkdir -p "$work/pelko/Logs"
reg Path REG_SZ "$work/pelko"
reg MailServer REG_SZ 127.0.0.1
reg MailPort REG_DWORD "$(awk '/ready/ {print $2}' "$work/server.out")"
reg MailSecurity REG_DWORD 0
reg MailFrom REG_SZ pelko@example.com
reg MailTo REG_SZ boss@example.com
reg MailTimeout REG_DWORD 60
reg DatabaseConnection REG_SZ "$PG_ENV_ODBC"
reg EmailReportPeriod REG_SZ last-month
reg CostUnit REG_SZ EUR/2
"$bin/pelkodb" --set-password <<<pgsecret 2>/dev/null
"$bin/pelkodb" --check >/dev/null || { echo "FAIL: pelkodb --check"; exit 1; }
# Rows written by hand, not by an agent: their sums made anew, as
# docs/database.md has it.
summed() {
  pg_psql -c "DELETE FROM pelko_job_sums; UPDATE pelko_schema_version SET version = 3" >/dev/null &&
    "$bin/pelkodb" --check >/dev/null 2>&1 || echo "FAIL: the sums were not made anew"
}

# This computer's own global log, as the agent names it for the mail program.
today=$(date +%Y%m%d)
global=$work/pelko/Logs/GlobalLog_$today.xml
printf '%s' "<?xml version='1.0' encoding='ISO-8859-1' ?> <?xml-stylesheet href='Tavisk.xsl' type='text/xsl' ?><log><type>Global Log</type><date>${today:0:4}/${today:4:2}/${today:6}</date><entry> <date>2026/12/05</date><time>10:00:01</time> <id>1</id><user>anna</user> <printer>HP</printer><doc>d.doc</doc> <pages>9</pages> <cost>9</cost></entry><entry><user>Total</user><cost>9</cost></entry></log>" >"$global"
reg ToSendFile REG_SZ "$global"

# Two servers' rows of last month, and rows just outside it on both sides.
month=$(date +%Y%m)
first=$(date -d "$(date +%Y-%m-01) -1 month" +%Y%m%d)
last=$(date -d "$(date +%Y-%m-01) -1 day" +%Y%m%d)
before=$(date -d "$(date +%Y-%m-01) -1 month -1 day" +%Y%m%d)
dashed() { echo "${1:0:4}-${1:4:2}-${1:6}"; }
# This computer's own daily logs: last month's, which the fallback reports,
# and this month's, which it must leave out.
daily() {  # daily FILE LOG_DATE COST
  printf '%s' "<?xml version='1.0' encoding='ISO-8859-1' ?> <?xml-stylesheet href='Tavisk.xsl' type='text/xsl' ?><log><type>Front</type><date>${2:0:4}/${2:4:2}/${2:6}</date><entry> <date>${2:0:4}/${2:4:2}/${2:6}</date><time>09:00:00</time> <id>7</id><user>eva</user> <printer>Front</printer><doc>f.doc</doc> <pages>4</pages> <cost>$3</cost></entry><entry><user>Total</user><cost>$3</cost></entry></log>" >"$1"
}
daily "$work/pelko/Logs/Front_$first.xml" "$first" 44500
daily "$work/pelko/Logs/Front_${month}01.xml" "${month}01" 88600
row() {  # row SERVER PRINTER LOG_DATE ID USER PAGES COST
  echo "INSERT INTO pelko_jobs VALUES ('$1', '$2', '$3', $4, '$5', 'doc $4', $6, $7, '${3:0:4}/${3:4:2}/${3:6}', '10:00:00');"
}
{
  row north HP "$first" 1 anna 2 20
  row north HP "$last" 2 "J\"urgen" 3 30
  row north Lab "$last" 3 anna 1 10
  row south Front "$first" 1 anna 5 50
  row south Front "$last" 2 eva 4 40
  row south Front "$before" 3 eva 100 1000
  row south Front "$month"01 4 eva 100 1000
} | pg_psql >/dev/null || { echo "FAIL: rows not loaded"; exit 1; }
summed

# The mail program as the agent starts it; its system log lines go to
# sendrik.err (stderr is the stream JOURNAL_STREAM names).
mail() {
  touch "$work/sendrik.err"
  JOURNAL_STREAM=$(stat -c '%d:%i' "$work/sendrik.err") timeout 120 "$bin/sendrik" \
    2>>"$work/sendrik.err"
}
# message N: what the Nth message carries, one fact a line.
message() {
  /usr/bin/python3 - "$work/out" "$1" <<'PY'
import email, email.policy, glob, re, sys
names = sorted(glob.glob(sys.argv[1] + "/*.eml"), key=lambda n: int(re.sub(r"\D", "", n.split("/")[-1]) or 0))
n = int(sys.argv[2])
if len(names) < n:
    print("no message"); sys.exit()
m = email.message_from_binary_file(open(names[n - 1], "rb"), policy=email.policy.default)
print("subject:", m["Subject"])
for p in m.walk():
    if p.get_content_maintype() == "multipart":
        continue
    body = p.get_payload(decode=True)
    if p.get_content_type() == "text/plain":
        text = body.decode(p.get_content_charset())
        print("first line:", text.splitlines()[0])
        for line in text.splitlines():
            if re.match(r"^ *(north|south) |^Total cost:", line):
                print("text:", " ".join(line.split()))
    elif p.get_filename():
        print("attached:", p.get_filename(), p.get_content_type(), len(body) > 0)
PY
}

mail
check "site report: sendrik exits 0" 0 $?
got=$(message 1)
echo "$got"
check "the subject names last month and the site's total" \
  "subject: Site print report $(dashed "$first") to $(dashed "$last"): total 1.50 EUR" \
  "$(grep '^subject:' <<<"$got")"
check "the mail says it is the database's report of two servers" \
  "first line: Site-wide report (last-month) from the central database: 2 servers." \
  "$(grep '^first line:' <<<"$got")"
check "each server's total of its rows" "text: north 3 6 0.60 EUR|text: south 2 9 0.90 EUR" \
  "$(grep '^text: [ns]' <<<"$got" | sort | paste -sd'|')"
check "the site's total" "text: Total cost: 1.50 EUR" "$(grep '^text: Total' <<<"$got")"
check "the report attached as HTML" "attached: SiteReport_$first-$last.html text/html True" \
  "$(grep '^attached:' <<<"$got")"
check "Sendrik.log says it" 1 "$(grep -c "sent SiteReport_$first-$last.html (site report last-month, 2 servers, 5 jobs, total 150)" "$work/pelko/Logs/Sendrik.log")"

# Any print user names a job's owner. Rows of this month's second day, out
# of last month's mail, with a formula and terminal controls for names:
# pelkoreport --database keeps them text in its CSV and shows the controls.
hostile=${month}02
pg_psql >/dev/null <<SQL || echo "FAIL: hostile rows not loaded"
INSERT INTO pelko_jobs VALUES
  ('north', '@SUM(1+1)', '$hostile', 8, '=HYPERLINK(CONCATENATE(CHAR(104),CHAR(116)))', 'd', 1, 1, 'x', 'x'),
  ('north', 'HP', '$hostile', 9, E'\x1b]2;owned\x07\x1b[2J \u009b2J', 'd', 1, 1, 'x', 'x');
SQL
summed
site_report() {
  "$bin/pelkoreport" --database "$PG_ENV_ODBC" --password-stdin --from "$hostile" --to "$hostile" \
    "$@" <<<pgsecret
}
check "--csv: the formulas stay text" \
  "x,x,8,\"'=HYPERLINK(CONCATENATE(CHAR(104),CHAR(116)))\",'@SUM(1+1),d,1,0.01" \
  "$(site_report --csv | grep -a -e HYPERLINK | tr -d '\r')"
text=$(site_report --text)
check "--text: the controls shown" 1 "$(grep -cF '\x1B]2;owned\x07\x1B[2J \xC2\x9B2J' <<<"$text")"
check "--text: no control byte sent" 0 "$(LC_ALL=C grep -c $'[\x01-\x08\x0b-\x1f\x7f]\\|\xc2[\x80-\x9f]' <<<"$text")"

# The same jobs as rows and as a daily log, names with a euro sign and an
# umlaut: the two sources take the same options and give the same bytes.
same=${month}03
mkdir -p "$work/same"
printf '%s' "<?xml version='1.0' encoding='ISO-8859-1' ?><log><type>HP</type><date>${same:0:4}/${same:4:2}/${same:6}</date><entry> <date>${same:0:4}/${same:4:2}/${same:6}</date><time>08:00:00</time> <id>5</id><user>J$(printf '\xfc')rgen</user> <printer>HP</printer><doc>Rechnung $(printf '\x80')</doc> <pages>2</pages> <cost>1311</cost></entry><entry> <date>${same:0:4}/${same:4:2}/${same:6}</date><time>09:30:00</time> <id>6</id><user>anna</user> <printer>HP</printer><doc>a;b, c</doc> <pages>1</pages> <cost>5</cost></entry><entry><user>Total</user><cost>1316</cost></entry></log>" \
  >"$work/same/HP_$same.xml"
pg_psql >/dev/null <<SQL || echo "FAIL: the same jobs not loaded"
INSERT INTO pelko_jobs VALUES
  ('north', 'HP', '$same', 5, E'J\u00fcrgen', E'Rechnung \u20ac', 2, 1311, '${same:0:4}/${same:4:2}/${same:6}', '08:00:00'),
  ('north', 'HP', '$same', 6, 'anna', 'a;b, c', 1, 5, '${same:0:4}/${same:4:2}/${same:6}', '09:30:00');
SQL
summed
site_report_of() { "$bin/pelkoreport" --database "$PG_ENV_ODBC" --password-stdin "$@" <<<pgsecret; }
for options in "--csv --separator ';' --encoding utf-8" "--csv --encoding windows-1252" "--csv --separator tab --cost-unit \"\""; do
  eval "set -- $options"
  "$bin/pelkoreport" "$@" --from "$(dashed "$same")" --to "$same" "$work/same" >"$work/same/files.out"
  site_report_of "$@" --from "$(dashed "$same")" --to "$same" >"$work/same/database.out"
  check "$options: the same bytes from the files and from the database" yes \
    "$(cmp -s "$work/same/files.out" "$work/same/database.out" && [[ -s $work/same/files.out ]] && echo yes)"
done
check "the euro sign and the cents survive" 1 \
  "$(grep -c "J$(printf '\xc3\xbc')rgen;HP;Rechnung $(printf '\xe2\x82\xac');2;\"13,11\"" <(site_report_of --csv --separator ';' --encoding utf-8 --from "$same" --to "$same"))"
check "the database's page is headed by its period" "<h1 id=\"printer\">$(dashed "$same")</h1>" \
  "$(site_report_of --html --from "$same" --to "$same" | grep -o '<h1 id="printer">[^<]*</h1>')"
check "without --from/--to, the period of its rows" 1 \
  "$(site_report_of --html | grep -c "<h1 id=\"printer\">$(dashed "$before") to $(dashed "$same")</h1>")"
check "--summary --by month: months as people read them" \
  "Per user, $(date -d "$(dashed "$first")" '+%B %Y')|Per user, $(date -d "$(dashed "${month}01")" '+%B %Y')" \
  "$(site_report_of --summary --by month --from "$first" | grep '^Per user, [A-Z]' | paste -sd'|')"

pg_env_halt
for n in 2 3; do
  mail
  check "database stopped: mail $n sent" 0 $?
done
got=$(message 2)
echo "$got"
check "in its place this computer's report of last month, its own total" \
  "subject: Print report $(dashed "$first") to $(dashed "$last"): total 445.00 EUR (this computer only)" \
  "$(grep '^subject:' <<<"$got")"
check "the mail says why and what it is" 1 \
  "$(grep -c "^first line: The site-wide report (EmailReportPeriod last-month) could not be made: the database did not answer" <<<"$got")"
check "the mail names the period it covers" 1 \
  "$(grep -c "this computer's own report of the same period, $(date -d "$(dashed "$first")" '+%B %Y'), from its daily logs" <<<"$got")"
check "its report attached" "attached: Report_$first-$last.html text/html True" "$(grep '^attached:' <<<"$got")"
check "the second fallback says it too" 1 "$(message 3 | grep -c '^first line: The site-wide report')"
check "the system log hears it once for two mailings" 1 "$(grep -c 'Sendrik: the site report (EmailReportPeriod last-month) cannot be made' "$work/sendrik.err")"
check "SiteReportAway set" 0x1 "$(setting SiteReportAway)"

pg_env_resume
mail
check "database back: sent" 0 $?
check "the site report again" 1 "$(message 4 | grep -c '^subject: Site print report')"
check "SiteReportAway cleared" 0x0 "$(setting SiteReportAway)"
check "no driver log readable by other users" "" "$(find "$work/odbc/logs" -type f -perm /o=r)"
[[ $(date +%Y%m) == "$month" ]] || echo "note: the month turned during the test; its dates may be off"
[[ $failures -eq 0 ]]
