#!/usr/bin/env bash
# Measures velk against the goals of its speed work and prints the tables
# that bench/README.md shows (also kept in RESULTS/table.md), with a plot in
# RESULTS/throughput.png. RESULTS is build-bench/results; nothing in the
# source tree is written.
#
#   bench/run.sh                              the whole run (about 15 minutes)
#   VELK_BENCH_QUICK=1 bench/run.sh           fewer rounds, smaller generated
#                                             inputs: for trying a change
#   VELK_BASELINE=/path/to/velk bench/run.sh  also compares every output with
#                                             that velk's (1.0.0: see README)
#
# Inputs (made once in build-bench/corpus, remade when their settings change):
#   generated  velk_corpus's source-like text, seed 1: main10, main150,
#              main200 (10, 150, 200 defines, 256 MiB) and series10 ...
#              series200 for the plot (64 MiB)
#   C headers  this machine's /usr/include/**/*.h, whole files in name order,
#              to 64 MiB, with the 10, 150 or 200 most frequent identifiers of
#              that text defined at the top: real10, real150, real200
#   Pascal     Free Pascal's sources (Debian's fpc-source-3.2.2), .pas/.pp/.inc
#              whole files in name order, to 64 MiB: pas150 with the 150 most
#              frequent identifiers defined, pasmid with 150 of middling
#              frequency (the first 150, most frequent first, that occur at
#              most once in 5000 lines), so that only a few lines in a hundred
#              hold one
#   slices     the first 4 MiB of each of the eight inputs above, cut at a line
#              end (its define lines included): cut_NAME.src
#   small      200 headers of 1.5 to 2.5 KiB from /usr/include, in name order
#              (s000.src ... s199.src): their outputs are compared with the
#              baseline's, and s000.src is the 2 KB file of the start-up
# In the C and Pascal text every line that begins with "#" is moved off the
# first column by a blank, so that no line of it is a directive to velk, and
# byte 26 is dropped (one at the start of a line would end velk's input).
#
# Measures:
#   wall time   velk beside velk_line_copy (the floor: memchr for the line
#               ends, CR LF out, 64 KiB buffers), each on the same input and
#               writing a file beside it, none in place at the start of a run;
#               through hyperfine in rounds (one warmup and three runs each)
#               whose order alternates, all the inputs of a group in the same
#               rounds. A command's figure is the median of its round medians,
#               and its fastest run; a ratio is the median over the rounds of
#               that round's ratio, and the ratio of the fastest runs; the same
#               ratio of processor time (user + system) beside it. The series
#               adds cat, for the plot.
#   instructions  valgrind --tool=callgrind --cache-sim=no, once per slice, for
#               velk, the floor and (if given) the baseline: totals / lines of
#               the slice; the profile (self instructions of each function) of
#               velk on cut_pasmid and cut_real150
#   start-up    hyperfine -N (no shell), velk, the floor and /bin/true on
#               s000.src, no output file in place at the start of a run; the
#               baseline apart, after the others; callgrind totals of one run
#   memory      GNU time's peak resident set size, one run of velk per input
#               (and the floor's on one, for reference)
#
# Settings (environment; the quick mode's defaults in brackets):
#   VELK_BENCH_QUICK    1: the quick mode's defaults below (0)
#   VELK_BENCH_BUILD    build folder (build-bench at the top of the tree)
#   VELK_BENCH_MIB      size of the main generated inputs in MiB (256) [64]
#   VELK_BENCH_SERIES   size of the generated inputs for the plot in MiB (64) [16]
#   VELK_BENCH_REAL     size of the C and Pascal inputs in MiB (64) [64]
#   VELK_BENCH_ROUNDS   rounds of the wall-time comparisons (9) [3]
#   VELK_BENCH_STARTUP_ROUNDS  rounds of the start-up comparisons (10) [3]
#   VELK_BENCH_GIB      1 to measure velk's peak memory on a 1 GiB input too (1) [0]
#   VELK_BENCH_FPCSRC   Free Pascal's sources (/usr/share/fpcsrc/3.2.2)
#   VELK_BASELINE       another velk whose output is compared with this one's on
#                       every input, and whose start-up is timed apart
set -euo pipefail
RUN_START=$SECONDS

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${VELK_BENCH_BUILD:-$ROOT/build-bench}
if [[ ${VELK_BENCH_QUICK:-0} == 1 ]]; then
  defaults=(64 16 3 3 0)
else
  defaults=(256 64 9 10 1)
