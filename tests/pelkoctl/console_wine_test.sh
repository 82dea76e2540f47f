#!/bin/bash
# console_wine_test.sh PELKOCTL_EXE CONSOLE_SCREEN_EXE
# pelkoctl.exe list, and an error, at a console under pl_PL, whose ANSI code page is 1250
# and whose console's is 852: a printer named beyond ASCII shows as it is
# named. Redirected to a file, the output stays the ANSI bytes scripts read.
set -u
ctl_exe=$(readlink -f "$1")
screen_exe=$(readlink -f "$2")
here=$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")
source "$here/../wine/wine-env.sh"
source "$here/../lib/check.sh"
locale -a | tr 'A-Z' 'a-z' | grep -qx 'pl_pl.utf-\?8' ||
  { echo "SKIP: the locale pl_PL.UTF-8 is not installed (locale-gen)"; exit 77; }
export LC_ALL=pl_PL.UTF-8 LANG=pl_PL.UTF-8  # Wine's code pages follow it
wine_setup || exit 1
trap wine_cleanup EXIT

name='Drukarka Łódź'
wine_reg add 'HKLM\Software\Pelko' /v nPrinters /t REG_DWORD /d 1 /f >/dev/null
wine_reg add 'HKLM\Software\Pelko' /v Printer1 /t REG_SZ /d "$name" /f >/dev/null
wine_reg add 'HKLM\Software\Pelko' /v Printer1Cost /t REG_DWORD /d 5 /f >/dev/null
cp "$ctl_exe" "$screen_exe" "$WINE_TEST_DIR/"
cd "$WINE_TEST_DIR" || exit 1

timeout 90 "$WINE" console_screen.exe "$(wine_path "$WINE_TEST_DIR/screen")" 'pelkoctl.exe list'
check "list ran at a console" 0 $?
check "the console shows the name" 1 "$(grep -cF "$name" screen 2>/dev/null)"

# An error goes to standard error, which is the console too.
timeout 90 "$WINE" console_screen.exe "$(wine_path "$WINE_TEST_DIR/screen2")" "pelkoctl.exe remove \"${name}x\""
check "the error names it at the console as it is named" 1 "$(grep -cF "${name}x" screen2 2>/dev/null)"

timeout 60 "$WINE" pelkoctl.exe list >file 2>&1
check "a file gets it in windows-1250" 1 "$(LC_ALL=C grep -acF "$(iconv -f UTF-8 -t CP1250 <<<"$name")" file)"
[[ $failures -eq 0 ]] || { echo "console:"; cat screen screen2; echo "file:"; cat file; false; }
