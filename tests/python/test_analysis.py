"""The package's analysis is the C++ analysis library's: its numbers equal
btcfit-stats --json for the same decks to the last printed digit (the JSON
prints every double in the shortest form that reads back to it, so the
comparisons are exact)."""
import json
import math
import subprocess

import numpy as np
import pytest

import btcfit
from conftest import BUILD, GOLDEN, golden_decks

FITTING = golden_decks(0)
STATS = BUILD / "btcfit-stats"


def stats_json(*args):
    done = subprocess.run([str(STATS), *map(str, args), "--json"], capture_output=True,
                          text=True, timeout=600, check=True)
    return json.loads(done.stdout)


@pytest.fixture(scope="module")
def reference():
    """btcfit-stats --json of every fitting reference deck."""
    return {name: stats_json(GOLDEN / name / "deck") for name in FITTING}


def same(got, expected):
    """Exact equality of a number with its JSON value (null: NaN or absent)."""
    if expected is None:
        return got is None or (isinstance(got, float) and math.isnan(got))
    return got == expected


def assert_numbers(got, expected, what):
    got = list(np.asarray(got, dtype=float).ravel()) if expected else []
    flat = list(np.asarray(expected, dtype=float).ravel()) if expected else []
    assert got == flat, what


@pytest.mark.parametrize("name", FITTING)
def test_statistics_equal_the_companion_program(golden_fits, reference, name):
    st = golden_fits[name].statistics()
    ref = reference[name]["statistics"]
    assert ref["at"] == "search"
    assert st.verdict == ref["verdict"] and st.message == ref["message"]
    assert (st.n, st.p, st.dof) == (ref["n"], ref["p"], ref["dof"])
    assert st.names == ref["names"]
    for field in ("ssq", "s2", "rmse", "r2", "t_quantile", "confidence"):
        assert same(getattr(st, field), ref[field]), field
    for field in ("steps", "step_sensitivity"):
        assert_numbers(getattr(st, field), ref[field], field)
    if st.verdict == "determined":
        for field in ("std_error", "ci_lower", "ci_upper", "correlation"):
            assert_numbers(getattr(st, field), ref[field], field)
    else:
        assert ref["std_error"] == [] and np.isnan(st.std_error).all()


@pytest.mark.parametrize("name", FITTING)
def test_refinement_and_criteria_equal_the_companion_program(golden_fits, reference, name):
    refinement = golden_fits[name].refine()
    ref = reference[name]["refinement"]
    assert refinement.start_ssq == ref["start_ssq"]
    assert refinement.ssq == ref["ssq"]
    assert refinement.start_at_local_minimum == ref["search_at_local_minimum"]
    assert refinement.message == ref["message"]
    varied = [k for k, v in enumerate(refinement.result.varied) if v]
    assert list(refinement.result.coefficients[varied]) == ref["values"]
    assert refinement.result.method == "least_squares"
    # btcfit-stats gives the criteria of the refined set.
    criteria = refinement.result.criteria
    expected = reference[name]["criteria"]
    assert criteria.k == expected["k"]
    for field in ("ssq", "aic", "aicc", "bic"):
        assert same(getattr(criteria, field), expected[field]), field


@pytest.mark.parametrize("name", FITTING)
def test_profiles_equal_the_companion_program(golden_fits, reference, name):
    expected = reference[name]["profiles"]
    result = golden_fits[name]
    if expected is None:
        # btcfit-stats gives none where n <= p; neither can the package.
        assert len(result.problem) <= sum(result.varied)
        with pytest.raises(btcfit.ProblemError):
            result.profiles()
        return
    profiles = result.profiles()
    for field in ("level", "f_quantile", "ssq_min", "threshold", "least_ssq", "evaluations"):
        assert getattr(profiles, field) == expected[field], field
    assert [i.name for i in profiles.intervals] == [c["name"] for c in expected["coefficients"]]
    for interval, ref in zip(profiles.intervals, expected["coefficients"]):
        for field in ("value", "lower", "upper", "lower_at_bound", "upper_at_bound",
                      "lower_found", "upper_found"):
            assert same(getattr(interval, field), ref[field]), (interval.name, field)
        assert same(interval.linear_lower, ref["linearized_lower"])
        assert same(interval.linear_upper, ref["linearized_upper"])
        assert [[q.value, q.ssq] for q in interval.points] == ref["points"]
    # One profile by name is the same interval.
    first = profiles.intervals[0]
    one = result.profile(first.name)
    assert (one.lower, one.upper) == (first.lower, first.upper)
    assert profiles[first.name].value == first.value


