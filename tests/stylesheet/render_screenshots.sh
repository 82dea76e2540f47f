#!/bin/bash
# Renders the daily and global sample reports in headless Chromium, which
# applies the logs' stylesheet instruction itself, into docs/report-*.png.
# Not a test: run it by hand after changing share/Tavisk.xsl.
set -u
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
out=${1:-$root/docs}
command -v chromium >/dev/null || { echo "chromium is not installed" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The instruction names the stylesheet relative to the log, so it sits beside it.
cp "$root/share/Tavisk.xsl" "$here/samples/HP_20261207.xml" \
   "$here/samples/GlobalLog_20261208.xml" "$work/"

shoot() {
  local profile
  profile=$(mktemp -d "$work/profile.XXXX")
  # Chromium refuses a stylesheet from file:// unless told to allow it, and
  # would lay a banner about XSLT's removal over the heading.
  timeout 90 chromium --headless --no-sandbox --disable-gpu \
    --disable-background-networking --disable-component-update --no-first-run \
    --user-data-dir="$profile" --allow-file-access-from-files \
    --disable-features=GenerateXSLTWarningBanner --hide-scrollbars \
    --window-size=1100,720 --screenshot="$2" "file://$work/$1" >/dev/null 2>&1 ||
    { echo "chromium failed on $1" >&2; return 1; }
  echo "$2: $(stat -c %s "$2") bytes"
}
shoot HP_20261207.xml "$out/report-daily.png" &&
  shoot GlobalLog_20261208.xml "$out/report-global.png"
