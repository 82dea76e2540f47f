# Bash functions for test scripts that run Windows programs under Wine,
# headless, each test in a private prefix. Use:
#
#   source tests/wine/wine-env.sh
#   wine_setup || exit 1          # fresh prefix; exports WINEPREFIX
#   trap wine_cleanup EXIT
#   wine_settings 'HKLM\Software\Pelko' <<'EOF' || exit 1
#   Path          REG_SZ     Z:\tmp\x
#   AppIsRunning  REG_DWORD  1
#   EOF
#   timeout 60 "$WINE" prog.exe args...
#
# wine_setup        Copies the cached template prefix into a new temporary
#                   folder, WINE_TEST_DIR, as WINE_TEST_DIR/prefix; exports
#                   WINEPREFIX and WINE_TEST_DIR and starts a persistent
#                   wineserver for it, so that each later start is quick.
#                   Put the test's own files in WINE_TEST_DIR too. Call it
#                   in the script's own shell, not in $(...) or a subshell.
# wine_cleanup      Kills that prefix's wineserver and every process in it and
#                   removes WINE_TEST_DIR. Safe to call twice or without setup.
# wine_reg ARGS     Runs `wine reg ARGS` from / (wine would run a reg.exe
#                   found in the current folder instead of its own).
# wine_path PATH    Prints the Windows name of a Linux path (Z:\...).
# wine_settings KEY Writes the settings read from stdin, one a line as
#                   "NAME TYPE VALUE" (TYPE REG_SZ, REG_DWORD, or REG_BINARY
#                   in hex digits; VALUE the rest of the line), under KEY in
#                   one `wine reg import`, then reads them back, up to three
#                   tries. Fails, saying which did not arrive, unless all did.
#
# Also exported: WINE (the 64-bit loader) and WINEDEBUG=-all unless set.
# Settings (environment):
#   PELKO_WINE_TIMEOUT   bound on a wine-run program, seconds (600)
#   PELKO_WINE_PERSIST   seconds the wineserver outlives its last client (120)
#   PELKO_WINE_TEMPLATE  the template prefix
#                        (${TMPDIR:-/tmp}/pelko-wine-template-$UID)
#
# The template is made once per user with `wineboot -i`, the null graphics
# driver (windows exist without a display) and no crash debugger (a crash
# exits at once with status 5 instead of hanging), under a lock so parallel
# tests wait for one another. Delete the folder to have it made again.

if [[ -x /usr/lib/wine/wine64 ]]; then
  WINE=/usr/lib/wine/wine64
  export WINELOADER=$WINE
else
  WINE=$(command -v wine64 || command -v wine)
fi
if [[ -x /usr/lib/wine/wineserver64 ]]; then
  export WINESERVER=/usr/lib/wine/wineserver64
else
  WINESERVER=$(command -v wineserver)
fi
export WINE
: "${WINEDEBUG:=-all}"
export WINEDEBUG

_wine_tmp=${TMPDIR:-/tmp}
_wine_template=${PELKO_WINE_TEMPLATE:-$_wine_tmp/pelko-wine-template-$UID}

# _wine_server ARGS: the wineserver of WINEPREFIX, bounded.
_wine_server() {
  timeout 60 "$WINESERVER" "$@"
}

_wine_make_template() {
  local prefix=$1
  rm -rf "$prefix" && mkdir -p "$prefix" || return 1
  # No Mono or Gecko installers: they would wait for a click.
  (cd / && WINEPREFIX=$prefix WINEDLLOVERRIDES="mscoree,mshtml=" \
    timeout 300 "$WINE" wineboot -i) >/dev/null 2>&1 || return 1
  (
    export WINEPREFIX=$prefix
    cd / &&
    timeout 60 "$WINE" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /t REG_SZ /d null /f &&
    timeout 60 "$WINE" reg add 'HKCU\Software\Wine\DllOverrides' /v winedbg.exe \
      /t REG_SZ /d "" /f &&
    _wine_server -w
  ) >/dev/null 2>&1 || return 1
  # The server writes the registry files as it exits: check they hold both.
  grep -q '"Graphics"="null"' "$prefix/user.reg" &&
    grep -q '"winedbg.exe"=""' "$prefix/user.reg" || return 1
  touch "$prefix/.pelko-template-ready"
}

# Makes the template unless it is ready; one maker at a time.
_wine_template_ready() {
  [[ -f $_wine_template/.pelko-template-ready ]] && return 0
  mkdir -p "$(dirname "$_wine_template")" || return 1
  (
    flock -w 900 9 || exit 1
    [[ -f $_wine_template/.pelko-template-ready ]] && exit 0
    echo "wine-env: making the template prefix $_wine_template" >&2
    _wine_make_template "$_wine_template"
  ) 9>"$_wine_template.lock"
}

