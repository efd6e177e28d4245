"""What a user would run instead of tarnex: readers that return the same lists of floats.

Every reader takes (path, n_digits) and returns (list of time floats, list of one list of floats
per further parameter), each float a binary32 value widened, as tarnex returns them.
"""

from __future__ import annotations

import os
from array import array

import numpy as np

FIELDS_PER_LINE = 10


def _parameter_count(first_line: str | bytes) -> int:
    return int(first_line.split()[-1])


def _lists_from_rows(values: np.ndarray) -> tuple[list[float], list[list[float]]]:
    """(time, columns) from binary32 values of shape (steps, parameters)."""
    by_parameter = np.ascontiguousarray(values.T)
    return by_parameter[0].tolist(), [row.tolist() for row in by_parameter[1:]]


def read_pure_python(path: str, n_digits: int):
    """The straightforward reader: slice each field, float() it, round to binary32 at the end."""
    with open(path, encoding="utf-8") as lines:
        parameters = _parameter_count(next(lines))
        for _ in range(parameters):
            next(lines)
        time: list[float] = []
        columns: list[list[float]] = [[] for _ in range(parameters - 1)]
        targets = [time] + columns
        for _lead in lines:
            for first in range(0, parameters, FIELDS_PER_LINE):
                line = next(lines)
                for k in range(min(FIELDS_PER_LINE, parameters - first)):
                    targets[first + k].append(float(line[k * n_digits:(k + 1) * n_digits]))
    return (array("f", time).tolist(), [array("f", column).tolist() for column in columns])


