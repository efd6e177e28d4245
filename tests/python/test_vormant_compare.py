"""vormant.compare and `vormant diff`: matching, tolerances, NaN and infinities, both
alignments, pieces, and the command line's statuses and JSON."""

import json
import math
import os
import subprocess
import sys

import pytest

from conftest import child_environment
from vormant_files import plot_text, write_plot

vormant = pytest.importorskip("vormant")
from vormant import _compare_run  # noqa: E402

INF, NAN = math.inf, math.nan


def fields(rows):
    return [[f"{value:.5E}" if math.isfinite(value) else str(value) for value in row]
            for row in rows]


@pytest.fixture
def files(tmp_path):
    def make(names, rows, name):
        path = tmp_path / name
        path.write_text(plot_text(names, fields(rows)))
        return str(path)
    return make


def pair(files, reference, candidate, names=("TIME S", "A X")):
    return (files(list(names), reference, "ref.plt"), files(list(names), candidate, "cand.plt"))


@pytest.mark.parametrize("r, c, rtol, atol, failures, max_rel", [
    (1.0, 1.0, 0, 0, 0, 0.0),
    (1.0, 1.0009, 1e-3, 0, 0, 9e-4),
    (1.0, 1.002, 1e-3, 0, 1, 2e-3),
    (0.0, 0.9e-3, 0, 1e-3, 0, INF),
    (0.0, 2e-3, 0, 1e-3, 1, INF),
    (NAN, NAN, 0, 0, 0, 0.0),
    (NAN, 1.0, 1, 1, 1, INF),
    (INF, INF, 0, 0, 0, 0.0),
    (INF, -INF, 1, 1, 1, INF),
    (INF, 1e30, 1, 1, 1, INF),
])
def test_tolerance_rules(files, r, c, rtol, atol, failures, max_rel):
    ref, cand = pair(files, [[0.0, r]], [[0.0, c]])
    column = vormant.compare(ref, cand, rtol=rtol, atol=atol)["A"]
    assert column.failures == failures
    assert column.max_rel == pytest.approx(max_rel, rel=1e-4)
    assert (column.worst_step is None) == (max_rel == 0.0)


def test_per_parameter_tolerances_and_matching(files):
    ref = files(["TIME S", "A X", "B Y", "A X", "C Z"], [[0, 1, 1, 5, 1], [1, 1, 1, 6, 1]], "r")
    cand = files(["TIME Q", "B Y", "A X", "D W", "A X"], [[0, 1.5, 1, 0, 5], [1, 1, 1, 0, 6]],
                 "c")
    result = vormant.compare(ref, cand, tolerances={"B": (0.6, 0.0)})
    assert [column.name for column in result.columns] == ["TIME S", "A X", "B Y", "A X"]
    assert [column.failures for column in result.columns] == [0, 0, 0, 0]
    assert result.only_in_reference == ("C Z",) and result.only_in_candidate == ("D W",)
    assert not result.passed  # a parameter of the reference is missing
    strict = vormant.compare(ref, cand, columns=["B"])
    assert strict["B"].failures == 1 and strict["B"].first_step == 0 and not strict.passed
    assert vormant.compare(ref, cand, columns=["B"], tolerances={"B Y": (0.5, 0)}).passed


@pytest.mark.parametrize("arguments, error", [
    ({"rtol": -1.0}, ValueError), ({"atol": NAN}, ValueError), ({"align": "rows"}, ValueError),
    ({"tolerances": {"A": (0.1, -1)}}, ValueError), ({"tolerances": {"A": 1}}, TypeError),
    ({"tolerances": {"NONE": (0, 0)}}, KeyError), ({"rtol": "1"}, TypeError),
])
def test_unusable_arguments(files, arguments, error):
    with pytest.raises(error):
        vormant.compare(*pair(files, [[0.0, 1.0]], [[0.0, 1.0]]), **arguments)


def test_different_step_counts_compare_the_common_steps(files):
    result = vormant.compare(*pair(files, [[0, 1], [1, 2], [2, 3]], [[0, 1], [1, 2]]))
    assert result.steps == (3, 2) and result.compared_steps == 2 and not result.passed
    assert all(column.failures == 0 for column in result.columns)


