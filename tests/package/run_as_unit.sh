#!/bin/bash
# run_as_unit.sh UNIT [NAME=VALUE...]
# Runs the unit's ExecStart= as systemd would, as far as the unit's settings
# go that a test without a booted systemd can reproduce: only the given
# environment and that of its EnvironmentFile=, its User= and Group= (with
# the user's groups), UMask=, NoNewPrivileges=yes and its
# CapabilityBoundingSet=, and in a mount namespace of its own
# ProtectSystem=strict|full|yes, ProtectHome=yes, PrivateTmp=yes,
# StateDirectory=, RuntimeDirectory= and ReadWritePaths=. With PELKO_UNIT_MOUNTS=no the mount
# namespace is left out; PELKO_UNIT_STANDIN=FILE:PROGRAM puts FILE in
# PROGRAM's place inside it. It execs throughout: the caller's child becomes
# the program itself.
set -eu
unit=$1
shift

setting() { sed -n "s/^$1=//p" "$unit" | tail -n 1; }
settings() { sed -n "s/^$1=//p" "$unit"; }

# Read-write bind mounts first, then the rest of the tree read-only.
confine_mounts() {
  local writable=() dir target skip
  # Before the private /tmp hides the stand-in.
  if [[ -n ${PELKO_UNIT_STANDIN:-} ]]; then
    mount --bind "${PELKO_UNIT_STANDIN%%:*}" "${PELKO_UNIT_STANDIN#*:}"
  fi
  for dir in $(settings StateDirectory); do writable+=("/var/lib/$dir"); done
  for dir in $(settings ReadWritePaths); do writable+=("${dir#-}"); done
  for dir in $(settings RuntimeDirectory); do
    mkdir -p "/run/$dir"
    chmod "$(setting RuntimeDirectoryMode)" "/run/$dir" 2>/dev/null || true
    writable+=("/run/$dir")
  done
  for dir in "${writable[@]}"; do
    mkdir -p "$dir"
    mount --bind "$dir" "$dir"
  done
  local protected=()
  case $(setting ProtectSystem) in
    strict)
      while read -r target; do
        case $target in /proc | /proc/* | /sys | /sys/* | /dev | /dev/*) continue ;; esac
        skip=
        for dir in "${writable[@]}"; do
          if [[ $target == "$dir" ]]; then skip=1; fi
        done
        if [[ -z $skip ]]; then protected+=("$target"); fi
      done < <(findmnt -rn -o TARGET)
      ;;
    full) protected=(/usr /boot /efi /etc) ;;
    yes | true) protected=(/usr /boot /efi) ;;
  esac
  for target in "${protected[@]}"; do
    if [[ -d $target ]]; then mount -o remount,bind,ro "$target" 2>/dev/null || true; fi
  done
  if [[ $(setting ProtectHome) == yes ]]; then
    for dir in /home /root /run/user; do
      if [[ -d $dir ]]; then mount -t tmpfs -o ro,mode=0755 tmpfs "$dir"; fi
    done
  fi
  if [[ $(setting PrivateTmp) == yes ]]; then
    mount -t tmpfs -o mode=1777 tmpfs /tmp
    mount -t tmpfs -o mode=1777 tmpfs /var/tmp
  fi
}

if [[ ${PELKO_UNIT_MOUNTS:-yes} == yes && ${1:-} != --confined ]]; then
  exec unshare --mount --propagation private -- bash "$0" "$unit" --confined "$@"
fi
if [[ ${1:-} == --confined ]]; then
  shift
  confine_mounts
fi

mask=$(setting UMask)
if [[ -n $mask ]]; then umask "$mask"; fi
limits=()
if [[ $(setting NoNewPrivileges) == yes ]]; then limits+=(--no-new-privs); fi
if grep -q '^CapabilityBoundingSet=' "$unit"; then
  bounding=-all
  for cap in $(setting CapabilityBoundingSet); do
    cap=${cap#CAP_}
    bounding+=",+${cap,,}"
  done
  limits+=(--bounding-set="$bounding" --inh-caps=-all)
fi
user=$(setting User)
if [[ -n $user ]]; then
  limits+=(--reuid="$user" --regid="$(setting Group)" --init-groups)
fi
# NAME=VALUE lines; "-" before the file's name lets it be missing.
environment=()
for file in $(settings EnvironmentFile); do
  if [[ ! -f ${file#-} ]]; then
    [[ $file == -* ]] && continue
    echo "run_as_unit: no $file" >&2
    exit 1
  fi
  while IFS= read -r line; do
    if [[ $line =~ ^[A-Za-z_][A-Za-z0-9_]*= ]]; then environment+=("$line"); fi
  done <"${file#-}"
done
# shellcheck disable=SC2046  # ExecStart's words, as systemd splits them
exec env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin "${environment[@]}" "$@" setpriv "${limits[@]}" -- $(setting ExecStart)
