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
    time: the points whose line covers the pixels the line through every point covers."""
    arrays = envelope.to_numpy()
    if whole:
        return arrays["time_first"], arrays["first"][:, column]
    x = numpy.stack([arrays["time_first"], arrays["time_first"], arrays["time_last"],
                     arrays["time_last"]], axis=1).ravel()
    y = numpy.stack([arrays[field][:, column] for field in ("first", "min", "max", "last")],
                    axis=1).ravel()
    return x, y


def file_curves(numpy: Any, path: str, n_digits: int | None,
                wanted: Sequence[str]) -> tuple[str, list[Curve]]:
    """The time's first word and a curve per parameter wanted of the file at `path`."""
    with PlotFile(path, n_digits) as plot_file:
        columns = chosen_columns(plot_file, wanted)
        time = first_word(plot_file.names[0])
        if not columns:
            return time, []
        envelope = plot_file.envelope(columns, buckets=GROUPS)
        whole = envelope.groups == plot_file.steps
        return time, [Curve(path, name, *m4_points(numpy, envelope, column, whole))
                      for column, name in enumerate(envelope.names)]


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
