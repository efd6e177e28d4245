"""Plot files written (vormant.write), cut, merged and converted: each output read back by its
own library to the values it came from. The formatting of single values is held in the C++
tests; here the files around it."""

import contextlib
import errno
import os
import pathlib
import stat

import pytest
from vormant_files import SAMPLE_6, SAMPLE_9, plot_text, with_bad_field, write_plot
from test_vormant_cli import cli  # noqa: F401 - the fixture

import vormant
from vormant import _reader, _write
from vormant._options import SUFFIXES

np = pytest.importorskip("numpy")
SPECIALS = [float("nan"), float("inf"), float("-inf"), -0.0, 1e-45, 3.4028235e38]


def same_bits(a, b):
    return np.array_equal(np.asarray(a).view(np.uint32), np.asarray(b).view(np.uint32))


def plot_of(values, names):
    return vormant.Plot(tuple(names), memoryview(np.ascontiguousarray(values, "f4")), 15, "x")


@pytest.mark.parametrize("width", [12, 15])
@pytest.mark.parametrize("parameters", [1, 10, 23])
def test_write_reads_back(tmp_path, width, parameters):
    source = vormant.read(write_plot(tmp_path, parameters, 7, width))
    values = np.asarray(source.values).copy()
    values[0, :len(SPECIALS[:parameters])] = SPECIALS[:parameters]
    target = tmp_path / "out.plt"
    vormant.write(target, plot_of(values, source.names), width, title="RUN 7")
    back = vormant.read(target)
    assert back.names == source.names and back.n_digits == width
    assert same_bits(back.values, values) or width == 12 and np.allclose(
        back.values, values, rtol=5e-6, equal_nan=True)
    lines = target.read_text().split("\n")
    assert lines[0] == f"RUN 7 {parameters}" and lines[parameters + 1] == " TIME STEP        1"


@pytest.mark.parametrize("names, width, error", [
    (("TIME", "A\nB"), 15, ValueError), (("TIME", "A\rB"), 15, ValueError),
    ((), 15, ValueError), (("TIME",), 13, ValueError), (("TIME",), None, ValueError),
    (("TIME",), "15", TypeError)])
def test_write_refuses_before_writing(tmp_path, names, width, error):
    with pytest.raises(error):
        vormant.write(tmp_path / "out.plt", plot_of(np.zeros((2, len(names))), names), width)
    assert os.listdir(tmp_path) == []


@pytest.mark.parametrize("shape", [(2, 3), (2, 1), (6,)])
def test_write_refuses_values_of_another_column_count(tmp_path, shape):
    plot = vormant.Plot(("TIME", "A"), memoryview(np.zeros(shape, "f4")), 15, "x")
    with pytest.raises(ValueError):
        vormant.write(tmp_path / "out.plt", plot)
    assert os.listdir(tmp_path) == []


@pytest.mark.parametrize("name, error", [
    ("x" * 251 + ".plt", None),          # the longest name a folder takes
    ("missing/out.plt", errno.ENOENT),
    (b"missing/out.plt", errno.ENOENT),  # bytes stay bytes
    ("full", errno.ENOSPC),              # a device like /dev/full: written, not renamed over
])
def test_write_names_its_output_as_given(tmp_path, monkeypatch, name, error):
    monkeypatch.chdir(tmp_path)
    if name == "full":
        try:
            os.mknod(name, stat.S_IFCHR | 0o666, os.makedev(1, 7))
        except (OSError, AttributeError):
            pytest.skip("no device can be made here")
    with pytest.raises(OSError) if error else contextlib.nullcontext() as raised:
        vormant.write(name, vormant.read(SAMPLE_6))
    assert os.listdir() == (["full"] if name == "full" else [] if error else [name])
    if error:
        assert (raised.value.errno, raised.value.filename) == (error, name)
    assert name != "full" or stat.S_ISCHR(os.stat(name).st_mode)


