"""Fit methods and numerics, problems by coefficient names, and decks of
any data."""
import io
import pickle
import warnings

import numpy as np
import pytest

import btcfit
from conftest import GOLDEN


def accurate_or_skip(call):
    try:
        return call()
    except btcfit.ProblemError as e:
        if "not available in this build" in str(e):
            pytest.skip(f"this build has no accurate numerics: {e}")
        raise


@pytest.mark.parametrize("name", ["example", "nonequilibrium-flux"])
@pytest.mark.parametrize("method", ["least_squares", "global"])
def test_descent_methods_reach_at_most_the_annealing_ssq(golden_fits, name, method):
    # Legacy numerics for both, so that both minimise the same SSQ; the
    # annealing search's set is not a minimum, a descent from it or from
    # the deck's initial values ends no higher (1e-9 relative: the
    # agreement of two minimisations of one function).
    annealing = golden_fits[name]
    result = btcfit.fit(annealing.problem, method=method, numerics="legacy", threads=2)
    assert result.method == method and result.numerics == "legacy"
    assert result.ssq <= annealing.ssq * (1 + 1e-9)
    assert result.evaluations > 0 and result.evaluations < annealing.evaluations
    assert result.varied == annealing.varied
    assert len(result.at_bound) == len(result.coefficients)
    assert result.termination_reason in ("converged", "agreed", "starts_done")
    np.testing.assert_array_equal(
        result.calculated, btcfit.evaluate(result.problem, result.coefficients, numerics="legacy"))


def test_annealing_says_why_it_ended(golden_fits):
    result = golden_fits["nonequilibrium-flux"]
    assert (result.method, result.numerics) == ("annealing", "legacy")
    assert result.termination == "improvement stalled for 100 iterations"
    assert result.termination_reason == "stalled"


def test_global_is_the_same_for_a_seed_on_one_and_two_threads():
    problem = btcfit.read_deck(GOLDEN / "nonequilibrium-flux" / "deck")
    one = btcfit.fit(problem, method="global", numerics="legacy", seed=7, threads=1)
    two = btcfit.fit(problem, method="global", numerics="legacy", seed=7, threads=2)
    assert one == two


def test_global_progress_reports_starts_and_best_ssq():
    lines = []
    problem = btcfit.read_deck(GOLDEN / "nonequilibrium-flux" / "deck")
    result = btcfit.fit(problem, method="global", numerics="legacy", progress=lines.append)
    assert lines and all(isinstance(line, btcfit.ProgressLine) for line in lines)
    best = [line.ssq for line in lines]
    assert best == sorted(best, reverse=True)  # the best SSQ so far never rises
    assert best[-1] == result.ssq


def test_accurate_numerics_are_recorded():
    problem = btcfit.read_deck(GOLDEN / "nonequilibrium-flux" / "deck")
    result = accurate_or_skip(lambda: btcfit.fit(problem, method="least_squares"))
    assert result.numerics == "accurate"  # the descents' default
    np.testing.assert_array_equal(
        result.calculated, btcfit.evaluate(problem, result.coefficients, numerics="accurate"))
    assert result.statistics().numerics == "accurate"
    explicit = accurate_or_skip(lambda: btcfit.fit(problem, numerics="accurate"))
    assert (explicit.method, explicit.numerics) == ("annealing", "accurate")


def test_results_of_every_method_pickle():
    problem = btcfit.read_deck(GOLDEN / "example" / "deck")
    result = btcfit.fit(problem, method="global", numerics="legacy")
    again = pickle.loads(pickle.dumps(result))
    assert again == result
    assert (again.method, again.termination, again.evaluations, again.at_bound) == \
        (result.method, result.termination, result.evaluations, result.at_bound)


@pytest.mark.parametrize("options, message", [
    (dict(method="simplex"), "method 'simplex'"),
    (dict(numerics="exact"), "numerics 'exact'"),
    (dict(seed=-1), "seed -1"),
    (dict(threads=-2), "threads"),
])
def test_bad_fit_options_are_refused(options, message):
    problem = btcfit.read_deck(GOLDEN / "example" / "deck")
    with pytest.raises(btcfit.ProblemError, match=message):
        btcfit.fit(problem, **options)


# ------------------------------------------------------- coefficients by name

def by_name(**coefficients):
    return btcfit.Problem(model="equilibrium_flux", coefficients=coefficients,
                          concentration=[0.05, 0.62, 0.91], distance=[30.0] * 3,
                          time=[1.0, 2.0, 3.0], data_form=1)


