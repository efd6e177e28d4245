#!/usr/bin/env python3
"""The reader at each vector level, side by side: read bytes, vormant.read on one and two
threads, tarnex and its floor, in nanoseconds per value on the plot files of bench/run.py.

Each level is a module built with the test-only option that holds the kernel, and the chunk
scan with it, to it (TARNEX_FORCE_SIMD_LEVEL); the levels run in turn in fresh processes, round
after round, and every figure is the minimum over the rounds.

    python3 bench/levels_bench.py                    # the four shapes, 5 rounds
    python3 bench/levels_bench.py --quick            # smaller files, 3 rounds
    python3 bench/levels_bench.py --levels avx2 avx512

Modules come from build/bench-simd-LEVEL-VERSION, built there with tools/build-module.sh when
missing.
Nothing here is a test: no time is ever judged.
"""

from __future__ import annotations

import argparse
import json
from array import array
import subprocess
import sys
from pathlib import Path

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent
sys.path.insert(0, str(HERE))
sys.path.insert(1, str(ROOT / "tests" / "python"))

import plotfiles  # noqa: E402
import run as tarnex_bench  # noqa: E402

LEVELS = ["portable", "sse41", "avx2", "avx512"]
FIGURES = ["read bytes", "vormant 1", "vormant 2", "tarnex", "floor"]


def module_dir(level: str) -> Path:
    built = ROOT / "build" / f"bench-simd-{level}-{sys.version_info[0]}.{sys.version_info[1]}"
    if not any(built.glob("tarnex*.so")):
        subprocess.run([str(ROOT / "tools" / "build-module.sh"), sys.executable, str(built),
                        f"-DTARNEX_FORCE_SIMD_LEVEL={level}"], check=True,
                       stdout=subprocess.DEVNULL)
    return built


def measure(directory: str, shapes: list, files_dir: str) -> dict:
    """One round in this process: the best of three of each figure, per shape."""
    import numpy as np
    from vormant_bench import load_vormant

    vormant, _ = load_vormant(directory)
    import tarnex

    result = {}
    for parameters, steps, width in shapes:
        path = str(plotfiles.ensure_plot_file(Path(files_dir), parameters, steps, width))
        reference = plotfiles.reference_values(Path(path), width, parameters)
        rows_f32 = np.ascontiguousarray(reference)
        rows_arrays = [array("f", row.tobytes()) for row in reference]
        values = parameters * steps
        best = dict.fromkeys(FIGURES + ["build lists"], float("inf"))
        for _ in range(3):
            for name, call in (
                    ("read bytes", lambda: tarnex_bench.read_bytes(path)),
                    ("build lists", lambda: tarnex_bench.build_lists(rows_f32)),
                    ("build lists", lambda: tarnex_bench.build_lists_from_arrays(rows_arrays)),
                    ("vormant 1", lambda: vormant.read(path, width, threads=1)),
                    ("vormant 2", lambda: vormant.read(path, width, threads=2)),
                    ("tarnex", lambda: tarnex.rust_read_vormant(path, width))):
                elapsed, made = tarnex_bench.timed(call)
                del made
                best[name] = min(best[name], elapsed)
        best["floor"] = best["read bytes"] + best.pop("build lists")
        result[str((parameters, steps, width))] = {k: v / values for k, v in best.items()}
    return result


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="smaller files, 3 rounds")
    parser.add_argument("--rounds", type=int)
    parser.add_argument("--levels", nargs="+", choices=LEVELS, default=LEVELS)
    parser.add_argument("--files-dir", default=str(ROOT / "build" / "bench-files"))
    parser.add_argument("--one", help=argparse.SUPPRESS)  # a module folder: one round, as JSON
    args = parser.parse_args()
    shapes = tarnex_bench.QUICK_SHAPES if args.quick else tarnex_bench.FULL_SHAPES
    if args.one:
        print(json.dumps(measure(args.one, shapes, args.files_dir)))
        return
    rounds = args.rounds or (3 if args.quick else 5)
    dirs = {level: str(module_dir(level)) for level in args.levels}
    best: dict = {}
    for round_index in range(rounds):
        for level, directory in dirs.items():
            command = [sys.executable, __file__, "--one", directory, "--files-dir", args.files_dir]
            if args.quick:
                command.append("--quick")
            figures = json.loads(subprocess.run(command, check=True, capture_output=True,
                                                text=True).stdout)
            for shape, row in figures.items():
                mine = best.setdefault((level, shape), row)
                for name, ns in row.items():
                    mine[name] = min(mine[name], ns)
        print(f"round {round_index + 1} of {rounds}", file=sys.stderr)
    head = ["level", "file (P, T, n)"] + FIGURES + ["vormant 1 / read bytes",
                                                     "tarnex / floor"]
    print("| " + " | ".join(head) + " |")
    print("|" + "---|" * len(head))
    for (level, shape), row in best.items():
        cells = [level, shape] + [f"{row[name]:.2f}" for name in FIGURES]
        cells += [f"{row['vormant 1'] / row['read bytes']:.2f}",
                  f"{row['tarnex'] / row['floor']:.2f}"]
        print("| " + " | ".join(cells) + " |")
    print("\nNanoseconds per value, the minimum over rounds; floor: reading the bytes plus "
          "building tarnex's lists from binary32 arrays.")


if __name__ == "__main__":
    main()
