# Sourced. debian_mirror: the Debian archive this machine installs from, so
# that a root made for a check reaches it the same way.
debian_mirror() {
  local uri
  uri=$(awk '/^URIs:/ { print $2; exit }' /etc/apt/sources.list.d/*.sources 2>/dev/null)
  [[ -n $uri ]] || uri=$(awk '/^deb / { print $2; exit }' /etc/apt/sources.list 2>/dev/null)
  [[ -n $uri ]] || { echo "no Debian archive in this machine's apt sources" >&2; return 1; }
  echo "$uri"
}
