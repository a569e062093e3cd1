#!/usr/bin/env bash
# The Windows program under wine64, beside the native program on the same records: the same
# console, diagnostics and CSV, every line ending with CR LF where the native one ends with LF,
# and the same ending (status 0 or 1; the native abort is status 3 on Windows). Then what only
# Windows has (Ctrl-C, Ctrl-Break and the console's close event), and the runtime's in-process
# tests built for Windows.
#   bash tests/windows_check.sh path/to/native/cdmg2csv path/to/build-windows
# Wine runs in a prefix of its own under a scratch directory (made in the first seconds), with
# its server kept up for the whole check and ended with it. KEEP=1 leaves the scratch directory.
set -euo pipefail
native=$(realpath "$1")
windows_build=$(realpath "$2")
exe="$windows_build/cdmg2csv.exe"
console_event="$windows_build/tests/windows/console_event.exe"
in_process="$windows_build/tests/windows/recordio_tests.exe"
raise_probe="$windows_build/tests/windows/raise_probe.exe"
wine=${WINE64:-/usr/lib/wine/wine64}
wineserver=$(dirname "$wine")/wineserver

source "$(dirname "$0")/support/scripts.sh"
export WINEPREFIX="$tmp/wine" WINEDEBUG=-all
cleanup() {
  "$wineserver" -k 2>/dev/null || true
  [[ -n "${KEEP:-}" ]] && echo "kept $tmp" || rm -rf "$tmp"
}
trap cleanup EXIT

[[ -x "$wine" ]] || fail "no $wine (apt-get install wine64)"
for program in "$exe" "$console_event" "$in_process" "$raise_probe"; do
  [[ -f "$program" ]] || fail "no $program (make windows-check builds it; the in-process tests need libgtest-dev)"
done

# A 64-bit Windows program that needs no DLL beyond the system's own.
objdump=x86_64-w64-mingw32-objdump
if command -v "$objdump" >/dev/null; then
  "$objdump" -f "$exe" | grep -q 'file format pei-x86-64' || fail "$exe is not a 64-bit Windows program"
  dlls=$("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort | tr '\n' ' ')
  [[ "$dlls" == "kernel32.dll msvcrt.dll ntdll.dll " ]] || fail "$exe needs DLLs: $dlls"
  echo "cdmg2csv.exe: a 64-bit Windows program needing only $dlls"
fi

mkdir "$WINEPREFIX"
"$wineserver" -p                            # kept up until the end
"$wine" wineboot.exe --init >/dev/null 2>&1 # the prefix, made once

crlf() { perl -pe 's/\n/\r\n/' "$1"; }

# --- Cases run by both programs. A case is a directory of component files (and perhaps an older
# output) and an input text.
#
# The bundled sample, changed in its directory by a command, with a line of input. binary: bytes
# the C runtime's text mode would change, a 0x1A and a lone CR in the header record the run
# echoes, and a component whose records all end with CR LF.
name80=$(printf 'n%.0s' {1..76}).csv
while IFS='|' read -r case name change; do
  add_case "$case" "${name//NAME80/$name80}"$'\n'
  copy_sample "$tmp/cases/$case"
  (cd "$tmp/cases/$case" && eval "$change")
done <<'CASES'
sample|accel.csv|:
binary|accel.csv|perl -i -pe 's/^(.{10})../$1\x1a\r/ if $. == 6' QRV-N00-1.txt && perl -i -pe 's/\n/\r\n/' QRV-N90-1.txt
missing-component|accel.csv|rm QRV-N90-1.txt
malformed-field|accel.csv|perl -i -pe 's/^(....)./$1x/ if $. == 40' QRV-UP-1.txt
ends-in-header|accel.csv|head -n 20 "$top/examples/QRV-N00-1.txt" >QRV-N00-1.txt
empty-name||:
missing-directory|nodir/accel.csv|:
output-is-component|QRV-UP-1.txt|:
longer-output-cut|accel.csv|head -c 250000 /dev/zero | tr '\0' q >accel.csv
name-of-80|NAME80|:
name-beyond-80|NAME80beyond|:
trailing-blanks|accel.csv          |:
CASES

add_case full-capacity
python3 "$top/bench/make_record.py" "$tmp/cases/full-capacity" 4125 >/dev/null

# nt = 0: every component is its header and a blank line. An existing file keeps its bytes; a
# missing one is created empty.
for case in no-rows-existing no-rows-missing; do
  add_case "$case"
  echo | components "$tmp/cases/$case"
done
printf 'an older file\r\nof two lines\n' >"$tmp/cases/no-rows-existing/accel.csv"

# The ending, the same on both platforms: 0, 1, or the fatal path's abort (SIGABRT on Linux,
# status 3 on Windows).
ending() {
  case "$1" in
    0 | 1) echo "$1" ;;
    134 | 3) echo abort ;;
    *) echo "status $1" ;;
  esac
}

