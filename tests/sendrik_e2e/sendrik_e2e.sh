#!/bin/bash
# sendrik_e2e.sh posix PELKOMON SENDRIK PELKOREG [PRINTERS DAYS JOBS]
# sendrik_e2e.sh wine PELKOMON.EXE SENDRIK.EXE PLANTED.DLL...
# The agent with EmailAlert 1 builds the global log of real daily logs,
# starts the real mail program as Path/Sendrik.exe, and the message reaches
# an SMTP server (aiosmtpd) on loopback with that global log attached. With
# the three counts it makes that many daily logs and prints the time from
# the agent's start to the message accepted (a benchmark, not a test).
# Under Wine the planted DLLs (tests/sendrik_e2e/planted_dll.c) lie beside
# Sendrik.exe, named as its system imports: none may be loaded.
set -u
mode=$1
shift
planted=()
if [[ $mode == wine ]]; then
  planted=("${@:3}")
  set -- "$1" "$2"
fi
agent_bin=$(readlink -f "$1") sendrik=$(readlink -f "$2") pelkoreg=${3:+$(readlink -f "$3")}
printers=${4:-3} days=${5:-2} jobs=${6:-4}
here=$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")
source "$here/../lib/check.sh"
agent= server=
if [[ $mode == wine ]]; then
  source "$here/../wine/wine-env.sh"
  wine_setup || exit 1
  work=$WINE_TEST_DIR
  trap '[[ -n $agent ]] && kill -9 $agent 2>/dev/null; [[ -n $server ]] && kill $server 2>/dev/null; wine_cleanup' EXIT
  native() { wine_path "$1"; }
  reg() { wine_reg add 'HKLM\Software\Pelko' /v "$1" /t "$2" /d "$3" /f >/dev/null; }
  start_agent() { (cd "$work" && timeout 300 "$WINE" "$agent_bin" >"$work/agent.out" 2>&1) & agent=$!; }
else
  work=$(mktemp -d)
  trap '[[ -n $agent ]] && kill -9 $agent 2>/dev/null; [[ -n $server ]] && kill $server 2>/dev/null; rm -rf "$work"' EXIT
  export PELKO_REGISTRY=$work/registry
  native() { echo "$1"; }
  reg() { "$pelkoreg" add 'HKLM\Software\Pelko' /v "$1" /t "$2" /d "$3" /f >/dev/null; }
  # The agent itself is the child, so that killing it leaves nothing behind.
  start_agent() { "$agent_bin" >"$work/agent.out" 2>&1 & agent=$!; }
fi
mkdir -p "$work/pelko/Logs"
cp "$sendrik" "$work/pelko/Sendrik.exe"
if [[ $mode == wine ]]; then
  # Windows takes a DLL from the program's folder before System32; Wine
  # prefers its own unless told otherwise.
  export WINEDLLOVERRIDES="crypt32,odbc32,bcrypt=n,b"
  cp "${planted[@]}" "$work/pelko/"
  # The planting works: a program that imports CRYPT32 plainly (the agent)
  # dies of it in that folder.
  cp "$agent_bin" "$work/pelko/plain.exe"
  (cd / && timeout 60 "$WINE" "$work/pelko/plain.exe" >/dev/null 2>&1)
  check "a plain importer beside the planted DLLs dies of them" "66 1" \
    "$? $(ls "$work/pelko/"*.dll.loaded 2>/dev/null | wc -l)"
  rm -f "$work/pelko/plain.exe" "$work/pelko/"*.dll.loaded
fi

