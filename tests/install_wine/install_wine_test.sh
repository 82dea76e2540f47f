#!/bin/bash
# The Windows installer under Wine: a silent install to a /D= folder that
# registers and starts the service (after the Spooler, with recovery
# actions), keeps settings that exist, and whose agent works from the
# installed settings (it purges an old log); upgrades that stay in that
# folder without /D= and move with another; the service's stop control and
# stopmon.exe ending it; a silent uninstall, waited for, that removes the
# programs and the service and keeps the settings and the logs. The report
# site's scheduled task: made disabled, kept by an upgrade, made anew by a
# move (enabled where it was), deleted by the uninstall. Wine's icacls.exe
# does nothing, so a stand-in (icacls_standin.c) records what the installer
# asks.
set -u
bin=$1
icacls_standin=$2
image_holder=$3
here=$(dirname "$(readlink -f "$0")")
source "$here/../wine/wine-env.sh"
wine_setup || exit 1
trap wine_cleanup EXIT
source "$here/../lib/check.sh"

w() { (cd / && timeout 60 "$WINE" "$@" 2>/dev/null | tr -d '\r'); }
state() { w sc query Pelkomon | sed -n 's/^ *STATE *: *[0-9]* *\([A-Z_]*\).*/\1/p'; }
exit_code() { w sc query Pelkomon | sed -n 's/^ *WIN32_EXIT_CODE *: *\([0-9]*\).*/\1/p'; }
is_state() { [[ $(state) == "$1" ]]; }
# The agents of this prefix only: parallel tests run agents of their own.
agents() {
  local pid
  for pid in $(pgrep -f 'Pelko\\Pelkomon\.exe'); do
    tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX" && echo "$pid"
  done
}
no_agent() { [[ -z $(agents) ]]; }
value_of() {
  wine_reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | sed -n "s/^ *$2 *REG_[A-Z_]* *//p"
}
setting() { value_of 'HKLM\Software\Pelko' "$1"; }
# The report site's task as the Task Scheduler keeps it, and its definition
# as the installer wrote it beside the programs (UTF-16).
task_file="$WINEPREFIX/drive_c/windows/system32/tasks/Pelko report site"
task_enabled() {
  [[ -f $task_file ]] || { echo none; return; }
  sed -n 's|^ *<Enabled>\(.*\)</Enabled>.*|\1|p' "$task_file" | tail -n 1
}
task_definition() { iconv -f UTF-16 -t UTF-8 "$1/report-site-task.xml" 2>&1 | tr -d '\r'; }
drive_c=$WINEPREFIX/drive_c
tools='C:\Tools\Pelko'
programs=$drive_c/Tools/Pelko
data=$drive_c/ProgramData/Pelko
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Pelko'
event_key='HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\Pelko'
service_key='HKLM\SYSTEM\CurrentControlSet\Services\Pelkomon'
# Where Pelko is, as each who records it says: the folders holding an
# agent, the service's state and program, the uninstall entry's folder and
# its quiet command. One copy is one folder, named alike by all.
where_installed() {
  local found
  found=$(find "$drive_c" -path "$drive_c/windows" -prune -o -name Pelkomon.exe -printf '%h\n' |
    sed "s|^$drive_c|C:|; s|/|\\\\|g" | sort | paste -sd' ')
  echo "agents in: $found"
  echo "service: $(state) $(value_of "$service_key" ImagePath)"
  echo "entry: $(value_of "$uninstall_key" InstallLocation)"
  echo "quiet: $(value_of "$uninstall_key" QuietUninstallString)"
}
installed_in() {
  printf '%s\n' "agents in: $1" "service: RUNNING \"$1\\Pelkomon.exe\"" "entry: $1" \
    "quiet: \"$1\\uninstall.exe\" /S _?=$1"
}
# The recovery actions as the service manager keeps them (FailureActions:
# the reset period, then each action's type and delay); Wine's sc.exe has
# no qfailure.
failure_actions() {
  local hex i
  hex=$(value_of "$service_key" FailureActions)
  [[ $hex =~ ^[0-9A-Fa-f]{40,}$ ]] || { echo "none: '$hex'"; return; }
  dword() { echo $((16#${hex:$1+6:2}${hex:$1+4:2}${hex:$1+2:2}${hex:$1:2})); }
  echo -n "reset $(dword 0) s;"
  for ((i = 0; i < $(dword 24); i++)); do
    echo -n " type $(dword $((40 + 16 * i))) after $(dword $((48 + 16 * i))) ms;"
  done
  echo
}
# A program's version resource: its product and file version.
version_of() {
  strings -n 3 -el "$1" | grep -A1 -x -e ProductName -e FileVersion | grep -v -e '^--$' |
    paste -sd' '
}

# The installer, made by package.sh from this build's programs.
made=$(cd "$here/../.." && PELKO_NSIS_COMPRESSOR=zlib bash scripts/package.sh \
  --windows-bin "$bin" --out "$WINE_TEST_DIR" windows 2>"$WINE_TEST_DIR/makensis.log")
echo "$made"
setup=$(ls "$WINE_TEST_DIR"/PelkoSetup-*.exe 2>/dev/null)
check "installer made" yes "$([[ -f $setup ]] && echo yes)"
[[ -f $setup ]] || { cat "$WINE_TEST_DIR/makensis.log"; exit 1; }
echo "installer size: $(stat -c %s "$setup") bytes (test build, zlib)"

# The stand-in where the installer finds icacls.exe, preferred to Wine's own.
cp "$icacls_standin" "$drive_c/windows/system32/icacls.exe"
export WINEDLLOVERRIDES="icacls.exe=n" PELKO_ICACLS_LOG='C:\icacls.log'
icacls_asked() { tr -d '\r' <"$drive_c/icacls.log" 2>/dev/null; }

# A setting that exists survives the install.
wine_reg add 'HKLM\Software\Pelko' /v AppIsRunning /t REG_DWORD /d 1 /f >/dev/null

started=$(date +%s%N)
(cd / && timeout 120 "$WINE" "$setup" /S "/D=$tools")
check "silent install to /D= exits 0" 0 "$?"
wait_for 30 is_state RUNNING
check "service running after install" RUNNING "$(state)"
echo "silent install to service running: $((($(date +%s%N) - started) / 1000000)) ms"
check "installed in the /D= folder, once" "$(installed_in "$tools")" "$(where_installed)"

for file in Pelkomon.exe stopmon.exe Sendrik.exe pelkoreport.exe pelkoctl.exe pelkodb.exe Tavisk.xsl \
  uninstall.exe report-site-task.xml; do
  check "installed $file" yes "$([[ -f $programs/$file ]] && echo yes)"
done
check "default Path" 'C:\ProgramData\Pelko' "$(setting Path)"
check "existing AppIsRunning kept" 0x1 "$(setting AppIsRunning)"
check "default nPrinters" 0x0 "$(setting nPrinters)"
check "logs folder made" yes "$([[ -d $data/Logs ]] && echo yes)"
check "mail program in Path" yes "$([[ -f $data/Sendrik.exe ]] && echo yes)"
# Its folder's rights: Administrators and SYSTEM by SID, the readers' group,
# nothing inherited from ProgramData, and the folders made its own.
check "the Path folder's rights set with icacls" \
  "$(printf '%s\n' \
    '"C:\windows\system32\icacls.exe" "C:\ProgramData\Pelko" /inheritance:r /grant:r *S-1-5-32-544:(OI)(CI)F *S-1-5-18:(OI)(CI)F "Pelko Readers:(OI)(CI)RX"' \
    '"C:\windows\system32\icacls.exe" "C:\ProgramData\Pelko" /setowner *S-1-5-32-544' \
    '"C:\windows\system32\icacls.exe" "C:\ProgramData\Pelko\Logs" /setowner *S-1-5-32-544' \
    '"C:\windows\system32\icacls.exe" "C:\ProgramData\Pelko\Logs" /grant *S-1-5-19:(OI)(CI)RX' \
    '"C:\windows\system32\icacls.exe" "C:\ProgramData\Pelko\Site" /grant *S-1-5-19:(OI)(CI)M')" \
  "$(icacls_asked)"
check "the site folder made" yes "$([[ -d $data/Site ]] && echo yes)"
# The report site's task. Wine keeps the task's settings but neither its
# triggers, account nor action: those are read in the definition.
check "the report site's task made, disabled" false "$(task_enabled)"
definition=$(task_definition "$programs")
check "the task: hourly, as LOCAL SERVICE, the report program on Path's logs, disabled" \
  "$(printf '%s\n' '<Interval>PT1H</Interval>' '<UserId>S-1-5-19</UserId>' \
    '<Enabled>false</Enabled>' "<Command>\"$tools\\pelkoreport.exe\"</Command>" \
    '<Arguments>--site "C:\ProgramData\Pelko\Site" "C:\ProgramData\Pelko\Logs"</Arguments>')" \
  "$(grep -o -e '<Interval>.*' -e '<UserId>.*' -e '<Enabled>false.*' -e '<Command>.*' \
       -e '<Arguments>.*' <<<"$definition")"
if command -v xmllint >/dev/null; then
  check "the task's definition is well-formed XML" "" \
    "$(xmllint --noout "$programs/report-site-task.xml" 2>&1)"
fi
# The documented command is taken; Wine's scheduler does not act on it, so
# the administrator's choice, and a change of their own, are written where
# the scheduler keeps the task.
check "schtasks /Change /ENABLE taken" 0 \
  "$(cd / && timeout 60 "$WINE" schtasks /Change /TN 'Pelko report site' /ENABLE >/dev/null 2>&1; echo $?)"
sed -i 's|<Enabled>false</Enabled>|<Enabled>true</Enabled>|; s|<Description>|&Ours. |' "$task_file"
task_ours() { grep -c '<Description>Ours\. ' "$task_file"; }
service=$(wine_reg query 'HKLM\SYSTEM\CurrentControlSet\Services\Pelkomon' | tr -d '\r')
check "service starts at boot" 1 "$(grep -c 'Start *REG_DWORD *0x2$' <<<"$service")"
check "service runs as LocalSystem" 1 "$(grep -c 'ObjectName *REG_SZ *LocalSystem$' <<<"$service")"
check "service depends on the Spooler alone" 1 "$(grep -c 'DependOnService *REG_MULTI_SZ *Spooler$' <<<"$service")"
check "service restarted a minute after each failure, the count reset after a day" \
  'reset 86400 s; type 1 after 60000 ms; type 1 after 60000 ms; type 1 after 60000 ms;' \
  "$(failure_actions)"
# Every program, and the installer, carries the version the setup is named by.
version=$(basename "$setup" .exe)
version=${version#PelkoSetup-}
IFS=. read -ra parts <<<"$version.0.0.0"
version4=${parts[0]}.${parts[1]}.${parts[2]}.${parts[3]}
for file in "$setup" "$programs"/*.exe; do
  check "version resource of $(basename "$file")" "FileVersion $version4 ProductName Pelko" \
    "$(version_of "$file")"
done
listed=$(wine_reg query "$uninstall_key" | tr -d '\r')
for name in DisplayName UninstallString QuietUninstallString DisplayVersion Publisher; do
  check "Programs and Features: $name" 1 "$(grep -c "^ *$name *REG_SZ" <<<"$listed")"
done
# Event Viewer finds each ID's and category's text in the installed agent;
# the count is that of the categories the message file holds.
categories=$(sed -n 's/^inline constexpr uint16_t kEventCategoryCount = \([0-9]*\);/\1/p' \
  "$here/../../agent/platform/event_kind.h")
check "event source registered with its message files, types and categories" \
  "$tools\Pelkomon.exe|$tools\Pelkomon.exe|0x7|0x$categories" \
  "$(for name in EventMessageFile CategoryMessageFile TypesSupported CategoryCount; do
       value_of "$event_key" $name; done | paste -sd'|')"

# The installed agent follows the installed settings: it purges the old log
# of the default logs folder within one supervisor poll and keeps today's.
old=$data/Logs/Office_20200115.xml
today=$data/Logs/Office_$(date +%Y%m%d).xml
echo '<?xml version="1.0"?><Log/>' >"$old"
echo '<?xml version="1.0"?><Log/>' >"$today"
# A write that failed is said as such, with Wine's words, not later as a
# purge that did not happen.
set_setting() {
  local name=$1 value=$2 said
  said=$(wine_reg add 'HKLM\Software\Pelko' /v "$name" /t REG_DWORD /d "$value" /f 2>&1)
  check "setting $name written" "0" "$?"
  [[ $(setting "$name") == "$(printf '0x%x' "$value")" ]] || echo "wine reg add $name: $said"
}
set_setting DeleteLogsDays 7
set_setting DeleteOldLogs 1
old_gone() { [[ ! -e $old ]]; }
wait_for 40 old_gone
check "old log purged by the installed agent" gone "$([[ -e $old ]] && echo kept || echo gone)"
check "today's log kept" kept "$([[ -e $today ]] && echo kept || echo gone)"

# The installed pelkoctl.exe on the machine's registry: check names what is
# missing, and a printer added with it is stored with the agent's types.
ctl() { (cd / && timeout 60 "$WINE" "$programs/pelkoctl.exe" "$@" 2>&1 | tr -d '\r'); }
checked=$(ctl check)
check "pelkoctl check: no printer named" 1 "$(grep -c '^FAULT  no printer is configured' <<<"$checked")"
check "pelkoctl check: the running agent found" 1 "$(grep -c '^ok     the agent is running' <<<"$checked")"
check "pelkoctl check: the logs folder there" 1 "$(grep -c '^ok     Logs folder C:\\ProgramData\\Pelko\\Logs' <<<"$checked")"
ctl add Office --cost 20 --force >/dev/null
check "pelkoctl add: a REG_DWORD cost" 0x14 "$(setting Printer1Cost)"
check "pelkoctl add: nPrinters raised" 0x1 "$(setting nPrinters)"
check "pelkoctl set refuses text for a number" 1 "$(ctl set EmailAlertFreq often | grep -c 'not a decimal number')"
wine_reg add 'HKLM\Software\Pelko' /v EmailAlertFreq /d 60 /f >/dev/null
check "pelkoctl check names reg.exe's trap" 1 \
  "$(ctl check | grep -c '^FAULT  setting EmailAlertFreq = "60" (REG_SZ): stored as REG_SZ, which the agent reads as 0')"
ctl remove Office >/dev/null
wine_reg delete 'HKLM\Software\Pelko' /v EmailAlertFreq /f >/dev/null
check "pelkoctl remove: nPrinters lowered" 0x0 "$(setting nPrinters)"

# The installed pelkodb.exe: its help, and the database password read from
# standard input, kept sealed (REG_BINARY), never as text.
db() { (cd / && timeout 60 "$WINE" "$programs/pelkodb.exe" "$@" 2>&1 | tr -d '\r'); }
check "pelkodb --help names --set-password" 1 "$(db --help | grep -c '^Usage: pelkodb --set-password')"
check "pelkodb refuses an unknown option" 1 "$(db --bogus | grep -c '^Usage: pelkodb')"
check "pelkodb --check without a connection says the sink is off" 1 \
  "$(db --check | grep -c 'DatabaseConnection is empty')"
(cd / && echo 'db secret' | timeout 60 "$WINE" "$programs/pelkodb.exe" --set-password \
  >"$WINE_TEST_DIR/pelkodb.out" 2>&1)
check "pelkodb --set-password from stdin exits 0" 0 "$?"
said=$(tr -d '\r' <"$WINE_TEST_DIR/pelkodb.out")
stored=$(wine_reg query 'HKLM\Software\Pelko' /v DatabasePassword 2>/dev/null | tr -d '\r')
check "DatabasePassword sealed as REG_BINARY" 1 "$(grep -c 'DatabasePassword *REG_BINARY' <<<"$stored")"
check "DatabasePassword not kept as text" 0 "$(grep -ci 'db secret' <<<"$stored")"
echo "pelkodb --set-password said: $said"

# Upgrading over the running service without /D=: it stays in its folder,
# the settings stay, the service runs the new program.
started=$(date +%s%N)
(cd / && timeout 120 "$WINE" "$setup" /S)
check "upgrade without /D= exits 0" 0 "$?"
wait_for 30 is_state RUNNING
echo "upgrade over the running service: $((($(date +%s%N) - started) / 1000000)) ms"
check "upgrade without /D= stays in $tools" "$(installed_in "$tools")" "$(where_installed)"
check "upgrade keeps the settings" '0x1 0x7' "$(setting DeleteOldLogs) $(setting DeleteLogsDays)"
check "upgrade keeps the task as it was, enabled" "true 1" "$(task_enabled) $(task_ours)"

# A move that cannot delete the old agent (its program held open) moves
# nothing: the old copy stays the one, its service running again.
apps='C:\Apps\Pelko'
(cd / && exec timeout 120 "$WINE" "$image_holder" "$tools\\Pelkomon.exe" >"$WINE_TEST_DIR/holder.out") &
held=$!
holding() { grep -q held "$WINE_TEST_DIR/holder.out" 2>/dev/null; }
wait_for 30 holding
(cd / && timeout 120 "$WINE" "$setup" /S "/D=$apps")
check "move while the old agent is held exits 2" 2 "$?"
wait_for 30 is_state RUNNING
check "move while held: nothing moved" "$(installed_in "$tools")" "$(where_installed)"
stop_process "$held" 10
one_agent() { [[ $(agents | wc -l) -eq 1 ]]; }
wait_for 30 one_agent

# With another /D= it moves: the old folder goes, the service (the same
# one, with its dependency) runs the new copy, settings and logs stay.
started=$(date +%s%N)
(cd / && timeout 120 "$WINE" "$setup" /S "/D=$apps")
check "move with another /D= exits 0" 0 "$?"
wait_for 30 is_state RUNNING
echo "move to another folder: $((($(date +%s%N) - started) / 1000000)) ms"
check "move: one copy, in $apps" "$(installed_in "$apps")" "$(where_installed)"
check "move: the old folder gone" gone "$([[ -e $programs ]] && echo kept || echo gone)"
check "move: the Spooler dependency kept" Spooler "$(value_of "$service_key" DependOnService)"
check "move: settings and logs kept" '0x7 kept' \
  "$(setting DeleteLogsDays) $([[ -e $today ]] && echo kept || echo gone)"
programs=$drive_c/Apps/Pelko
check "move: the task made anew for the new folder, still enabled" \
  "true 0|<Command>\"$apps\\pelkoreport.exe\"</Command>|0" \
  "$(task_enabled) $(task_ours)|$(task_definition "$programs" | grep -o '<Command>.*')|$(task_definition "$programs" |
     grep -c '<Enabled>false')"

# The stop control ends it through the quit path, with 0.
w sc stop Pelkomon >/dev/null
wait_for 30 is_state STOPPED
check "sc stop: service stopped" STOPPED "$(state)"
check "sc stop: exit code 0" 0 "$(exit_code)"
wait_for 10 no_agent
check "sc stop: agent gone" "" "$(agents)"

# stopmon.exe ends the service's agent too.
w sc start Pelkomon >/dev/null
wait_for 30 is_state RUNNING
check "service started again" RUNNING "$(state)"
(cd / && timeout 60 "$WINE" "$apps\\stopmon.exe" >/dev/null 2>&1)
check "stopmon exits 0" 0 "$?"
wait_for 10 no_agent
check "stopmon: agent gone" "" "$(agents)"
echo "after stopmon the service manager says: $(state) $(exit_code)"

# The silent uninstall as its entry's quiet command runs it (checked
# above): done when it returns, nothing waited for after. Wine cannot move
# the running uninstaller out of its folder, as Windows does: it stays there,
# alone, and is removed here.
started=$(date +%s%N)
(cd / && timeout 120 "$WINE" "$apps\\uninstall.exe" /S "_?=$apps")
check "silent uninstall exits 0" 0 "$?"
echo "silent uninstall, waited for: $((($(date +%s%N) - started) / 1000000)) ms"
check "uninstall: the task deleted" none "$(task_enabled)"
check "uninstall: no longer listed" no "$(wine_reg query "$uninstall_key" >/dev/null 2>&1 && echo yes || echo no)"
check "uninstall: only the running uninstaller left" uninstall.exe "$(ls "$programs")"
rm -rf "$programs"
check "uninstall: mail program removed from Path" gone \
  "$([[ -e $data/Sendrik.exe ]] && echo kept || echo gone)"
check "uninstall: service deleted" "" "$(state)"
check "uninstall: event source removed" no \
  "$(wine_reg query "$event_key" >/dev/null 2>&1 && echo yes || echo no)"
check "uninstall: settings kept" 'C:\ProgramData\Pelko 0x7' "$(setting Path) $(setting DeleteLogsDays)"
check "uninstall: logs kept" kept "$([[ -e $today ]] && echo kept || echo gone)"
check "uninstall: no agent left" "" "$(agents)"

# An icacls.exe that fails ends the install before the service is made: no
# agent runs from a folder whose rights let others add files.
(cd / && PELKO_ICACLS_EXIT=5 timeout 120 "$WINE" "$setup" /S)
check "install with a failing icacls exits 2" 2 "$?"
check "install with a failing icacls: no service" "" "$(state)"
check "install with a failing icacls: no agent" "" "$(agents)"
check "install with a failing icacls: no task" none "$(task_enabled)"

[[ $failures -eq 0 ]]
