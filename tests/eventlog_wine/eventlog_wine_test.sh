#!/bin/bash
# The Windows build says what it absorbs in the Event Log: each severity as
# its event type and each kind as its event ID and category, with a text for
# every ID in Pelkomon.exe's message table and a row in docs/monitoring.md;
# a worker's failure with its cause; the agent itself, meeting a log too big
# to read, saying so; a mail that cannot go said once with its own ID, named
# by `pelkoctl check`, and its recovery said once; the mail password set
# from a console, not shown, or from a pipe, with no file.
set -u
bin=$1
here=$(dirname "$(readlink -f "$0")")
source "$here/../wine/wine-env.sh"
source "$here/../wine/eventlog.sh"
source "$here/../lib/check.sh"
wine_setup || exit 1
trap wine_cleanup EXIT
cp "$bin/Pelkomon.exe" "$bin/trouble_probe.exe" "$bin/Sendrik.exe" "$bin/pelkoctl.exe" \
  "$bin/console_typist.exe" "$WINE_TEST_DIR/"
events=$WINE_TEST_DIR/events
tab=$'\t'

probe() {
  (cd "$WINE_TEST_DIR" && WINEDEBUG=$WINE_EVENTLOG_DEBUG timeout 60 "$WINE" trouble_probe.exe "$@" \
    2>>"$events" >/dev/null)
}

probe say error 2001 'cannot open the queue "Office"'
probe say warning 3001 'cannot write C:\Pelko\Logs\Office_20261207.xml; 3 pages kept pending'
probe say info 1000 'started'
check "each line is one record of its type, event ID and category" \
  "2001${tab}2${tab}error${tab}cannot open the queue \"Office\"|3001${tab}3${tab}warning${tab}cannot write C:\\Pelko\\Logs\\Office_20261207.xml; 3 pages kept pending|1000${tab}1${tab}info${tab}started" \
  "$(wine_eventlog_events "$events" | paste -sd'|')"

# What Event Viewer shows: the message table's text, the line as its %1.
messages=$( (cd "$WINE_TEST_DIR" && timeout 60 "$WINE" trouble_probe.exe messages Pelkomon.exe) | tr -d '\r')
check "the six categories and every ID have a text" "" \
  "$(awk -F'\t' '$2 == "-" || ($1 > 6 && $2 !~ /DETAIL\|$/)' <<<"$messages")"
check "the mail server's category" "4${tab}Mail|" "$(grep "^4${tab}" <<<"$messages")"
check "an ID's text" "4010${tab}Mail not sent: the mail server cannot be reached.||DETAIL|" \
  "$(grep "^4010${tab}" <<<"$messages")"
check "a printer not found and a spooler away, each with its ID's text" "1 1" \
  "$(grep -c "^2001${tab}.*the printer is not found" <<<"$messages") $(grep -c "^2005${tab}.*the spooler cannot be reached" <<<"$messages")"
undocumented=
for id in $(awk -F'\t' '$1 > 6 {print $1}' <<<"$messages"); do
  grep -q "^| $id | " "$here/../../docs/monitoring.md" || undocumented+=" $id"
done
check "every ID has its row in docs/monitoring.md" "" "$undocumented"

: >"$events"
probe worker-fails 'no room for Office_20261207.xml'
check "a worker that fails on a Windows thread" 0 $?
check "its failure is one error record" "error${tab}the probe thread failed: no room for Office_20261207.xml" \
  "$(wine_eventlog_records "$events")"

# The agent, mailing a logs folder that holds a sparse 8 TB log.
data=$WINE_TEST_DIR/data
mkdir -p "$data/Logs"
truncate -s 8T "$data/Logs/Office_$(date +%Y%m%d).xml"
wine_settings 'HKLM\Software\Pelko' <<SETTINGS || exit 1
Path          REG_SZ     $(wine_path "$data")
AppIsRunning  REG_DWORD  1
EmailAlert    REG_DWORD  1
SETTINGS
: >"$events"
wine_eventlog_launch "$events" Pelkomon.exe
# Reading it whole runs out of memory and ends the e-mail thread, which the
# supervisor starts again; a bounded read skips the file instead. Either way
# the Event Log says so.
said=$(wine_eventlog_wait "$events" 'e-mail alert thread failed|Office_[0-9]{8}\.xml' 60)
check "the agent says what it absorbed" yes "$([[ -n $said ]] && echo yes)"
echo "record: $said"
if [[ $said == *"thread failed"* ]]; then
  check "the failure names its cause" "error${tab}the e-mail alert thread failed: std::bad_alloc" "$said"
  restarted=$(wine_eventlog_wait "$events" 'e-mail alert thread had ended; started it again' 30)
  check "the e-mail thread is started again within a poll" \
    "warning${tab}the e-mail alert thread had ended; started it again" "$restarted"
fi
check "the agent still runs" yes "$(kill -0 "$WINE_EVENTLOG_PID" 2>/dev/null && echo yes)"
kill "$WINE_EVENTLOG_PID" 2>/dev/null
wait "$WINE_EVENTLOG_PID" 2>/dev/null

