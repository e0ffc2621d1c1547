#!/usr/bin/env bash
# Times the lookup programs, built on musl and on glibc, against do-nothing programs and the usual
# shell alternatives; prints Markdown tables of medians and ratios, each program's own peak memory
# and page faults, draws bench/cost.svg, and writes its tables to its section of bench/README.md.
#   bench/run.sh   (BENCH_RUNS=N runs a round, BENCH_ROUNDS=N rounds, BENCH_DIR=D keeps the tables,
#                   BENCH_PLOT=0 skips the picture and its tables of up to 10^7 lines)
# Needs what `setup/need build test bench` installs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/bench/lib.sh"
plot=${BENCH_PLOT:-1}
tables
table "$work/huge5" 10000000 5
# Each C library with each form of the byte primitives: AVX2 where the processor has it (the
# default), SSE2 alone, and the portable form.
variants=()
for libc in musl glibc; do
  build small-$libc small5 small3 -DLOOKUP_LIBC=$libc
  build big-$libc big5 big3 -DLOOKUP_LIBC=$libc
  build huge-$libc huge5 small3 -DLOOKUP_LIBC=$libc
  variants+=("$libc")
  for simd in baseline scalar; do
    build small-$libc-$simd small5 small3 -DLOOKUP_LIBC=$libc -DLOOKUP_SIMD=$simd
    build big-$libc-$simd big5 big3 -DLOOKUP_LIBC=$libc -DLOOKUP_SIMD=$simd
    variants+=("$libc-$simd")
  done
done
build huge-musl-scalar huge5 small3 -DLOOKUP_LIBC=musl -DLOOKUP_SIMD=scalar
build small-unconfined small5 small3 -DLOOKUP_LIBC=musl -DLOOKUP_SANDBOX=OFF
tools
# grep compares bytes, as the lookups do, only in the C locale.
export LC_ALL=C

