#!/usr/bin/env bash
# Calls the bash completion functions against fixture tables, with COMP_WORDS filled by hand
# (completion_shells_test.sh types into real shells).
#   completion_test.sh COMPLETION_FILE HOME_TABLE CUSTOM_TABLE PARSE_TABLE
set -u
completion=$1 home=$2 custom=$3 hosts=$4
[ -r /usr/share/bash-completion/bash_completion ] && source /usr/share/bash-completion/bash_completion
source "$completion"
passed=0 failed=0

# The completions offered for the last word of a command line, sorted, on one line.
offered() {
  COMP_WORDS=("$@")
  COMP_CWORD=$(($# - 1))
  COMP_LINE="$*"
  COMP_POINT=${#COMP_LINE}
  COMPREPLY=()
  if [ "$1" = varncheck ]; then
    _varncheck_complete "$1" 2>&1
  elif [ "$1" = varnquery ]; then
    _varnquery_complete "$1" 2>&1
  else
    _lookup_complete "$1" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}" 2>&1
  fi
  printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort | paste -sd' '
}

expect() {  # expect OFFERED WORD...
  local want=$1 got
  shift
  got=$(offered "$@")
  if [ "$got" = "$want" ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    printf 'FAIL: %s -> [%s], want [%s]\n' "$*" "$got" "$want"
  fi
}

mkdir -p "$(dirname "$home")" "$(dirname "$custom")" "$(dirname "$hosts")"
printf 'l\tx\t%s\nl\tx\tzz%s\n' "$(printf 'z%.0s' {1..39})" "$(printf 'z%.0s' {1..38})" >"$home.long"
printf 'gw 1\tNorth\tab cd\nweb01\tFront\tweb01\t10.0.0.5\tdmz\nweb02\tFront\tweb02\ndb\tData\tkey=eq\n\t\tlead\tx\ty\nweb01\tdup\tweb01\nshort\tline\n' >"$home"
cat "$home.long" >>"$home"
rm "$home.long"
printf 'c1\tCustom\tcustom-key\n' >"$custom"
printf 'h\tx\t# 42\nh\ty\t#=7\nh\tz\t#9\nh\tw\t# a$b\nh\tl\t# %s\nh\tl\t# y%s\n' \
  "$(printf 'q%.0s' {1..37})" "$(printf 'q%.0s' {1..37})" >"$hosts"

expect "ab\\ cd key\\ eq web01 web02 y $(printf 'z%.0s' {1..39})" varnparse ''
expect '"ab cd"' varnparse '"ab'
expect "'ab cd'" varnparse "'a"
expect '"web01" "web02"' varnparse '"web'
expect 'web01 web02' varnparse we
expect 'ab\ cd' varnparse 'ab\ '
expect '' varnparse nothing
expect '1 2 3 4 L' varnparse web01 ''
expect 'L' varnparse web01 L
expect '' varnparse web01 2 ''
expect "42 7 a\\\$b $(printf 'q%.0s' {1..37})" parse ''
expect '"a\$b"' parse '"a'
expect '42' parse 4
expect '1 2 3 4 L' parse 42 ''
expect 'custom-key' /usr/libexec/fennoKit/varnparse ''
expect '--all --help --parse --version' varncheck -
expect '--parse' varncheck --p
expect 'custom-key' ./build/custom/varnparse c
expect '--parse' varnquery --p
expect '1 2 3 4 L' varnquery --status ''
expect 'web01 web02' varnquery -z 2 we
expect 'web01 web02' varnquery 2 web01 we
expect 'custom-key' varnquery --table=custom L ''
expect '42' varnquery --table parse 1 4
expect '42' varnquery "--table=$hosts" --parse 1 4
expect 'custom' varnquery --table cu
expect 'custom' varnquery --table=cu
expect '--table=' varnquery --ta
expect 'L' varnquery -- L
rm -f "$home"
expect '' varnparse ''
mkdir -p "$home"
expect '' varnparse ''
rmdir "$home"

# Installed under its name, the file is found by bash-completion's loader when first needed.
if declare -F __load_completion >/dev/null; then
  dir=$(mktemp -d)
  mkdir -p "$dir/completions"
  cp "$completion" "$dir/completions/parse"
  complete -r varnparse parse
  BASH_COMPLETION_USER_DIR=$dir __load_completion parse
  expect "42 7 a\\\$b $(printf 'q%.0s' {1..37})" parse ''
  rm -rf "$dir"
fi

# How long a first-word completion takes on a 100,000-line table (reported, not judged).
awk 'BEGIN { for (i = 0; i < 100000; i++) printf "n%d\tRack %d\thost%07d\t10.0.0.1\tz\n", i, i % 40, i }' >"$home"
for word in host00123 ''; do
  COMP_WORDS=(varnparse "$word")
  COMP_CWORD=1
  COMP_LINE="varnparse $word"
  COMP_POINT=${#COMP_LINE}
  start=$(date +%s%N)
  _lookup_complete varnparse
  echo "completion of '$word' on 100,000 lines: ${#COMPREPLY[@]} keys in $((($(date +%s%N) - start) / 1000000)) ms"
done
rm -f "$home" "$custom" "$hosts"

echo "completion: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
