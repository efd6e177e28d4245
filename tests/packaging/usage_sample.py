"""Reads a plot file through tarnex the way an analysis script does.

Type-checked with `mypy --strict` against the installed package, and run on the bundled samples:

    python usage_sample.py FILE N_DIGITS
"""

from __future__ import annotations

import math
import sys
from typing import assert_type

import tarnex


def mean(values: list[float]) -> float:
    return math.fsum(values) / len(values) if values else math.nan


def main(argv: list[str]) -> int:
    path, n_digits = argv[1], int(argv[2])
    time, columns = tarnex.rust_read_vormant(path, n_digits)
    assert_type(time, list[float])
    assert_type(columns, list[list[float]])
    by_keyword = tarnex.rust_read_vormant(file_path=path, n_digits=n_digits)
    assert_type(by_keyword, tuple[list[float], list[list[float]]])

    duration = time[-1] - time[0] if time else 0.0
    print(f"{len(columns) + 1} parameters, {len(time)} time steps over {duration:.7g}")
    for index, column in enumerate(columns, start=1):
        spread = max(column) - min(column) if column else 0.0
        print(f"parameter {index}: mean {mean(column):.7g}, spread {spread:.7g}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
