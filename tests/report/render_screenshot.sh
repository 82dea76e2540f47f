#!/bin/bash
# Renders pelkoreport's HTML of the sample global log in headless Chromium
# into docs/pelkoreport-html.png. Not a test: run it by hand after changing
# the report's HTML. Usage: render_screenshot.sh PELKOREPORT [OUT.png]
set -u
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
tool=$1 out=${2:-$root/docs/pelkoreport-html.png}
command -v chromium >/dev/null || { echo "chromium is not installed" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$tool" --html -o "$work/report.html" "$root/tests/stylesheet/samples/GlobalLog_20261208.xml" || exit 1
timeout 90 chromium --headless --no-sandbox --disable-gpu \
  --disable-background-networking --disable-component-update --no-first-run \
  --user-data-dir="$work/profile" --hide-scrollbars \
  --window-size=1100,820 --screenshot="$out" "file://$work/report.html" >/dev/null 2>&1 ||
  { echo "chromium failed" >&2; exit 1; }
echo "$out: $(stat -c %s "$out") bytes"
