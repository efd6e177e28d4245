"""vormant.dask.read_frame on a real cluster of worker processes."""

import os

import pytest
from vormant_files import SAMPLE_6, with_bad_field, write_plot

import vormant
import vormant.dask

dd = pytest.importorskip("dask.dataframe", reason="needs the dask extra")
distributed = pytest.importorskip("distributed", reason="needs the dask extra")
pandas = pytest.importorskip("pandas")
# Worker processes would inherit a preloaded sanitizer runtime along with the libraries of Dask;
# the reader is checked under the sanitizers by the other tests.
pytestmark = pytest.mark.skipif("libasan" in os.environ.get("LD_PRELOAD", ""),
                                reason="a cluster of worker processes under AddressSanitizer")

PARAMETERS = 13


@pytest.fixture(scope="module")
def client():
    with distributed.LocalCluster(n_workers=2, processes=True, threads_per_worker=1,
                                  host="127.0.0.1", dashboard_address=None) as cluster, \
            distributed.Client(cluster) as client:
        yield client


@pytest.fixture(scope="module")
def sweep(tmp_path_factory):
    """Three dozen files with the same names, of both widths and different lengths."""
    folder = tmp_path_factory.mktemp("sweep")
    return [write_plot(folder, PARAMETERS, 5 + seed % 7, (12, 15)[seed % 2], seed)
            for seed in range(36)]


def test_every_value_of_every_file_arrives(client, sweep):
    frame = vormant.dask.read_frame(sweep)
    assert frame.npartitions == len(sweep)
    names = vormant.read(sweep[0]).names
    assert list(frame.columns) == ["file", *names[1:]]
    assert frame.index.name == names[0]

    result = client.compute(frame).result()
    assert list(result["file"].cat.categories) == sweep
    assert set(map(str, result.dtypes.iloc[1:])) == {"float32"}
    assert str(result.index.dtype) == "float32"
    # Partitions come back in the order of the files.
    assert list(dict.fromkeys(result["file"])) == sweep
    for path in sweep:
        expected = vormant.read(path).to_numpy()
        part = result[result["file"] == path]
        assert part.index.to_numpy().tobytes() == expected[:, 0].tobytes()
        assert part.iloc[:, 1:].to_numpy().tobytes() == expected[:, 1:].tobytes()
    # The reading was done by the worker processes.
    assert all(client.run(lambda: __import__("sys").modules.get("vormant._reader") is not None)
               .values())


def test_a_bad_file_fails_on_its_worker_with_path_and_line(client, sweep, tmp_path):
    bad = tmp_path / "bad.txt"
    lines = pathlib_text(sweep[2]).splitlines(keepends=True)
    # The second value line of the third time step loses its last field.
    fault = PARAMETERS + 1 + 2 * 3 + 3
    lines[fault - 1] = lines[fault - 1][:12] + "\n"
    bad.write_text("".join(lines))
    frame = vormant.dask.read_frame([sweep[0], str(bad), sweep[1]])
    with pytest.raises(vormant.PlotFileError) as caught:
        client.compute(frame).result()
    assert (caught.value.path, caught.value.line) == (str(bad), fault)
    assert str(bad) in str(caught.value)


def pathlib_text(path):
    with open(path) as file:
        return file.read()


@pytest.mark.parametrize("change, line", [
    (lambda text: text.replace("PARAM0005  UNIT0", "PARAM0005  UNIT9", 1), 7),
    (lambda text: text.replace("   13\n", "   14\n", 1).replace("TIME  S\n", "TIME  S\nX\n"), 1),
], ids=["other-name", "other-count"])
def test_files_with_other_names_are_refused_up_front(sweep, tmp_path, change, line):
    other = tmp_path / "other.txt"
    other.write_text(change(pathlib_text(sweep[0])))
    with pytest.raises(vormant.PlotFileError) as caught:
        vormant.dask.read_frame([sweep[0], sweep[1], str(other)])
    assert (caught.value.path, caught.value.line) == (str(other), line)


@pytest.mark.parametrize("names, line", [
    (["TIME", "A", "file"], 4), (["TIME", "A", "B", "A"], 3),
], ids=["file-column", "repeated"])
def test_names_that_cannot_be_columns_are_refused(tmp_path, names, line):
    path = tmp_path / "plot.txt"
    path.write_text(f" VORMANT PLOT FILE   {len(names)}\n" + "\n".join(names) + "\n")
    with pytest.raises(vormant.PlotFileError) as caught:
        vormant.dask.read_frame([str(path)])
    assert caught.value.line == line


