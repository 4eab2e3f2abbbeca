"""The analysis of fits on the C++ analysis library: statistics,
refinement, profile intervals, information criteria, comparison and the
JSON summary. Every number here is the C++ library's."""

import math

from ._errors import ProblemError
from . import _btcfit

Statistics = _btcfit.Statistics
Profiles = _btcfit.Profiles
ProfileInterval = _btcfit.ProfileInterval
ProfilePoint = _btcfit.ProfilePoint
Criteria = _btcfit.Criteria
for _cls in (Statistics, Profiles, ProfileInterval, ProfilePoint, Criteria):
    _cls.__module__ = "btcfit"


def _statistics_repr(st):
    lines = [f"btcfit.Statistics: n = {st.n}, p = {st.p}, SSQ = {st.ssq:.6g}, "
             f"RMSE = {st.rmse:.6g}, R² = {st.r2:.6f} ({st.numerics} numerics)"]
    if st.message:
        lines.append(st.message)
    level = f"{st.confidence * 100:g} % interval"
    lines.append(f"  {'name':<6} {'value':>13} {'std. error':>13}  {level}")
    se, lo, hi = st.std_error, st.ci_lower, st.ci_upper
    for k, name in enumerate(st.names):
        lines.append(f"  {name:<6} {st.values[k]:13.6g} {se[k]:13.6g}  "
                     f"{lo[k]:.6g} .. {hi[k]:.6g}")
    if st.p > 1 and st.verdict == "determined":
        lines.append("  correlation:")
        correlation = st.correlation
        for k, name in enumerate(st.names):
            row = " ".join(f"{v:7.4f}" for v in correlation[k, :k + 1])
            lines.append(f"  {name:<6} {row}")
    return "\n".join(lines)


def _interval_repr(i):
    def end(value, found, at_bound):
        if at_bound:
            return f"{value:.6g} (bound)"
        return f"{value:.6g}" if found else "not found"
    return (f"<btcfit.ProfileInterval {i.name} = {i.value:.6g}: "
            f"[{end(i.lower, i.lower_found, i.lower_at_bound)}, "
            f"{end(i.upper, i.upper_found, i.upper_at_bound)}], "
            f"linearized [{i.linear_lower:.6g}, {i.linear_upper:.6g}]>")


def _profiles_repr(p):
    lines = [f"btcfit.Profiles at the {p.level * 100:g} % level: SSQ_min = {p.ssq_min:.6g}, "
             f"threshold {p.threshold:.6g} (n = {p.n}, p = {p.p})"]
    lines.append(f"  {'name':<6} {'value':>12} {'profile interval':>27} {'linearized':>27}")
    for i in p.intervals:
        lower = f"{i.lower:.6g}" + ("*" if i.lower_at_bound else "")
        upper = f"{i.upper:.6g}" + ("*" if i.upper_at_bound else "")
        lines.append(f"  {i.name:<6} {i.value:12.6g} {'[' + lower + ', ' + upper + ']':>27} "
                     f"{f'[{i.linear_lower:.6g}, {i.linear_upper:.6g}]':>27}")
    if any(i.lower_at_bound or i.upper_at_bound for i in p.intervals):
        lines.append("  * the interval reaches the search bound")
    return "\n".join(lines)


Statistics.__repr__ = _statistics_repr
ProfileInterval.__repr__ = _interval_repr
Profiles.__repr__ = _profiles_repr


class Refinement:
    """A bounded Levenberg-Marquardt descent from a fit's set.

    Attributes:
        result: the refined fit (a :class:`FitResult`, method
            "least_squares").
        start_ssq: SSQ of the fit's set (with the refinement's numerics).
        ssq: SSQ of the refined set.
        start_at_local_minimum: the refinement lowered SSQ by no more than
            1e-6 of start_ssq.
        message: the descent's reason for stopping.
    """

    __slots__ = ("result", "start_ssq", "start_at_local_minimum", "message", "_native")

    def __init__(self, problem, native):
        from ._fit import FitResult
        self._native = native
        self.result = FitResult(problem, native.result)
        self.start_ssq = native.start_ssq
        self.start_at_local_minimum = native.start_at_local_minimum
        self.message = native.message

    @property
    def ssq(self):
        return self.result.ssq

    @property
    def relative_decrease(self):
        """(start_ssq − ssq) / start_ssq."""
        return (self.start_ssq - self.ssq) / self.start_ssq if self.start_ssq else math.nan

    def __repr__(self):
        where = ("at a local minimum already" if self.start_at_local_minimum else
                 f"not at a local minimum: SSQ {self.relative_decrease * 100:.3g} % lower")
        return (f"<btcfit.Refinement SSQ {self.start_ssq:.6g} -> {self.ssq:.6g}, the fit's set "
                f"was {where}>")


def statistics(result, confidence, numerics, threads, check_step):
    return _btcfit.statistics(result.problem._native, result._native, float(confidence),
                              numerics, threads, bool(check_step))


def refine(result, numerics, threads, max_iterations):
    native = _btcfit.refine(result.problem._native, result._native, numerics, threads,
                            max_iterations)
    return Refinement(result.problem, native)


def profiles(result, level, fill_points, refine_first, numerics, threads):
    return _btcfit.profiles(result.problem._native, result._native, float(level), fill_points,
                            bool(refine_first), numerics, threads)


