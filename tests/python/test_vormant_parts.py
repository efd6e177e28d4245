"""A plot file cut into parts by counting line feeds, as Dask's workers cut it, without Dask:
the parts and their reads as Python hands them on. That the parts put together are the whole
read, whatever the cut, is held in open_plot_test.cpp (Parts)."""

import os

import pytest
from vormant_files import write_plot

import vormant
from vormant import _reader
from vormant.dask import _parts_of, _read_part

np = pytest.importorskip("numpy")


def parts(path, size):
    encoded = os.fsencode(path)
    begins, ends = _reader.part_ranges(encoded, size)
    counts = tuple(_reader.count_feeds(encoded, begin, end) for begin, end in zip(begins, ends))
    return _parts_of(path, begins, ends, counts, len(_reader.names(encoded)))


@pytest.mark.parametrize("columns", [None, [12, 1]])
def test_parts_put_together_are_the_whole_read(tmp_path, columns):
    path = write_plot(tmp_path, 13, 40, 12)
    found, last = parts(path, 97)
    full = vormant.read(path).to_numpy()
    together = np.concatenate([_read_part(part, None, columns).to_numpy() for part in found])
    expected = full if columns is None else full[:, [0, *columns]]
    assert together.tobytes() == np.ascontiguousarray(expected).tobytes()
    time = _reader.time_of_step(os.fsencode(path), None, last.begin, last.feeds_before,
                                last.first_step)
    assert (last.first_step, np.float32(time)) == (len(full) - 1, full[-1, 0])


def test_a_file_without_steps_is_one_empty_part(tmp_path):
    path = tmp_path / "empty.txt"
    path.write_text(" VORMANT   2\nTIME\nA\n")
    found, _ = parts(str(path), 100)
    assert _read_part(found[0], 12, None).to_numpy().shape == (0, 2)


def test_a_fault_in_a_part_names_its_line(tmp_path):
    path = write_plot(tmp_path, 13, 30, 12)
    lines = open(path).read().splitlines(keepends=True)
    lines[15 + 3 * 20] = "x".rjust(12) + lines[15 + 3 * 20][12:]  # step 20's time
    open(path, "w").write("".join(lines))
    found, _ = parts(path, 300)
    faulty = [part for part in found if part.first_step <= 20 < part.first_step + part.steps]
    with pytest.raises(vormant.PlotFileError) as caught:
        _read_part(faulty[0], 12, [4])
    assert caught.value.line == 16 + 3 * 20
    with pytest.raises(vormant.PlotFileError):
        _reader.time_of_step(os.fsencode(path), 12, faulty[0].begin, faulty[0].feeds_before, 20)
    with pytest.raises(FileNotFoundError):
        _reader.count_feeds(os.fsencode(path) + b".none", 0, 10)
