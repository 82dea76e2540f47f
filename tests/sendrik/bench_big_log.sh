#!/bin/bash
# bench_big_log.sh SENDRIK PELKOREG [PELKOREPORT]: the mail program's time
# and peak memory for a global log of 49 printers x 30 days x 200 jobs,
# mailed to aiosmtpd on loopback. Not a test: run by hand.
# bench_big_log.sh --wine SENDRIK.EXE: the same for the Windows program.
set -u
here=$(cd "$(dirname "$0")" && pwd)
server=
if [[ $1 == --wine ]]; then
  sendrik=$(readlink -f "$2") report=
  source "$here/../wine/wine-env.sh"
  wine_setup || exit 1
  work=$WINE_TEST_DIR
  trap '[[ -n $server ]] && kill $server 2>/dev/null; wine_cleanup' EXIT
  reg() { wine_reg add 'HKLM\Software\Pelko' /v "$1" /t "$2" /d "$3" /f >/dev/null; }
  native() { wine_path "$1"; }
  run=("$WINE" "$sendrik")
else
  sendrik=$(readlink -f "$1") pelkoreg=$(readlink -f "$2") report=${3:+$(readlink -f "$3")}
  work=$(mktemp -d)
  trap '[[ -n $server ]] && kill $server 2>/dev/null; rm -rf "$work"' EXIT
  export PELKO_REGISTRY=$work/registry
  reg() { "$pelkoreg" add 'HKLM\Software\Pelko' /v "$1" /t "$2" /d "$3" /f >/dev/null; }
  native() { echo "$1"; }
  run=("$sendrik")
fi
mkdir -p "$work/pelko/Logs"
log=$work/pelko/Logs/GlobalLog_20261230.xml
/usr/bin/python3 - "$log" <<'PY'
import sys
out = open(sys.argv[1], "wb")
out.write(b"<?xml version='1.0' encoding='ISO-8859-1' ?> <?xml-stylesheet href='http://reports.pelko.example/Pelko/Tavisk.xsl' type='text/xsl' ?><log><type>Global Log</type><date>2026/12/30</date>")
total = 0
for p in range(1, 50):
    for day in range(1, 31):
        parts = []
        for j in range(200):
            pages = 1 + (j * 7 + p) % 23
            cost = pages * (1 + p % 5)
            total += cost
            parts.append(b"<entry> <date>2026/11/%02d</date><time>%02d:%02d:%02d</time> <id>%d</id><user>user%03d</user> <printer>\\\\SRV%d\\Printer %d</printer><doc>Document %d of the day.pdf</doc> <pages>%d</pages> <cost>%d</cost></entry>"
                         % (day, 8 + j // 25, j % 60, (j * 13) % 60, day * 1000 + j, (j * 31 + p) % 150, p % 3, p, j, pages, cost))
        out.write(b"".join(parts))
out.write(b"<entry><user>Total</user><cost>%d</cost></entry></log>" % total)
print("jobs", 49 * 30 * 200, "total", total)
PY
echo "global log: $(stat -c %s "$log") bytes"
/usr/bin/python3 "$here/smtp_server.py" --out "$work/out" --lifetime 600 >"$work/server.out" 2>&1 &
server=$!
for ((i = 0; i < 100; i++)); do grep -qs ready "$work/server.out" && break; sleep 0.1; done
port=$(awk '/ready/ {print $2}' "$work/server.out")
reg Path REG_SZ "$(native "$work/pelko")"
reg ToSendFile REG_SZ "$(native "$log")"
reg MailServer REG_SZ 127.0.0.1
reg MailPort REG_DWORD "$port"
reg MailSecurity REG_DWORD 0
reg MailFrom REG_SZ pelko@example.com
reg MailTo REG_SZ boss@example.com
reg MailTimeout REG_DWORD 300
${PELKO_BENCH_WRAP:-} /usr/bin/time -v "${run[@]}" 2>"$work/time.txt"
echo "sendrik exit $?"
grep -E "Elapsed|Maximum resident|User time|System time" "$work/time.txt"
tail -n1 "$work/pelko/Logs/Sendrik.log"
ls -l "$work/out"/*.eml 2>/dev/null | awk '{print "message:", $5, "bytes"}'
if [[ -n $report ]]; then
  /usr/bin/time -v "$report" --csv -o "$work/all.csv" "$log" 2>"$work/time.txt"
  echo "pelkoreport --csv: $(grep -E "Elapsed" "$work/time.txt" | awk '{print $NF}'), $(grep "Maximum resident" "$work/time.txt" | awk '{print $NF}') KB, $(wc -l <"$work/all.csv") lines"
fi
