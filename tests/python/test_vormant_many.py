"""vormant.read_many: order, the two error modes, threads and the progress bar."""

import os
import threading

import pytest
from vormant_files import SAMPLE_6, SAMPLE_9, write_plot

import vormant
from vormant import _many, _progress


@pytest.fixture(scope="module")
def sweep(tmp_path_factory):
    """Twelve files of different shapes and widths."""
    folder = tmp_path_factory.mktemp("sweep")
    return [write_plot(folder, 3 + seed, 20 + seed, (12, 15)[seed % 2], seed)
            for seed in range(12)]


@pytest.mark.parametrize("workers", [None, 1, 2, 5, 64])
def test_results_come_in_the_order_of_paths(sweep, workers):
    plots = vormant.read_many(reversed(sweep), workers=workers)
    assert [plot.path for plot in plots] == sweep[::-1]
    for plot in plots:
        assert plot.values.tobytes() == vormant.read(plot.path).values.tobytes()


def test_no_paths_no_plots():
    assert vormant.read_many([]) == []


def bad_and_missing(tmp_path, sweep):
    bad = tmp_path / "bad.txt"
    bad.write_text(" VORMANT PLOT FILE   x\n")
    missing = str(tmp_path / "missing.txt")
    return [sweep[0], missing, sweep[1], str(bad), sweep[2]], missing, str(bad)


@pytest.mark.parametrize("workers", [1, 2, 8])
def test_raise_gives_the_first_failure_in_path_order(tmp_path, sweep, workers):
    paths, missing, _ = bad_and_missing(tmp_path, sweep)
    with pytest.raises(FileNotFoundError) as caught:
        vormant.read_many(paths, workers=workers)
    assert caught.value.filename == missing
    # The plot file error alone: the later failure is the one raised.
    with pytest.raises(vormant.PlotFileError):
        vormant.read_many([p for p in paths if p != missing], workers=workers)


def test_return_puts_each_failure_in_its_slot(tmp_path, sweep):
    paths, missing, bad = bad_and_missing(tmp_path, sweep)
    results = vormant.read_many(paths, workers=3, errors="return")
    assert [type(result).__name__ for result in results] == [
        "Plot", "FileNotFoundError", "Plot", "PlotFileError", "Plot"]
    assert results[1].filename == missing
    assert (results[3].path, results[3].line) == (bad, 1)


@pytest.mark.parametrize("kwargs, kind, text", [
    ({"errors": "ignore"}, ValueError, "errors must be 'raise' or 'return'"),
    ({"workers": 0}, ValueError, "workers must be at least 1"),
    ({"workers": 2.0}, TypeError, "workers must be a positive int"),
    ({"workers": True}, TypeError, "workers must be a positive int"),
    ({"n_digits": 14}, ValueError, "n_digits must be"),
])
def test_unusable_arguments_are_refused_before_reading(kwargs, kind, text):
    with pytest.raises(kind, match=text):
        vormant.read_many(["/no/such/file"], **kwargs)


def test_a_path_of_another_type_is_refused_before_reading(monkeypatch):
    monkeypatch.setattr(_many, "read", lambda *args: pytest.fail("a file was read"))
    with pytest.raises(TypeError):
        vormant.read_many([str(SAMPLE_6), 7])


def test_reads_run_on_several_threads_at_once(monkeypatch, sweep):
    """Each read waits until two are under way: a pool of one thread would never get there."""
    both_running = threading.Barrier(2, timeout=60)
    threads = set()
    real_read = _many.read

    def read(path, n_digits, **selection):
        threads.add(threading.get_ident())
        both_running.wait()
        return real_read(path, n_digits, **selection)

    monkeypatch.setattr(_many, "read", read)
    plots = vormant.read_many(sweep[:4], workers=2)
    assert len(plots) == 4 and len(threads) == 2


def test_default_pool_is_the_cpu_count(monkeypatch, sweep):
    sizes = []
    real_pool = _many.ThreadPoolExecutor

    def pool(size, **kwargs):
        sizes.append(size)
        return real_pool(size, **kwargs)

    monkeypatch.setattr(_many, "ThreadPoolExecutor", pool)
    vormant.read_many(sweep)
    assert sizes == [min(os.cpu_count(), len(sweep))]


@pytest.mark.parametrize("have_tqdm", [False, True], ids=["plain", "tqdm"])
def test_progress_bar_counts_every_file_on_stderr(monkeypatch, capsys, sweep, have_tqdm):
    if have_tqdm:
        pytest.importorskip("tqdm")
    else:
        monkeypatch.setattr(_progress, "_tqdm_class", lambda: None)
    vormant.read_many(sweep, progress=True, workers=3)
    out, err = capsys.readouterr()
    assert out == ""
    assert f"{len(sweep)}/{len(sweep)}" in err
    assert err.endswith("\n")


def test_no_progress_bar_unless_asked(capsys):
    vormant.read_many([SAMPLE_6, SAMPLE_9])
    assert capsys.readouterr() == ("", "")