# Whether the Windows run of case $1 (made from case $2, if given) matches the native one: the same ending; every file the
# native run left is there, a file the run wrote (or changed) with each LF made CR LF, a file it
# left alone as it was; and no other file.
same_as_native() {
  local case=$1 native_dir=$tmp/native/$1 windows_dir=$tmp/windows/$1 file name
  local original=$tmp/cases/${2:-$1}
  local native_status windows_status
  native_status=$(cat "$native_dir/status.txt")
  windows_status=$(cat "$windows_dir/status.txt")
  [[ "$(ending "$native_status")" == "$(ending "$windows_status")" ]] ||
    { echo "status $native_status natively, $windows_status on Windows"; return 1; }
  for file in "$native_dir"/*; do
    name=$(basename "$file")
    [[ "$name" == status.txt ]] && continue
    [[ -f "$windows_dir/$name" ]] || { echo "no $name on Windows"; return 1; }
    if [[ -e "$original/$name" ]] && cmp -s "$original/$name" "$file"; then
      cmp -s "$file" "$windows_dir/$name" || { echo "$name changed"; return 1; }
    else
      crlf "$file" | cmp -s - "$windows_dir/$name" || { echo "$name differs"; return 1; }
    fi
  done
  for file in "$windows_dir"/*; do
    [[ -e "$native_dir/$(basename "$file")" ]] || { echo "$(basename "$file") only on Windows"; return 1; }
  done
}

mkdir -p "$tmp/native" "$tmp/windows"
differ=0
for case in "${cases[@]}"; do
  run_case "$case" "$tmp/native/$case" "$native"
  run_case "$case" "$tmp/windows/$case" "$wine" "$exe"
  if ! why=$(same_as_native "$case"); then
    echo "DIFFERS: $case: $why" >&2
    diff <(crlf "$tmp/native/$case/diagnostics.txt") "$tmp/windows/$case/diagnostics.txt" | head -n 10 >&2 || true
    differ=1
    continue
  fi
  dir="$tmp/windows/$case"
  csv=$(cd "$dir" && ls | grep -v -e '^QRV-' -e '^console.txt$' -e '^diagnostics.txt$' -e '^status.txt$' || true)
  echo "same: $case (ending $(ending "$(cat "$dir/status.txt")"), $(wc -l <"$dir/console.txt") console lines," \
    "$(wc -l <"$dir/diagnostics.txt") diagnostic lines${csv:+, ${csv:0:20}: $(wc -c <"$dir/$csv") bytes})"
done
((differ == 0)) || fail "the Windows program differs from the native one"

# What the runs must have shown, on both platforms alike.
first_line() { head -n 1 "$tmp/windows/$1/diagnostics.txt" | tr -d '\r'; }
for expected in \
  'missing-component:open: No such file or directory' \
  'malformed-field:fmt: read unexpected character' \
  'ends-in-header:read start: end of file' \
  'empty-name:open: null file name' \
  'missing-directory:open: No such file or directory' \
  'output-is-component:open: output file is an input file'; do
  case=${expected%%:*}
  [[ "$(first_line "$case")" == "${expected#*:}" ]] ||
    fail "$case: the diagnostic begins '$(first_line "$case")', not '${expected#*:}'"
done
rows() { grep -c $'\r$' "$tmp/windows/$1/$2"; }
[[ "$(rows sample accel.csv)" == 4000 && "$(rows full-capacity accel.csv)" == 33000 ]] ||
  fail "the sample or the full-capacity record did not give 4000 and 33000 rows"
[[ "$(wc -c <"$tmp/windows/full-capacity/accel.csv")" == $((33000 * 42)) ]] ||
  fail "the full-capacity rows are not 42 bytes each"
[[ -f "$tmp/windows/name-beyond-80/$name80" && -f "$tmp/windows/trailing-blanks/accel.csv" ]] ||
  fail "the names of 80 characters and more, or with trailing blanks, were not taken as such"
echo "PASS: ${#cases[@]} records, the same console, diagnostics, CSV and ending as the native program"

# --- What only Windows has

wexe="Z:${exe//\//\\}"
helper() { "$wine" "$console_event" "$@"; }
sample_console=$tmp/native/sample/console.txt

# Windows's own answers: a Windows name of a component, in other letters and through the current
# directory, is that component (the file itself is compared, not its name); a directory is no
# file to open; NUL takes the rows and keeps nothing; a standard output whose reader has gone
# ends the run on the fatal path (there is no SIGPIPE). Each: the case, the output name, a change
# to the sample, the status, the first diagnostic line. No component file is changed.
exec 6> >(true) # a pipe whose reader has gone
wait $!
while IFS='|' read -r case name change expected first; do
  dir=$tmp/windows/$case
  cp -r "$tmp/cases/sample" "$dir"
  (cd "$dir" && eval "$change")
  status=0
  if [[ $case == reader-gone ]]; then
    (cd "$dir" && printf '%s\n' "$name" | "$wine" "$exe" >&6 2>diagnostics.txt) || status=$?
  else
    (cd "$dir" && printf '%s\n' "$name" | "$wine" "$exe" >console.txt 2>diagnostics.txt) || status=$?
  fi
  got=$(first_line "$case")
  [[ "$status" == "$expected" && "$got" == "$first" ]] ||
    fail "$case: status $status, diagnostic '$got'; expected $expected, '$first'"
  for component in "$tmp/cases/sample"/QRV-*.txt; do
    [[ -d "$dir/${component##*/}" ]] || cmp -s "$component" "$dir/${component##*/}" ||
      fail "$case: ${component##*/} was changed"
  done
  echo "as on Windows: $case (status $status${first:+, $first})"
done <<'CASES'
other-spelling|.\qrv-up-1.TXT|:|3|open: output file is an input file
output-is-a-directory|adir|mkdir adir|3|open: Is a directory
component-is-a-directory|accel.csv|rm QRV-N90-1.txt && mkdir QRV-N90-1.txt|3|open: Is a directory
output-to-nul|NUL|:|0|
reader-gone|accel.csv|:|3|write: Broken pipe
CASES
exec 6>&-
[[ "$(ls "$tmp/windows/output-to-nul" | sort)" == "$( (ls "$tmp/cases/sample" && echo console.txt && echo diagnostics.txt) | sort)" ]] ||
  fail "output-to-nul: a file was made"

# A run of the sample in $1 whose standard input stays open and empty, so that it waits for the
# output name after its 18 console lines; it is sent signal $2 then. The native program gets the
# signal itself; under wine64 an interrupt (SIGINT) reaches the program as the console's Ctrl-C.
# With errors_through_pipe set, standard error is a pipe, whose room Windows does not tell.
signalled_run() {
  local dir=$1 sig=$2
  shift 2
  cp -r "$tmp/cases/sample" "$dir"
  rm -f "$tmp/input.fifo" && mkfifo "$tmp/input.fifo"
  if [[ -n ${errors_through_pipe:-} ]]; then
    (cd "$dir" && exec "$@" <"$tmp/input.fifo" >console.txt 2> >(exec cat >diagnostics.txt)) &
  else
    (cd "$dir" && exec "$@" <"$tmp/input.fifo" >console.txt 2>diagnostics.txt) &
  fi
  local pid=$! status=0 waited=0
  exec 3>"$tmp/input.fifo"
  until grep -q 'Enter Output' "$dir/console.txt" 2>/dev/null; do
    sleep 0.05
    ((++waited < 600)) || { kill -KILL "$pid"; fail "$dir: the run never asked for the name"; }
  done
  kill -"$sig" "$pid"
  wait "$pid" || status=$?
  exec 3>&-
  waited=0
  until [[ -z ${errors_through_pipe:-} || -s "$dir/diagnostics.txt" ]] || ((++waited > 100)); do
    sleep 0.05
  done
  echo "$status" >"$dir/status.txt"
}
# The same run, the event delivered as the system does on Windows (tests/windows/console_event).
event_run() {
  local dir=$1 event=$2
  shift 2
  cp -r "$tmp/cases/sample" "$dir"
  local status=0
  (cd "$dir" && helper "$event" console.txt 'Enter Output' "$@" -- "$wexe" \
    >console.txt 2>diagnostics.txt) || status=$?
  echo "$status" >"$dir/status.txt"
}
same_ending() {
  local case=$1
  why=$(same_as_native "$case" sample) || fail "$case: $why"
  echo "same: $case (ending $(cat "$tmp/windows/$case/status.txt"), $(first_line "$case"))"
}

signalled_run "$tmp/native/interrupt" INT "$native"
signalled_run "$tmp/windows/interrupt" INT "$wine" "$exe"
same_ending interrupt
errors_through_pipe=1 signalled_run "$tmp/native/interrupt-errors-piped" INT "$native"
errors_through_pipe=1 signalled_run "$tmp/windows/interrupt-errors-piped" INT "$wine" "$exe"
same_ending interrupt-errors-piped
signalled_run "$tmp/native/ctrl-break" INT "$native"
event_run "$tmp/windows/ctrl-break" ctrl-break
same_ending ctrl-break
cp -r "$tmp/native/interrupt" "$tmp/native/ctrl-c"
event_run "$tmp/windows/ctrl-c" ctrl-c '--input-after=accel.csv\n'
same_ending ctrl-c
signalled_run "$tmp/native/close" TERM "$native"
event_run "$tmp/windows/close" close
same_ending close

# Ctrl-C while the run waits in a write that nobody reads (a named pipe, the rows held back by
# its full buffer): the write is cancelled, the run ends as any interrupted run does.
event_run "$tmp/windows/blocked-write" ctrl-c --pipe=cdmg2csv-check \
  '--input-first=\\.\pipe\cdmg2csv-check\n' --settle=1000
status=$(cat "$tmp/windows/blocked-write/status.txt")
[[ "$status" == 1 && "$(cat "$tmp/windows/blocked-write/diagnostics.txt")" == $'Interrupt\r' ]] ||
  fail "blocked-write: status $status, diagnostics: $(cat "$tmp/windows/blocked-write/diagnostics.txt")"
crlf "$sample_console" | cmp -s - "$tmp/windows/blocked-write/console.txt" ||
  fail "blocked-write: the console differs from the sample's"
echo "interrupted: a run waiting to write its rows to a pipe nobody reads (status 1, Interrupt)"

# A run started with Ctrl-C ignored (a process group of its own) keeps it ignored: given its name
# after the event, it converts the sample.
cp -r "$tmp/native/sample" "$tmp/native/ctrl-c-ignored"
event_run "$tmp/windows/ctrl-c-ignored" ctrl-c --new-group '--input-after=accel.csv\n'
same_ending ctrl-c-ignored

# A name that reaches standard output's own file, opened for writing only as a command
# interpreter's redirection opens it: the rows follow the console lines through the stream.
copy_sample "$tmp/native/through-stdout"
copy_sample "$tmp/windows/through-stdout"
(cd "$tmp/native/through-stdout" && printf 'run.log\n' | "$native" >run.log 2>diagnostics.txt) ||
  fail "through-stdout: the native run failed"
status=0
(cd "$tmp/windows/through-stdout" &&
  helper none - - --output=run.log '--input-first=run.log\n' -- "$wexe" 2>diagnostics.txt) || status=$?
echo 0 >"$tmp/native/through-stdout/status.txt"
echo "$status" >"$tmp/windows/through-stdout/status.txt"
same_ending through-stdout
echo "   (run.log: $(rows through-stdout run.log) lines, the console's and the rows)"

# A standard output that is closed: the console's first write fails.
for side in native windows; do
  cp -r "$tmp/cases/sample" "$tmp/$side/no-stdout"
  program=("$native")
  [[ $side == windows ]] && program=("$wine" "$exe")
  status=0
  (cd "$tmp/$side/no-stdout" && "${program[@]}" <"$tmp/cases/sample.input" >&- 2>diagnostics.txt) \
    2>/dev/null || status=$?
  echo "$status" >"$tmp/$side/no-stdout/status.txt"
done
same_ending no-stdout

# The C runtime's signals met on the main thread, and the C runtime's abort (which under wine64
# writes no message of its own; on Windows it writes one before the signal's).
for what in fpe:3:'Floating Exception' abrt:3:'IOT Trap' abort:3:'IOT Trap' int:1:Interrupt term:1:Killed; do
  IFS=: read -r name expected message <<<"$what"
  status=0
  "$wine" "$raise_probe" "$name" </dev/null >"$tmp/raise.out" 2>"$tmp/raise.err" || status=$?
  [[ "$status" == "$expected" && "$(cat "$tmp/raise.err")" == "$message"$'\r' &&
    "$(cat "$tmp/raise.out")" == $' raising\r' ]] ||
    fail "raise $name: status $status, diagnostics '$(cat "$tmp/raise.err")', console '$(cat "$tmp/raise.out")'"
  echo "raised: $name (status $status, $message)"
done

# README.md's CSV-reading lines (pandas, numpy, gnuplot) on the rows the Windows program writes.
printf '#!/bin/sh\nexec "%s" "%s"\n' "$wine" "$exe" >"$tmp/cdmg2csv-under-wine"
chmod +x "$tmp/cdmg2csv-under-wine"
for tool in pandas numpy gnuplot; do
  status=0
  bash "$top/tests/csv_readers_test.sh" "$tool" "$tmp/cdmg2csv-under-wine" crlf >"$tmp/readers.txt" 2>&1 ||
    status=$?
  ((status == 0)) || { cat "$tmp/readers.txt" >&2; fail "README's $tool lines on CR LF rows (status $status)"; }
  echo "CR LF rows read by $tool: $(grep -c 'rows' "$tmp/readers.txt") cases, $(tail -n 1 "$tmp/readers.txt")"
done

# The runtime's in-process tests, built for Windows.
"$wine" "$in_process" --gtest_brief=1 >"$tmp/in_process.txt" 2>&1 ||
  { cat "$tmp/in_process.txt" >&2; fail "the in-process tests failed under wine64"; }
grep -q '^\[  PASSED  \] [1-9][0-9]* tests\.' "$tmp/in_process.txt" ||
  { cat "$tmp/in_process.txt" >&2; fail "the in-process tests did not report passing"; }
echo "in-process tests under wine64: $(grep '^\[==========\]' "$tmp/in_process.txt" | tail -n 1)"
echo "PASS: the Windows program under wine64"
