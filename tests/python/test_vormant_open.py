"""vormant.open and the reads of part of a file as Python asks for them: the forms of columns,
steps and threads, pieces, growing files, the faults a read raises. The values and failures of
every kind of read are held against the whole read in open_plot_test.cpp."""

import importlib.util
import os
import pickle
import subprocess
import sys

import pytest
from leak_check import assert_nothing_leaks, needs_debug_interpreter
from vormant_files import SAMPLE_6, SAMPLE_9, write_plot

import vormant

np = pytest.importorskip("numpy")

HEADER_3 = " VORMANT PLOT FILE   3\nTIME  S\nA  U\nB\n"


def step_text(time, a, b, width=12):
    return f" TIME STEP\n{time:>{width}}{a:>{width}}{b:>{width}}\n"


def same_bits(plot, expected):
    got = plot.to_numpy()
    assert got.shape == expected.shape
    assert got.view(np.uint32).tobytes() == np.ascontiguousarray(expected).view(np.uint32).tobytes()


def rows(count, steps):
    """The step indices `steps` stands for, as a list of `count` steps takes them."""
    every = list(range(count))
    if steps is None:
        return every
    if isinstance(steps, range):  # a range is its elements
        return [every[index] for index in steps]
    return every[steps]


COLUMN_CHOICES = [None, [], [1], [-1], [3, 1], "words", "reversed"]
STEP_CHOICES = [None, slice(-3, None), slice(None, None, -2), slice(4, 2), slice(1, None, 3),
                range(1, 6, 3), range(4, -1, -1), range(4, -1, -2), range(-1, 0, -1), range(-3, 0),
                range(-1, -6, -2), range(0, 5, 7)]


def chosen_columns(names, choice):
    """The choice as read() takes it and as the parameter indices it stands for."""
    last = len(names) - 1
    if choice is None:
        return None, list(range(1, last + 1))
    if choice == "words":  # whole name lines and first words, mixed
        picked = list(range(1, last + 1))[:4]
        return ([names[c] if c % 2 else names[c].split()[0] for c in picked], picked)
    if choice == "reversed":
        return list(range(last, 0, -1)), list(range(last, 0, -1))
    picked = sorted({c if c > 0 else last + 1 + c for c in choice if last >= 1})
    picked = [c for c in picked if 1 <= c <= last][::-1 if choice == [3, 1] else 1]
    return picked, picked


# The argument forms of a selection reach the reader as the rows and columns they stand for:
# the values of reads of any selection are held against the full read in open_plot_test.cpp.
@pytest.mark.parametrize("steps", STEP_CHOICES, ids=repr)
@pytest.mark.parametrize("choice", COLUMN_CHOICES, ids=repr)
def test_a_selection_reads_the_rows_and_columns_it_names(choice, steps):
    full = vormant.read(SAMPLE_9).to_numpy()
    with vormant.open(SAMPLE_9) as plot_file:
        columns, indices = chosen_columns(plot_file.names, choice)
        expected = full[rows(len(full), steps)][:, [0, *indices]]
        plot = plot_file.read(columns, steps, threads=2)
        same_bits(plot, expected)
        assert plot.names == tuple(plot_file.names[c] for c in [0, *indices])
    same_bits(vormant.read(SAMPLE_9, columns=columns, steps=steps), expected)


def test_open_describes_the_file():
    with vormant.open(SAMPLE_9) as plot_file:
        assert (plot_file.n_digits, plot_file.steps, len(plot_file)) == (15, 30, 30)
        assert plot_file.parameters == len(plot_file.names) == 23
        assert plot_file.path == str(SAMPLE_9)
        assert plot_file.index("PARAM0004") == plot_file.index("PARAM0004  UNIT4") == 4
    assert plot_file.closed
    with pytest.raises(ValueError, match="closed"):
        plot_file.read()


