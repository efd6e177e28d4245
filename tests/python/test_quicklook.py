"""examples/quicklook.py run as a user runs it: a child interpreter on real plot files.

The expected summaries come from reading the same files through the module in this process.
"""

import importlib.util
import math
import os
import pathlib
import re
import struct
import subprocess
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
QUICKLOOK = ROOT / "examples" / "quicklook.py"
SAMPLES = ROOT / "samples"
SAMPLE_6 = (SAMPLES / "plot-6digits.txt", 12)
SAMPLE_9 = (SAMPLES / "plot-9digits.txt", 15)

PNG_MAGIC = b"\x89PNG\r\n\x1a\n"
PLOT_SIZE = (800, 450)

PARAMETER_LINE = re.compile(
    r"parameter (\d+): min (\S+)  max (\S+)  last (\S+)(?:  \((\d+) NaN\))?"
)

HAVE_MATPLOTLIB = importlib.util.find_spec("matplotlib") is not None
needs_matplotlib = pytest.mark.skipif(not HAVE_MATPLOTLIB, reason="matplotlib is not installed")


@pytest.fixture(scope="session")
def quicklook(module, tmp_path_factory):
    """Runs the tool with the module under test; hide_matplotlib makes its import fail."""
    module_dir = os.path.dirname(os.path.abspath(module.__file__))
    shim = tmp_path_factory.mktemp("no-matplotlib")
    (shim / "matplotlib.py").write_text('raise ImportError("matplotlib is hidden here")\n')

    def run(*args, hide_matplotlib=False):
        env = dict(os.environ)
        paths = [str(shim)] if hide_matplotlib else []
        paths += [module_dir, env.get("PYTHONPATH")]
        env["PYTHONPATH"] = os.pathsep.join(filter(None, paths))
        env["PYTHONIOENCODING"] = "utf-8"
        env.pop("MPLBACKEND", None)
        return subprocess.run(
            [sys.executable, str(QUICKLOOK), *map(str, args)],
            capture_output=True,
            text=True,
            env=env,
            stdin=subprocess.DEVNULL,
            check=False,
        )

    return run


def assert_shown(printed, expected):
    """A value printed to seven significant digits stands for the binary32 one."""
    value = float(printed)
    if math.isnan(expected):
        assert math.isnan(value), printed
    else:
        assert value == pytest.approx(expected, rel=1e-6, abs=0), printed


def check_summary(stdout, time, columns, chosen):
    lines = stdout.splitlines()
    assert lines[0] == f"parameters: {len(columns) + 1}"
    assert lines[1] == f"time steps: {len(time)}"
    rest = lines[2:]
    if time:
        first, last = re.fullmatch(r"time range: (\S+) \.\. (\S+)", rest[0]).groups()
        assert_shown(first, time[0])
        assert_shown(last, time[-1])
        rest = rest[1:]
    assert len(rest) == len(chosen), lines
    for line, index in zip(rest, chosen):
        match = PARAMETER_LINE.fullmatch(line)
        assert match, line
        column = columns[index - 1]
        numbers = [value for value in column if not math.isnan(value)]
        assert int(match[1]) == index
        assert_shown(match[2], min(numbers) if numbers else math.nan)
        assert_shown(match[3], max(numbers) if numbers else math.nan)
        assert_shown(match[4], column[-1])
        assert int(match[5] or 0) == len(column) - len(numbers)


def png_size(path):
    data = path.read_bytes()
    assert data[:8] == PNG_MAGIC
    length, kind, width, height = struct.unpack(">I4sII", data[8:24])
    assert (length, kind) == (13, b"IHDR")
    return width, height


@pytest.mark.parametrize(
    "sample, parameters, chosen",
    [
        (SAMPLE_6, [], [1, 2, 3]),
        (SAMPLE_6, [11, 1, 11], [11, 1, 11]),
        (SAMPLE_9, [], [1, 2, 3]),
        (SAMPLE_9, [22, 20, 4], [22, 20, 4]),
    ],
    ids=["6digits-default", "6digits-chosen", "9digits-default", "9digits-chosen"],
)
def test_summary_of_the_samples(quicklook, read, sample, parameters, chosen):
    path, n_digits = sample
    args = [path, n_digits] + [arg for index in parameters for arg in ("-p", index)]
    result = quicklook(*args)
    assert (result.returncode, result.stderr) == (0, "")
    check_summary(result.stdout, *read(str(path), n_digits), chosen)


def nan_plot():
    """Three parameters: the time, one column with NaN among numbers, one all NaN."""
    blocks = [("1.00000E+00", "2.00000E+00", "NaN"), ("2.00000E+00", "NaN", "-nan"),
              ("3.00000E+00", "-5.00000E-01", "NaN")]
    lines = [" VORMANT PLOT FILE   3", "TIME  S", "A  U", "B  U"]
    for step, fields in enumerate(blocks, start=1):
        lines += [f" TIME STEP {step}", "".join(field.rjust(12) for field in fields)]
    return "\n".join(lines) + "\n"


