#!/bin/bash
# package_install_test.sh SOURCE_DIR PACKAGE_DIR
# Installs the package on this machine, as an administrator would, and takes
# it off again: the settings store and its defaults, the enabled unit and
# systemd's verdict on it, a second user's attempt to rewrite the settings
# that root obeys, the agent run exactly as the unit's ExecStart says (with
# its umask, no new privileges and no capabilities but those that hand a
# document to Ghostscript as another account) accounting a job on a
# private cupsd and ending with 0 on SIGTERM, a reinstall that keeps the
# settings, a removal that keeps settings and logs, a purge that keeps the
# logs only. The report site's timer: shipped off, enabled the documented
# way, gone with a purge; its service run as the unit says (its own account,
# a stand-in for the report program where the installed one makes no site)
# reads the logs and cannot write them nor read the settings, and writes
# pages that the web server reads and another user cannot. The machine is
# left as it was found.
set -u
source_dir=$1
package_dir=$2
here=$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")
source "$here/../lib/check.sh"
source "$here/../../scripts/lib/cups-env.sh"

if [[ $(id -u) -ne 0 ]]; then
  echo "SKIP: installing a package needs root"
  exit 77
fi
for tool in dpkg cupsd lp setpriv unshare nsenter findmnt useradd runuser; do
  command -v "$tool" >/dev/null || { echo "SKIP: needs $tool"; exit 77; }
done
if dpkg-query -W -f='${db:Status-Status}' pelko 2>/dev/null | grep -qv '^not-installed$'; then
  echo "SKIP: a pelko package is already on this machine; the test will not replace it"
  exit 77
