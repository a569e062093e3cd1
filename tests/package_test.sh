#!/usr/bin/env bash
# Checks the Debian package that make package builds: lintian finds no error or warning, the
# control fields and contents are what the package promises, and the program unpacked from it
# (dpkg -x, no installation) converts the bundled sample to exactly the given CSV.
#   bash tests/package_test.sh path/to/cdmg2csv_VERSION_ARCH.deb path/to/reference.csv
set -euo pipefail
deb=$(realpath "$1")
reference=$(realpath "$2")
source "$(dirname "$0")/support/scripts.sh"

echo "== lintian $(basename "$deb")"
# (Its note that it runs as root is left out.)
lintian --fail-on error,warning --display-info "$deb" 2> >(grep -v 'running with root privileges' >&2) ||
  fail "lintian reports an error or a warning"

echo "== control fields"
field() { dpkg-deb --field "$deb" "$1"; }
version=$(sed -n 's/^project(cdmg2csv VERSION \([0-9.]*\) .*/\1/p' "$top/CMakeLists.txt")
[[ "$(field Package)" == cdmg2csv ]] || fail "Package: $(field Package)"
[[ -n "$version" && "$(field Version)" == "$version" ]] ||
  fail "Version: $(field Version), the project's is $version"
[[ "$(field Architecture)" == "$(dpkg --print-architecture)" ]] ||
  fail "Architecture: $(field Architecture)"
[[ "$(field Maintainer)" =~ ^[^\<]+\ \<[^@\>]+@[^\>]+\>$ ]] || fail "Maintainer: $(field Maintainer)"
(($(field Description | wc -l) > 2)) || fail "the Description has no extended text"
# The program is static: dpkg-shlibdeps finds no shared library, so there is no Depends.
[[ -z "$(field Depends)" ]] || fail "Depends: $(field Depends)"
dpkg-deb --field "$deb" | sed 's/^/  /'

echo "== contents"
dpkg-deb --contents "$deb" | awk '{ print $1, $6 }' >"$tmp/contents.txt"
for entry in \
  '-rwxr-xr-x ./usr/bin/cdmg2csv' \
  '-rw-r--r-- ./usr/share/man/man1/cdmg2csv.1.gz' \
  '-rw-r--r-- ./usr/share/doc/cdmg2csv/copyright' \
  '-rw-r--r-- ./usr/share/doc/cdmg2csv/changelog.gz'; do
  grep -qxF -- "$entry" "$tmp/contents.txt" || fail "the package has no $entry"
done
sed 's/^/  /' "$tmp/contents.txt"

echo "== the unpacked program converts the sample"
dpkg -x "$deb" "$tmp/root"
gzip -dc "$tmp/root/usr/share/man/man1/cdmg2csv.1.gz" | cmp - "$top/doc/cdmg2csv.1" ||
  fail "the packaged man page is not doc/cdmg2csv.1"
copy_sample "$tmp/run"
status=0
convert_in "$tmp/run" "$tmp/root/usr/bin/cdmg2csv" || status=$?
((status == 0)) || fail "the unpacked program ended with status $status"
cmp "$reference" "$tmp/run/accel.csv" || fail "its CSV differs from $reference"
echo "  $(wc -l <"$tmp/run/accel.csv") rows, the same bytes as $reference"
echo "PASS: the package"
