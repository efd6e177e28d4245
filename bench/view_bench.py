"""Looking at a run: the envelope of three parameters against reading them, the envelope of a
hundredth of an open file's steps against the whole file's, and `vormant plot` against reading
what it draws, side by side in one run (the median of interleaved rounds).

    python3 bench/view_bench.py                  # the 250 MB file: P=100, 200 000 steps
    python3 bench/view_bench.py --quick          # a tenth of it
"""

from __future__ import annotations

import statistics
import subprocess
import sys
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import plotfiles  # noqa: E402
import run as tarnex_bench  # noqa: E402
from vormant_bench import load_vormant  # noqa: E402

SHAPE = (100, 200_000, 12)
QUICK_SHAPE = (100, 20_000, 12)
COLUMNS = ["PRES-0004", "FLOW-0050", "TEMP-0090"]
GROUPS = 2000
TARGETS = {"envelope": 1.2, "hundredth": 0.02, "plot": 2.0}
# A child that times importing matplotlib apart from the rest of `vormant plot`.
PLOT_CHILD = """
import sys, time
sys.path.insert(0, sys.argv[1])
start = time.perf_counter()
from vormant import _plotting, cli
_plotting._pyplot()
imported = time.perf_counter()
cli.main(sys.argv[2:])
print(imported - start, time.perf_counter() - imported)
"""


def timed(work) -> float:
    start = time.perf_counter()
    work()
    return time.perf_counter() - start


def plot_beyond_import(package: str, path: str, columns: list[str], out: str) -> float:
    options = [word for name in columns for word in ("-p", name)]
    result = subprocess.run([sys.executable, "-c", PLOT_CHILD, package, "plot", path, *options,
                             "-o", out], capture_output=True, text=True, check=True)
    return float(result.stdout.split()[-1])


def columns_of(vormant, path: str) -> list[str]:
    """The benchmark's three parameters, or the 4th, 50th and 90th where they are named
    otherwise."""
    names = vormant.open(path).names
    found = [name for name in COLUMNS if any(line.split()[:1] == [name] for line in names)]
    return found if len(found) == 3 else [names[4], names[50], names[90]]


def main() -> None:
    parser = tarnex_bench.common_parser(__doc__)
    args = parser.parse_args()
    rounds = args.rounds or (3 if args.quick else 5)
    vormant, built = load_vormant(args.module_dir)
    package = str(Path(vormant.__file__).parent.parent)  # the sources and the module
    parameters, steps, width = QUICK_SHAPE if args.quick else SHAPE
    path = str(plotfiles.ensure_plot_file(Path(args.files_dir), parameters, steps, width))
    columns = columns_of(vormant, path)
    out = str(HERE.parent / "build" / "view-bench.png")
    times: dict[str, list[float]] = {key: [] for key in
                                     ("read", "envelope", "whole", "hundredth", "plot")}
    hundredth = slice(steps // 2, steps // 2 + steps // 100)
    with vormant.open(path) as plot_file:
        for _ in range(rounds):
            times["read"].append(timed(lambda: vormant.read(path, columns=columns)))
            times["envelope"].append(timed(
                lambda: vormant.envelope(path, columns=columns, buckets=GROUPS)))
            times["whole"].append(timed(lambda: plot_file.envelope(columns, buckets=GROUPS)))
            times["hundredth"].append(timed(
                lambda: plot_file.envelope(columns, hundredth, buckets=GROUPS)))
            times["plot"].append(plot_beyond_import(package, path, columns, out))
    median = {key: statistics.median(values) for key, values in times.items()}
    rows = [
        ("envelope(path), 3 parameters, 2000 groups", "read(path, 3 columns)",
         median["envelope"], median["read"], TARGETS["envelope"]),
        ("open file: envelope of 1 % of the steps", "open file: envelope of all",
         median["hundredth"], median["whole"], TARGETS["hundredth"]),
        ("vormant plot, beyond importing matplotlib", "read(path, 3 columns)",
         median["plot"], median["read"], TARGETS["plot"]),
    ]
    lines = [f"{Path(path).name}: {parameters} parameters, {steps} steps, "
             f"{Path(path).stat().st_size / 1e6:.0f} MB, columns {columns}, {rounds} rounds",
             "| measured | s | against | s | ratio | target | met |", "|---|---|---|---|---|---|---|"]
    for what, against, measured, base, target in rows:
        ratio = measured / base
        lines.append(f"| {what} | {measured:.4f} | {against} | {base:.4f} | {ratio:.3f} x "
                     f"| <= {target} x | {'yes' if ratio <= target else 'no'} |")
    print("\n".join(lines))
    if args.output:
        Path(args.output).write_text("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
