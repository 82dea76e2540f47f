#!/bin/bash
# build-curl-mingw.sh [PREFIX]: a static libcurl for the mingw-w64 build,
# from Debian's own curl source package (with Debian's patches), with the
# Schannel TLS backend and only what SMTP needs. Built once: a later run
# finds PREFIX/lib/libcurl.a and does nothing. The source stays out of the
# repository, beside PREFIX.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
prefix=${1:-${PELKO_CURL_MINGW:-$HOME/.cache/pelko/curl-mingw}}
[[ -f $prefix/lib/libcurl.a ]] && exit 0
cache=$(dirname "$prefix")/curl-source
mkdir -p "$cache"
cd "$cache"
if ! ls curl_*.orig.tar.gz >/dev/null 2>&1; then
  # A private source list: the system's apt lists stay as they are.
  lists=$(mktemp -d)
  trap 'rm -rf "$lists"' EXIT
  mkdir -p "$lists/lists/partial"
  sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources >"$lists/src.sources"
  apt=(apt-get -o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$lists"
       -o "Dir::State::Lists=$lists/lists")
  "${apt[@]}" update -qq
  "${apt[@]}" source --download-only curl
fi
orig=$(ls curl_*.orig.tar.gz | head -n1)
debian=$(ls curl_*.debian.tar.xz | head -n1)
src=$cache/src
rm -rf "$src" && mkdir -p "$src"
tar -xzf "$orig" -C "$src" --strip-components=1
tar -xJf "$debian" -C "$src"
# Debian's fixes (security ones above all) apply to every platform.
if [[ -f $src/debian/patches/series ]]; then
  while read -r patch _; do
    [[ -z $patch || $patch == \#* ]] && continue
    patch -d "$src" -p1 -s --forward <"$src/debian/patches/$patch" || {
      echo "build-curl-mingw: Debian patch $patch does not apply" >&2; exit 1; }
  done <"$src/debian/patches/series"
fi
# HTTP stays: Debian's fix of header sizes makes the SMTP code call into it.
off=()
for p in DICT FILE FTP GOPHER IMAP LDAP LDAPS MQTT POP3 RTSP SMB TELNET TFTP COOKIES ALTSVC \
         HSTS DOH NETRC PROXY; do
  off+=("-DCURL_DISABLE_$p=ON")
done
cmake -S "$src" -B "$cache/build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$here/../cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
  -DBUILD_SHARED_LIBS=OFF -DBUILD_CURL_EXE=OFF -DBUILD_TESTING=OFF -DENABLE_MANUAL=OFF \
  -DCURL_USE_SCHANNEL=ON -DCURL_USE_OPENSSL=OFF -DCURL_USE_LIBSSH2=OFF -DCURL_ZLIB=OFF \
  -DUSE_LIBIDN2=OFF -DUSE_NGHTTP2=OFF -DENABLE_UNIX_SOCKETS=OFF -DCURL_BROTLI=OFF \
  -DCURL_ZSTD=OFF -DUSE_WIN32_IDN=OFF -DENABLE_THREADED_RESOLVER=ON -DCURL_DISABLE_HTTP=OFF \
  "${off[@]}" >"$cache/configure.log"
cmake --build "$cache/build" -j2 >"$cache/build.log"
cmake --install "$cache/build" >"$cache/install.log"
echo "build-curl-mingw: libcurl installed in $prefix"
