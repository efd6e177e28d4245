"""vormant._reader on its own: the values tarnex reads, as one float32 block; every failure as
PlotFileError or OSError with its line; the interpreter lock released while reading."""

import array
import os
import pathlib
import pickle
import random
import sys
import threading
import time

import pytest
from leak_check import assert_nothing_leaks, needs_debug_interpreter

import tarnex

if (pathlib.Path(__file__).resolve().parents[2] / "python" / "vormant").is_dir():
    from vormant import _reader
    from vormant._errors import PlotFileError
else:  # this checkout has the native half of vormant only
    _reader = pytest.importorskip("vormant._reader")
    PlotFileError = pytest.importorskip("vormant._errors").PlotFileError


def read_whole(path, n_digits):
    """The whole file read on one thread: (names, n_digits, values)."""
    return _reader.read_split(path, n_digits, 1)


def plot_text(parameters, steps, width, eol="\n", seed=0):
    """A plot file of random values in both signs and many magnitudes."""
    rng = random.Random(seed)
    digits = width - 7  # sign, "0.", "E+00"
    lines = [f" PLOT FILE {parameters}"] + [f"  PARAM{p:04d}  UNIT " for p in range(parameters)]
    for step in range(steps):
        lines.append(f" TIME STEP {step}")
        fields = [f"{rng.uniform(-1, 1) * 10 ** rng.randint(-40, 38):{width}.{digits}E}"
                  for _ in range(parameters)]
        lines += ["".join(fields[i:i + 10]) for i in range(0, parameters, 10)]
    return eol.join(lines) + eol


def tarnex_bytes(path, width):
    """The row-major binary32 bytes of what tarnex reads from `path`."""
    times, columns = tarnex.rust_read_vormant(path, width)
    rows = zip(times, *columns)
    return array.array("f", [value for row in rows for value in row]).tobytes()


def check_same_as_tarnex(path, width, n_digits):
    names, used, values = read_whole(os.fsencode(path), n_digits)
    view = memoryview(values)
    assert used == width
    assert (view.format, view.itemsize, view.ndim, view.c_contiguous) == ("f", 4, 2, True)
    assert view.shape[1] == len(names)
    assert view.tobytes() == tarnex_bytes(path, width)
    return names, view


@pytest.mark.parametrize(
    "parameters, steps, width, eol",
    [(1, 5, 12, "\n"), (2, 40, 15, "\r\n"), (10, 30, 12, "\n"), (11, 30, 15, "\n"),
     (23, 50, 12, "\r\n"), (47, 20, 15, "\n")],
)
def test_generated_files_read_bit_identical_to_tarnex(plot_file, parameters, steps, width, eol):
    path = plot_file(plot_text(parameters, steps, width, eol, seed=parameters))
    for n_digits in (width, None):
        names, view = check_same_as_tarnex(path, width, n_digits)
        assert view.shape == (steps, parameters)
        assert names == tuple(f"PARAM{p:04d}  UNIT" for p in range(parameters))


def test_a_file_without_steps_gives_an_empty_block_of_its_width(plot_file):
    names, used, values = read_whole(os.fsencode(plot_file("x 3\n a \nb\t\n c\n")), 15)
    view = memoryview(values)
    assert (names, used, view.shape, view.strides, view.nbytes) == (("a", "b", "c"), 15, (0, 3),
                                                                    (12, 4), 0)


def test_values_are_writable_and_shared_with_numpy(plot_file):
    numpy = pytest.importorskip("numpy")
    _, _, values = read_whole(os.fsencode(plot_file(plot_text(3, 4, 12))), 12)
    first = numpy.asarray(memoryview(values))
    first[1, 2] = 7.5
    assert numpy.asarray(memoryview(values))[1, 2] == 7.5
    assert numpy.shares_memory(first, numpy.asarray(memoryview(values)))
    direct = numpy.asarray(values)
    assert (direct.dtype, direct.shape, direct.flags.writeable) == (numpy.float32, (4, 3), True)
    assert numpy.shares_memory(first, direct)


HEADER = "title 3\na\nb\nc\n"
BLOCK = "lead\n         1.0         2.0         3.0\n"


