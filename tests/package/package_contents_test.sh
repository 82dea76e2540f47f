#!/bin/bash
# package_contents_test.sh SOURCE_DIR WORK_DIR
# Builds the Debian package with scripts/package.sh (release build in
# WORK_DIR/release, package in WORK_DIR/out), then checks it as the archive
# would: lintian finds no error, every path, mode and owner is the expected
# one, the programs are stripped, the man pages and changelog are gzipped
# without name or time, the maintainer scripts are executable.
set -u
source_dir=$1
work=$2
here=$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")
source "$here/../lib/check.sh"

for tool in dpkg-deb cmake readelf; do
  command -v "$tool" >/dev/null || { echo "SKIP: needs $tool"; exit 77; }
done

mkdir -p "$work"
rm -rf "$work/out"
if ! timeout 1100 bash "$source_dir/scripts/package.sh" --build-root "$work/release" \
    --out "$work/out" deb >"$work/package.log" 2>&1; then
  cat "$work/package.log"
  echo "FAIL: scripts/package.sh"
  exit 1
fi
debs=("$work"/out/pelko_*_amd64.deb)
check "one package made" 1 "${#debs[@]}"
deb=${debs[0]}
version=$(dpkg-deb -f "$deb" Version)
check "named after its version" "pelko_${version}_amd64.deb" "$(basename "$deb")"
echo "package: $(basename "$deb"), $(stat -c %s "$deb") bytes"

# --- control fields and maintainer scripts
depends=$(dpkg-deb -f "$deb" Depends)
for library in libc6 libcups2 libstdc++6; do
  check "depends on $library" yes "$([[ $depends == *"$library "* ]] && echo yes)"
done
check "package name" pelko "$(dpkg-deb -f "$deb" Package)"
check "architecture" amd64 "$(dpkg-deb -f "$deb" Architecture)"
controls=$(dpkg-deb --ctrl-tarfile "$deb" | tar -tvf - | awk '{print $1, $2, $6}' | sort)
check "conffiles: root's, not executable" "-rw-r--r-- root/root ./conffiles" \
  "$(grep " ./conffiles$" <<<"$controls")"
for script in postinst prerm postrm; do
  check "$script: executable, root's" "-rwxr-xr-x root/root ./$script" \
    "$(grep " ./$script$" <<<"$controls")"
done

