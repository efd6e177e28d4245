#!/usr/bin/env python3
"""Benchmark of reading part of a plot file, on the plot files of bench/run.py.

Each figure is the best of several interleaved rounds, measured side by side in one process:

1. vormant.open (header and block index) of the 250 MB file against reading its bytes in
   1 MiB pieces.
2. vormant.read(path, columns=[one parameter]) of the P=2000 file against reading its bytes;
   on a PlotFile already open, one parameter against a full read.
3. A full vormant.read with threads=2 against threads=1 on the 15 MB and 250 MB files, and
   threads=1 against the native whole-file read it calls (`_reader.read_split` on one thread).
4. PlotFile.read(steps=slice(-1000, None)) on the open 250 MB file against a full read.
5. A full vormant.read of the 250 MB file on two threads against pyarrow.parquet.read_table of
   the same values in an uncompressed Parquet file: text read as fast as binary.
6. Peak resident memory, in a fresh process, of iterating chunks(100_000) over the 250 MB file
   and of `vormant convert` of it, against one piece plus 32 MB.

    python3 bench/big_files_bench.py            # 5 rounds
    python3 bench/big_files_bench.py --quick    # smaller files, 3 rounds

Nothing here is a test: no time is ever judged.
"""

from __future__ import annotations

import argparse
import functools
import json
import subprocess
import sys
import tempfile
from pathlib import Path

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent
sys.path.insert(0, str(HERE))
sys.path.insert(1, str(ROOT / "tests" / "python"))

import plotfiles  # noqa: E402
import run as tarnex_bench  # noqa: E402
import vormant_bench  # noqa: E402

BIG = (100, 200000, 12)
MEDIUM = (200, 5000, 15)
WIDE = (2000, 500, 12)
QUICK = {BIG: (100, 20000, 12), MEDIUM: (200, 1000, 15), WIDE: (2000, 100, 12)}
PIECE = 100_000
MEMORY_ALLOWANCE = 32 << 20


def best_of(runs: dict, rounds: int) -> dict:
    """The least time of each run over `rounds` rounds, the order turning each round."""
    best = dict.fromkeys(runs, float("inf"))
    for round_index in range(rounds):
        order = list(runs)
        order = order[round_index % len(order):] + order[:round_index % len(order)]
        for name in order:
            elapsed, result = tarnex_bench.timed(runs[name])
            best[name] = min(best[name], elapsed)
            del result
    return best


def open_and_close(vormant, path: str) -> int:
    with vormant.open(path) as plot_file:
        return plot_file.steps


def ratio_row(what: str, best: dict, measured: str, against: str, target: str) -> list[str]:
    ratio = best[measured] / best[against]
    return [what, f"{best[measured] / 1e6:.2f}", f"{best[against] / 1e6:.2f}", f"{ratio:.3f}",
            target]


def speed_rows(vormant, files: dict, rounds: int) -> list[list[str]]:
    big, medium, wide = str(files[BIG]), str(files[MEDIUM]), str(files[WIDE])
    rows = []
    best = best_of({"open": functools.partial(open_and_close, vormant, big),
                    "bytes": functools.partial(tarnex_bench.read_bytes, big)}, rounds)
    rows.append(ratio_row("open, 250 MB file / read bytes", best, "open", "bytes", "<= 1.0"))
    name = vormant.open(wide).names[1000]
    best = best_of({"one": functools.partial(vormant.read, wide, columns=[name]),
                    "bytes": functools.partial(tarnex_bench.read_bytes, wide)}, rounds)
    rows.append(ratio_row("read one parameter, P=2000 / read bytes", best, "one", "bytes",
                          "<= 1.5"))
    with vormant.open(wide) as plot_file, vormant.open(big) as big_file:
        best = best_of({"one": functools.partial(plot_file.read, [name]),
                        "full": plot_file.read}, rounds)
        rows.append(ratio_row("open P=2000: one parameter / full read", best, "one", "full",
                              "<= 0.1"))
        best = best_of({"tail": functools.partial(big_file.read, steps=slice(-1000, None)),
                        "full": big_file.read}, rounds)
        rows.append(ratio_row("open 250 MB: last 1000 steps / full read", best, "tail", "full",
                              "<= 0.01"))
    for label, path in (("15 MB", medium), ("250 MB", big)):
        best = best_of({"two": functools.partial(vormant.read, path, threads=2),
                        "one": functools.partial(vormant.read, path, threads=1),
                        "native": functools.partial(vormant._reader.read_split, path.encode(),
                                                    None, 1)},
                       rounds)
        rows.append(ratio_row(f"full read, {label}: threads=2 / threads=1", best, "two", "one",
                              "<= 0.56"))
        rows.append(ratio_row(f"full read, {label}: threads=1 / native read", best, "one",
                              "native", "<= 1"))
    rows.append(parquet_row(vormant, big, rounds))
    return rows


