#!/bin/bash
# Checks the Debian package as Debian checks packages:
#   lintian    no error, and no warning that the package's overrides do not
#              explain;
#   piuparts   install and purge in a clean Debian root, nothing left behind,
#              no process left running; then the previous version installed
#              and upgraded to this one, removed and purged.
#
#   bash scripts/check-package.sh [--deb FILE] [--work DIR]
#
# Without --deb it builds the package (scripts/package.sh). The previous
# version is the last commit before the project's version was last raised;
# its package is built once and cached under PELKO_CACHE (default
# ~/.cache/pelko), as is piuparts' base root. Run as root.
set -eu
repo=$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)
cache=${PELKO_CACHE:-$HOME/.cache/pelko}
suite=bookworm
deb=
work=

usage() { sed -n '2,14s/^# \{0,1\}//p' "$0" >&2; exit "${1:-2}"; }
while [[ $# -gt 0 ]]; do
  case $1 in
    --deb) [[ $# -ge 2 ]] || usage; deb=$(realpath "$2"); shift 2 ;;
    --work) [[ $# -ge 2 ]] || usage; work=$(realpath -m "$2"); shift 2 ;;
    -h|--help) usage 0 ;;
    *) echo "check-package: unknown argument '$1'" >&2; usage ;;
  esac
done
[[ $(id -u) -eq 0 ]] || { echo "check-package: run me as root (piuparts needs it)" >&2; exit 2; }
source "$repo/scripts/lib/debian-archive.sh"
bash "$repo/scripts/setup.sh" package
# Folders of this run's own, removed however it ends.
own=()
trap 'rm -rf "${own[@]}"' EXIT
if [[ -z $work ]]; then
  work=$(mktemp -d)
  own+=("$work")
fi
mkdir -p "$work" "$cache"

if [[ -z $deb ]]; then
  bash "$repo/scripts/package.sh" --build-root "$work/release" --out "$work/new" deb >&2
  deb=$(ls "$work"/new/pelko_*_amd64.deb)
fi
[[ -f $deb ]] || { echo "check-package: no package $deb" >&2; exit 2; }
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# --- lintian
echo "== lintian $(basename "$deb")"
report=$(lintian -I -E --pedantic --show-overrides "$deb" 2>&1 |
         grep -v 'running with root privileges' || true)
[[ -n $report ]] && echo "$report"
unexplained=$(grep -E '^[EW]: ' <<<"$report" || true)
echo "lintian: $(grep -c '^E:' <<<"$report") error(s), $(grep -c '^W:' <<<"$report") warning(s)," \
     "$(grep -c '^O:' <<<"$report") overridden, $(grep -c '^[IP]:' <<<"$report") note(s)"
[[ -z $unexplained ]] || fail "lintian: errors or warnings without an explained override"

# --- the previous version's package
# The commit that raised the version to this one; its parent is the last of
# the previous version.
previous_package() {
  local raised commit out
  raised=$(git -C "$repo" log -1 --format=%H -G '^project\(Pelko VERSION' -- CMakeLists.txt)
  [[ -n $raised ]] || return 1
  commit=$(git -C "$repo" rev-parse --verify -q "$raised^") || return 1
  out=$cache/previous-deb/$commit
  if ! ls "$out"/pelko_*_amd64.deb >/dev/null 2>&1; then
    echo "== building the previous version's package from $(git -C "$repo" log -1 --format='%h %s' "$commit")" >&2
    rm -rf "$work/previous" && mkdir -p "$work/previous/src"
    git -C "$repo" archive "$commit" | tar -x -C "$work/previous/src"
    bash "$work/previous/src/scripts/package.sh" --build-root "$work/previous/release" \
      --out "$out.new" deb >&2 || return 1
    rm -rf "$out" && mv "$out.new" "$out"
  fi
  ls "$out"/pelko_*_amd64.deb
}
old_deb=$(previous_package) || { fail "cannot build the previous version's package"; old_deb=; }

# --- piuparts
mirror=$(debian_mirror)
base=$cache/piuparts-$suite.tgz
piuparts_run() {  # piuparts_run NAME ARGS...: its log in $work/NAME.log
  local name=$1
  shift
  local base_args=(-b "$base")
  [[ -f $base ]] || base_args=(-s "$base")
  echo "== piuparts: $name"
  # The archive may be a dated snapshot, whose Release files are past their
  # validity.
  if piuparts -d "$suite" -m "$mirror" --no-check-valid-until "${base_args[@]}" \
      -l "$work/$name.log" "$@" >/dev/null 2>&1; then
    grep -oE 'INFO: (PASS|Can.t test).*' "$work/$name.log" || true
  else
    grep -E 'FAIL|ERROR' "$work/$name.log" | tail -20
    fail "piuparts: $name"
  fi
}
piuparts_run install-purge --no-upgrade-test "$deb"
if [[ -n $old_deb ]]; then
  # apt reads a file: repository as its unprivileged _apt user, and the work
  # folder may be under a home only root can enter.
  repo_dir=$(mktemp -d /var/tmp/pelko-previous-repo.XXXXXX)
  own+=("$repo_dir")
  chmod 755 "$repo_dir"
  cp "$old_deb" "$repo_dir/"
  (cd "$repo_dir" && dpkg-scanpackages -m . /dev/null 2>/dev/null | gzip -9n >Packages.gz)
  echo "previous version: $(dpkg-deb -f "$old_deb" Version); this one: $(dpkg-deb -f "$deb" Version)"
  piuparts_run upgrade --no-install-purge-test --bindmount="$repo_dir" \
    --extra-repo="deb [trusted=yes] file://$repo_dir ./" "$deb"
  grep -q 'PASS: Installation, upgrade and purging tests' "$work/upgrade.log" ||
    fail "piuparts: the upgrade from the previous version was not tested"
fi

echo "$failures failure(s)"
[[ $failures -eq 0 ]]