key=host0000010
report_run() {
  machine
  echo "Tables: 20 lines ($(stat -c %s "$work/small5") bytes), 1,000,000 lines ($(stat -c %s "$work/big5") bytes) and 10,000,000 lines ($(stat -c %s "$work/huge5") bytes), five fields, cached"
  echo "Run: $(date -u '+%Y-%m-%d %H:%M UTC'), BENCH_RUNS=$runs BENCH_ROUNDS=$rounds"
  echo "Forms of the byte primitives: musl and glibc take AVX2 at run time where the processor has it ($(grep -q avx2 /proc/cpuinfo && echo 'this one has' || echo 'this one has not')); -baseline is SSE2 alone, -scalar the portable form"

  cd "$work"
  median "$runs" ./noop ./noop_musl "small-glibc/varnparse $key 2" "small-musl/varnparse $key 2" \
    "small-unconfined/varnparse $key 2" "small-musl/parse 10 2" \
    "mawk -F'\t' -v k=$key '\$3==k{print \$2; exit}' small5" "grep -m1 -F $key small5" |
    tee "$work/calls" | report "One call, 20-line table, key in the middle" ./noop

  calls=() scans=() worst=()
  for v in "${variants[@]}"; do
    calls+=("small-$v/varnparse $key 2")
    scans+=("big-$v/varnparse absent-key 2")
    worst+=("big-$v/varnparse Rack 2")
  done
  median "$runs" ./noop ./noop_musl "${calls[@]}" | tee "$work/variant-calls" |
    report "One call, 20-line table, each form of the byte primitives" ./noop

  median "$scan_runs" "./newline_count big5" "./read_loop big5" \
    "${scans[@]}" "big-musl/parse absent-key 2" "grep -F -m1 absent-key big5" \
    "mawk -F'\t' -v k=absent-key '\$3==k{print \$2; exit}' big5" |
    tee "$work/variant-scans" | report "Full scan, 1,000,000 lines, absent key" "./newline_count big5"

  median "$((scan_runs / 2))" "./read_loop huge5" "./newline_count huge5" "huge-musl/varnparse absent-key 2" \
    "huge-glibc/varnparse absent-key 2" "huge-musl-scalar/varnparse absent-key 2" \
    "grep -F -m1 absent-key huge5" |
    report "Full scan, 10,000,000 lines, absent key" "./read_loop huge5"

  # Keys whose longest run stands on every line: at the start of field 2, at the start of field 4.
  median "$scan_runs" "./newline_count big5" "${worst[@]}" "big-glibc/varnparse 10 2" \
    "big-musl/varnparse 10 2" | tee "$work/variant-worst" |
    report "Worst case, 1,000,000 lines, a key whose run stands on every line" "./newline_count big5"

  echo
  echo "Own peak resident memory (VmHWM, KiB) and minor page faults, read as the process exits"
  echo
  echo "| program | table | glibc KiB | glibc faults | musl KiB | musl faults |"
  echo "|---|---|---:|---:|---:|---:|"
  echo "| do-nothing | none | $(own ./noop) | $(own ./noop_musl) |"
  echo "| varnparse, key found | 20 lines | $(own small-glibc/varnparse $key 2) | $(own small-musl/varnparse $key 2) |"
  echo "| varnparse, absent key | 1,000,000 lines | $(own big-glibc/varnparse absent-key 2) | $(own big-musl/varnparse absent-key 2) |"
  echo "| varnparse, absent key | 1 GiB of zero bytes | $(own big-glibc/custom/varnparse absent-key 2) | $(own big-musl/custom/varnparse absent-key 2) |"
  echo
  echo "Each form of the byte primitives: one call (20 lines), absent-key scan and worst case (1,000,000"
  echo "lines), own peak memory of the scan"
  echo
  echo "| build | call ms | × static glibc no-op | scan ms | × newline count | worst ms | × newline count | own peak KiB | faults, 20 lines |"
  echo "|---|---:|---:|---:|---:|---:|---:|---:|---:|"
  for v in "${variants[@]}"; do
    mawk -F'\t' -v v="$v" -v mem="$(own big-$v/varnparse absent-key 2 | cut -d'|' -f1)" \
      -v faults="$(own small-$v/varnparse $key 2 | cut -d'|' -f2)" '
      FILENAME ~ /calls/ && $1 == "./noop" { noop = $2 }
      FILENAME ~ /calls/ && $1 == "small-" v "/varnparse '"$key"' 2" { call = $2 }
      FILENAME ~ /scans/ && $1 == "./newline_count big5" { lines = $2 }
      FILENAME ~ /scans/ && $1 == "big-" v "/varnparse absent-key 2" { scan = $2 }
      FILENAME ~ /worst/ && $1 == "./newline_count big5" { wlines = $2 }
      FILENAME ~ /worst/ && $1 == "big-" v "/varnparse Rack 2" { worst = $2 }
      END { printf "| %s | %.3f | %.2f | %.3f | %.2f | %.3f | %.2f | %s | %s |\n", v, call, call / noop,
            scan, scan / lines, worst, worst / wlines, mem, faults }' \
      "$work/variant-calls" "$work/variant-scans" "$work/variant-worst"
  done
  echo
  echo "Binary size, stripped (bytes)"
  echo
  echo "| program | glibc | musl |"
  echo "|---|---:|---:|"
  for program in varnparse parse; do
    strip -o stripped-glibc small-glibc/$program && strip -o stripped-musl small-musl/$program
    echo "| $program | $(stat -c %s stripped-glibc) | $(stat -c %s stripped-musl) |"
  done

  # The table checker against a mawk script that counts only fields, key lengths, line lengths and
  # duplicate keys.
  # The script lives in a file: its commas would split hyperfine's CSV.
  printf '%s\n' '{ if (length($0) > 98) long++; if (NF < 3) few++; if (length($3) > 39) lk++' \
    '  if ($3 in seen) dup++; else seen[$3] = NR }' 'END { print long+0, few+0, lk+0, dup+0 }' >check.awk
  median 5 "big-musl/varncheck big5" "mawk -F'\t' -f check.awk big5" |
    report "Checking a table, 1,000,000 lines" "big-musl/varncheck big5"
  # The same with a warning on nine lines of ten (a space in field 4).
  table "$work/warn5" 1000000 warn
  median 5 "big-musl/varncheck warn5" "mawk -F'\t' -f check.awk warn5" |
    report "Checking a table with a warning on most lines, 1,000,000 lines" "big-musl/varncheck warn5"
  echo
  echo "| checker | own peak KiB | faults |"
  echo "|---|---:|---:|"
  echo "| varncheck | $(own big-musl/varncheck big5) |"
  echo "| mawk script | $(own "$(command -v mawk)" -F'\t' -f check.awk big5) |"

  [ "$plot" = 1 ] || exit 0
  # Scan time against table size, 10^3 to 10^7 lines, absent key.
  : >growth
  for lines in 1000 10000 100000 1000000 10000000; do
    table "$work/grow$lines" "$lines" 5
    build grow-$lines grow$lines small3 -DLOOKUP_LIBC=musl
    n=$((lines >= 10000000 ? 5 : scan_runs))
    median "$n" "./newline_count grow$lines" "grow-$lines/varnparse absent-key 2" \
      "grep -F -m1 absent-key grow$lines" "mawk -F'\t' -v k=absent-key '\$3==k{print \$2; exit}' grow$lines" |
      mawk -F'\t' -v lines="$lines" '{ row = row "\t" $2 } END { print lines row }' >>growth
  done
  # Short names for the bars, in the order of the calls measured above.
  mawk -F'\t' 'BEGIN { split("no-op\\nglibc|no-op\\nmusl|varnparse\\nglibc|varnparse\\nmusl|" \
      "no sandbox\\nmusl|parse\\nmusl|mawk|grep -F", name, "|") }
    { printf "%d\t\"%s\"\t%s\n", NR - 1, name[NR], $2 }' calls >calls.dat
  gnuplot -e "out='$root/bench/cost.svg'" "$root/bench/plot.gp"
  echo
  echo "Scan time against table size (ms): lines, newline count, varnparse, grep -F, mawk"
  echo
  cat growth
}

report_run | tee "$work/run.md"
publish run.sh "$work/run.md"
