#!/usr/bin/env bash
# Times varnquery, the batch lookup, against what it replaces: one full scan of varnparse for an
# absent key, and a bash loop that calls varnparse once a key; its own peak memory for 10,000
# keys on every table; and draws bench/query.svg, time against the number of keys.
#   bench/query.sh   (BENCH_RUNS, BENCH_ROUNDS, BENCH_DIR as for bench/run.sh; BENCH_PLOT=0 skips
#                     the picture)
# Needs hyperfine, mawk, gcc, musl-gcc, cmake and gnuplot.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/bench/lib.sh"
plot=${BENCH_PLOT:-1}
tables
build small-musl small5 small3 -DLOOKUP_LIBC=musl
build big-musl big5 big3 -DLOOKUP_LIBC=musl
tools

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
keys "$work/keys10k" 10000 1000000
keys "$work/keys1k-small" 1000 20
# The loop that a script without varnquery runs.
printf '%s\n' 'while IFS= read -r k; do v=$("$1" "$k" 2); done' >"$work/loop.sh"

machine
echo "Tables: 20 lines and 1,000,000 lines ($(stat -c %s "$work/big5") bytes, five fields), cached"
cd "$work"
# Every command reads the keys on its standard input, so all of them start through sh.
hyperfine_start=(-S sh)
median "$scan_runs" "big-musl/varnparse absent-key 2 <keys10k" "big-musl/varnquery 2 <keys10k" \
  "big-musl/varnquery L <keys10k" |
  report "10,000 keys, half of them in the 1,000,000-line table, against one full scan" \
    "big-musl/varnparse absent-key 2 <keys10k"
{
  median "$scan_runs" "small-musl/varnquery 2 <keys1k-small"
  median 4 "bash loop.sh small-musl/varnparse <keys1k-small"
} | report "1,000 keys, half of them in the 20-line table, against a loop of single lookups" \
  "small-musl/varnquery 2 <keys1k-small"

echo
echo "varnquery's own peak resident memory (VmHWM, KiB) and minor page faults, 10,000 keys"
echo
echo "| table | KiB | faults |"
echo "|---|---:|---:|"
echo "| 20 lines | $(own small-musl/varnquery 2 <keys10k) |"
echo "| 1,000,000 lines | $(own big-musl/varnquery 2 <keys10k) |"
echo "| 1,000,000 lines, L | $(own big-musl/varnquery L <keys10k) |"
echo "| 1 GiB of zero bytes | $(own big-musl/varnquery --table=custom 2 <keys10k) |"

[ "$plot" = 1 ] || exit 0
# Time against the number of keys on both tables, one round; the loop is measured up to 1,000
# keys, where it takes seconds a run.
rounds=1
: >keys.dat
for count in 1 10 100 1000 10000 100000; do
  keys "keys$count-big" "$count" 1000000
  keys "keys$count-small" "$count" 20
  row="$count"
  for size in small big; do
    row="$row	$(median 6 "$size-musl/varnquery 2 <keys$count-$size" | cut -f2)"
    if [ "$count" -le 1000 ]; then
      row="$row	$(median 2 "bash loop.sh $size-musl/varnparse <keys$count-$size" | cut -f2)"
    else
      row="$row	NaN"
    fi
  done
  echo "$row" >>keys.dat
done
gnuplot -e "out='$root/bench/query.svg'" "$root/bench/query.gp"
echo
echo "Time against the number of keys (median ms): keys, then varnquery and the loop on 20 lines, then on 1,000,000 lines"
echo
cat keys.dat
