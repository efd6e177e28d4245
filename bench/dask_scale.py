#!/usr/bin/env python3
"""Benchmark of one plot file larger than the memory of the workers that read it.

A plot file of about 2 GB (the 250 MB benchmark file's time steps eight times over) is read by
`vormant.dask.read_frame` on a `distributed.LocalCluster` of worker processes with 400 MB of
memory each, once with one worker and once with two:

    frame[[one parameter]].max().compute()     # projection: one column read
    frame.max().compute()                      # every column

For each: the time, the peak resident memory of any worker, whether a worker was restarted,
and the speed-up of two workers over one.

    python3 bench/dask_scale.py                  # 2 GB, 400 MB workers
    python3 bench/dask_scale.py --copies 2       # about 500 MB, for a quick look

Nothing here is a test: no time is ever judged.
"""

from __future__ import annotations

import argparse
import os
import resource
import sys
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent
sys.path.insert(0, str(HERE))
sys.path.insert(1, str(ROOT / "tests" / "python"))

import plotfiles  # noqa: E402
import vormant_bench  # noqa: E402

SOURCE_SHAPE = (100, 200000, 12)


def big_file(files_dir: Path, copies: int) -> Path:
    """The benchmark file's header, then its time steps `copies` times over."""
    source = plotfiles.ensure_plot_file(files_dir, *SOURCE_SHAPE)
    target = files_dir / f"{source.stem}_x{copies}.plt"
    if target.exists():
        return target
    with open(source, "rb") as file:
        header = b"".join(file.readline() for _ in range(SOURCE_SHAPE[0] + 1))
        body = file.read()
    partial = target.with_suffix(".partial")
    with open(partial, "wb") as out:
        out.write(header)
        for _ in range(copies):
            out.write(body)
    os.replace(partial, target)
    return target


def peak_memory() -> int:
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024


def run(vormant, distributed, path: Path, workers: int, memory_limit: str, blocksize: str
        ) -> dict[str, tuple[float, int, bool]]:
    results = {}
    with distributed.LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                                  memory_limit=memory_limit, host="127.0.0.1",
                                  dashboard_address=None) as cluster, \
            distributed.Client(cluster) as client:
        frame = vormant.dask.read_frame([str(path)], blocksize=blocksize)
        name = frame.columns[50]
        # The workers import what they read with before anything is timed.
        frame.partitions[0][[name]].max().compute()
        for label, query in (("one parameter", frame[[name]].max()), ("every parameter",
                                                                      frame.max())):
            before = set(client.scheduler_info()["workers"])
            start = time.perf_counter()
            query.compute()
            elapsed = time.perf_counter() - start
            after = set(client.scheduler_info()["workers"])
            peak = max(client.run(peak_memory).values())
            results[label] = (elapsed, peak, before != after)
        results["partitions"] = (float(frame.npartitions), 0, False)
    return results


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--copies", type=int, default=8)
    parser.add_argument("--memory-limit", default="400MB")
    parser.add_argument("--blocksize", default="64 MiB")
    parser.add_argument("--files-dir", default=str(ROOT / "build" / "bench-files"))
    parser.add_argument("--module-dir")
    args = parser.parse_args()
    vormant, _ = vormant_bench.load_vormant(args.module_dir)
    import distributed
    import vormant.dask  # noqa: F401

    path = big_file(Path(args.files_dir), args.copies)
    size = path.stat().st_size
    print(f"{path.name}: {size / 1e9:.2f} GB; workers of {args.memory_limit}, "
          f"blocksize {args.blocksize}")
    runs = {workers: run(vormant, distributed, path, workers, args.memory_limit, args.blocksize)
            for workers in (1, 2)}
    print(f"partitions: {int(runs[1]['partitions'][0])}\n")
    print("| query | workers | time, s | GB/s | peak worker memory, MB | worker restarted |")
    print("|---|---|---|---|---|---|")
    for label in ("one parameter", "every parameter"):
        for workers in (1, 2):
            elapsed, peak, restarted = runs[workers][label]
            print(f"| {label} | {workers} | {elapsed:.2f} | {size / elapsed / 1e9:.2f} | "
                  f"{peak / 1e6:.0f} | {'yes' if restarted else 'no'} |")
    print()
    for label in ("one parameter", "every parameter"):
        speed_up = runs[1][label][0] / runs[2][label][0]
        print(f"{label}: two workers {speed_up:.2f} x faster than one")


if __name__ == "__main__":
    main()
