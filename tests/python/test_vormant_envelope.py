"""vormant.envelope held against NumPy's reduction of a whole read of the same steps."""

import subprocess
import sys
import warnings

import pytest
from vormant_files import with_nan, write_plot

import vormant

np = pytest.importorskip("numpy")


def expected(values, buckets):
    """The envelope of the rows `values` (time first) by NumPy, group k rows k*n//b onwards."""
    count = len(values)
    groups = min(buckets, count)
    bounds = [k * count // groups for k in range(groups + 1)]
    parts = [values[low:high] for low, high in zip(bounds, bounds[1:])]
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", RuntimeWarning)  # a group of NaN alone
        return bounds[:-1], {
            "time_first": np.array([part[0, 0] for part in parts]),
            "time_last": np.array([part[-1, 0] for part in parts]),
            "first": np.array([part[0, 1:] for part in parts]),
            "last": np.array([part[-1, 1:] for part in parts]),
            "min": np.array([np.nanmin(part[:, 1:], axis=0) for part in parts]),
            "max": np.array([np.nanmax(part[:, 1:], axis=0) for part in parts]),
        }


def assert_envelope(envelope, plot, steps, buckets):
    rows, fields = expected(plot.to_numpy(), buckets)
    got = envelope.to_numpy()
    assert list(got["start"]) == [steps[row] for row in rows]
    for name, array in fields.items():
        assert got[name].dtype == np.float32 and got[name].shape == array.shape, name
        np.testing.assert_array_equal(got[name], array, err_msg=name)


@pytest.fixture(scope="module")
def nan_file(tmp_path_factory):
    folder = tmp_path_factory.mktemp("envelope")
    return with_nan(write_plot(folder, 14, 300, 12), 14, 12)


@pytest.mark.parametrize("columns", [None, [5, 1, "PARAM0003"]])
@pytest.mark.parametrize("steps", [None, slice(7, None, 3), slice(None, None, -2), range(40, 41)])
@pytest.mark.parametrize("buckets", [1, 7, 64, 299, 300, 2**40])
def test_every_grouping_is_numpys_reduction_of_the_read(nan_file, columns, steps, buckets):
    with vormant.open(nan_file) as plot_file:
        envelope = plot_file.envelope(columns, steps, buckets=buckets)
        selected = range(plot_file.steps)[steps] if isinstance(steps, slice) else (
            steps or range(plot_file.steps))
        plot = plot_file.read(columns, steps)
    assert envelope.names == plot.names[1:]
    assert envelope.min.format == "f" and envelope.start.format == "q"
    assert_envelope(envelope, plot, selected, buckets)


def test_a_growing_file_is_covered_after_refresh(tmp_path):
    path = tmp_path / "growing.txt"
    whole = write_plot(tmp_path, 4, 50, 12)
    text = open(whole).read()
    cut = text.index(" TIME STEP       31")
    path.write_text(text[:cut])
    with vormant.open(path, growing=True) as plot_file:
        assert plot_file.envelope(buckets=4).start.tolist() == [0, 7, 15, 22]
        code = "import sys; open(sys.argv[1], 'a').write(sys.argv[2])"
        subprocess.run([sys.executable, "-c", code, str(path), text[cut:]], check=True)
        assert plot_file.refresh() == 20
        assert_envelope(plot_file.envelope(buckets=9), plot_file.read(), range(50), 9)


@pytest.mark.parametrize("arguments, error", [
    ({"buckets": 0}, ValueError), ({"buckets": 1.5}, TypeError), ({"buckets": True}, TypeError),
    ({"columns": []}, ValueError), ({"columns": ["NOPE"]}, KeyError),
    ({"steps": "1:2"}, TypeError), ({"n_digits": 13}, ValueError)])
def test_unusable_arguments_are_refused(nan_file, arguments, error):
    with pytest.raises(error):
        vormant.envelope(nan_file, **arguments)


def test_an_empty_selection_has_no_groups(nan_file):
    envelope = vormant.envelope(nan_file, columns=[2], steps=slice(5, 5))
    assert (envelope.groups, envelope.first.shape) == (0, (0, 1))