@pytest.mark.parametrize("closed", [False, True], ids=["open", "closed"])
def test_a_plot_file_shows_its_steps_or_that_it_is_closed(closed):
    plot_file = vormant.open(SAMPLE_9)
    if closed:
        plot_file.close()
    state = "closed" if closed else "30 steps"
    assert repr(plot_file).endswith(f"23 parameters, {state}>")
    assert f"<th>steps</th><td>{state.split()[0]}</td>" in plot_file._repr_html_()
    plot_file.close()


@pytest.mark.parametrize("columns, error", [
    (["NOPE"], KeyError), (["PARAM0001", "PARAM0001  UNIT1"], ValueError), ([1, 1], ValueError),
    (["TIME"], ValueError), ([0], IndexError), ([12], IndexError), ("PARAM0001", TypeError),
    ([1.0], TypeError), ([True], TypeError),
])
def test_unusable_columns_are_refused_before_any_value_is_read(tmp_path, columns, error):
    path = tmp_path / "bad.txt"
    text = SAMPLE_6.read_text().splitlines(keepends=True)
    text[17] = "x" * 12 + text[17][12:]  # the second time step's time: refused by any read
    path.write_text("".join(text))
    with pytest.raises(error):
        vormant.read(path, columns=columns)


def test_ambiguous_first_word_lists_the_candidates(plot_file):
    path = plot_file(" 4\nTIME S\nVA a\nVA b\nW\n" + " TS\n" + "1.0".rjust(12) * 4 + "\n")
    with pytest.raises(ValueError, match="'VA a', 'VA b'"):
        vormant.read(path, columns=["VA"])
    assert vormant.read(path, columns=["W", "VA b"]).names == ("TIME S", "W", "VA b")


@pytest.mark.parametrize("steps, kind", [(range(5, 6), IndexError), (range(-6, -4), IndexError),
                                         (range(-1, 2), ValueError)], ids=repr)
def test_a_range_beyond_the_steps_is_refused(tmp_path, steps, kind):
    with vormant.open(write_plot(tmp_path, 3, 5, 12)) as plot_file, pytest.raises(kind):
        plot_file.read(steps=steps)


@pytest.mark.parametrize("selection", [{"steps": "1:3"}, {"steps": 2}, {"steps": [1, 2]},
                                       {"steps": slice(0, 2.5)}, {"columns": "X"},
                                       {"columns": [1.5]}, {"columns": 3}], ids=repr)
def test_unusable_selections_are_refused_before_the_file_is_touched(tmp_path, selection):
    missing = tmp_path / "missing.plt"
    with pytest.raises(TypeError):
        vormant.read(missing, **selection)
    with pytest.raises(TypeError):
        vormant.read_many([SAMPLE_6, missing], errors="return", **selection)


def faulty_file(folder, faults):
    """A file of 3 parameters and 40 time steps with `faults` (step, field, text) put in."""
    lines = [HEADER_3]
    for step in range(40):
        fields = [f"{step}.5", f"{-step}.25", "1e-3"]
        for fault_step, field, text in faults:
            if fault_step == step:
                fields[field] = text
        lines.append(" TIME STEP\n" + "".join(f.rjust(12) for f in fields) + "\n")
    path = folder / f"faulty-{len(faults)}.txt"
    path.write_text("".join(lines))
    return path


def fault_line(step):
    return 5 + 2 * step + 1


@pytest.mark.parametrize("size", [1, 7, 40, 1000])
def test_chunks_put_together_are_the_full_read(size):
    full = vormant.read(SAMPLE_6).to_numpy()
    with vormant.open(SAMPLE_6) as plot_file:
        pieces = list(plot_file.chunks(size, columns=["PARAM0002", 1]))
    assert [piece.steps for piece in pieces[:-1]] == [size] * (len(pieces) - 1)
    assert 0 < pieces[-1].steps <= size
    same_bits_of = np.concatenate([piece.to_numpy() for piece in pieces])
    assert same_bits_of.tobytes() == np.ascontiguousarray(full[:, [0, 2, 1]]).tobytes()