def _value_lines(path: str, n_digits: int) -> tuple[int, list[str]]:
    """The parameter count and the value lines, each padded to ten fields."""
    with open(path, encoding="utf-8") as f:
        parameters = _parameter_count(f.readline())
        for _ in range(parameters):
            f.readline()
        lines = f.read().splitlines()
    per_block = 1 + -(-parameters // FIELDS_PER_LINE)
    full = FIELDS_PER_LINE * n_digits
    kept = [line.ljust(full) for i, line in enumerate(lines) if i % per_block != 0]
    return parameters, kept


def _columns_from_table(table: np.ndarray, parameters: int):
    lines_per_block = -(-parameters // FIELDS_PER_LINE)
    steps = table.shape[0] // lines_per_block
    rows = table.reshape(steps, lines_per_block * FIELDS_PER_LINE)[:, :parameters]
    return _lists_from_rows(rows.astype(np.float32))


def read_genfromtxt(path: str, n_digits: int):
    """numpy.genfromtxt with the field widths as delimiter, on the value lines."""
    parameters, lines = _value_lines(path, n_digits)
    table = np.genfromtxt(lines, delimiter=[n_digits] * FIELDS_PER_LINE, dtype=np.float64)
    return _columns_from_table(np.atleast_2d(table), parameters)


def read_pandas_fwf(path: str, n_digits: int):
    """pandas.read_fwf with the field widths, skipping the header and the lead lines by number."""
    import pandas as pd

    with open(path, "rb") as f:
        parameters = _parameter_count(f.readline())
        total_lines = 1 + sum(chunk.count(b"\n") for chunk in iter(lambda: f.read(1 << 20), b""))
    per_block = 1 + -(-parameters // FIELDS_PER_LINE)
    header = parameters + 1
    skipped = list(range(header)) + list(range(header, total_lines, per_block))
    frame = pd.read_fwf(path, widths=[n_digits] * FIELDS_PER_LINE, header=None, skiprows=skipped,
                        dtype=np.float64)
    return _columns_from_table(frame.to_numpy(dtype=np.float64, na_value=np.nan), parameters)


def read_numpy_fast(path: str, n_digits: int):
    """The general numpy reader's values as lists: see read_numpy_fast_array."""
    return _lists_from_rows(read_numpy_fast_array(path, n_digits))


# Bytes past the last field of a short line are converted too, and dropped at the end.
@np.errstate(over="ignore", invalid="ignore")
def read_numpy_fast_array(path: str, n_digits: int) -> np.ndarray:
    """A general reader in numpy alone, for any layout, giving binary32 values of shape (steps,
    parameters). The file goes into one array; the
    value lines are gathered as rows of whole fields; each field is converted by vectorised
    arithmetic on the Fortran E shape (sign or blank, digit, full stop, digits, E, sign, two
    digits), its digit and exponent weights applied by one matrix product; a field of any other
    shape goes through float(). Like any reader that goes through binary64 it rounds twice, so it
    can be one unit off in rare cases.
    """
    size = os.path.getsize(path)
    width = n_digits
    line_bytes = FIELDS_PER_LINE * width
    data = np.empty(size + line_bytes, dtype=np.uint8)  # room for a window past the last line
    with open(path, "rb", buffering=0) as f:
        f.readinto(memoryview(data)[:size])
    data[size:] = ord(" ")
    feeds = np.flatnonzero(data[:size] == 10)
    if size and data[size - 1] != 10:  # the last line has no line feed of its own
        feeds = np.append(feeds, size)
    starts = np.concatenate(([0], feeds[:-1] + 1))
    parameters = _parameter_count(data[:feeds[0]].tobytes())
    lines_per_block = -(-parameters // FIELDS_PER_LINE)
    per_block = 1 + lines_per_block
    body = starts[parameters + 1:]
    steps = len(body) // per_block
    value_starts = body[:steps * per_block].reshape(steps, per_block)[:, 1:]
    windows = np.lib.stride_tricks.sliding_window_view(data, line_bytes)

    digits = 9 if width >= 15 else 6
    lead = width - digits - 5  # position of the first digit; the sign is just before it
    weights = np.zeros((width, 2))
    weights[lead, 0] = 10.0 ** (digits - 1)
    weights[lead + 2:lead + 1 + digits, 0] = 10.0 ** np.arange(digits - 2, -1, -1)
    weights[width - 2:, 1] = (10.0, 1.0)
    offsets = 48.0 * weights.sum(axis=0)
    digit_position = weights.any(axis=1)
    powers = 10.0 ** np.arange(-70, 71)  # index: power + 70
    fields_per_block = lines_per_block * FIELDS_PER_LINE
    real = np.arange(fields_per_block) < parameters

    out = np.empty((steps, fields_per_block), dtype=np.float32)
    # Chunks small enough to stay in the caches, with every work array allocated once.
    chunk_steps = max(1, 8192 // fields_per_block)
    fields = chunk_steps * fields_per_block
    real = np.tile(real, chunk_steps)
    as_float = np.empty((fields, width))
    parts = np.empty((fields, 2))
    shifted = np.empty((fields, width), dtype=np.uint8)
    is_digit = np.empty((fields, width), dtype=bool)
    power = np.empty(fields, dtype=np.intp)
    value = np.empty(fields)
    for begin in range(0, steps, chunk_steps):
        rows = value_starts[begin:begin + chunk_steps]
        count = rows.size * FIELDS_PER_LINE
        chars = windows[rows.reshape(-1)].reshape(-1, width)  # one row per field
        np.copyto(as_float[:count], chars, casting="unsafe")
        np.matmul(as_float[:count], weights, out=parts[:count])
        parts[:count] -= offsets
        mantissa, exponent = parts[:count, 0], parts[:count, 1]
        np.negative(exponent, out=exponent, where=chars[:, width - 3] == ord("-"))
        np.add(exponent, 70 - (digits - 1), out=power[:count], casting="unsafe")
        np.clip(power[:count], 0, powers.size - 1, out=power[:count])
        np.multiply(mantissa, powers[power[:count]], out=value[:count])
        np.negative(value[:count], out=value[:count], where=chars[:, lead - 1] == ord("-"))
        np.subtract(chars, 48, out=shifted[:count])
        np.less_equal(shifted[:count], 9, out=is_digit[:count])
        is_digit[:count] |= ~digit_position
        shaped = is_digit[:count].all(axis=1)
        shaped &= chars[:, lead + 1] == ord(".")
        shaped &= (chars[:, width - 4] | 0x20) == ord("e")
        for i in np.flatnonzero(~shaped & real[:count]):
            value[i] = float(chars[i].tobytes())
        out[begin:begin + len(rows)] = value[:count].reshape(len(rows), fields_per_block)
    return out[:, :parameters]


def read_numpy_strided(path: str, n_digits: int):
    """The strongest numpy reader we know: see peer_strided.py."""
    from peer_strided import read_numpy_strided as read

    return read(path, n_digits)


# The first is the reference peer: the benchmark reports tarnex's ratio to it.
PEERS = {
    "numpy-strided": read_numpy_strided,
    "numpy-fast": read_numpy_fast,
    "pure Python": read_pure_python,
    "genfromtxt": read_genfromtxt,
    "pandas.read_fwf": read_pandas_fwf,
}
