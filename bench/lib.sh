# The benchmarks' shared pieces, sourced with root set to the repository: the scratch folder,
# generated tables, builds of the programs against them, the helper programs, and timing.
#   BENCH_RUNS=N runs a round, BENCH_ROUNDS=N rounds, BENCH_DIR=D keeps the tables and builds.
work=${BENCH_DIR:-$(mktemp -d)}
runs=${BENCH_RUNS:-500}
rounds=${BENCH_ROUNDS:-3}
scan_runs=$((runs / 10 > 20 ? runs / 10 : 20))
mkdir -p "$work"

table() {  # table FILE LINES SHAPE
  [ -s "$1" ] || mawk -v n="$2" -v shape="$3" -f "$root/bench/make_table.awk" >"$1"
}

tables() {  # the tables every benchmark reads: 20 and 1,000,000 lines in both shapes
  table "$work/small5" 20 5
  table "$work/small3" 20 3
  table "$work/big5" 1000000 5
  table "$work/big3" 1000000 3
}

build() {  # build DIR TABLE5 TABLE3 CMAKE_ARGS...
  local dir=$1 t5=$2 t3=$3
  shift 3
  [ -e "$work/zero1g" ] || truncate -s 1G "$work/zero1g"
  cmake -S "$root" -B "$work/$dir" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
    -DVARNPARSE_HOME_TABLE="$work/$t5" -DVARNPARSE_CUSTOM_TABLE="$work/zero1g" \
    -DPARSE_TABLE="$work/$t3" "$@" >/dev/null
  cmake --build "$work/$dir" >/dev/null
}

tools() {  # the do-nothing programs, the newline count and the memory reader
  local tool
  for tool in noop newline_count own_memory read_loop; do
    gcc -O2 -static "$root/bench/$tool.c" -o "$work/$tool"
  done
  musl-gcc -O2 -static "$root/bench/noop.c" -o "$work/noop_musl"
}

# How hyperfine starts the commands: directly, or through sh where they redirect their input.
hyperfine_start=(-N)

# median RUNS COMMAND...: hyperfine over the commands, then a row per command with its median in
# ms. Output goes to a pipe, as a script would read it: grep stops at its first match when it sees
# /dev/null. The machine's speed drifts, so the commands take turns over several rounds, each round
# starting with the next command, and each keeps its lowest median.
median() {
  local csv="$work/times.csv" n="$1" round
  shift
  local commands=("$@")
  : >"$work/medians"
  for ((round = 0; round < rounds * 2; round++)); do
    local k=$((round % ${#commands[@]}))
    hyperfine "${hyperfine_start[@]}" --output=pipe -i --warmup "$((n < 20 ? 1 : 20))" --runs "$(((n + 1) / 2))" \
      --export-csv "$csv" "${commands[@]:k}" "${commands[@]:0:k}" >/dev/null 2>&1
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

own() {  # own COMMAND...: "KiB | faults" of the command's own process
  ./own_memory "$@" | mawk '{ printf "%s | %s", $1, $2 }'
}

machine() {
  echo "Machine: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(nproc) cores, $(uname -sr)"
}

# publish NAME FILE: FILE's tables as NAME's section of bench/README.md, between its markers, which
# are added where missing; the sections of the other scripts stay as they are.
publish() {
  local readme="$root/bench/README.md" begin="<!-- $1: begin -->" end="<!-- $1: end -->"
  [ -e "$readme" ] || printf '# Benchmarks\n\nThe tables of the last run of each script.\n' >"$readme"
  grep -qxF "$begin" "$readme" || printf '\n%s\n%s\n' "$begin" "$end" >>"$readme"
  mawk -v begin="$begin" -v end="$end" -v file="$2" '
    $0 == begin { print; while ((getline line <file) > 0) print line; skip = 1; next }
    $0 == end { skip = 0 }
    !skip' "$readme" >"$readme.new"
  mv "$readme.new" "$readme"
}
