# A private CUPS scheduler for tests and the demo: its own configuration,
# spool and logs in a temporary folder, reached through a unix socket (and,
# when asked, a loopback TCP port). Never touches the system's cupsd.
#
#   source scripts/lib/cups-env.sh
#   cups_env_start [--tcp]        starts it; exports CUPS_SERVER (the socket)
#                                 and, with --tcp, CUPS_ENV_PORT
#   cups_env_add_queue NAME [SECONDS_PER_PAGE [HOLD_FOLDER]]
#                                 generic PostScript queue on the pelko
#                                 backend (prints to nowhere, 1 s a page);
#                                 with HOLD_FOLDER its jobs are held while
#                                 they print until the test releases them
#   cups_env_printing FOLDER JOB  true once JOB is held printing there
#   cups_env_held FOLDER          the id of a job held printing there and
#                                 not yet released; false when none is
#   cups_env_ended QUEUE JOB      true once CUPS has JOB as completed
#   cups_env_release FOLDER [JOB] lets JOB (or every job, now and later)
#                                 of that folder's queue print on
#   cups_env_add_raw_queue NAME   raw queue on the same backend
#   cups_env_restart [COMMAND...] stops and starts the same scheduler;
#                                 runs COMMAND while it is down
#   cups_env_stop                 stops it and removes the folder
#   cups_env_document FILE PAGES  writes a PostScript document of PAGES pages
#
# CUPS_ENV_DIR is the folder; $CUPS_ENV_DIR/log holds its logs. Set before
# the start: CUPS_ENV_LOGLEVEL, CUPS_ENV_ACCESSLOGLEVEL (all: every request
# in log/access_log), CUPS_ENV_MAXJOBS, CUPS_ENV_PAGELOGFORMAT (fields before "%T %P %C" only: the tests read the count last), CUPS_ENV_DIRTYCLEAN (0: cupsd saves
# its jobs and queues at once, so that a SIGKILL does not lose them), and
# CUPS_ENV_PRIVACY=default with CUPS_ENV_PRIVATE_VALUES=default for CUPS's
# own privacy rules instead of none. Every wait is bounded. Needs root (cupsd runs its filters as lp) or a cupsd that allows
# the calling user to run it.

CUPS_ENV_HERE=$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")
source "$CUPS_ENV_HERE/process.sh"

_cups_env_free_port() {
  local port
  for _ in $(seq 1 50); do
    port=$((20000 + RANDOM % 20000))
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
      echo "$port"
      return 0
    fi
  done
  return 1
}