# --- the file system tree: paths, modes, owners
listing=$(dpkg-deb -c "$deb")
check "every entry is root's" "" "$(awk '$2 != "root/root"' <<<"$listing")"
actual=$(awk '{print $1, $6}' <<<"$listing" | sort)
expected=$(
  {
    for dir in ./etc/ ./etc/default/ ./usr/libexec/ ./usr/libexec/pelko/ \
      ./lib/ ./lib/systemd/ ./lib/systemd/system/ ./usr/ ./usr/bin/ ./usr/sbin/ \
      ./usr/share/ ./usr/share/doc/ ./usr/share/doc/pelko/ ./usr/share/doc/pelko/docs/ \
      ./usr/share/man/ ./usr/share/man/man1/ ./usr/share/man/man8/ ./usr/share/pelko/; do
      echo "drwxr-xr-x $dir"
    done
    for program in ./usr/bin/pelkoreg ./usr/bin/pelkoreport ./usr/sbin/pelkomon \
      ./usr/sbin/stopmon ./usr/sbin/sendrik ./usr/sbin/pelkoctl ./usr/sbin/pelkodb \
      ./usr/libexec/pelko/report-site; do
      echo "-rwxr-xr-x $program"
    done
    for file in ./lib/systemd/system/pelkomon.service ./usr/share/pelko/Tavisk.xsl \
      ./lib/systemd/system/pelko-report-site.service ./lib/systemd/system/pelko-report-site.timer \
      ./etc/default/pelko-report-site \
      ./usr/share/man/man1/pelkoreg.1.gz ./usr/share/man/man8/pelkomon.8.gz \
      ./usr/share/man/man8/stopmon.8.gz ./usr/share/man/man8/pelkoctl.8.gz \
      ./usr/share/man/man8/sendrik.8.gz ./usr/share/man/man1/pelkoreport.1.gz \
      ./usr/share/man/man8/pelkodb.8.gz \
      ./usr/share/doc/pelko/copyright \
      ./usr/share/doc/pelko/changelog.gz ./usr/share/doc/pelko/README.md; do
      echo "-rw-r--r-- $file"
    done
    for doc in "$source_dir"/docs/*.md "$source_dir"/docs/*.png; do
      echo "-rw-r--r-- ./usr/share/doc/pelko/docs/$(basename "$doc")"
    done
  } | sort
)
check "paths and modes" "" "$(diff <(echo "$expected") <(echo "$actual"))"

tree=$work/tree
rm -rf "$tree"
dpkg-deb -x "$deb" "$tree"
for shipped in lib/systemd/system/pelkomon.service lib/systemd/system/pelko-report-site.service \
  lib/systemd/system/pelko-report-site.timer; do
  check "$shipped is the one in the sources" "" \
    "$(diff "$source_dir/packaging/$(basename "$shipped")" "$tree/$shipped")"
done
check "the report site's settings are the sources'" "" \
  "$(diff "$source_dir/packaging/pelko-report-site.default" "$tree/etc/default/pelko-report-site")"
check "and kept as a conffile" /etc/default/pelko-report-site \
  "$(dpkg-deb --ctrl-tarfile "$deb" | tar -xOf - ./conffiles)"
check "the stylesheet is the one in the sources" "" \
  "$(diff "$source_dir/share/Tavisk.xsl" "$tree/usr/share/pelko/Tavisk.xsl")"
for program in usr/sbin/pelkomon usr/sbin/stopmon usr/sbin/sendrik usr/sbin/pelkoctl \
  usr/sbin/pelkodb \
  usr/bin/pelkoreg usr/bin/pelkoreport; do
  sections=$(readelf -SW "$tree/$program" | grep -oE '\.(symtab|debug_[a-z]+|comment)' | sort -u)
  check "$program: stripped" "" "$(echo $sections)"
done
# gzip -n: no file name (flag 0x08) and a zero time stamp in the header.
for gz in usr/share/man/man1/pelkoreg.1.gz usr/share/man/man8/pelkomon.8.gz \
  usr/share/man/man8/stopmon.8.gz usr/share/man/man8/pelkoctl.8.gz usr/share/man/man8/sendrik.8.gz \
  usr/share/man/man1/pelkoreport.1.gz usr/share/man/man8/pelkodb.8.gz \
  usr/share/doc/pelko/changelog.gz; do
  header=$(od -An -tu1 -j3 -N5 "$tree/$gz" | tr -s ' ')
  check "$gz: no name, no time stamp" " 0 0 0 0 0" "$header"
done
for program in $(dpkg-deb -c "$deb" | awk '$1 ~ /^-/ && $6 ~ /^\.\/usr\/s?bin\// {print $6}'); do
  name=$(basename "$program")
  check "$name has a manual page" 1 "$(grep -cE "/man[18]/$name\.[18]\.gz$" <<<"$listing")"
done
check "changelog names this version" yes \
  "$(zcat "$tree/usr/share/doc/pelko/changelog.gz" | head -1 | grep -q "^pelko ($version) " && echo yes)"
if command -v man >/dev/null; then
  for page in usr/share/man/man1/pelkoreg.1.gz usr/share/man/man8/pelkomon.8.gz \
    usr/share/man/man8/stopmon.8.gz usr/share/man/man8/pelkoctl.8.gz \
    usr/share/man/man8/sendrik.8.gz usr/share/man/man1/pelkoreport.1.gz \
    usr/share/man/man8/pelkodb.8.gz; do
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$tree/$page" 2>&1 >/dev/null)
    check "$page: troff without warnings" "" "$warnings"
  done
fi

# --- lintian: the archive's own checks
status=0
if command -v lintian >/dev/null; then
  report=$(lintian -I -E --pedantic "$deb" 2>&1 | grep -v 'running with root privileges')
  echo "lintian: $(grep -c '^E:' <<<"$report") error(s), $(grep -c '^W:' <<<"$report") warning(s), $(grep -c '^[IP]:' <<<"$report") note(s)"
  [[ -n $report ]] && echo "$report"
  check "lintian: no errors" "" "$(grep '^E:' <<<"$report")"
else
  echo "SKIP: lintian is not installed (scripts/setup.sh installs it)"
  status=77
fi

echo "$failures failure(s)"
[[ $failures -eq 0 ]] || exit 1
exit $status