def test_replacing_syncs_the_file_then_the_folder(tmp_path, monkeypatch):
    target = tmp_path / "out.plt"
    synced, fsync = [], os.fsync
    monkeypatch.setattr(os, "fsync", lambda fd: synced.append(
        (os.fstat(fd).st_ino, target.exists())) or fsync(fd))
    umask = os.umask(0o027)
    try:
        with _write.replacing(target) as temporary:
            pathlib.Path(temporary).write_text("x")
    finally:
        os.umask(umask)
    # A new file has the usual mode: 0o666 less the umask.
    assert stat.S_IMODE(target.stat().st_mode) == 0o640
    assert synced == [(target.stat().st_ino, False), (tmp_path.stat().st_ino, True)]


def test_a_failed_write_leaves_no_file(tmp_path):
    folder = tmp_path / "ro"
    folder.mkdir(mode=0o500)
    if os.access(folder, os.W_OK):
        pytest.skip("running as a user who may write anywhere")
    with pytest.raises(PermissionError):
        vormant.write(folder / "out.plt", vormant.read(SAMPLE_6))


@pytest.mark.parametrize("parameters", [("-p", "PARAM0003", "-p", "PARAM0001"), ()])
def test_cut_is_the_read_of_the_same_part(cli, tmp_path, parameters):  # noqa: F811
    target = tmp_path / "cut.plt"
    result = cli("cut", SAMPLE_9, "-o", target, *parameters, "--steps", "-5:", piece_values=7)
    assert result.returncode == 0, result.stderr
    columns = [name for name in parameters if name != "-p"] or None
    wanted = vormant.read(SAMPLE_9, columns=columns, steps=slice(-5, None))
    back = vormant.read(target)
    assert back.names == wanted.names and same_bits(back.values, wanted.values)


@pytest.mark.parametrize("options", [(), ("-p", "B"), ("--width", "12")])
def test_cut_of_a_run_without_steps_is_its_header(cli, tmp_path, options):  # noqa: F811
    source = tmp_path / "empty.plt"
    source.write_text(" RUN 3\nTIME  S\nA\nB\n")
    result = cli("cut", source, "-o", tmp_path / "cut.plt", *options)
    assert (result.returncode, result.stderr) == (0, "")
    kept = ["B"] if "-p" in options else ["A", "B"]
    with vormant.open(tmp_path / "cut.plt", 15) as back:
        assert (back.steps, back.names) == (0, ("TIME  S", *kept))


def restarts(tmp_path, bounds, widths):
    paths = []
    for number, ((begin, end), width) in enumerate(zip(bounds, widths)):
        path = tmp_path / f"r{number}.plt"
        vormant.write(path, vormant.open(SAMPLE_9).read(steps=slice(begin, end)), width)
        paths.append(path)
    return paths


EVERY = slice(None)


# kept: (restart, its steps kept), in order. The output has the widest width of the restarts
# that hold steps; the steps of a narrower one are read and formatted again, the others copied.
# A restart of no steps (begin == end) has no width and supersedes nothing.
@pytest.mark.parametrize("bounds, widths, kept", [
    ([(0, 15), (10, 30)], (15, 15), [(0, slice(10)), (1, EVERY)]),            # overlapping
    ([(0, 8), (15, 30)], (15, 15), [(0, EVERY), (1, EVERY)]),                  # a gap
    ([(0, 30), (0, 30)], (15, 15), [(1, EVERY)]),                              # identical
    ([(0, 20), (18, 25), (8, 30)], (15, 15, 15), [(0, slice(8)), (2, EVERY)]),  # further back
    ([(0, 15), (10, 30)], (12, 15), [(0, slice(10)), (1, EVERY)]),             # one narrower
    ([(0, 15), (10, 30)], (12, 12), [(0, slice(10)), (1, EVERY)]),
    ([(0, 15), (3, 3), (10, 30)], (12, 15, 12), [(0, slice(10)), (2, EVERY)]),  # no steps
    ([(3, 3), (0, 10)], (12, 15), [(1, EVERY)])])
