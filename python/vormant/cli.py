"""The command line: `vormant info`, `plot`, `view`, `convert`, `cut`, `merge` and `diff`.

Exit status: 0 on success, 1 when a file cannot be read or written, 2 for unusable arguments
(argparse's own errors, and parameter names a file does not have or that fit several). `diff`
has the statuses of diff and cmp: 0 same, 1 different, 2 trouble.
"""

from __future__ import annotations

import argparse
import sys
from collections.abc import Sequence

import importlib
from collections.abc import Callable
from typing import Any

from ._arguments import WIDTHS
from ._options import PROG, SUFFIXES, step_slice
from ._version import version

STEPS_OPTION = "--steps"
PARAMETER_HELP = ("a parameter by its name line, by the first word of it when that is "
                  "unique, or by its index (1 the first after the time); repeatable")


def _later(module: str, name: str) -> Callable[..., Any]:
    """`name` of the module `module` of vormant, imported only when called: a command imports
    only what it runs, so that each starts as fast as it can."""
    def call(*args: Any) -> Any:
        return getattr(importlib.import_module(f"vormant.{module}"), name)(*args)
    call.__name__ = name  # argparse names a type by it in its messages
    return call


class _ShowVersion(argparse.Action):
    """--version, the version looked up only when it is asked for."""

    def __call__(self, parser: argparse.ArgumentParser, namespace: argparse.Namespace,
                 values: object, option_string: str | None = None) -> None:
        print(f"{parser.prog} {version()}")
        parser.exit()