# Daily logs in the agent's format; the expected grand total is printed.
expected=$(/usr/bin/python3 - "$work/pelko/Logs" "$printers" "$days" "$jobs" <<'PY'
import sys
folder, printers, days, jobs = sys.argv[1], *map(int, sys.argv[2:])
prolog = b"<?xml version='1.0' encoding='ISO-8859-1' ?> <?xml-stylesheet href='Tavisk.xsl' type='text/xsl' ?>"
grand = 0
for p in range(1, printers + 1):
    for d in range(1, days + 1):
        name = b"\\\\SRV\\Printer %d" % p
        entries, total = [], 0
        for j in range(jobs):
            pages = 1 + (j + p) % 9
            cost = pages * p
            total += cost
            entries.append(b"<entry> <date>2026/11/%02d</date><time>10:%02d:00</time> <id>%d</id><user>J\xfcrgen %d</user> <printer>%s</printer><doc>Doc %d.pdf</doc> <pages>%d</pages> <cost>%d</cost></entry>"
                           % (d, j % 60, j, j % 5, name, j, pages, cost))
        grand += total
        with open(f"{folder}/Printer {p}_202611{d:02d}.xml", "wb") as f:
            f.write(prolog + b"<log> <type>" + name + b"</type> <date>2026/11/%02d</date>" % d +
                    b"".join(entries) + b"<entry><user>Total</user><cost>%d</cost></entry></log>" % total)
print(grand)
PY
)

/usr/bin/python3 "$here/../sendrik/smtp_server.py" --out "$work/out" --lifetime 600 >"$work/server.out" 2>&1 &
server=$!
for ((i = 0; i < 100; i++)); do grep -qs ready "$work/server.out" && break; sleep 0.1; done
port=$(awk '/ready/ {print $2}' "$work/server.out")
reg Path REG_SZ "$(native "$work/pelko")"
for v in EmailAlert AppIsRunning EmailAlertFreq; do reg $v REG_DWORD 1; done
reg MailServer REG_SZ 127.0.0.1
reg MailPort REG_DWORD "$port"
reg MailSecurity REG_DWORD 0
reg MailFrom REG_SZ pelko@example.com
reg MailTo REG_SZ "boss@example.com"
reg MailTimeout REG_DWORD 120

start=$(date +%s.%N)
start_agent
for ((i = 0; i < 5000; i++)); do
  grep -q " sent " "$work/pelko/Logs/Sendrik.log" 2>/dev/null && break
  grep -q "not sent" "$work/pelko/Logs/Sendrik.log" 2>/dev/null && break
  sleep 0.05
done
end=$(date +%s.%N)
{ kill -9 $agent && wait $agent; } 2>/dev/null
agent=
today=$(date +%Y%m%d)
check "the mail program says it sent today's global log" 1 \
  "$(grep -c " sent GlobalLog_$today.xml ($((printers * days * jobs)) jobs, total $expected)" "$work/pelko/Logs/Sendrik.log" 2>/dev/null)"
result=$(/usr/bin/python3 - "$work/out" "$work/pelko/Logs/GlobalLog_$today.xml" <<'PY'
import email, email.policy, glob, sys
names = sorted(glob.glob(sys.argv[1] + "/*.eml"))
if not names:
    print("no message"); sys.exit()
m = email.message_from_binary_file(open(names[0], "rb"), policy=email.policy.default)
parts = {p.get_content_type(): p for p in m.walk()}
same = parts["application/xml"].get_payload(decode=True) == open(sys.argv[2], "rb").read()
remote = b"/Pelko/Tavisk.xsl" in parts["application/xml"].get_payload(decode=True)[:300]
print(f"messages={len(names)} attachment-is-the-global-log={same} remote-stylesheet={remote}")
PY
)
check "the message reached the server with the global log attached" \
  "messages=1 attachment-is-the-global-log=True remote-stylesheet=True" "$result"
[[ $mode == posix ]] && check "the agent printed nothing" "" "$(cat "$work/agent.out")"
[[ $mode == wine ]] && check "the mail program loaded none of the planted DLLs" "" \
  "$(cd "$work/pelko" && ls -- *.dll.loaded 2>/dev/null)"
if [[ $# -gt 3 ]]; then
  echo "$((printers * days)) daily logs, $((printers * days * jobs)) jobs: agent start to message accepted in $(echo "$end - $start" | bc) s"
  tail -n1 "$work/pelko/Logs/Sendrik.log"
fi
[[ $failures -eq 0 ]]
