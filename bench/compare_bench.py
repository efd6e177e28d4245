#!/usr/bin/env python3
"""Benchmark of comparing two runs, side by side in one run of this script.

1. `vormant diff --rtol 1e-5` against Debian's `numdiff -r 1e-5` on two copies of the benchmark
   file with a few values changed beyond tolerance; vormant must find every one.
2. `vormant.compare` against `vormant.read(threads=1)` of one of the files.
3. align="time" against align="steps" on a pair whose time grids differ.
4. The peak memory of one comparison in a fresh process, over the interpreter's own.

    python3 bench/compare_bench.py            # the 250 MB file (P=100, 200 000 steps)
    python3 bench/compare_bench.py --quick    # 20 000 steps

numdiff is installed with tools/install-deps.sh when missing. Nothing here is a test: the
figures are printed, never judged.
"""

from __future__ import annotations

import argparse
import json
import random
import subprocess
import sys
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent
sys.path.insert(0, str(HERE))
sys.path.insert(1, str(ROOT / "tests" / "python"))

import plotfiles  # noqa: E402
import vormant_path  # noqa: E402

PARAMETERS = 100
STEPS, QUICK_STEPS = 200_000, 20_000
PLANTED = 5
WIDTH = 12
FIELDS_PER_LINE = 10
ROUNDS = 3


def plant(source: Path, target: Path, seed: int) -> list[tuple[int, str]]:
    """A copy of `source` with PLANTED fields changed tenfold; their (step, parameter name)."""
    lines = source.read_text(encoding="ascii").splitlines(keepends=True)
    names = [line.strip() for line in lines[1:1 + PARAMETERS]]
    per_step = 1 + -(-PARAMETERS // FIELDS_PER_LINE)
    steps = (len(lines) - 1 - PARAMETERS) // per_step
    rng = random.Random(seed)
    planted = []
    for step in sorted(rng.sample(range(steps), PLANTED)):
        parameter = rng.randrange(1, PARAMETERS)
        index = 1 + PARAMETERS + step * per_step + 1 + parameter // FIELDS_PER_LINE
        at = (parameter % FIELDS_PER_LINE) * WIDTH
        line = lines[index]
        value = float(line[at:at + WIDTH]) * 10 + 1
        lines[index] = line[:at] + f"{value:{WIDTH}.5E}" + line[at + WIDTH:]
        planted.append((step, names[parameter]))
    target.write_text("".join(lines), encoding="ascii")
    return planted


def shifted_grid(source: Path, target: Path) -> None:
    """`source` with every time moved by a third of a step: another time grid."""
    lines = source.read_text(encoding="ascii").splitlines(keepends=True)
    per_step = 1 + -(-PARAMETERS // FIELDS_PER_LINE)
    for index in range(2 + PARAMETERS, len(lines), per_step):
        line = lines[index]
        lines[index] = f"{float(line[:WIDTH]) + 1e-3 / 3:{WIDTH}.5E}" + line[WIDTH:]
    target.write_text("".join(lines), encoding="ascii")


def best(function, rounds: int = ROUNDS) -> tuple[float, object]:
    times, result = [], None
    for _ in range(rounds):
        start = time.perf_counter()
        result = function()
        times.append(time.perf_counter() - start)
    return min(times), result


def timed_command(command: list[str]) -> tuple[float, subprocess.CompletedProcess[str]]:
    start = time.perf_counter()
    done = subprocess.run(command, capture_output=True, text=True, check=False)
    return time.perf_counter() - start, done


def peak_memory(package: str, reference: Path, candidate: Path) -> tuple[int, int]:
    """(peak resident bytes of an interpreter that imported vormant, of one that also compared)."""
    # VmHWM starts again at exec; ru_maxrss would keep the forking process's peak.
    code = ("import re, sys; sys.path.insert(0, sys.argv[1]); import vormant; "
            "sys.argv[2:] and vormant.compare(sys.argv[2], sys.argv[3], rtol=1e-5); "
            "status = open('/proc/self/status').read(); "
            "print(int(re.search(r'VmHWM:\\s+(\\d+) kB', status).group(1)) * 1024)")
    peaks = []
    for files in ([], [str(reference), str(candidate)]):
        done = subprocess.run([sys.executable, "-c", code, package, *files], capture_output=True,
                              text=True, check=True)
        peaks.append(int(done.stdout))
    return peaks[0], peaks[1]


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help=f"{QUICK_STEPS} steps")
    parser.add_argument("--files-dir", default=str(ROOT / "build" / "bench-files"))
    parser.add_argument("--module-dir", default=str(ROOT / "build" / "py-3.11"))
    args = parser.parse_args()
    subprocess.run([str(ROOT / "tools" / "install-deps.sh"), "numdiff"], check=True)
    package = vormant_path.package_parent(args.module_dir)
    sys.path.insert(0, package)
    import vormant

    steps = QUICK_STEPS if args.quick else STEPS
    folder = Path(args.files_dir)
    reference = plotfiles.ensure_plot_file(folder, PARAMETERS, steps, WIDTH)
    candidate = folder / f"planted-{reference.name}"
    planted = plant(reference, candidate, seed=steps)
    shifted = folder / f"shifted-{reference.name}"
    shifted_grid(reference, shifted)
    size = reference.stat().st_size / 1e6
    print(f"files: {size:.0f} MB each, {PARAMETERS} parameters, {steps} steps; "
          f"{PLANTED} values planted")

    diff = [sys.executable, "-c", f"import sys; sys.path.insert(0, {package!r}); "
            "from vormant.cli import main; sys.exit(main(sys.argv[1:]))"]
    vormant_time, done = timed_command([*diff, "diff", "--rtol", "1e-5", "--json",
                                        str(reference), str(candidate)])

    report = json.loads(done.stdout)
    found = {(column["first_step"], column["name"]) for column in report["columns"]
             if column["failures"]}
    numdiff_time, numdiff_done = timed_command(["numdiff", "-q", "-r", "1e-5", str(reference),
                                                str(candidate)])
    print(f"vormant diff: {vormant_time:8.2f} s, exit {done.returncode}, found "
          f"{len(found & set(planted))} of {PLANTED} planted (all: {found == set(planted)})")
    print(f"numdiff -r:   {numdiff_time:8.2f} s, exit {numdiff_done.returncode}; "
          f"vormant takes 1/{numdiff_time / vormant_time:.0f} of its time")

    read_time, _ = best(lambda: vormant.read(str(reference), threads=1))
    compare_time, _ = best(lambda: vormant.compare(str(reference), str(candidate), rtol=1e-5))
    print(f"vormant.read(threads=1): {read_time:6.3f} s; vormant.compare: {compare_time:6.3f} s "
          f"= {compare_time / read_time:.2f} x the read")

    steps_time, _ = best(lambda: vormant.compare(str(reference), str(shifted), rtol=1e-5))
    time_time, _ = best(lambda: vormant.compare(str(reference), str(shifted), rtol=1e-5,
                                                 align="time"))
    print(f"align='steps': {steps_time:6.3f} s; align='time': {time_time:6.3f} s "
          f"= {time_time / steps_time:.2f} x")

    bare, comparing = peak_memory(package, reference, candidate)
    print(f"peak memory: interpreter {bare / 1e6:.0f} MB, comparing {comparing / 1e6:.0f} MB: "
          f"{(comparing - bare) / 1e6:.0f} MB over the interpreter's")


if __name__ == "__main__":
    main()
