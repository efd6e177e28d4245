"""Whole plot files read through the module, against values worked out here exactly, and every
fatal message of the reader as the Python caller receives it."""

import math
import random
import re
import struct
from fractions import Fraction

import pytest

# --- the exact reference -------------------------------------------------------------------


def binary32(text):
    """The binary32 value nearest to the decimal `text` (ties to even), as a float: worked out
    with exact fractions, so that nothing is rounded twice."""
    text = text.strip()
    negative = text.startswith("-")
    word = text.lstrip("+-").lower()
    if word in ("inf", "infinity"):
        return -math.inf if negative else math.inf
    if word == "nan":
        return -math.nan if negative else math.nan
    magnitude = abs(Fraction(text))
    if magnitude == 0:
        return -0.0 if negative else 0.0
    exponent = magnitude.numerator.bit_length() - magnitude.denominator.bit_length()
    if Fraction(2) ** exponent > magnitude:
        exponent -= 1
    ulp = Fraction(2) ** (max(exponent, -126) - 23)
    steps = magnitude / ulp
    whole = steps.numerator // steps.denominator
    rest = steps - whole
    if rest > Fraction(1, 2) or (rest == Fraction(1, 2) and whole % 2 == 1):
        whole += 1
    value = whole * ulp
    result = math.inf if value >= 2**128 else float(value)  # exact: binary32 fits in a float
    return -result if negative else result


def bits(value):
    return struct.pack(">d", value)


def assert_same_floats(got, expected):
    assert type(got) is list
    assert len(got) == len(expected)
    for g, e in zip(got, expected):
        assert type(g) is float
        if math.isnan(e):
            assert math.isnan(g) and math.copysign(1, g) == math.copysign(1, e)
        else:
            assert bits(g) == bits(e), (g, e)


def test_reference_rounds_once():
    # Just above the midpoint of 1 and the next binary32: it rounds up, although the nearest
    # double is the midpoint itself, from which a second rounding goes down to even.
    above_midpoint = decimal_text(1 + Fraction(1, 2**24) + Fraction(1, 2**60), 40)
    assert binary32(above_midpoint) == 1 + 2**-23
    assert struct.unpack("<f", struct.pack("<f", float(above_midpoint)))[0] == 1.0
    assert binary32("0.1") == 0.10000000149011612
    assert binary32("16777217") == 16777216.0
    assert binary32("3.40282357e38") == math.inf
    assert binary32("1.4e-45") == 2**-149
    assert binary32("1e-46") == 0.0


# --- writing plot files ----------------------------------------------------------------------


def plot_text(fields, width, count, *, line_end="\n", title="VORMANT plot"):
    """A plot file of `count` parameters whose blocks hold the field texts of `fields` (one list
    of `count` texts per block), each right-aligned in `width` bytes, ten to a line."""
    lines = [f"{title} {count}"] + [f"parameter {p}" for p in range(count)]
    for number, block in enumerate(fields):
        lines.append(f"  timestep {number}")
        for start in range(0, count, 10):
            lines.append("".join(text.rjust(width) for text in block[start : start + 10]))
    return line_end.join(lines) + line_end


def expected_result(fields, count):
    time = [binary32(block[0]) for block in fields]
    columns = [[binary32(block[p]) for block in fields] for p in range(1, count)]
    return time, columns


def assert_result(got, fields, count):
    assert type(got) is tuple and len(got) == 2
    time, columns = expected_result(fields, count)
    assert_same_floats(got[0], time)
    assert type(got[1]) is list and len(got[1]) == count - 1
    for got_column, column in zip(got[1], columns):
        assert_same_floats(got_column, column)


def random_fields(seed, blocks, count, digits):
    """Texts as the two file versions write them: a sign, `digits` significant digits and a
    two-digit exponent, in widths 12 (6 digits) and 15 (9 digits)."""
    chooser = random.Random(seed)
    fields = []
    for _ in range(blocks):
        block = []
        for _ in range(count):
            mantissa = "".join(chooser.choice("0123456789") for _ in range(digits - 1))
            sign = chooser.choice(["", "-"])
            exponent = chooser.randint(-38, 38)
            block.append(f"{sign}{chooser.randint(1, 9)}.{mantissa}E{exponent:+03d}")
        fields.append(block)
    return fields


