"""The command line run as a user runs it, `python -m vormant`, on the bundled samples and
generated files. Expected figures come from vormant.read in this process."""

import json
import math
import pathlib
import re
import socket
import struct
import subprocess
import sys

import pytest
from conftest import child_environment
from vormant_files import SAMPLE_6, SAMPLE_9, hiding, plot_text, with_bad_field, write_plot

import vormant

PNG_MAGIC = b"\x89PNG\r\n\x1a\n"
PLOT_SIZE = (800, 450)
# The command line reading pieces of as many values as its first argument says, so that a
# small file is read in many pieces.
IN_PIECES = ("import sys, vormant._report as report; report.PIECE_VALUES = int(sys.argv[1]); "
             "from vormant.cli import main; sys.exit(main(sys.argv[2:]))")
needs_matplotlib = pytest.mark.skipif(
    subprocess.run([sys.executable, "-c", "import matplotlib"], check=False).returncode != 0,
    reason="matplotlib is not installed")


@pytest.fixture(scope="session")
def cli(tmp_path_factory):
    """Runs the command line; `hide` names libraries whose import must fail, `piece_values`
    sets the values of a piece read."""
    hidden = tmp_path_factory.mktemp("hidden")

    def run(*args, hide=(), piece_values=None):
        env = hiding(child_environment(), hidden, hide) if hide else child_environment()
        env["PYTHONIOENCODING"] = "utf-8"
        env.pop("MPLBACKEND", None)
        command = ["-m", "vormant"] if piece_values is None else ["-c", IN_PIECES,
                                                                   str(piece_values)]
        return subprocess.run([sys.executable, *command, *map(str, args)],
                              capture_output=True, text=True, env=env,
                              stdin=subprocess.DEVNULL, check=False)

    return run


def binary32(text):
    return struct.unpack("<f", struct.pack("<f", float(text)))[0]


def nan_range(column):
    numbers = [value for value in column if not math.isnan(value)]
    if not numbers:
        return math.nan, math.nan, len(column)
    return min(numbers), max(numbers), len(column) - len(numbers)


def check_table(lines, plot):
    """The printed table holds the exact binary32 range of every parameter."""
    assert lines[0] == plot.path
    assert lines[1] == (f"  width {plot.n_digits}, {plot.steps} time steps, "
                        f"{plot.parameters} parameters")
    assert lines[2].split() == ["parameter", "min", "max", "NaN"]
    rows = lines[3:3 + plot.parameters]
    columns = list(zip(*plot.values.tolist())) or [()] * plot.parameters
    for row, name, column in zip(rows, plot.names, columns):
        assert row.startswith(f"  {name} ")
        low, high, *nans = row[len(name) + 2:].split()
        expected = nan_range(column)
        for shown, value in zip((low, high), expected):
            assert (math.isnan(value) and shown == "nan") or binary32(shown) == value, row
        assert (int(nans[0]) if nans else 0) == expected[2]
    return lines[3 + plot.parameters:]


@pytest.mark.parametrize("hide", [(), ("numpy",)], ids=["numpy", "plain"])
def test_info_of_the_samples(cli, hide):
    result = cli("info", SAMPLE_6, SAMPLE_9, hide=hide)
    assert (result.returncode, result.stderr) == (0, "")
    rest = check_table(result.stdout.splitlines(), vormant.read(SAMPLE_6))
    assert rest[0] == ""
    assert check_table(rest[1:], vormant.read(SAMPLE_9)) == []


def nan_plot():
    """The time, a column with NaN among numbers, a column all NaN."""
    return plot_text(["TIME  S", "A  U", "B  U"], [
        ("1.00000E+00", "2.00000E+00", "NaN"), ("2.00000E+00", "NaN", "-nan"),
        ("3.00000E+00", "-5.00000E-01", "NaN")])


