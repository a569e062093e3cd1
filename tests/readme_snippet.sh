# Sourced by the tests that run README.md's lines as printed. Needs $readme, a scratch directory
# $tmp and a function fail.

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
  ' "$readme"
  local found=() block
  for block in "$blocks"/block.*; do
    [[ -e "$block" ]] || continue
    if grep -qF -- "$text" "$block"; then found+=("$block"); fi
  done
  ((${#found[@]} == 1)) ||
    fail "README.md's \"$section\" should have one \`\`\`$lang block with '$text'; it has ${#found[@]}"
  cp "${found[0]}" "$dest"
}
