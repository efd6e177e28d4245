"""`vormant info`: a table per file of every parameter's range."""

from __future__ import annotations

import argparse
import array
import importlib
import math
import struct
from collections.abc import Callable, Iterable
from typing import Any

from ._open import PlotFile
from ._plot import Plot
from ._report import file_error, pieces

Range = tuple[float, float, int]  # minimum, maximum, NaN count; NaN bounds: no number yet
NO_NUMBERS: Range = (math.nan, math.nan, 0)


def shortest(value: float) -> str:
    """The fewest significant digits that give back the same binary32 value."""
    if math.isnan(value) or math.isinf(value):
        return str(value)
    wanted = struct.pack("<f", value)
    for digits in range(1, 10):
        text = f"{value:.{digits}g}"
        if _binary32_bits(float(text)) == wanted:
            return text
    return repr(value)


def _binary32_bits(value: float) -> bytes | None:
    """The bits of the binary32 nearest `value`; None past the largest binary32, where a short
    text of a value near it (3.40282E+38 to 3.403e+38) has been rounded up."""
    try:
        return struct.pack("<f", value)
    except OverflowError:
        return None


def _ranges_numpy(numpy: Any, plot: Plot) -> list[Range]:
    values = plot.to_numpy()
    # fmin and fmax take the number when one side is NaN, so NaN only where all are NaN.
    lows = numpy.fmin.reduce(values, axis=0)
    highs = numpy.fmax.reduce(values, axis=0)
    nans = numpy.isnan(values).sum(axis=0)
    return [(float(low), float(high), int(count)) for low, high, count in zip(lows, highs, nans)]


def _ranges_plain(plot: Plot) -> list[Range]:
    block = array.array("f", plot.values.tobytes())
    result = []
    for column in range(plot.parameters):
        values = block[column::plot.parameters]
        numbers = [value for value in values if not math.isnan(value)]
        nans = len(values) - len(numbers)
        result.append((min(numbers), max(numbers), nans) if numbers else (math.nan, math.nan, nans))
    return result


def _numbers_only(pick: Callable[[float, float], float], one: float, other: float) -> float:
    if math.isnan(one):
        return other
    return one if math.isnan(other) else pick(one, other)


def fold(total: Range, piece: Range) -> Range:
    """The range of two pieces from the range of each."""
    return (_numbers_only(min, total[0], piece[0]), _numbers_only(max, total[1], piece[1]),
            total[2] + piece[2])


def ranges(plot_file: PlotFile) -> list[Range]:
    """Per parameter: the minimum and maximum leaving NaN out (NaN compares false with
    everything, so it would spoil both), and how many NaN there are; read a piece at a
    time, so the file is never held whole."""
    try:
        numpy = importlib.import_module("numpy")
    except ImportError:
        numpy = None
    totals = [NO_NUMBERS] * plot_file.parameters
    for piece in pieces(plot_file, None, range(plot_file.steps)):
        found = _ranges_plain(piece) if numpy is None else _ranges_numpy(numpy, piece)
        totals = [fold(total, part) for total, part in zip(totals, found)]
    return totals


def table(plot_file: PlotFile, found: Iterable[Range]) -> list[str]:
    lines = [plot_file.path, f"  width {plot_file.n_digits}, {plot_file.steps} time steps, "
                             f"{plot_file.parameters} parameters"]
    rows = [("parameter", "min", "max", "NaN")]
    for name, (minimum, maximum, nan_count) in zip(plot_file.names, found):
        rows.append((name, shortest(minimum), shortest(maximum),
                     str(nan_count) if nan_count else ""))
    widths = [max(len(row[i]) for row in rows) for i in range(4)]
    for name, low, high, nans in rows:
        line = f"  {name:<{widths[0]}}  {low:>{widths[1]}}  {high:>{widths[2]}}  {nans}"
        lines.append(line.rstrip())
    return lines


def summary(path: str, n_digits: int | None) -> list[str]:
    with PlotFile(path, n_digits) as plot_file:
        return table(plot_file, ranges(plot_file))


def run(args: argparse.Namespace) -> int:
    status = 0
    tables = 0
    for path in args.files:
        try:
            lines = summary(path, args.n_digits)
        except (OSError, ValueError) as error:
            file_error(path, error)
            status = 1
            continue
        if tables:
            print()
        print("\n".join(lines))
        tables += 1
    return status
