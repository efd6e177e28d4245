"""Sizes beyond 32 bits: field positions computed from an n_digits near 2^64 or above 2^32, and
value lines of tens of megabytes gathered, checked, cut and trimmed whole."""

import os

import pytest

MB = 1 << 20

# (P, n_digits): for each, P * n_digits or a field border wraps in 64-bit arithmetic to a
# position within the value line, or n_digits truncated to 32 bits is 12, the line's own field
# width. A call that computed positions that way would cut fields from the line and succeed.
WRAPPING_WIDTHS = [
    (2, 2**63),  # 2n = 2^64
    (2, 2**63 + 1),  # 2n = 2^64 + 2
    (3, -(-(2**64) // 3)),  # 3n = 2^64 + 2
    (4, 2**62),  # 4n = 2^64
    (7, -(-(2**64) // 7)),  # 7n = 2^64 + 5
    (10, 2**63),  # 10n = 5 * 2^64
    (10, -(-(2**64) // 10)),  # 10n = 2^64 + 4
    (11, -(-(2**64) // 10)),  # ten fields on the first value line as well
    (10, 2**64 - 1),
    (1, 2**32 + 12),
    (3, 2**32 + 12),
    (12, 2**32 + 12),
]


@pytest.mark.parametrize("count, width", WRAPPING_WIDTHS)
def test_field_borders_never_wrap_into_a_success(read, panic_exception, plot_file, count, width):
    fields = [f"{p + 0.5:12.5E}" for p in range(count)]
    value_lines = ["".join(fields[start : start + 10]) for start in range(0, count, 10)]
    header = f"{count}\n" + "name\n" * count
    path = plot_file(header + "lead\n" + "\n".join(value_lines) + "\n")
    assert read(path, 12)[0] == [0.5]
    with pytest.raises(panic_exception) as info:
        read(path, width)
    length = len(value_lines[0])
    message = f"end byte index {width} is out of bounds for string of length {length}"
    assert info.value.args == (message,)


# --- value lines of tens of megabytes -----------------------------------------------------------

skip_scale = pytest.mark.skipif(
    os.environ.get("TARNEX_SKIP_SCALE") == "1", reason="TARNEX_SKIP_SCALE=1"
)


def write_repeated(out, unit, size):
    """Writes `unit` repeated to `size` bytes (a multiple of its length)."""
    assert size % len(unit) == 0
    chunk = unit * (MB // len(unit))
    written = 0
    while written + len(chunk) <= size:
        out.write(chunk)
        written += len(chunk)
    out.write(unit * ((size - written) // len(unit)))


# Four bytes of text that are not whitespace, one of them inside a three-byte character; six
# bytes of whitespace, a three-byte ideographic space among them.
FILLER = "x\u20ac".encode()
BLANKS = " \t\u3000 ".encode()
assert len(FILLER) == 4 and len(BLANKS) == 6


@skip_scale
def test_long_lines(read, panic_exception, tmp_path):
    # P = 1, in fields of 12: each block a lead line of 30 MB and a value line of 12 bytes of
    # time then 70 MB that are never looked at.
    ignored = tmp_path / "ignored.txt"
    times = ["  1.25000E+00", " -3.50000E-02"]
    value_length = 12 + 70 * MB
    with open(ignored, "wb") as out:
        out.write(b"1\ntime\n")
        for time in times:
            write_repeated(out, FILLER, 30 * MB)
            out.write(b"\n" + time[1:].encode())
            write_repeated(out, FILLER, 70 * MB)
            out.write(b"\r\n")
    # P = 1, one field as wide as the whole value line of 84 MB: blanks around the time.
    whole = tmp_path / "whole.txt"
    whole_length = 2 * 42 * MB + 12
    with open(whole, "wb") as out:
        out.write(b"1\ntime\n")
        for time in times:
            out.write(b"lead\n")
            write_repeated(out, BLANKS, 42 * MB)
            out.write(time[1:].encode())
            write_repeated(out, BLANKS, 42 * MB)
            out.write(b"\n")
    try:
        assert read(str(ignored), 12) == ([1.25, -0.03500000014901161], [])
        assert read(str(whole), whole_length) == ([1.25, -0.03500000014901161], [])
        # Widths that reach past the lines by one byte, or by 2^32: named exactly.
        for path, width, length in [
            (whole, whole_length + 1, whole_length),
            (ignored, 2**32 + 12, value_length),
            (whole, 2**32 + whole_length, whole_length),
        ]:
            with pytest.raises(panic_exception) as info:
                read(str(path), width)
            assert info.value.args == (
                f"end byte index {width} is out of bounds for string of length {length}",
            )
    finally:
        ignored.unlink()
        whole.unlink()


@skip_scale
@pytest.mark.skipif(
    os.environ.get("TARNEX_SCALE_BEYOND_4GIB") != "1",
    reason="needs about 9 GB of memory; TARNEX_SCALE_BEYOND_4GIB=1 runs it",
)
def test_value_line_longer_than_4_gib(read, tmp_path):
    # The line's bytes after the time are a hole of the file: NUL bytes that take no disk.
    path = tmp_path / "sparse.txt"
    with open(path, "wb") as out:
        out.write(b"1\ntime\nlead\n         1.5")
        out.seek(2**32 + 2**28, os.SEEK_CUR)
        out.write(b"\n")
    try:
        assert read(str(path), 12) == ([1.5], [])
    finally:
        path.unlink()
