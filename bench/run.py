#!/usr/bin/env python3
"""Measures velk against the goals of its speed work, beside a plain line copier.

    bench/run.py                              the whole run
    VELK_BENCH_QUICK=1 bench/run.py           small generated inputs, few rounds
    VELK_BASELINE=/path/to/velk bench/run.py  also compares every output with
                                              that velk's (1.0.0: bench/README.md)

It builds a Release velk and the bench's tools in build-bench, makes the inputs
in build-bench/corpus (kept for the next run), measures, and writes the tables
to build-bench/results/table.md and the plot to build-bench/results/throughput.png,
beside hyperfine's results of every round (*.json), the callgrind profiles and
the load average at the start of each phase (load.log). Nothing is written in
the source tree. bench/README.md says what is measured and how; its settings
table lists the VELK_BENCH_* variables read below.
"""

import json
import os
import re
import statistics
import subprocess
import sys
import time
from collections import Counter
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
QUICK = os.environ.get("VELK_BENCH_QUICK", "0") == "1"


def setting(name, whole, quick):
    return os.environ.get(name, str(quick if QUICK else whole))


BUILD = Path(setting("VELK_BENCH_BUILD", ROOT / "build-bench", ROOT / "build-bench")).resolve()
MAIN_MIB = int(setting("VELK_BENCH_MIB", 256, 64))
SERIES_MIB = int(setting("VELK_BENCH_SERIES", 64, 16))
REAL_MIB = int(setting("VELK_BENCH_REAL", 64, 64))
ROUNDS = int(setting("VELK_BENCH_ROUNDS", 9, 3))
STARTUP_ROUNDS = int(setting("VELK_BENCH_STARTUP_ROUNDS", 10, 3))
MEASURE_GIB = setting("VELK_BENCH_GIB", 1, 0) == "1"
FPCSRC = Path(setting("VELK_BENCH_FPCSRC", "/usr/share/fpcsrc/3.2.2", "/usr/share/fpcsrc/3.2.2"))
BASELINE = os.environ.get("VELK_BASELINE", "")
# Other builds of velk whose instructions a line are set beside the bench's,
# "NAME=PATH NAME=PATH" (the Debian package's, the README's build).
OTHER_BUILDS = dict(item.split("=", 1) for item in os.environ.get("VELK_BENCH_OTHER_BUILDS", "").split())

WORK = BUILD / "corpus"
SMALL = WORK / "small"
RESULTS = BUILD / "results"
CALLGRIND = RESULTS / "callgrind"
VELK = BUILD / "src" / "velk"
PROFILED_VELK = BUILD / "profile" / "src" / "velk"  # the same code, with line information
CORPUS = BUILD / "bench" / "velk_corpus"
FLOOR = BUILD / "bench" / "velk_line_copy"
SEED = 1
SLICE_BYTES = 4 * 1048576
SERIES_DEFINES = [10, 25, 50, 100, 150, 200]

# The inputs timed and sliced, in table order: name -> (group, description).
INPUTS = {
    "real10": ("real", "C headers, 10 most frequent defined"),
    "real150": ("real", "C headers, 150 most frequent defined"),
    "real200": ("real", "C headers, 200 most frequent defined"),
    "pas150": ("pas", "Pascal, 150 most frequent defined"),
    "pasmid": ("pas", "Pascal, 150 of middling frequency defined"),
    "main10": ("main", "generated, 10 defines"),
    "main150": ("main", "generated, 150 defines"),
    "main200": ("main", "generated, 200 defines"),
}
PROFILED = ["pasmid", "real150", "main150"]

# The goals of this round of speed work.
INSTRUCTION_GOAL = {"real10": 200, "real150": 260, "real200": 280, "pas150": 260, "pasmid": 180,
                    "main10": 200, "main150": 260, "main200": 280}
CPU_RATIO_GOAL = {"real150": 0.65, "pas150": 0.65, "pasmid": 0.75}  # floor's processor time / velk's
SCALE_GOAL = 1.2  # velk's time with 200 defines / with 10
STARTUP_GOAL = 1.05  # velk's start-up / the floor's
PEAK_GOAL_KIB = 2048
OTHER_BUILD_GOAL = 1.05  # another build's instructions / the bench build's


# ---- running things --------------------------------------------------------

def run(*command, cwd=None, quiet=True):
    """Runs a command; its standard output is returned, unless quiet drops it."""
    result = subprocess.run([str(c) for c in command], cwd=cwd, check=True,
                            stdout=subprocess.DEVNULL if quiet else subprocess.PIPE, text=not quiet)
    return result.stdout