def test_a_header_the_quick_check_cannot_read_fails_as_a_full_read_does(tmp_path):
    path = tmp_path / "cut.txt"
    path.write_text(" VORMANT PLOT FILE   5\nTIME\nA\n")
    with pytest.raises(vormant.PlotFileError) as caught:
        vormant.dask.read_frame([str(SAMPLE_6), str(path)])
    assert caught.value.line == 4


def test_no_files_is_a_value_error():
    with pytest.raises(ValueError, match="at least one"):
        vormant.dask.read_frame([])


def faulty_copy(folder, path, step, parameter, name):
    """A copy of `path` (13 parameters, 6 digits) with the field of `parameter` at `step` made
    "x", and the number of that field's line."""
    copy = str(folder / name)
    return copy, with_bad_field(path, copy, step, parameter, PARAMETERS, 12)


@pytest.fixture(scope="module")
def big(tmp_path_factory):
    """A file of 600 time steps, about 120 KB: a partition per some 20 KB."""
    return write_plot(tmp_path_factory.mktemp("big"), PARAMETERS, 600, 12, 3)


def assert_frame_is_the_read(result, paths):
    expected = [vormant.read(path).to_numpy() for path in paths]
    assert result.index.to_numpy().tobytes() == b"".join(e[:, 0].tobytes() for e in expected)
    values = result.drop(columns="file").to_numpy()
    assert values.tobytes() == b"".join(e[:, 1:].tobytes() for e in expected)
    assert list(result["file"]) == [path for path, e in zip(paths, expected) for _ in e]


@pytest.mark.parametrize("blocksize", [20_000, "20 kB"])
def test_a_big_file_splits_into_partitions_of_whole_steps(client, big, blocksize):
    frame = vormant.dask.read_frame([big], blocksize=blocksize)
    assert frame.npartitions >= 4 and frame.known_divisions
    assert_frame_is_the_read(client.compute(frame).result(), [big])


def test_files_of_every_size_mix(client, big, sweep):
    paths = [sweep[0], big, sweep[1], big]
    frame = vormant.dask.read_frame(paths, blocksize=30_000)
    assert frame.npartitions > len(paths)
    assert not frame.known_divisions  # each file's time starts again at 0
    assert_frame_is_the_read(client.compute(frame).result(), paths)
    assert vormant.dask.read_frame(paths, blocksize=None).npartitions == len(paths)


def test_only_the_columns_asked_are_read(client, big, tmp_path):
    bad, line = faulty_copy(tmp_path, big, 500, 11, "bad-field.txt")
    names = vormant.read(big).names
    frame = vormant.dask.read_frame([bad], blocksize=20_000)
    other = client.compute(frame[[names[3], names[12]]]).result()
    assert other[names[3]].to_numpy().tobytes() == vormant.read(big).to_numpy()[:, 3].tobytes()
    assert client.compute(frame[names[1]].max()).result() == vormant.read(big).to_numpy()[:, 1].max()
    chosen = vormant.dask.read_frame([bad], columns=["PARAM0012"], blocksize=20_000)
    assert list(chosen.columns) == ["file", names[12]]
    client.compute(chosen).result()
    for selection in (frame[names[11]], frame):
        with pytest.raises(vormant.PlotFileError) as caught:
            client.compute(selection).result()
        assert (caught.value.path, caught.value.line) == (bad, line)


def test_known_divisions_read_only_the_partitions_asked(client, big, tmp_path):
    bad, line = faulty_copy(tmp_path, big, 550, 4, "late-fault.txt")
    frame = vormant.dask.read_frame([bad], blocksize=20_000)
    assert frame.known_divisions
    early = vormant.read(big).to_numpy()[:100, 0]
    result = client.compute(frame.loc[:float(early[-1])]).result()
    assert result.index.to_numpy().tobytes() == early.tobytes()
    with pytest.raises(vormant.PlotFileError) as caught:
        client.compute(frame.loc[float(early[-1]):]).result()
    assert caught.value.line == line


@pytest.mark.parametrize("blocksize, error", [(0, ValueError), (1.5, TypeError),
                                              ("lots", ValueError)])
def test_unusable_blocksizes_are_refused(big, blocksize, error):
    with pytest.raises(error):
        vormant.dask.read_frame([big], blocksize=blocksize)
