# Sourced by the test scripts, after `set -euo pipefail`: $top (the source tree), a scratch
# directory $tmp removed at exit (a script may set its own trap instead), fail, and what they
# make records of.

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# Header records 1 to $1 of a component file, none of which reads as a data record.
headers() {
  local n
  for ((n = 1; n <= $1; n++)); do echo "header record $n"; done
}

# The three component files of a record in directory $1, each its header and then the same
# body, read from standard input as it comes (any bytes): 32 header records for N00 and UP, 33
# for N90.
components() {
  mkdir -p "$1"
  { headers 32 && cat; } >"$1/QRV-N00-1.txt"
  { headers 33 && tail -n +33 "$1/QRV-N00-1.txt"; } >"$1/QRV-N90-1.txt"
  cp "$1/QRV-N00-1.txt" "$1/QRV-UP-1.txt"
}

# The bundled sample record's three component files, copied into directory $1.
copy_sample() {
  mkdir -p "$1"
  cp "$top"/examples/QRV-*.txt "$1/"
}

# The program $2 run in directory $1 as the README shows it, the output named accel.csv; its
# console in $1/console.txt. Fails with the program's status.
convert_in() {
  (cd "$1" && echo accel.csv | "$2" >console.txt)
}

# The cases a script runs programs on, each a directory $tmp/cases/NAME of component files (and
# perhaps an older output) with the text for standard input: add_case NAME [INPUT], the input
# being the name accel.csv unless given.
cases=()
add_case() {
  mkdir -p "$tmp/cases/$1"
  printf '%s' "${2-accel.csv$'\n'}" >"$tmp/cases/$1.input"
  cases+=("$1")
}

# Case $1 run in directory $2, a copy of it, by the command "$@" after them; what it printed,
# wrote and ended with is left in the directory (console.txt, diagnostics.txt, status.txt). The
# shell's own note of a run ended by a signal is not kept: the status says it.
run_case() {
  local case=$1 dir=$2
  shift 2
  cp -r "$tmp/cases/$case" "$dir"
  local status=0
  (cd "$dir" && "$@" <"$tmp/cases/$case.input" >console.txt 2>diagnostics.txt) 2>/dev/null ||
    status=$?
  echo "$status" >"$dir/status.txt"
}

# The one fenced block of language $2 in README.md's section "## $1" that contains the text $3,
# copied to $4.
readme_snippet() {
  local section=$1 lang=$2 text=$3 dest=$4
  local blocks="$tmp/readme-blocks"
  rm -rf "$blocks" && mkdir -p "$blocks"
  awk -v heading="## $section" -v lang="$lang" -v out="$blocks/block" '
    $0 == heading { in_section = 1; next }
    in_section && /^## / { exit }
    !in_section { next }
    in_block && /^```$/ { in_block = 0; close(file); next }
    in_block { print > file; next }
    $0 == "```" lang { in_block = 1; file = out "." ++n }
  ' "$top/README.md"
  local found=() block
  for block in "$blocks"/block.*; do
    [[ -e "$block" ]] || continue
    if grep -qF -- "$text" "$block"; then found+=("$block"); fi
  done
  ((${#found[@]} == 1)) ||
    fail "README.md's \"$section\" should have one \`\`\`$lang block with '$text'; it has ${#found[@]}"
  cp "${found[0]}" "$dest"
}
