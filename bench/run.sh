#!/usr/bin/env bash
# Times velk beside its peers on generated inputs and prints the table that
# bench/README.md shows; draws bench/throughput.png.
#
#   bench/run.sh
#
# Peers, each given the same input file and writing its output to a file
# beside it: cat (no work per line), velk_line_copy (the floor: memchr for
# the line ends, CR LF out, 64 KiB buffers) and Debian's unifdef -t with
# the same symbols as -D and -U options. Every command runs through
# hyperfine, in several rounds whose order alternates, with the inputs it is
# compared across in the same rounds. A command's time is
# given twice: its fastest run, the one least disturbed by whatever else the
# machine does, and the median of its round medians. All of them run on one
# thread; the page cache holds the inputs.
#
# Settings (environment):
#   VELK_BENCH_BUILD    build folder (build-bench at the top of the tree)
#   VELK_BENCH_MIB      size of the main inputs in MiB (256)
#   VELK_BENCH_SERIES   size of the inputs for the plot in MiB (64)
#   VELK_BENCH_ROUNDS   rounds per comparison (5); each round has 3 runs and a warmup
#   VELK_BENCH_GIB      1 (default) to measure velk's peak memory on a 1 GiB input too
#   VELK_BASELINE       another velk whose output every input is compared with
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${VELK_BENCH_BUILD:-$ROOT/build-bench}
MAIN_MIB=${VELK_BENCH_MIB:-256}
SERIES_MIB=${VELK_BENCH_SERIES:-64}
ROUNDS=${VELK_BENCH_ROUNDS:-5}
MEASURE_GIB=${VELK_BENCH_GIB:-1}
SEED=1
SERIES_DEFINES=(10 25 50 100 150 200)
WORK=$BUILD/corpus
RESULTS=$BUILD/results

for tool in cmake ninja hyperfine gnuplot unifdef /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "run.sh: $tool is needed" >&2; exit 1; }
done