@pytest.mark.parametrize("hide", [(), ("numpy",)], ids=["numpy", "plain"])
def test_info_leaves_nan_out_of_the_range_and_counts_it(cli, plot_file, hide):
    result = cli("info", plot_file(nan_plot()), hide=hide)
    assert (result.returncode, result.stderr) == (0, "")
    assert [line.split() for line in result.stdout.splitlines()[3:]] == [
        ["TIME", "S", "1", "3"], ["A", "U", "-0.5", "2", "1"], ["B", "U", "nan", "nan", "3"]]


@pytest.mark.parametrize("hide", [(), ("numpy",)], ids=["numpy", "plain"])
@pytest.mark.parametrize("width, fields, shown", [
    (12, ["3.40282E+38", "-3.40282E+38"], ["-3.40282e+38", "3.40282e+38"]),
    (15, ["3.40282347E+38", "-3.40282347E+38"], ["-3.4028235e+38", "3.4028235e+38"]),
    (12, ["1.40130E-45", "-0.00000E+00"], ["-0", "1e-45"]),
    (12, ["inf", "-inf"], ["-inf", "inf"]),
], ids=["largest-12", "largest-15", "subnormal-and-negative-zero", "infinities"])
def test_info_prints_the_extremes_of_binary32(cli, plot_file, width, fields, shown, hide):
    steps = [f" TIME STEP {step}\n{f'{step}.0'.rjust(width)}{field.rjust(width)}\n"
             for step, field in enumerate(fields, start=1)]
    result = cli("info", plot_file(" VORMANT PLOT FILE   2\nTIME\nA\n" + "".join(steps)),
                 hide=hide)
    assert (result.returncode, result.stderr) == (0, "")
    assert result.stdout.splitlines()[-1].split() == ["A", *shown]


@pytest.mark.parametrize("hide", [(), ("numpy",)], ids=["numpy", "plain"])
@pytest.mark.parametrize("piece_values", [1, 40])
def test_info_in_pieces_gives_the_ranges_of_the_whole_file(cli, plot_file, tmp_path, hide,
                                                            piece_values):
    sources = [write_plot(tmp_path, 14, 37, 15), plot_file(nan_plot())]
    result = cli("info", *sources, hide=hide, piece_values=piece_values)
    assert (result.returncode, result.stderr) == (0, "")
    rest = check_table(result.stdout.splitlines(), vormant.read(sources[0]))
    assert rest[0] == ""
    assert check_table(rest[1:], vormant.read(sources[1])) == []


def test_info_of_a_file_without_steps(cli, plot_file):
    result = cli("info", "-n", "12", plot_file(" VORMANT PLOT FILE   2\nTIME\nA\n"))
    assert result.returncode == 0
    assert result.stdout.splitlines()[1:] == [
        "  width 12, 0 time steps, 2 parameters", "  parameter  min  max  NaN",
        "  TIME       nan  nan", "  A          nan  nan"]


def test_info_reports_bad_files_and_goes_on(cli, plot_file, tmp_path):
    bad = plot_file(" VORMANT PLOT FILE   x\n")
    missing = tmp_path / "missing.txt"
    result = cli("info", bad, SAMPLE_6, missing)
    assert result.returncode == 1
    check_table(result.stdout.splitlines(), vormant.read(SAMPLE_6))
    with pytest.raises(vormant.PlotFileError) as caught:
        vormant.read(bad)
    assert result.stderr.splitlines() == [
        f"vormant: error: {caught.value}",
        f"vormant: error: {missing}: No such file or directory"]


@pytest.mark.parametrize("args", [
    [], ["info"], ["info", "-n", "13", SAMPLE_6], ["frobnicate", SAMPLE_6], ["plot", SAMPLE_6],
    ["convert", SAMPLE_6], ["convert", SAMPLE_6, "-o", "x.parquet", "--steps", "1:2:3"],
    ["convert", SAMPLE_6, "-o", "x.parquet", "--steps=5"],
    ["convert", SAMPLE_6, "-o", "x.parquet", "--steps", "-x:"],
    ["convert", SAMPLE_6, "-o", "x.parquet", "--steps", "1.5:"],
], ids=["no-command", "no-file", "bad-width", "unknown-command", "plot-no-out",
        "convert-no-out", "steps-with-a-stride", "steps-without-colon", "steps-not-a-number",
        "steps-not-whole"])