def test_time_alignment_interpolates_the_candidate(files):
    reference = [[t, 2 * t] for t in (0.0, 0.5, 1.0, 2.0, 3.5, 9.0)]
    candidate = [[0.0, 0.0], [1.0, 2.0], [1.0, 7.0], [2.0, 9.0], [4.0, 13.0]]
    result = vormant.compare(*pair(files, reference, candidate), align="time", atol=1e-6)
    assert (result.compared_steps, result.uncovered_steps) == (5, 1) and not result.passed
    column = result["A"]  # at 1.0 the later of the repeated step (7); 2.0 -> 9, 3.5 -> 12
    assert column.failures == 3 and column.first_step == 2 and column.first_time == 1.0
    assert column.worst_step == 2 and column.max_abs == pytest.approx(5.0)
    differences = result.differences(["A"])
    assert differences.names == ("TIME S", "A X")
    assert differences.values.tolist() == [[0, 0], [0.5, 0], [1, 5], [2, 5], [3.5, 5]]


@pytest.mark.parametrize("times", [[0.0, 2.0, 1.0, 3.0], [0.0, 1.0, NAN, 3.0]])
def test_time_alignment_refuses_a_candidate_going_back(files, times):
    ref, cand = pair(files, [[0.0, 1.0]], [[t, 1.0] for t in times])
    with pytest.raises(vormant.PlotFileError) as raised:
        vormant.compare(ref, cand, align="time")
    assert raised.value.path == cand and raised.value.line == 1 + 2 + 2 * 2 + 2


@pytest.mark.parametrize("align", ["steps", "time"])
def test_planted_differences_are_found_in_every_piece(tmp_path, monkeypatch, align):
    """Pieces of a few steps, so the pieces' edges and the read ahead are crossed often."""
    monkeypatch.setattr(_compare_run, "PIECE_VALUES", 40)
    path = write_plot(tmp_path, 13, 60, 12)
    plot = vormant.read(path)
    changed = memoryview(bytearray(plot.values.tobytes())).cast("f", plot.values.shape)
    planted = {(0, 5): 1.0, (21, 4): 2.0, (22, 12): 3.0, (59, 6): 4.0}
    for (step, column), value in planted.items():
        changed[step, column] = changed[step, column] + value
    candidate = vormant.Plot(plot.names, changed, 12, "planted")
    result = vormant.compare(path, candidate, align=align)
    found = {(column.first_step, plot.index(column.name)) for column in result.columns
             if column.failures}
    assert found == set(planted) and result.compared_steps == 60
    if align == "time":
        assert result.differences().values[21, 4] == pytest.approx(2.0)


def diff(*arguments):
    return subprocess.run([sys.executable, "-m", "vormant", "diff", *arguments],
                          capture_output=True, text=True, env=child_environment())


def test_command_line_statuses_and_json(files, tmp_path):
    ref, cand = pair(files, [[0.0, 1.0], [1.0, INF]], [[0.0, 1.5], [1.0, INF]])
    assert diff(ref, ref).returncode == 0
    failed = diff(ref, cand, "--json")
    assert failed.returncode == 1 and failed.stderr == ""
    report = json.loads(failed.stdout)
    assert report["steps"] == [2, 2] and not report["passed"]
    assert report["columns"][1] == {"name": "A X", "max_abs": 0.5, "max_rel": 0.5, "failures": 1,
                                    "first_step": 0, "first_time": 0.0, "worst_time": 0.0}
    assert diff(ref, cand, "--tolerance", "A=0.5,0").returncode == 0
    (tmp_path / "r").mkdir()
    (tmp_path / "c").mkdir()
    os.replace(ref, tmp_path / "r" / "one.plt")
    (tmp_path / "r" / "two.plt").write_text(plot_text(["TIME S"], [["0.0"]]))
    os.replace(cand, tmp_path / "c" / "one.plt")
    folders = diff(str(tmp_path / "r"), str(tmp_path / "c"), "--tolerance", "A=1,0")
    assert folders.returncode == 1 and "two.plt: missing" in folders.stdout
    for unusable in [(ref, ref), (str(tmp_path / "r"), str(tmp_path / "c" / "one.plt")),
                     (str(tmp_path / "r" / "one.plt"), str(tmp_path / "c" / "one.plt"), "-p", "Q"),
                     (str(tmp_path / "r" / "one.plt"), str(tmp_path / "c" / "one.plt"),
                      "--rtol", "-1")]:
        result = diff(*unusable)
        assert result.returncode == 2 and "error:" in result.stderr and not result.stdout


