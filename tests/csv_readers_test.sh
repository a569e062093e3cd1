#!/usr/bin/env bash
# Runs the lines of README.md's "Reading the CSV" for one tool against combined files that the
# program writes, and checks what the tool makes of them.
#   bash tests/csv_readers_test.sh pandas|numpy|gnuplot path/to/cdmg2csv [crlf]
# With crlf, the program is one whose rows end with CR LF (the Windows program, run by a script
# that starts it under wine64), and every row must.
# The lines are taken from the README itself, so the test runs exactly what a reader copies.
# Exits 77 (reported by ctest as skipped) when the tool is not installed.
set -euo pipefail
tool=$1
program=$(realpath "$2")
line_end=${3:-lf}
source "$(dirname "$0")/support/scripts.sh"
[[ "$line_end" == lf || "$line_end" == crlf ]] || fail "the line end is lf or crlf"
skip_status=77

case "$tool" in
  pandas) readme_snippet 'Reading the CSV' python 'pd.read_csv(' "$tmp/snippet" ;;
  numpy) readme_snippet 'Reading the CSV' python 'np.genfromtxt(' "$tmp/snippet" ;;
  gnuplot) readme_snippet 'Reading the CSV' gnuplot 'plot "accel.csv"' "$tmp/snippet" ;;
  *) fail "unknown tool '$tool' (pandas, numpy or gnuplot)" ;;
esac
grep -qF 'accel.csv' "$tmp/snippet" || fail "the $tool lines do not read accel.csv"

# Three cases, each a directory holding accel.csv:
# sample: the program's conversion of the bundled sample record.
copy_sample "$tmp/sample"
convert_in "$tmp/sample" "$program" || fail "the conversion of the bundled sample failed"

# wide: the program's conversion of one data record per component whose values are too wide for
# their fields or beyond single precision, in different rows for each component.
mkdir "$tmp/wide"
while read -r file header values; do
  { headers "$header" && printf '%10s%10s%10s%10s%10s%10s%10s%10s\n' $values && echo; } >"$tmp/wide/$file"
done <<'RECORDS'
QRV-N00-1.txt 32 1.0E7 1.0E39 -1.0E39 1.5 -0.0001 999999.9 -99999.99 12.3456
QRV-N90-1.txt 33 2.5 -1.0E7 1.0E39 -1.0E39 7 0.5 1.0E6 -3.
QRV-UP-1.txt 32 -1.0E39 3.25 -2.0E7 1.0E39 0.001 1.0E7 -1.0E6 4.
RECORDS
convert_in "$tmp/wide" "$program" || fail "the conversion of the wide values failed"
for field in '**********' '       inf' '      -inf'; do
  grep -qF -- "$field" "$tmp/wide/accel.csv" || fail "the wide case has no field '$field'"
done

# wide_time: rows as the program writes them, the last with a time too wide for its field, 1000 s
# (which a record within the program's limits never reaches).
mkdir "$tmp/wide_time"
row_end=$'\n'
[[ "$line_end" == crlf ]] && row_end=$'\r\n'
printf "%s$row_end" \
  '999.990,     1.000,     2.000,     3.000' \
  '999.995,    -1.000,**********,       inf' \
  '*******,     4.000,     5.000,    -6.000' >"$tmp/wide_time/accel.csv"

cases=(sample wide wide_time)
for case in "${cases[@]}"; do
  # Every row 40 characters and its line end: LF alone, or CR LF with crlf.
  awk -v crlf="$([[ "$line_end" == crlf ]] && echo 1 || echo 0)" '
    { if (crlf && sub(/\r$/, "") != 1) bad = 1; if (/\r/ || length($0) != 40) bad = 1 }
    END { exit bad }' "$tmp/$case/accel.csv" ||
    fail "$case/accel.csv has a row that is not 40 characters and its $line_end line end"
done

# A Python that can import module $1: Debian's own /usr/bin/python3 first (its packages install
# there), then python3 on the PATH.
python_with() {
  local candidate
  for candidate in /usr/bin/python3 "$(command -v python3 || true)"; do
    [[ -n "$candidate" && -x "$candidate" ]] || continue
    # (__version__: an empty directory of that name would import as a namespace package.)
    if "$candidate" -c "import $1; $1.__version__" >/dev/null 2>&1; then
      echo "$candidate"
      return 0
    fi
  done
  return 1
}

