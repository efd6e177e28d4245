"""The strongest numpy reader we know how to write: the file's time step blocks as rows of a 2-D
byte array, the fields as strided views of it, their digits combined eight at a time by integer
multiply-adds (SWAR) and the value made in binary64.

It relies on what nearly every plot file has: every lead line of one length and every value line
full, so that the blocks repeat with a fixed byte length. Where the file is not laid out so it
hands over to the general numpy reader of peers.py; fields of another shape inside such a file go
through float(). Like every reader that goes through binary64 it rounds twice, so a value can be
one unit off.
"""

from __future__ import annotations

import os

import numpy as np

FIELDS_PER_LINE = 10
CHUNK_FIELDS = 1 << 15  # fields converted per step: the work arrays stay in the caches

HIGH_BITS = 0x8080808080808080
POWER_BIAS = 64
# Exact powers of ten up to 10^22; past that, within a unit of binary64, far below float32's.
POWERS = 10.0 ** np.abs(np.arange(-POWER_BIAS, POWER_BIAS))
MULTIPLIER = np.where(np.arange(-POWER_BIAS, POWER_BIAS) > 0, POWERS, 1.0)
DIVISOR = np.where(np.arange(-POWER_BIAS, POWER_BIAS) < 0, POWERS, 1.0)


class Layout:
    """Where the values of a plot file lie: the header's length, the block length, the fields."""

    def __init__(self, data: np.ndarray, n_digits: int):
        feeds = line_feeds_of_header(data)
        self.parameters = int(data[:feeds[0]].tobytes().split()[-1])
        if feeds.size <= self.parameters + 1:
            raise ValueError("the file ends within its header or first lead line")
        self.body = int(feeds[self.parameters]) + 1
        self.width = n_digits
        self.full_lines, self.rest = divmod(self.parameters, FIELDS_PER_LINE)
        self.value_start = int(feeds[self.parameters + 1]) + 1 - self.body  # after the lead line
        self.line_bytes = FIELDS_PER_LINE * n_digits + 1
        self.block = self.value_start + self.full_lines * self.line_bytes + (
            self.rest * n_digits + 1 if self.rest else 0)
        self.steps = (data.size - self.body) // self.block

    def holds(self, data: np.ndarray) -> bool:
        """Every block of the same length, its line feeds where they belong and nowhere else."""
        if self.steps * self.block != data.size - self.body:
            return False
        feeds = [self.value_start - 1]
        feeds += [self.value_start + (j + 1) * self.line_bytes - 1 for j in range(self.full_lines)]
        if self.rest:
            feeds.append(self.block - 1)
        blocks = data[self.body:].reshape(self.steps, self.block)
        if not (blocks[:, feeds] == ord("\n")).all():
            return False
        return int(np.count_nonzero(data[self.body:] == ord("\n"))) == self.steps * len(feeds)


def line_feeds_of_header(data: np.ndarray) -> np.ndarray:
    """The offsets of the line feeds of the first line, the name lines and the first lead line."""
    limit = 1 << 16
    while True:
        feeds = np.flatnonzero(data[:limit] == ord("\n"))
        if feeds.size == 0 and limit < data.size:
            limit *= 4
            continue
        parameters = int(data[:feeds[0]].tobytes().split()[-1]) if feeds.size else 0
        if feeds.size > parameters + 1 or limit >= data.size:
            return feeds
        limit *= 4


def field_view(data: np.ndarray, layout: Layout, dtype, offset: int, first: int, steps: int,
               lines: int, fields: int) -> np.ndarray:
    """Of every field of `steps` blocks from `first` on, in `lines` lines of `fields` fields from
    the first value line, the item of `dtype` at byte `offset` of the field: shape (steps, lines,
    fields), straight on the file's bytes."""
    base = layout.body + first * layout.block + layout.value_start + offset
    return np.ndarray((steps, lines, fields), dtype=dtype, buffer=data, offset=base,
                      strides=(layout.block, layout.line_bytes, layout.width))


def eight_digits(words: np.ndarray) -> np.ndarray:
    """The number written by the eight digit values (0 to 9) of each little-endian word, the
    first digit in the lowest byte: pairs, then fours, then eight, by multiply-adds, in place."""
    scratch = np.empty_like(words)
    for shift, scale, mask in ((8, 10, 0x00FF00FF00FF00FF), (16, 100, 0x0000FFFF0000FFFF),
                               (32, 10000, 0x00000000FFFFFFFF)):
        np.right_shift(words, shift, out=scratch)
        words *= scale
        words += scratch
        words &= np.uint64(mask)
    return words