def parquet_row(vormant, path: str, rounds: int) -> list[str]:
    """A whole read of the text on two threads against pyarrow reading the same values from an
    uncompressed Parquet file, written once beside the plot file."""
    import pyarrow.parquet as parquet

    binary = Path(path).with_suffix(".uncompressed.parquet")
    if not binary.exists() or binary.stat().st_mtime < Path(path).stat().st_mtime:
        parquet.write_table(vormant.read(path).to_arrow(), binary, compression="none")
    best = best_of({"text": functools.partial(vormant.read, path, threads=2),
                    "parquet": functools.partial(parquet.read_table, binary)}, rounds)
    return ratio_row("full read, 250 MB, threads=2 / pyarrow.parquet.read_table", best, "text",
                     "parquet", "<= 1.0")


def probe(kind: str, path: str, module_dir: str) -> None:
    vormant, _ = vormant_bench.load_vormant(module_dir)
    if kind == "convert":
        # The libraries' own code and tables are not the file's: loaded before the peak starts.
        import pyarrow.parquet  # noqa: F401
    before = tarnex_bench.restart_peak()
    piece_bytes = 0
    if kind == "chunks":
        with vormant.open(path) as plot_file:
            for piece in plot_file.chunks(PIECE):
                piece_bytes = max(piece_bytes, piece.values.nbytes)
                del piece
    else:
        from vormant import cli
        with tempfile.TemporaryDirectory() as folder:
            cli.main(["convert", path, "-o", str(Path(folder) / "out.parquet")])
        with vormant.open(path) as plot_file:
            piece_bytes = min(PIECE, plot_file.steps) * plot_file.parameters * 4
    peak = tarnex_bench.resident_kib("VmHWM")
    print(json.dumps({"peak": (peak - before) * 1024, "piece": piece_bytes}))


def memory_rows(files: dict, module_dir: str) -> list[list[str]]:
    rows = []
    for kind in ("chunks", "convert"):
        output = subprocess.run(
            [sys.executable, str(Path(__file__).resolve()), "--probe", kind, str(files[BIG]),
             "--module-dir", module_dir], check=True, capture_output=True, text=True)
        result = json.loads(output.stdout)
        limit = result["piece"] + MEMORY_ALLOWANCE
        rows.append([f"{kind}({PIECE}), 250 MB file", f"{result['peak'] / 2**20:.1f}",
                     f"{limit / 2**20:.1f}", "yes" if result["peak"] <= limit else "no"])
    return rows


def table(head: list[str], rows: list[list[str]]) -> str:
    lines = ["| " + " | ".join(head) + " |", "|" + "---|" * len(head)]
    lines += ["| " + " | ".join(row) + " |" for row in rows]
    return "\n".join(lines)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--quick", action="store_true")
    parser.add_argument("--rounds", type=int)
    parser.add_argument("--files-dir", default=str(ROOT / "build" / "bench-files"))
    parser.add_argument("--module-dir")
    parser.add_argument("--probe", nargs=2, metavar=("KIND", "PATH"), help=argparse.SUPPRESS)
    args = parser.parse_args()
    vormant, module_dir = vormant_bench.load_vormant(args.module_dir)
    if args.probe:
        probe(args.probe[0], args.probe[1], module_dir)
        return
    rounds = args.rounds or (3 if args.quick else 5)
    files = {shape: plotfiles.ensure_plot_file(Path(args.files_dir),
                                               *(QUICK[shape] if args.quick else shape))
             for shape in (BIG, MEDIUM, WIDE)}
    print(table(["measure", "ms", "against, ms", "ratio", "target"],
                speed_rows(vormant, files, rounds)))
    print()
    print(table(["peak resident memory", "MiB", "piece + 32 MB", "met"],
                memory_rows(files, module_dir)))


if __name__ == "__main__":
    main()
