"""`vormant plot`: chosen parameters over time, as a PNG."""

from __future__ import annotations

import argparse
from types import ModuleType

from ._optional import require
from ._open import read
from ._plot import Plot
from ._report import file_error, missing_library, usage_error, write_error

DEFAULT_PARAMETERS = 3
FIGURE_INCHES = (8, 4.5)
FIGURE_DPI = 100


def _pyplot() -> ModuleType:
    """pyplot on a backend that needs no display."""
    matplotlib = require("matplotlib", "vormant plot", "plot")
    matplotlib.use("Agg")
    return require("matplotlib.pyplot", "vormant plot", "plot")


def find_parameter(plot: Plot, wanted: str) -> int | None:
    """The column of `wanted`: a whole name line, or the first word of exactly one."""
    if wanted in plot.names:
        return plot.names.index(wanted)
    matches = [column for column, name in enumerate(plot.names)
               if name.split(maxsplit=1)[:1] == [wanted]]
    return matches[0] if len(matches) == 1 else None


def _unknown(plot: Plot, wanted: str) -> str:
    known = ", ".join(repr(name) for name in plot.names[1:]) or "only the time"
    return f"{plot.path} has no parameter {wanted!r} (it has {known})"


def draw(pyplot: ModuleType, plot: Plot, columns: list[int], out: str) -> None:
    values = plot.to_numpy()
    figure, axes = pyplot.subplots(figsize=FIGURE_INCHES)
    try:
        for column in columns:
            axes.plot(values[:, 0], values[:, column], label=plot.names[column])
        axes.set_xlabel(plot.names[0])
        if columns:
            axes.legend()
        figure.tight_layout()
        figure.savefig(out, dpi=FIGURE_DPI, format="png")
    finally:
        pyplot.close(figure)


def run(args: argparse.Namespace) -> int:
    try:
        # Before the file is read, so a missing library costs no work.
        pyplot = _pyplot()
    except ImportError as error:
        return missing_library(error)
    try:
        plot = read(args.file, args.n_digits)
    except (OSError, ValueError) as error:
        file_error(args.file, error)
        return 1
    if args.parameters:
        columns = [find_parameter(plot, wanted) for wanted in args.parameters]
        for wanted, column in zip(args.parameters, columns):
            if column is None:
                return usage_error("plot", _unknown(plot, wanted))
        chosen = [column for column in columns if column is not None]
    else:
        chosen = list(range(1, min(plot.parameters, DEFAULT_PARAMETERS + 1)))
    try:
        draw(pyplot, plot, chosen, args.output)
    except OSError as error:
        write_error(args.output, error)
        return 1
    print(f"plot written to {args.output}")
    return 0
