"""`vormant plot`: chosen parameters over time, as a PNG: a panel per parameter over a shared
time axis (or one axis), the files overlaid, and of a long run the M4 points of its envelope."""

from __future__ import annotations

import argparse
from collections.abc import Sequence
from dataclasses import dataclass
from types import ModuleType
from typing import Any

from ._envelope import Envelope
from ._open import PlotFile
from ._optional import require
from ._report import (UnusableParameter, chosen_columns, file_error, missing_library,
                      usage_error, write_error)

DEFAULT_PARAMETERS = 3
FIGURE_INCHES = (8, 4.5)
FIGURE_DPI = 100
# Groups of steps per pixel column of the picture. Groups of steps need not fall on the edges
# of pixel columns; at four a column, the line through their M4 points covers the pixels of the
# line through every point but for about one in a hundred, where a group straddles two columns.
GROUPS_PER_PIXEL = 4
GROUPS = GROUPS_PER_PIXEL * FIGURE_INCHES[0] * FIGURE_DPI
# The time axis spans the steps that hold numbers: numbers in a short stretch of a long run fill
# the panel, each group many pixel columns wide. A curve whose numbers span less than this share
# of its steps is drawn from the envelope of those steps alone; at this share or more, the axes
# (about nine tenths of the figure's width) still have four groups to a pixel column.
SPANNED_SHARE = 0.9


@dataclass
class Curve:
    """One parameter of one file, as the points to draw."""
    file: str
    name: str
    x: Any
    y: Any


def _pyplot() -> ModuleType:
    """pyplot on a backend that needs no display."""
    matplotlib = require("matplotlib", "vormant plot", "plot")
    matplotlib.use("Agg")
    return require("matplotlib.pyplot", "vormant plot", "plot")


def first_word(name: str) -> str:
    return (name.split(maxsplit=1) or [name])[0]


def m4_points(numpy: Any, envelope: Envelope, column: int, whole: bool) -> tuple[Any, Any]:
    """The line through every step when each group is one step (`whole`), else, of each group,
    its first value at its first time, its smallest and largest, and its last at its last
    time: the points whose line covers the pixels the line through every point covers. A group
    of NaN alone gives four NaN points, where matplotlib breaks the line: a gap."""
    arrays = envelope.to_numpy()
    if whole:
        return arrays["time_first"], arrays["first"][:, column]
    x = numpy.stack([arrays["time_first"], arrays["time_first"], arrays["time_last"],
                     arrays["time_last"]], axis=1).ravel()
    y = numpy.stack([arrays[field][:, column] for field in ("first", "min", "max", "last")],
                    axis=1).ravel()
    return x, y


def numbered_steps(numpy: Any, plot_file: PlotFile, envelope: Envelope, index: int,
                   column: int, steps: range) -> range:
    """The steps of `steps` (cut into the groups of `envelope`) from the first whose value of
    `column` (the envelope's `index`-th) is a number to the last; empty when all are NaN. Only
    the first and the last group that hold a number are read again."""
    held = numpy.flatnonzero(~numpy.isnan(numpy.asarray(envelope.min)[:, index]))
    if not len(held):
        return steps[:0]

    def numbers_of(group: int) -> tuple[int, Any]:
        begin = group * len(steps) // envelope.groups
        end = (group + 1) * len(steps) // envelope.groups
        values = plot_file.read([column], steps[begin:end]).to_numpy()[:, 1]
        return begin, numpy.flatnonzero(~numpy.isnan(values))

    head, in_head = numbers_of(int(held[0]))
    tail, in_tail = numbers_of(int(held[-1]))
    return steps[head + int(in_head[0]):tail + int(in_tail[-1]) + 1]


def curve_points(numpy: Any, plot_file: PlotFile, envelope: Envelope, index: int, column: int,
                 steps: range) -> tuple[Any, Any]:
    """The points to draw of `column` (the envelope's `index`-th) over `steps`: the M4 points
    of `envelope`, or, when its numbers span a small part of the steps, those of an envelope of
    that part alone, so that its groups stay within a pixel column of the axes scaled to it."""
    if envelope.groups == len(steps):
        return m4_points(numpy, envelope, index, True)
    numbered = numbered_steps(numpy, plot_file, envelope, index, column, steps)
    if numbered and len(numbered) < SPANNED_SHARE * len(steps):
        envelope = plot_file.envelope([column], numbered, buckets=GROUPS)
        return m4_points(numpy, envelope, 0, envelope.groups == len(numbered))
    return m4_points(numpy, envelope, index, False)


def file_curves(numpy: Any, path: str, n_digits: int | None,
                wanted: Sequence[str]) -> tuple[str, list[Curve]]:
    """The time's first word and a curve per parameter wanted of the file at `path`."""
    with PlotFile(path, n_digits) as plot_file:
        columns = chosen_columns(plot_file, wanted)
        time = first_word(plot_file.names[0])
        if not columns:
            return time, []
        steps = range(plot_file.steps)
        envelope = plot_file.envelope(columns, buckets=GROUPS)
        return time, [
            Curve(path, name, *curve_points(numpy, plot_file, envelope, index, column, steps))
            for index, (column, name) in enumerate(zip(columns, envelope.names))]


def default_parameters(path: str, n_digits: int | None) -> list[str]:
    """The name lines of the first parameters of the file at `path`."""
    with PlotFile(path, n_digits) as plot_file:
        return list(plot_file.names[1:DEFAULT_PARAMETERS + 1])


def draw(pyplot: ModuleType, time: str, curves: list[list[Curve]], overlay: bool,
         out: str) -> None:
    """`curves[f][p]`: parameter p of file f; a panel per parameter unless `overlay`."""
    panels = 1 if overlay else max(1, max(len(each) for each in curves))
    figure, axes = pyplot.subplots(panels, 1, sharex=True, squeeze=False,
                                   figsize=FIGURE_INCHES)
    several = len(curves) > 1
    try:
        for each in curves:
            for panel, curve in enumerate(each):
                where = axes[0 if overlay else panel][0]
                label = (f"{curve.name} ({curve.file})" if overlay else curve.file) if several \
                    else curve.name
                where.plot(curve.x, curve.y, label=label, linewidth=1)
                if not overlay:
                    where.set_ylabel(first_word(curve.name))
        for row in axes:
            if row[0].lines and (overlay or several):
                row[0].legend(fontsize="small")
        axes[-1][0].set_xlabel(time)
        figure.tight_layout()
        figure.savefig(out, dpi=FIGURE_DPI, format="png")
    finally:
        pyplot.close(figure)


def run(args: argparse.Namespace) -> int:
    try:
        # Before the file is read, so a missing library costs no work.
        pyplot = _pyplot()
        numpy = require("numpy", "vormant plot", "plot")
    except ImportError as error:
        return missing_library(error)
    curves = []
    time = ""
    for path in args.files:
        try:
            wanted = args.parameters or default_parameters(args.files[0], args.n_digits)
            words, drawn = file_curves(numpy, path, args.n_digits, wanted)
        except UnusableParameter as error:
            return usage_error("plot", str(error))
        except (OSError, ValueError) as error:
            file_error(path, error)
            return 1
        time = time or words
        curves.append(drawn)
    try:
        draw(pyplot, time, curves, args.overlay, args.output)
    except OSError as error:
        write_error(args.output, error)
        return 1
    print(f"plot written to {args.output}")
    return 0
