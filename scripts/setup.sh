#!/bin/bash
# Installs what building and testing need on a Debian machine, only what is
# missing. Run as root (or with sudo available).
set -eu
packages=(
  cmake ninja-build g++ pkg-config
  libcurl4-openssl-dev python3-aiosmtpd openssl patch xz-utils
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  mingw-w64 g++-mingw-w64-x86-64 wine wine64
  cups cups-client cups-bsd cups-filters libcups2-dev ghostscript
  libxml2-utils xsltproc
  postgresql unixodbc unixodbc-dev odbc-postgresql
  dpkg-dev lintian systemd nsis graphviz
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0
echo "setup: installing ${missing[*]}" >&2
sudo=
[[ $(id -u) -ne 0 ]] && sudo=sudo
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
