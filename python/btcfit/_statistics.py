"""Fit statistics and plots of a btcfit.FitResult.

The statistics are those of a least-squares fit at the fitted set: the
Jacobian of the calculated values by central differences with the step

    h_k = 1e-5 * max(|b_k|, 0.01 * (upper_k - lower_k))   (1e-5 when both are 0),

divided by the difference of the two coefficient values actually used, the
covariance s²(JᵀJ)⁻¹ with s² = SSQ/(n−p), standard errors, intervals
b_k ± t·se_k with the Student t quantile for n−p degrees of freedom, the
correlation matrix, R² (squared correlation of observed and calculated)
and RMSE = sqrt(SSQ/n). The inverse is taken from the QR factorisation of J
with its columns scaled to unit length, so the units of the coefficients
do not enter.
"""

import math

import numpy as np

from . import _btcfit

RELATIVE_STEP = 1e-5
FLOOR_FRACTION = 0.01
# JᵀJ counts as singular when the smallest singular value of the scaled J
# is at most this fraction of the largest.
SINGULAR_RATIO = 1e-6


def t_quantile(confidence, dof):
    """Two-sided Student t quantile: scipy when present, else the
    Cornish-Fisher expansion of the normal quantile (good to about four
    digits for 3 or more degrees of freedom)."""
    if dof < 1:
        return math.nan
    upper = 1.0 - (1.0 - confidence) / 2.0
    try:
        from scipy.stats import t
        return float(t.ppf(upper, dof))
    except ImportError:
        pass
    from statistics import NormalDist
    z = NormalDist().inv_cdf(upper)
    n = float(dof)
    g1 = (z**3 + z) / 4
    g2 = (5 * z**5 + 16 * z**3 + 3 * z) / 96
    g3 = (3 * z**7 + 19 * z**5 + 17 * z**3 - 15 * z) / 384
    g4 = (79 * z**9 + 776 * z**7 + 1482 * z**5 - 1920 * z**3 - 945 * z) / 92160
    return z + g1 / n + g2 / n**2 + g3 / n**3 + g4 / n**4


class Statistics:
    """Statistics of a fit at the fitted set, for the varied coefficients.

    Attributes:
        names, values: the varied coefficients and their fitted values.
        std_error, ci_lower, ci_upper: standard errors and the bounds of
            the confidence intervals (NaN when the data cannot determine
            the coefficients; ``message`` says why).
        covariance, correlation: p×p matrices.
        n, p, dof: observations, varied coefficients, n − p.
        ssq, s2, rmse, r2: SSQ, SSQ/(n−p), sqrt(SSQ/n), R².
        t_quantile, confidence: the Student t quantile and the level.
        steps: the Jacobian steps h_k; jacobian: the n×p Jacobian.
    """

    def __repr__(self):
        lines = [f"btcfit.Statistics: n = {self.n}, p = {self.p}, SSQ = {self.ssq:.6g}, "
                 f"RMSE = {self.rmse:.6g}, R² = {self.r2:.6f}"]
        if self.message:
            lines.append(self.message)
        level = f"{self.confidence * 100:g} % interval"
        lines.append(f"  {'name':<6} {'value':>13} {'std. error':>13}  {level}")
        for k, name in enumerate(self.names):
            lines.append(f"  {name:<6} {self.values[k]:13.6g} {self.std_error[k]:13.6g}  "
                         f"{self.ci_lower[k]:.6g} .. {self.ci_upper[k]:.6g}")
        if self.p > 1 and not self.message:
            lines.append("  correlation:")
            for k, name in enumerate(self.names):
                row = " ".join(f"{v:7.4f}" for v in self.correlation[k, :k + 1])
                lines.append(f"  {name:<6} {row}")
        return "\n".join(lines)


