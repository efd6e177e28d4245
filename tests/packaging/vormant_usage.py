"""Reads plot files through vormant the way an analysis script does.

Type-checked with `mypy --strict` against the installed package, and run on the bundled samples:

    python vormant_usage.py FILE...
"""

from __future__ import annotations

import array
import math
import pathlib
import sys
from typing import assert_type

import vormant


def column_mean(plot: vormant.Plot, column: int) -> float:
    values = array.array("f", plot.values.tobytes())[column::plot.parameters]
    return math.fsum(values) / len(values) if values else math.nan


def main(argv: list[str]) -> int:
    paths = [pathlib.Path(arg) for arg in argv[1:]]
    plot = vormant.read(paths[0])
    assert_type(plot.names, tuple[str, ...])
    assert_type(plot.values, memoryview)
    assert_type(plot.n_digits, int)
    same = vormant.read(str(paths[0]), n_digits=plot.n_digits)
    assert same.values.tobytes() == plot.values.tobytes()

    plots = vormant.read_many(paths, workers=2)
    assert_type(plots, list[vormant.Plot])
    results = vormant.read_many([*paths, "missing.txt"], errors="return")
    assert_type(results, list[vormant.Plot | Exception])
    for result in results:
        if isinstance(result, vormant.PlotFileError):
            print(f"{result.path}:{result.line}: {result}")
        elif isinstance(result, Exception):
            print(f"failed: {type(result).__name__}")
        else:
            print(f"{result.path}: {result.parameters} parameters, {result.steps} time steps, "
                  f"mean of {result.names[1]!r} {column_mean(result, 1):.7g}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
