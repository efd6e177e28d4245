#!/usr/bin/env python3
"""Benchmark of vormant's targets, on the plot files of bench/run.py.

1. Per shape, in one process and in interleaved rounds: `numpy.asarray(vormant.read(...).values)`
   against the fastest numpy-only reader giving an array (numpy-strided's float32 array) and the
   reading of the file's bytes; vormant's values checked bit for bit against the exact binary32
   of every field and its array checked to share the plot's memory.
2. The peak memory of one vormant.read in a fresh process, against 1.25 x its result + 1 MB.
3. vormant.read_many on eight files of about 20 MB, with one worker thread and with two.

    python3 bench/vormant_bench.py              # the four shapes, 5 rounds
    python3 bench/vormant_bench.py --quick      # smaller files, 3 rounds
    python3 bench/vormant_bench.py --output bench/vormant-results.md

The modules come from --module-dir, else $TARNEX_MODULE_DIR, else they are built with
tools/build-module.sh into build/bench-module; vormant's Python sources are joined with its
native part as the tests do it. Nothing here is a test: no time is ever judged.
"""

from __future__ import annotations

import argparse
import functools
import gc
import json
import subprocess
import sys
import time
from pathlib import Path

import numpy as np

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent
sys.path.insert(0, str(HERE))
sys.path.insert(1, str(ROOT / "tests" / "python"))

import peer_strided  # noqa: E402
import plotfiles  # noqa: E402
import run as tarnex_bench  # noqa: E402
import vormant_path  # noqa: E402

PEER = "numpy-strided array"
NS_PER_VALUE_TARGET = 4.0
SPEED_UP_TARGET = 7.0
MEMORY_FACTOR = 1.25
MEMORY_ALLOWANCE = 1_000_000  # bytes: 1 MB beside the result's 1.25 times
MANY_FILES = 8
MANY_SHAPE = (100, 16000, 12)  # about 20 MB a file
QUICK_MANY_SHAPE = (100, 1600, 12)
MANY_SPEED_UP_TARGET = 1.5


def load_vormant(module_dir: str | None):
    """vormant from the built folder (built first if none is named) and that folder."""
    built = Path(tarnex_bench.load_tarnex(module_dir).__file__).parent
    sys.path.insert(0, vormant_path.package_parent(built))
    import vormant

    return vormant, str(built)


def read_as_array(vormant, path: str, n_digits: int) -> np.ndarray:
    return np.asarray(vormant.read(path, n_digits).values)


# ------------------------------------------------------------------------------------------------
# Checks


def check_vormant(vormant, path: str, n_digits: int, reference: np.ndarray) -> None:
    """Every value the exact binary32 of its field, in an array that is the plot's own memory."""
    plot = vormant.read(path, n_digits)
    values = np.asarray(plot.values)
    if not np.shares_memory(values, plot.values):
        raise SystemExit("numpy.asarray copied vormant's values")
    if values.dtype != np.float32 or not np.array_equal(values.view(np.uint32),
                                                        reference.T.view(np.uint32)):
        raise SystemExit(f"vormant differs from the exact binary32 values of {path}")


def peer_differences(values: np.ndarray, reference: np.ndarray) -> int:
    """The peer's values that are one unit off (more is an error), counted by run.py's check."""
    return tarnex_bench.count_differences((values[:, 0], list(values[:, 1:].T)), reference)


# ------------------------------------------------------------------------------------------------
# Timing


def benchmark_shape(shape, args, vormant) -> dict:
    parameters, steps, width = shape
    path = plotfiles.ensure_plot_file(Path(args.files_dir), parameters, steps, width)
    reference = plotfiles.reference_values(path, width, parameters)
    path_text = str(path)
    check_vormant(vormant, path_text, width, reference)
    runs = {
        "read bytes": functools.partial(tarnex_bench.read_bytes, path_text),
        "vormant": functools.partial(read_as_array, vormant, path_text, width),
        PEER: functools.partial(peer_strided.read_numpy_strided_array, path_text, width),
    }
    best = dict.fromkeys(runs, float("inf"))
    differences = 0
    for round_index in range(args.rounds):
        order = list(runs)
        order = order[round_index % len(order):] + order[:round_index % len(order)]
        for name in order:
            elapsed, result = tarnex_bench.timed(runs[name])
            best[name] = min(best[name], elapsed)
            if round_index == 0 and name == PEER:
                differences = peer_differences(result, reference)
            del result
        print(f"  {shape}: round {round_index + 1} of {args.rounds}", file=sys.stderr)
    row = {"shape": shape, "bytes": path.stat().st_size, "differences": differences,
           "ns": {name: ns / (parameters * steps) for name, ns in best.items()}}
    if not args.no_memory:
        row["memory"] = measure_memory(path_text, width, args.module_dir)
    return row


def benchmark_many(args, vormant) -> dict:
    """read_many of eight files (as many step counts, so as many files) on one and two threads."""
    parameters, steps, width = QUICK_MANY_SHAPE if args.quick else MANY_SHAPE
    paths = [str(plotfiles.ensure_plot_file(Path(args.files_dir), parameters, steps + i, width))
             for i in range(MANY_FILES)]
    best = {1: (float("inf"), 0), 2: (float("inf"), 0)}  # (wall, processor time) in ns
    for round_index in range(args.rounds):
        for workers in (1, 2) if round_index % 2 == 0 else (2, 1):
            read = functools.partial(vormant.read_many, workers=workers)
            gc.collect()
            processor = time.process_time_ns()
            elapsed, plots = tarnex_bench.timed(read, paths, width)
            processor = time.process_time_ns() - processor
            if [plot.values.shape for plot in plots] != [(steps + i, parameters)
                                                         for i in range(MANY_FILES)]:
                raise SystemExit("read_many returned plots of other shapes")
            del plots
            best[workers] = min(best[workers], (elapsed, processor))
        print(f"  read_many: round {round_index + 1} of {args.rounds}", file=sys.stderr)
    total = sum(Path(path).stat().st_size for path in paths)
    return {"shape": (parameters, steps, width), "bytes": total, "ns": best}