fi
debs=("$package_dir"/pelko_*_amd64.deb)
if [[ ${#debs[@]} -ne 1 || ! -f ${debs[0]} ]]; then
  echo "FAIL: expected one package in $package_dir (package_deb_contents makes it)"
  exit 1
fi
deb=${debs[0]}

state=/var/lib/pelko
store=$state/registry
key='HKLM\Software\Pelko'
unit=/lib/systemd/system/pelkomon.service
site_unit=/lib/systemd/system/pelko-report-site.service
site_timer=/lib/systemd/system/pelko-report-site.timer
timer_link=/etc/systemd/system/timers.target.wants/pelko-report-site.timer
site=/var/lib/pelko-site
queue=PkgTest$$
work=$(mktemp -d)
chmod 755 "$work"
agent=
intruder=

# Everything the package or the test may touch outside its own folder.
snapshot() {
  find /etc/systemd/system /var/lib/systemd/deb-systemd-helper-enabled \
    /var/lib/systemd/deb-systemd-helper-masked "$unit" /usr/sbin/pelkomon \
    /usr/sbin/stopmon /usr/bin/pelkoreg /usr/share/pelko /usr/share/doc/pelko \
    /usr/share/man/man8/pelkomon.8.gz "$state" "$site_unit" "$site_timer" "$site" \
    /etc/default/pelko-report-site /usr/libexec/pelko -printf '%p %m %u:%g %l\n' 2>/dev/null | sort
}
before=$(snapshot)
# The package makes the group and the site's account; a machine that had
# none gets none back.
group_ours=
getent group pelko >/dev/null || group_ours=yes
site_user_ours=
getent passwd pelko-site >/dev/null || site_user_ours=yes
# Run-time folders the unit makes when the agent runs, and that were not
# here before.
new_runtime_dirs=()
for dir in $(sed -n 's/^RuntimeDirectory=//p' "$source_dir/packaging/pelkomon.service"); do
  [[ -e /run/$dir ]] || new_runtime_dirs+=("/run/$dir")
done
set_aside=
state_ours=

stop_agent() {
  [[ -n $agent ]] || return 0
  stop_process "$agent" 15
  agent=
}

# dpkg ARGS..., waiting (bounded) while another dpkg holds its lock.
dpkg_run() {
  local out
  for _ in $(seq 1 60); do
    if out=$(DEBIAN_FRONTEND=noninteractive dpkg "$@" 2>&1); then
      [[ -n $out ]] && echo "$out" >"$work/dpkg.out"
      return 0
    fi
    if ! grep -qi 'lock' <<<"$out"; then
      echo "$out"
      return 1
    fi
    sleep 2
  done
  echo "dpkg: its lock stayed taken"
  return 1
}

restore() {
  stop_agent
  cups_env_stop
  [[ -n ${cups_parent:-} ]] && rm -rf "$cups_parent"
  # Only when empty: a process run by hand may use it too.
  for dir in "${new_runtime_dirs[@]}"; do rmdir "$dir" 2>/dev/null; done
  if dpkg-query -W -f='${db:Status-Status}' pelko 2>/dev/null | grep -qv '^not-installed$'; then
    dpkg_run --purge pelko >/dev/null
  fi
  [[ -n $site_user_ours ]] && userdel pelko-site 2>/dev/null
  [[ -n $group_ours ]] && groupdel pelko 2>/dev/null
  if [[ -n $state_ours ]]; then
    rm -rf "$state"
    if [[ -n $set_aside ]]; then
      mv "$set_aside" "$state" && set_aside=
    fi
    state_ours=
  fi
  [[ -n $intruder ]] && userdel -r "$intruder" >/dev/null 2>&1
  intruder=
}
trap 'restore; rm -rf "$work"' EXIT
# A folder that was here already is set aside whole, so that the package
# meets a machine without one, and put back at the end.
if [[ -e $state ]]; then
  set_aside=$state.package-test.$$
  mv "$state" "$set_aside" || exit 1
fi
state_ours=1


value_of() {  # value_of NAME: the data pelkoreg shows for the value
  PELKO_REGISTRY=$store /usr/bin/pelkoreg query "$key" /v "$1" 2>/dev/null |
    awk -v name="$1" '$1 == name { print $3 }'
}

# Outside /tmp, which the unit makes private to the agent.
cups_parent=$(mktemp -d /run/pelko-package-test.XXXXXX)
chmod 755 "$cups_parent"
TMPDIR=$cups_parent cups_env_start || exit 1
cups_env_add_queue "$queue" 0.5 2>/dev/null || exit 1

# --- install
installed_at=$(date +%s.%N)
if ! dpkg_run -i "$deb"; then
  echo "FAIL: dpkg -i"
  exit 1
fi
check "installed" "install ok installed" "$(dpkg-query -W -f='${Status}' pelko)"
check "the pelko group made" yes "$(getent group pelko >/dev/null && echo yes)"
check "the settings folders: root's, only root writes; the logs the group's" \
  "755 root:root|755 root:root|2750 root:pelko" \
  "$(stat -c '%a %U:%G' "$state" "$store" "$state/Logs" | paste -sd'|')"
check "nothing in the store that others may write" "" \
  "$(find "$store" \( -perm /022 -o ! -user root \) -printf '%p ')"
check "default Path" "$state" "$(value_of Path)"
check "default AppIsRunning" 0x0 "$(value_of AppIsRunning)"
check "default nPrinters" 0x0 "$(value_of nPrinters)"
check "the stylesheet beside the logs" /usr/share/pelko/Tavisk.xsl \
  "$(readlink "$state/Logs/Tavisk.xsl")"
check "the mail program in the default Path" /usr/sbin/sendrik "$(readlink "$state/Sendrik.exe")"
check "enabled at boot" "$unit" \
  "$(readlink /etc/systemd/system/multi-user.target.wants/pelkomon.service)"
check "the site's timer shipped, not enabled" "yes no" \
  "$([[ -f $site_timer ]] && echo yes) $([[ -e $timer_link ]] && echo yes || echo no)"
check "the site's account: of the group pelko, without a shell" "pelko /usr/sbin/nologin" \
  "$(id -gn pelko-site) $(getent passwd pelko-site | cut -d: -f7)"
check "the site folder: the account's, the web server's group, set-group-ID" \
  "2750 pelko-site:www-data" "$(stat -c '%a %U:%G' "$site")"
check "the site's settings name the folder and the logs" "$site /var/lib/pelko/Logs" \
  "$(. /etc/default/pelko-report-site && echo "$SITE_DIR $LOGS_DIR")"
if [[ -d /run/systemd/system ]]; then
  check "systemd: the site's timer disabled" disabled "$(systemctl is-enabled pelko-report-site.timer)"
  # A booted systemd started it against the system's scheduler: this test
  # runs its own agent instead.
  check "started by systemd" active "$(systemctl is-active pelkomon.service)"
  systemctl stop pelkomon.service
fi

if command -v systemd-analyze >/dev/null; then
  # Whether systemd-analyze can verify anything at all here.
  mkdir -p "$work/probe"
  printf '[Service]\nExecStart=/bin/true\n' >"$work/probe/probe.service"
  if timeout 60 systemd-analyze verify --man=no "$work/probe/probe.service" >/dev/null 2>&1; then
    man_check=no
    command -v man >/dev/null && man_check=yes
    check "systemd-analyze verify accepts the unit" "" \
      "$(timeout 60 systemd-analyze verify --man=$man_check "$unit" 2>&1)"
    check "and the report site's service and timer" "" \
      "$(timeout 60 systemd-analyze verify --man=$man_check "$site_unit" "$site_timer" 2>&1)"
  else
    echo "SKIP: systemd-analyze cannot verify units here"
  fi
else
  echo "SKIP: systemd-analyze is not installed"
fi

# --- the attack: another user rewrites the settings that root obeys
intruder=pelkot$$
# Other tests may hold /etc/passwd's lock for a moment.
wait_for 30 useradd -M -N -s /bin/sh "$intruder" 2>/dev/null || { echo "FAIL: useradd"; exit 1; }
runuser -u "$intruder" -- env PELKO_REGISTRY="$store" /usr/bin/pelkoreg add "$key" \
  /v Path /d "/tmp/$intruder" /f >/dev/null 2>&1
check "another user cannot set Path" "$state" "$(value_of Path)"
runuser -u "$intruder" -- sh -c "echo x > '$store/HKEY_LOCAL_MACHINE/software/pelko/Values.reg.new'" 2>/dev/null
check "nor put a file in the store" no \
  "$([[ -e $store/HKEY_LOCAL_MACHINE/software/pelko/Values.reg.new ]] && echo yes || echo no)"
userdel -r "$intruder" >/dev/null 2>&1
intruder=

# --- the service's agent accounts a job
for setting in "nPrinters REG_DWORD 1" "Printer1 REG_SZ $queue" "Printer1Cost REG_DWORD 5" \
  "AppIsRunning REG_DWORD 1"; do
  read -r name type data <<<"$setting"
  PELKO_REGISTRY=$store /usr/bin/pelkoreg add "$key" /v "$name" /t "$type" /d "$data" /f >/dev/null
done

exec_start=$(sed -n 's/^ExecStart=//p' "$unit")
check "ExecStart runs the installed agent" /usr/sbin/pelkomon "$exec_start"
mounts=yes
if ! unshare --mount --propagation private true 2>/dev/null; then
  echo "SKIP: no mount namespace here: the agent runs without the unit's file system confinement"
  mounts=no
fi
# The private scheduler instead of the system's.
PELKO_UNIT_MOUNTS=$mounts bash "$here/run_as_unit.sh" "$unit" CUPS_SERVER="$CUPS_SERVER" \
  >"$work/agent.out" 2>&1 &
agent=$!
runs_agent() { [[ $(readlink "/proc/$agent/exe") == /usr/sbin/pelkomon ]]; }
check "the agent runs" yes "$(wait_for 10 runs_agent && echo yes)"
# CAP_CHOWN, CAP_SETGID and CAP_SETUID alone: bits 0, 6 and 7.
check "the agent has no capabilities but the measure's change of account" 00000000000000c1 \
  "$(awk '$1 == "CapEff:" { print $2 }' "/proc/$agent/status")"
check "nor can it gain any" 1 "$(awk '$1 == "NoNewPrivs:" { print $2 }' "/proc/$agent/status")"
if [[ $mounts == yes ]]; then
  confined() {  # confined COMMAND: runs it in the agent's file system view
    nsenter -t "$agent" -m -- "$@" >/dev/null 2>&1
  }
  check "it sees the system read-only" no "$(confined touch /etc/pelko-probe && echo yes || echo no)"
  check "and /var/lib/pelko writable" yes \
    "$(confined touch "$state/probe" && echo yes || echo no)"
  rm -f "$state/probe"
  check "and no home folders" "" "$(nsenter -t "$agent" -m -- ls -A /root /home 2>/dev/null | grep -v ':$' | grep -v '^$')"
fi

document=$work/two-pages.ps
cups_env_document "$document" 2
log=$state/Logs/${queue}_$(date +%Y%m%d).xml
id=$(lp -d "$queue" -t "after install" "$document" | sed -n 's/^request id is [^ ]*-\([0-9]*\) .*/\1/p')
accounted() { grep -qs "<id>$id</id><user>root</user> <printer>[^<]*</printer><doc>after install</doc> <pages>2</pages> <cost>10</cost>" "$log"; }
if wait_for 90 accounted; then
  awk -v from="$installed_at" -v to="$(date +%s.%N)" \
    'BEGIN { printf "time from install to the first accounted job: %.1f s\n", to - from }'
fi
check "a job of 2 pages at 5 accounted in the installed logs folder" yes "$(accounted && echo yes)"
if ! accounted; then
  echo "--- $log:"; cat "$log" 2>/dev/null; echo
  echo "--- the queue:"; lpstat -o "$queue" 2>&1
fi
check "the log is not writable by others" "" "$(find "$state/Logs" -type f -perm /022 -printf '%p ')"
check "the log is root's, readable by the pelko group" "root:pelko 640" "$(stat -c '%U:%G %a' "$log")"

kill -TERM "$agent"
wait_for 20 gone "$agent"
wait "$agent"
check "SIGTERM ends the agent with 0" 0 "$?"
agent=
check "the agent wrote nothing to its output" "" "$(cat "$work/agent.out")"

# The installed stop tool finds the agent that the unit runs and ends it
# the same way.
PELKO_UNIT_MOUNTS=$mounts bash "$here/run_as_unit.sh" "$unit" CUPS_SERVER="$CUPS_SERVER" \
  >"$work/agent.out" 2>&1 &
agent=$!
wait_for 10 runs_agent
timeout 30 /usr/sbin/stopmon
check "stopmon succeeds" 0 "$?"
wait_for 20 gone "$agent"
wait "$agent"
check "and the agent it ends exits with 0" 0 "$?"
agent=

# --- the report site's service, run as its unit says
# The stand-in says what it was given and could do, where the pages go.
standin=$work/pelkoreport-standin
cat >"$standin" <<'EOF'
#!/bin/sh
logs=$3
{
  echo "args: $*"
  echo "as: $(id -un) $(id -Gn)"
  if cat "$logs"/*.xml >/dev/null 2>&1; then echo "reads the logs"; fi
  if touch "$logs/probe" 2>/dev/null; then echo "writes the logs"; fi
  if cat /var/lib/pelko/registry/HKEY_LOCAL_MACHINE/software/pelko/Values.reg >/dev/null 2>&1; then
    echo "reads the settings"
  fi
  if touch /var/lib/pelko/probe 2>/dev/null; then echo "writes beside the logs"; fi
} >"$2/index.html"
EOF
chmod 755 "$standin"
run_site() {  # run_site [STANDIN]: the service's run, its status
  PELKO_UNIT_MOUNTS=$mounts PELKO_UNIT_STANDIN=${1:+$1:/usr/bin/pelkoreport} \
    timeout 300 bash "$here/run_as_unit.sh" "$site_unit" >"$work/site.out" 2>&1
}
if [[ $mounts == yes ]]; then
  run_site "$standin"
  check "the site's run ends with 0" 0 "$?"
  check "it runs the report program on the configured folders, as its account, reading the logs only" \
    "args: --site $site $state/Logs|as: pelko-site pelko|reads the logs" \
    "$(paste -sd'|' "$site/index.html" 2>&1)"
  check "its page: the account's, the web server's group, nobody else's" "pelko-site:www-data 640" \
    "$(stat -c '%U:%G %a' "$site/index.html")"
  check "the web server reads it" yes \
    "$(runuser -u www-data -- cat "$site/index.html" >/dev/null 2>&1 && echo yes)"
  intruder=pelkot$$
  wait_for 30 useradd -M -N -s /bin/sh "$intruder" 2>/dev/null || { echo "FAIL: useradd"; exit 1; }
  check "another user cannot" no \
    "$(runuser -u "$intruder" -- cat "$site/index.html" >/dev/null 2>&1 && echo yes || echo no)"
  userdel -r "$intruder" >/dev/null 2>&1
  intruder=
  rm -f "$site/index.html"
  if /usr/bin/pelkoreport --help 2>&1 | grep -q -- --site; then
    run_site
    check "the installed report program makes the site" 0 "$?"
    [[ -s $work/site.out ]] && cat "$work/site.out"
    check "with an index" yes "$([[ -f $site/index.html ]] && echo yes)"
    check "every page the account's, of the web server's group" "" \
      "$(find "$site" -mindepth 1 \( ! -user pelko-site -o ! -group www-data \) -printf '%p ')"
    check "the folder still closed to others" 2750 "$(stat -c %a "$site")"
  else
    echo "SKIP: the installed pelkoreport makes no site yet: the stand-in alone ran"
  fi
else
  echo "SKIP: no mount namespace here: the site's run is not tried"
fi

# Enabled as the documentation says.
if [[ -d /run/systemd/system ]]; then
  systemctl enable --now pelko-report-site.timer >/dev/null 2>&1
else
  systemctl enable pelko-report-site.timer >/dev/null 2>&1
fi
check "the site's timer enabled" "$site_timer" "$(readlink "$timer_link")"

# --- a reinstall (as an upgrade runs it) keeps the settings
dpkg_run -i "$deb"
check "reinstall" 0 "$?"
check "reinstall keeps the printers" "$queue" "$(value_of Printer1)"
check "reinstall keeps AppIsRunning" 0x1 "$(value_of AppIsRunning)"
check "reinstall keeps the site's timer enabled" "$site_timer" "$(readlink "$timer_link")"

# --- remove keeps settings and logs; purge keeps the logs only
# An older day's log beside whatever the agent wrote.
echo '<log/>' >"$state/Logs/${queue}_20261201.xml"
logs=$(ls "$state"/Logs/*.xml)
dpkg_run --remove pelko
check "remove" 0 "$?"
check "removed, settings kept" config-files "$(dpkg-query -W -f='${db:Status-Status}' pelko)"
check "the programs are gone" "" "$(ls /usr/sbin/pelkomon /usr/sbin/stopmon /usr/bin/pelkoreg "$unit" 2>/dev/null)"
check "and the site's units" "" "$(ls "$site_unit" "$site_timer" /usr/libexec/pelko 2>/dev/null)"
check "the site's timer masked, so that it cannot start" /dev/null \
  "$(readlink /etc/systemd/system/pelko-report-site.timer)"
check "the settings stay" 1 "$(grep -c "^\"Printer1\"=\"$queue\"$" "$store/HKEY_LOCAL_MACHINE/software/pelko/Values.reg" 2>/dev/null)"
check "the logs stay" "$logs" "$(ls "$state"/Logs/*.xml 2>&1)"

dpkg_run --purge pelko
check "purge" 0 "$?"
check "purged" not-installed "$(dpkg-query -W -f='${db:Status-Status}' pelko 2>/dev/null || echo not-installed)"
check "the store is gone" no "$([[ -e $store ]] && echo yes || echo no)"
check "the logs stay after a purge" "$logs" "$(ls "$state"/Logs/*.xml 2>&1)"
check "no stylesheet link left" no "$([[ -L $state/Logs/Tavisk.xsl ]] && echo yes || echo no)"
check "no mail program link left" no "$([[ -L $state/Sendrik.exe ]] && echo yes || echo no)"
check "not enabled any more" no \
  "$([[ -L /etc/systemd/system/multi-user.target.wants/pelkomon.service ]] && echo yes || echo no)"
check "the site's timer neither enabled nor masked" "no no" \
  "$([[ -L $timer_link ]] && echo yes || echo no) $([[ -L /etc/systemd/system/pelko-report-site.timer ]] && echo yes || echo no)"
check "the site's pages and settings gone" "" "$(ls -d "$site" /etc/default/pelko-report-site 2>/dev/null)"

restore
check "the machine is as it was" "" "$(diff <(echo "$before") <(snapshot))"

echo "$failures failure(s)"
[[ $failures -eq 0 ]]
