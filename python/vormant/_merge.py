"""`vormant merge`: the plot files of one run that was restarted, in order, as one plot file.

A file whose first time is not after the time reached so far supersedes the steps of the
earlier files from that time on: the restarted run computed them again.
"""

from __future__ import annotations

import argparse
import bisect
import contextlib
from collections.abc import Iterator, Sequence
from typing import NamedTuple

from ._open import PlotFile
from ._plot import Plot
from ._report import overwritten_source, pieces, report, usage_error
from ._write import CopiedSteps, source_title, write_pieces


class Kept(NamedTuple):
    """The first `stop` steps of a file, those no later file supersedes."""

    plot_file: PlotFile
    stop: int


def _time(plot_file: PlotFile, step: int) -> float:
    time: float = plot_file.read([], range(step, step + 1)).values[0, 0]
    return time


def _superseded_from(kept: Kept, start: float) -> int:
    """The first step of `kept` whose time is `start` or later (its times rise)."""
    return bisect.bisect_left(range(kept.stop), start,
                              key=lambda step: _time(kept.plot_file, step))


def kept_steps(files: Sequence[PlotFile]) -> list[Kept]:
    kept: list[Kept] = []
    for plot_file in files:
        if plot_file.steps == 0:
            continue
        start = _time(plot_file, 0)
        while kept:
            stop = _superseded_from(kept[-1], start)
            if stop > 0:
                kept[-1] = kept[-1]._replace(stop=stop)
                break
            kept.pop()  # wholly computed again
        kept.append(Kept(plot_file, plot_file.steps))
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
        if part.plot_file.n_digits == width:
            yield CopiedSteps(part.plot_file, range(part.stop))
        else:
            yield from pieces(part.plot_file, None, range(part.stop))


def merge(args: argparse.Namespace, files: list[PlotFile]) -> int:
    for other in files[1:]:
        difference = name_difference(files[0], other)
        if difference:
            return usage_error("merge", difference)
    # The widest of the files: nothing that one of them holds is rounded away.
    width = max((plot_file.n_digits or 0 for plot_file in files), default=0) or 15
    write_pieces(args.output, files[0].names, width, source_title(files[0].path),
                 _all_pieces(kept_steps(files), width))
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
                files.append(stack.enter_context(PlotFile(path, args.n_digits)))
            return merge(args, files)
    except Exception as failure:  # noqa: BLE001 - each failure is reported with its status
        return report(path, failure, "merge")
