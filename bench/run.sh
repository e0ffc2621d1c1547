#!/usr/bin/env bash
# Times the lookup programs against the usual shell alternatives and prints Markdown tables of
# medians and ratios, with peak memory for a small and a large table.
#   bench/run.sh   (BENCH_RUNS=N runs a round, BENCH_ROUNDS=N rounds, BENCH_DIR=D keeps the tables)
# Needs hyperfine, mawk, grep, gcc and cmake.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=${BENCH_DIR:-$(mktemp -d)}
runs=${BENCH_RUNS:-500}
rounds=${BENCH_ROUNDS:-3}
scan_runs=$((runs / 10 > 20 ? runs / 10 : 20))
mkdir -p "$work"

table() {  # table FILE LINES SHAPE
  [ -s "$1" ] || mawk -v n="$2" -v shape="$3" -f "$root/bench/make_table.awk" >"$1"
}
table "$work/small5" 20 5
table "$work/small3" 20 3
table "$work/big5" 1000000 5
table "$work/big3" 1000000 3
[ -e "$work/zero1g" ] || truncate -s 1G "$work/zero1g"

for size in small big; do
  cmake -S "$root" -B "$work/build-$size" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
    -DVARNPARSE_HOME_TABLE="$work/${size}5" -DVARNPARSE_CUSTOM_TABLE="$work/zero1g" \
    -DPARSE_TABLE="$work/${size}3" >/dev/null
  cmake --build "$work/build-$size" >/dev/null
done
for tool in noop newline_count peak_rss; do
  gcc -O2 -static "$root/bench/$tool.c" -o "$work/$tool"
done

# median RUNS COMMAND...: hyperfine over the commands, then a row per command with its median in
# ms. The machine's speed drifts, so the commands take turns over several rounds and each keeps
# its lowest median.
median() {
  local csv="$work/times.csv" n="$1" round
  shift
  : >"$work/medians"
  for ((round = 0; round < rounds; round++)); do
    hyperfine -N -i --warmup 20 --runs "$n" --export-csv "$csv" "$@" >/dev/null 2>&1
    mawk -F, 'NR > 1 { printf "%s\t%.4f\n", $1, $4 * 1000 }' "$csv" >>"$work/medians"
  done
  mawk -F'\t' '!($1 in best) { order[++n] = $1; best[$1] = $2 }
    $2 < best[$1] { best[$1] = $2 }
    END { for (i = 1; i <= n; i++) printf "%s\t%s\n", order[i], best[order[i]] }' "$work/medians"
}

# report TITLE BASE: rows of "command<TAB>ms" on stdin, ratios against the row named BASE.
report() {
  mawk -F'\t' -v title="$1" -v base="$2" '
    { cmd[NR] = $1; ms[NR] = $2; if ($1 == base) b = $2 }
    END {
      printf "\n%s\n\n| command | median ms | × %s |\n|---|---:|---:|\n", title, base
      for (i = 1; i <= NR; i++) printf "| `%s` | %.3f | %.2f |\n", cmd[i], ms[i], ms[i] / b
    }'
}

s=build-small b=build-big
key=host0000010
echo "Machine: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(nproc) cores, $(uname -sr)"
echo "Tables: 20 lines ($(stat -c %s "$work/small5") bytes) and 1,000,000 lines ($(stat -c %s "$work/big5") bytes, five fields), cached"

cd "$work"
median "$runs" ./noop "$s/varnparse $key 2" "$s/parse 10 2" \
  "mawk -F'\t' -v k=$key '\$3==k{print \$2; exit}' small5" "grep -m1 -F $key small5" |
  report "One call, 20-line table, key in the middle" ./noop

median "$scan_runs" "./newline_count big5" "$b/varnparse absent-key 2" \
  "$b/parse absent-key 2" "grep -F -m1 absent-key big5" \
  "mawk -F'\t' -v k=absent-key '\$3==k{print \$2; exit}' big5" |
  report "Full scan, 1,000,000 lines, absent key" "./newline_count big5"

echo
echo "Peak resident memory (KiB)"
echo
echo "| table | varnparse |"
echo "|---|---:|"
echo "| 20 lines | $(./peak_rss "$s/varnparse" absent-key 2) |"
echo "| 1,000,000 lines | $(./peak_rss "$b/varnparse" absent-key 2) |"
echo "| 1 GiB of zero bytes | $(./peak_rss "$b/custom/varnparse" absent-key 2) |"
echo "| (do-nothing program) | $(./peak_rss ./noop) |"
