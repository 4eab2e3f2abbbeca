import pickle
import re
import threading
import time
import _thread

import numpy as np
import pytest

import btcfit
from conftest import GOLDEN, golden_decks, golden_report

FITTING = golden_decks(0)


def test_every_fitting_deck_is_covered():
    assert {"example", "nonequilibrium-flux", "stochastic-pulse"} <= set(FITTING)


@pytest.mark.parametrize("name", FITTING)
def test_report_equals_reference(golden_fits, name):
    assert golden_fits[name].report() == golden_report(name)


def reported_calculated(report):
    tail = report.split("OBSERVED C")[-1].splitlines()[1:]
    return np.array([float(line.split()[1]) for line in tail if line.strip()])


@pytest.mark.parametrize("name", FITTING)
def test_evaluate_gives_the_calculated_column(golden_fits, name):
    result = golden_fits[name]
    problem = result.problem
    values = btcfit.evaluate(problem, result.coefficients, numerics=result.numerics)
    np.testing.assert_array_equal(values, result.calculated)
    np.testing.assert_allclose(values, reported_calculated(golden_report(name)), rtol=0,
                               atol=0.5e-4 + 1e-12)
    # The same points given as points, shared by two threads.
    at_points = btcfit.evaluate(problem, result.coefficients, problem.distance, problem.time,
                                threads=2, numerics=result.numerics)
    np.testing.assert_array_equal(at_points, values)


def test_evaluate_broadcasts_points():
    problem = btcfit.read_deck(GOLDEN / "example" / "deck")
    t = np.linspace(0.5, 4.0, 8)
    x = np.array([[10.0], [30.0]])
    grid = btcfit.evaluate(problem, distance=x, time=t)
    assert grid.shape == (2, 8)
    np.testing.assert_array_equal(grid[1], btcfit.evaluate(problem, distance=30.0, time=t))
    np.testing.assert_array_equal(grid[1], btcfit.evaluate(problem, time=t))
    assert grid[0, 2] > grid[1, 2]  # the front reaches 10 cm before 30 cm


def example_arrays():
    import pandas as pd
    data = pd.DataFrame({"c": [0.05, 0.62, 0.91], "x": [30.0, 30.0, 30.0],
                         "t": [1.0, 2.0, 3.0]})
    return btcfit.Problem(
        model="equilibrium_flux",
        coefficients=[btcfit.Coefficient("V", 25.0, 1.0, 100.0, True),
                      btcfit.Coefficient("D", 30.0, 1.0, 500.0, True),
                      btcfit.Coefficient("R", 1.5, 1.0, 10.0, True),
                      btcfit.Coefficient("T0", 2.0, 0.0, 5.0),
                      ("MU", 0.0), ("GAMMA", 0.0)],
        concentration=data["c"], distance=data["x"], time=data["t"],
        input_concentration=1.0, data_form=1, least_squares_line=True, listing=1)


def test_problem_from_arrays_fits_as_its_deck():
    problem = example_arrays()
    again = btcfit.Problem.from_deck(problem.to_deck())
    one, two = btcfit.fit(problem, threads=1), btcfit.fit(again, threads=1)
    np.testing.assert_array_equal(one.progress, two.progress)
    assert one.report() == two.report()
    # The example deck says the same in its own layout.
    assert one.report() == golden_report("example")


def test_progress_callback_sees_the_report_lines():
    lines = []
    result = btcfit.fit(example_arrays(), threads=1, progress=lines.append)
    assert [line.iteration for line in lines] == list(result.progress[:, 0])
    report = result.report()
    assert all(f"{line}\r\n" in report for line in lines)
    assert lines[-1].ssq == result.progress[-1, 1]


def test_progress_callback_error_ends_the_fit():
    def stop(line):
        if line.iteration == 3:
            raise RuntimeError("enough")
    with pytest.raises(RuntimeError, match="enough"):
        btcfit.fit(btcfit.read_deck(GOLDEN / "nonequilibrium-flux" / "deck"), progress=stop)


def test_results_and_problems_pickle(golden_fits):
    result = golden_fits["equilibrium-multipulse"]
    again = pickle.loads(pickle.dumps(result))
    assert again == result and again.report() == result.report()
    assert again.problem == result.problem


def test_plot_for_a_report(golden_fits, tmp_path):
    matplotlib = pytest.importorskip("matplotlib")
    matplotlib.use("Agg")
    result = golden_fits["nonequilibrium-flux"]
    figure = result.plot(units=("cm", "h"))
    ax, residuals = figure.axes
    assert ax.get_ylabel() == "concentration C"  # measured data, no concentration unit given
    assert residuals.get_xlabel() == "time t (h)"
    assert residuals.get_ylabel().startswith("residual")
    # Observed points without a line, the fitted curve a line without marks.
    curve, points = ax.lines[:2]
    assert curve.get_linestyle() == "-" and curve.get_marker() in ("None", None, "")
    assert points.get_linestyle() == "None" and points.get_marker() == "o"
    np.testing.assert_array_equal(points.get_ydata(), result.problem.concentration)
    assert len(curve.get_xdata()) == 200
    np.testing.assert_array_equal(residuals.lines[0].get_ydata(), result.residuals)
    # One legend entry per distance (the deck has one) and the two styles.
    legend = [t.get_text() for t in ax.get_legend().get_texts()]
    assert legend == ["x = 25 cm", "observed", "fitted (annealing, legacy numerics)"]
    title = ax.get_title()
    assert "two-site nonequilibrium model, flux concentration" in title
    assert "D = 20.95 cm²/h" in title and "OMEGA = 0.6755" in title
    figure.savefig(tmp_path / "fit.png", dpi=80)
    assert (tmp_path / "fit.png").stat().st_size > 10000