@pytest.mark.parametrize("size", [0, -1, 1.5, True])
def test_chunk_size_must_be_a_positive_int(size):
    with vormant.open(SAMPLE_6) as plot_file, pytest.raises((TypeError, ValueError)):
        plot_file.chunks(size)


def append_in_child(path, text):
    """Appends from another process, as a simulation writing the file would."""
    code = "import sys; open(sys.argv[1], 'a').write(sys.argv[2])"
    subprocess.run([sys.executable, "-c", code, str(path), text], check=True)


def test_a_growing_file_is_indexed_as_it_is_written(tmp_path):
    path = tmp_path / "growing.txt"
    path.write_text(HEADER_3 + " TIME STEP\n" + "1.5".rjust(12))
    with pytest.raises(vormant.PlotFileError, match="too short for field 2"):
        vormant.read(path, 12)
    with vormant.open(path, growing=True) as plot_file:
        assert (plot_file.steps, plot_file.n_digits) == (0, None)
        assert plot_file.read().to_numpy().shape == (0, 3)
        append_in_child(path, "2.5".rjust(12))
        assert plot_file.refresh() == 0  # the file ends inside the step's last line
        append_in_child(path, "3.5".rjust(12) + "\n" + step_text("4.5", "5", "6")[:15])
        assert plot_file.refresh() == 1
        assert (plot_file.steps, plot_file.n_digits) == (1, 12)
        append_in_child(path, step_text("4.5", "5", "6")[15:] + step_text("7", "8", "9"))
        assert plot_file.refresh() == 2
        same_bits(plot_file.read(), np.array([[1.5, 2.5, 3.5], [4.5, 5, 6], [7, 8, 9]],
                                             dtype=np.float32))
        assert plot_file.refresh() == 0


def test_thread_counts_past_the_processors_read_as_one_thread():
    once = vormant.read(SAMPLE_6, threads=1).to_numpy()
    same_bits(vormant.read(SAMPLE_6, threads=2**31), once)
    with vormant.open(SAMPLE_6) as plot_file:
        same_bits(plot_file.read(threads=10**9), once)


def test_a_fault_in_a_complete_step_of_a_growing_file_is_still_a_fault(tmp_path):
    path = tmp_path / "growing.txt"
    path.write_text(HEADER_3 + step_text("1", "x", "3") + " TIME STEP\n")
    with vormant.open(path, 12, growing=True) as plot_file:
        assert plot_file.steps == 1
        with pytest.raises(vormant.PlotFileError) as caught:
            plot_file.read()
        assert caught.value.line == 6


def test_a_whole_read_of_a_file_ending_inside_a_step_fails_as_before(tmp_path):
    path = faulty_file(tmp_path, [(39, 1, "bad")])
    path.write_text(path.read_text() + " TIME STEP\n")
    for threads in (1, 2):
        with pytest.raises(vormant.PlotFileError) as caught:
            vormant.read(path, threads=threads)
        assert caught.value.line == fault_line(39)
    path.write_text(faulty_file(tmp_path, []).read_text() + " TIME STEP\n")
    for threads in (1, 2):
        with pytest.raises(vormant.PlotFileError, match="ends inside") as caught:
            vormant.read(path, threads=threads)
        assert caught.value.line == fault_line(40)


def test_width_is_asked_for_when_the_first_value_line_misleads(plot_file):
    # 12-byte fields with three spare bytes each at the line's end: as long as 15-byte fields.
    line = "".join(v.rjust(12) for v in ["-1.00000E+00", "-2.00000E+00", "-3.00000E+00"])
    path = plot_file(HEADER_3 + " TIME STEP\n" + line + "   " * 3 + "\n")
    with pytest.raises(vormant.PlotFileError, match="n_digits"):
        vormant.read(path)
    assert vormant.read(path, 12).to_numpy().tolist() == [[-1.0, -2.0, -3.0]]