def test_usage_errors_exit_2(cli, args):
    result = cli(*args)
    assert (result.returncode, result.stdout) == (2, "")
    assert result.stderr.startswith("usage: vormant")
    assert "Traceback" not in result.stderr


def test_version(cli):
    result = cli("--version")
    assert (result.returncode, result.stdout) == (0, f"vormant {vormant.__version__}\n")


def parameter_options(names):
    return [option for name in names for option in ("-p", name)]


def png_size(data):
    assert data[:8] == PNG_MAGIC
    length, kind, width, height = struct.unpack(">I4sII", data[8:24])
    assert (length, kind) == (13, b"IHDR")
    return width, height


@needs_matplotlib
@pytest.mark.parametrize("samples, parameters", [
    ([SAMPLE_6], []), ([SAMPLE_9], ["PARAM0022  UNIT2", "PARAM0001"]),
    ([SAMPLE_9, SAMPLE_6], ["3", "PARAM0001", "--overlay"]), ([SAMPLE_6, SAMPLE_9], ["2"]),
], ids=["default", "by-name", "by-index-overlaid", "files-in-panels"])
def test_plot_is_a_png_of_the_figure_size(cli, tmp_path, samples, parameters):
    out = tmp_path / "plot.png"
    options = [word if word.startswith("--") else f"-p{word}" for word in parameters]
    result = cli("plot", *samples, "-o", out, *options)
    assert (result.returncode, result.stderr) == (0, "")
    assert result.stdout == f"plot written to {out}\n"
    assert png_size(out.read_bytes()) == PLOT_SIZE
    from matplotlib import image

    pixels = image.imread(out)
    assert pixels.shape[:2] == PLOT_SIZE[::-1]
    assert len({tuple(pixel) for pixel in pixels.reshape(-1, pixels.shape[2])[::97]}) > 3


@pytest.mark.parametrize("command", ["plot", "convert"])
@pytest.mark.parametrize("content, wanted, says", [
    (None, ["PARAM0004  UNIT9"], ["no parameter 'PARAM0004  UNIT9' (it has 'PARAM0001  UNIT1'"]),
    (None, ["UNIT4"], ["no parameter 'UNIT4'"]),
    (" VORMANT PLOT FILE   1\nTIME\n", ["TIME2"], ["no parameter 'TIME2' (it has only the time)"]),
    (" VORMANT PLOT FILE   31\nTIME\n" + "".join(f"P{i:02} U\n" for i in range(30)), ["P-20"],
     ["(it has 30 parameters; the nearest: 'P20 U'"]),
    (" VORMANT PLOT FILE   4\nTIME\nA x\nB\nA y\n", ["A"], ["ambiguous", "'A x', 'A y'"]),
    (" VORMANT PLOT FILE   3\nTIME\nA\nB\n", ["A", "A"], ["'A' is chosen twice"]),
], ids=["unknown", "not-first-word", "only-time", "many", "ambiguous-word", "twice"])
def test_a_name_that_fits_no_parameter_or_several_is_a_usage_error(
        cli, plot_file, tmp_path, command, content, wanted, says):
    pytest.importorskip("matplotlib" if command == "plot" else "pyarrow")
    path = plot_file(content) if content else str(SAMPLE_6)
    out = tmp_path / "out"
    result = cli(command, path, "-n", "12", *parameter_options(wanted), "-o", out)
    assert (result.returncode, result.stdout) == (2, "")
    assert result.stderr.startswith(f"vormant {command}: error: {path}")
    assert result.stderr.count("\n") == 1
    assert all(text in result.stderr for text in says), result.stderr
    assert not out.exists()


