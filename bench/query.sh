#!/usr/bin/env bash
# Times varnquery, the batch lookup, against one full scan of varnparse for an absent key and
# against what a script would run without it: a bash loop that calls varnparse once a key,
# grep -F -f with the keys, and a mawk hash join; at 1 to 100,000 keys on both tables. Gives its
# own peak memory for 10,000 keys on every table, draws bench/query.svg, time against the number of
# keys, and writes its tables to its section of bench/README.md.
#   bench/query.sh   (BENCH_RUNS, BENCH_ROUNDS, BENCH_DIR as for bench/run.sh; BENCH_PLOT=0 skips
#                     the picture)
# Needs what `setup/need build test bench` installs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/bench/lib.sh"
plot=${BENCH_PLOT:-1}
tables
build small-musl small5 small3 -DLOOKUP_LIBC=musl
build big-musl big5 big3 -DLOOKUP_LIBC=musl
tools
# grep compares bytes, as the lookups do, only in the C locale.
export LC_ALL=C

# keys FILE COUNT LINES: COUNT keys, every other one the key of a random line of a table of LINES
# lines and the rest absent from it.
keys() {
  [ -s "$1" ] || mawk -v n="$2" -v lines="$3" 'BEGIN {
    srand(1)
    for (i = 0; i < n; i++) {
      if (i % 2) printf "host%07d\n", int(rand() * lines); else printf "absent-%d\n", i
    }
  }' >"$1"
}
counts=(1 10 100 1000 10000 100000)
for count in "${counts[@]}"; do
  keys "$work/keys$count-big" "$count" 1000000
  keys "$work/keys$count-small" "$count" 20
done
# The loop that a script without varnquery runs, and the join: the first entry of each key, its
# field 2. The join lives in a file: a comma would split hyperfine's CSV.
printf '%s\n' 'while IFS= read -r k; do v=$("$1" "$k" 2); done' >"$work/loop.sh"
printf '%s\n' 'NR == FNR { want[$0]; next }' '$3 in want { print $2; delete want[$3] }' >"$work/join.awk"

report_query() {
  machine
  echo "Run: $(date -u '+%Y-%m-%d %H:%M UTC'), BENCH_RUNS=$runs BENCH_ROUNDS=$rounds"
  echo "Tables: 20 lines and 1,000,000 lines ($(stat -c %s "$work/big5") bytes, five fields), cached"
  echo "Every command reads its keys on standard input or from a file, starts through sh (whose"
  echo "own start hyperfine takes off) and writes to a pipe; half the keys are in the table."
  cd "$work"
  # Every command reads the keys on its standard input, so all of them start through sh.
  hyperfine_start=(-S sh)
  : >keys.dat
  for count in "${counts[@]}"; do
    local row="$count" size
    for size in small big; do
      local k="keys$count-$size" scan loop=NaN
      scan=$(median "$scan_runs" "$size-musl/varnparse absent-key 2" "$size-musl/varnquery 2 <$k" \
        "grep -F -f $k ${size}5" "mawk -F'\t' -f join.awk $k ${size}5" | cut -f2 | paste -sd' ')
      # The loop takes seconds a run from 1,000 keys on.
      if [ "$count" -le 1000 ]; then
        loop=$(median "$((count <= 10 ? scan_runs : 2))" "bash loop.sh $size-musl/varnparse <$k" |
          cut -f2)
      fi
      row="$row $scan $loop"
    done
    echo "$row" >>keys.dat
  done
  echo
  echo "Keys against one full scan of the 1,000,000-line table (varnparse, absent key): median ms,"
  echo "and × that scan"
  keys_table 7 0 "× scan"
  echo
  echo "The same on the 20-line table, × varnquery: there one scan takes about as long as starting"
  echo "a program"
  keys_table 2 1 "× varnquery"
  echo
  echo "varnquery's own peak resident memory (VmHWM, KiB) and minor page faults, 10,000 keys"
  echo
  echo "| table | KiB | faults |"
  echo "|---|---:|---:|"
  echo "| 20 lines | $(own small-musl/varnquery 2 <keys10000-big) |"
  echo "| 1,000,000 lines | $(own big-musl/varnquery 2 <keys10000-big) |"
  echo "| 1,000,000 lines, L | $(own big-musl/varnquery L <keys10000-big) |"
  echo "| 1 GiB of zero bytes | $(own big-musl/varnquery --table=custom 2 <keys10000-big) |"
}

# keys_table FIRST BASE RATIO: the rows of keys.dat from column FIRST (scan, varnquery, grep, mawk,
# loop) as a Markdown table of ms and ratios to column FIRST + BASE, headed RATIO.
keys_table() {
  local r=$3
  echo
  echo "| keys | scan ms | varnquery ms | $r | grep -F -f ms | $r | mawk join ms | $r | loop ms | $r |"
  echo "|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|"
  mawk -v f="$1" -v base="$2" '{
    b = $(f + base)
    printf "| %d | %.2f |", $1, $f
    for (i = f + 1; i <= f + 4; i++) {
      if ($i == "NaN") printf " – | – |"
      else if (b > 0) printf " %.2f | %.2f |", $i, $i / b
      else printf " %.2f | – |", $i
    }
    printf "\n"
  }' "$work/keys.dat"
}

report_query | tee "$work/query.md"
publish query.sh "$work/query.md"
[ "$plot" = 1 ] || exit 0
cd "$work"
gnuplot -e "out='$root/bench/query.svg'" "$root/bench/query.gp"
