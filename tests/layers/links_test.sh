#!/bin/bash
# links_test.sh LISTER "LIB..." AGENT UNIT_PROGRAM...
# LISTER is ldd (Linux) or an objdump (Windows programs, whose imports it
# prints). Every LIB must be linked into AGENT and none into a unit program.
set -u
source "$(dirname "$0")/../lib/check.sh"

lister=$1 libraries=$2 agent=$3
shift 3

linked() {  # the shared libraries or DLLs a program loads, lower case
  if [[ $(basename "$lister") == ldd ]]; then
    ldd "$1" | awk '{print $1}'
  else
    "$lister" -p "$1" | sed -n 's/^[[:space:]]*DLL Name: //p'
  fi | tr '[:upper:]' '[:lower:]'
}

links() {  # links PROGRAM LIB: yes or no
  if linked "$1" | grep -q -F "$2"; then echo yes; else echo no; fi
}

for library in $libraries; do
  check "the agent links $library" yes "$(links "$agent" "$library")"
  for program in "$@"; do
    check "$(basename "$program") is free of $library" no "$(links "$program" "$library")"
  done
done
[[ $failures -eq 0 ]]
