"""`vormant info`: a table per file of every parameter's range."""

from __future__ import annotations

import argparse
import array
import importlib
import math
import struct
from typing import Any

from ._open import read
from ._plot import Plot
from ._report import file_error

Range = tuple[float, float, int]  # minimum, maximum, NaN count


def shortest(value: float) -> str:
    """The fewest significant digits that give back the same binary32 value."""
    if math.isnan(value) or math.isinf(value):
        return str(value)
    wanted = struct.pack("<f", value)
    for digits in range(1, 10):
        text = f"{value:.{digits}g}"
        if struct.pack("<f", float(text)) == wanted:
            return text
    return repr(value)


def _ranges_numpy(numpy: Any, plot: Plot) -> list[Range]:
    values = plot.to_numpy()
    nans = numpy.isnan(values).sum(axis=0)
    present = ~numpy.isnan(values)
    result = []
    for column in range(plot.parameters):
        numbers = values[present[:, column], column]
        if numbers.size:
            result.append((float(numbers.min()), float(numbers.max()), int(nans[column])))
        else:
            result.append((math.nan, math.nan, int(nans[column])))
    return result


def _ranges_plain(plot: Plot) -> list[Range]:
    block = array.array("f", plot.values.tobytes())
    result = []
    for column in range(plot.parameters):
        values = block[column::plot.parameters]
        numbers = [value for value in values if not math.isnan(value)]
        nans = len(values) - len(numbers)
        result.append((min(numbers), max(numbers), nans) if numbers else (math.nan, math.nan, nans))
    return result


def ranges(plot: Plot) -> list[Range]:
    """Per parameter: the minimum and maximum leaving NaN out (NaN compares false with
    everything, so it would spoil both), and how many NaN there are."""
    try:
        numpy = importlib.import_module("numpy")
    except ImportError:
        return _ranges_plain(plot)
    return _ranges_numpy(numpy, plot)


def table(plot: Plot) -> list[str]:
    lines = [plot.path,
             f"  width {plot.n_digits}, {plot.steps} time steps, {plot.parameters} parameters"]
    rows = [("parameter", "min", "max", "NaN")]
    for name, (minimum, maximum, nan_count) in zip(plot.names, ranges(plot)):
        rows.append((name, shortest(minimum), shortest(maximum),
                     str(nan_count) if nan_count else ""))
    widths = [max(len(row[i]) for row in rows) for i in range(4)]
    for name, low, high, nans in rows:
        line = f"  {name:<{widths[0]}}  {low:>{widths[1]}}  {high:>{widths[2]}}  {nans}"
        lines.append(line.rstrip())
    return lines


def run(args: argparse.Namespace) -> int:
    status = 0
    tables = 0
    for path in args.files:
        try:
            plot = read(path, args.n_digits)
        except (OSError, ValueError) as error:
            file_error(path, error)
            status = 1
            continue
        if tables:
            print()
        print("\n".join(table(plot)))
        tables += 1
    return status
