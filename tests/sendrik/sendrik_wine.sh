#!/bin/bash
# sendrik_wine.sh SENDRIK.EXE: the Windows mail program under Wine (Wine's
# Schannel) against the same real SMTP server and faults as on Linux.
set -u
here=$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")
exe=$(readlink -f "$1")
source "$here/../wine/wine-env.sh"
wine_setup || exit 1
trap wine_cleanup EXIT
cp "$exe" "$WINE_TEST_DIR/Sendrik.exe"
/usr/bin/python3 "$here/check_sendrik.py" --wine "$WINE_TEST_DIR/Sendrik.exe"