def test_plot_into_given_axes_and_without_units(golden_fits):
    matplotlib = pytest.importorskip("matplotlib")
    matplotlib.use("Agg")
    from matplotlib.figure import Figure
    ax = Figure().add_subplot()
    figure = golden_fits["example"].plot(ax=ax, residuals=False)
    assert figure.axes == [ax]
    assert ax.get_xlabel() == "time t"
    assert ax.get_ylabel() == "reduced concentration $(C - C_i)/(C_0 - C_i)$"
    assert [t.get_text() for t in ax.get_legend().get_texts()][0] == "x = 30"


def test_plot_without_matplotlib_says_so(golden_fits, monkeypatch):
    import sys
    monkeypatch.setitem(sys.modules, "matplotlib", None)
    monkeypatch.setitem(sys.modules, "matplotlib.figure", None)
    with pytest.raises(ImportError, match="needs matplotlib"):
        golden_fits["example"].plot()


def bad_deck(tmp_path, record, old, new):
    lines = (GOLDEN / "example" / "deck").read_text().splitlines(keepends=True)
    assert old in lines[record - 1]
    lines[record - 1] = lines[record - 1].replace(old, new, 1)
    path = tmp_path / "bad.in"
    path.write_text("".join(lines))
    return path


def test_unreadable_field_is_a_deck_error(tmp_path):
    with pytest.raises(btcfit.DeckError) as caught:
        btcfit.read_deck(bad_deck(tmp_path, 2, "         2", "       2.0"))
    e = caught.value
    assert isinstance(e, ValueError)
    assert (e.record, e.first_column, e.last_column) == (2, 1, 10)
    assert re.search(r"columns 1-10 of record 2", str(e))


def test_missing_file_is_a_deck_error(tmp_path):
    with pytest.raises(btcfit.DeckError) as caught:
        btcfit.read_deck(tmp_path / "none.in")
    assert caught.value.record == 0


@pytest.mark.parametrize("deck", ["bad-bounds", "bad-pulse-count"])
def test_refused_reference_decks(deck):
    with pytest.raises(btcfit.ProblemError):
        btcfit.fit(GOLDEN / deck / "deck")


def changed(**changes):
    return lambda: example_arrays().replace(**changes)


@pytest.mark.parametrize("make", [
    changed(model=9),
    changed(model="no_such_model"),
    changed(coefficients=[("V", 1.0)] * 7),
    changed(coefficients=[("LONGNAME", 1.0)] * 6),
    changed(concentration=[[0.05, 0.62, 0.91]]),
    changed(concentration=[0.05, 0.62]),
    changed(concentration=[0.05, float("nan"), 0.91]),
    changed(time=["a", "b", "c"]),
    changed(pulses=[(1.0, 1.0)]),
    changed(initial_concentration=float("inf")),
    changed(data_form=3),
    lambda: btcfit.evaluate(example_arrays(), [1.0, 2.0]),
    lambda: btcfit.evaluate(example_arrays(), distance=[1.0, 2.0], time=[1.0, 2.0, 3.0]),
    lambda: btcfit.fit(example_arrays().replace(
        coefficients=[("V", 25.0, 200.0, 100.0, True)] + [("B", 1.0)] * 5)),
], ids=["model-code", "model-name", "count", "name", "shape", "length", "nan", "text",
        "one-pulse", "inf", "data-form", "evaluate-count", "evaluate-points", "bounds"])
def test_bad_input_is_a_problem_error(make):
    with pytest.raises(btcfit.ProblemError) as caught:
        make()
    assert isinstance(caught.value, ValueError)


SLOW_DECK = GOLDEN / "nonequilibrium-flux" / "deck"


def test_two_fits_in_two_threads_run_side_by_side():
    # With the GIL held during a fit, the second thread could start its fit
    # only when the first had ended. Side by side, each fit runs while the
    # other does for most of its time, however busy the machine is; on two
    # idle cores both end in about the time of one (bench/fit_many.py).
    problem = btcfit.read_deck(SLOW_DECK)
    spans = {}

    def run(k):
        start = time.perf_counter()
        btcfit.fit(problem, threads=1)
        spans[k] = (start, time.perf_counter())

    threads = [threading.Thread(target=run, args=(k,)) for k in range(2)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    (a0, a1), (b0, b1) = spans[0], spans[1]
    overlap = min(a1, b1) - max(a0, b0)
    assert overlap > 0.8 * min(a1 - a0, b1 - b0), spans


def test_keyboard_interrupt_stops_a_fit_promptly():
    problem = btcfit.read_deck(SLOW_DECK)
    fired = []
    timer = threading.Timer(0.3, lambda: (fired.append(time.perf_counter()),
                                          _thread.interrupt_main()))
    timer.start()
    try:
        with pytest.raises(KeyboardInterrupt):
            btcfit.fit(problem, threads=1)
        stopped = time.perf_counter()
    finally:
        timer.cancel()
    assert fired and stopped - fired[0] < 0.5
    # The stopped fit left nothing behind: the next one runs to its end.
    assert btcfit.fit(btcfit.read_deck(GOLDEN / "example" / "deck")).report() == \
        golden_report("example")
