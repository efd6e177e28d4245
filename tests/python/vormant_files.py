"""Plot files for the vormant tests, and the check of a Plot against tarnex's lists."""

import pathlib
import struct
import sys

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tools"))
from plotgen import plot_file_text  # noqa: E402

SAMPLES = ROOT / "samples"
SAMPLE_6 = SAMPLES / "plot-6digits.txt"
SAMPLE_9 = SAMPLES / "plot-9digits.txt"
SAMPLE_WIDTHS = [(SAMPLE_6, 12), (SAMPLE_9, 15)]


def write_plot(folder, parameters, steps, width, seed=1, name=None):
    path = pathlib.Path(folder) / (name or f"p{parameters}-t{steps}-w{width}-s{seed}.txt")
    path.write_text(plot_file_text(parameters, steps, width, seed))
    return str(path)


def with_bad_field(source, copy, step, parameter, parameters, width):
    """Writes to `copy` the plot file `source` with the field of `parameter` at `step` made "x";
    gives the number of that field's line."""
    lines = pathlib.Path(source).read_text().splitlines(keepends=True)
    line = parameters + 2 + (1 + -(-parameters // 10)) * step + 1 + parameter // 10
    start = (parameter % 10) * width
    text = lines[line - 1]
    lines[line - 1] = text[:start] + "x".rjust(width) + text[start + width:]
    pathlib.Path(copy).write_text("".join(lines))
    return line


def plot_text(names, rows):
    """A 12-digit plot file: `names` (the time's first), and a value line of `rows` per step."""
    lines = [f" VORMANT PLOT FILE   {len(names)}", *names]
    for step, fields in enumerate(rows, start=1):
        lines += [f" TIME STEP {step}", "".join(field.rjust(12) for field in fields)]
    return "\n".join(lines) + "\n"


def with_nan(path, parameters, width, every=3):
    """The plot file at `path` with the second field of every `every`-th value line NaN, and
    of its first eight value lines too, so that a group can hold NaN alone."""
    lines = pathlib.Path(path).read_text().splitlines(keepends=True)
    value_lines = [number for number, line in enumerate(lines)
                   if number > parameters and "STEP" not in line]
    for count, number in enumerate(value_lines):
        if count < 8 or count % every == 0:
            line = lines[number]
            lines[number] = line[:width] + "NaN".rjust(width) + line[2 * width:]
    pathlib.Path(path).write_text("".join(lines))
    return path


def hiding(env, folder, names):
    """`env` with a module path on which importing any of `names` fails."""
    folder = pathlib.Path(folder) / "-".join(names)
    folder.mkdir(exist_ok=True)
    for name in names:
        (folder / f"{name}.py").write_text(f'raise ImportError("{name} is hidden")\n')
    return {**env, "PYTHONPATH": f"{folder}:{env['PYTHONPATH']}"}


def bits(value):
    """A float as the bits of its binary64: -0.0 differs from 0.0, NaN equals itself."""
    return struct.pack("<d", value)


def rows_of(time, columns):
    """tarnex's (time, columns) as rows: the time first, then one value per parameter."""
    return [[t, *(column[step] for column in columns)] for step, t in enumerate(time)]


def assert_same_values(plot, time, columns):
    assert plot.values.format == "f" and plot.values.itemsize == 4
    assert plot.values.shape == (len(time), len(columns) + 1)
    got = [[bits(value) for value in row] for row in plot.values.tolist()]
    assert got == [[bits(value) for value in row] for row in rows_of(time, columns)]