@pytest.mark.parametrize(
    "width, digits, count, blocks",
    [
        (12, 6, 12, 3),
        (12, 6, 1, 4),
        (12, 6, 10, 2),
        (12, 6, 11, 2),
        (15, 9, 25, 4),
        (15, 9, 20, 3),
        (15, 9, 2, 5),
    ],
)
def test_both_file_versions_read_exactly(read, plot_file, width, digits, count, blocks):
    fields = random_fields(width * 1000 + count, blocks, count, digits)
    assert_result(read(plot_file(plot_text(fields, width, count)), width), fields, count)


def test_crlf_line_ends_read_like_line_feeds(read, plot_file):
    fields = random_fields(7, 3, 13, 9)
    lf = read(plot_file(plot_text(fields, 15, 13)), 15)
    crlf = read(plot_file(plot_text(fields, 15, 13, line_end="\r\n")), 15)
    assert_result(crlf, fields, 13)
    assert repr(lf) == repr(crlf)


def midpoint_traps():
    """Decimal texts just above and just below the midpoint between two binary32 values, closer
    to it than a double can tell: rounded through a double, one of each pair goes wrong."""
    texts = []
    for base in (1.0, 3.0, 1e10, 7e-30):
        low = struct.unpack("<f", struct.pack("<f", base))[0]
        step = Fraction(math.ulp(low)) * 2**29  # binary32 has 29 fraction bits fewer
        midpoint = Fraction(low) + step / 2
        for nudge in (Fraction(1, 10**40), -Fraction(1, 10**40)):
            texts.append(decimal_text(midpoint * (1 + nudge), 45))
    return texts


