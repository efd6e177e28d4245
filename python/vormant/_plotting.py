"""`vormant plot`: chosen parameters over time, as a PNG."""

from __future__ import annotations

import argparse
from types import ModuleType

from ._open import PlotFile
from ._optional import require
from ._plot import Plot
from ._report import (UnusableParameter, chosen_columns, file_error, missing_library,
                      usage_error, write_error)

DEFAULT_PARAMETERS = 3
FIGURE_INCHES = (8, 4.5)
FIGURE_DPI = 100


def _pyplot() -> ModuleType:
    """pyplot on a backend that needs no display."""
    matplotlib = require("matplotlib", "vormant plot", "plot")
    matplotlib.use("Agg")
    return require("matplotlib.pyplot", "vormant plot", "plot")


def drawn(path: str, n_digits: int | None, wanted: list[str] | None) -> Plot:
    """The time and the parameters to draw, and only those, read from the file."""
    with PlotFile(path, n_digits) as plot_file:
        if wanted:
            columns = chosen_columns(plot_file, wanted)
        else:
            columns = tuple(range(1, min(plot_file.parameters, DEFAULT_PARAMETERS + 1)))
        return plot_file.read(columns)


def draw(pyplot: ModuleType, plot: Plot, out: str) -> None:
    values = plot.to_numpy()
    figure, axes = pyplot.subplots(figsize=FIGURE_INCHES)
    try:
        for column in range(1, plot.parameters):
            axes.plot(values[:, 0], values[:, column], label=plot.names[column])
        axes.set_xlabel(plot.names[0])
        if plot.parameters > 1:
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
        plot = drawn(args.file, args.n_digits, args.parameters)
    except UnusableParameter as error:
        return usage_error("plot", str(error))
    except (OSError, ValueError) as error:
        file_error(args.file, error)
        return 1
    try:
        draw(pyplot, plot, args.output)
    except OSError as error:
        write_error(args.output, error)
        return 1
    print(f"plot written to {args.output}")
    return 0