@pytest.mark.parametrize("name", ["example", "nonequilibrium-flux"])
def test_to_json_is_the_companion_programs_document(golden_fits, reference, name):
    deck = GOLDEN / name / "deck"
    document = json.loads(golden_fits[name].to_json(label=str(deck)))
    expected = stats_json(deck)
    assert document == expected


def equilibrium_version(problem):
    """The two-site problem's data under the equilibrium flux model: V, D,
    R, T0 as in the deck, no decay or production."""
    return problem.replace(model="equilibrium_flux",
                           coefficients=problem.coefficients[:4] + [("MU", 0.0), ("GAMMA", 0.0)])


def test_compare_equals_the_companion_program(golden_fits, tmp_path):
    two_site = golden_fits["nonequilibrium-flux"]
    equilibrium = btcfit.fit(equilibrium_version(two_site.problem))
    deck = tmp_path / "equilibrium.in"
    deck.write_text(equilibrium.problem.to_deck())
    expected = stats_json("compare", GOLDEN / "nonequilibrium-flux" / "deck", deck)
    # btcfit-stats compares the refined fits.
    table = btcfit.compare({"two-site": two_site.refine().result,
                            "equilibrium": equilibrium.refine().result})
    rows = table.to_dict("records") if hasattr(table, "to_dict") else list(table)
    for row, ref in zip(rows, expected["table"]):
        for field in ("p", "ssq", "aic", "aicc", "delta_aicc", "weight", "bic"):
            assert same(row[field], ref[field]), field
    assert sum(r["weight"] for r in rows) == pytest.approx(1.0, abs=1e-12)
    best = table.attrs["best"] if hasattr(table, "attrs") else table.best
    assert best == ["two-site", "equilibrium"][expected["best"]]
    (test,) = expected["nested"]
    nested = table.attrs["nested"] if hasattr(table, "attrs") else table.nested
    assert nested == [dict(small="equilibrium", large="two-site", extra=test["extra"],
                           at_boundary=test["at_boundary"], df1=test["df1"], df2=test["df2"],
                           f=test["f"], p_value=test["p_value"])]
    assert rows[0]["nested_in"] == "equilibrium" and rows[0]["f"] == test["f"]
    assert rows[1]["nested_in"] == "" and math.isnan(rows[1]["f"])


def test_compare_without_pandas_is_a_small_table(golden_fits, monkeypatch):
    import sys
    two_site = golden_fits["nonequilibrium-flux"]
    equilibrium = btcfit.fit(equilibrium_version(two_site.problem))
    with_pandas = btcfit.compare([two_site, equilibrium])
    monkeypatch.setitem(sys.modules, "pandas", None)
    table = btcfit.compare([two_site, equilibrium])
    assert isinstance(table, btcfit.ComparisonTable)
    assert [r["label"] for r in table] == ["nonequilibrium_flux", "equilibrium_flux"]
    assert [r["aicc"] for r in table] == list(with_pandas["aicc"])
    assert "nonequilibrium_flux" in repr(table)


def test_compare_refuses_different_observations(golden_fits):
    with pytest.raises(btcfit.ProblemError):
        btcfit.compare([golden_fits["example"], golden_fits["nonequilibrium-flux"]])


def test_table_per_observation(golden_fits):
    result = golden_fits["nonequilibrium-flux"]
    table = result.table()
    assert list(table.columns) == ["distance", "time", "observed", "calculated", "residual"]
    assert list(table["observed"]) == list(result.problem.concentration)
    assert list(table["calculated"]) == list(result.calculated)
    assert list(table["residual"]) == list(result.problem.concentration - result.calculated)
    # The residuals square to the fit's SSQ (the engine sums in its own
    # order: equal to rounding).
    assert float(np.sum(table["residual"] ** 2)) == pytest.approx(result.ssq, rel=1e-12)


def test_table_without_pandas_is_a_dict_of_arrays(golden_fits, monkeypatch):
    import sys
    monkeypatch.setitem(sys.modules, "pandas", None)
    table = golden_fits["example"].table()
    assert list(table) == ["distance", "time", "observed", "calculated", "residual"]
    np.testing.assert_array_equal(table["observed"], [0.05, 0.62, 0.91])


def test_statistics_repr_names_the_coefficients(golden_fits):
    text = repr(golden_fits["nonequilibrium-flux"].statistics())
    assert "OMEGA" in text and "correlation" in text
    undetermined = golden_fits["example"].statistics()
    assert undetermined.verdict == "too_few_observations"
    assert "3 observations cannot determine 3" in repr(undetermined)