fi
MAIN_MIB=${VELK_BENCH_MIB:-${defaults[0]}}
SERIES_MIB=${VELK_BENCH_SERIES:-${defaults[1]}}
ROUNDS=${VELK_BENCH_ROUNDS:-${defaults[2]}}
STARTUP_ROUNDS=${VELK_BENCH_STARTUP_ROUNDS:-${defaults[3]}}
MEASURE_GIB=${VELK_BENCH_GIB:-${defaults[4]}}
REAL_MIB=${VELK_BENCH_REAL:-64}
FPCSRC=${VELK_BENCH_FPCSRC:-/usr/share/fpcsrc/3.2.2}
BASELINE=${VELK_BASELINE:-}
SEED=1
SLICE_BYTES=$((4 * 1048576))
SERIES_DEFINES=(10 25 50 100 150 200)
MAIN_INPUTS=(main10 main150 main200)
C_INPUTS=(real10 real150 real200)
PAS_INPUTS=(pas150 pasmid)
SLICED=("${C_INPUTS[@]}" "${PAS_INPUTS[@]}" "${MAIN_INPUTS[@]}")
WORK=$BUILD/corpus
RESULTS=$BUILD/results
CG=$RESULTS/callgrind

for tool in cmake ninja hyperfine gnuplot valgrind callgrind_annotate xargs /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "run.sh: $tool is needed" >&2; exit 1; }
done
[[ -d $FPCSRC ]] || { echo "run.sh: $FPCSRC is needed (apt-get install fpc-source-3.2.2)" >&2; exit 1; }
if [[ -n $BASELINE ]]; then
  BASELINE=$(realpath "$BASELINE")
  [[ -x $BASELINE ]] || { echo "run.sh: VELK_BASELINE $BASELINE cannot be run" >&2; exit 1; }
fi