def test_read_many_passes_the_selection_on_and_refuses_a_single_path(tmp_path):
    paths = [str(SAMPLE_6), str(SAMPLE_6)]
    plots = vormant.read_many(paths, columns=["PARAM0003"], steps=slice(-2, None))
    assert [plot.to_numpy().shape for plot in plots] == [(2, 2), (2, 2)]
    for single in [str(SAMPLE_6), os.fsencode(SAMPLE_6), SAMPLE_6]:
        with pytest.raises(TypeError, match="not a single"):
            vormant.read_many(single)
        if importlib.util.find_spec("dask") is not None:
            with pytest.raises(TypeError, match="not a single"):
                vormant.dask.read_frame(single)


@pytest.mark.parametrize("selection", [{}, {"columns": [2, 1], "steps": slice(3, 9, 2)}])
def test_a_plot_pickles_with_its_values(selection):
    plot = vormant.read(SAMPLE_9, **selection)
    copy = pickle.loads(pickle.dumps(plot))
    assert (copy.names, copy.n_digits, copy.path) == (plot.names, plot.n_digits, plot.path)
    same_bits(copy, plot.to_numpy())


LEAK_CASES = {
    "open and read parts": lambda path: [vormant.open(path).read([2], slice(1, 9, 2)),
                                         vormant.read(path, threads=2)],
    "chunks": lambda path: list(vormant.open(path).chunks(3, columns=[1])),
    "unknown name": lambda path: vormant.read(path, columns=["NOPE"]),
    "fault": lambda path: vormant.open(path).read([1]),
    "closed": lambda path: vormant.PlotFile(path).close() or vormant.PlotFile(path).read(),
    "missing": lambda path: vormant.open(path + ".none"),
    "growing": lambda path: vormant.open(path, growing=True).refresh(),
}


@needs_debug_interpreter
@pytest.mark.parametrize("case", sorted(LEAK_CASES))
def test_no_reference_is_leaked(plot_file, case):
    path = plot_file(HEADER_3 + step_text("1", "x", "3") * 9)

    def call():
        try:
            LEAK_CASES[case](path)
        except (ValueError, KeyError, OSError):
            pass

    assert_nothing_leaks(call)


def spanning_file(folder, faults):
    """A file of 11 parameters whose time steps run past 1 MiB after its header, a field of
    parameter 10 made `text` in each step of `faults` (a dict); and the step whose second value
    line holds the 1 MiB boundary (the first lead line is padded to put it there)."""
    header = " VORMANT   11\n" + "".join(f"P{p}\n" for p in range(11))
    lead = " TIME STEP\n"
    values = "".join("1.5".rjust(12) for p in range(10)) + "\n"
    step_length = len(lead) + len(values) + 13
    boundary, within = divmod(2**20, step_length)
    # Where the second value line of a step starts, and its middle.
    padding = (len(lead) + len(values) + 6 - within) % step_length
    steps = [(" " * padding if step == 0 else "") + lead + values
             + faults.get(step, "7.25").rjust(12) + "\n" for step in range(boundary + 20)]
    path = folder / f"spanning-{len(faults)}.txt"
    path.write_text(header + "".join(steps))
    return path, boundary if padding <= within else boundary - 1


def test_one_pass_reads_raise_the_earliest_fault_with_lines_across_reads(tmp_path):
    path, boundary = spanning_file(tmp_path, {})
    full = vormant.read(path).to_numpy()
    same_bits(vormant.read(path, columns=[10, 3], threads=1), full[:, [0, 10, 3]])
    with vormant.open(path) as plot_file:  # the boundary inside the line, as the test means
        second = plot_file.read([10], steps=range(boundary, boundary + 1))
        assert second.to_numpy().tolist() == [[1.5, 7.25]]
    for faults, earliest in [({boundary: "x", boundary + 9: "y"}, boundary),
                             ({boundary - 3: "x", boundary: "y"}, boundary - 3),
                             ({boundary + 1: "x"}, boundary + 1)]:
        path, _ = spanning_file(tmp_path, faults)
        with pytest.raises(vormant.PlotFileError) as caught:
            vormant.read(path, columns=[10], threads=1)
        assert caught.value.line == 13 + 3 * earliest + 2
