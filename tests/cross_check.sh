#!/usr/bin/env bash
# Runs a cross-built program under an emulator beside the native build on the same records, and
# requires the same console, diagnostics, CSV and exit status from both: the check that the
# portable code paths (those without SSE2) read and write exactly what the x86-64 paths do.
#   bash tests/cross_check.sh path/to/native/cdmg2csv path/to/cross/cdmg2csv EMULATOR
# The records: the bundled sample; a full-capacity record (bench/make_record.py: 4124 data
# records and the blank line); and each committed fuzz seed, a component file seed as all three
# files, a data-record seed after the headers of the two plans.
set -euo pipefail
native=$(realpath "$1")
cross=$(realpath "$2")
emulator=$3
source "$(dirname "$0")/support/scripts.sh"

# The cross-built program is an AArch64 executable linked statically (no program interpreter).
readelf -h "$cross" | grep -qE 'Machine:[[:space:]]+AArch64' || fail "$cross is not an AArch64 program"
if readelf -l "$cross" | grep -q 'INTERP'; then fail "$cross is not linked statically"; fi

add_case sample
copy_sample "$tmp/cases/sample"

add_case full-capacity
python3 "$top/bench/make_record.py" "$tmp/cases/full-capacity" 4124

# Values whose thousandfold is an exact half, so that the rounding of F10.3 meets its ties
# (to even: 0.0625 is written 0.062, 0.1875 is 0.188), and the field's limits.
add_case ties
{
  headers 32
  printf '%10s' 0.0625 -0.0625 0.1875 -0.1875 2.0625 1000.0625 -4096.0625 0.0005; echo
  printf '%10s' -0.0005 -0.0004 999999.94 -99999.99 1.0E39 -1.0E39 1.5-3 12345; echo
  echo
} >"$tmp/cases/ties/QRV-N00-1.txt"
{ echo "header record 0" && cat "$tmp/cases/ties/QRV-N00-1.txt"; } >"$tmp/cases/ties/QRV-N90-1.txt"
cp "$tmp/cases/ties/QRV-N00-1.txt" "$tmp/cases/ties/QRV-UP-1.txt"

for seed in "$top"/fuzz/corpus/component_file/*; do
  name="component-$(basename "$seed")"
  add_case "$name"
  for file in QRV-N00-1.txt QRV-N90-1.txt QRV-UP-1.txt; do cp "$seed" "$tmp/cases/$name/$file"; done
done

# (Two line ends after the seed: its last record, ended, is counted, and a blank line is the
# record left out, so every value the seed's records hold reaches the CSV.)
for seed in "$top"/fuzz/corpus/formatted_input/*; do
  name="records-$(basename "$seed")"
  add_case "$name"
  { cat "$seed" && printf '\n\n'; } | components "$tmp/cases/$name"
done

mkdir -p "$tmp/native" "$tmp/cross"
differ=0
for case in "${cases[@]}"; do
  run_case "$case" "$tmp/native/$case" "$native"
  run_case "$case" "$tmp/cross/$case" "$emulator" "$cross"
  # The emulator's own note of a program ended by a signal, which is not the program's output.
  sed -i '/^qemu: uncaught target signal /d' "$tmp/cross/$case/diagnostics.txt"
  if ! diff -r "$tmp/native/$case" "$tmp/cross/$case" >"$tmp/diff.txt"; then
    echo "DIFFERS: $case" >&2
    head -n 20 "$tmp/diff.txt" >&2
    differ=1
    continue
  fi
  dir="$tmp/native/$case"
  rows=0
  [[ -e "$dir/accel.csv" ]] && rows=$(wc -l <"$dir/accel.csv")
  echo "same: $case (status $(cat "$dir/status.txt"), $(wc -l <"$dir/console.txt") console lines," \
    "$(wc -l <"$dir/diagnostics.txt") diagnostic lines, $rows rows)"
done
((differ == 0)) || fail "the cross-built program differs from the native one"
# The two records the check is for must have been converted in full.
grep -qx 0 "$tmp/native/sample/status.txt" && grep -qx 0 "$tmp/native/full-capacity/status.txt" ||
  fail "the sample or the full-capacity record was not converted"
[[ "$(wc -l <"$tmp/native/sample/accel.csv")" == 4000 ]] || fail "the sample gave other than 4000 rows"
[[ "$(wc -l <"$tmp/native/full-capacity/accel.csv")" == 32992 ]] ||
  fail "the full-capacity record gave other than 32992 rows"
echo "PASS: ${#cases[@]} records, the same console, diagnostics, CSV and status under $emulator"
