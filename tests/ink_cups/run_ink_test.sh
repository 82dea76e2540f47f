#!/bin/bash
# run_ink_test.sh TEST_PROGRAM [GTEST ARGS...]
# Runs the ink meter's tests against a private cupsd of their own, on a unix
# socket and a loopback port, with the queues Office and Spare, whose
# backend holds each job printing until the test ends, and tests/colour's corpus listed in
# $PELKO_TEST_DIR/corpus.
set -u
here=$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")
source "$here/../../scripts/lib/cups-env.sh"
if [[ $(id -u) -ne 0 ]] || ! command -v cupsd >/dev/null || ! command -v ps2pdf >/dev/null; then
  echo "SKIP: needs root, cupsd and ghostscript"
  exit 77
fi
export PELKO_TEST_DIR
PELKO_TEST_DIR=$(mktemp -d)
chmod 755 "$PELKO_TEST_DIR"
hold=$PELKO_TEST_DIR/hold
trap 'cups_env_release "$hold" 2>/dev/null; cups_env_stop; rm -rf "$PELKO_TEST_DIR"' EXIT
cups_env_start --tcp || exit 1
cups_env_add_queue Office 0 "$hold" 2>/dev/null || exit 1
cups_env_add_queue Spare 0 "$hold" 2>/dev/null || exit 1
python3 "$here/../colour/make_corpus.py" "$PELKO_TEST_DIR/corpus-files" >"$PELKO_TEST_DIR/corpus" ||
  exit 1
timeout -k 5 500 "$@"
