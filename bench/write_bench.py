"""Files out, side by side in one run: vormant.write at width 12 against a one-thread
vormant.read of the same file and against numpy.savetxt(fmt="%12.5E") (one value line per step);
`vormant cut` of three parameters and the last tenth of the steps against a script reading
those and writing them, with its peak memory over the interpreter's; `vormant merge` of the file
split in three overlapping restarts against cp. Each time is the least of five runs.

    python bench/write_bench.py [--quick] [--data-dir DIR] [--module-dir DIR]
"""

from __future__ import annotations

import argparse
import os
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import numpy as np

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import plotfiles  # noqa: E402
from vormant_bench import load_vormant  # noqa: E402

FULL_SHAPE = (100, 200_000, 12)  # the 250 MB benchmark file
QUICK_SHAPE = (100, 20_000, 12)
CUT_PARAMETERS = 3
# The restarts: the file's steps from and to these fractions, each overlapping the one before.
RESTARTS = ((0.0, 0.4), (0.35, 0.75), (0.7, 1.0))


# Each figure is the least of this many runs: the one least disturbed by the rest of the
# machine, as timeit takes it. Before each, what earlier runs wrote is flushed to the disk, so
# that no run pays for another's writing back.
RUNS = 5


def timed(work) -> float:
    least = float("inf")
    for _ in range(RUNS):
        os.sync()
        start = time.perf_counter()
        work()
        least = min(least, time.perf_counter() - start)
    return least


def child(command: list[str], module_dir: str) -> tuple[float, int]:
    """Least seconds and peak resident bytes of a command run to its end."""
    env = {**os.environ, "TARNEX_MODULE_DIR": module_dir,
           "PYTHONPATH": os.pathsep.join(sys.path[:2])}
    least, peak = float("inf"), 0
    for _ in range(RUNS):
        os.sync()
        start = time.perf_counter()
        process = subprocess.Popen(command, env=env, stdout=subprocess.DEVNULL)
        _, status, usage = os.wait4(process.pid, 0)
        least = min(least, time.perf_counter() - start)
        if status != 0:
            raise SystemExit(f"{' '.join(command)} failed ({status})")
        peak = max(peak, usage.ru_maxrss * 1024)
    return least, peak


def vormant_command(*arguments: str) -> list[str]:
    return [sys.executable, "-m", "vormant", *arguments]


def row(what: str, seconds: float, peer: str, peer_seconds: float, target: str) -> None:
    print(f"| {what} | {seconds:.3f} s | {peer} | {peer_seconds:.3f} s | "
          f"{seconds / peer_seconds:.3f} | {target} |")


def bench_write(vormant, path: str, out: Path) -> None:
    plot = vormant.read(path)
    values = np.asarray(plot.values)
    read_one = timed(lambda: vormant.read(path, threads=1))
    write = timed(lambda: vormant.write(out / "written.plt", plot, 12))
    savetxt = timed(lambda: np.savetxt(out / "savetxt.txt", values, fmt="%12.5E", delimiter=""))
    row("vormant.write, width 12", write, "vormant.read, 1 thread", read_one, "<= 4")
    row("vormant.write, width 12", write, "numpy.savetxt %12.5E", savetxt, "<= 0.05")
    back = vormant.read(out / "written.plt")
    if back.values.tobytes() != plot.values.tobytes():
        raise SystemExit("a width-12 file written from width-12 values reads back differently")


def bench_cut(vormant, path: str, out: Path, module_dir: str) -> None:
    with vormant.open(path) as plot_file:
        names = [name.split()[0] for name in plot_file.names[1:1 + CUT_PARAMETERS]]
        steps = plot_file.steps
    last_tenth = slice(steps - steps // 10, None)
    # The peer is a script doing the same in a process of its own: both pay the interpreter's
    # start and vormant's import.
    script = (f"import vormant; vormant.write({str(out / 'peer-cut.plt')!r}, vormant.read("
              f"{path!r}, columns={names!r}, steps=slice({last_tenth.start}, None)), 12)")
    peer, _ = child([sys.executable, "-c", script], module_dir)
    parameters = [word for name in names for word in ("-p", name)]
    seconds, peak = child(vormant_command("cut", path, "-o", str(out / "cut.plt"), *parameters,
                                          f"--steps={last_tenth.start}:"), module_dir)
    _, interpreter = child(vormant_command("--version"), module_dir)
    row("vormant cut, 3 parameters, last tenth", seconds, "a script: read + vormant.write", peer,
        "<= 1")
    print(f"| vormant cut peak memory over the interpreter's | "
          f"{(peak - interpreter) / 2**20:.1f} MB | | | | <= 64 MB |")


def bench_merge(vormant, path: str, out: Path, module_dir: str) -> None:
    plot = vormant.read(path)
    values = np.asarray(plot.values)
    restarts = []
    for number, (begin, end) in enumerate(RESTARTS):
        part = slice(int(begin * len(values)), int(end * len(values)))
        restart = out / f"restart{number}.plt"
        with vormant.open(path) as plot_file:
            vormant.write(restart, plot_file.read(steps=part), 12)
        restarts.append(str(restart))
    (out / "copies").mkdir()
    size = sum(os.path.getsize(restart) for restart in restarts)
    seconds, _ = child(vormant_command("merge", *restarts, "-o", str(out / "merged.plt")),
                       module_dir)
    copy = timed(lambda: subprocess.run(["cp", *restarts, str(out / "copies")], check=True))
    row(f"vormant merge, 3 restarts ({size / 2**20:.0f} MB)", seconds, "cp of the bytes", copy,
        "<= 2")
    if vormant.read(out / "merged.plt").values.tobytes() != plot.values.tobytes():
        raise SystemExit("the merged restarts differ from the whole run")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help=f"a file of {QUICK_SHAPE}")
    parser.add_argument("--data-dir", default=str(Path.home() / ".cache" / "tarnex" / "bench"))
    parser.add_argument("--module-dir", default=None)
    args = parser.parse_args()
    vormant, module_dir = load_vormant(args.module_dir)
    parameters, steps, width = QUICK_SHAPE if args.quick else FULL_SHAPE
    path = str(plotfiles.ensure_plot_file(Path(args.data_dir), parameters, steps, width))
    print(f"{path}: {os.path.getsize(path) / 2**20:.0f} MB, {parameters} parameters, "
          f"{steps} steps, {os.cpu_count()} processors")
    print("| what | time | peer | peer's time | ratio | target |\n|---|---|---|---|---|---|")
    with tempfile.TemporaryDirectory(dir=args.data_dir) as folder:
        bench_write(vormant, path, Path(folder))
        bench_cut(vormant, path, Path(folder), module_dir)
        bench_merge(vormant, path, Path(folder), module_dir)


if __name__ == "__main__":
    main()
