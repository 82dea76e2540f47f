#!/bin/bash
# Makes the release packages in build/packages/ from optimised, stripped
# release builds:
#   pelko_<version>_amd64.deb   the Debian package (native-release preset, CPack)
#   PelkoSetup-<version>.exe    the Windows installer (mingw-release preset)
#
#   bash scripts/package.sh [--build-root DIR] [--out DIR]
#                           [--windows-bin DIR] [deb] [windows]
#
# Without deb or windows it makes both. --build-root puts the release build
# folders (native-release, mingw-release) elsewhere than build/, so that a
# test can build a package of its own; --out names the packages' folder;
# --windows-bin takes the Windows programs from DIR instead of a release
# build (tests use their mingw build; PELKO_NSIS_COMPRESSOR=zlib is quicker).
set -eu
cd "$(dirname "$0")/.."
source_dir=$PWD
build_root=$source_dir/build
out=$source_dir/build/packages
make_deb=
make_windows=
windows_bin=

usage() {
  sed -n '2,14s/^# \{0,1\}//p' "$0" >&2
  exit "${1:-2}"
}

while [[ $# -gt 0 ]]; do
  case $1 in
    --build-root) [[ $# -ge 2 ]] || usage; build_root=$(realpath -m "$2"); shift 2 ;;
    --out) [[ $# -ge 2 ]] || usage; out=$(realpath -m "$2"); shift 2 ;;
    --windows-bin) [[ $# -ge 2 ]] || usage; windows_bin=$(realpath -m "$2"); shift 2 ;;
    deb) make_deb=1; shift ;;
    windows) make_windows=1; shift ;;
    -h|--help) usage 0 ;;
    *) echo "package.sh: unknown argument '$1'" >&2; usage ;;
  esac
done
if [[ -z $make_deb && -z $make_windows ]]; then
  make_deb=1
  make_windows=1
fi

profiles=(package)
[[ -n $make_windows ]] && profiles+=(windows)
bash scripts/setup.sh "${profiles[@]}"
mkdir -p "$out"

# release_build PRESET: configures and builds it in its own folder under the
# build root; prints the folder.
release_build() {
  local preset=$1 dir=$build_root/$1
  echo "== $preset: configure and build in $dir" >&2
  cmake --preset "$preset" -B "$dir" >/dev/null
  cmake --build "$dir" -j2 >&2
  echo "$dir"
}

make_deb() {
  local dir staging deb
  dir=$(release_build native-release)
  staging=$dir/cpack
  rm -f "$staging"/*.deb
  echo "== deb: cpack" >&2
  (cd "$dir" && cpack -G DEB -B "$staging" >/dev/null)
  deb=$(find "$staging" -maxdepth 1 -name 'pelko_*_amd64.deb' -print -quit)
  [[ -n $deb ]] || { echo "package.sh: cpack made no .deb" >&2; return 1; }
  cp "$deb" "$out/"
  echo "made $out/$(basename "$deb") ($(stat -c %s "$deb") bytes)"
}

make_windows() {
  local bin version version4 setup
  if [[ -n $windows_bin ]]; then
    bin=$windows_bin
  else
    bin=$(release_build mingw-release)/bin
  fi
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$bin/../CMakeCache.txt")
  [[ -n $version ]] || { echo "package.sh: no project version in $bin/../CMakeCache.txt" >&2; return 1; }
  # In four numbers, as the programs' version resources have it.
  version4=$(sed -n 's/^PELKO_VERSION4:INTERNAL=//p' "$bin/../CMakeCache.txt")
  [[ -n $version4 ]] || { echo "package.sh: no PELKO_VERSION4 in $bin/../CMakeCache.txt" >&2; return 1; }
  setup=$out/PelkoSetup-$version.exe
  echo "== windows: makensis ($bin)" >&2
  makensis -V2 -DVERSION="$version" -DVERSION4="$version4" -DBIN="$bin" -DOUTFILE="$setup" \
    ${PELKO_NSIS_COMPRESSOR:+-DCOMPRESSOR="$PELKO_NSIS_COMPRESSOR"} \
    packaging/windows/pelko.nsi >&2
  echo "made $setup ($(stat -c %s "$setup") bytes)"
}

[[ -z $make_deb ]] || make_deb
[[ -z $make_windows ]] || make_windows