def decimal_text(value, digits):
    """`value` in scientific notation with `digits` significant digits, truncated."""
    exponent = 0
    while value >= 10:
        value /= 10
        exponent += 1
    while value < 1:
        value *= 10
        exponent -= 1
    scaled = value * 10 ** (digits - 1)
    mantissa = str(scaled.numerator // scaled.denominator)
    return f"{mantissa[0]}.{mantissa[1:]}e{exponent}"


def test_values_are_rounded_once(read, plot_file):
    traps = midpoint_traps()
    fields = [traps]
    got = read(plot_file(plot_text(fields, 60, len(traps))), 60)
    assert_result(got, fields, len(traps))
    values = [got[0][0]] + [column[0] for column in got[1]]
    twice = [struct.unpack("<f", struct.pack("<f", float(text)))[0] for text in traps]
    assert sum(v != t for v, t in zip(values, twice)) == len(traps) // 2


@pytest.mark.parametrize(
    "text, value",
    [
        ("0.1", 0.10000000149011612),
        ("-0.0", -0.0),
        ("+1.5e3", 1500.0),
        ("16777217", 16777216.0),
        ("3.4028235e38", 3.4028234663852886e38),
        ("3.5e38", math.inf),
        ("-Infinity", -math.inf),
        ("1e-46", 0.0),
        ("-1e-46", -0.0),
        ("1.4e-45", 2**-149),
        ("nAn", math.nan),
        ("-nan", -math.nan),
    ],
)
def test_single_values_widen_exactly(read, plot_file, text, value):
    got = read(plot_file(plot_text([[text, text]], 20, 2)), 20)
    assert_same_floats(got[0], [value])
    assert_same_floats(got[1][0], [value])


@pytest.mark.parametrize(
    "count, expected",
    [(1, ([], [])), (2, ([], [[]])), (5, ([], [[], [], [], []])), (12, ([], [[]] * 11))],
)
def test_files_without_blocks(read, plot_file, count, expected):
    for width in (12, 15, 0, 2**64 - 1):
        assert read(plot_file(plot_text([], 12, count)), width) == expected


def test_result_lists_are_all_new_objects(read, plot_file):
    fields = [["1.0"] * 4] * 3
    time, columns = read(plot_file(plot_text(fields, 12, 4)), 12)
    objects = [time, *columns, *time, *(v for c in columns for v in c)]
    assert len({id(o) for o in objects}) == len(objects)


# --- fatal messages of the reader ----------------------------------------------------------

NOT_FOUND = 'Os { code: 2, kind: NotFound, message: "No such file or directory" }'
INVALID_DATA = 'Error { kind: InvalidData, message: "stream did not contain valid UTF-8" }'
OUT_OF_LINE = "end byte index 12 is out of bounds for string of length 8"
EMPTY = "Could not parse line: ParseFloatError { kind: Empty }"
INVALID = "Could not parse line: ParseFloatError { kind: Invalid }"


@pytest.mark.parametrize(
    "content, width, message, printed",
    [
        (b"", 12, "Failed ot read line!", ""),
        (
            b"title x\nname\n",
            12,
            "The first line should end with the number of parameters:\n'title x'",
            "Error: 'x' is not a valid number of parameters!\n",
        ),
        (
            b"  two words  1.0\r\n",
            12,
            "The first line should end with the number of parameters:\n'  two words  1.0'",
            "Error: '1.0' is not a valid number of parameters!\n",
        ),
        (b"3\nname\nname\n", 12, "Failed to read line!", ""),
        (b"\xff 2\n", 12, f"Failed to read line!: {INVALID_DATA}", ""),
        (b"2\nt\n\xc0\x80\n", 12, f"Failed to read line!: {INVALID_DATA}", ""),
        (b"1\nt\nlead\n", 12, "Error reading line", ""),
        (b"1\nt\nlead\n         5.0\n\n", 12, "Error reading line", ""),
        (b"11\n" + b"n\n" * 11 + b"lead\n" + b"1.0 " * 10 + b"\n", 4, "Error reading line", ""),
        (b"1\nt\nlead\n            \n", 12, EMPTY, ""),
        (b"1\nt\nlead\n     1.0D+00\n", 12, INVALID, ""),
        (b"2\nt\nv\nlead\n  1.0  1 0\n", 5, INVALID, ""),
        (b"1\nt\nlead\n12345678\n", 12, OUT_OF_LINE, ""),
        (
            b"3\nt\nu\nv\nlead\n" + b"1".rjust(12) * 2 + b"\n",
            12,
            "end byte index 36 is out of bounds for string of length 24",
            "",
        ),
        (
            "2\nt\nv\nlead\na\u00e9x\n".encode(),
            2,
            "end byte index 2 is not a char boundary; it is inside '\u00e9' (bytes 1..3 of string)",
            "",
        ),
    ],
)
def test_reader_failures_reach_the_caller(
    read, panic_exception, plot_file, capfd, content, width, message, printed
):
    path = plot_file(content)
    capfd.readouterr()
    with pytest.raises(panic_exception) as info:
        read(path, width)
    assert info.value.args == (message,)
    captured = capfd.readouterr()
    assert captured.out == printed
    assert captured.err.endswith("\n" + message + "\n")
    assert re.match(r"\nthread '<unnamed>' \(\d+\) panicked at ", captured.err)


def test_directory_fails_at_the_first_read(read, panic_exception, tmp_path):
    with pytest.raises(panic_exception) as info:
        read(str(tmp_path), 12)
    assert info.value.args == (
        'Failed to read line!: Os { code: 21, kind: IsADirectory, message: "Is a directory" }',
    )


@pytest.mark.parametrize(
    "path, description",
    [
        ("/nonexistent/plot.txt", NOT_FOUND),
        ("FILE/plot.txt", 'Os { code: 20, kind: NotADirectory, message: "Not a directory" }'),
        (
            "plot\0.txt",
            'Error { kind: InvalidInput, message: "file name contained an unexpected NUL byte" }',
        ),
    ],
)
def test_unopenable_files(read, panic_exception, plot_file, path, description):
    path = path.replace("FILE", plot_file("1\n"))
    with pytest.raises(panic_exception) as info:
        read(path, 12)
    assert info.value.args == ("Plot file not found!: " + description,)


def test_a_failed_call_leaves_nothing_behind(read, panic_exception, plot_file):
    fields = random_fields(3, 2, 3, 6)
    good = plot_file(plot_text(fields, 12, 3))
    with pytest.raises(panic_exception):
        read(plot_file(plot_text(fields, 12, 3) + "lead only\n"), 12)
    assert_result(read(good, 12), fields, 3)