def test_merge_is_the_later_run_written(cli, tmp_path, bounds, widths, kept):  # noqa: F811
    paths = restarts(tmp_path, bounds, widths)
    result = cli("merge", *paths, "-o", tmp_path / "m.plt", piece_values=50)
    assert result.returncode == 0, result.stderr
    values = np.concatenate([np.asarray(vormant.read(paths[n]).values)[rows] for n, rows in kept])
    vormant.write(tmp_path / "whole.plt", plot_of(values, vormant.read(SAMPLE_9).names),
                  max(width for (begin, end), width in zip(bounds, widths) if end > begin))
    assert (tmp_path / "m.plt").read_bytes() == (tmp_path / "whole.plt").read_bytes()


@pytest.mark.parametrize("line_end, last_feed", [("\n", True), ("\r\n", False)])
def test_merge_copies_value_lines_as_they_stand(cli, tmp_path, line_end, last_feed):  # noqa: F811
    first = plot_text(["TIME", "X"], [["0.0", "1.5"], ["1.0", "2.50"]])
    later = plot_text(["TIME", "X"], [["1.", "7.0"], ["2.000", "8.00E+00"]])
    (tmp_path / "a.plt").write_bytes(first.replace("\n", line_end).encode())
    (tmp_path / "b.plt").write_bytes(later.encode()[:None if last_feed else -1])
    result = cli("merge", tmp_path / "a.plt", tmp_path / "b.plt", "-o", tmp_path / "m.plt")
    assert result.returncode == 0, result.stderr
    value_lines = ["0.0".rjust(12) + "1.5".rjust(12) + line_end,
                   "1.".rjust(12) + "7.0".rjust(12) + "\n",
                   "2.000".rjust(12) + "8.00E+00".rjust(12) + "\n"]
    steps = "".join(f" TIME STEP {number:8}\n{line}" for number, line in
                    enumerate(value_lines, start=1))
    merged = tmp_path / "m.plt"
    assert merged.read_bytes().decode() == "VORMANT PLOT FILE 2\nTIME\nX\n" + steps
    assert vormant.read(merged).values.tolist() == [[0.0, 1.5], [1.0, 7.0], [2.0, 8.0]]


def test_a_failed_copy_tells_the_write_error(tmp_path):
    with vormant.open(SAMPLE_6) as plot_file, open("/dev/full", "wb") as full:
        assert plot_file._copy_steps(full.fileno(), range(3, 40), 1) == errno.ENOSPC


@pytest.mark.parametrize("threads", [1, 2])
def test_a_failed_write_of_many_pieces_tells_the_write_error(threads):
    values = np.zeros((50_000, 10), dtype=np.float32)  # about four pieces of text
    with open("/dev/full", "wb") as full, pytest.raises(OSError) as raised:
        _reader.write_steps(full.fileno(), memoryview(values), 1, 12, threads)
    assert raised.value.errno == errno.ENOSPC


@pytest.mark.parametrize("command", ["cut", "merge"])
@pytest.mark.parametrize("width", [15, 12])
def test_a_fault_late_in_the_input_leaves_no_output(cli, tmp_path, command, width):  # noqa: F811
    """The fault is met in a late piece, after earlier pieces were written: it is reported as a
    read reports it, and nothing stays."""
    faulty = write_plot(tmp_path, 3, 40, 12, name="faulty.plt")
    assert with_bad_field(faulty, faulty, 39, 2, 3, 12) == 84
    out = tmp_path / "out"
    out.mkdir()
    # Width 15 makes both commands convert and format the faulty file's values; at its own
    # width 12 they copy its text as it stands.
    arguments = (["cut", faulty, "--width", str(width)] if command == "cut"
                 else ["merge", write_plot(tmp_path, 3, 40, width), faulty])
    result = cli(*arguments, "-o", out / "result.plt", piece_values=24)
    with pytest.raises(vormant.PlotFileError) as raised:
        vormant.read(faulty)
    assert result.returncode == 1 and result.stderr == f"vormant: error: {raised.value}\n"
    assert "faulty.plt, line 84:" in result.stderr and os.listdir(out) == []


