"""`vormant plot` draws a long run from the M4 points of its envelope: the picture is the one
every point gives."""

import pytest
from vormant_files import plot_text, write_plot

import vormant
from vormant import _plotting

np = pytest.importorskip("numpy")
pyplot = pytest.importorskip("matplotlib.pyplot")
image = pytest.importorskip("matplotlib.image")


def line_pixels(path):
    pixels = image.imread(path)[..., :3]
    return (pixels < 0.99).any(axis=2)


def rare_spikes(folder):
    # Parameter 3 has rare spikes, which a picture of fewer points (one step in four: 18 % of
    # the pixels differ) misses.
    return write_plot(folder, 8, 12_000, 12), [3, 4, 1]


def numbers_in_a_stretch(begin, end):
    """50,000 steps of a parameter that is NaN but in steps begin to end - 1, where it is
    level but for a one-step spike: the axes span the stretch alone."""
    def write(folder):
        spike = (begin + end) // 2
        rows = [(f"{step * 0.01:.5E}", "1.0" if step == spike else
                 "0.0" if begin <= step < end else "NaN") for step in range(50_000)]
        path = folder / f"stretch-{begin}.txt"
        path.write_text(plot_text(["TIME  S", "P  U"], rows))
        return str(path), [1]
    return write


@pytest.mark.parametrize("make, points", [
    (rare_spikes, 4 * _plotting.GROUPS),  # drawn from the envelope
    (numbers_in_a_stretch(100, 200), 100),  # through every step of the stretch
    (numbers_in_a_stretch(20_000, 24_000), 4 * _plotting.GROUPS),
], ids=["rare-spikes", "short-stretch", "stretch-in-groups"])
def test_the_m4_picture_is_the_picture_of_every_point(tmp_path, make, points):
    path, columns = make(tmp_path)
    plot = vormant.read(path, columns=columns).to_numpy()
    _, curves = _plotting.file_curves(np, path, None, [str(column) for column in columns])
    assert len(curves[0].x) == points
    every = [_plotting.Curve(path, curve.name, plot[:, 0], plot[:, column + 1])
             for column, curve in enumerate(curves)]
    with pyplot.rc_context({"lines.antialiased": False}):
        _plotting.draw(pyplot, "TIME", [curves], False, tmp_path / "m4.png")
        _plotting.draw(pyplot, "TIME", [every], False, tmp_path / "every.png")
    drawn, expected = line_pixels(tmp_path / "m4.png"), line_pixels(tmp_path / "every.png")
    # Where a group straddles two pixel columns its extremes are drawn in one of them (2 %).
    assert (drawn != expected).sum() < 0.05 * expected.sum()


def test_a_short_run_is_drawn_through_every_point(tmp_path):
    path = write_plot(tmp_path, 3, 50, 12)
    _, curves = _plotting.file_curves(np, path, None, ["2"])
    plot = vormant.read(path).to_numpy()
    np.testing.assert_array_equal(np.stack([curves[0].x, curves[0].y]), plot[:, [0, 2]].T)