def test_command_line_draws_the_differences(files, tmp_path):
    pytest.importorskip("matplotlib", reason="--plot needs the plot extra")
    ref, cand = pair(files, [[0.0, 1.0], [1.0, 2.0]], [[0.0, 1.5], [1.0, 2.0]])
    result = diff(ref, cand, "--plot", str(tmp_path / "differences.png"))
    assert result.returncode == 1, result.stderr
    assert (tmp_path / "differences.png").read_bytes().startswith(b"\x89PNG")


@pytest.mark.parametrize("side", ["reference", "candidate"])
@pytest.mark.parametrize("step", [0, 4, 7])
def test_time_alignment_names_the_step_whose_time_is_nan(files, monkeypatch, side, step):
    monkeypatch.setattr(_compare_run, "PIECE_VALUES", 8)  # pieces of 4 steps, the edges crossed
    rows = [[float(time), 1.0] for time in range(8)]
    broken = [[NAN, 1.0] if k == step else row for k, row in enumerate(rows)]
    ref, cand = pair(files, broken, rows) if side == "reference" else pair(files, rows, broken)
    with pytest.raises(vormant.PlotFileError, match=f"step {step} is NaN") as raised:
        vormant.compare(ref, cand, align="time")
    assert raised.value.path == (ref if side == "reference" else cand)
    assert raised.value.line == 1 + 2 + 2 * step + 2


@pytest.mark.parametrize("reference, candidate, align, passed", [
    (1, 0, "steps", False), (0, 1, "steps", False), (0, 0, "steps", True),
    (1, 0, "time", False), (0, 1, "time", False), (0, 0, "time", True),
])
def test_a_run_without_steps_is_an_empty_run(files, reference, candidate, align, passed):
    ref, cand = pair(files, [[0.0, 1.0]] * reference, [[0.0, 1.0]] * candidate)
    result = vormant.compare(ref, cand, align=align)
    assert result.passed == passed and result.steps == (reference, candidate)


def test_a_step_begun_but_not_written_is_still_refused(files):
    ref, cand = pair(files, [[0.0, 1.0]], [])
    with open(cand, "a") as started:
        started.write(" TIME STEP 1\n")
    with pytest.raises(vormant.PlotFileError):
        vormant.compare(ref, cand)


@pytest.mark.parametrize("plot", [False, True])
@pytest.mark.parametrize("parameter, status", [("1", 0), ("2", 1)])
def test_command_line_takes_parameter_indices(files, tmp_path, plot, parameter, status):
    ref, cand = pair(files, [[0.0, 1.0, 1.0]], [[0.0, 1.0, 2.0]], ("TIME S", "A X", "B Y"))
    if plot:
        pytest.importorskip("matplotlib", reason="--plot needs the plot extra")
    drawing = ["--plot", str(tmp_path / "d.png")] if plot else []
    result = diff(ref, cand, "-p", parameter, *drawing)
    assert result.returncode == status, result.stderr
    assert (tmp_path / "d.png").exists() == plot


@pytest.mark.parametrize("reference, candidate, status, found", [
    (["same"], ["same", "new"], 1, {"same": ("passed", True), "new": ("missing", "reference")}),
    (["same", "gone"], ["same"], 1, {"same": ("passed", True), "gone": ("missing", "candidate")}),
    (["same", "bad"], ["same", "bad"], 2, {"same": ("passed", True), "bad": ("error", "bad")}),
    ([], [], 2, {}),
])
def test_folders_account_for_every_file(tmp_path, reference, candidate, status, found):
    text = {"bad": "not a plot file\n"}
    for side, names in (("r", reference), ("c", candidate)):
        (tmp_path / side).mkdir()
        for name in names:
            (tmp_path / side / name).write_text(text.get(name, plot_text(["TIME S"], [["0.0"]])))
    result = diff(str(tmp_path / "r"), str(tmp_path / "c"), "--json")
    report = json.loads(result.stdout)
    assert result.returncode == status and not report["passed"]
    entries = {entry["file"]: entry for entry in report["files"]}
    assert entries.keys() == found.keys()
    for name, (key, value) in found.items():
        assert str(value) in str(entries[name][key])
    assert ("error:" in result.stderr) == (status == 2)
