#!/bin/bash
# exec_attack_posix.sh PELKOMON SENDRIK.EXE PELKOREG
# A second, unprivileged user tries to have the agent, which runs as root,
# start a program of hers as its mail program: through a store made under
# umask 000, then through a Path folder the site left open to everyone;
# and a logs folder left open keeps root's own program from being started.
# The agent and pelkoreg run under umask 000 throughout.
set -u
if [[ $(id -u) -ne 0 ]]; then
  echo "SKIP: only root can make a second user"
  exit 77
fi
agent_bin=$(readlink -f "$1") sendrik=$(readlink -f "$2") pelkoreg=$(readlink -f "$3")
here=$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")
source "$here/../lib/check.sh"

user=pelkoatk$$e
work=$(mktemp -d)
agent=
stop_agent() {
  [[ -n $agent ]] || return 0
  stop_process "$agent" 10
  agent=
}
trap 'stop_agent; userdel "$user" 2>/dev/null; rm -rf "$work"' EXIT
useradd --no-create-home --user-group --shell /usr/sbin/nologin "$user" || exit 1
as_her() { timeout 20 runuser -u "$user" -- "$@"; }
chmod 755 "$work"
cd "$work" || exit 1
umask 000
export PELKO_REGISTRY=$work/registry
store_key=$PELKO_REGISTRY/HKEY_LOCAL_MACHINE/software/pelko
reg() { timeout 20 "$pelkoreg" "$@"; }
start_agent() {
  timeout 60 "$agent_bin" >>agent.out 2>&1 &
  agent=$!
}
any_file() { for f; do [[ -s $f ]] && return 0; done; return 1; }

# The site: root's mail program in a root-owned Path, one daily log.
mkdir -m 755 pelko pelko/Logs
install -m 755 "$sendrik" pelko/Sendrik.exe
printf '%s' "<?xml version='1.0' encoding='ISO-8859-1' ?> <?xml-stylesheet href='Tavisk.xsl' type='text/xsl' ?><log> <type>HP</type> <date>2026/12/05</date><entry> <date>2026/12/05</date><time>10:00:01</time> <id>1</id><user>anna</user> <printer>HP</printer><doc>d.doc</doc> <pages>2</pages> <cost>10</cost></entry><entry><user>Total</user><cost>10</cost></entry></log>" \
  >pelko/Logs/HP_20261205.xml
for v in "EmailAlert 1" "AppIsRunning 1" "EmailAlertFreq 1"; do
  set -- $v
  reg add 'HKLM\Software\Pelko' /v "$1" /t REG_DWORD /d "$2" /f >/dev/null
done
reg add 'HKLM\Software\Pelko' /v Path /d "$work/pelko" /f >/dev/null

# Hers: a folder of her own with her program in it, and a logs folder so
# that the agent finds a global log to mail there.
mkdir -m 755 evil && chown "$user:" evil
as_her sh -c "mkdir evil/Logs; printf '#!/bin/sh\nid -u > $work/evil/ran\n' > evil/Sendrik.exe
  chmod 755 evil/Sendrik.exe"

# 1. The store, made under umask 000.
outcome() { "$@" >/dev/null 2>&1 && echo worked || echo failed; }
check "she cannot set Path with pelkoreg" failed "$(outcome as_her env \
  PELKO_REGISTRY="$PELKO_REGISTRY" "$pelkoreg" add 'HKLM\Software\Pelko' /v Path /d "$work/evil" /f)"
line="\"Path\"=\"$work/evil\""
check "nor by writing the store's file" failed \
  "$(outcome as_her sh -c "echo '$line' >> $store_key/Values.reg")"
check "nor by replacing it" failed "$(outcome as_her sh -c \
  "{ cat $store_key/Values.reg; echo '$line'; } > $store_key/Values.reg.new &&
   mv -f $store_key/Values.reg.new $store_key/Values.reg")"
check "the store still names the site's Path" "$work/pelko" \
  "$(reg query 'HKLM\Software\Pelko' /v Path | awk '/Path/ {print $3}')"

start_agent
wait_for 30 any_file pelko/mailed/tosend.txt evil/ran
check "the site's mail program ran" "$work/pelko/Logs/GlobalLog_$(date +%Y%m%d).xml" \
  "$(head -n1 pelko/mailed/tosend.txt 2>/dev/null)"
check "hers did not" no "$([[ -e evil/ran ]] && echo "yes, as uid $(cat evil/ran)" || echo no)"
global=$(ls pelko/Logs/GlobalLog_*.xml 2>/dev/null | head -n1)
check "the global log the agent made is not writable by others" 0 \
  "$(( $(stat -c '0%a' "$global" 2>/dev/null || echo 0777) & 022 ))"
stop_agent

# 2. Path left open to everyone: she puts her program in place of root's.
rm -f evil/ran
reg add 'HKLM\Software\Pelko' /v Path /d "$work/pelko" /f >/dev/null
chmod 777 pelko
as_her sh -c "rm -f pelko/Sendrik.exe && cp evil/Sendrik.exe pelko/Sendrik.exe"
check "she replaced the mail program" "$user" "$(stat -c %U pelko/Sendrik.exe)"
reg delete 'HKLM\Software\Pelko' /v ToSendFile /f >/dev/null
start_agent
# The agent names the file to mail just before it starts the program.
named=no
wait_for 30 reg query 'HKLM\Software\Pelko' /v ToSendFile >/dev/null 2>&1 && named=yes
check "the agent reached the mail program's start" yes "$named"
wait_for 3 test -e evil/ran
check "her program did not run" no "$([[ -e evil/ran ]] && echo "yes, as uid $(cat evil/ran)" || echo no)"
stop_agent

# 3. Logs left open to everyone: root's own program, which writes there, is
# not started either.
chmod 755 pelko
rm -rf pelko/Sendrik.exe pelko/mailed
install -m 755 "$sendrik" pelko/Sendrik.exe
chmod 777 pelko/Logs
reg delete 'HKLM\Software\Pelko' /v ToSendFile /f >/dev/null
start_agent
named=no
wait_for 30 reg query 'HKLM\Software\Pelko' /v ToSendFile >/dev/null 2>&1 && named=yes
check "with Logs open the agent reached the mail program's start" yes "$named"
wait_for 3 test -e pelko/mailed/tosend.txt
check "with Logs open the mail program did not run" no "$([[ -e pelko/mailed ]] && echo yes || echo no)"
stop_agent

# 4. Logs a group of the site's may write, as the docs allow: mail goes on.
chgrp daemon pelko/Logs
chmod 2770 pelko/Logs
start_agent
wait_for 30 test -e pelko/mailed/tosend.txt
check "with Logs shared with a group the mail program ran" yes "$([[ -e pelko/mailed/tosend.txt ]] && echo yes || echo no)"
stop_agent
check "agent printed nothing" "" "$(cat agent.out)"
[[ $failures -eq 0 ]]