@pytest.mark.parametrize(
    "content, n_digits, line, words",
    [
        (b"", 12, 1, "line 1: the file is empty"),
        (b"plot abc\n", 12, 1, "line 1: the first line must end with the number of parameters, "
                               "found 'abc'"),
        (b"plot 0\n", 12, 1, "found '0'"),
        (b" \n", 12, 1, "found nothing"),
        (b"\xff 2\n", 12, 1, "line 1: the line is not valid UTF-8"),
        (b"title 3\na\nb\n", 12, 4, "the file ends after 2 of its 3 parameter name lines "
                                    "(line 4 expected)"),
        ((HEADER + BLOCK + "lead\n").encode(), 12, 8,
         "the file ends inside the time step that starts on line 7 (line 8 expected)"),
        ((HEADER + "lead\n" + "1" * 35 + "\n").encode(), 12, 6,
         "line 6: value line is 35 bytes long, too short for field 3 (bytes 24 to 36) "
         "(parameter 'c', column 2)"),
        ((HEADER + "lead\n         1.0           \xe9         3.0\n").encode(), 12, 6,
         "line 6: field 2 (bytes 12 to 24) splits a character"),
        ((HEADER + BLOCK + "lead\n         1.0   1.2.3E+00         3.0\n").encode(), 12, 8,
         "line 8: field 2 ('   1.2.3E+00') is not a number (parameter 'b', column 1)"),
        ((HEADER + "lead\n" + " " * 12 + "         2.0         3.0\n").encode(), 12, 6,
         "line 6: field 1 is blank (parameter 'a', column 0)"),
        ((HEADER + "lead\n" + "1" * 37 + "\n").encode(), None, 6,
         "the first value line is 37 bytes long, not 3 fields of 12 or 15 bytes; "
         "pass n_digits=12 or 15"),
        (HEADER.encode(), None, 5, "the file has no time steps; pass n_digits=12 or 15"),
    ],
    ids=["empty", "bad_count", "zero_count", "blank_count", "invalid_utf8", "missing_name",
         "ends_in_step", "short_line", "split_character", "not_a_number", "blank_field",
         "width_not_told", "no_steps_no_width"],
)
def test_file_failures_are_plot_file_errors_with_their_line(plot_file, capfd, content, n_digits,
                                                            line, words):
    path = plot_file(content)
    with pytest.raises(PlotFileError) as caught:
        read_whole(os.fsencode(path), n_digits)
    error = caught.value
    assert isinstance(error, ValueError)
    assert (error.path, error.line) == (path, line)
    assert str(error).startswith(path) and words in str(error)
    copy = pickle.loads(pickle.dumps(error))
    assert (type(copy), str(copy), copy.path, copy.line) == (PlotFileError, str(error), path, line)
    assert capfd.readouterr() == ("", "")


def test_undecodable_path_comes_back_as_os_fsdecode_gives_it(tmp_path):
    raw = os.fsencode(str(tmp_path)) + b"/plot-\xff.plt"
    with pytest.raises(FileNotFoundError) as caught:
        read_whole(raw, 12)
    assert caught.value.filename == os.fsdecode(raw)


@pytest.mark.parametrize(
    "args, error",
    [((b"a\0b", 12), ValueError), (("plot.plt", 12), TypeError), ((b"plot.plt", 13), ValueError),
     ((b"plot.plt", True), TypeError), ((b"plot.plt", 12.0), TypeError),
     ((b"plot.plt", 2**70), ValueError), ((b"plot.plt",), TypeError)],
)
def test_bad_arguments_are_refused_before_reading(args, error):
    with pytest.raises(error):
        _reader.read_split(*args, 1)


