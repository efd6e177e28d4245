"""`vormant cut`: the chosen parameters and time steps of a plot file as a plot file, a piece
at a time."""

from __future__ import annotations

import argparse
from collections.abc import Iterator

from ._arguments import EXACT_WIDTH
from ._columns import step_range
from ._open import PlotFile, open_run
from ._plot import Plot
from ._report import chosen_columns, chosen_names, overwritten_source, pieces, report, usage_error
from ._write import CopiedSteps, source_title, write_pieces


def keeps_text(plot_file: PlotFile, columns: tuple[int, ...] | None, rows: range,
               width: int) -> bool:
    """Whether the cut's steps are the file's own, every parameter in its order at its width, so
    that their text can be copied as it stands."""
    every = columns is None or columns == tuple(range(1, plot_file.parameters))
    return every and rows.step == 1 and width == plot_file.n_digits


def cut(args: argparse.Namespace) -> None:
    with open_run(args.file, args.n_digits) as plot_file:
        columns = chosen_columns(plot_file, args.parameters) if args.parameters else None
        rows = step_range(args.steps, plot_file.steps)
        width = args.width or plot_file.n_digits or EXACT_WIDTH
        parts: Iterator[Plot | CopiedSteps] = (
            iter([CopiedSteps(plot_file, rows)]) if keeps_text(plot_file, columns, rows, width)
            else pieces(plot_file, columns, rows))
        write_pieces(args.output, chosen_names(plot_file, columns), width,
                     source_title(args.file), parts)


def run(args: argparse.Namespace) -> int:
    overwritten = overwritten_source([args.file], [args.output])
    if overwritten:
        return usage_error("cut", overwritten)
    try:
        cut(args)
    except Exception as failure:  # noqa: BLE001 - each failure is reported with its status
        return report(args.file, failure, "cut")
    return 0
