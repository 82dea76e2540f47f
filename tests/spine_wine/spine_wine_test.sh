#!/bin/bash
# The Windows agent under Wine: registry values both ways, the idle agent
# without window or console, a printer worker started from the registry,
# and the quit message ending the agent with status 0.
set -u
bin=$1
source "$(dirname "$0")/../wine/wine-env.sh"
wine_setup || exit 1
trap wine_cleanup EXIT

source "$(dirname "$0")/../lib/check.sh"
probe() { (cd "$WINE_TEST_DIR" && timeout 60 "$WINE" "$bin/probe.exe" "$@" | tr -d '\r'); }

cp "$bin/Pelkomon.exe" "$bin/probe.exe" "$WINE_TEST_DIR/"
bin=$WINE_TEST_DIR

# Values written by the front end's side are read by the value classes.
wine_settings 'HKLM\Software\Pelko' <<'SETTINGS' || exit 1
nPrinters  REG_DWORD   3
Path       REG_SZ      C:\Pelko data
Blob       REG_BINARY  0102030405
Text       REG_SZ      12345
SETTINGS
check "dword read" 3 "$(probe read-dword 'SOFTWARE\Pelko\nPrinters')"
check "key names ignore case" 3 "$(probe read-dword 'software\PELKO\NPRINTERS')"
check "string read" 'C:\Pelko data' "$(probe read-string 'Software\Pelko\Path')"
check "binary of five bytes is no number" 4242 "$(probe read-dword 'Software\Pelko\Blob')"
check "text is no number" 4242 "$(probe read-dword 'Software\Pelko\Text')"
check "missing number" 4242 "$(probe read-dword 'Software\Pelko\Missing')"
check "missing text" '<default>' "$(probe read-string 'Software\Pelko\Missing')"

# Values the agent writes are seen by reg query; missing keys are created.
probe set-dword 'SOFTWARE\Pelko\IsModified' 7
probe set-string 'Software\Pelko\New\ToSendFile' 'C:\x y\GlobalLog_20261206.xml'
check "dword written" 1 "$(wine_reg query 'HKLM\Software\Pelko' /v IsModified | grep -c 'REG_DWORD *0x7')"
check "string written under a new key" 1 \
  "$(wine_reg query 'HKLM\Software\Pelko\New' /v ToSendFile | tr -d '\r' | grep -c 'REG_SZ *C:\\x y\\GlobalLog_20261206.xml$')"

# The idle agent: no configuration that starts anything.
wine_reg delete 'HKLM\Software\Pelko' /f >/dev/null
(cd "$WINE_TEST_DIR" && exec timeout 120 "$WINE" "$bin/Pelkomon.exe" >"$WINE_TEST_DIR/out" 2>&1) &
agent=$!
# Idle once its thread count holds still: the agent starts at once, and
# Wine's own start-up threads come and go beside its first ones.
idle=
for _ in $(seq 100); do
  count=$(probe threads Pelkomon.exe)
  [[ $count =~ ^[0-9]+$ && $count == "$idle" ]] && break
  idle=$count
  sleep 0.3
done
check "agent runs" yes "$([[ $idle =~ ^[0-9]+$ ]] && echo yes)"
check "agent has no window" 0 "$(probe windows Pelkomon.exe)"
check "agent is a windowed program" 1 \
  "$(x86_64-w64-mingw32-objdump -p "$bin/Pelkomon.exe" | grep -c 'Subsystem.*Windows GUI')"

# A configured printer: the supervisor starts its worker within one poll.
wine_settings 'HKLM\Software\Pelko' <<'SETTINGS' || exit 1
nPrinters     REG_DWORD  1
Printer1      REG_SZ     Office
AppIsRunning  REG_DWORD  1
SETTINGS
started=no
for _ in $(seq 120); do
  [[ $(probe threads Pelkomon.exe) -gt $idle ]] && { started=yes; break; }
  sleep 0.1
done
check "printer worker started within one poll" yes "$started"

# The quit message ends the agent with status 0.
probe post-quit Pelkomon.exe >/dev/null
status=timeout
for _ in $(seq 100); do
  if ! kill -0 $agent 2>/dev/null; then wait $agent; status=$?; break; fi
  sleep 0.1
done
check "quit message ends the agent with 0" 0 "$status"
check "agent printed nothing" "" "$(cat "$WINE_TEST_DIR/out")"

[[ $failures -eq 0 ]]