# Removes the folders of earlier runs that were killed before cleaning up:
# a folder is in use while its "in-use" file is locked (by the shell that
# made it and by the programs and wineserver started from there).
_wine_remove_stale() {
  local dir
  for dir in "$_wine_tmp"/pelko-wine-run-"$UID".*; do
    [[ -f $dir/in-use && -n $(find "$dir/in-use" -mmin +1 2>/dev/null) ]] || continue
    flock -n "$dir/in-use" true 2>/dev/null || continue
    WINEPREFIX=$dir/prefix _wine_server -k >/dev/null 2>&1
    rm -rf "$dir"
  done
}

# The computer's name is a volatile key that the first program of a new
# wineserver writes; a program started beside it before then reads no name
# (GetComputerName fails with ERROR_FILE_NOT_FOUND). One program first.
_wine_computer_name_ready() {
  (cd / && timeout 60 "$WINE" reg query \
    'HKLM\System\CurrentControlSet\Control\ComputerName\ActiveComputerName' /v ComputerName) \
    >/dev/null 2>&1
}

wine_setup() {
  _wine_template_ready || { echo "wine-env: cannot make the template prefix" >&2; return 1; }
  _wine_remove_stale
  WINE_TEST_DIR=$(mktemp -d "$_wine_tmp/pelko-wine-run-$UID.XXXXXX") || return 1
  exec {_wine_lock_fd}>"$WINE_TEST_DIR/in-use" && flock -n "$_wine_lock_fd"
  export WINE_TEST_DIR
  if ! cp -a "$_wine_template" "$WINE_TEST_DIR/prefix"; then
    echo "wine-env: cannot copy the template prefix" >&2
    wine_cleanup
    return 1
  fi
  export WINEPREFIX=$WINE_TEST_DIR/prefix
  _wine_server -p"${PELKO_WINE_PERSIST:-120}"
  _wine_computer_name_ready || echo "wine-env: the prefix has no computer name yet" >&2
}

wine_cleanup() {
  [[ -n ${WINE_TEST_DIR:-} && -d $WINE_TEST_DIR ]] || return 0
  WINEPREFIX=$WINE_TEST_DIR/prefix _wine_server -k >/dev/null 2>&1
  WINEPREFIX=$WINE_TEST_DIR/prefix _wine_server -w >/dev/null 2>&1
  rm -rf "$WINE_TEST_DIR"
  [[ -n ${_wine_lock_fd:-} ]] && exec {_wine_lock_fd}>&-
  unset WINE_TEST_DIR WINEPREFIX _wine_lock_fd
}

wine_reg() {
  (cd / && timeout 60 "$WINE" reg "$@")
}

wine_path() { echo "Z:${1//\//\\}"; }

wine_settings() {
  local key=$1 table file wanted missing try
  [[ -d ${WINE_TEST_DIR:-} ]] || { echo "wine-env: wine_settings before wine_setup" >&2; return 1; }
  table=$(cat)
  file=$(mktemp "$WINE_TEST_DIR/settings.XXXXXX.reg") || return 1
  _wine_reg_file "$key" <<<"$table" >"$file" || return 1
  wanted=$(_wine_settings_shown <<<"$table" | LC_ALL=C sort)
  for try in 1 2 3; do
    wine_reg import "$(wine_path "$file")" >/dev/null 2>&1
    missing=$(LC_ALL=C comm -23 <(echo "$wanted") <(_wine_settings_stored "$key"))
    [[ -z $missing ]] && return 0
  done
  echo "wine-env: these settings did not arrive under $key:" >&2
  echo "$missing" >&2
  return 1
}

_wine_reg_root() {
  case ${1%%\\*} in
    HKLM) echo "HKEY_LOCAL_MACHINE${1#HKLM}" ;;
    HKCU) echo "HKEY_CURRENT_USER${1#HKCU}" ;;
    *) echo "$1" ;;
  esac
}

# The .reg file of the settings on stdin.
_wine_reg_file() {
  local name type value
  echo REGEDIT4
  echo
  echo "[$(_wine_reg_root "$1")]"
  while read -r name type value; do
    [[ -n $name ]] || continue
    case $type in
      REG_SZ)
        value=${value//\\/\\\\}
        echo "\"$name\"=\"${value//\"/\\\"}\"" ;;
      REG_DWORD) printf '"%s"=dword:%08x\n' "$name" "$value" || return 1 ;;
      REG_BINARY) echo "\"$name\"=hex:$(sed 's/../&,/g; s/,$//' <<<"$value")" ;;
      *) echo "wine-env: $name: no such type as $type" >&2; return 1 ;;
    esac
  done
}

# The settings on stdin as `wine reg query` shows them, "name TYPE VALUE",
# the name in lower case as value names ignore case.
_wine_settings_shown() {
  local name type value
  while read -r name type value; do
    [[ -n $name ]] || continue
    case $type in
      REG_DWORD) printf -v value '0x%x' "$value" ;;
      REG_BINARY) value=${value^^} ;;
    esac
    echo "${name,,} $type $value"
  done
}

_wine_settings_stored() {
  wine_reg query "$1" 2>/dev/null | tr -d '\r' |
    sed -n 's/^    \([^ ]*\)    \(REG_[A-Z_]*\)    \(.*\)$/\L\1\E \2 \3/p' | LC_ALL=C sort
}
