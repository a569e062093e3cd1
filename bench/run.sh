#!/usr/bin/env bash
# Speed and memory of the converter: the in-process benchmarks, then the whole program on a
# full-capacity record (bench/make_record.py) against the floor of copying the same bytes with
# cat, as paired runs timed by bench/paired_runs; then instructions (callgrind), per data field
# and per row, and peak memory where the tools are installed.
#   bash bench/run.sh BUILD_DIR [RUNS]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$top/build-bench}" && pwd)
runs=${2:-41}
program="$build/cdmg2csv"

echo "== in-process benchmarks"
"$build/bench/conversion_bench" --benchmark_min_time=0.5

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/full" "$work/half"
python3 "$top/bench/make_record.py" "$work/full" 4124
python3 "$top/bench/make_record.py" "$work/half" 2062
for folder in "$work/full" "$work/half"; do printf 'combined.csv\n' > "$folder/name.txt"; done
cd "$work/full"
echo
echo "== whole process on a full-capacity record ($(cat QRV-*.txt | wc -c) bytes in three files, 32992 rows), $runs paired runs"
echo "   A: the conversion; B: the copy floor, cat of the three files into one"
"$build/bench/paired_runs" "$runs" "'$program' < name.txt > /dev/null" \
  "cat QRV-N00-1.txt QRV-N90-1.txt QRV-UP-1.txt > copy.txt"
echo "rows written: $(wc -l < combined.csv)"

# Instructions of the whole run, and of each phase alone: the difference between the full record
# and one of half as many data records gives the cost of one data field (the reading phase) and
# of one row (the writing phase), all included.
instructions() {  # FOLDER [FUNCTION]
  local toggle=()
  [ -n "${2:-}" ] && toggle=(--toggle-collect="$2")
  (cd "$1" && valgrind --tool=callgrind --callgrind-out-file=/dev/null "${toggle[@]}" \
    "$program" < name.txt 2>&1 > /dev/null | grep -o 'refs: *[0-9,]*' | tr -dc '0-9')
}
if command -v valgrind >/dev/null 2>&1; then
  total=$(instructions "$work/full")
  read_full=$(instructions "$work/full" 'cdmg::read_component*')
  read_half=$(instructions "$work/half" 'cdmg::read_component*')
  write_full=$(instructions "$work/full" 'cdmg::write_output_file*')
  write_half=$(instructions "$work/half" 'cdmg::write_output_file*')
  awk -v t="$total" -v rf="$read_full" -v rh="$read_half" -v wf="$write_full" -v wh="$write_half" 'BEGIN {
    fields = 3 * 8 * (4124 - 2062); rows = 8 * (4124 - 2062)
    printf "instructions (callgrind): %.2f million for the whole run\n", t / 1e6
    printf "  per data field, all included: %.1f (reading phase: %.2f million)\n", (rf - rh) / fields, rf / 1e6
    printf "  per row, all included: %.1f (writing phase: %.2f million)\n", (wf - wh) / rows, wf / 1e6
  }'
else
  echo "instructions: valgrind is not installed (apt-get install valgrind)"
fi
if [ -x /usr/bin/time ]; then
  /usr/bin/time -f 'peak memory (max resident set): %M KiB' "$program" < name.txt > /dev/null
else
  echo "peak memory: GNU time is not installed (apt-get install time)"
fi
