#!/usr/bin/env python3
"""Measures velk against the goals of its speed work, beside a plain line copier (the floor).

    bench/run.py                              the whole run
    VELK_BENCH_QUICK=1 bench/run.py           generated inputs of 64 MiB instead of 256, 3 rounds
    VELK_BASELINE=/path/to/velk bench/run.py  also compares every output with that velk's
    VELK_BENCH_OTHER_BUILDS="debian=/usr/bin/velk readme=build/src/velk" bench/run.py
                                              also counts those builds' instructions a line

It builds velk in build-bench, makes the inputs in build-bench/corpus (kept for the next run), measures
and prints the tables; build-bench/results keeps them with the plot and what hyperfine and callgrind wrote.
"""

import json
import os
import re
import statistics
import subprocess
import sys
import time
from collections import Counter, defaultdict
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
BUILD = ROOT / "build-bench"
WORK, SMALL, RESULTS = BUILD / "corpus", BUILD / "corpus/small", BUILD / "results"
VELK, CORPUS, FLOOR = BUILD / "src/velk", BUILD / "bench/velk_corpus", BUILD / "bench/velk_line_copy"
PROFILED_VELK = BUILD / "profile/src/velk"  # the same code built with -g, so that the profile names source files
FPCSRC = "/usr/share/fpcsrc/3.2.2"
QUICK = os.environ.get("VELK_BENCH_QUICK") == "1"
MAIN_MIB, REAL_MIB, ROUNDS, STARTUP_ROUNDS = (64, 64, 3, 3) if QUICK else (256, 64, 9, 10)
BASELINE = os.path.realpath(os.environ["VELK_BASELINE"]) if os.environ.get("VELK_BASELINE") else ""
OTHER_BUILDS = dict(item.split("=", 1) for item in os.environ.get("VELK_BENCH_OTHER_BUILDS", "").split())

# The inputs: name -> (group timed in the same rounds, description, defines, goal: instructions a line at most).
INPUTS = {"real10": ("real", "C headers, 10 most frequent defined", 10, 200),
          "real150": ("real", "C headers, 150 most frequent defined", 150, 260),
          "real200": ("real", "C headers, 200 most frequent defined", 200, 280),
          "pas150": ("pas", "Pascal, 150 most frequent defined", 150, 260),
          "pasmid": ("pas", "Pascal, 150 of middling frequency defined", 150, 180),
          "main10": ("main", "generated, 10 defines", 10, 200),
          "main150": ("main", "generated, 150 defines", 150, 260),
          "main200": ("main", "generated, 200 defines", 200, 280)}
PROFILED = ["real150", "pasmid", "main150"]
CPU_GOALS = {"real150": 0.65, "pas150": 0.65, "pasmid": 0.75}  # the floor's processor time / velk's, at least
SCALE_GOAL, STARTUP_GOAL, PEAK_GOAL_KIB, OTHER_BUILD_GOAL = 1.2, 1.05, 2048, 1.05


def run(*command, cwd=WORK, capture=False, check=True):
    """Runs a command; returns its standard output if capture, else drops it."""
    return subprocess.run([str(c) for c in command], cwd=cwd, check=check, text=True,
                          stdout=subprocess.PIPE if capture else subprocess.DEVNULL).stdout


def phase(text):
    print("==", text, file=sys.stderr, flush=True)
    with open(RESULTS / "load.log", "a") as log:
        log.write(f"{time.strftime('%H:%M:%S')} {Path('/proc/loadavg').read_text().split()[0]} {text}\n")


def remove(folder, *patterns):
    for path in [path for pattern in patterns for path in folder.glob(pattern)]:
        path.unlink()


# ---- the inputs ----
def files_named(top, suffixes):
    """The regular files under top (not through links) whose names end in one of suffixes, in byte order."""
    return sorted((p for p in Path(top).rglob("*") if p.suffix in suffixes and p.is_file() and not p.is_symlink()),
                  key=bytes)


def real_inputs(names, top, suffixes):
    """Inputs of real text, made if missing: whole files in name order to REAL_MIB, byte 26 dropped, every line
    that begins with "#" moved off the first column by a blank (so that none is a directive to velk), under
    "#define WORD Rn" for each of its most frequent words; for pasmid, the most frequent of those that occur
    at most once in 5000 lines (middling frequency)."""
    if all((WORK / f"{name}.src").exists() for name in names):
        return
    parts, total = [], 0
    for path in files_named(top, suffixes):
        if total >= REAL_MIB << 20:
            break
        parts.append(path.read_bytes())
        total += len(parts[-1])
    text = re.sub(rb"(?m)^#", b" #", b"".join(parts).replace(b"\x1a", b""))
    counts = Counter(re.findall(rb"[A-Za-z_][A-Za-z0-9_]*", text))
    words, once_in_5000 = sorted(counts, key=lambda word: (-counts[word], word)), text.count(b"\n") // 5000
    for name in names:
        chosen = [word for word in words if counts[word] <= once_in_5000] if name == "pasmid" else words
        defines = b"".join(b"#define %s R%d\n" % (word, n) for n, word in enumerate(chosen[:INPUTS[name][2]], 1))
        (WORK / f"{name}.src").write_bytes(defines + text)


