# The agent's settings as the tests and benches write them, through `reg`,
# which the caller defines: pelkoreg on its own store, or wine_reg in its
# prefix. Each stops at the first write that fails, and says which.
#
# `settings`: reads NAME TYPE DATA lines from standard input (DATA is the
#   rest of the line, blanks and all) and adds each under
#   HKLM\Software\Pelko.
# `watch_printers PATH QUEUE=COST...`: what the agent needs to watch those
#   queues: Path, nPrinters, each PrinterN and PrinterNCost, and
#   AppIsRunning 1.

settings() {
  local name type data
  while read -r name type data; do
    [[ -n $name ]] || continue
    reg add 'HKLM\Software\Pelko' /v "$name" /t "$type" /d "$data" /f || {
      echo "settings: writing $name failed" >&2
      return 1
    }
  done
}

watch_printers() {
  local path=$1 printer i=0
  shift
  {
    echo "Path REG_SZ $path"
    echo "nPrinters REG_DWORD $#"
    for printer; do
      i=$((i + 1))
      echo "Printer$i REG_SZ ${printer%=*}"
      echo "Printer${i}Cost REG_DWORD ${printer##*=}"
    done
    echo "AppIsRunning REG_DWORD 1"
  } | settings
}
