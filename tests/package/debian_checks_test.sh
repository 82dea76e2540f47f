#!/bin/bash
# debian_checks_test.sh SOURCE_DIR WORK_DIR
# The package that package_deb_contents made (WORK_DIR/out) through
# scripts/check-package.sh: lintian and piuparts, as Debian checks packages.
set -u
source_dir=$1
work=$2
[[ $(id -u) -eq 0 ]] || { echo "SKIP: piuparts needs root"; exit 77; }
debs=("$work"/out/pelko_*_amd64.deb)
[[ -f ${debs[0]} ]] || { echo "FAIL: no package in $work/out"; exit 1; }
rm -rf "$work/debian-checks"
exec bash "$source_dir/scripts/check-package.sh" --deb "${debs[0]}" --work "$work/debian-checks"
