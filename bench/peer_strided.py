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


def field_bytes(data: np.ndarray, layout: Layout, first: int, steps: int, lines: int,
                fields: int, from_line: int) -> np.ndarray:
    """The bytes of the fields of `steps` blocks from `first` on, in `lines` lines of `fields`
    fields from value line `from_line` on, one row per field: the one copy made of them."""
    base = layout.body + first * layout.block + layout.value_start + from_line * layout.line_bytes
    lines_view = np.ndarray((steps, lines, fields * layout.width), dtype=np.uint8, buffer=data,
                            offset=base, strides=(layout.block, layout.line_bytes, 1))
    return np.ascontiguousarray(lines_view).reshape(-1, layout.width)


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


def little_endian(text: bytes) -> int:
    return int.from_bytes(text, "little")


def scale_table(digits: int) -> np.ndarray:
    """Per index e + 100 (exponent negative) + 200 (value negative), for e the exponent's two
    digits: the factor and the divisor that take a mantissa of `digits` digits to its value,
    each an exact power of ten where binary64 has one (up to 10^22), so that the result is the
    correctly rounded binary64; past that within a unit of binary64, far below binary32's."""
    index = np.arange(400)
    exponent = np.where(index % 200 >= 100, -(index % 100), index % 100) - (digits - 1)
    power = 10.0 ** np.abs(exponent)
    sign = np.where(index >= 200, -1.0, 1.0)
    return np.stack([sign * np.where(exponent > 0, power, 1.0),
                     np.where(exponent < 0, power, 1.0)], axis=1)


SCALES = {6: scale_table(6), 9: scale_table(9)}
HIGH_BITS_32 = 0x80808080
# The exponent XORed with "E+00": E and a plus sign give zero bytes, a minus sign 0x06 in the
# second byte, digits their values.
EXPONENT_SHAPE = little_endian(b"E+00")
EXPONENT_MINUS = (ord("+") ^ ord("-")) << 8
EXPONENT_LIMITS = little_endian(bytes([0x7F, 0x7F, 0x76, 0x76]))
MINUS_SIGN = ord(" ") ^ ord("-")  # the sign byte XORed with a blank


def leading_part(view, digits: int):
    """The digits of the mantissa as a little-endian word of digit values (the first in the
    lowest byte, zeros before it), the sign byte XORed with a blank, whether the bytes up to the
    last digit have the shape (sign or blank, digit, full stop, digits), and for nine digits the
    leading digit's part of the mantissa.

    A byte XORed with the shape it should have is a digit's value or zero where the field has
    that shape; adding 0x76 to a digit's value (0x7F to what must be zero) leaves its high bit
    clear, and so does nothing else."""
    if digits == 6:  # sign, leading digit, full stop and five digits make one word
        words = view("<u8", 0).astype(np.uint64)
        words ^= np.uint64(little_endian(b" 0.00000"))
        sign = words & np.uint64(0xFF)
        words ^= sign
        check = words + np.uint64(little_endian(bytes([0, 0x76, 0x7F] + [0x76] * 5)))
        check |= words
        shaped = (check & np.uint64(HIGH_BITS)) == 0
        words += (words & np.uint64(0xFF00)) * np.uint64(255)  # leading digit next to the rest
        return words, sign, shaped, None
    # Nine digits: the eight after the full stop make one word, the leading one comes apart.
    words = view("<u8", 3).astype(np.uint64)
    words ^= np.uint64(little_endian(b"0" * 8))
    check = words + np.uint64(0x7676767676767676)
    check |= words
    shaped = (check & np.uint64(HIGH_BITS)) == 0
    head = view("<u4", 0).astype(np.uint32)  # sign, leading digit, full stop
    head ^= np.uint32(little_endian(b" 0.\0"))
    head &= np.uint32(0x00FFFFFF)
    sign = head & np.uint32(0xFF)
    head ^= sign
    check32 = head + np.uint32(little_endian(bytes([0, 0x76, 0x7F, 0])))
    check32 |= head
    shaped &= (check32 & np.uint32(HIGH_BITS_32)) == 0
    return words, sign, shaped, (head >> 8).astype(np.float64) * 1e8


def convert(rows: np.ndarray) -> tuple[np.ndarray, np.ndarray]:
    """The binary64 values of fields of the Fortran E shape (sign or blank, digit, full stop,
    digits, E, sign, two digits), one a row, and which fields had that shape."""
    width = rows.shape[1]
    digits = 9 if width >= 15 else 6

    def view(dtype, offset):  # the item of `dtype` at byte `offset` of every field
        return np.ndarray((rows.shape[0],), dtype=dtype, buffer=rows, offset=offset,
                          strides=(width,))

    words, sign, shaped, leading = leading_part(view, digits)
    negative = sign == MINUS_SIGN
    shaped &= negative | (sign == 0)
    mantissa = eight_digits(words).astype(np.float64)
    if leading is not None:
        mantissa += leading

    tail = view("<u4", width - 4).astype(np.uint32)
    tail ^= np.uint32(EXPONENT_SHAPE)
    exponent_sign = tail & np.uint32(0xFF00)
    tail ^= exponent_sign
    check = tail + np.uint32(EXPONENT_LIMITS)
    check |= tail
    shaped &= (check & np.uint32(HIGH_BITS_32)) == 0
    exponent_negative = exponent_sign == EXPONENT_MINUS
    shaped &= exponent_negative | (exponent_sign == 0)
    index = (tail >> 16) & np.uint32(0xFF)
    index *= np.uint32(10)
    index += tail >> 24
    index += exponent_negative * np.uint32(100)
    index += negative * np.uint32(200)
    scale = SCALES[digits].take(index, axis=0, mode="clip")  # clipped: fields of other shapes
    mantissa *= scale[:, 0]
    mantissa /= scale[:, 1]
    return mantissa, shaped


def read_numpy_strided(path: str, n_digits: int):
    """Reads the plot file at `path` into (time, columns) as lists of floats."""
    from peers import _lists_from_rows  # peers.py lists this reader

    return _lists_from_rows(read_numpy_strided_array(path, n_digits))


@np.errstate(over="ignore", invalid="ignore")
def read_numpy_strided_array(path: str, n_digits: int) -> np.ndarray:
    """Reads the plot file at `path` into binary32 values of shape (steps, parameters), the time
    in column 0."""
    from peers import read_numpy_fast_array

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
        return read_numpy_fast_array(path, n_digits)
    if not layout.holds(data):
        return read_numpy_fast_array(path, n_digits)

    out = np.empty((layout.steps, layout.parameters), dtype=np.float32)
    full = layout.full_lines * FIELDS_PER_LINE
    chunk_steps = max(1, CHUNK_FIELDS // layout.parameters)
    groups = [(layout.full_lines, FIELDS_PER_LINE, 0, 0)] if layout.full_lines else []
    if layout.rest:
        groups.append((1, layout.rest, layout.full_lines, full))
    for first in range(0, layout.steps, chunk_steps):
        steps = min(chunk_steps, layout.steps - first)
        for lines, fields, from_line, column in groups:
            rows = field_bytes(data, layout, first, steps, lines, fields, from_line)
            values, shaped = (part.reshape(steps, lines, fields) for part in convert(rows))
            if not shaped.all():
                for step, line, field in np.argwhere(~shaped):
                    start = (layout.body + (first + step) * layout.block + layout.value_start +
                             (from_line + line) * layout.line_bytes + field * n_digits)
                    values[step, line, field] = float(data[start:start + n_digits].tobytes())
            out[first:first + steps, column:column + lines * fields] = values.reshape(steps, -1)
    return out
