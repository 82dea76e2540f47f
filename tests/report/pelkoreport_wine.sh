#!/bin/bash
# pelkoreport_wine.sh PELKOREPORT.EXE: the Windows report command under Wine,
# against the same logs and checks as on Linux.
set -u
here=$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")
exe=$(readlink -f "$1")
source "$here/../wine/wine-env.sh"
wine_setup || exit 1
trap wine_cleanup EXIT
/usr/bin/python3 "$here/check_pelkoreport.py" --wine "$exe"
