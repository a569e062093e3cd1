#!/usr/bin/env bash
# The man page's EXAMPLE, run: in a directory holding the bundled sample record, the command it
# shows must print exactly the lines it shows, and the file's first rows must be the ones shown.
#   bash tests/man_example_test.sh path/to/cdmg2csv
set -euo pipefail
program=$(realpath "$1")
source "$(dirname "$0")/support/scripts.sh"
page="$top/doc/cdmg2csv.1"

# The no-fill block of the EXAMPLE section, as the page shows it.
awk '/^\.SH EXAMPLE$/ { in_section = 1; next }
     in_section && /^\.SH / { exit }
     in_section && /^\.nf$/ { in_block = 1; next }
     in_section && /^\.fi$/ { in_block = 0; next }
     in_block { print }' "$page" > "$tmp/example.txt"
[ -s "$tmp/example.txt" ] || fail "no EXAMPLE block in $page"

copy_sample "$tmp/run"
{
  cd "$tmp/run"
  echo '$ ls'
  ls | tr '\n' ' ' | sed 's/ $//; s/ /  /g'
  echo
  echo '$ echo accel.csv | cdmg2csv'
  echo accel.csv | "$program"
  echo '$ head -n 2 accel.csv'
  head -n 2 accel.csv
} > "$tmp/actual.txt"

diff -u "$tmp/example.txt" "$tmp/actual.txt" ||
  fail "the man page's EXAMPLE differs from what the commands print (- page, + program)"
echo "the man page's EXAMPLE matches the program: $(wc -l < "$tmp/actual.txt") lines"