case "$tool" in
  pandas | numpy)
    if ! python=$(python_with "$tool"); then
      echo "SKIP: $tool is not installed: neither /usr/bin/python3 nor python3 can import it" \
        "(apt-get install python3-$tool)"
      exit $skip_status
    fi
    echo "$tool from $python"
    "$python" "$top/tests/csv_readers_check.py" "$tool" "$tmp/snippet" "$tmp" "${cases[@]}"
    ;;
  gnuplot)
    if ! command -v gnuplot >/dev/null 2>&1; then
      echo "SKIP: gnuplot is not installed (apt-get install gnuplot-nox)"
      exit $skip_status
    fi
    gnuplot --version
    # What the README's lines drew, read back in the same session once they have run: the
    # terminal, the output and the ranges of the points drawn.
    cat >"$tmp/drawn.gp" <<'GP'
set print "drawn.txt"
print GPVAL_TERM, " ", GPVAL_OUTPUT
print sprintf("x %.3f %.3f", GPVAL_DATA_X_MIN, GPVAL_DATA_X_MAX)
print sprintf("y %.3f %.3f", GPVAL_DATA_Y_MIN, GPVAL_DATA_Y_MAX)
GP
    for case in "${cases[@]}"; do
      dir="$tmp/$case"
      # The README's lines as printed, run as a script in the directory of accel.csv.
      cp "$tmp/snippet" "$dir/accel.gp"
      (cd "$dir" && gnuplot accel.gp "$tmp/drawn.gp" 2>gnuplot.err) || fail "$case: gnuplot failed"
      [[ ! -s "$dir/gnuplot.err" ]] || fail "$case: gnuplot complained: $(cat "$dir/gnuplot.err")"
      # The picture: a PNG file (signature, then the IHDR chunk) of a width and height.
      signature=$(od -An -tx1 -N16 "$dir/accel.png" 2>/dev/null | tr -d ' \n')
      [[ "$signature" == 89504e470d0a1a0a0000000d49484452 ]] ||
        fail "$case: accel.png is not a PNG image"
      size=$(od -An -tu1 -j16 -N8 "$dir/accel.png" |
        awk '{ printf "%dx%d", (($1 * 256 + $2) * 256 + $3) * 256 + $4, (($5 * 256 + $6) * 256 + $7) * 256 + $8 }')
      [[ "$size" =~ ^[1-9][0-9]*x[1-9][0-9]*$ ]] || fail "$case: accel.png is $size pixels"
      # The points drawn: those of the rows whose time and component are finite numbers (a field
      # of asterisks is undefined, inf and -inf are not drawn); their ranges built from the file.
      awk -F, '
        function trim(s) { gsub(/ /, "", s); return s }
        function finite(s) { return s !~ /^\*+$/ && s !~ /inf/ }
        function widen(axis, v) {
          if (!((axis, "lo") in range) || v < range[axis, "lo"]) range[axis, "lo"] = v
          if (!((axis, "hi") in range) || v > range[axis, "hi"]) range[axis, "hi"] = v
        }
        {
          sub(/\r$/, "")
          t = trim($1)
          if (!finite(t)) next
          for (c = 2; c <= 4; c++)
            if (finite(trim($c))) { widen("x", t + 0); widen("y", trim($c) + 0) }
        }
        END {
          print "pngcairo   accel.png"
          printf "x %.3f %.3f\ny %.3f %.3f\n", range["x", "lo"], range["x", "hi"],
            range["y", "lo"], range["y", "hi"]
        }' "$dir/accel.csv" >"$dir/expected.txt"
      diff "$dir/expected.txt" "$dir/drawn.txt" || fail "$case: gnuplot drew other points"
      echo "$case: $(wc -l <"$dir/accel.csv") rows; accel.png of $size pixels," \
        "the points drawn over $(sed -n 2p "$dir/drawn.txt"), $(sed -n 3p "$dir/drawn.txt")"
    done
    # The sample: every row drawn, from 0 s to the last sample at 19.995 s.
    [[ "$(sed -n 2p "$tmp/sample/drawn.txt")" == 'x 0.000 19.995' ]] ||
      fail "sample: drawn over $(sed -n 2p "$tmp/sample/drawn.txt"), not 0 to 19.995 s"
    echo "PASS: gnuplot"
    ;;
esac