SAMPLE = os.fsencode(pathlib.Path(__file__).resolve().parents[2] / "samples" / "plot-6digits.txt")
ONE_VALUE = memoryview(bytes(4)).cast("f", (1, 1))
OPEN_FILE_CALLS = {
    "read arity": (lambda f: f.read(None, 0, 1, 1), TypeError),
    "columns a list": (lambda f: f.read([1], 0, 1, 1, 1), TypeError),
    "column 0": (lambda f: f.read((0,), 0, 1, 1, 1), ValueError),
    "column past P": (lambda f: f.read((12,), 0, 1, 1, 1), IndexError),
    "column a bool": (lambda f: f.read((True,), 0, 1, 1, 1), TypeError),
    "column too big": (lambda f: f.read((2**70,), 0, 1, 1, 1), OverflowError),
    "first past steps": (lambda f: f.read(None, 40, 1, 1, 1), IndexError),
    "last past steps": (lambda f: f.read(None, 30, 2, 6, 1), IndexError),
    "stride 0": (lambda f: f.read(None, 0, 0, 2, 1), IndexError),
    "threads negative": (lambda f: f.read(None, 0, 1, 1, -1), ValueError),
    "first a float": (lambda f: f.read(None, 0.0, 1, 1, 1), TypeError),
}
MODULE_CALLS = {
    "open arity": (lambda: _reader.open(SAMPLE, None), TypeError),
    "open bad width": (lambda: _reader.open(SAMPLE, 13, False), ValueError),
    "split arity": (lambda: _reader.read_split(SAMPLE, None), TypeError),
    "split threads negative": (lambda: _reader.read_split(SAMPLE, None, -1), ValueError),
    "split threads text": (lambda: _reader.read_split(SAMPLE, None, "2"), TypeError),
    "columns arity": (lambda: _reader.read_columns(SAMPLE, None, (1,)), TypeError),
    "columns a list": (lambda: _reader.read_columns(SAMPLE, None, [1], 0), TypeError),
    "column negative": (lambda: _reader.read_columns(SAMPLE, None, (-1,), 0), OverflowError),
    "column out of range": (lambda: _reader.read_columns(SAMPLE, None, (99,), 0), IndexError),
    "columns threads negative": (lambda: _reader.read_columns(SAMPLE, None, (1,), -1),
                                 ValueError),
    "names of text": (lambda: _reader.names("plot"), TypeError),
    "part arity": (lambda: _reader.read_part(SAMPLE, None, None, 0, 0, 0, 1), TypeError),
    "part columns": (lambda: _reader.read_part(SAMPLE, None, [1], 0, 0, 0, 1, True), TypeError),
    "part column text": (lambda: _reader.read_part(SAMPLE, None, ("1",), 0, 0, 0, 1, True),
                         TypeError),
    "part negative": (lambda: _reader.read_part(SAMPLE, None, None, -1, 0, 0, 1, True),
                      OverflowError),
    "part column past P": (lambda: _reader.read_part(SAMPLE, None, (12,), 0, 0, 0, 1, True),
                           IndexError),
    "part step past the file": (lambda: _reader.read_part(SAMPLE, None, None, 0, 0, 2**62, 1,
                                                          True), IndexError),
    "part feeds past the step": (lambda: _reader.read_part(SAMPLE, None, None, 0, 3, 1, 1, True),
                                 ValueError),
    "part offset past off_t": (lambda: _reader.read_part(SAMPLE, None, None, 2**63, 0, 0, 1,
                                                         True), OverflowError),
    "feeds backwards": (lambda: _reader.count_feeds(SAMPLE, 9, 1), ValueError),
    "feeds arity": (lambda: _reader.count_feeds(SAMPLE, 0), TypeError),
    "time arity": (lambda: _reader.time_of_step(SAMPLE, None, 0, 0), TypeError),
    "layout of text": (lambda: _reader.layout("plot"), TypeError),
    "layout missing": (lambda: _reader.layout(SAMPLE + b".none"), FileNotFoundError),
    "feeds of a bool": (lambda: _reader.count_feeds(SAMPLE, True, 9), TypeError),
    "write width none": (lambda: _reader.write_steps(1, ONE_VALUE, 1, None, 0), ValueError),
    "write threads negative": (lambda: _reader.write_steps(1, ONE_VALUE, 1, 12, -1), ValueError),
    "write number negative": (lambda: _reader.write_steps(1, ONE_VALUE, -1, 12, 0), ValueError),
    "batch of no column": (lambda: _reader.batch_steps(0), ValueError),
    "batch of a bool": (lambda: _reader.batch_steps(True), TypeError),
    "batch too wide": (lambda: _reader.batch_steps(2**62), OverflowError),
}


