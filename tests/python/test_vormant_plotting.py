"""`vormant plot` draws a long run from the M4 points of its envelope: the picture is the one
every point gives."""

import pytest
from vormant_files import write_plot

import vormant
from vormant import _plotting

np = pytest.importorskip("numpy")
pyplot = pytest.importorskip("matplotlib.pyplot")
image = pytest.importorskip("matplotlib.image")


def line_pixels(path):
    pixels = image.imread(path)[..., :3]
    return (pixels < 0.99).any(axis=2)


def test_the_m4_picture_is_the_picture_of_every_point(tmp_path):
    path = write_plot(tmp_path, 8, 12_000, 12)
    # Parameter 3 has rare spikes, which a picture of fewer points (one step in four: 18 % of
    # the pixels differ) misses.
    wanted = ["3", "4", "1"]
    plot = vormant.read(path, columns=[3, 4, 1]).to_numpy()
    _, curves = _plotting.file_curves(np, path, None, wanted)
    assert len(curves[0].x) == 4 * _plotting.GROUPS  # drawn from the envelope
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