def test_nan_is_left_out_of_the_range_and_counted(quicklook, read, plot_file):
    path = plot_file(nan_plot())
    result = quicklook(path, 12)
    assert (result.returncode, result.stderr) == (0, "")
    time, columns = read(path, 12)
    check_summary(result.stdout, time, columns, [1, 2])
    assert result.stdout.splitlines()[3:] == [
        "parameter 1: min -0.5  max 2  last -0.5  (1 NaN)",
        "parameter 2: min nan  max nan  last nan  (3 NaN)",
    ]


def test_a_file_of_only_the_time_has_no_parameters_to_show(quicklook, plot_file):
    path = plot_file(" VORMANT PLOT FILE   1\nTIME  S\n")
    result = quicklook(path, 12)
    assert (result.returncode, result.stdout) == (0, "parameters: 1\ntime steps: 0\n")
    result = quicklook(path, 12, "-p", 1)
    assert result.returncode == 2
    assert result.stderr == "no such parameter: 1 (the file has only the time)\n"


@pytest.mark.parametrize(
    "sample, parameters, reported",
    [
        (SAMPLE_6, [0], 0),
        (SAMPLE_6, [12], 12),
        (SAMPLE_6, [-1], -1),
        (SAMPLE_9, [23], 23),
        (SAMPLE_9, [1, 99, 0], 99),
    ],
)
def test_parameter_out_of_range_is_a_usage_error(quicklook, read, sample, parameters, reported):
    path, n_digits = sample
    args = [path, n_digits] + [arg for index in parameters for arg in ("-p", index)]
    result = quicklook(*args)
    n_columns = len(read(str(path), n_digits)[1])
    assert (result.returncode, result.stdout) == (2, "")
    assert result.stderr == f"no such parameter: {reported} (the file has 1 to {n_columns})\n"


@pytest.mark.parametrize("n_digits", ["0", "-1", "twelve", "1.5"])
def test_unusable_width_is_refused_before_reading(quicklook, n_digits):
    result = quicklook(SAMPLE_6[0], n_digits)
    assert (result.returncode, result.stdout) == (2, "")
    assert "n_digits" in result.stderr
    assert "Traceback" not in result.stderr
    assert "panicked" not in result.stderr


@pytest.mark.parametrize(
    "content, n_digits",
    [(None, 12), (" VORMANT PLOT FILE   3\nTIME  S\n", 12), (nan_plot(), 15)],
    ids=["missing", "header-cut-short", "wrong-width"],
)
def test_unreadable_file_is_reported_without_traceback(quicklook, read, plot_file, tmp_path,
                                                       content, n_digits):
    path = str(tmp_path / "absent.txt") if content is None else plot_file(content)
    result = quicklook(path, n_digits)
    assert (result.returncode, result.stdout) == (1, "")
    try:
        read(path, n_digits)
    except BaseException as caught:  # noqa: B036
        message = str(caught)
    else:
        raise AssertionError(f"{path} was read with width {n_digits}")
    assert result.stderr.endswith(f"cannot read {path}: {message}\n")
    assert "Traceback" not in result.stderr


def test_plot_without_matplotlib_says_so_and_reads_nothing(quicklook, tmp_path):
    out = tmp_path / "plot.png"
    result = quicklook(*SAMPLE_6, "--plot", out, hide_matplotlib=True)
    assert (result.returncode, result.stdout) == (1, "")
    assert result.stderr == "--plot needs matplotlib: pip install matplotlib\n"
    assert not out.exists()


@needs_matplotlib
@pytest.mark.parametrize("sample, parameters", [(SAMPLE_6, []), (SAMPLE_9, [22, 1])],
                         ids=["6digits", "9digits"])
def test_plot_is_a_png_of_the_figure_size(quicklook, read, tmp_path, sample, parameters):
    path, n_digits = sample
    out = tmp_path / "plot.png"
    args = [path, n_digits, "--plot", out] + [arg for i in parameters for arg in ("-p", i)]
    result = quicklook(*args)
    assert (result.returncode, result.stderr) == (0, "")
    *summary, last = result.stdout.splitlines()
    assert last == f"plot written to {out}"
    check_summary("\n".join(summary), *read(str(path), n_digits), parameters or [1, 2, 3])
    assert out.stat().st_size > 10_000
    assert png_size(out) == PLOT_SIZE


@needs_matplotlib
def test_plot_into_a_missing_folder_fails_cleanly(quicklook, tmp_path):
    out = tmp_path / "no-such-folder" / "plot.png"
    result = quicklook(*SAMPLE_6, "--plot", out)
    assert result.returncode == 1
    assert result.stderr.startswith(f"cannot write {out}: ")
    assert "Traceback" not in result.stderr
