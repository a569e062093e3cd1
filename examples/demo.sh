#!/usr/bin/env bash
# Converts the bundled sample record in a scratch directory, demo/, and shows the result.
#   bash examples/demo.sh [path/to/cdmg2csv]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
program=$(cd "$top" && realpath "${1:-build/cdmg2csv}")
out="$top/demo"

rm -rf "$out"
mkdir -p "$out"
cp "$top"/examples/QRV-*.txt "$out"/
cd "$out"

echo "== console dialogue (the output name accel.csv is typed on standard input)"
printf 'accel.csv\n' | "$program"
echo
echo "== first rows of $out/accel.csv (time, N00, N90, UP)"
head -n 5 accel.csv
echo "   ..."
tail -n 1 accel.csv
echo "== $(wc -l < accel.csv) rows"

if command -v gnuplot >/dev/null 2>&1; then
  gnuplot <<'PLOT'
set terminal pngcairo size 1000,700 noenhanced
set output 'accel.png'
set datafile separator ','
set multiplot layout 3,1 title 'Sample record: acceleration (cm/s/s) against time (s)'
set grid
set xlabel ''
plot 'accel.csv' using 1:2 with lines lw 1 title 'component 1 (N00)'
plot 'accel.csv' using 1:3 with lines lw 1 title 'component 2 (N90)'
set xlabel 'time (s)'
plot 'accel.csv' using 1:4 with lines lw 1 title 'component 3 (UP)'
unset multiplot
PLOT
  echo "== plot of the three components: $out/accel.png"
else
  echo "== for a plot of the three components, install gnuplot (apt-get install gnuplot-nox) and run make demo again"
fi
