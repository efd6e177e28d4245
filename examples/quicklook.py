"""A quick look at a VORMANT plot file: its shape, and the range of chosen parameters.

    python examples/quicklook.py FILE N_DIGITS [-p INDEX ...] [--plot OUT.png]

Parameter 0 is the time; parameters 1 and up are the file's other columns. Without -p the
first three are summarised. NaN values are left out of a parameter's minimum and maximum and
counted instead. With --plot, the chosen parameters are drawn over time into an 800x450 PNG
with matplotlib (installed separately).

Exit status: 0 on success, 1 when the file cannot be read or the plot cannot be drawn, 2 for
unusable arguments.
"""

from __future__ import annotations

import argparse
import math
import sys
from types import ModuleType

import tarnex

DEFAULT_PARAMETERS = 3
FIGURE_INCHES = (8, 4.5)
FIGURE_DPI = 100
MISSING_MATPLOTLIB = "--plot needs matplotlib: pip install matplotlib"


def positive_int(text: str) -> int:
    value = int(text)
    if value <= 0:
        raise argparse.ArgumentTypeError(f"must be positive: {text}")
    return value


def parse_args(argv: list[str]) -> argparse.Namespace:
    parser = argparse.ArgumentParser(
        description="Summarise a VORMANT plot file and optionally plot some of its parameters."
    )
    parser.add_argument("file", help="the plot file")
    parser.add_argument("n_digits", type=positive_int,
                        help="field width: 12 (6 digits) or 15 (9 digits)")
    parser.add_argument("-p", "--parameter", type=int, action="append", dest="parameters",
                        metavar="INDEX", help="a parameter to summarise (1 and up); repeatable")
    parser.add_argument("--plot", metavar="OUT.png", help="draw the chosen parameters over time")
    return parser.parse_args(argv)


def load_pyplot() -> ModuleType | None:
    """pyplot on a backend that needs no display, or None when matplotlib is not installed."""
    try:
        import matplotlib
    except ImportError:
        return None
    matplotlib.use("Agg")
    from matplotlib import pyplot

    return pyplot


def read_plot_file(path: str, n_digits: int) -> tuple[list[float], list[list[float]]] | None:
    """The file's (time, columns), or None after saying why it cannot be read.

    The reader reports its failures as PanicException, a BaseException (its report is already
    on standard error by then), so everything but an interrupt or an exit ends up here.
    """
    try:
        return tarnex.rust_read_vormant(path, n_digits)
    except (KeyboardInterrupt, SystemExit):
        raise
    except BaseException as error:  # noqa: B036 (PanicException has no importable name)
        print(f"cannot read {path}: {error}", file=sys.stderr)
        return None


def out_of_range_message(index: int, n_columns: int) -> str:
    if n_columns == 0:
        return f"no such parameter: {index} (the file has only the time)"
    return f"no such parameter: {index} (the file has 1 to {n_columns})"


def value_range(column: list[float]) -> tuple[float, float, int]:
    """(min, max, NaN count): NaN compares false with everything, so min() and max() over a
    column holding one would depend on where it stands."""
    numbers = [value for value in column if not math.isnan(value)]
    if not numbers:
        return math.nan, math.nan, len(column)
    return min(numbers), max(numbers), len(column) - len(numbers)


def parameter_line(index: int, column: list[float]) -> str:
    if not column:
        return f"parameter {index}: no values"
    low, high, nans = value_range(column)
    line = f"parameter {index}: min {low:.7g}  max {high:.7g}  last {column[-1]:.7g}"
    return f"{line}  ({nans} NaN)" if nans else line


def summary_lines(time: list[float], columns: list[list[float]], chosen: list[int]) -> list[str]:
    lines = [f"parameters: {len(columns) + 1}", f"time steps: {len(time)}"]
    if time:
        lines.append(f"time range: {time[0]:.7g} .. {time[-1]:.7g}")
    lines.extend(parameter_line(index, columns[index - 1]) for index in chosen)
    return lines


def draw(pyplot: ModuleType, path: str, time: list[float], columns: list[list[float]],
         chosen: list[int]) -> None:
    figure, axes = pyplot.subplots(figsize=FIGURE_INCHES)
    try:
        for index in chosen:
            axes.plot(time, columns[index - 1], label=f"parameter {index}")
        axes.set_xlabel("time")
        if chosen:
            axes.legend()
        figure.tight_layout()
        figure.savefig(path, dpi=FIGURE_DPI, format="png")
    finally:
        pyplot.close(figure)


def main(argv: list[str] | None = None) -> int:
    args = parse_args(sys.argv[1:] if argv is None else argv)
    pyplot = None
    if args.plot:
        # Checked before the file is read, so a missing library costs no work.
        pyplot = load_pyplot()
        if pyplot is None:
            print(MISSING_MATPLOTLIB, file=sys.stderr)
            return 1

    content = read_plot_file(args.file, args.n_digits)
    if content is None:
        return 1
    time, columns = content
    chosen = args.parameters or list(range(1, min(len(columns), DEFAULT_PARAMETERS) + 1))
    bad = [index for index in chosen if not 1 <= index <= len(columns)]
    if bad:
        print(out_of_range_message(bad[0], len(columns)), file=sys.stderr)
        return 2

    print("\n".join(summary_lines(time, columns, chosen)))
    if pyplot is not None:
        try:
            draw(pyplot, args.plot, time, columns, chosen)
        except OSError as error:
            print(f"cannot write {args.plot}: {error}", file=sys.stderr)
            return 1
        print(f"plot written to {args.plot}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