def make_inputs():
    phase("making the inputs")
    for defines in (10, 150, 200):  # the generated inputs, made again when their size changes
        path, stamp, settings = WORK / f"main{defines}.src", WORK / f"main{defines}.src.made", f"{MAIN_MIB} 1 {defines}"
        if not (path.exists() and stamp.exists() and stamp.read_text() == settings):
            run(CORPUS, MAIN_MIB << 20, 1, defines, path, "/dev/null")
            stamp.write_text(settings)
    real_inputs(["real10", "real150", "real200"], "/usr/include", (".h",))
    real_inputs(["pas150", "pasmid"], FPCSRC, (".pas", ".pp", ".inc"))
    for name in INPUTS:  # the slices: the first 4 MiB of each input, its last (cut) line left out
        with open(WORK / f"{name}.src", "rb") as source:
            head = source.read(4 << 20)
        (WORK / f"cut_{name}.src").write_bytes(head[:head.rfind(b"\n", 0, len(head) - 1) + 1])
    if not (SMALL / "s000.src").exists():  # 200 headers of 1.5 to 2.5 KiB; s000.src is that of the start-up figures
        SMALL.mkdir(exist_ok=True)
        small = [path for path in files_named("/usr/include", (".h",)) if 1536 <= path.stat().st_size <= 2560]
        for number, path in enumerate(small[:200]):
            (SMALL / f"s{number:03d}.src").write_bytes(path.read_bytes().replace(b"\x1a", b""))


def differing_outputs(folder, names):
    """Those of names whose NAME.PAS from velk is missing or differs from the baseline's."""
    def output(program, name):
        remove(folder, f"{name}.PAS")
        run(program, f"{name}.src", cwd=folder, check=False)
        return (folder / f"{name}.PAS").read_bytes() if (folder / f"{name}.PAS").exists() else None
    differ = [name for name in names if (ours := output(VELK, name)) is None or ours != output(BASELINE, name)]
    return differ


# ---- the measures ----
def rounds_of(group, commands, rounds, cwd, options):
    """All the commands (label -> command line) in the same rounds of hyperfine, in order on even rounds and
    in reverse order on odd ones. Returns the rounds, each label -> hyperfine's result (seconds)."""
    results = []
    for number in range(rounds):
        order = list(commands.items())[::-1 if number % 2 else 1]
        export = RESULTS / f"{group}.round{number}.json"
        with open(RESULTS / "hyperfine.log", "a") as log:
            subprocess.run(["hyperfine", "--style", "none", *options, "--export-json", export,
                            *(part for label, command in order for part in ("-n", label, command))],
                           cwd=cwd, check=True, stdout=subprocess.DEVNULL, stderr=log)
        results.append({r["command"]: r for r in json.loads(export.read_text())["results"]})
    remove(cwd, "*.PAS", "*.floor", "*.out")
    return results


def median_time(rounds, label):
    """A command's time: the median of its round medians (with an even number of rounds, the middle two's mean)."""
    return statistics.median(r[label]["median"] for r in rounds)


def ratio(rounds, a, b, cpu=False):
    """The median over the rounds of a's time / b's: wall time (round medians) or processor time (user +
    system, the round's mean), which leaves out the time a run waits for a processor or for the disk."""
    parts = ("user", "system") if cpu else ("median",)
    return statistics.median(sum(r[a][p] for p in parts) / sum(r[b][p] for p in parts) for r in rounds)


def instructions(out, *command, cwd=WORK):
    """The program's own instructions in one run under callgrind (the kernel's work is not counted)."""
    with open(RESULTS / f"callgrind/{out}.log", "w") as log:
        subprocess.run(["valgrind", "--tool=callgrind", "--cache-sim=no", "--branch-sim=no",
                        f"--callgrind-out-file={RESULTS / 'callgrind' / out}", *map(str, command)],
                       cwd=cwd, check=True, stdout=subprocess.DEVNULL, stderr=log)
    return next(int(line.split()[1]) for line in open(RESULTS / "callgrind" / out) if line.startswith("totals:"))