@pytest.mark.parametrize("times, refused", [
    ([["0", "1", "2"], ["NaN", "3"]], "b.plt, line 5: the time of step 0 is NaN"),
    ([["0", "2", "1", "3"], ["1.5", "4"]], "a.plt, line 9: the time of step 2 (1) goes back"),
    ([["0", "1", "2"], ["3", "2.5"]], "b.plt, line 7: the time of step 1 (2.5) goes back"),
    ([["0", "1", "1", "2"], ["1", "5"]], None)])  # a time may repeat
def test_merge_takes_times_that_rise(cli, tmp_path, times, refused):  # noqa: F811
    paths = [tmp_path / "a.plt", tmp_path / "b.plt"]
    for path, steps in zip(paths, times):
        path.write_text(plot_text(["TIME", "X"], [[time, "7"] for time in steps]))
    result = cli("merge", *paths, "-o", tmp_path / "m.plt")
    if refused:
        assert result.returncode == 2 and result.stderr.startswith(
            f"vormant merge: error: {tmp_path / refused}")
        assert not (tmp_path / "m.plt").exists()
    else:
        assert result.returncode == 0, result.stderr
        assert vormant.read(tmp_path / "m.plt").values.tolist() == [[0, 7], [1, 7], [5, 7]]


def test_merge_refuses_different_names(cli, tmp_path):  # noqa: F811
    result = cli("merge", SAMPLE_9, write_plot(tmp_path, 5, 3, 15), "-o", tmp_path / "m.plt")
    assert result.returncode == 2 and "parameters" in result.stderr
    assert not (tmp_path / "m.plt").exists()


def read_back(form, path):
    if form == "csv":
        pandas = pytest.importorskip("pandas")
        return pandas.read_csv(path, dtype="float32").to_numpy()
    if form == "hdf5":
        h5py = pytest.importorskip("h5py")
        with h5py.File(path) as data:
            return data["values"][...]
    if form == "mat":
        return pytest.importorskip("scipy.io").loadmat(path)["values"]
    xarray = pytest.importorskip("xarray")
    with xarray.open_dataset(path, engine="h5netcdf") as data:
        return np.column_stack([data["time"].values, data["values"].values])


# The libraries that write each format and read it back.
FORMAT_LIBRARIES = {"csv": ("pyarrow", "pandas"), "hdf5": ("h5py",), "mat": ("scipy.io",),
                    "netcdf": ("xarray", "h5netcdf", "h5py")}


@pytest.mark.parametrize("form, option", [
    ("csv", "--to=csv"), ("hdf5", None), ("mat", None), ("netcdf", "--to=netcdf")])
def test_convert_reads_back_with_the_format_library(cli, tmp_path, form, option):  # noqa: F811
    for library in FORMAT_LIBRARIES[form]:
        pytest.importorskip(library, reason=f"the {form} format needs {library}")
    target = tmp_path / {"csv": "o.txt", "hdf5": "o.h5", "mat": "o.mat", "netcdf": "o.nc"}[form]
    result = cli("convert", SAMPLE_6, "-o", target, *([option] if option else []),
                 piece_values=30)
    assert result.returncode == 0, result.stderr
    values = np.asarray(vormant.read(SAMPLE_6).values)
    back = read_back(form, target)
    assert same_bits(back, values)


def test_convert_names_the_missing_extra(cli, tmp_path):  # noqa: F811
    result = cli("convert", SAMPLE_6, "-o", tmp_path / "o.h5", hide=("h5py",))
    assert result.returncode == 1 and "tarnex[hdf5]" in result.stderr
    assert os.listdir(tmp_path) == []


def needs(form):
    for library in FORMAT_LIBRARIES.get(form, ("pyarrow.parquet",)):
        pytest.importorskip(library, reason=f"the {form} format needs {library}")