def compute(result, confidence=0.95):
    from . import evaluate
    problem = result.problem
    checked = _btcfit.check(problem._native())[1]
    varied = [k for k, c in enumerate(checked) if c[4]]
    names = [checked[k][0].strip() or f"B{k + 1}" for k in varied]
    fitted = np.array(result.coefficients, dtype=float)
    observed = np.asarray(problem.concentration, dtype=float)
    n, p = len(observed), len(varied)

    st = Statistics()
    st.names, st.n, st.p, st.dof, st.confidence = names, n, p, n - p, confidence
    st.values = fitted[varied]
    st.calculated = evaluate(problem, fitted)
    residuals = observed - st.calculated
    st.ssq = float(residuals @ residuals)
    st.s2 = st.ssq / st.dof if st.dof > 0 else math.nan
    st.rmse = math.sqrt(st.ssq / n) if n > 0 else math.nan
    st.r2 = _squared_correlation(observed, st.calculated)
    st.t_quantile = t_quantile(confidence, st.dof)
    st.message = ""
    nan = np.full(p, math.nan)
    st.std_error, st.ci_lower, st.ci_upper = nan.copy(), nan.copy(), nan.copy()
    st.covariance = np.full((p, p), math.nan)
    st.correlation = np.full((p, p), math.nan)

    st.steps = np.empty(p)
    for j, k in enumerate(varied):
        floor = FLOOR_FRACTION * (checked[k][3] - checked[k][2])
        scale = max(abs(fitted[k]), abs(floor))
        st.steps[j] = RELATIVE_STEP * (scale if scale > 0 else 1.0)

    if n <= p:
        st.message = (f"{n} observations cannot determine {p} varied coefficients: "
                      "the residual mean square needs n > p")
        return st
    st.jacobian = np.empty((n, p))
    for j, k in enumerate(varied):
        b = fitted.copy()
        plus, minus = fitted[k] + st.steps[j], fitted[k] - st.steps[j]
        b[k] = plus
        up = evaluate(problem, b)
        b[k] = minus
        down = evaluate(problem, b)
        st.jacobian[:, j] = (up - down) / (plus - minus)
    if p == 0:
        return st
    if not np.all(np.isfinite(st.jacobian)):
        st.message = "the model gives a value that is not a finite number near the fitted set"
        return st
    norms = np.linalg.norm(st.jacobian, axis=0)
    if np.any(norms == 0.0):
        st.message = ("J^T J is singular: the calculated values do not change with "
                      + ", ".join(names[j] for j in np.flatnonzero(norms == 0.0)))
        return st
    scaled = st.jacobian / norms
    singular = np.linalg.svd(scaled, compute_uv=False)
    if not singular[-1] > SINGULAR_RATIO * singular[0]:
        st.message = "J^T J is singular: the data cannot determine the coefficients independently"
        return st
    r = np.linalg.qr(scaled, mode="r")
    r_inv = np.linalg.solve(r, np.eye(p))
    scaled_inverse = r_inv @ r_inv.T
    st.covariance = st.s2 * scaled_inverse / np.outer(norms, norms)
    st.std_error = np.sqrt(np.diag(st.covariance))
    st.ci_lower = st.values - st.t_quantile * st.std_error
    st.ci_upper = st.values + st.t_quantile * st.std_error
    d = np.sqrt(np.diag(scaled_inverse))
    st.correlation = scaled_inverse / np.outer(d, d)
    np.fill_diagonal(st.correlation, 1.0)
    return st


def _squared_correlation(x, y):
    if len(x) < 2:
        return math.nan
    dx, dy = x - x.mean(), y - y.mean()
    sxx, syy, sxy = dx @ dx, dy @ dy, dx @ dy
    if not (sxx > 0 and syy > 0):
        return math.nan
    return float((sxy / sxx) * (sxy / syy))


def plot(result, ax=None, points=200):
    try:
        from matplotlib.figure import Figure
    except ImportError:
        raise ImportError(
            "btcfit.FitResult.plot needs matplotlib: install it with "
            "'apt install python3-matplotlib' or 'pip install matplotlib'") from None
    from . import evaluate, DataForm
    problem = result.problem
    if ax is None:
        figure = Figure(figsize=(7, 4.5))
        ax = figure.add_subplot()
    else:
        figure = ax.figure
    x, t, c = problem.distance, problem.time, problem.concentration
    # Breakthrough curves (one per distance) unless the observations form
    # profiles: more distinct distances than times.
    profiles = len(np.unique(x)) > len(np.unique(t))
    groups, along = (np.unique(t), x) if profiles else (np.unique(x), t)
    end = float(np.max(along)) * 1.05 if len(along) else 1.0
    grid = np.linspace(0.0 if profiles else end / points, end, points)
    reduced_time = problem.data_form == DataForm.reduced_concentration_and_time
    for g in groups:
        mine = (t if profiles else x) == g
        label = (f"time {g:g}" if profiles else f"distance {g:g}")
        dots = ax.plot(along[mine], c[mine], "o", label=f"observed, {label}")
        if profiles:
            curve = evaluate(problem, result.coefficients, distance=grid, time=g)
        else:
            curve = evaluate(problem, result.coefficients, distance=g, time=grid)
        ax.plot(grid, curve, "-", color=dots[0].get_color(), label=f"fitted, {label}")
    ax.set_xlabel("distance" if profiles else ("reduced time" if reduced_time else "time"))
    ax.set_ylabel("reduced concentration" if problem.data_form else "concentration")
    ax.set_title(f"{problem.model.name}: SSQ = {result.ssq:.4g}")
    ax.legend(fontsize="small")
    return figure