def test_plot_without_matplotlib_says_so_and_reads_nothing(cli, tmp_path):
    out = tmp_path / "plot.png"
    result = cli("plot", tmp_path / "never-read.txt", "-o", out, hide=("matplotlib",))
    assert (result.returncode, result.stdout) == (1, "")
    assert result.stderr == 'vormant: error: vormant plot needs matplotlib: pip install "tarnex[plot]"\n'
    assert not out.exists()


@needs_matplotlib
@pytest.mark.parametrize("where", ["folder", "file"])
def test_plot_failures_exit_1(cli, plot_file, tmp_path, where):
    if where == "folder":
        path, out = SAMPLE_6, tmp_path / "no-such-folder" / "plot.png"
        expected = f"vormant: error: cannot write {out}: No such file or directory\n"
    else:
        path, out = plot_file(" VORMANT PLOT FILE   0\n"), tmp_path / "plot.png"
        expected = f"vormant: error: {path}, line 1"
    result = cli("plot", path, "-o", out)
    assert result.returncode == 1
    assert result.stderr.startswith(expected)
    assert "Traceback" not in result.stderr


def read_parquet(path):
    parquet = pytest.importorskip("pyarrow.parquet")
    return parquet.read_table(path)


def check_parquet(path, plot, columns=None):
    """The Parquet file holds `plot` bit for bit in columns named `columns` (default: its
    names), with its name lines, width and source in the metadata."""
    table = read_parquet(path)
    assert table.schema.names == (columns or list(plot.names))
    assert {str(field.type) for field in table.schema} == {"float"}
    assert table.schema.metadata == {
        b"vormant.n_digits": str(plot.n_digits).encode(), b"vormant.source": plot.path.encode(),
        b"vormant.names": json.dumps(plot.names, ensure_ascii=False).encode()}
    assert table.num_rows == plot.steps
    array = plot.to_numpy()
    for index in range(plot.parameters):
        assert table.column(index).to_numpy().tobytes() == array[:, index].tobytes()


@pytest.mark.parametrize("parameters, steps, window", [
    ([], None, None),
    (["PARAM0003", "PARAM0001  UNIT1"], None, None),
    ([], "-10:", slice(-10, None)),
    ([], ":7", slice(None, 7)),
    (["PARAM0013"], "3:-4", slice(3, -4)),
    (["PARAM0002", "PARAM0009"], "-1000:", slice(-1000, None)),
    ([], "30:5", slice(30, 5)),
], ids=["all", "parameters", "last-steps", "first-steps", "both", "more-than-all", "none"])
def test_convert_of_chosen_parameters_and_steps_is_their_read(cli, tmp_path, parameters, steps,
                                                              window):
    parquet = pytest.importorskip("pyarrow.parquet")
    source = write_plot(tmp_path, 14, 37, 15)
    out = tmp_path / "out.parquet"
    chosen = parameter_options(parameters) + (["--steps", steps] if steps else [])
    result = cli("convert", source, "-o", out, *chosen, piece_values=40)
    assert (result.returncode, result.stdout, result.stderr) == (0, "", "")
    expected = vormant.read(source, columns=parameters or None, steps=window)
    check_parquet(out, expected)
    if expected.steps > 20:  # more than a piece of 40 values holds, however narrow
        assert parquet.ParquetFile(out).metadata.num_row_groups > 1


REPEATED = ["TIME", "X", "X", "X (2)", "Y", "X"]