# ------------------------------------------------------------------------------------------------
# Memory, in a fresh process


def probe_memory(path: str, n_digits: int, module_dir: str) -> None:
    vormant, _ = load_vormant(module_dir)
    before = tarnex_bench.restart_peak()
    plot = vormant.read(path, n_digits)
    peak = tarnex_bench.resident_kib("VmHWM")
    print(json.dumps({"peak_bytes": (peak - before) * 1024, "result_bytes": plot.values.nbytes}))


def measure_memory(path: str, n_digits: int, module_dir: str) -> dict:
    output = subprocess.run(
        [sys.executable, str(Path(__file__).resolve()), "--probe", path, str(n_digits),
         "--module-dir", module_dir], check=True, capture_output=True, text=True)
    return json.loads(output.stdout)


# ------------------------------------------------------------------------------------------------
# The tables


def table(head: list[str], rows: list[list[str]]) -> list[str]:
    return (["| " + " | ".join(head) + " |", "|" + "---|" * len(head)] +
            ["| " + " | ".join(cells) + " |" for cells in rows])


def shape_name(row: dict) -> str:
    p, t, n = row["shape"]
    return f"P={p}, T={t}, n={n} ({row['bytes'] / 1e6:.0f} MB)"


def yes_no(met: bool) -> str:
    return "yes" if met else "**no**"


def format_speed(rows: list[dict]) -> list[str]:
    cells = []
    for row in rows:
        ns = row["ns"]
        ratio = ns[PEER] / ns["vormant"]
        met = ns["vormant"] <= NS_PER_VALUE_TARGET and ratio >= SPEED_UP_TARGET
        cells.append([shape_name(row), f"{ns['read bytes']:.2f}", f"**{ns['vormant']:.2f}**",
                      f"{ns[PEER]:.1f}", f"{ratio:.1f}", f"{ns['vormant'] / ns['read bytes']:.2f}",
                      yes_no(met)])
    head = ["file (P, T, n_digits)", "read bytes", "vormant + asarray", PEER,
            f"{PEER} / vormant", "vormant / read bytes",
            f"≤ {NS_PER_VALUE_TARGET:g} ns and ≥ {SPEED_UP_TARGET:g}×"]
    return table(head, cells) + [
        "", "Nanoseconds per value, the minimum over interleaved rounds in one process. "
        "vormant: every value bit for bit the exact binary32, the array sharing the plot's "
        f"memory. {PEER} values one unit off (double rounding): "
        f"{sum(row['differences'] for row in rows)}."]


def format_memory(rows: list[dict]) -> list[str]:
    cells = []
    for row in rows:
        memory = row["memory"]
        result, peak = memory["result_bytes"], memory["peak_bytes"]
        bound = MEMORY_FACTOR * result + MEMORY_ALLOWANCE
        cells.append([shape_name(row), f"{result / (1 << 20):.2f}", f"{bound / (1 << 20):.2f}",
                      f"**{peak / (1 << 20):.2f}**", f"{peak / result:.2f}",
                      yes_no(peak <= bound)])
    head = ["file", "result (MiB)", f"bound {MEMORY_FACTOR:g} × result + 1 MB (MiB)",
            "vormant.read peak (MiB)", "peak / result", "within bound"]
    return table(head, cells) + [
        "", "Peak resident memory of one read in a fresh process (VmHWM, restarted through "
        "/proc/self/clear_refs) above what the process held before it; result: 4 bytes a value."]


def format_many(many: dict) -> list[str]:
    (one, _), (two, two_processor) = many["ns"][1], many["ns"][2]
    p, t, n = many["shape"]
    name = (f"{MANY_FILES} files, P={p}, T={t} to {t + MANY_FILES - 1}, n={n} "
            f"({many['bytes'] / 1e6:.0f} MB)")
    cells = [[name, f"{one / 1e6:.0f}", f"{two / 1e6:.0f}", f"**{one / two:.2f}**",
              yes_no(one / two >= MANY_SPEED_UP_TARGET), f"{two_processor / two:.2f}"]]
    head = ["read_many", "workers=1 (ms)", "workers=2 (ms)", "speed-up",
            f"≥ {MANY_SPEED_UP_TARGET:g}×", "workers=2: processor / wall"]
    return table(head, cells) + [
        "", "The minimum over rounds, the two pool sizes in turn. processor / wall: the process's "
        "processor time over the wall time of that fastest two-thread round, the cores the reads "
        "had on average (about 2 when both were free; about 1 when another job holds one)."]


def main() -> None:
    parser = tarnex_bench.common_parser(__doc__)
    parser.add_argument("--probe", nargs=2, metavar=("PATH", "N_DIGITS"), help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.probe:
        probe_memory(args.probe[0], int(args.probe[1]), args.module_dir)
        return
    args.rounds = args.rounds or (3 if args.quick else 5)
    vormant, args.module_dir = load_vormant(args.module_dir)
    shapes = tarnex_bench.QUICK_SHAPES if args.quick else tarnex_bench.FULL_SHAPES
    rows = [benchmark_shape(shape, args, vormant) for shape in shapes]
    lines = format_speed(rows)
    if not args.no_memory:
        lines += [""] + format_memory(rows)
    lines += [""] + format_many(benchmark_many(args, vormant))
    text = "\n".join(lines) + "\n"
    print(text)
    if args.output:
        Path(args.output).write_text(text)


if __name__ == "__main__":
    main()
