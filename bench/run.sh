#!/usr/bin/env bash
# Times velk beside its peers and prints the tables that bench/README.md
# shows; draws bench/throughput.png. Three workloads:
#
#   start-up   one process per small file: a 2 KiB header alone, and 200
#              headers of 1.5 to 2.5 KiB from /usr/include one after another
#              (xargs starts one process per file), velk beside /bin/true and
#              unifdef -t; each run starts with no output file in place
#   real text  this machine's C headers (/usr/include/**/*.h in name order,
#              whole files) to 64 MiB, with the most frequent identifiers of
#              that text defined at the top (10, 150 and 200 of them)
#   generated  velk_corpus's source-like text, 256 MiB (10, 150, 200 defines)
#              and a 64 MiB series for the plot
#
#   bench/run.sh
#
# Peers for throughput, each given the same input file and writing its
# output to a file beside it: cat (no work per line), velk_line_copy (the
# floor: memchr for the line ends, CR LF out, 64 KiB buffers) and Debian's
# unifdef -t with the same symbols as -D and -U options (generated text
# only: on the real headers it stops at their first #if it does not accept).
# Every command runs through hyperfine, in several rounds whose order
# alternates, with the inputs it is compared across in the same rounds. A
# command's time is given twice: its fastest run, the one least disturbed by
# whatever else the machine does, and the median of its round medians. All
# of them run on one thread; the page cache holds the inputs.
#
# Settings (environment):
#   VELK_BENCH_BUILD    build folder (build-bench at the top of the tree)
#   VELK_BENCH_MIB      size of the main generated inputs in MiB (256)
#   VELK_BENCH_SERIES   size of the generated inputs for the plot in MiB (64)
#   VELK_BENCH_REAL     size of the real-text inputs in MiB (64)
#   VELK_BENCH_ROUNDS   rounds per comparison (5); each round has 3 runs and a warmup
#   VELK_BENCH_STARTUP_ROUNDS  rounds of the start-up comparisons (10)
#   VELK_BENCH_GIB      1 (default) to measure velk's peak memory on a 1 GiB input too
#   VELK_BASELINE       another velk whose output every input is compared with,
#                       and which is timed beside velk at start-up
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${VELK_BENCH_BUILD:-$ROOT/build-bench}
MAIN_MIB=${VELK_BENCH_MIB:-256}
SERIES_MIB=${VELK_BENCH_SERIES:-64}
ROUNDS=${VELK_BENCH_ROUNDS:-5}
MEASURE_GIB=${VELK_BENCH_GIB:-1}
REAL_MIB=${VELK_BENCH_REAL:-64}
STARTUP_ROUNDS=${VELK_BENCH_STARTUP_ROUNDS:-10}
SEED=1
SERIES_DEFINES=(10 25 50 100 150 200)
WORK=$BUILD/corpus
RESULTS=$BUILD/results

for tool in cmake ninja hyperfine gnuplot unifdef xargs /usr/bin/time; do
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
    cat "cat $name.src > $name.cat"
  if [[ $name != real* ]]; then
    printf '%s\t%s\n' unifdef "unifdef -t $options -o $name.unifdef $name.src; test \$? -le 1"
  fi
}