def test_coefficients_by_name_with_the_stated_defaults():
    problem = by_name(D=btcfit.Coefficient("D", 30.0, 1.0, 500.0, True),
                      V=btcfit.Coefficient("", 25.0, 1.0, 100.0, True))
    # Deck order; R = 1, T0 = 1e30 (a step), MU = GAMMA = 0, fixed: the
    # defaults btcfit/problem.hpp states for coefficients left out.
    assert problem.names == ["V", "D", "R", "T0", "MU", "GAMMA"]
    assert [c.initial for c in problem.coefficients] == [25.0, 30.0, 1.0, 1e30, 0.0, 0.0]
    assert problem.varied == [True, True, False, False, False, False]
    assert btcfit.fit(problem, method="least_squares", numerics="legacy").ssq >= 0


def test_coefficients_by_name_take_numbers_as_fixed_values():
    problem = by_name(V=(25.0, 1.0, 100.0, True), D=30.0, R=1.5)
    assert [c.initial for c in problem.coefficients][:3] == [25.0, 30.0, 1.5]
    assert problem.varied[:3] == [True, False, False]


@pytest.mark.parametrize("coefficients, message", [
    (dict(V=25.0, D=30.0, BETA=0.5), "BETA"),  # not a name of the equilibrium model
    (dict(D=30.0), "V"),                       # V has no default
])
def test_coefficients_by_name_refused(coefficients, message):
    with pytest.raises(btcfit.ProblemError, match=message):
        by_name(**coefficients)


def test_crossed_bounds_are_refused_at_construction():
    with pytest.raises(btcfit.ProblemError, match="D.*lower bound 500 is above"):
        by_name(V=25.0, D=(30.0, 500.0, 1.0, True))
    # Crossed bounds of a fixed coefficient do not matter.
    assert by_name(V=25.0, D=(30.0, 500.0, 1.0, False)).varied[1] is False
    with pytest.raises(btcfit.ProblemError, match="V"):
        btcfit.read_deck(GOLDEN / "bad-bounds" / "deck")


# ------------------------------------------------------------ decks of any data

# pandas' default parser reads 3.9264e-22 as 3.9263999999999996e-22, one
# unit in the last place off; 0.4123456789 has 10 significant digits.
CSV = """time,concentration
0.5,3.9264e-22
1.0,0.1
1.5,0.4123456789
2.0,0.5
"""


def csv_problem():
    pd = pytest.importorskip("pandas")
    data = pd.read_csv(io.StringIO(CSV))
    return btcfit.Problem(model="equilibrium_flux",
                          coefficients={"V": (20.0, 1.0, 100.0, True), "D": (20.0, 0.1, 200.0, True)},
                          concentration=data["concentration"], distance=np.full(len(data), 30.0),
                          time=data["time"], data_form=1)


def test_to_deck_rounds_with_a_warning_naming_the_values():
    problem = csv_problem()
    with pytest.warns(btcfit.DeckRoundingWarning) as caught:
        text = problem.to_deck()
    (warning,) = caught
    message = str(warning.message)
    assert "the concentration of observation 3: 0.4123456789 -> 0.41234568" in message
    tiny = problem.concentration[0]
    if tiny != 3.9264e-22:
        assert f"the concentration of observation 1: {tiny!r} -> 3.9264e-22" in message
    again = btcfit.Problem.from_deck(text)
    assert list(again.concentration) == [3.9264e-22, 0.1, 0.41234568, 0.5]
    assert again.names == problem.names and again.varied == problem.varied
    with pytest.raises(btcfit.ProblemError, match="cannot be written exactly"):
        problem.to_deck(exact=True)


def test_to_deck_of_exact_values_does_not_warn():
    problem = btcfit.read_deck(GOLDEN / "example" / "deck")
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        assert btcfit.Problem.from_deck(problem.to_deck(exact=True)) == problem
        assert problem.to_deck() == problem.to_deck(exact=True)


@pytest.mark.parametrize("value, written", [
    (1.0 / 3.0, 0.33333333),            # 8 significant digits
    (-1.0 / 3.0 * 1e-22, -3.333e-23),   # as many as a 10-column field holds
    (123456789.123, 123456800.0),       # 1.234568e8: 7 digits fit
    (2.5, 2.5),                         # exact already
])
def test_deck_value_rounding(value, written):
    from btcfit._problem import deck_value
    assert deck_value(value) == written


def test_fit_many_takes_the_fit_options():
    decks = [GOLDEN / "example" / "deck", GOLDEN / "nonequilibrium-flux" / "deck"]
    results = btcfit.fit_many(decks, progress=False, method="least_squares", numerics="legacy")
    for deck, result in zip(decks, results):
        assert result.method == "least_squares"
        assert result == btcfit.fit(deck, method="least_squares", numerics="legacy")
