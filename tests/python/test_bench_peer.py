"""The benchmark's reference peer (bench/peer_strided.py) reads plot files as tarnex does, to
within the one unit that its binary64 route may round away, on the fixed layout it is built for
and, through its general fallback, on any other."""

import sys
from pathlib import Path

import pytest

np = pytest.importorskip("numpy", reason="the benchmark's peers are numpy code")

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "bench"))

import peer_strided  # noqa: E402
import plotfiles  # noqa: E402


def assert_same_values(result, expected):
    """Same lists of floats, each within one binary32 unit, zeros with their signs."""
    time_list, columns = result
    assert isinstance(time_list, list) and isinstance(columns, list)
    assert all(type(value) is float for value in time_list)
    assert [len(column) for column in columns] == [len(column) for column in expected[1]]
    got = np.array([time_list, *columns], dtype=np.float32).view(np.int32).astype(np.int64)
    want = np.array([expected[0], *expected[1]], dtype=np.float32).view(np.int32)
    assert np.abs(got - want).max(initial=0) <= 1


@pytest.mark.parametrize(
    "parameters, steps, width",
    [(12, 300, 12), (10, 200, 15), (7, 100, 12), (23, 80, 15), (200, 20, 12), (1, 50, 12)],
)
def test_benchmark_shapes(read, tmp_path, parameters, steps, width):
    path = tmp_path / "plot.plt"
    plotfiles.write_plot_file(path, parameters, steps, width, seed=parameters + steps)
    assert_same_values(peer_strided.read_numpy_strided(str(path), width), read(str(path), width))


def plot_bytes(*blocks):
    """A file of three parameters, one time step per (lead line, value line)."""
    return b" RUN 3\nTIME\nA\nB\n" + b"".join(lead + b"\n" + values + b"\n"
                                              for lead, values in blocks)


LEAD = b" STEP"
VALUES = b" 1.00000E+00-2.50000E-03 3.40282E+38"
BLOCK = (LEAD, VALUES)
# Fields of other shapes in a fixed layout go through float(); another layout, to the fallback.
ODD_FILES = {
    "plain decimals": plot_bytes(BLOCK, (LEAD, b"         1.5        -0.0   12345678."), BLOCK),
    "lower-case e, subnormal": plot_bytes((LEAD, b" 1.40130e-45-1.17549E-38 0.00000E+00"), BLOCK),
    "signs and blanks": plot_bytes((LEAD, b"+1.00000E+00 1.00000E-00     1.0E+00"), BLOCK),
    "digits in sign places": plot_bytes((LEAD, b"11.00000E+00 1.00000E101-2.50000E-03"), BLOCK),
    "short exponent": plot_bytes((LEAD, b" 1.00000E+1 -1.00000E-1 -0.00000E+00"), BLOCK),
    "lead lines of two lengths": plot_bytes(BLOCK, (LEAD + b"  2", VALUES), BLOCK),
    # The first is as long as the others on average: the file's length fits the block length.
    "lead lines that even out": plot_bytes(
        (LEAD + b"12", VALUES), (LEAD + b"1", VALUES), (LEAD + b"123", VALUES)),
    "carriage returns": plot_bytes((LEAD + b"\r", VALUES + b"\r"), BLOCK),
    "no final line feed": plot_bytes(BLOCK, BLOCK)[:-1],
}
WIDE = b" 1.00000000E+00-2.50000000E-03 3.40282001E+38"
ODD_WIDE_FILES = {
    "9 digits, other shapes": plot_bytes(
        (LEAD, WIDE), (LEAD, b"+1.00000000E+00 1.0000000E+000 1.00000000e-01"),
        (LEAD, b"    -1.0000E+01  1.000000000E1  .12345678E+00"),
        (LEAD, b"11.00000000E+00 1.00000000E101 1.00000000E-1 "), (LEAD, WIDE)),
}


@pytest.mark.parametrize("name, width", [(name, 12) for name in ODD_FILES] +
                         [(name, 15) for name in ODD_WIDE_FILES])
def test_odd_fields_and_layouts(read, plot_file, name, width):
    path = plot_file({**ODD_FILES, **ODD_WIDE_FILES}[name])
    assert_same_values(peer_strided.read_numpy_strided(path, width), read(path, width))