echo "== building a Release velk in $BUILD" >&2
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$BUILD" --target velk velk_corpus velk_line_copy >/dev/null
VELK=$BUILD/src/velk
CORPUS=$BUILD/bench/velk_corpus
FLOOR=$BUILD/bench/velk_line_copy
mkdir -p "$WORK" "$RESULTS"
rm -f "$RESULTS"/*.csv
cd "$WORK"

# generate NAME MIB DEFINES: NAME.src and NAME.args (unifdef's options).
generate() {
  local name=$1 mib=$2 defines=$3
  if [[ ! -s $name.src || ! -s $name.args ]]; then
    "$CORPUS" $((mib * 1024 * 1024)) "$SEED" "$defines" "$name.src" "$name.args"
  fi
}

# The four commands for input NAME, one per line: label, then command. They
# run in WORK: velk keeps 40 bytes of a file name, so names stay short.
commands() {
  local name=$1 options
  options=$(while IFS= read -r option; do printf '%q ' "$option"; done <"$name.args")
  printf '%s\t%s\n' \
    velk "$VELK $name.src" \
    floor "$FLOOR $name.src $name.floor" \
    cat "cat $name.src > $name.cat" \
    unifdef "unifdef -t $options -o $name.unifdef $name.src; test \$? -le 1"
}

# measure GROUP NAME...: "NAME label fastest median" lines, in seconds, one
# per command and input. All commands on all the inputs of a group run in
# the same rounds, so that the ratios between them come from the same
# stretch of time.
measure() {
  local group=$1 round name label cmd labels=() cmds=() order args
  shift
  for name in "$@"; do
    while IFS=$'\t' read -r label cmd; do
      labels+=("$label/$name")
      cmds+=("$cmd")
    done < <(commands "$name")
  done
  for ((round = 0; round < ROUNDS; round++)); do
    order=("${!cmds[@]}")
    if ((round % 2 == 1)); then
      order=($(printf '%s\n' "${order[@]}" | tac))
    fi
    args=()
    for i in "${order[@]}"; do
      args+=(-n "${labels[$i]}" "${cmds[$i]}")
    done
    hyperfine --shell bash --style none --warmup 1 --runs 3 \
      --export-csv "$RESULTS/$group.round$round.csv" "${args[@]}" \
      >/dev/null 2>>"$RESULTS/hyperfine.log"
  done
  # Columns: command,mean,stddev,median,user,system,min,max.
  local fastest median
  for label in "${labels[@]}"; do
    fastest=$(cat "$RESULTS/$group".round*.csv | awk -F, -v l="$label" '$1 == l { print $7 }' |
      sort -g | head -n 1)
    median=$(cat "$RESULTS/$group".round*.csv | awk -F, -v l="$label" '$1 == l { print $4 }' |
      sort -g | awk '{ t[NR] = $1 } END { print t[int((NR + 1) / 2)] }')
    printf '%s %s %.4f %.4f\n' "${label#*/}" "${label%%/*}" "$fastest" "$median"
  done
  for name in "$@"; do
    rm -f "$name".{PAS,floor,cat,unifdef}
  done
}

# peak_kib COMMAND...: the peak resident memory of one run, in KiB.
peak_kib() {
  /usr/bin/time -f '%M' "$@" 2>&1 >/dev/null | tail -n 1
}

# compare_baseline NAME: velk's output equals the baseline's, byte for byte.
compare_baseline() {
  local name=$1
  [[ -n ${VELK_BASELINE:-} ]] || return 0
  "$VELK_BASELINE" "$name.src" >/dev/null
  mv "$name.PAS" "$name.baseline"
  "$VELK" "$name.src" >/dev/null
  cmp "$name.PAS" "$name.baseline" >&2
  rm -f "$name.PAS" "$name.baseline"
  echo "   $name: output identical to $VELK_BASELINE" >&2
}

mibps() { awk -v mib="$1" -v s="$2" 'BEGIN { printf "%.0f", mib * 1048576 / s / 1e6 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

echo "== generating inputs" >&2
for defines in 10 150 200; do
  generate "main$defines" "$MAIN_MIB" "$defines"
done
for defines in "${SERIES_DEFINES[@]}"; do
  generate "series$defines" "$SERIES_MIB" "$defines"
done

for name in main10 main150 main200; do
  compare_baseline "$name"
done

echo "== timing the main inputs ($MAIN_MIB MiB)" >&2
declare -A T M
while read -r name label fastest median; do
  T[$label,${name#main}]=$fastest
  M[$label,${name#main}]=$median
done < <(measure main main10 main150 main200)

echo "== timing the series ($SERIES_MIB MiB)" >&2
SERIES_DATA=$RESULTS/series.dat
echo "# defines velk floor cat unifdef (MB/s)" >"$SERIES_DATA"
declare -A S
while read -r name label fastest median; do
  S[$label,${name#series}]=$(mibps "$SERIES_MIB" "$fastest")
done < <(measure series "${SERIES_DEFINES[@]/#/series}")
for defines in "${SERIES_DEFINES[@]}"; do
  echo "$defines ${S[velk,$defines]} ${S[floor,$defines]} ${S[cat,$defines]} ${S[unifdef,$defines]}" \
    >>"$SERIES_DATA"
done

echo "== peak memory" >&2
RSS_MAIN=$(peak_kib "$VELK" main150.src)
RSS_FLOOR=$(peak_kib "$FLOOR" main150.src main150.floor)
rm -f main150.PAS main150.floor
RSS_GIB="not measured"
if [[ $MEASURE_GIB == 1 ]]; then
  generate gib 1024 150
  RSS_GIB="$(peak_kib "$VELK" gib.src) KiB"
  rm -f gib.src gib.args gib.PAS
fi

gnuplot <<EOF
set terminal pngcairo size 900,540 font ",11"
set output "$ROOT/bench/throughput.png"
set title "Throughput on ${SERIES_MIB} MiB of generated input (fastest runs)"
set xlabel "defines in the table"
set ylabel "MB/s of input"
set key outside right
set grid
set yrange [0:*]
set xtics (10, 25, 50, 100, 150, 200)
plot "$SERIES_DATA" using 1:2 with linespoints lw 2 title "velk", \
     "" using 1:3 with linespoints title "line-copy floor", \
     "" using 1:4 with linespoints title "cat", \
     "" using 1:5 with linespoints title "unifdef -t"
EOF

{
  echo "### Main input: $MAIN_MIB MiB, 150 defines ($((ROUNDS * 3)) runs each)"
  echo
  echo "| program | fastest (s) | MB/s | median (s) | MB/s |"
  echo "|---|---:|---:|---:|---:|"
  for label in velk floor cat unifdef; do
    echo "| $label | ${T[$label,150]} | $(mibps "$MAIN_MIB" "${T[$label,150]}")" \
      "| ${M[$label,150]} | $(mibps "$MAIN_MIB" "${M[$label,150]}") |"
  done
  echo
  echo "| measure | fastest runs | medians | goal |"
  echo "|---|---:|---:|---|"
  echo "| velk throughput / floor throughput | $(ratio "${T[floor,150]}" "${T[velk,150]}")" \
    "| $(ratio "${M[floor,150]}" "${M[velk,150]}") | at least 0.6 |"
  echo "| velk throughput / unifdef -t throughput | $(ratio "${T[unifdef,150]}" "${T[velk,150]}")" \
    "| $(ratio "${M[unifdef,150]}" "${M[velk,150]}") | at least 3 |"
  echo "| velk time, 200 defines / 10 defines | $(ratio "${T[velk,200]}" "${T[velk,10]}")" \
    "| $(ratio "${M[velk,200]}" "${M[velk,10]}") | at most 1.2 |"
  echo
  echo "| peak resident memory | KiB | goal |"
  echo "|---|---:|---|"
  echo "| velk, $MAIN_MIB MiB input | $RSS_MAIN | at most 4096 |"
  echo "| velk, 1 GiB input | ${RSS_GIB% KiB} | at most 4096 |"
  echo "| floor, $MAIN_MIB MiB input | $RSS_FLOOR | |"
  echo
  echo "velk, fastest runs: 10 defines ${T[velk,10]} s, 150 defines ${T[velk,150]} s," \
    "200 defines ${T[velk,200]} s"
  echo
  echo "### Series ($SERIES_MIB MiB inputs), MB/s of the fastest runs"
  echo
  echo "| defines | velk | floor | cat | unifdef -t |"
  echo "|---:|---:|---:|---:|---:|"
  grep -v '^#' "$SERIES_DATA" | awk '{ printf "| %s | %s | %s | %s | %s |\n", $1, $2, $3, $4, $5 }'
  echo
  echo "### Machine"
  echo
  echo "- CPU: $(lscpu | sed -n 's/^Model name: *//p' | head -n 1), $(nproc) cores, $(free -g | awk '/^Mem:/ { print $2 }') GiB"
  echo "- kernel: $(uname -sr)"
  echo "- compiler: $(c++ --version | head -n 1)"
  echo "- $(hyperfine --version), $(unifdef -V 2>&1 | sed -n 's/^Version: *//p')"
} | tee "$RESULTS/table.md"
