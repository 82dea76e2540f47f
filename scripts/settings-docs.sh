#!/bin/bash
# Writes the table of settings in docs/settings.md anew from the one list
# the programs use (pelkoctl settings --markdown). Give the pelkoctl built.
#
#   bash scripts/settings-docs.sh [PELKOCTL]
set -eu
repo=$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)
pelkoctl=${1:-$repo/build/native/bin/pelkoctl}
[[ -x $pelkoctl ]] || { echo "settings-docs: no pelkoctl at $pelkoctl (build it first)" >&2; exit 2; }
table=$("$pelkoctl" settings --markdown)
python3 - "$repo/docs/settings.md" "$table" <<'PY'
import re, sys
path, table = sys.argv[1], sys.argv[2] + "\n"
text = open(path, encoding="utf-8").read()
text = re.sub(r"(<!-- settings -->\n).*?(<!-- /settings -->)",
              lambda m: m.group(1) + table + m.group(2), text, flags=re.S)
open(path, "w", encoding="utf-8").write(text)
PY