def _parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog=PROG,
        description="Look at VORMANT plot files, plot them, convert them to Parquet, CSV, "
                    "HDF5, MATLAB or NetCDF, cut them and merge restarted runs.")
    parser.add_argument("--version", action=_ShowVersion, nargs=0,
                        help="show program's version number and exit")
    commands = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")

    part = argparse.ArgumentParser(add_help=False)
    part.add_argument("-p", "--parameter", action="append", dest="parameters", metavar="NAME",
                      help=f"{PARAMETER_HELP} (default: all); the time is always written")
    part.add_argument(STEPS_OPTION, type=step_slice, metavar="START:STOP",
                      help="only these time steps, as Python slices a list: either side may be "
                           "left out, a negative one counts from the end (-1000: is the last "
                           "thousand)")

    width = argparse.ArgumentParser(add_help=False)
    width.add_argument("-n", "--n-digits", type=int, choices=WIDTHS,
                       help=f"field width: {WIDTHS[0]} (6-digit files) or {WIDTHS[1]} (9-digit "
                            "files); default: taken from the first value line")

    # What the commands that draw take: files, and the parameters to draw of them.
    drawing = argparse.ArgumentParser(add_help=False, parents=[width])
    drawing.add_argument("files", nargs="+", metavar="FILE")
    drawing.add_argument("-p", "--parameter", action="append", dest="parameters",
                         metavar="NAME",
                         help=f"{PARAMETER_HELP} (default: the first three of the first file)")

    info = commands.add_parser(
        "info", parents=[width], help="names, steps, width and range of every parameter",
        description="For each file: its width, time steps and parameters, and the minimum and "
                    "maximum of every parameter (NaN left out and counted), read a piece of the "
                    "file at a time.")
    info.add_argument("files", nargs="+", metavar="FILE")
    info.set_defaults(run=_later("_info", "run"))

    plot = commands.add_parser(
        "plot", parents=[drawing], help="draw parameters over time into a PNG",
        description="Draws the chosen parameters over the time into an 800x450 PNG, a panel "
                    "per parameter over a shared time axis, the files overlaid; a long run is "
                    "drawn from the first, last, smallest and largest value of each group of "
                    "steps, which gives the picture of every point (needs matplotlib: the "
                    "plot extra).")
    plot.add_argument("--overlay", action="store_true",
                      help="every parameter on one axis instead of a panel each")
    plot.add_argument("-o", "--output", required=True, metavar="OUT.png")
    plot.set_defaults(run=_later("_plotting", "run"))

    view = commands.add_parser(
        "view", parents=[drawing], help="look at files in the browser, zoom in, follow a run",
        description="Serves a page on 127.0.0.1 (its address printed) that draws the chosen "
                    "parameters of the files, a panel per parameter over a shared time axis, "
                    "and draws them again from the files at every zoom or pan; with --follow, "
                    "the steps a running simulation adds appear about once a second. Ctrl-C "
                    "ends it (needs bokeh: the view extra).")
    view.add_argument("--follow", action="store_true",
                      help="the files are still being written: show their new steps")
    view.add_argument("--port", type=_later("_view", "port_number"), default=0, metavar="N",
                      help="the port to listen on (default: a free one)")
    view.add_argument("--no-browser", action="store_true",
                      help="print the address, open no browser")
    view.set_defaults(run=_later("_view", "run"))

    convert = commands.add_parser(
        "convert", parents=[width, part],
        help="write files as Parquet, CSV, HDF5, MATLAB or NetCDF",
        description="Writes each file as Parquet (or as --to says), a piece of the file at a "
                    "time: a float32 column per parameter (the time first), named by its name "
                    "line (a repeated name line as 'NAME (2)', 'NAME (3)', ...); the width, the "
                    "source path and the name lines in the file's metadata. With one FILE, OUT is "
                    "the "
                    "Parquet file (or a folder that exists); with several, OUT is a folder that "
                    "gets NAME.parquet for each FILE. Needs pyarrow: the parquet extra. "
                    "--to csv: a header of the name lines, the shortest text of each value "
                    "(the arrow extra); hdf5: a float32 dataset 'values' (steps, parameters) "
                    "with the names, n_digits and source as attributes (the hdf5 extra); mat: a "
                    "MATLAB level-5 file of 'values' (single) and 'names' (a cell array), "
                    "held in memory whole (the mat extra); netcdf: the Dataset of "
                    "Plot.to_xarray, held in memory whole (the netcdf extra).")
    convert.add_argument("files", nargs="+", metavar="FILE")
    convert.add_argument("-o", "--output", required=True, metavar="OUT")
    convert.add_argument("--progress", action=argparse.BooleanOptionalAction, default=None,
                         help="a progress bar on standard error (default: for several files "
                              "when standard error is a terminal)")
    convert.add_argument("--to", choices=tuple(SUFFIXES), default=None,
                         help="the format (default: the one OUT's suffix names, else parquet)")
    convert.set_defaults(run=_later("_convert", "run"))

    output_width = argparse.ArgumentParser(add_help=False)
    output_width.add_argument("--width", type=int, choices=WIDTHS,
                              help=f"field width of OUT: {WIDTHS[1]} keeps every value exactly, "
                                   f"{WIDTHS[0]} rounds to 6 digits")
    cut = commands.add_parser(
        "cut", parents=[width, part, output_width],
        help="the chosen parameters and steps as a plot file",
        description="Writes the chosen parameters and time steps of FILE as a plot file, a "
                    "piece at a time, at the width of FILE unless --width says; OUT appears "
                    "only when it is whole.")
    cut.add_argument("file", metavar="FILE")
    cut.add_argument("-o", "--output", required=True, metavar="OUT")
    cut.set_defaults(run=_later("_cut", "run"))

    merge = commands.add_parser(
        "merge", parents=[width], help="the files of a restarted run as one plot file",
        description="Writes the files of one run that was restarted, in order, as one plot "
                    "file: where a file's first time is not after the time reached so far, the "
                    "earlier files' steps from that time on are dropped (the later run "
                    "supersedes them). The files must have the same name lines. Written at the "
                    "widest of the files' widths, a piece at a time.")
    merge.add_argument("files", nargs="+", metavar="FILE")
    merge.add_argument("-o", "--output", required=True, metavar="OUT")
    merge.set_defaults(run=_later("_merge", "run"))

    diff = commands.add_parser(
        "diff", parents=[width], help="compare a run with a reference, parameter by parameter",
        description="Compares CANDIDATE with REFERENCE parameter by parameter: a value c is "
                    "within tolerance of r when |c - r| <= atol + rtol * |r|. Prints the "
                    "parameters beyond tolerance and a verdict. Two folders: each file of "
                    "either against the file of the same name in the other. Exit status 0 "
                    "when all agree, 1 when something differs or is missing, 2 when a file "
                    "cannot be read, two folders hold no files, or the arguments cannot be "
                    "used.")
    diff.add_argument("reference", metavar="REFERENCE")
    diff.add_argument("candidate", metavar="CANDIDATE")
    diff.add_argument("-p", "--parameter", action="append", dest="parameters", metavar="NAME",
                      help=f"{PARAMETER_HELP} (default: every parameter of both)")
    diff.add_argument("--rtol", type=_later("_diff", "tolerance"), default=0.0, metavar="X",
                      help="relative tolerance (default 0)")
    diff.add_argument("--atol", type=_later("_diff", "tolerance"), default=0.0, metavar="X",
                      help="absolute tolerance (default 0)")
    diff.add_argument("--tolerance", action="append", dest="tolerances",
                      type=_later("_diff", "tolerance_pair"), metavar="NAME=RTOL,ATOL",
                      help="the tolerances of one parameter; repeatable")
    diff.add_argument("--align", choices=("steps", "time"), default="steps",
                      help="step by step (default), or at the reference's times with the "
                           "candidate interpolated")
    diff.add_argument("--json", action="store_true", help="one JSON object instead of a table")
    diff.add_argument("--plot", metavar="OUT.png",
                      help="draw the differences of the failing parameters (or of -p) over time")
    diff.add_argument("-v", "--verbose", action="store_true",
                      help="list every parameter, not only those beyond tolerance")
    diff.set_defaults(run=_later("_diff", "run"))
    return parser


def _steps_attached(argv: Sequence[str]) -> list[str]:
    """The arguments with `--steps -1000:` joined into `--steps=-1000:`: argparse takes a
    separate value that starts with '-' for an option of its own."""
    joined: list[str] = []
    words = iter(argv)
    for word in words:
        if word == "--":  # what follows is files only
            return [*joined, word, *words]
        if word == STEPS_OPTION:
            value = next(words, None)
            joined.append(word if value is None else f"{word}={value}")
        else:
            joined.append(word)
    return joined


def main(argv: Sequence[str] | None = None) -> int:
    parser = _parser()
    args = parser.parse_args(_steps_attached(sys.argv[1:] if argv is None else argv))
    status: int = args.run(args)
    return status


if __name__ == "__main__":
    sys.exit(main())