def profile(result, name, level, fill_points, refine_first, numerics, threads):
    return _btcfit.profile(result.problem._native, result._native, str(name), float(level),
                           fill_points, bool(refine_first), numerics, threads)


def to_json(result, with_profiles, label, confidence=0.95, numerics=None, threads=0):
    return _btcfit.to_json(result.problem._native, result._native, float(confidence),
                           bool(with_profiles), str(label), numerics, threads)


# ------------------------------------------------------------- comparison

COLUMNS = ("label", "model", "n", "p", "ssq", "aic", "aicc", "bic", "delta_aicc", "weight",
           "best", "nested_in", "f", "df1", "df2", "p_value")


class ComparisonTable:
    """The comparison of fits as a small table, for when pandas is missing:
    ``rows`` (one dict per fit, the keys ``columns``), ``nested`` (one dict
    per nested pair: small, large (labels), extra, at_boundary, df1, df2, f,
    p_value) and ``best`` (the label of least AICc). Iterates over rows;
    ``to_pandas()`` makes the DataFrame :func:`compare` gives with pandas."""

    columns = COLUMNS

    def __init__(self, rows, nested, best):
        self.rows, self.nested, self.best = rows, nested, best

    def __len__(self):
        return len(self.rows)

    def __iter__(self):
        return iter(self.rows)

    def __getitem__(self, index):
        return self.rows[index]

    def to_pandas(self):
        import pandas
        frame = pandas.DataFrame(self.rows, columns=list(COLUMNS)).set_index("label")
        frame.attrs["nested"] = self.nested
        frame.attrs["best"] = self.best
        return frame

    def __repr__(self):
        head = (f"{'label':<24} {'model':<26} {'p':>2} {'SSQ':>12} {'AICc':>10} "
                f"{'dAICc':>8} {'weight':>7}  F test")
        lines = [head]
        for r in self.rows:
            test = (f"against {r['nested_in']}: F = {r['f']:.4g}, p = {r['p_value']:.3g}"
                    if r["nested_in"] else "")
            lines.append(f"{r['label']:<24} {r['model']:<26} {r['p']:>2} {r['ssq']:12.6g} "
                         f"{r['aicc']:10.4f} {r['delta_aicc']:8.3f} {r['weight']:7.4f}  {test}")
        return "\n".join(lines)


def _labels(results, labels):
    if labels is not None:
        labels = [str(x) for x in labels]
        if len(labels) != len(results):
            raise ProblemError(f"compare: {len(labels)} labels for {len(results)} results")
        return labels
    names = [r.problem.model.name for r in results]
    return [n if names.count(n) == 1 else f"{n} #{i + 1}" for i, n in enumerate(names)]


def compare(results, labels=None):
    """Compares fits of the same observations: AIC, AICc, BIC, the Akaike
    weights from AICc, and the F test of the extra coefficients of each fit
    against a nested smaller one (the same model with fewer coefficients
    varied, or an equilibrium model within the nonequilibrium model of the
    same concentration type, at BETA = 1).

    Args:
        results: :class:`FitResult` objects, or a dict label -> FitResult.
        labels: the rows' labels (default: the model names).

    Returns a pandas DataFrame indexed by label when pandas is installed
    (the nested tests in ``.attrs["nested"]``, the best label in
    ``.attrs["best"]``), otherwise a :class:`ComparisonTable`. Each row's
    ``nested_in``, ``f``, ``df1``, ``df2`` and ``p_value`` give the F test
    of that fit against the first fit nested in it (empty when none is).
    Uses each fit's SSQ as it is: refine the fits first
    (``result.refine().result``) for a fair comparison. Raises
    :class:`ProblemError` for fits of different observations, naming the
    first difference.
    """
    from ._fit import FitResult
    if isinstance(results, dict):
        labels, results = list(results), list(results.values())
    results = list(results)
    for r in results:
        if not isinstance(r, FitResult):
            raise TypeError(f"compare takes btcfit.FitResult objects, not {type(r).__name__}")
    labels = _labels(results, labels)
    c = _btcfit.compare(labels, [r.problem._native for r in results],
                        [r._native for r in results])
    from ._problem import Model
    nested = [dict(small=labels[t.small], large=labels[t.large], extra=list(t.extra),
                   at_boundary=t.at_boundary, df1=t.df1, df2=t.df2, f=t.f, p_value=t.p_value)
              for t in c.nested]
    rows = []
    for i, row in enumerate(c.rows):
        k = row.criteria
        test = next((t for t in nested if t["large"] == labels[i]), None)
        rows.append(dict(
            label=row.label, model=Model(row.model).name, n=k.n, p=k.p, ssq=k.ssq, aic=k.aic,
            aicc=k.aicc, bic=k.bic, delta_aicc=row.delta_aicc, weight=row.weight,
            best=i == c.best, nested_in=test["small"] if test else "",
            f=test["f"] if test else math.nan, df1=test["df1"] if test else 0,
            df2=test["df2"] if test else 0, p_value=test["p_value"] if test else math.nan))
    table = ComparisonTable(rows, nested, labels[c.best] if rows else None)
    try:
        import pandas  # noqa: F401
    except ImportError:
        return table
    return table.to_pandas()
