"""Reads the bundled sample plot files through `tarnex` and prints what they hold."""

from __future__ import annotations

import pathlib
import sys

import tarnex

SAMPLES = pathlib.Path(__file__).resolve().parent.parent / "samples"
FILES = [("plot-6digits.txt", 12), ("plot-9digits.txt", 15)]


def summarize(path: pathlib.Path, n_digits: int) -> None:
    time, columns = tarnex.rust_read_vormant(str(path), n_digits)
    print(f"{path.name} (n_digits={n_digits})")
    print(f"  parameters: {len(columns) + 1} (time and {len(columns)} more)")
    print(f"  time steps: {len(time)}, time from {time[0]:g} to {time[-1]:g}")
    for index, column in enumerate(columns[:3], start=1):
        print(f"  parameter {index}: min {min(column):.7g}, max {max(column):.7g}, "
              f"last {column[-1]:.7g}")


def main() -> int:
    print(f"tarnex from {tarnex.__file__}")
    for name, n_digits in FILES:
        summarize(SAMPLES / name, n_digits)
    return 0


if __name__ == "__main__":
    sys.exit(main())
