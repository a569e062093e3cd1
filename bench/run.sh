#!/usr/bin/env bash
# Speed and memory of the converter: the in-process benchmarks, then the whole program on a
# full-capacity record (three files of 4125 data records) against the floor of copying the same
# bytes with cat, as paired runs; then instructions (callgrind) and peak memory where the tools
# are installed.
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
python3 "$top/examples/generate_sample.py" --records 4125 "$work"
printf 'combined.csv\n' > "$work/name.txt"
cd "$work"
echo
echo "== whole process on a full-capacity record ($(cat QRV-*.txt | wc -c) bytes in three files), $runs paired runs"

# The shell's own clock, in microseconds, read in place: no process or subshell is started for
# it, so a span is the command's alone.
convert_times=()
copy_times=()
for ((k = 0; k < runs; k++)); do
  t0=${EPOCHREALTIME/./}
  "$program" < name.txt > /dev/null
  t1=${EPOCHREALTIME/./}
  cat QRV-N00-1.txt QRV-N90-1.txt QRV-UP-1.txt > copy.txt
  t2=${EPOCHREALTIME/./}
  convert_times+=($((t1 - t0)))
  copy_times+=($((t2 - t1)))
done
median() { printf '%s\n' "$@" | sort -n | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}'; }
convert=$(median "${convert_times[@]}")
copy=$(median "${copy_times[@]}")
awk -v a="$convert" -v b="$copy" 'BEGIN {
  printf "conversion median %.3f ms, copy floor (cat) median %.3f ms, ratio %.2f\n", a / 1e3, b / 1e3, a / b
}'
echo "rows written: $(wc -l < combined.csv)"

if command -v valgrind >/dev/null 2>&1; then
  valgrind --tool=callgrind --callgrind-out-file="$work/callgrind.out" "$program" < name.txt > /dev/null 2> "$work/callgrind.log"
  echo "instructions (callgrind): $(grep -o 'refs: *[0-9,]*' "$work/callgrind.log" | tr -dc '0-9' | sed ':a;s/\B[0-9]\{3\}\>/,&/;ta')"
else
  echo "instructions: valgrind is not installed (apt-get install valgrind)"
fi
if [ -x /usr/bin/time ]; then
  /usr/bin/time -f 'peak memory (max resident set): %M KiB' "$program" < name.txt > /dev/null
else
  echo "peak memory: GNU time is not installed (apt-get install time)"
fi