@pytest.mark.parametrize("names, steps, columns", [
    (["TIME", "A"], 0, ["TIME", "A"]),
    (REPEATED, 0, ["TIME", "X", "X (3)", "X (2)", "Y", "X (4)"]),
    (REPEATED, 2, ["TIME", "X", "X (3)", "X (2)", "Y", "X (4)"]),
], ids=["no-steps", "repeated-names-no-steps", "repeated-names"])
def test_convert_writes_parquet_that_readers_take(cli, plot_file, tmp_path, names, steps,
                                                  columns):
    pandas = pytest.importorskip("pandas")
    rows = [[f"{step + 1}.5E+00"] * len(names) for step in range(steps)]
    source = plot_file(plot_text(names, rows))
    out = tmp_path / "out.parquet"
    result = cli("convert", "-n", "12", source, "-o", out)
    assert (result.returncode, result.stderr) == (0, "")
    plot = vormant.read(source, 12)
    check_parquet(out, plot, columns)
    frame = pandas.read_parquet(out)
    assert list(frame.columns) == columns
    assert frame.to_numpy().tobytes() == plot.to_numpy().tobytes()


@pytest.mark.parametrize("command", ["info", "convert"])
def test_a_fault_in_a_later_piece_fails_the_file_and_leaves_nothing(cli, plot_file, tmp_path,
                                                                   command):
    if command == "convert":
        pytest.importorskip("pyarrow")
    source = plot_file(plot_text(["TIME", "A"], [("1", "2"), ("2", "3"), ("3", "three")]))
    out = tmp_path / "out.parquet"
    extra = ["-o", out] if command == "convert" else []
    result = cli(command, "-n", "12", source, *extra, piece_values=2)
    assert (result.returncode, result.stdout) == (1, "")
    with pytest.raises(vormant.PlotFileError) as caught:
        vormant.read(source, 12)
    assert result.stderr == f"vormant: error: {caught.value}\n"
    assert not out.exists()


def test_convert_many_files_into_a_folder_with_a_progress_bar(cli, tmp_path):
    pytest.importorskip("pyarrow")
    sources = [write_plot(tmp_path, 4 + seed, 3 + seed, 12, seed) for seed in range(6)]
    sources.append(str(SAMPLE_9))
    out = tmp_path / "parquet"
    result = cli("convert", *sources, "-o", out, "--progress")
    assert (result.returncode, result.stdout) == (0, "")
    assert "7/7" in result.stderr
    assert sorted(p.name for p in out.iterdir()) == sorted(
        re.sub(r"\.txt$", ".parquet", source.rsplit("/", 1)[1]) for source in map(str, sources))
    for source in sources:
        check_parquet(out / re.sub(r"\.txt$", ".parquet", str(source).rsplit("/", 1)[1]),
                      vormant.read(source))


def test_convert_one_file_into_an_existing_folder(cli, tmp_path):
    pytest.importorskip("pyarrow")
    result = cli("convert", SAMPLE_6, "-o", tmp_path)
    assert result.returncode == 0
    check_parquet(tmp_path / "plot-6digits.parquet", vormant.read(SAMPLE_6))


def test_convert_goes_on_past_a_bad_file(cli, plot_file, tmp_path):
    pytest.importorskip("pyarrow")
    bad = plot_file(" VORMANT PLOT FILE   0\n", name="bad.txt")
    out = tmp_path / "out"
    result = cli("convert", SAMPLE_6, bad, SAMPLE_9, "-o", out)
    assert result.returncode == 1
    assert result.stderr.startswith(f"vormant: error: {bad}, line 1")
    assert sorted(p.name for p in out.iterdir()) == ["plot-6digits.parquet",
                                                      "plot-9digits.parquet"]


@pytest.mark.parametrize("several", [False, True], ids=["one-file", "several"])
def test_convert_reports_what_it_cannot_write(cli, tmp_path, several):
    pytest.importorskip("pyarrow")
    if several:
        out = tmp_path / "a-file"
        out.write_text("")
        sources, reason = [SAMPLE_6, SAMPLE_9], "File exists"
    else:
        out, sources = tmp_path / "absent" / "x.parquet", [SAMPLE_6]
        reason = "No such file or directory"
    result = cli("convert", *sources, "-o", out)
    assert (result.returncode, result.stdout) == (1, "")
    assert result.stderr.startswith(f"vormant: error: cannot write {out}: {reason}")
    assert result.stderr.count("\n") == 1