# The hyperfine arguments of one round, in "args": the caller's labels and
# cmds in order, or in reverse order on odd rounds.
round_args() {
  local i order=("${!cmds[@]}")
  if (($1 % 2 == 1)); then
    order=($(printf '%s\n' "${order[@]}" | tac))
  fi
  args=()
  for i in "${order[@]}"; do
    args+=(-n "${labels[$i]}" "${cmds[$i]}")
  done
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
    round_args "$round"
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

# The real text: whole header files in name order until REAL_MIB, each line
# that begins with "#" moved off the first column by a blank (so that the
# headers' own directives are text to velk, as the rest is; their #define
# lines would otherwise fill the define table), bytes 26 dropped (one at the
# start of a line would end the input). Then the most frequent identifiers
# of that text, in order, defined at the top: "#define NAME Rn".
real_text() {
  [[ -s real.words ]] && return
  # (No command in these pipes ends before its input does: with pipefail,
  # one that did would end the script.)
  find /usr/include -type f -name '*.h' -printf '%s %p\n' | LC_ALL=C sort -k 2 |
    awk -v limit=$((REAL_MIB * 1048576)) 'total < limit { print $2; total += $1 }' |
    tr '\n' '\0' | xargs -0 cat | LC_ALL=C tr -d '\032' | LC_ALL=C sed 's/^#/ #/' >real.body
  LC_ALL=C grep -oE '[A-Za-z_][A-Za-z0-9_]*' real.body |
    LC_ALL=C awk '{ count[$0]++ } END { for (word in count) print count[word], word }' |
    LC_ALL=C sort -k 1,1nr -k 2 | awk 'NR <= 200' >real.words
}
real_input() {
  local defines=$1 name=real$1
  [[ -s $name.src ]] && return
  head -n "$defines" real.words | awk '{ printf "#define %s R%d\n", $2, NR }' >"$name.src"
  cat real.body >>"$name.src"
  head -n "$defines" real.words | awk '{ printf "-D%s=R%d\n", $2, NR }' >"$name.args"
}
real_text
for defines in 10 150 200; do
  real_input "$defines"
done

# The start-up files: headers of 1.5 to 2.5 KiB that unifdef -t takes
# whole, copied under short names.
STARTUP=$WORK/startup
if [[ ! -s $STARTUP/list ]]; then
  mkdir -p "$STARTUP"
  count=0
  while IFS= read -r header && ((count < 200)); do
    name=$(printf 's%03d.src' "$count")
    LC_ALL=C tr -d '\032' <"$header" >"$STARTUP/$name"
    if unifdef -t -o "$STARTUP/check.out" "$STARTUP/$name" 2>/dev/null || [[ $? == 1 ]]; then
      echo "$name" >>"$STARTUP/list"
      count=$((count + 1))
    else
      rm -f "$STARTUP/$name"
    fi
  done < <(find /usr/include -type f -name '*.h' -size +1k -size -4k -printf '%s %p\n' |
    LC_ALL=C sort -k 2 | awk '$1 >= 1536 && $1 <= 2560 { print $2 }')
  rm -f "$STARTUP/check.out"
fi

for name in main10 main150 main200 real10 real150 real200; do
  compare_baseline "$name"
done
if [[ -n ${VELK_BASELINE:-} ]]; then
  (
    cd "$STARTUP"
    while IFS= read -r name; do
      "$VELK_BASELINE" "$name" >/dev/null
      mv "${name%%.*}.PAS" baseline.PAS
      "$VELK" "$name" >/dev/null
      cmp "${name%%.*}.PAS" baseline.PAS >&2
    done <list
    rm -f ./*.PAS
  )
  echo "   start-up files: output identical to $VELK_BASELINE" >&2
fi

# startup GROUP RUNS LABEL COMMAND...: hyperfine -N (no shell), every run
# starting with no output file in place; the same rounds as above.
startup() {
  local group=$1 runs=$2 round i order args labels=() cmds=()
  shift 2
  while (($# > 0)); do
    labels+=("$1")
    cmds+=("$2")
    shift 2
  done
  for ((round = 0; round < STARTUP_ROUNDS; round++)); do
    round_args "$round"
    (cd "$STARTUP" && hyperfine -N --style none --warmup 3 --runs "$runs" \
      --prepare "find . ( -name *.PAS -o -name *.out ) -delete" \
      --export-csv "$RESULTS/$group.round$round.csv" "${args[@]}" \
      >/dev/null 2>>"$RESULTS/hyperfine.log")
  done
  local label fastest median
  for label in "${labels[@]}"; do
    fastest=$(cat "$RESULTS/$group".round*.csv | awk -F, -v l="$label" '$1 == l { print $7 }' |
      sort -g | head -n 1)
    median=$(cat "$RESULTS/$group".round*.csv | awk -F, -v l="$label" '$1 == l { print $4 }' |
      sort -g | awk '{ t[NR] = $1 } END { print t[int((NR + 1) / 2)] }')
    printf '%s %.6f %.6f\n' "$label" "$fastest" "$median"
  done
  (cd "$STARTUP" && find . \( -name '*.PAS' -o -name '*.out' \) -delete)
}

STARTUP_COUNT=$(wc -l <"$STARTUP/list")
SINGLE=$(head -n 1 "$STARTUP/list")
SINGLE_BYTES=$(stat -c %s "$STARTUP/$SINGLE")
single_cmds=(velk "$VELK $SINGLE" true "/bin/true $SINGLE" unifdef "unifdef -t -o $SINGLE.out $SINGLE")
many_cmds=(velk "xargs -a list -I {} $VELK {}" true "xargs -a list -I {} /bin/true {}"
  unifdef "xargs -a list -I {} unifdef -t -o {}.out {}")

echo "== timing start-up" >&2
declare -A SU
while read -r label fastest median; do
  SU[single,$label]=$median
  SU[single_fast,$label]=$fastest
done < <(startup single 100 "${single_cmds[@]}")
while read -r label fastest median; do
  SU[many,$label]=$median
  SU[many_fast,$label]=$fastest
done < <(startup many 5 "${many_cmds[@]}")
# The baseline apart, after the others: a velk that empties its new output
# files makes ext4 write each of them out at once, and that writing would
# slow whatever runs next.
if [[ -n ${VELK_BASELINE:-} ]]; then
  while read -r label fastest median; do
    [[ $label == true ]] && SU[single_true,b]=$median || SU[single,$label]=$median
  done < <(startup single_baseline 100 baseline "$VELK_BASELINE $SINGLE" true "/bin/true $SINGLE")
  while read -r label fastest median; do
    [[ $label == true ]] && SU[many_true,b]=$median || SU[many,$label]=$median
  done < <(startup many_baseline 5 baseline "xargs -a list -I {} $VELK_BASELINE {}" \
    true "xargs -a list -I {} /bin/true {}")
fi

echo "== timing the main inputs ($MAIN_MIB MiB)" >&2
declare -A T M
while read -r name label fastest median; do
  T[$label,${name#main}]=$fastest
  M[$label,${name#main}]=$median
done < <(measure main main10 main150 main200)

echo "== timing the real text ($REAL_MIB MiB)" >&2
declare -A RT RM
while read -r name label fastest median; do
  RT[$label,${name#real}]=$fastest
  RM[$label,${name#real}]=$median
done < <(measure real real10 real150 real200)

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
RSS_REAL=$(peak_kib "$VELK" real150.src)
rm -f main150.PAS main150.floor real150.PAS
RSS_GIB="not measured"
if [[ $MEASURE_GIB == 1 ]]; then
  generate gib 1024 150
  RSS_GIB="$(peak_kib "$VELK" gib.src) KiB"
  rm -f gib.src gib.args gib.PAS
fi

REAL_DATA=$RESULTS/real.dat
echo "# defines velk floor (MB/s), real text" >"$REAL_DATA"
for defines in 10 150 200; do
  echo "$defines $(mibps "$REAL_MIB" "${RT[velk,$defines]}") $(mibps "$REAL_MIB" "${RT[floor,$defines]}")" \
    >>"$REAL_DATA"
done

gnuplot <<EOF
set terminal pngcairo size 900,540 font ",11"
set output "$ROOT/bench/throughput.png"
set title "Throughput: ${SERIES_MIB} MiB generated, ${REAL_MIB} MiB real text (fastest runs)"
set xlabel "defines in the table"
set ylabel "MB/s of input"
set key outside right
set grid
set yrange [0:*]
set xtics (10, 25, 50, 100, 150, 200)
plot "$SERIES_DATA" using 1:2 with linespoints lw 2 title "velk", \
     "" using 1:3 with linespoints title "line-copy floor", \
     "" using 1:4 with linespoints title "cat", \
     "" using 1:5 with linespoints title "unifdef -t", \
     "$REAL_DATA" using 1:2 with linespoints lw 2 dt 2 title "velk, real text", \
     "" using 1:3 with linespoints dt 2 title "floor, real text"
EOF

ms() { awk -v s="$1" 'BEGIN { printf "%.3f", s * 1000 }'; }
{
  echo "### Start-up: one process per file ($STARTUP_ROUNDS rounds; no output file in place at the start of a run)"
  echo
  echo "| program | one $SINGLE_BYTES-byte header, median of round medians, $((STARTUP_ROUNDS * 100)) runs (ms) | ratio to /bin/true |" \
    "$STARTUP_COUNT headers, one process each, median of round medians, $((STARTUP_ROUNDS * 5)) runs (ms) | ratio to /bin/true |"
  echo "|---|---:|---:|---:|---:|"
  for label in velk true unifdef; do
    case $label in
      true) shown=/bin/true ;;
      unifdef) shown="unifdef -t" ;;
      baseline) shown="velk before (VELK_BASELINE)" ;;
      *) shown=$label ;;
    esac
    echo "| $shown | $(ms "${SU[single,$label]}") | $(ratio "${SU[single,$label]}" "${SU[single,true]}")" \
      "| $(ms "${SU[many,$label]}") | $(ratio "${SU[many,$label]}" "${SU[many,true]}") |"
  done
  if [[ -n ${SU[single,baseline]:-} ]]; then
    echo "| velk before (VELK_BASELINE), timed apart beside /bin/true | $(ms "${SU[single,baseline]}")" \
      "| $(ratio "${SU[single,baseline]}" "${SU[single_true,b]}") | $(ms "${SU[many,baseline]}")" \
      "| $(ratio "${SU[many,baseline]}" "${SU[many_true,b]}") |"
  fi
  echo
  echo "| measure | one file | $STARTUP_COUNT files | goal |"
  echo "|---|---:|---:|---|"
  echo "| velk / /bin/true | $(ratio "${SU[single,velk]}" "${SU[single,true]}")" \
    "| $(ratio "${SU[many,velk]}" "${SU[many,true]}") | at most 1.15 |"
  echo "| velk / unifdef -t | $(ratio "${SU[single,velk]}" "${SU[single,unifdef]}")" \
    "| $(ratio "${SU[many,velk]}" "${SU[many,unifdef]}") | below 1 |"
  echo
  echo "### Real text: $REAL_MIB MiB of this machine's C headers ($((ROUNDS * 3)) runs each)"
  echo
  echo "| program | defines | fastest (s) | MB/s | median (s) | MB/s |"
  echo "|---|---:|---:|---:|---:|---:|"
  for defines in 10 150 200; do
    for label in velk floor cat; do
      echo "| $label | $defines | ${RT[$label,$defines]} | $(mibps "$REAL_MIB" "${RT[$label,$defines]}")" \
        "| ${RM[$label,$defines]} | $(mibps "$REAL_MIB" "${RM[$label,$defines]}") |"
    done
  done
  echo
  echo "| measure | fastest runs | medians | goal |"
  echo "|---|---:|---:|---|"
  echo "| velk throughput / floor throughput, 150 defines | $(ratio "${RT[floor,150]}" "${RT[velk,150]}")" \
    "| $(ratio "${RM[floor,150]}" "${RM[velk,150]}") | at least 0.5 |"
  echo "| velk time, 200 defines / 10 defines | $(ratio "${RT[velk,200]}" "${RT[velk,10]}")" \
    "| $(ratio "${RM[velk,200]}" "${RM[velk,10]}") | at most 1.2 |"
  echo "| peak resident memory, 150 defines (KiB) | $RSS_REAL | | at most 4096 |"
  echo
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
  echo "- load average when the run ended: $(cut -d ' ' -f 1-3 /proc/loadavg)"
} | tee "$RESULTS/table.md"