@pytest.mark.parametrize("case", sorted(OPEN_FILE_CALLS))
def test_an_open_file_checks_its_arguments(case):
    call, error = OPEN_FILE_CALLS[case]
    plot_file = _reader.open(SAMPLE, None, False)
    with pytest.raises(error):
        call(plot_file)
    plot_file.close()


@pytest.mark.parametrize("case", sorted(MODULE_CALLS))
def test_the_module_functions_check_their_arguments(case):
    call, error = MODULE_CALLS[case]
    with pytest.raises(error):
        call()


@pytest.mark.parametrize("columns", [None, (1,)])
def test_a_part_past_the_end_of_the_file_ends_inside_its_first_missing_step(columns):
    with pytest.raises(PlotFileError) as caught:
        _reader.read_part(SAMPLE, None, columns, 0, 0, 0, 2**62, True)
    assert caught.value.line == 14 + 40 * 3  # 40 steps of 3 lines after 13 header lines


def test_a_closed_file_refuses_everything_but_closing():
    plot_file = _reader.open(SAMPLE, None, False)
    plot_file.close()
    plot_file.close()
    assert plot_file.closed
    for call in (lambda: plot_file.read(None, 0, 1, 1, 1), plot_file.refresh,
                 lambda: plot_file.steps, lambda: plot_file.n_digits, lambda: plot_file.names):
        with pytest.raises(ValueError, match="closed"):
            call()
    plot_file.check_complete()  # nothing left to check
    with pytest.raises(TypeError):
        _reader.PlotFile()


def test_the_values_type_cannot_be_made_from_python():
    with pytest.raises(TypeError):
        _reader.Values()


def big_plot(tmp_path, name, steps=150_000):
    """A file of `steps` steps of 12 parameters, the same value lines over and over."""
    text = plot_text(12, 1, 12)
    head, block = text.split(" TIME STEP 0\n")
    path = tmp_path / name
    path.write_text(head + (" TIME STEP\n" + block) * steps)
    return str(path)


def test_reading_releases_the_interpreter_lock(tmp_path):
    # A counter thread stamps the time as it runs. Were the lock held while the file is read,
    # no stamp could fall in the middle half of the read. A virtual machine may leave the
    # counter unscheduled through one read, never through several.
    path = os.fsencode(big_plot(tmp_path, "big.plt"))
    assert any(counter_ran_during_read(path) for _ in range(5))


def counter_ran_during_read(path):
    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-4)
    stamps, done = [], threading.Event()

    def count():
        while not done.is_set():
            stamps.append(time.monotonic())

    counter = threading.Thread(target=count)
    counter.start()
    try:
        start = time.monotonic()
        read_whole(path, 12)
        end = time.monotonic()
    finally:
        done.set()
        counter.join()
        sys.setswitchinterval(interval)
    quarter = (end - start) / 4
    return any(start + quarter < stamp < end - quarter for stamp in stamps)


def test_threads_reading_different_files_get_their_own_values(tmp_path):
    paths = [big_plot(tmp_path, f"big{i}.plt", steps=20_000 + i) for i in range(4)]
    results = [None] * len(paths)

    def read(index):
        results[index] = memoryview(read_whole(os.fsencode(paths[index]), None)[2]).shape

    threads = [threading.Thread(target=read, args=(i,)) for i in range(len(paths))]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert results == [(20_000 + i, 12) for i in range(len(paths))]


@needs_debug_interpreter
def test_no_reference_or_block_is_leaked(plot_file):
    good = os.fsencode(plot_file(plot_text(11, 6, 15)))
    bad = os.fsencode(plot_file(HEADER + "lead\n" + "x" * 36 + "\n"))
    missing = os.fsencode(plot_file("") + ".missing")

    def round_():
        memoryview(read_whole(good, None)[2]).tobytes()
        for path in (bad, missing):
            try:
                read_whole(path, 12)
            except (PlotFileError, OSError):
                pass

    assert_nothing_leaks(round_, warm_up=10)