mkdir -p "$WORK" "$RESULTS" "$CG"
rm -f "$RESULTS"/*.csv "$RESULTS"/load.log "$CG"/*
# phase TEXT: says what runs next, and notes the load average then.
phase() {
  echo "== $1" >&2
  echo "$(date +%T) $(cut -d ' ' -f 1 /proc/loadavg) $1" >>"$RESULTS/load.log"
}

phase "building a Release velk in $BUILD"
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$BUILD" --target velk velk_corpus velk_line_copy >/dev/null
VELK=$BUILD/src/velk
CORPUS=$BUILD/bench/velk_corpus
FLOOR=$BUILD/bench/velk_line_copy
VELK_COMMIT=$(git -C "$ROOT" rev-parse --short HEAD 2>/dev/null || echo unknown)
git -C "$ROOT" diff --quiet HEAD -- src 2>/dev/null || VELK_COMMIT="$VELK_COMMIT with changes in src/"
cd "$WORK"

# made FILE SETTINGS: FILE is there and was made with these settings.
# stamp FILE SETTINGS: notes them once FILE is made.
made() { [[ -s $1 && -f $1.made && $(<"$1.made") == "$2" ]]; }
stamp() { echo "$2" >"$1.made"; }

# generate NAME MIB DEFINES: NAME.src from the corpus generator.
generate() {
  local name=$1 mib=$2 defines=$3
  made "$name.src" "$mib $SEED $defines" && return
  "$CORPUS" $((mib * 1024 * 1024)) "$SEED" "$defines" "$name.src" /dev/null
  stamp "$name.src" "$mib $SEED $defines"
}

# source_text: from "size path" lines in name order, whole files until
# REAL_MIB, each line that begins with "#" moved off the first column, bytes
# 26 dropped. (No command in these pipes ends before its input does: with
# pipefail, one that did would end the script.)
source_text() {
  LC_ALL=C sort -k 2 | awk -v limit=$((REAL_MIB * 1048576)) 'total < limit { print $2; total += $1 }' |
    tr '\n' '\0' | xargs -0 cat | LC_ALL=C tr -d '\032' | LC_ALL=C sed 's/^#/ #/'
}

# count_words: the identifiers of the text, "count word", most frequent first.
count_words() {
  LC_ALL=C grep -oE '[A-Za-z_][A-Za-z0-9_]*' |
    LC_ALL=C awk '{ count[$0]++ } END { for (word in count) print count[word], word }' |
    LC_ALL=C sort -k 1,1nr -k 2
}

# with_defines NAME BODY WORDS: NAME.src, "#define WORD Rn" for each line of
# WORDS ("count word"), then BODY; NAME.share the share of BODY's lines that
# hold one of the words as a whole word (velk's rule: no letter or digit
# beside it).
with_defines() {
  local name=$1 body=$2 words=$3 pattern held lines settings
  settings="$(<"$body.made") $(md5sum <"$words")"
  made "$name.src" "$settings" && return
  awk '{ printf "#define %s R%d\n", $2, NR }' "$words" >"$name.src"
  cat "$body" >>"$name.src"
  pattern=$(awk '{ print $2 }' "$words" | paste -sd '|')
  held=$(LC_ALL=C grep -cE "(^|[^A-Za-z0-9])($pattern)([^A-Za-z0-9]|\$)" "$body" || true)
  lines=$(wc -l <"$body")
  awk -v h="$held" -v l="$lines" 'BEGIN { printf "%.1f\n", 100 * h / l }' >"$name.share"
  stamp "$name.src" "$settings"
}

phase "making the inputs"
for defines in 10 150 200; do
  generate "main$defines" "$MAIN_MIB" "$defines"
done
for defines in "${SERIES_DEFINES[@]}"; do
  generate "series$defines" "$SERIES_MIB" "$defines"
done

if ! made c.body "$REAL_MIB"; then
  find /usr/include -type f -name '*.h' -printf '%s %p\n' | source_text >c.body
  count_words <c.body >c.words
  stamp c.body "$REAL_MIB"
fi
for defines in 10 150 200; do
  awk -v n="$defines" 'NR <= n' c.words >"real$defines.words"
  with_defines "real$defines" c.body "real$defines.words"
done

if ! made pas.body "$REAL_MIB"; then
  find "$FPCSRC" -type f \( -name '*.pas' -o -name '*.pp' -o -name '*.inc' \) -printf '%s %p\n' |
    source_text >pas.body
  count_words <pas.body >pas.words
  stamp pas.body "$REAL_MIB"
fi
awk 'NR <= 150' pas.words >pas150.words
awk -v limit=$(($(wc -l <pas.body) / 5000)) '$1 <= limit' pas.words | awk 'NR <= 150' >pasmid.words
with_defines pas150 pas.body pas150.words
with_defines pasmid pas.body pasmid.words

# The slices: the first SLICE_BYTES of each input, its last (cut) line left out.
for name in "${SLICED[@]}"; do
  head -c "$SLICE_BYTES" "$name.src" | head -n -1 >"cut_$name.src"
done

SMALL=$WORK/small
if [[ ! -s $SMALL/list ]]; then
  mkdir -p "$SMALL"
  find /usr/include -type f -name '*.h' -size +1k -size -4k -printf '%s %p\n' | LC_ALL=C sort -k 2 |
    awk '$1 >= 1536 && $1 <= 2560 { print $2 }' | awk 'NR <= 200' | {
    count=0
    while IFS= read -r header; do
      name=$(printf 's%03d.src' "$count")
      LC_ALL=C tr -d '\032' <"$header" >"$SMALL/$name"
      echo "$name" >>"$SMALL/list"
      count=$((count + 1))
    done
  }
fi
SINGLE=$(head -n 1 "$SMALL/list")
SINGLE_BYTES=$(stat -c %s "$SMALL/$SINGLE")

# ---- outputs against the baseline --------------------------------------
# same_output DIR NAME...: velk's NAME.PAS against the baseline's, byte for
# byte, for each input NAME.src in DIR; the names that differ go to DIFFERENT.
SAME=0
DIFFERENT=()
same_output() {
  local dir=$1 name
  shift
  for name in "$@"; do
    name=${name%.src}
    (cd "$dir" && "$BASELINE" "$name.src" >/dev/null && mv "$name.PAS" "$name.baseline" &&
      "$VELK" "$name.src" >/dev/null) || true
    if cmp -s "$dir/$name.PAS" "$dir/$name.baseline"; then
      SAME=$((SAME + 1))
    else
      DIFFERENT+=("$name")
      echo "   $name: velk's output differs from the baseline's" >&2
    fi
    rm -f "$dir/$name.PAS" "$dir/$name.baseline"
  done
}
if [[ -n $BASELINE ]]; then
  phase "comparing every output with $BASELINE"
  same_output "$WORK" "${MAIN_INPUTS[@]}" "${SERIES_DEFINES[@]/#/series}" "${C_INPUTS[@]}" \
    "${PAS_INPUTS[@]}" "${SLICED[@]/#/cut_}"
  mapfile -t small_files <"$SMALL/list"
  same_output "$SMALL" "${small_files[@]}"
fi

# ---- wall time ---------------------------------------------------------
# The commands for input NAME, one per line: label, then command. They run
# in WORK: velk keeps 40 bytes of a file name, so names stay short.
commands() {
  local name=$1
  printf '%s\t%s\n' velk "$VELK $name.src" floor "$FLOOR $name.src $name.floor"
  if [[ $name == series* ]]; then
    printf '%s\t%s\n' cat "cat $name.src > $name.cat"
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

# measure GROUP NAME...: every command on every input NAME in the same
# ROUNDS rounds; hyperfine's results in RESULTS/GROUP.roundN.csv, with the
# labels "velk/NAME", "floor/NAME" ... Every run starts with no output file
# in place: on ext4, emptying the file a run before wrote waits until the
# file system has written the old contents out, which on these sizes can
# double the floor's time.
measure() {
  local group=$1 round name label cmd labels=() cmds=() args
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
      --prepare "rm -f ./*.PAS ./*.floor ./*.cat" --export-csv "$RESULTS/$group.round$round.csv" "${args[@]}" \
      >/dev/null 2>>"$RESULTS/hyperfine.log"
  done
  for name in "$@"; do
    rm -f "$name".{PAS,floor,cat}
  done
}

# Figures from a group's rounds (columns: command,mean,stddev,median,user,
# system,min,max), in seconds or as plain ratios.
column_of() { cat "$RESULTS/$1".round*.csv | awk -F, -v l="$2" -v c="$3" '$1 == l { print $c }'; }
median() { sort -g | awk '{ t[NR] = $1 } END { print t[int((NR + 1) / 2)] }'; }
fastest() { column_of "$1" "$2" 7 | sort -g | head -n 1; }
middle() { column_of "$1" "$2" 4 | median; }
# round_ratio GROUP A B: the median over the rounds of A's median / B's median.
round_ratio() {
  local file
  for file in "$RESULTS/$1".round*.csv; do
    awk -F, -v a="$2" -v b="$3" '$1 == a { x = $4 } $1 == b { y = $4 } END { print x / y }' "$file"
  done | median
}

# cpu_ratio GROUP A B: the same for the processor time (user + system; a
# round's mean), which waiting for a processor on a loaded machine leaves out.
cpu_ratio() {
  local file
  for file in "$RESULTS/$1".round*.csv; do
    awk -F, -v a="$2" -v b="$3" '$1 == a { x = $5 + $6 } $1 == b { y = $5 + $6 } END { print x / y }' "$file"
  done | median
}

# startup GROUP WARMUP RUNS LABEL COMMAND...: hyperfine -N (no shell) in the
# small files' folder, every run starting with no output file in place;
# rounds as above, STARTUP_ROUNDS of them.
startup() {
  local group=$1 warmup=$2 runs=$3 round labels=() cmds=() args
  shift 3
  while (($# > 0)); do
    labels+=("$1")
    cmds+=("$2")
    shift 2
  done
  for ((round = 0; round < STARTUP_ROUNDS; round++)); do
    round_args "$round"
    (cd "$SMALL" && hyperfine -N --style none --warmup "$warmup" --runs "$runs" \
      --prepare "find . ( -name *.PAS -o -name *.out ) -delete" \
      --export-csv "$RESULTS/$group.round$round.csv" "${args[@]}" \
      >/dev/null 2>>"$RESULTS/hyperfine.log")
  done
  (cd "$SMALL" && find . \( -name '*.PAS' -o -name '*.out' \) -delete)
}

phase "timing start-up"
startup single 3 100 velk "$VELK $SINGLE" floor "$FLOOR $SINGLE $SINGLE.out" true "/bin/true $SINGLE"
# The baseline apart, after the others: a velk that empties its new output
# files (1.0.0 does) makes ext4 write each of them out at once, and that
# writing would slow whatever runs next.
if [[ -n $BASELINE ]]; then
  startup single_baseline 3 100 baseline "$BASELINE $SINGLE" true "/bin/true $SINGLE"
fi

phase "timing the generated inputs ($MAIN_MIB MiB)"
measure main "${MAIN_INPUTS[@]}"
phase "timing the C headers ($REAL_MIB MiB)"
measure real "${C_INPUTS[@]}"
phase "timing the Pascal sources ($REAL_MIB MiB)"
measure pas "${PAS_INPUTS[@]}"
phase "timing the series ($SERIES_MIB MiB)"
measure series "${SERIES_DEFINES[@]/#/series}"

# ---- instructions ------------------------------------------------------
# instructions OUT COMMAND...: the instructions of one run under callgrind;
# its profile kept in CG/OUT.
instructions() {
  local out=$1
  shift
  valgrind --tool=callgrind --cache-sim=no --branch-sim=no --callgrind-out-file="$CG/$out" \
    "$@" >/dev/null 2>"$CG/$out.log"
  awk '$1 == "totals:" { print $2 }' "$CG/$out"
}

phase "counting instructions (callgrind)"
declare -A LINES IV IF IB
for name in "${SLICED[@]}"; do
  LINES[$name]=$(wc -l <"cut_$name.src")
  IV[$name]=$(instructions "velk.$name" "$VELK" "cut_$name.src")
  IF[$name]=$(instructions "floor.$name" "$FLOOR" "cut_$name.src" "cut_$name.floor")
  if [[ -n $BASELINE ]]; then
    IB[$name]=$(instructions "baseline.$name" "$BASELINE" "cut_$name.src")
  fi
  rm -f "cut_$name.PAS" "cut_$name.floor"
done
SU_IV=$(cd "$SMALL" && instructions velk.startup "$VELK" "$SINGLE")
SU_IF=$(cd "$SMALL" && instructions floor.startup "$FLOOR" "$SINGLE" "$SINGLE.out")
SU_IT=$(cd "$SMALL" && instructions true.startup /bin/true "$SINGLE")
(cd "$SMALL" && rm -f ./*.PAS ./*.out)

# profile NAME: velk's functions on the slice of NAME by their own (self)
# instructions, a line each: the 12 largest, then the rest.
profile() {
  local name=$1
  callgrind_annotate --inclusive=no "$CG/velk.$name" 2>/dev/null |
    awk -v lines="${LINES[$name]}" -v total="${IV[$name]}" '
      /file:function/ { on = 1; next }
      on && /^ *[0-9,]+ \(/ {
        ir = $1; gsub(/,/, "", ir)
        fn = $0; sub(/^ *[0-9,]+ \( *[0-9.]+%\) +/, "", fn)
        p = index(fn, " ["); if (p) fn = substr(fn, 1, p - 1)
        fn = substr(fn, index(fn, ":") + 1)
        gsub(/\(anonymous namespace\)::/, "", fn)
        p = index(fn, "("); if (p) fn = substr(fn, 1, p - 1)
        sub(/^velk::/, "", fn)
        if (++n > 12) next
        shown += ir
        printf "| `%s` | %.0f | %.1f %% |\n", fn, ir / lines, 100 * ir / total
      }
      END { printf "| all others | %.0f | %.1f %% |\n", (total - shown) / lines, 100 * (total - shown) / total }'
}

# ---- memory ------------------------------------------------------------
# peak_kib COMMAND...: the peak resident memory of one run, in KiB.
peak_kib() {
  /usr/bin/time -f '%M' "$@" 2>&1 >/dev/null | tail -n 1
}

phase "peak memory"
declare -A RSS
for name in "${MAIN_INPUTS[@]}" "${C_INPUTS[@]}" "${PAS_INPUTS[@]}"; do
  RSS[$name]=$(peak_kib "$VELK" "$name.src")
  rm -f "$name.PAS"
done
RSS[small]=$(cd "$SMALL" && peak_kib "$VELK" "$SINGLE")
RSS_FLOOR=$(peak_kib "$FLOOR" main150.src main150.floor)
rm -f main150.floor "$SMALL"/*.PAS
if [[ $MEASURE_GIB == 1 ]]; then
  generate gib 1024 150
  RSS[gib]=$(peak_kib "$VELK" gib.src)
  if [[ -n $BASELINE ]]; then
    same_output "$WORK" gib
  fi
  rm -f gib.src gib.src.made gib.PAS
fi

# ---- tables ------------------------------------------------------------
phase "the tables"
mibps() { awk -v mib="$1" -v s="$2" 'BEGIN { printf "%.0f", mib * 1048576 / s / 1e6 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
fixed() { awk -v v="$1" -v d="$2" 'BEGIN { printf "%.*f", d, v }'; }
per_line() { awk -v i="$1" -v l="$2" 'BEGIN { printf "%.0f", i / l }'; }
ms() { awk -v s="$1" 'BEGIN { printf "%.3f", s * 1000 }'; }
# meets VALUE OP GOAL: "yes" or "no".
meets() {
  awk -v v="$1" -v op="$2" -v g="$3" 'BEGIN { print ((op == "<=" ? v <= g : v >= g) ? "yes" : "no") }'
}
group_of() {
  case $1 in
    main*) echo main ;;
    real*) echo real ;;
    pas*) echo pas ;;
  esac
}
mib_of() { [[ $1 == main* ]] && echo "$MAIN_MIB" || echo "$REAL_MIB"; }
describe() {
  case $1 in
    main*) echo "generated, ${1#main} defines" ;;
    real*) echo "C headers, ${1#real} most frequent defined" ;;
    pas150) echo "Pascal, 150 most frequent defined" ;;
    pasmid) echo "Pascal, 150 of middling frequency defined" ;;
  esac
}
instruction_goal() { [[ $1 == main* ]] && echo 350 || echo 450; }
wall_goal() { [[ $1 == main* ]] && echo 0.65 || echo 0.5; }

declare -A WALL WALL_FAST CPU
for name in "${SLICED[@]}"; do
  group=$(group_of "$name")
  WALL[$name]=$(round_ratio "$group" "floor/$name" "velk/$name")
  CPU[$name]=$(cpu_ratio "$group" "floor/$name" "velk/$name")
  WALL_FAST[$name]=$(ratio "$(fastest "$group" "floor/$name")" "$(fastest "$group" "velk/$name")")
done
SCALE_C=$(round_ratio real velk/real200 velk/real10)
SCALE_C_FAST=$(ratio "$(fastest real velk/real200)" "$(fastest real velk/real10)")
SCALE_G=$(round_ratio main velk/main200 velk/main10)
SCALE_G_FAST=$(ratio "$(fastest main velk/main200)" "$(fastest main velk/main10)")
SU_RATIO=$(round_ratio single velk floor)
SU_RATIO_FAST=$(ratio "$(fastest single velk)" "$(fastest single floor)")
PEAK=0
for name in "${!RSS[@]}"; do
  ((RSS[$name] > PEAK)) && PEAK=${RSS[$name]}
done
if [[ -z $BASELINE ]]; then
  IDENTICAL="not compared (VELK_BASELINE not set)"
elif ((${#DIFFERENT[@]} == 0)); then
  IDENTICAL="yes, all $SAME outputs"
else
  IDENTICAL="no: ${#DIFFERENT[@]} differ (${DIFFERENT[*]}), $SAME identical"
fi
# figures LIST FUNCTION: the figures of the inputs in LIST, joined by " / ".
figures() {
  local list=$1 fn=$2 name out=()
  for name in $list; do
    out+=("$($fn "$name")")
  done
  local IFS=/
  echo "${out[*]}" | sed 's|/| / |g'
}
velk_per_line() { per_line "${IV[$1]}" "${LINES[$1]}"; }
wall_of() { fixed "${WALL[$1]}" 2; }
# all_meet LIST FUNCTION OP GOAL: "yes" when every figure meets the goal.
all_meet() {
  local name
  for name in $1; do
    [[ $(meets "$($2 "$name")" "$3" "$4") == yes ]] || { echo no; return; }
  done
  echo yes
}
REAL_LIST="${C_INPUTS[*]} ${PAS_INPUTS[*]}"
GEN_LIST="${MAIN_INPUTS[*]}"
BASE_NAME=${BASELINE:-none}

{
  echo "### Goals (velk at $VELK_COMMIT; $(date -u +'%Y-%m-%d %H:%M') UTC)"
  echo
  echo "| goal | inputs | figures | reached |"
  echo "|---|---|---:|---|"
  echo "| at most 450 instructions a line on real text | C headers 10 / 150 / 200 defines; Pascal 150 most" \
    "frequent / middling | $(figures "$REAL_LIST" velk_per_line) | $(all_meet "$REAL_LIST" velk_per_line '<=' 450) |"
  echo "| at most 350 instructions a line on generated text | 10 / 150 / 200 defines" \
    "| $(figures "$GEN_LIST" velk_per_line) | $(all_meet "$GEN_LIST" velk_per_line '<=' 350) |"
  echo "| wall time at least 0.5 × the floor on real text (velk throughput / floor throughput, median of" \
    "$ROUNDS rounds) | as above | $(figures "$REAL_LIST" wall_of) | $(all_meet "$REAL_LIST" wall_of '>=' 0.5) |"
  echo "| wall time at least 0.65 × the floor on generated text (median of $ROUNDS rounds) | as above" \
    "| $(figures "$GEN_LIST" wall_of) | $(all_meet "$GEN_LIST" wall_of '>=' 0.65) |"
  echo "| velk's time with 200 defines / with 10 at most 1.15 (median of rounds) | C headers; generated" \
    "| $(fixed "$SCALE_C" 2) / $(fixed "$SCALE_G" 2)" \
    "| $([[ $(meets "$SCALE_C" '<=' 1.15) == yes && $(meets "$SCALE_G" '<=' 1.15) == yes ]] && echo yes || echo no) |"
  echo "| start-up within 1.05 × the floor's (median of $STARTUP_ROUNDS rounds) | one $SINGLE_BYTES-byte" \
    "header | $(fixed "$SU_RATIO" 2) | $(meets "$SU_RATIO" '<=' 1.05) |"
  echo "| peak memory at most 2 MiB (2048 KiB) | every input (largest) | $PEAK KiB | $(meets "$PEAK" '<=' 2048) |"
  echo "| output byte-identical to velk 1.0.0 | every input ($BASE_NAME) | | $IDENTICAL |"
  echo
  echo "### Instructions a line (callgrind, one run on the first 4 MiB of each input, cut at a line end)"
  echo
  echo "| input | lines | velk | floor | velk / floor | velk 1.0.0 | goal | reached |"
  echo "|---|---:|---:|---:|---:|---:|---:|---|"
  for name in "${SLICED[@]}"; do
    v=$(velk_per_line "$name")
    f=$(per_line "${IF[$name]}" "${LINES[$name]}")
    b=${IB[$name]:+$(per_line "${IB[$name]}" "${LINES[$name]}")}
    echo "| $(describe "$name") | ${LINES[$name]} | $v | $f | $(ratio "$v" "$f") | ${b:-} | $(instruction_goal "$name")" \
      "| $(meets "$v" '<=' "$(instruction_goal "$name")") |"
  done
  echo
  for name in pasmid real150; do
    echo "Where velk's instructions go, $(describe "$name") (first 4 MiB; self instructions of each function," \
      "that is without the functions it calls; the C library's functions by their own names):"
    echo
    echo "| function | instructions a line | share |"
    echo "|---|---:|---:|"
    profile "$name"
    echo
  done
  echo "### Wall time against the floor ($ROUNDS rounds of 3 runs; the inputs of a group in the same rounds)"
  echo
  echo "| input | MiB | velk median (s) | MB/s | floor median (s) | MB/s | ratio, median of rounds" \
    "| ratio, fastest runs | goal | reached | processor time ratio, median of rounds |"
  echo "|---|---:|---:|---:|---:|---:|---:|---:|---:|---|---:|"
  for name in "${SLICED[@]}"; do
    group=$(group_of "$name")
    mib=$(mib_of "$name")
    vm=$(middle "$group" "velk/$name")
    fm=$(middle "$group" "floor/$name")
    echo "| $(describe "$name") | $mib | $(fixed "$vm" 4) | $(mibps "$mib" "$vm") | $(fixed "$fm" 4)" \
      "| $(mibps "$mib" "$fm") | $(fixed "${WALL[$name]}" 2) | ${WALL_FAST[$name]} | $(wall_goal "$name")" \
      "| $(meets "${WALL[$name]}" '>=' "$(wall_goal "$name")") | $(fixed "${CPU[$name]}" 2) |"
  done
  echo
  echo "| velk's time, 200 defines / 10 defines | median of rounds | fastest runs | goal | processor time, median of rounds |"
  echo "|---|---:|---:|---|---:|"
  echo "| C headers | $(fixed "$SCALE_C" 2) | $SCALE_C_FAST | at most 1.15" \
    "| $(fixed "$(cpu_ratio real velk/real200 velk/real10)" 2) |"
  echo "| generated | $(fixed "$SCALE_G" 2) | $SCALE_G_FAST | at most 1.15" \
    "| $(fixed "$(cpu_ratio main velk/main200 velk/main10)" 2) |"
  echo
  echo "### Start-up on one $SINGLE_BYTES-byte header ($STARTUP_ROUNDS rounds of 100 runs, hyperfine -N;" \
    "no output file in place at the start of a run)"
  echo
  echo "| program | median of round medians (ms) | fastest run (ms) | instructions (callgrind, one run) |"
  echo "|---|---:|---:|---:|"
  for label in velk floor true; do
    case $label in
      floor) shown="floor (velk_line_copy)" instr=$SU_IF ;;
      true) shown=/bin/true instr=$SU_IT ;;
      *) shown=velk instr=$SU_IV ;;
    esac
    echo "| $shown | $(ms "$(middle single "$label")") | $(ms "$(fastest single "$label")") | $instr |"
  done
  echo
  echo "| measure | median of rounds | fastest runs | goal |"
  echo "|---|---:|---:|---|"
  echo "| velk / floor, one file | $(fixed "$SU_RATIO" 2) | $SU_RATIO_FAST | at most 1.05 |"
  echo "| velk / floor, processor time (user + system) | $(fixed "$(cpu_ratio single velk floor)" 2) | | |"
  echo "| velk / floor, instructions | $(ratio "$SU_IV" "$SU_IF") | | |"
  echo "| velk / /bin/true, one file | $(fixed "$(round_ratio single velk true)" 2) | | |"
  if [[ -n $BASELINE ]]; then
    echo "| velk 1.0.0 / /bin/true, one file, timed apart ($(ms "$(middle single_baseline baseline)") ms)" \
      "| $(fixed "$(round_ratio single_baseline baseline true)" 2) | | |"
  fi
  echo
  echo "### Peak memory (GNU time, KiB; goal at most 2048)"
  echo
  echo "| input | velk |"
  echo "|---|---:|"
  for name in "${SLICED[@]}"; do
    echo "| $(describe "$name"), $(mib_of "$name") MiB | ${RSS[$name]} |"
  done
  echo "| the $SINGLE_BYTES-byte header | ${RSS[small]} |"
  [[ -n ${RSS[gib]:-} ]] && echo "| generated, 150 defines, 1 GiB | ${RSS[gib]} |"
  echo "| (the floor, generated, 150 defines, $MAIN_MIB MiB) | $RSS_FLOOR |"
  echo
  echo "### Inputs"
  echo
  echo "| input | file | lines | lines that hold a defined name as a whole word |"
  echo "|---|---|---:|---:|"
  for name in "${C_INPUTS[@]}" "${PAS_INPUTS[@]}"; do
    echo "| $(describe "$name") | $name.src | $(wc -l <"$name.src") | $(<"$name.share") % |"
  done
  echo
  echo "Defined in pasmid (counts in its body $(head -n 1 pasmid.words | cut -d ' ' -f 1)" \
    "to $(tail -n 1 pasmid.words | cut -d ' ' -f 1)): $(awk 'NR <= 8 { printf "%s, ", $2 }' pasmid.words)..."
  echo
  echo "### Series ($SERIES_MIB MiB generated inputs), MB/s, medians of round medians"
  echo
  echo "| defines | velk | floor | cat |"
  echo "|---:|---:|---:|---:|"
  for defines in "${SERIES_DEFINES[@]}"; do
    echo "| $defines | $(mibps "$SERIES_MIB" "$(middle series "velk/series$defines")")" \
      "| $(mibps "$SERIES_MIB" "$(middle series "floor/series$defines")")" \
      "| $(mibps "$SERIES_MIB" "$(middle series "cat/series$defines")") |"
  done
  echo
  echo "### Machine and run"
  echo
  echo "- CPU: $(lscpu | sed -n 's/^Model name: *//p' | head -n 1), $(nproc) cores, $(free -g | awk '/^Mem:/ { print $2 }') GiB"
  echo "- kernel: $(uname -sr); compiler: $(c++ --version | head -n 1); $(hyperfine --version);" \
    "$(valgrind --version)"
  echo "- one-minute load average at the start of each phase: $(awk '{ printf "%s%s", sep, $2; sep = ", " }' \
    "$RESULTS/load.log"); at the end: $(cut -d ' ' -f 1 /proc/loadavg)"
  echo "- the run took $(((SECONDS - RUN_START) / 60)) min $(((SECONDS - RUN_START) % 60)) s" \
    "(quick mode: ${VELK_BENCH_QUICK:-0})"
} | tee "$RESULTS/table.md"

