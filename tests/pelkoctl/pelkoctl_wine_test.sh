#!/bin/bash
# pelkoctl_wine_test.sh PELKOMON_EXE STANDIN_DIR PELKOCTL_EXE
# pelkoctl.exe under Wine beside the running agent, as a Windows
# administrator meets it: a printer added with reg.exe without IsModified is
# named by check as not watched, with the Windows command that mends it and
# no Linux one; with IsModified it is taken up. /? and switches in any case.
set -u
exe=$1
standins=$2
ctl_exe=$3
here=$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")
source "$here/../spooler_wine/standin-env.sh"
source "$here/../lib/check.sh"
standin_setup pelkoctl_wine "$exe" "$standins" "$ctl_exe" || exit
: >"$scenario"

standin_office || exit 1
timeout 300 "$WINE" "$run/Pelkomon.exe" &

ctl() { (cd "$run" && timeout 60 "$WINE" pelkoctl.exe "$@" >"$WINE_TEST_DIR/out" 2>&1); echo $?; }
said() { tr -d '\r' <"$WINE_TEST_DIR/out" | grep -qF -- "$1" && echo yes || echo "no: $(tr -d '\r' <"$WINE_TEST_DIR/out")"; }
book() { [[ -e $WINEPREFIX/drive_c/pelko/$1.seen ]]; }
check "Office watched" yes "$(wait_for 60 book Office && echo yes)"

# reg.exe as the Windows part of the docs had it: no IsModified.
wine_reg add 'HKLM\Software\Pelko' /v Printer2 /t REG_SZ /d Sales /f >/dev/null
wine_reg add 'HKLM\Software\Pelko' /v Printer2Cost /t REG_DWORD /d 5 /f >/dev/null
wine_reg add 'HKLM\Software\Pelko' /v nPrinters /t REG_DWORD /d 2 /f >/dev/null
check "check: a fault" 2 "$(ctl check)"
check "Sales named as not watched" yes "$(said "FAULT  printer 2 'Sales' is not watched: the agent has not taken it up, as it was written without raising IsModified")"
check "with the Windows fix" yes "$(said "reg add HKLM\\Software\\Pelko /v IsModified /t REG_DWORD /d 1 /f)")"
check "no Linux command" 0 "$(tr -d '\r' <"$WINE_TEST_DIR/out" | grep -cE 'lpstat|systemctl|install -d')"
wine_reg add 'HKLM\Software\Pelko' /v IsModified /t REG_DWORD /d 1 /f >/dev/null
check "with IsModified it is taken up" yes "$(wait_for 60 book Sales && echo yes)"
ctl check >/dev/null
check "and no longer named" 0 "$(tr -d '\r' <"$WINE_TEST_DIR/out" | grep -c "is not watched")"

# Windows conventions.
check "/? is help" 0 "$(ctl /?)"
check "its text names the registry key" yes "$(said 'HKLM\Software\Pelko')"
check "switches in any case" 0 "$(ctl ADD Lab --COST 3)"
check "a missing queue's hint is Windows's" yes "$(ctl Add Missing1 --Cost 1 >/dev/null; said "Get-Printer in PowerShell lists them")"
[[ $failures -eq 0 ]]