@pytest.mark.parametrize("twin_name, beside_the_sample", [
    ("plot-6digits.txt", True), ("run.parquet", False),
], ids=["two-of-one-name", "over-its-source"])
def test_convert_refuses_outputs_that_clash(cli, tmp_path, twin_name, beside_the_sample):
    pytest.importorskip("pyarrow")
    twin = tmp_path / twin_name
    twin.write_bytes(SAMPLE_6.read_bytes())
    sources, out = ([SAMPLE_6, twin], tmp_path / "out") if beside_the_sample else ([twin], twin)
    result = cli("convert", *sources, "-o", out)
    assert (result.returncode, result.stdout) == (2, "")
    assert result.stderr.startswith("vormant convert: error: ")
    assert twin.read_bytes() == SAMPLE_6.read_bytes()
    assert not (tmp_path / "out").exists()


def test_convert_without_pyarrow_says_so(cli, tmp_path):
    result = cli("convert", SAMPLE_6, "-o", tmp_path / "x.parquet", hide=("pyarrow",))
    assert result.returncode == 1
    assert result.stderr == ('vormant: error: vormant convert needs pyarrow: '
                             'pip install "tarnex[parquet]"\n')


def view_second_file(first, fault):
    """A copy of the plot file `first` with `fault`, and the number of the line at fault."""
    lines = pathlib.Path(first).read_text().splitlines(keepends=True)
    path = pathlib.Path(first).with_name(f"{fault}.txt")
    if fault == "field":  # parameter 2, drawn, at the last step
        return str(path), with_bad_field(first, path, 29, 2, 4, 12)
    if fault == "header":
        lines = [" VORMANT PLOT FILE   0\n"]
    if fault == "short":  # the last value line, whole but cut short
        lines[-1] = lines[-1][:30] + "\n"
    path.write_text("".join(lines))
    return str(path), 1 if fault == "header" else len(lines)


FILE_FAULT = "vormant: error: {path}, line {line}:"
WRONG_PORT = "vormant view: error: argument --port: expected a port from 1 to 65535"


@pytest.mark.parametrize("fault, args, hide, status, says", [
    ("header", [], (), 2, FILE_FAULT),
    ("header", [], ("bokeh",), 1,
     'vormant: error: vormant view needs bokeh: pip install "tarnex[view]"'),
    ("field", [], (), 2, FILE_FAULT),
    ("short", [], (), 2, FILE_FAULT),
    ("short", ["--follow"], (), 2, FILE_FAULT),
    ("none", ["--port", "-1"], (), 2, WRONG_PORT),
    ("none", ["--port", "70000"], (), 2, WRONG_PORT),
    ("none", ["--port", "{port}"], (), 1, "vormant view: error: cannot listen on 127.0.0.1:{port}"),
], ids=["unreadable", "without-bokeh", "bad-field", "cut-short", "cut-short-following",
        "negative-port", "port-too-high", "port-in-use"])
def test_view_refuses_before_serving(tmp_path, fault, args, hide, status, says):
    pytest.importorskip("bokeh")
    first = write_plot(tmp_path, 4, 30, 12)
    path, line = view_second_file(first, fault)
    env = hiding(child_environment(), tmp_path, hide) if hide else child_environment()
    with socket.socket() as taken:
        taken.bind(("127.0.0.1", 0))
        taken.listen()
        port = taken.getsockname()[1]
        view = subprocess.Popen(
            [sys.executable, "-m", "vormant", "view", first, path, "--no-browser",
             *(arg.format(port=port) for arg in args)],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=env)
        served = view.stdout.readline()  # a view that serves prints its address and goes on
        if served:
            view.kill()
        _, reported = view.communicate()
        assert (view.returncode, served) == (status, "")
    assert reported.splitlines()[-1].startswith(says.format(path=path, line=line, port=port))
