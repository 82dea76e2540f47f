#!/bin/bash
# Installs, on a Debian machine, the packages that scripts/packages.txt lists
# for the profiles named, only those missing. Run as root (or with sudo).
#
#   bash scripts/setup.sh PROFILE...     install what the profiles need
#   bash scripts/setup.sh --list PROFILE...   print those packages, install nothing
#
# Profiles: build demo tests windows package fresh (see scripts/packages.txt).
set -eu
list_file=$(dirname "$(readlink -f "$0")")/packages.txt
profiles=()
list_only=
for arg in "$@"; do
  case $arg in
    --list) list_only=1 ;;
    -h|--help) sed -n '2,8s/^# \{0,1\}//p' "$0"; exit 0 ;;
    -*) echo "setup: unknown option '$arg'" >&2; exit 2 ;;
    *) profiles+=("$arg") ;;
  esac
done
if [[ ${#profiles[@]} -eq 0 ]]; then
  echo "setup: name at least one profile: build demo tests windows package fresh" >&2
  exit 2
fi

known=$(awk '!/^#/ && NF > 1 { for (i = 2; i <= NF; i++) print $i }' "$list_file" | sort -u)
for profile in "${profiles[@]}"; do
  grep -qx -- "$profile" <<<"$known" || {
    echo "setup: no profile '$profile' in $list_file" >&2; exit 2; }
done

mapfile -t packages < <(awk -v wanted=" ${profiles[*]} " '
  /^#/ || NF < 2 { next }
  { for (i = 2; i <= NF; i++) if (index(wanted, " " $i " ")) { print $1; next } }' "$list_file")
if [[ -n $list_only ]]; then
  printf '%s\n' "${packages[@]}"
  exit 0
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
sudo=
[[ $(id -u) -ne 0 ]] && sudo=sudo

# The Windows tests run programs under the ANSI code pages (1250, 1251) of
# these locales; a fresh Debian has none but C.
make_locales() {
  [[ " ${profiles[*]} " == *" windows "* ]] || return 0
  local wanted
  for wanted in pl_PL ru_RU; do
    locale -a | grep -qix "$wanted.utf-\?8" || $sudo localedef -i "$wanted" -f UTF-8 "$wanted.UTF-8"
  done
}
if [[ ${#missing[@]} -eq 0 ]]; then
  make_locales
  exit 0
fi
# apt's own lines go to a file, named if it fails: the first screen is ours.
repo=$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)
mkdir -p "$repo/build"
apt_log=$repo/build/setup-apt.log
echo "setup: installing ${#missing[@]} packages for ${profiles[*]} (apt's output: $apt_log)" >&2

# Installing cups must not start (or enable) the machine's own scheduler: the
# demo and the tests run private ones. A policy already in place is kept.
policy=/usr/sbin/policy-rc.d
placed_policy=
if [[ ! -e $policy ]]; then
  printf '#!/bin/sh\nexit 101\n' | $sudo tee "$policy" >/dev/null
  $sudo chmod 755 "$policy"
  placed_policy=1
fi
remove_policy() { [[ -n $placed_policy ]] && $sudo rm -f "$policy"; return 0; }
trap remove_policy EXIT

apt_failed() {
  echo "setup: apt failed; the end of $apt_log:" >&2
  tail -n 20 "$apt_log" >&2
  exit 1
}
{ $sudo apt-get update -qq &&
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
} >"$apt_log" 2>&1 || apt_failed
make_locales