_cups_env_write_config() {
  local dir=$1
  mkdir -p "$dir"/{spool,tmp,cache,state,log,serverbin,ppd,ssl}
  # Filters and the backend run as lp and must reach everything on their path.
  chmod 755 "$dir" "$dir"/serverbin
  chmod 1777 "$dir"/tmp
  local entry
  for entry in /usr/lib/cups/*; do
    [[ $(basename "$entry") == backend ]] && continue
    ln -sfn "$entry" "$dir/serverbin/$(basename "$entry")"
  done
  mkdir -p "$dir/serverbin/backend"
  chmod 755 "$dir/serverbin/backend"
  cp "$CUPS_ENV_HERE/pelko-backend" "$dir/serverbin/backend/pelko"
  chmod 755 "$dir/serverbin/backend/pelko"

  cat >"$dir/cups-files.conf" <<CONF
ServerRoot $dir
ServerBin $dir/serverbin
RequestRoot $dir/spool
TempDir $dir/tmp
CacheDir $dir/cache
StateDir $dir/state
AccessLog $dir/log/access_log
ErrorLog $dir/log/error_log
PageLog $dir/log/page_log
Printcap $dir/printcap
FileDevice Yes
Sandboxing Relaxed
SystemGroup root
CONF

  {
    echo "Listen $dir/cups.sock"
    [[ -n ${CUPS_ENV_PORT:-} ]] && echo "Listen 127.0.0.1:$CUPS_ENV_PORT"
    cat <<CONF
LogLevel ${CUPS_ENV_LOGLEVEL:-warn}
DirtyCleanInterval ${CUPS_ENV_DIRTYCLEAN:-30}
AccessLogLevel ${CUPS_ENV_ACCESSLOGLEVEL:-actions}
PageLogFormat ${CUPS_ENV_PAGELOGFORMAT:-%p %u %j %T %P %C}
Browsing No
WebInterface No
DefaultShared No
MaxJobs ${CUPS_ENV_MAXJOBS:-500}
# Tests submit hundreds of jobs at once; the default 100 clients refuses some.
MaxClients 1000
MaxClientsPerHost 1000
# The agent must see the users and titles of every job.
<Policy default>
  JobPrivateAccess ${CUPS_ENV_PRIVACY:-all}
  JobPrivateValues ${CUPS_ENV_PRIVATE_VALUES:-none}
  SubscriptionPrivateAccess ${CUPS_ENV_PRIVACY:-all}
  SubscriptionPrivateValues ${CUPS_ENV_PRIVATE_VALUES:-none}
  <Limit All>
    Order allow,deny
    Allow all
  </Limit>
</Policy>
<Location />
  Order allow,deny
  Allow all
</Location>
CONF
  } >"$dir/cupsd.conf"
}

_cups_env_running() {
  lpstat -r 2>/dev/null | grep -q "scheduler is running"
}

_cups_env_launch() {
  local dir=$CUPS_ENV_DIR
  cupsd -f -c "$dir/cupsd.conf" -s "$dir/cups-files.conf" \
    >>"$dir/log/cupsd.out" 2>&1 &
  CUPS_ENV_PID=$!
  export CUPS_ENV_PID
  local i
  for i in $(seq 1 100); do
    if _cups_env_running; then return 0; fi
    if ! kill -0 "$CUPS_ENV_PID" 2>/dev/null; then break; fi
    sleep 0.1
  done
  echo "cups-env: cupsd did not start; see $dir/log" >&2
  cat "$dir/log/error_log" "$dir/log/cupsd.out" >&2 2>/dev/null
  return 1
}

cups_env_start() {
  if [[ ${1:-} == --tcp ]]; then
    CUPS_ENV_PORT=$(_cups_env_free_port) || {
      echo "cups-env: no free port" >&2
      return 1
    }
    export CUPS_ENV_PORT
  fi
  command -v cupsd >/dev/null || {
    echo "cups-env: cupsd is not installed" >&2
    return 1
  }
  CUPS_ENV_DIR=$(mktemp -d "${TMPDIR:-/tmp}/pelko-cups.XXXXXX") || return 1
  export CUPS_ENV_DIR
  _cups_env_write_config "$CUPS_ENV_DIR"
  export CUPS_SERVER=$CUPS_ENV_DIR/cups.sock
  _cups_env_launch
}

_cups_env_halt() {
  [[ -n ${CUPS_ENV_PID:-} ]] || return 0
  stop_process "$CUPS_ENV_PID"
  # Filters and backends of jobs cut short end with their scheduler.
  sleep 0.2
  unset CUPS_ENV_PID
}

cups_env_restart() {
  _cups_env_halt
  (($# == 0)) || "$@"
  _cups_env_launch
}

# cups_env_document FILE PAGES: writes a PostScript document of that many
# pages, with the page comments CUPS counts by, readable by its filters.
cups_env_document() {
  local i
  {
    printf '%%!PS-Adobe-3.0\n%%%%Pages: %d\n%%%%EndComments\n' "$2"
    for i in $(seq 1 "$2"); do
      printf '%%%%Page: %d %d\n/Helvetica findfont 24 scalefont setfont ' "$i" "$i"
      printf '72 720 moveto (Page %d) show showpage\n' "$i"
    done
    printf '%%%%EOF\n'
  } >"$1"
  chmod 644 "$1"
}

cups_env_stop() {
  _cups_env_halt
  if [[ -n ${CUPS_ENV_DIR:-} && -d $CUPS_ENV_DIR && -z ${CUPS_ENV_KEEP:-} ]]; then
    rm -rf "$CUPS_ENV_DIR"
  fi
  unset CUPS_ENV_DIR CUPS_SERVER CUPS_ENV_PORT
}

cups_env_add_queue() {
  local name=$1 seconds=${2:-1} uri
  uri="pelko:/nowhere?seconds=$seconds"
  if [[ -n ${3:-} ]]; then
    # The backend runs as lp and marks the jobs it holds there.
    mkdir -p "$3" && chmod 1777 "$3" || return 1
    uri="$uri&hold=$3"
  fi
  lpadmin -p "$name" -E -v "$uri" -m drv:///sample.drv/generic.ppd
}

cups_env_printing() { [[ -e $1/printing-$2 ]]; }

cups_env_held() {
  local file id
  for file in "$1"/printing-*; do
    [[ -e $file ]] || continue
    id=${file##*-}
    [[ -e $1/release-$id || -e $1/release ]] || { echo "$id"; return 0; }
  done
  return 1
}

cups_env_ended() {
  lpstat -W completed -o "$1" 2>/dev/null | grep -q "^$1-$2 "
}

cups_env_release() {
  if [[ -n ${2:-} ]]; then
    touch "$1/release-$2"
  else
    touch "$1/release"
  fi
}

cups_env_add_raw_queue() {
  local name=$1 seconds=${2:-1}
  lpadmin -p "$name" -E -v "pelko:/nowhere?seconds=$seconds" -m raw
}