def phase(text):
    print("==", text, file=sys.stderr, flush=True)
    load = Path("/proc/loadavg").read_text().split()[0]
    with open(RESULTS / "load.log", "a") as log:
        log.write(f"{time.strftime('%H:%M:%S')} {load} {text}\n")


def remove(folder, *patterns):
    for pattern in patterns:
        for path in Path(folder).glob(pattern):
            path.unlink()


def build():
    phase(f"building a Release velk in {BUILD}")
    run("cmake", "-S", ROOT, "-B", BUILD, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release", "-DBUILD_TESTING=OFF")
    run("cmake", "--build", BUILD, "--target", "velk", "velk_corpus", "velk_line_copy")
    # The same flags with -g, which changes no instruction: callgrind can then
    # tell which source file each instruction of the profile comes from.
    run("cmake", "-S", ROOT, "-B", PROFILED_VELK.parent.parent, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
        "-DBUILD_TESTING=OFF", "-DCMAKE_CXX_FLAGS_RELEASE=-O3 -DNDEBUG -g")
    run("cmake", "--build", PROFILED_VELK.parent.parent, "--target", "velk")


# ---- the inputs ------------------------------------------------------------
# Each input is made once and remade when the settings it was made with
# (kept in NAME.made beside it) change.

def made(path, settings):
    stamp = Path(f"{path}.made")
    return path.exists() and stamp.exists() and stamp.read_text() == settings


def stamp(path, settings):
    Path(f"{path}.made").write_text(settings)


def generate(name, mib, defines):
    path = WORK / f"{name}.src"
    settings = f"{mib} {SEED} {defines}"
    if not made(path, settings):
        run(CORPUS, mib * 1048576, SEED, defines, path, "/dev/null")
        stamp(path, settings)


def files_named(top, suffixes):
    """The regular files under top whose names end in one of suffixes, as (path, size), in name order."""
    found = []
    for folder, _, names in os.walk(top):
        for name in names:
            path = os.path.join(folder, name)
            if name.endswith(suffixes) and os.path.isfile(path) and not os.path.islink(path):
                found.append((path, os.path.getsize(path)))
    return sorted(found, key=lambda item: os.fsencode(item[0]))


def source_text(top, suffixes):
    """Whole files in name order until REAL_MIB, byte 26 dropped, and every
    line that begins with "#" moved off the first column by a blank, so that
    no line of it is a directive to velk."""
    parts, total = [], 0
    for path, size in files_named(top, suffixes):
        if total >= REAL_MIB * 1048576:
            break
        parts.append(Path(path).read_bytes())
        total += size
    text = b"".join(parts).replace(b"\x1a", b"")
    return re.sub(rb"(?m)^#", b" #", text)


def count_words(text):
    """The identifiers of the text as (count, word), most frequent first."""
    counts = Counter(re.findall(rb"[A-Za-z_][A-Za-z0-9_]*", text))
    return sorted(((n, word) for word, n in counts.items()), key=lambda item: (-item[0], item[1]))


def with_defines(name, body_name, words):
    """NAME.src: "#define WORD Rn" for each word, then the body. NAME.share:
    the share of the body's lines that hold one of the words with no letter or
    digit beside it (velk's rule for a whole word)."""
    path = WORK / f"{name}.src"
    settings = Path(f"{WORK / body_name}.made").read_text() + " " + " ".join(w.decode() for _, w in words)
    if made(path, settings):
        return
    body = WORK / body_name
    with open(path, "wb") as out:
        out.write(b"".join(b"#define %s R%d\n" % (word, n) for n, (_, word) in enumerate(words, 1)))
        out.write(body.read_bytes())
    pattern = "|".join(w.decode() for _, w in words)
    held = subprocess.run(["grep", "-cE", f"(^|[^A-Za-z0-9])({pattern})([^A-Za-z0-9]|$)", body],
                          env={**os.environ, "LC_ALL": "C"}, stdout=subprocess.PIPE, text=True).stdout
    lines = body.read_bytes().count(b"\n")
    Path(f"{WORK / name}.share").write_text(f"{100 * int(held) / lines:.1f}")
    stamp(path, settings)


def real_text(body_name, top, suffixes):
    """The body of the C or Pascal inputs, and its words (kept in BODY.words)."""
    body = WORK / body_name
    if not made(body, str(REAL_MIB)):
        text = source_text(top, suffixes)
        body.write_bytes(text)
        Path(f"{body}.words").write_text("".join(f"{n} {w.decode()}\n" for n, w in count_words(text)))
        stamp(body, str(REAL_MIB))
    return [(int(n), w.encode()) for n, w in (line.split() for line in open(f"{body}.words"))]


def make_inputs():
    phase("making the inputs")
    for defines in (10, 150, 200):
        generate(f"main{defines}", MAIN_MIB, defines)
    for defines in SERIES_DEFINES:
        generate(f"series{defines}", SERIES_MIB, defines)

    c_words = real_text("c.body", "/usr/include", (".h",))
    for defines in (10, 150, 200):
        with_defines(f"real{defines}", "c.body", c_words[:defines])
    pas_words = real_text("pas.body", FPCSRC, (".pas", ".pp", ".inc"))
    pas_lines = (WORK / "pas.body").read_bytes().count(b"\n")
    with_defines("pas150", "pas.body", pas_words[:150])
    # 150 of middling frequency: the most frequent of those that occur at most
    # once in 5000 lines.
    middling = [(n, w) for n, w in pas_words if n <= pas_lines // 5000][:150]
    with_defines("pasmid", "pas.body", middling)
    (WORK / "pasmid.words").write_text("".join(f"{n} {w.decode()}\n" for n, w in middling))

    # The slices: the first 4 MiB of each input, its last (cut) line left out.
    for name in INPUTS:
        with open(WORK / f"{name}.src", "rb") as source:
            head = source.read(SLICE_BYTES)
        (WORK / f"cut_{name}.src").write_bytes(head[:head.rfind(b"\n", 0, len(head) - 1) + 1])

    # 200 small headers of 1.5 to 2.5 KiB, in name order; s000.src is the file of the start-up figures.
    if not (SMALL / "list").exists():
        SMALL.mkdir(exist_ok=True)
        small = [path for path, size in files_named("/usr/include", (".h",)) if 1536 <= size <= 2560][:200]
        for number, path in enumerate(small):
            (SMALL / f"s{number:03d}.src").write_bytes(Path(path).read_bytes().replace(b"\x1a", b""))
        (SMALL / "list").write_text("".join(f"s{n:03d}.src\n" for n in range(len(small))))


# ---- outputs against the baseline ------------------------------------------

def compare_outputs(folder, names, compared):
    """velk's NAME.PAS against the baseline's, byte for byte, for each NAME.src
    in folder; adds (name, identical) to compared."""
    for name in names:
        subprocess.run([BASELINE, f"{name}.src"], cwd=folder, stdout=subprocess.DEVNULL)
        theirs = (folder / f"{name}.PAS").read_bytes() if (folder / f"{name}.PAS").exists() else None
        remove(folder, f"{name}.PAS")
        subprocess.run([VELK, f"{name}.src"], cwd=folder, stdout=subprocess.DEVNULL)
        ours = (folder / f"{name}.PAS").read_bytes() if (folder / f"{name}.PAS").exists() else None
        remove(folder, f"{name}.PAS")
        compared.append((name, ours is not None and ours == theirs))
        if ours is None or ours != theirs:
            print(f"   {name}: velk's output differs from the baseline's", file=sys.stderr)


# ---- wall and processor time -----------------------------------------------

def hyperfine_rounds(group, commands, rounds, cwd, options):
    """Every command (label -> command line) in the same rounds, in order on
    even rounds and in reverse order on odd ones. Returns a list of rounds, each
    label -> hyperfine's result (median, min, user, system ... in seconds)."""
    results = []
    for number in range(rounds):
        order = list(commands.items())
        if number % 2 == 1:
            order.reverse()
        named = [part for label, command in order for part in ("-n", label, command)]
        export = RESULTS / f"{group}.round{number}.json"
        with open(RESULTS / "hyperfine.log", "a") as log:
            subprocess.run(["hyperfine", "--style", "none", *options, "--export-json", export, *named],
                           cwd=cwd, check=True, stdout=subprocess.DEVNULL, stderr=log)
        results.append({r["command"]: r for r in json.loads(export.read_text())["results"]})
    return results


def time_group(group, names):
    """velk and the floor (and cat, in the series) on every input of a group.
    Every run starts with no output file in place: on ext4, emptying the file
    that the run before wrote waits until the old contents are written out,
    which on these sizes doubled the floor's time."""
    commands = {}
    for name in names:
        commands[f"velk/{name}"] = f"{VELK} {name}.src"
        commands[f"floor/{name}"] = f"{FLOOR} {name}.src {name}.floor"
        if name.startswith("series"):
            commands[f"cat/{name}"] = f"cat {name}.src > {name}.cat"
    options = ["--shell", "bash", "--warmup", "1", "--runs", "3", "--prepare", "rm -f ./*.PAS ./*.floor ./*.cat"]
    rounds = hyperfine_rounds(group, commands, ROUNDS, WORK, options)
    remove(WORK, "*.PAS", "*.floor", "*.cat")
    return rounds


def time_startup(group, commands):
    """Start-up: hyperfine -N (no shell) in the small files' folder, no output
    file in place at the start of a run, STARTUP_ROUNDS rounds of 100 runs."""
    options = ["-N", "--warmup", "3", "--runs", "100", "--prepare", "find . ( -name *.PAS -o -name *.out ) -delete"]
    rounds = hyperfine_rounds(group, commands, STARTUP_ROUNDS, SMALL, options)
    remove(SMALL, "*.PAS", "*.out")
    return rounds


def median_time(rounds, label):
    """A command's time: the median of its round medians."""
    return statistics.median(r[label]["median"] for r in rounds)


def fastest(rounds, label):
    return min(r[label]["min"] for r in rounds)


def round_ratio(rounds, a, b):
    """The median over the rounds of a's round median / b's."""
    return statistics.median(r[a]["median"] / r[b]["median"] for r in rounds)


def cpu_ratio(rounds, a, b):
    """The same for processor time (user + system, a round's mean), which
    leaves out the time a run waits for a processor or for the disk."""
    return statistics.median((r[a]["user"] + r[a]["system"]) / (r[b]["user"] + r[b]["system"]) for r in rounds)


# ---- instructions ----------------------------------------------------------

def instructions(out, command, cwd=WORK):
    """The instructions of one run under callgrind; its profile kept in callgrind/OUT."""
    profile = CALLGRIND / out
    with open(f"{profile}.log", "w") as log:
        subprocess.run(["valgrind", "--tool=callgrind", "--cache-sim=no", "--branch-sim=no",
                        f"--callgrind-out-file={profile}", *map(str, command)],
                       cwd=cwd, check=True, stdout=subprocess.DEVNULL, stderr=log)
    return next(int(line.split()[1]) for line in open(profile) if line.startswith("totals:"))


def short_function(name):
    """velk::(anonymous namespace)::Judge(velk::Scan&, ...) [clone .isra.0] -> Judge"""
    name = name.replace("(anonymous namespace)::", "").split(" [")[0]
    return re.sub(r"^velk::", "", name.split("(")[0])


def profile(out):
    """velk's self instructions on a slice by function and by the source file
    each instruction comes from (code placed inline from another file counts
    for that file): (function, file, instructions), largest first."""
    listing = run("callgrind_annotate", "--inclusive=no", "--threshold=100", "--auto=no", CALLGRIND / out, quiet=False)
    rows = []
    for line in listing.splitlines():
        match = re.match(r"\s*([\d,]+) \(\s*[\d.]+%\)\s+(.+?):(.*)$", line)
        if match and "PROGRAM TOTALS" not in line:
            rows.append((short_function(match[3]), os.path.basename(match[2]), int(match[1].replace(",", ""))))
    return rows


# ---- memory ----------------------------------------------------------------

def peak_kib(command, cwd=WORK):
    """GNU time's peak resident set size of one run, in KiB."""
    result = subprocess.run(["/usr/bin/time", "-f", "%M", *map(str, command)], cwd=cwd,
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    return int(result.stderr.split()[-1])


# ---- tables ----------------------------------------------------------------

def table(header, rows):
    """A Markdown table; a column whose header ends in ":" (dropped) is right-aligned."""
    align = ["---:" if h.endswith(":") else "---" for h in header]
    lines = ["| " + " | ".join(h.rstrip(":") for h in header) + " |", "|" + "|".join(align) + "|"]
    lines += ["| " + " | ".join(str(cell) for cell in row) + " |" for row in rows]
    return "\n".join(lines) + "\n"


def reached(value, op, goal):
    return "yes" if (value <= goal if op == "<=" else value >= goal) else "no"


def all_reached(pairs, op):
    return "yes" if all(reached(v, op, g) == "yes" for v, g in pairs) else "no"


def joined(values, form="{}"):
    return " / ".join(form.format(v) for v in values)


def mbps(path, seconds):
    return f"{path.stat().st_size / seconds / 1e6:.0f}"


def report(m):
    """The tables, from the measures m, as Markdown."""
    rounds = m["rounds"]
    per_line = {n: m["velk"][n] / m["lines"][n] for n in INPUTS}
    wall = {n: round_ratio(rounds[g], f"floor/{n}", f"velk/{n}") for n, (g, _) in INPUTS.items()}
    cpu = {n: cpu_ratio(rounds[g], f"floor/{n}", f"velk/{n}") for n, (g, _) in INPUTS.items()}
    scale = {g: (cpu_ratio(rounds[g], f"velk/{g}200", f"velk/{g}10"),
                 round_ratio(rounds[g], f"velk/{g}200", f"velk/{g}10")) for g in ("real", "main")}
    single = rounds["single"]
    startup = round_ratio(single, "velk", "floor")
    peak = max(m["peak"].values())
    header_bytes = (SMALL / "s000.src").stat().st_size
    out = [f"### Goals (velk at {m['commit']}; {time.strftime('%Y-%m-%d %H:%M', time.gmtime())} UTC)\n"]

    rows = []
    for inputs, names in (("C headers, 10 / 150 / 200 defines", ["real10", "real150", "real200"]),
                          ("Pascal, 150 most frequent / middling", ["pas150", "pasmid"]),
                          ("generated, 10 / 150 / 200 defines", ["main10", "main150", "main200"])):
        rows.append(["instructions a line (callgrind, 4 MiB slices)", inputs,
                     joined((per_line[n] for n in names), "{:.0f}"), "≤ " + joined(INSTRUCTION_GOAL[n] for n in names),
                     all_reached([(per_line[n], INSTRUCTION_GOAL[n]) for n in names], "<=")])
    for build_name in OTHER_BUILDS:
        ratio = m["others"][build_name]["real150"] / m["velk"]["real150"]
        rows.append([f"instructions a line, the {build_name} build / the bench's", "C headers, 150 defines",
                     f"{ratio:.3f}", f"≤ {OTHER_BUILD_GOAL}", reached(ratio, "<=", OTHER_BUILD_GOAL)])
    for name, goal in CPU_RATIO_GOAL.items():
        rows.append([f"processor time, floor / velk, median of {ROUNDS} rounds (wall time)", INPUTS[name][1],
                     f"{cpu[name]:.2f} ({wall[name]:.2f})", f"≥ {goal}", reached(cpu[name], ">=", goal)])
    for group, inputs in (("real", "C headers"), ("main", "generated")):
        rows.append(["velk's processor time with 200 defines / with 10 (wall time)", inputs,
                     f"{scale[group][0]:.2f} ({scale[group][1]:.2f})", f"≤ {SCALE_GOAL}",
                     reached(scale[group][0], "<=", SCALE_GOAL)])
    rows.append([f"start-up, velk / floor, wall time, median of {STARTUP_ROUNDS} rounds",
                 f"one {header_bytes}-byte header", f"{startup:.2f}", f"≤ {STARTUP_GOAL}",
                 reached(startup, "<=", STARTUP_GOAL)])
    rows.append(["peak memory (GNU time)", "every input (largest)", f"{peak} KiB", f"≤ {PEAK_GOAL_KIB} KiB",
                 reached(peak, "<=", PEAK_GOAL_KIB)])
    differ = [name for name, same in m["compared"] if not same]
    identical = ("not compared (VELK_BASELINE not set)" if not BASELINE else
                 f"yes, all {len(m['compared'])} outputs" if not differ else
                 f"no: {len(differ)} differ ({', '.join(differ)}), {len(m['compared']) - len(differ)} identical")
    rows.append(["output byte-identical to the baseline's", f"every input ({BASELINE or 'none'})", "", "", identical])
    out.append(table(["measure", "inputs", "figures:", "goal:", "reached"], rows))

    out.append("### Instructions a line (callgrind, one run on the first 4 MiB of each input, cut at a line end)\n")
    rows = []
    for name, (_, description) in INPUTS.items():
        floor = m["floor"][name] / m["lines"][name]
        baseline = f"{m['baseline'][name] / m['lines'][name]:.0f}" if BASELINE else ""
        others = [f"{m['others'][b][name] / m['velk'][name]:.3f}" for b in OTHER_BUILDS]
        rows.append([description, m["lines"][name], f"{per_line[name]:.0f}", f"{floor:.0f}",
                     f"{per_line[name] / floor:.2f}", baseline, *others, INSTRUCTION_GOAL[name],
                     reached(per_line[name], "<=", INSTRUCTION_GOAL[name])])
    out.append(table(["input", "lines:", "velk:", "floor:", "velk / floor:", "baseline:",
                      *(f"{b} build / bench build:" for b in OTHER_BUILDS), "goal:", "reached"], rows))

    for name in PROFILED:
        lines, functions = m["lines"][name], m["profile"][name]
        total = sum(ir for _, _, ir in functions)
        rest = total - sum(ir for _, _, ir in functions[:14])
        out.append(f"Where velk's instructions go, {INPUTS[name][1]} (first 4 MiB; each function's own "
                   "instructions, without those of the functions it calls, by the source file they come from):\n")
        rows = [[f"`{fn}`", f"`{file}`", f"{ir / lines:.1f}", f"{100 * ir / total:.1f} %"]
                for fn, file, ir in functions[:14]]
        rows += [["all others", "", f"{rest / lines:.1f}", f"{100 * rest / total:.1f} %"],
                 ["total", "", f"{total / lines:.1f}", "100 %"]]
        out.append(table(["function", "source file", "instructions a line:", "share:"], rows))

    out.append(f"### Time against the floor ({ROUNDS} rounds of 3 runs; the inputs of a group in the same rounds)\n")
    rows = []
    for name, (group, description) in INPUTS.items():
        velk, floor = median_time(rounds[group], f"velk/{name}"), median_time(rounds[group], f"floor/{name}")
        source, goal = WORK / f"{name}.src", CPU_RATIO_GOAL.get(name)
        fast = fastest(rounds[group], f"floor/{name}") / fastest(rounds[group], f"velk/{name}")
        rows.append([description, f"{source.stat().st_size / 1048576:.0f}", f"{velk:.4f}", mbps(source, velk),
                     f"{floor:.4f}", mbps(source, floor), f"{cpu[name]:.2f}", f"≥ {goal}" if goal else "",
                     reached(cpu[name], ">=", goal) if goal else "", f"{wall[name]:.2f}", f"{fast:.2f}"])
    out.append(table(["input", "MiB:", "velk median (s):", "MB/s:", "floor median (s):", "MB/s:",
                      "processor time, floor / velk:", "goal:", "reached", "wall time, floor / velk:",
                      "wall, fastest runs:"], rows))

    out.append(f"### Start-up on one {header_bytes}-byte header ({STARTUP_ROUNDS} rounds of 100 runs, "
               "hyperfine -N; no output file in place at the start of a run)\n")
    rows = [[shown, f"{1000 * median_time(single, label):.3f}", f"{1000 * fastest(single, label):.3f}",
             m["startup_instructions"][label]]
            for label, shown in (("velk", "velk"), ("floor", "floor (velk_line_copy)"), ("true", "/bin/true"))]
    out.append(table(["program", "median of round medians (ms):", "fastest run (ms):",
                      "instructions (callgrind, one run):"], rows))
    instructions = m["startup_instructions"]
    out.append(f"velk / floor: {startup:.2f} in wall time (goal ≤ {STARTUP_GOAL}; fastest runs "
               f"{fastest(single, 'velk') / fastest(single, 'floor'):.2f}), {cpu_ratio(single, 'velk', 'floor'):.2f} "
               f"in processor time, {instructions['velk'] / instructions['floor']:.2f} in instructions. velk / "
               f"/bin/true: {round_ratio(single, 'velk', 'true'):.2f} in wall time.")
    if BASELINE:
        apart = rounds["single_baseline"]
        out[-1] += (f" The baseline / /bin/true, timed apart: {round_ratio(apart, 'baseline', 'true'):.2f} "
                    f"({1000 * median_time(apart, 'baseline'):.3f} ms).")
    out[-1] += "\n"

    out.append(f"### Peak memory (GNU time, KiB; goal at most {PEAK_GOAL_KIB})\n")
    rows = [[f"{INPUTS[n][1]}, {MAIN_MIB if n.startswith('main') else REAL_MIB} MiB", m["peak"][n]] for n in INPUTS]
    rows.append([f"the {header_bytes}-byte header", m["peak"]["small"]])
    if "gib" in m["peak"]:
        rows.append(["generated, 150 defines, 1 GiB", m["peak"]["gib"]])
    rows.append([f"(the floor, generated, 150 defines, {MAIN_MIB} MiB)", m["floor_peak"]])
    out.append(table(["input", "velk:"], rows))

    out.append("### Inputs\n")
    rows = [[INPUTS[n][1], f"{n}.src", m["input_lines"][n], (WORK / f"{n}.share").read_text() + " %"]
            for n in INPUTS if not n.startswith("main")]
    out.append(table(["input", "file", "lines:", "lines that hold a defined name as a whole word:"], rows))
    middling = [line.split() for line in open(WORK / "pasmid.words")]
    out.append(f"Defined in pasmid (counts in its body {middling[0][0]} to {middling[-1][0]}): "
               f"{', '.join(w for _, w in middling[:8])}, ...\n")

    out.append(f"### Series ({SERIES_MIB} MiB generated inputs), MB/s, medians of round medians\n")
    rows = [[d] + [mbps(WORK / f"series{d}.src", median_time(rounds["series"], f"{p}/series{d}"))
                   for p in ("velk", "floor", "cat")] for d in SERIES_DEFINES]
    out.append(table(["defines:", "velk:", "floor:", "cat:"], rows))

    out.append(f"### Machine and run\n\n- CPU: {m['cpu']}, {os.cpu_count()} cores\n- kernel: {os.uname().sysname} "
               f"{os.uname().release}; {m['versions']}\n- one-minute load average at the start of each phase: "
               f"{m['loads']}; at the end: {Path('/proc/loadavg').read_text().split()[0]}\n- the run took "
               f"{m['minutes']} (quick mode: {int(QUICK)})\n")
    return "\n".join(out)


# ---- the plot --------------------------------------------------------------

def plot(rounds, path):
    """Throughput against the number of defines, from the medians of the rounds."""
    def rate(group, label, name):
        return mbps(WORK / f"{name}.src", median_time(rounds[group], f"{label}/{name}"))
    series = [[d] + [rate("series", p, f"series{d}") for p in ("velk", "floor", "cat")] for d in SERIES_DEFINES]
    real = [[d, rate("real", "velk", f"real{d}"), rate("real", "floor", f"real{d}")] for d in (10, 150, 200)]
    pascal = [[150, rate("pas", "velk", n), rate("pas", "floor", n)] for n in ("pas150", "pasmid")]
    draw(series, real, pascal, path)


def draw(series, real, pascal, path):
    """The plot with gnuplot: velk in full colour, the floor in the same colour
    with open marks; the key below the plot, velk's row above the others'."""
    def block(name, rows):
        return f"${name} << EOD\n" + "\n".join(" ".join(map(str, row)) for row in rows) + "\nEOD\n"
    script = block("series", series) + block("real", real) + block("pascal", pascal) + f"""
set terminal pngcairo size 900,600 font ",11"
set output "{path}"
set title "Throughput, MB/s of input (medians): {SERIES_MIB} MiB generated, {REAL_MIB} MiB C headers and Pascal"
set xlabel "defines in the table"
set ylabel "MB/s"
set key outside below center vertical maxrows 2 Left reverse samplen 2 width -5 spacing 1.3
set grid
set yrange [0:*]
set xrange [0:210]
set xtics (10, 25, 50, 100, 150, 200)
plot $series using 1:2 with linespoints lw 2 lc 1 pt 7 title "velk, generated", \\
     $series using 1:3 with linespoints lc 1 pt 6 title "floor, generated", \\
     $real using 1:2 with linespoints lw 2 lc 2 pt 5 dt 2 title "velk, C headers", \\
     $real using 1:3 with linespoints lc 2 pt 4 dt 2 title "floor, C headers", \\
     $pascal every ::0::0 using 1:2 with points lc 3 pt 9 ps 1.5 title "velk, Pascal top 150", \\
     $pascal every ::0::0 using 1:3 with points lc 3 pt 8 ps 1.5 title "floor, Pascal", \\
     $pascal every ::1::1 using 1:2 with points lc 4 pt 11 ps 1.5 title "velk, Pascal middling", \\
     $series using 1:4 with linespoints lc 7 pt 1 title "cat, generated"
"""
    subprocess.run(["gnuplot"], input=script, text=True, check=True)


# ---- the run ---------------------------------------------------------------

def check_tools():
    global BASELINE
    for tool in ("cmake", "ninja", "hyperfine", "gnuplot", "valgrind", "callgrind_annotate", "/usr/bin/time", "grep"):
        if subprocess.run(["sh", "-c", f"command -v {tool}"], stdout=subprocess.DEVNULL).returncode != 0:
            sys.exit(f"run.py: {tool} is needed")
    if not FPCSRC.is_dir():
        sys.exit(f"run.py: {FPCSRC} is needed (apt-get install fpc-source-3.2.2)")
    if BASELINE:
        BASELINE = os.path.realpath(BASELINE)
        if not os.access(BASELINE, os.X_OK):
            sys.exit(f"run.py: VELK_BASELINE {BASELINE} cannot be run")


def time_everything():
    """The rounds of every group, by group: start-up first, then the large inputs."""
    rounds = {}
    phase("timing start-up")
    rounds["single"] = time_startup("single", {"velk": f"{VELK} s000.src", "floor": f"{FLOOR} s000.src s000.src.out",
                                               "true": "/bin/true s000.src"})
    # The baseline apart, after the others: a velk that empties its new output
    # files (1.0.0 does) makes ext4 write each of them out at once, and that
    # writing would slow whatever runs next.
    if BASELINE:
        rounds["single_baseline"] = time_startup("single_baseline",
                                                 {"baseline": f"{BASELINE} s000.src", "true": "/bin/true s000.src"})
    for group, what in (("main", f"the generated inputs ({MAIN_MIB} MiB)"), ("real", f"the C headers ({REAL_MIB} MiB)"),
                        ("pas", f"the Pascal sources ({REAL_MIB} MiB)")):
        phase(f"timing {what}")
        rounds[group] = time_group(group, [n for n, (g, _) in INPUTS.items() if g == group])
    phase(f"timing the series ({SERIES_MIB} MiB)")
    rounds["series"] = time_group("series", [f"series{d}" for d in SERIES_DEFINES])
    return rounds


def count_instructions(m):
    """Callgrind on every slice (velk, the floor, the baseline, other builds)
    and on the start-up file; velk's profile on the slices of PROFILED."""
    phase("counting instructions (callgrind)")
    for key in ("lines", "input_lines", "velk", "floor", "baseline", "profile"):
        m[key] = {}
    m["others"] = {b: {} for b in OTHER_BUILDS}
    for name in INPUTS:
        cut = f"cut_{name}.src"
        m["lines"][name] = (WORK / cut).read_bytes().count(b"\n")
        m["input_lines"][name] = (WORK / f"{name}.src").read_bytes().count(b"\n")
        m["velk"][name] = instructions(f"velk.{name}", [VELK, cut])
        m["floor"][name] = instructions(f"floor.{name}", [FLOOR, cut, f"cut_{name}.floor"])
        if BASELINE:
            m["baseline"][name] = instructions(f"baseline.{name}", [BASELINE, cut])
        for build_name, path in OTHER_BUILDS.items():
            m["others"][build_name][name] = instructions(f"{build_name}.{name}", [os.path.realpath(path), cut])
        if name in PROFILED:
            instructions(f"profiled.{name}", [PROFILED_VELK, cut])
            m["profile"][name] = profile(f"profiled.{name}")
        remove(WORK, f"cut_{name}.PAS", f"cut_{name}.floor")
    m["startup_instructions"] = {
        "velk": instructions("velk.startup", [VELK, "s000.src"], SMALL),
        "floor": instructions("floor.startup", [FLOOR, "s000.src", "s000.src.out"], SMALL),
        "true": instructions("true.startup", ["/bin/true", "s000.src"], SMALL)}
    remove(SMALL, "*.PAS", "*.out")


def measure_memory(m):
    """velk's peak memory on every input (and the 1 GiB one), the floor's on one."""
    phase("peak memory")
    m["peak"] = {}
    for name in INPUTS:
        m["peak"][name] = peak_kib([VELK, f"{name}.src"])
        remove(WORK, f"{name}.PAS")
    m["peak"]["small"] = peak_kib([VELK, "s000.src"], SMALL)
    m["floor_peak"] = peak_kib([FLOOR, "main150.src", "main150.floor"])
    remove(SMALL, "*.PAS")
    remove(WORK, "main150.floor")
    if MEASURE_GIB:
        generate("gib", 1024, 150)
        m["peak"]["gib"] = peak_kib([VELK, "gib.src"])
        remove(WORK, "gib.PAS")
        if BASELINE:
            compare_outputs(WORK, ["gib"], m["compared"])
        remove(WORK, "gib.src", "gib.src.made")


def describe_run(m, started):
    m["cpu"] = next((line.split(":", 1)[1].strip() for line in open("/proc/cpuinfo") if line.startswith("model name")),
                    "unknown")
    compiler = run("c++", "--version", quiet=False).splitlines()[0]
    m["versions"] = (f"compiler: {compiler}; {run('hyperfine', '--version', quiet=False).strip()}; "
                     f"{run('valgrind', '--version', quiet=False).strip()}")
    m["loads"] = ", ".join(line.split()[1] for line in open(RESULTS / "load.log"))
    seconds = int(time.time() - started)
    m["minutes"] = f"{seconds // 60} min {seconds % 60} s"


def main():
    started = time.time()
    check_tools()
    for folder in (WORK, RESULTS, CALLGRIND):
        folder.mkdir(parents=True, exist_ok=True)
    remove(RESULTS, "*.json", "load.log", "hyperfine.log")
    remove(CALLGRIND, "*")
    build()
    commit = run("git", "-C", ROOT, "rev-parse", "--short", "HEAD", quiet=False).strip()
    if subprocess.run(["git", "-C", ROOT, "diff", "--quiet", "HEAD", "--", "src"]).returncode != 0:
        commit += " with changes in src/"
    m = {"commit": commit, "compared": []}
    make_inputs()

    if BASELINE:
        phase(f"comparing every output with {BASELINE}")
        names = [*INPUTS, *(f"series{d}" for d in SERIES_DEFINES), *(f"cut_{n}" for n in INPUTS)]
        compare_outputs(WORK, names, m["compared"])
        small = (SMALL / "list").read_text().split()
        compare_outputs(SMALL, [name.removesuffix(".src") for name in small], m["compared"])
    m["rounds"] = time_everything()
    count_instructions(m)
    measure_memory(m)

    phase("the tables")
    describe_run(m, started)
    text = report(m)
    (RESULTS / "table.md").write_text(text)
    print(text)
    plot(m["rounds"], RESULTS / "throughput.png")
    print(f"== done: {RESULTS}/table.md and {RESULTS}/throughput.png", file=sys.stderr)


if __name__ == "__main__":
    main()