def byte_pair_tables() -> tuple[np.ndarray, np.ndarray, np.ndarray]:
    """Tables indexed by two bytes of a field read as a little-endian 16-bit number: the sign and
    leading digit (the digit, 16 more for a minus sign, 255 for anything else); the exponent's E
    and sign (1, -1, 0 for anything else); its two digits (their value, 255 for anything else)."""
    first, second = np.divmod(np.arange(1 << 16), 256)[::-1]  # the byte read first, then next
    first_digit, second_digit = first - ord("0"), second - ord("0")
    first_is_digit = (first_digit >= 0) & (first_digit <= 9)
    second_is_digit = (second_digit >= 0) & (second_digit <= 9)
    head = np.full(1 << 16, 255, dtype=np.uint8)
    for sign, flag in ((" ", 0), ("-", 16)):
        signed = (first == ord(sign)) & second_is_digit
        head[signed] = second_digit[signed] + flag
    exponent_sign = np.zeros(1 << 16, dtype=np.int16)
    exponent_sign[(first == ord("E")) & (second == ord("+"))] = 1
    exponent_sign[(first == ord("E")) & (second == ord("-"))] = -1
    exponent = np.where(first_is_digit & second_is_digit, first_digit * 10 + second_digit, 255)
    return head, exponent_sign, exponent.astype(np.int16)


HEAD, EXPONENT_SIGN, EXPONENT = byte_pair_tables()


def convert(data: np.ndarray, layout: Layout, first: int, steps: int, lines: int, fields: int,
            from_line: int) -> tuple[np.ndarray, np.ndarray]:
    """The binary64 values of a group of fields of the Fortran E shape (sign or blank, digit,
    full stop, digits, E, sign, two digits), and which fields had that shape."""
    width = layout.width
    digits = 9 if width >= 15 else 6

    def view(dtype, offset):
        return field_view(data, layout, dtype, offset + from_line * layout.line_bytes, first,
                          steps, lines, fields)

    # The eight bytes that end at the last digit, XORed with the shape they should have: digits
    # become their values, the full stop of a 6-digit field zero. Its sign and leading digit are
    # cleared here: HEAD reads them. A byte out of place sets the high bit of its byte in check.
    if digits == 6:  # sign, leading digit, full stop and the five digits after it
        offset, cleared, template = 0, 0xFFFF, b"\0\0.00000"
        limits = bytes([0, 0, 0x7F] + [0x76] * 5)
    else:  # the eight digits after the full stop
        offset, cleared, template, limits = 3, 0, b"0" * 8, bytes([0x76] * 8)
    words = view("<u8", offset).astype(np.uint64)
    if cleared:
        words &= np.uint64(~cleared & ((1 << 64) - 1))
    words ^= np.uint64(int.from_bytes(template, "little"))
    check = words + np.uint64(int.from_bytes(limits, "little"))
    check |= words
    shaped = (check & np.uint64(HIGH_BITS)) == 0
    if digits == 9:
        shaped &= view("u1", 2) == ord(".")
    mantissa = eight_digits(words).astype(np.float64)

    head = HEAD.take(view("<u2", 0))
    shaped &= head != 255
    mantissa += (head & 15) * 10.0 ** (digits - 1)
    exponent_sign = EXPONENT_SIGN.take(view("<u2", width - 4))
    exponent = EXPONENT.take(view("<u2", width - 2))
    shaped &= (exponent_sign != 0) & (exponent != 255)
    exponent *= exponent_sign
    exponent += POWER_BIAS - (digits - 1)
    mantissa *= MULTIPLIER.take(exponent, mode="clip")  # clipped: fields of another shape
    mantissa /= DIVISOR.take(exponent, mode="clip")
    np.negative(mantissa, out=mantissa, where=head >= 16)
    return mantissa, shaped


@np.errstate(over="ignore", invalid="ignore")
def read_numpy_strided(path: str, n_digits: int):
    """Reads the plot file at `path` into (time, columns) as lists of floats."""
    from peers import _lists_from_rows, read_numpy_fast  # peers.py lists this reader

    size = os.path.getsize(path)
    data = np.empty(size + 1, dtype=np.uint8)
    with open(path, "rb", buffering=0) as f:
        f.readinto(memoryview(data)[:size])
    # A last line without its line feed is given one, so that its block has the common length.
    if size and data[size - 1] != ord("\n"):
        data[size] = ord("\n")
        size += 1
    data = data[:size]
    try:
        layout = Layout(data, n_digits)
    except (ValueError, IndexError):
        return read_numpy_fast(path, n_digits)
    if not layout.holds(data):
        return read_numpy_fast(path, n_digits)

    out = np.empty((layout.steps, layout.parameters), dtype=np.float32)
    full = layout.full_lines * FIELDS_PER_LINE
    chunk_steps = max(1, CHUNK_FIELDS // layout.parameters)
    groups = [(layout.full_lines, FIELDS_PER_LINE, 0, 0)] if layout.full_lines else []
    if layout.rest:
        groups.append((1, layout.rest, layout.full_lines, full))
    for first in range(0, layout.steps, chunk_steps):
        steps = min(chunk_steps, layout.steps - first)
        for lines, fields, from_line, column in groups:
            values, shaped = convert(data, layout, first, steps, lines, fields, from_line)
            if not shaped.all():
                for step, line, field in np.argwhere(~shaped):
                    start = (layout.body + (first + step) * layout.block + layout.value_start +
                             (from_line + line) * layout.line_bytes + field * n_digits)
                    values[step, line, field] = float(data[start:start + n_digits].tobytes())
            out[first:first + steps, column:column + lines * fields] = values.reshape(steps, -1)
    return _lists_from_rows(out)
