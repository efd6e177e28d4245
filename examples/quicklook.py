"""A quick look at a VORMANT plot file: its shape, and the range of chosen parameters.

    python examples/quicklook.py FILE N_DIGITS [-p INDEX ...] [--plot OUT.png]

Parameter 0 is the time; parameters 1 and up are the file's other columns. With --plot, the
chosen parameters are drawn over time with matplotlib (installed separately).
"""

from __future__ import annotations

import argparse
import sys

import tarnex


def parse_args(argv: list[str]) -> argparse.Namespace:
    parser = argparse.ArgumentParser(
        description="Summarise a VORMANT plot file and optionally plot some of its parameters."
    )
    parser.add_argument("file", help="the plot file")
    parser.add_argument("n_digits", type=int, help="field width: 12 (6 digits) or 15 (9 digits)")
    parser.add_argument("-p", "--parameter", type=int, action="append", dest="parameters",
                        metavar="INDEX", help="a parameter to summarise (1 and up); repeatable")
    parser.add_argument("--plot", metavar="OUT.png", help="draw the chosen parameters over time")
    return parser.parse_args(argv)


def summary_lines(time: list[float], columns: list[list[float]], chosen: list[int]) -> list[str]:
    lines = [f"parameters: {len(columns) + 1}", f"time steps: {len(time)}"]
    if time:
        lines.append(f"time range: {time[0]:.7g} .. {time[-1]:.7g}")
    for index in chosen:
        column = columns[index - 1]
        if column:
            lines.append(f"parameter {index}: min {min(column):.7g}  max {max(column):.7g}  "
                         f"last {column[-1]:.7g}")
        else:
            lines.append(f"parameter {index}: no values")
    return lines


def draw(path: str, time: list[float], columns: list[list[float]], chosen: list[int]) -> None:
    try:
        import matplotlib
    except ImportError:
        raise SystemExit("--plot needs matplotlib: pip install matplotlib") from None
    matplotlib.use("Agg")
    from matplotlib import pyplot

    figure, axes = pyplot.subplots(figsize=(8, 4.5))
    for index in chosen:
        axes.plot(time, columns[index - 1], label=f"parameter {index}")
    axes.set_xlabel("time")
    axes.legend()
    figure.tight_layout()
    figure.savefig(path, dpi=100)
    pyplot.close(figure)


def main(argv: list[str] | None = None) -> int:
    args = parse_args(sys.argv[1:] if argv is None else argv)
    time, columns = tarnex.rust_read_vormant(args.file, args.n_digits)
    chosen = args.parameters or list(range(1, min(len(columns), 3) + 1))
    bad = [index for index in chosen if not 1 <= index <= len(columns)]
    if bad:
        print(f"no such parameter: {bad[0]} (the file has 1 to {len(columns)})", file=sys.stderr)
        return 2
    print("\n".join(summary_lines(time, columns, chosen)))
    if args.plot:
        draw(args.plot, time, columns, chosen)
        print(f"plot written to {args.plot}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
