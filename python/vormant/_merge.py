"""`vormant merge`: the plot files of one run that was restarted, in order, as one plot file.

A file whose first time is not after the time reached so far supersedes the steps of the
earlier files from that time on: the restarted run computed them again. Where that time falls
is found by bisecting the earlier files' times, so every file's times must rise (a time may
repeat) and none may be NaN; a file that breaks this is refused before anything is written.
"""

from __future__ import annotations

import argparse
import bisect
import contextlib
import itertools
import math
import operator
from collections.abc import Iterator, Sequence
from typing import NamedTuple

from ._arguments import EXACT_WIDTH, time_line
from ._info import shortest
from ._open import PlotFile, open_run
from ._plot import Plot
from ._report import overwritten_source, pieces, report, usage_error
from ._write import CopiedSteps, source_title, write_pieces


class Run(NamedTuple):
    """A file of the run and the times of its steps."""

    plot_file: PlotFile
    times: Sequence[float]


class Kept(NamedTuple):
    """The first `stop` steps of a file, those no later file supersedes."""

    run: Run
    stop: int


class TimesOutOfOrder(Exception):
    """A file's times the merge cannot place; the text names the file, the line and the step."""


def first_out_of_order(times: Sequence[float]) -> int | None:
    """The first step whose time is NaN or below the time of the step before, or None."""
    if len(times) and math.isnan(times[0]):
        return 0
    # `before <= after` fails where either is NaN: a NaN after step 0 fails with the pair it ends.
    rising = map(operator.le, times, times[1:])
    return next(itertools.compress(itertools.count(1), map(operator.not_, rising)), None)


def times_of(plot_file: PlotFile) -> Sequence[float]:
    """The times of every step of `plot_file`, refused with TimesOutOfOrder unless they rise."""
    column = plot_file.read([]).values
    times: Sequence[float] = column.cast("B").cast("f") if len(column) else ()
    step = first_out_of_order(times)
    if step is not None:
        time = times[step]
        how = ("is NaN" if math.isnan(time) else
               f"({shortest(time)}) goes back from {shortest(times[step - 1])} at the step before")
        line = time_line(plot_file.parameters, step)
        raise TimesOutOfOrder(f"{plot_file.path}, line {line}: the time of step {step} {how}; "
                              "merge needs every file's times to rise")
    return times


def kept_steps(runs: Sequence[Run]) -> list[Kept]:
    kept: list[Kept] = []
    for run in runs:
        if not run.times:
            continue  # a run that stopped before its first step supersedes nothing
        start = run.times[0]
        while kept:
            # The first step of the last kept file whose time is `start` or later.
            stop = bisect.bisect_left(kept[-1].run.times, start, 0, kept[-1].stop)
            if stop > 0:
                kept[-1] = kept[-1]._replace(stop=stop)
                break
            kept.pop()  # wholly computed again
        kept.append(Kept(run, len(run.times)))
    return kept


def name_difference(first: PlotFile, other: PlotFile) -> str | None:
    """The first difference between two files' name lines, as a usage error's text."""
    for column, (name, other_name) in enumerate(zip(first.names, other.names)):
        if name != other_name:
            return (f"{other.path} names parameter {column} {other_name!r}, "
                    f"{first.path} {name!r}")
    if len(first.names) != len(other.names):
        return (f"{other.path} has {len(other.names)} parameters, "
                f"{first.path} {len(first.names)}")
    return None


def _all_pieces(kept: list[Kept], width: int) -> Iterator[Plot | CopiedSteps]:
    """The kept steps of each file: copied as their text stands from a file of the output's
    width, read and formatted again from a narrower one."""
    for part in kept:
        plot_file = part.run.plot_file
        if plot_file.n_digits == width:
            yield CopiedSteps(plot_file, range(part.stop))
        else:
            yield from pieces(plot_file, None, range(part.stop))


def merge(args: argparse.Namespace, files: list[PlotFile]) -> int:
    for other in files[1:]:
        difference = name_difference(files[0], other)
        if difference:
            return usage_error("merge", difference)
    try:
        runs = [Run(plot_file, times_of(plot_file)) for plot_file in files]
    except TimesOutOfOrder as failure:
        return usage_error("merge", str(failure))
    # The widest of the files that hold steps: nothing that one of them holds is rounded away.
    width = max((run.plot_file.n_digits or 0 for run in runs if run.times),
                default=0) or EXACT_WIDTH
    write_pieces(args.output, files[0].names, width, source_title(files[0].path),
                 _all_pieces(kept_steps(runs), width))
    return 0


def run(args: argparse.Namespace) -> int:
    overwritten = overwritten_source(args.files, [args.output] * len(args.files))
    if overwritten:
        return usage_error("merge", overwritten)
    path = args.files[0]
    try:
        with contextlib.ExitStack() as stack:
            files = []
            for path in args.files:
                files.append(stack.enter_context(open_run(path, args.n_digits)))
            return merge(args, files)
    except Exception as failure:  # noqa: BLE001 - each failure is reported with its status
        return report(path, failure, "merge")
