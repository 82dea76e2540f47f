#!/bin/bash
# Tries the README's two commands as a newcomer would: on a clean Debian 12
# root made with debootstrap, in a fresh clone of this repository's HEAD,
# the demo first, then every test. Reports the time and result of each.
#
#   bash scripts/fresh-machine.sh [--keep] [--only-demo]
#
# Run as root. The root is made once and cached as a tarball
# (PELKO_FRESH_CACHE, default ~/.cache/pelko); each run unpacks a new copy,
# so a rerun costs only the commands. The commands run in a mount and pid
# namespace of their own: nothing they start outlives the run. Their output
# goes to build/fresh-machine/ (demo.log, tests.log, summary.txt).
# --keep leaves the root in place for a look; --only-demo skips the tests.
set -eu
repo=$(cd "$(dirname "$(readlink -f "$0")")/.." && pwd)
cache=${PELKO_FRESH_CACHE:-$HOME/.cache/pelko}
suite=bookworm
keep=
only_demo=
for arg in "$@"; do
  case $arg in
    --keep) keep=1 ;;
    --only-demo) only_demo=1 ;;
    -h|--help) sed -n '2,14s/^# \{0,1\}//p' "$0"; exit 0 ;;
    *) echo "fresh-machine: unknown argument '$arg'" >&2; exit 2 ;;
  esac
done
[[ $(id -u) -eq 0 ]] || { echo "fresh-machine: run me as root (debootstrap and chroot need it)" >&2; exit 2; }
bash "$repo/scripts/setup.sh" fresh

source "$repo/scripts/lib/debian-archive.sh"

tarball=$cache/debian-$suite-root.tar
if [[ ! -f $tarball ]]; then
  mkdir -p "$cache"
  made=$(mktemp -d "$cache/root.XXXXXX")
  echo "== making a clean Debian $suite root (once; cached in $tarball)"
  # git: the newcomer cloned the repository, so their machine has it.
  if ! debootstrap --include=git "$suite" "$made" "$(debian_mirror)" >"$made.log" 2>&1; then
    tail -20 "$made.log" >&2
    rm -rf "$made" "$made.log"
    exit 1
  fi
  tar -C "$made" -cf "$tarball.new" . && mv "$tarball.new" "$tarball"
  rm -rf "$made" "$made.log"
fi

out=$repo/build/fresh-machine
mkdir -p "$out"
rm -f "$out"/*.log "$out/summary.txt"
root=$(mktemp -d /var/tmp/pelko-fresh.XXXXXX)
cleanup() {
  if [[ -n $keep ]]; then echo "kept the root in $root"; else rm -rf "$root"; fi
}
trap cleanup EXIT
trap 'exit 143' TERM INT
tar -C "$root" -xf "$tarball"
# A machine's / is open to every user (mktemp made this one root's alone):
# cupsd's helpers run as lp.
chmod 755 "$root"
# The archive as this machine reaches it: its sources, its apt settings, its
# name server.
cp -a /etc/apt/sources.list.d/. "$root/etc/apt/sources.list.d/"
[[ -f /etc/apt/sources.list ]] && cp /etc/apt/sources.list "$root/etc/apt/"
cp -a /etc/apt/apt.conf.d/. "$root/etc/apt/apt.conf.d/"
cp /etc/resolv.conf "$root/etc/resolv.conf"
git clone --quiet "$repo" "$root/root/pelko"
echo "== the clone: $(git -C "$root/root/pelko" log -1 --format='%h %s')"

# run_in_root NAME COMMAND: runs COMMAND in the clone, as root of the clean
# machine, in namespaces of its own; sets $took (s) and $status.
run_in_root() {
  local name=$1 command=$2 begin=$SECONDS
  echo "== $name: $command"
  set +e
  unshare --mount --pid --fork --kill-child --propagation private bash -c '
    root=$1 command=$2
    mount -t proc proc "$root/proc"
    mount --rbind /sys "$root/sys"
    mount --rbind /dev "$root/dev"
    mount -t devpts -o newinstance,ptmxmode=0666 devpts "$root/dev/pts"
    mount -t tmpfs tmpfs "$root/dev/shm"
    mount -t tmpfs tmpfs "$root/run"
    exec chroot "$root" env -i HOME=/root TERM=dumb LANG=C.UTF-8 \
      PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
      bash -c "cd /root/pelko && $command"' _ "$root" "$command" >"$out/$name.log" 2>&1 </dev/null
  status=$?
  set -e
  took=$((SECONDS - begin))
}

summary() { echo "$*" | tee -a "$out/summary.txt"; }
duration() { printf '%d min %02d s' $(($1 / 60)) $(($1 % 60)); }

run_in_root demo "bash tools/demo/run-demo.sh"
summary "demo:  exit $status in $(duration "$took") ($out/demo.log)"
overall=$status
if [[ -z $only_demo ]]; then
  run_in_root tests "bash scripts/test-all.sh"
  summary "tests: exit $status in $(duration "$took") ($out/tests.log)"
  grep -E '^== |tests passed|tests failed|Not Run|\(Failed\)|\*\*\*' "$out/tests.log" |
    tee -a "$out/summary.txt" || true
  [[ $status -eq 0 ]] || overall=$status
fi
exit "$overall"