def profile(out):
    """Self instructions by function and by the source file each comes from (code placed inline from another
    file counts for that file), as (function, file, instructions), largest first."""
    rows = []
    for line in run("callgrind_annotate", "--inclusive=no", "--threshold=100", "--auto=no",
                    RESULTS / "callgrind" / out, capture=True).splitlines():
        match = re.match(r"\s*([\d,]+) \(\s*[\d.]+%\)\s+(.+?):(.*)$", line)
        if match and "PROGRAM TOTALS" not in line:  # velk::(anonymous namespace)::Judge(...) [clone .isra.0] -> Judge
            function = re.sub(r"^velk::|\(anonymous namespace\)::|\(.*| \[.*", "", match[3])
            rows.append((f"`{function}`", f"`{os.path.basename(match[2])}`", int(match[1].replace(",", ""))))
    return rows


def peak_kib(*command, cwd=WORK):
    """GNU time's peak resident set size of one run, in KiB."""
    result = subprocess.run(["/usr/bin/time", "-f", "%M", *map(str, command)], cwd=cwd,
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    return int(result.stderr.split()[-1])


# ---- the tables and the plot ----
def table(title, header, rows):
    """A Markdown table under a title; a column whose header ends in ":" (dropped) is right-aligned."""
    return "\n".join([title + "\n", "| " + " | ".join(h.rstrip(":") for h in header) + " |",
                      "|" + "|".join("---:" if h.endswith(":") else "---" for h in header) + "|",
                      *("| " + " | ".join(map(str, row)) + " |" for row in rows)]) + "\n"


def yes(reached):
    return "yes" if reached else "no"


def mbps(name, seconds):
    return (WORK / f"{name}.src").stat().st_size / seconds / 1e6


def report(m):
    """The tables, as Markdown, from the measures m."""
    t, ir, lines, out = m["rounds"], m["instructions"], m["lines"], []
    builds = (["baseline"] if BASELINE else []) + list(OTHER_BUILDS)  # the baseline a line, the others / velk
    rows = []
    for n, (g, d, _, goal) in INPUTS.items():
        velk = ir["velk", n] / lines[n]
        rows.append([d, lines[n], f"{velk:.0f}", goal, yes(velk <= goal), f"{ir['floor', n] / lines[n]:.0f}",
                     f"{ir['velk', n] / ir['floor', n]:.2f}", *(f"{ir[b, n] / lines[n]:.0f}" if b == "baseline" else
                                                               f"{ir[b, n] / ir['velk', n]:.3f}" for b in builds)])
    out.append(table(f"### Instructions a line (velk at {m['commit']}, {time.strftime('%Y-%m-%d %H:%M', time.gmtime())}"
                     " UTC; callgrind, one run on the first 4 MiB of each input, cut at a line end)",
                     ["input", "lines:", "velk:", "goal:", "reached", "floor:", "velk / floor:", *(
                         "baseline:" if b == "baseline" else f"{b} build / bench build (≤ {OTHER_BUILD_GOAL}):"
                         for b in builds)], rows))
    rows = []
    for n, (g, d, _, _) in INPUTS.items():
        cpu, goal = ratio(t[g], f"floor/{n}", f"velk/{n}", cpu=True), CPU_GOALS.get(n)
        rows.append([d, (WORK / f"{n}.src").stat().st_size >> 20, *(f"{mbps(n, median_time(t[g], f'{p}/{n}')):.0f}"
                     for p in ("velk", "floor")), f"{cpu:.2f}", f"≥ {goal}" if goal else "",
                     yes(cpu >= goal) if goal else "", f"{ratio(t[g], f'floor/{n}', f'velk/{n}'):.2f}", m["peak"][n]])
    out.append(table(f"### Time against the floor ({ROUNDS} rounds of 3 runs, medians; a group's inputs in the same "
                     "rounds) and peak memory", ["input", "MiB:", "velk MB/s:", "floor MB/s:", "processor time, floor "
                     "/ velk:", "goal:", "reached", "wall time, floor / velk:", "velk's peak memory (KiB):"], rows))
    rows = []
    for g, what in (("real", "C headers"), ("main", "generated")):
        scale = ratio(t[g], f"velk/{g}200", f"velk/{g}10", cpu=True)
        rows.append([f"processor time, velk with 200 defines / with 10 ≤ {SCALE_GOAL} (wall time)", what,
                     f"{scale:.2f} ({ratio(t[g], f'velk/{g}200', f'velk/{g}10'):.2f})", yes(scale <= SCALE_GOAL)])
    single, startup = t["single"], ratio(t["single"], "velk", "floor")
    rows.append([f"start-up, velk / floor ≤ {STARTUP_GOAL} (processor time; median ms; instructions)",
                 f"one {(SMALL / 's000.src').stat().st_size}-byte header, {STARTUP_ROUNDS} rounds of 100 runs",
                 f"{startup:.2f} ({ratio(single, 'velk', 'floor', cpu=True):.2f}; " + " / ".join(
                     f"{1000 * median_time(single, p):.3f}" for p in ("velk", "floor")) + " ms; " +
                 f"{ir['velk', 'header']} / {ir['floor', 'header']})", yes(startup <= STARTUP_GOAL)])
    peak = max(m["peak"].values())
    rows.append([f"peak memory ≤ {PEAK_GOAL_KIB} KiB (GNU time)", "every input", f"{peak} KiB",
                 yes(peak <= PEAK_GOAL_KIB)])
    rows.append(["every output identical to the baseline's", BASELINE or "(VELK_BASELINE not set)", "",
                 "not compared" if not BASELINE else f"no: {', '.join(m['differ'])}" if m["differ"] else
                 f"yes, all {m['compared']} outputs"])
    out.append(table("### The other goals", ["goal", "inputs", "figure:", "reached"], rows))
    for n in PROFILED:  # the 14 largest rows, the others together, the total
        rows, total = m["profile"][n], sum(count for *_, count in m["profile"][n])
        rows = rows[:14] + [("all others", "", sum(count for *_, count in rows[14:])), ("total", "", total)]
        out.append(table(f"Where velk's instructions go, {INPUTS[n][1]} (each function's own instructions, without "
                         f"those of the functions it calls, by the source file they come from{m['profile_note']}):",
                         ["function", "source file", "instructions a line:", "share:"],
                         [[f, file, f"{count / lines[n]:.1f}", f"{100 * count / total:.1f} %"]
                          for f, file, count in rows]))
    cpu = next((line.split(":", 1)[1].strip() for line in open("/proc/cpuinfo") if line.startswith("model name")), "")
    tools = "; ".join(run(tool, "--version", capture=True).splitlines()[0] for tool in ("c++", "hyperfine", "valgrind"))
    loads = ", ".join(line.split()[1] for line in open(RESULTS / "load.log"))
    out.append(f"Machine: {cpu}, {os.cpu_count()} cores; {os.uname().sysname} {os.uname().release}; {tools}. Load "
               f"average at the start of each phase: {loads}. The run took {m['seconds'] // 60} min "
               f"{m['seconds'] % 60} s{' (quick mode)' if QUICK else ''}.\n")
    return "\n".join(out)


def plot(t, path):
    """Throughput against the defines: velk in full colour, the floor in the same colour with open marks,
    the key below the plot."""
    def rate(program, n):
        return mbps(n, median_time(t[INPUTS[n][0]], f"{program}/{n}"))
    data = "".join(f"${g} << EOD\n" + "".join(f"{d} {rate('velk', n)} {rate('floor', n)}\n"
                                              for n, (group, _, d, _) in INPUTS.items() if group == g) + "EOD\n"
                   for g in ("main", "real", "pas"))
    subprocess.run(["gnuplot"], text=True, check=True, input=data + f"""
set terminal pngcairo size 900,600 font ",11"; set output "{path}"
set title "Throughput, MB/s of input (medians): {MAIN_MIB} MiB generated, {REAL_MIB} MiB C headers and Pascal"
set xlabel "defines"; set ylabel "MB/s"; set grid; set yrange [0:*]; set xrange [0:210]; set xtics (10, 150, 200)
set key outside below center vertical maxrows 2 Left reverse samplen 2 width -5 spacing 1.3
plot $main using 1:2 with linespoints lw 2 lc 1 pt 7 title "velk, generated", \\
     $main using 1:3 with linespoints lc 1 pt 6 title "floor, generated", \\
     $real using 1:2 with linespoints lw 2 lc 2 pt 5 dt 2 title "velk, C headers", \\
     $real using 1:3 with linespoints lc 2 pt 4 dt 2 title "floor, C headers", \\
     $pas every ::0::0 using 1:2 with points lc 3 pt 9 ps 1.5 title "velk, Pascal top 150", \\
     $pas every ::0::0 using 1:3 with points lc 3 pt 8 ps 1.5 title "floor, Pascal", \\
     $pas every ::1::1 using 1:2 with points lc 4 pt 11 ps 1.5 title "velk, Pascal middling"
""")


def main():
    started, m = time.time(), defaultdict(dict, differ=[])
    if not os.path.isdir(FPCSRC):
        sys.exit(f"run.py needs {FPCSRC} (apt-get install fpc-source-3.2.2) and the tools bench/README.md names")
    for folder in (WORK, RESULTS / "callgrind"):
        folder.mkdir(parents=True, exist_ok=True)
    remove(RESULTS, "*.json", "load.log", "hyperfine.log", "callgrind/*")
    phase(f"building a Release velk in {BUILD}, and the same with -g in {BUILD / 'profile'}")
    for folder, flags in ((BUILD, []), (BUILD / "profile", ["-DCMAKE_CXX_FLAGS_RELEASE=-O3 -DNDEBUG -g"])):
        run("cmake", "-S", ROOT, "-B", folder, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release", "-DBUILD_TESTING=OFF",
            *flags)
        run("cmake", "--build", folder, "--target", "velk", *([] if flags else ["velk_corpus", "velk_line_copy"]))
    m["commit"] = run("git", "-C", ROOT, "rev-parse", "--short", "HEAD", capture=True).strip()
    if subprocess.run(["git", "-C", ROOT, "diff", "--quiet", "HEAD", "--", "src"]).returncode:
        m["commit"] += " with changes in src/"
    make_inputs()
    if BASELINE:
        phase(f"comparing every output with {BASELINE}")
        small = sorted(path.stem for path in SMALL.glob("s*.src"))
        m["differ"] = differing_outputs(WORK, [*INPUTS, *(f"cut_{n}" for n in INPUTS)])
        m["differ"] += differing_outputs(SMALL, small)
        m["compared"] = 2 * len(INPUTS) + len(small)

    phase("timing start-up")
    t = m["rounds"]
    t["single"] = rounds_of("single", {"velk": f"{VELK} s000.src", "floor": f"{FLOOR} s000.src s000.out"},
                            STARTUP_ROUNDS, SMALL, ["-N", "--warmup", "3", "--runs", "100",
                                                    "--prepare", "find . ( -name *.PAS -o -name *.out ) -delete"])
    for g in ("main", "real", "pas"):
        names = [n for n, (group, *_) in INPUTS.items() if group == g]
        phase(f"timing {', '.join(names)}")
        # Every run starts with no output in place: on ext4, emptying the file that the run before wrote
        # waits until its old contents are written out.
        t[g] = rounds_of(g, {f"{p}/{n}": c for n in names for p, c in
                             (("velk", f"{VELK} {n}.src"), ("floor", f"{FLOOR} {n}.src {n}.floor"))}, ROUNDS, WORK,
                         ["--shell", "bash", "--warmup", "1", "--runs", "3", "--prepare", "rm -f ./*.PAS ./*.floor"])

    phase("counting instructions (callgrind) and peak memory (GNU time)")
    ir = m["instructions"]  # (program, input) -> instructions
    for n in INPUTS:
        cut = f"cut_{n}.src"
        m["lines"][n] = (WORK / cut).read_bytes().count(b"\n")
        ir["velk", n] = instructions(f"velk.{n}", VELK, cut)
        ir["floor", n] = instructions(f"floor.{n}", FLOOR, cut, f"cut_{n}.floor")
        for b, path in (({"baseline": BASELINE} if BASELINE else {}) | OTHER_BUILDS).items():
            ir[b, n] = instructions(f"{b}.{n}", os.path.realpath(path), cut)
        if n in PROFILED:
            instructions(f"profiled.{n}", PROFILED_VELK, cut)
            m["profile"][n] = profile(f"profiled.{n}")
        m["peak"][n] = peak_kib(VELK, f"{n}.src")
    codes = {subprocess.run(["objcopy", "-O", "binary", "-j", ".text", program, "/dev/stdout"], check=True,
                            capture_output=True).stdout for program in (VELK, PROFILED_VELK)}
    m["profile_note"] = "" if len(codes) == 1 else "; CAUTION: the code of the -g build differs from the measured one"
    ir["velk", "header"] = instructions("velk.header", VELK, "s000.src", cwd=SMALL)
    ir["floor", "header"] = instructions("floor.header", FLOOR, "s000.src", "s000.out", cwd=SMALL)
    remove(SMALL, "*.PAS", "*.out")
    remove(WORK, "*.PAS", "*.floor")

    m["seconds"] = int(time.time() - started)
    text = report(m)
    (RESULTS / "table.md").write_text(text)
    print(text)
    plot(t, RESULTS / "throughput.png")
    print(f"== done: {RESULTS}/table.md and {RESULTS}/throughput.png", file=sys.stderr)


if __name__ == "__main__":
    main()