# The mail program, to a closed loopback port, then to a server that takes it.
log=$data/Logs/GlobalLog_20261208.xml
cp "$here/../stylesheet/samples/GlobalLog_20261208.xml" "$log"
closed=$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
wine_settings 'HKLM\Software\Pelko' <<SETTINGS || exit 1
EmailAlert    REG_DWORD  0
ToSendFile    REG_SZ     $(wine_path "$log")
MailServer    REG_SZ     127.0.0.1
MailPort      REG_DWORD  $closed
MailSecurity  REG_DWORD  0
MailFrom      REG_SZ     pelko@example.com
MailTo        REG_SZ     boss@example.com
MailTimeout   REG_DWORD  2
SETTINGS
mail() {
  : >"$events"
  (cd "$WINE_TEST_DIR" && WINEDEBUG=$WINE_EVENTLOG_DEBUG timeout 90 "$WINE" Sendrik.exe \
    2>>"$events" >/dev/null)
}
mail
check "a mail to a closed port fails" 1 $?
check "its failure is one record of its own ID and the Mail category" \
  "4010${tab}4${tab}error${tab}Sendrik: mail not sent: GlobalLog_20261208.xml to boss@example.com via smtp://127.0.0.1:$closed (no encryption): cannot connect to 127.0.0.1:$closed" \
  "$(wine_eventlog_events "$events" | sed 's/: Failed to connect.*//; s/: Couldn.t connect.*//')"
mail
check "the retry fails too" 1 $?
check "and is not said again" "" "$(wine_eventlog_events "$events")"
check_line() { (cd "$WINE_TEST_DIR" && timeout 60 "$WINE" pelkoctl.exe check 2>&1 | tr -d '\r' | grep -F "$1"); }
check "check names the failed mail and its fix" \
  "FAULT  the last mail, at ..., was not sent (event 4010): GlobalLog_20261208.xml to boss@example.com via smtp://127.0.0.1:$closed (no encryption): cannot connect to 127.0.0.1:$closed" \
  "$(check_line 'the last mail' | sed -E 's/at [0-9: -]{19},/at ...,/; s/: (Failed to|Couldn.t) connect.*//')"
check "with its fix" 1 "$(check_line 'the last mail' | grep -c 'check MailServer and MailPort')"

server=$(mktemp -d -p "$WINE_TEST_DIR")
/usr/bin/python3 "$here/../sendrik/smtp_server.py" --out "$server/mail" --lifetime 120 \
  >"$server/ready" 2>/dev/null &
smtp=$!
trap 'kill $smtp 2>/dev/null; wine_cleanup' EXIT
for ((i = 0; i < 150; i++)); do
  { read -r ready port <"$server/ready"; } 2>/dev/null && break
  sleep 0.2
done
check "the test server listens" ready "$ready"
wine_settings 'HKLM\Software\Pelko' <<SETTINGS || exit 1
MailPort      REG_DWORD  $port
SETTINGS
mail
check "the mail goes again" 0 $?
check "which is said once" "4020${tab}4${tab}info${tab}Sendrik: mail is sent again" \
  "$(wine_eventlog_events "$events")"
check "and arrived" 1 "$(ls "$server/mail" | grep -c '\.eml$')"
check "check says it was sent" 1 "$(check_line 'the last mail was sent, at ' | wc -l)"
kill "$smtp" 2>/dev/null
wait "$smtp" 2>/dev/null

# The password, as an administrator sets it from cmd: Sendrik.exe, a windowed
# program, opens a console window of its own, where console_typist types.
password_type() { wine_reg query 'HKLM\Software\Pelko' /v MailPassword | grep -o 'REG_[A-Z]*'; }
wine_reg delete 'HKLM\Software\Pelko' /v MailPassword /f >/dev/null 2>&1
(cd "$WINE_TEST_DIR" && timeout 60 "$WINE" Sendrik.exe /SetPassword </dev/null \
  >/dev/null 2>"$server/said"; echo $? >"$server/status") &
typed=$(cd "$WINE_TEST_DIR" &&
  timeout 60 "$WINE" console_typist.exe Sendrik.exe "not shown as you type" "hunter2" "Press Enter" |
  tr -d '\r' | tr -s ' ')
wait $!
check "the console window asks and says it was set" \
  "Mail password for Pelko (not shown as you type): sendrik: MailPassword set Press Enter to close this window." \
  "$(sed 's/ *$//' <<<"$typed")"
check "the password is not shown" 0 "$(grep -c hunter2 <<<"$typed")"
check "and the caller's console hears it too" "sendrik: MailPassword set" "$(tr -d '\r' <"$server/said")"
check "it exits 0" 0 "$(cat "$server/status")"
check "it is kept sealed" REG_BINARY "$(password_type)"
wine_reg delete 'HKLM\Software\Pelko' /v MailPassword /f >/dev/null 2>&1
(cd "$WINE_TEST_DIR" && printf 'piped\n' | timeout 60 "$WINE" Sendrik.exe -SETPASSWORD >/dev/null 2>&1)
check "a piped one in any case of switch" "0 REG_BINARY" "$? $(password_type)"

[[ $failures -eq 0 ]]