# ---- the plot ----------------------------------------------------------
SERIES_DATA=$RESULTS/series.dat
REAL_DATA=$RESULTS/real.dat
PAS_DATA=$RESULTS/pascal.dat
for defines in "${SERIES_DEFINES[@]}"; do
  echo "$defines $(mibps "$SERIES_MIB" "$(middle series "velk/series$defines")")" \
    "$(mibps "$SERIES_MIB" "$(middle series "floor/series$defines")")" \
    "$(mibps "$SERIES_MIB" "$(middle series "cat/series$defines")")"
done >"$SERIES_DATA"
for defines in 10 150 200; do
  echo "$defines $(mibps "$REAL_MIB" "$(middle real "velk/real$defines")")" \
    "$(mibps "$REAL_MIB" "$(middle real "floor/real$defines")")"
done >"$REAL_DATA"
for name in "${PAS_INPUTS[@]}"; do
  echo "150 $(mibps "$REAL_MIB" "$(middle pas "velk/$name")") $(mibps "$REAL_MIB" "$(middle pas "floor/$name")")"
done >"$PAS_DATA"
gnuplot <<EOF
set terminal pngcairo size 900,540 font ",11"
set output "$RESULTS/throughput.png"
set title "Throughput: ${SERIES_MIB} MiB generated, ${REAL_MIB} MiB C headers and Pascal (medians)"
set xlabel "defines in the table"
set ylabel "MB/s of input"
set key outside right
set grid
set yrange [0:*]
set xtics (10, 25, 50, 100, 150, 200)
plot "$SERIES_DATA" using 1:2 with linespoints lw 2 title "velk, generated", \
     "" using 1:3 with linespoints title "floor, generated", \
     "" using 1:4 with linespoints title "cat, generated", \
     "$REAL_DATA" using 1:2 with linespoints lw 2 dt 2 title "velk, C headers", \
     "" using 1:3 with linespoints dt 2 title "floor, C headers", \
     "$PAS_DATA" every ::0::0 using 1:2 with points pt 7 ps 1.5 title "velk, Pascal (150 most frequent)", \
     "" every ::1::1 using 1:2 with points pt 9 ps 1.5 title "velk, Pascal (150 middling)", \
     "" every ::0::0 using 1:3 with points pt 6 ps 1.5 title "floor, Pascal"
EOF
echo "== done: $RESULTS/table.md and $RESULTS/throughput.png" >&2
