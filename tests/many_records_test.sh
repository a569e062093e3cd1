#!/usr/bin/env bash
# Runs the two blocks of README.md's "Converting many records", the loop and its xargs form, as
# printed, on records/ holding two copies of the bundled sample (one copied, one linked) and a
# record whose third component file is missing.
#   bash tests/many_records_test.sh path/to/cdmg2csv
set -euo pipefail
program=$(realpath "$1")
source "$(dirname "$0")/support/scripts.sh"
readme_snippet 'Converting many records' sh 'for dir in' "$tmp/loop.sh"
readme_snippet 'Converting many records' sh 'xargs' "$tmp/xargs.sh"

# The blocks call the program by its name, as installed.
[[ "$(basename "$program")" == cdmg2csv ]] || fail "the program must be named cdmg2csv"
export PATH="$(dirname "$program"):$PATH"

# What one run on the sample writes, for comparison.
copy_sample "$tmp/reference"
convert_in "$tmp/reference" "$program" || fail "the conversion of the bundled sample failed"

for form in loop xargs; do
  work="$tmp/$form"
  mkdir -p "$work/records/linked" "$work/records/missing"
  copy_sample "$work/records/copied"
  for name in QRV-N00-1.txt QRV-N90-1.txt QRV-UP-1.txt; do
    ln -s "$top/examples/$name" "$work/records/linked/$name"
  done
  cp "$top"/examples/QRV-N00-1.txt "$top"/examples/QRV-N90-1.txt "$work/records/missing/"

  status=0
  (cd "$work" && sh "$tmp/$form.sh" >stdout.txt 2>stderr.txt) || status=$?
  case $form in
    loop) ((status == 0)) || fail "loop: exit status $status" ;;
    xargs) ((status == 123)) || fail "xargs: exit status $status, not 123 for the failed run" ;;
  esac
  [[ ! -s "$work/stdout.txt" ]] || fail "$form: wrote to standard output: $(cat "$work/stdout.txt")"

  for record in copied linked; do
    for file in accel.csv console.txt; do
      cmp "$tmp/reference/$file" "$work/records/$record/$file" ||
        fail "$form: records/$record/$file differs from a single run's"
    done
  done
  grep -qxF 'failed: records/missing/' "$work/stderr.txt" ||
    fail "$form: the failed record is not named: $(cat "$work/stderr.txt")"
  grep -qxF 'open: No such file or directory' "$work/stderr.txt" ||
    fail "$form: the failed run's diagnostic is missing"
  [[ "$(grep -c '^failed:' "$work/stderr.txt")" == 1 ]] || fail "$form: more than one failure named"
  [[ ! -e "$work/records/missing/accel.csv" ]] || fail "$form: the failed record has an accel.csv"
  echo "$form: records/copied and records/linked converted as one run converts the sample" \
    "($(wc -l <"$tmp/reference/accel.csv") rows); records/missing named as failed"
done
echo "PASS: the README's many-records loop and its xargs form"