@pytest.mark.parametrize("command", [("write",), ("cut",), ("convert", "--to=hdf5")])
def test_a_replaced_output_keeps_its_mode(cli, tmp_path, command):  # noqa: F811
    if command[0] == "convert":
        needs(command[1].split("=")[1])
    target = tmp_path / "out"
    target.write_bytes(b"old")
    target.chmod(0o600)
    if command == ("write",):
        vormant.write(target, vormant.read(SAMPLE_6))
    else:
        result = cli(command[0], SAMPLE_6, "-o", target, *command[1:])
        assert result.returncode == 0, result.stderr
    assert stat.S_IMODE(target.stat().st_mode) == 0o600 and target.read_bytes() != b"old"


@pytest.mark.parametrize("form", ["parquet", "csv", "hdf5", "netcdf"])
def test_a_failed_convert_keeps_the_previous_output(cli, tmp_path, form):  # noqa: F811
    needs(form)
    faulty = write_plot(tmp_path, 3, 40, 12, name="faulty.plt")
    with_bad_field(faulty, faulty, 39, 0, 3, 12)
    out = tmp_path / "out"
    out.mkdir()
    (out / "old").write_bytes(b"previous")
    result = cli("convert", faulty, "-o", out / "old", f"--to={form}", piece_values=24)
    assert result.returncode == 1 and "faulty.plt, line 84:" in result.stderr
    assert os.listdir(out) == ["old"] and (out / "old").read_bytes() == b"previous"


# The command line with files limited to 100,000 bytes: a longer write fails (EFBIG), as on a
# full disk.
LIMITED = ("import resource, signal, sys; signal.signal(signal.SIGXFSZ, signal.SIG_IGN); "
           "resource.setrlimit(resource.RLIMIT_FSIZE, (100_000, 100_000)); "
           "from vormant.cli import main; sys.exit(main(sys.argv[1:]))")


@pytest.mark.parametrize("form", ["parquet", "csv", "hdf5", "mat", "netcdf"])
def test_a_full_disk_fails_that_output_alone(run_python, tmp_path, form):
    needs(form)
    pytest.importorskip("resource")
    files = [write_plot(tmp_path, 20, 2000, 15, name="big.plt"),
             write_plot(tmp_path, 3, 5, 15, name="small.plt")]
    out = tmp_path / "out"
    result = run_python(LIMITED, "convert", *files, "-o", str(out), f"--to={form}")
    target = out / f"big{SUFFIXES[form]}"
    assert (result.returncode, result.err) == (
        1, f"vormant: error: cannot write {target}: {os.strerror(errno.EFBIG)}\n")
    assert os.listdir(out) == [f"small{SUFFIXES[form]}"]


@pytest.mark.parametrize("form", ["hdf5", "netcdf"])
def test_convert_takes_any_name_line_and_path(cli, tmp_path, form):  # noqa: F811
    needs(form)
    source = write_plot(tmp_path, 5000, 2, 15, name=os.fsdecode(b"caf\xe9.plt"))
    lines = pathlib.Path(source).read_text().split("\n")
    lines[2:5] = ["SPEED  M/S", "", "A.B"]  # each no name a NetCDF variable may have
    pathlib.Path(source).write_text("\n".join(lines))
    target = tmp_path / f"o{SUFFIXES[form]}"
    result = cli("convert", source, "-o", target)
    assert result.returncode == 0, result.stderr
    plot = vormant.read(source)
    assert same_bits(read_back(form, target), plot.values)
    h5py = pytest.importorskip("h5py")
    with h5py.File(target) as data:
        names = data["names"].asstr()[...].tolist()
        if form == "netcdf":  # the names of the parameters; the time's is its long_name
            names.insert(0, data["time"].attrs["long_name"])
        written_source = data["values" if form == "hdf5" else "/"].attrs["source"]
    assert names == list(plot.names)
    assert written_source == os.fsencode(source).decode(errors="backslashreplace")
