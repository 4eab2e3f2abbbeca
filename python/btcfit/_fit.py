"""Evaluating a model and fitting its coefficients (btcfit.evaluate,
btcfit.fit, btcfit.FitResult)."""

import operator
from typing import NamedTuple

import numpy as np

from ._errors import ProblemError
from ._problem import as_problem
from . import _btcfit

METHODS = ("annealing", "least_squares", "global")
NUMERICS = (None, "legacy", "accurate")


def _check_numerics(numerics):
    if numerics not in NUMERICS:
        raise ProblemError(f"numerics {numerics!r} is not one of None, 'legacy', 'accurate'")
    return numerics


def _threads(threads, what="threads"):
    try:
        threads = 0 if threads is None else operator.index(threads)
    except TypeError:
        raise ProblemError(f"{what} {threads!r} is not a whole number") from None
    if threads < 0:
        raise ProblemError(f"{what} must be 0 (all cores) or more, not {threads}")
    return threads


def coefficient_values(problem, coefficients):
    if coefficients is None:
        return np.array([c.initial for c in problem.coefficients])
    if isinstance(coefficients, dict):
        values = np.array([c.initial for c in problem.coefficients])
        names = problem.names
        for name, value in coefficients.items():
            if name not in names:
                raise ProblemError(f"no coefficient named {name!r}; the names are {names}")
            values[names.index(name)] = value
        return values
    try:
        return np.array(coefficients, dtype=np.float64)
    except (TypeError, ValueError) as e:
        raise ProblemError(f"coefficients are not numbers: {e}") from None


def evaluate(problem, coefficients=None, distance=None, time=None, threads=1, numerics=None):
    """The model's concentrations, as a NumPy array.

    Args:
        problem: a :class:`Problem`.
        coefficients: all of the model's coefficients in deck order (a
            sequence), or a dict of name -> value overriding the initial
            values; default: the initial values.
        distance, time: the points; arrays that broadcast against each
            other (the result has their broadcast shape). Both omitted: at
            the problem's observations, in the form of the observations.
            ``distance`` omitted alone: the largest observation distance
            (the outlet of the column). Times are reduced times for data
            form 2.
        threads: threads that share the points (0: all cores); the values
            do not depend on it.
        numerics: "legacy" (the console program's values, bit for bit, as
            the annealing search computes them), "accurate" (close to
            double precision), or None for the C++ library's default. A
            fit's result records the numerics it used
            (``result.numerics``): pass it to get the fit's values.

    The values are bit for bit those of the C++ library. Raises
    :class:`ProblemError` for a refused problem or a wrong number of
    coefficients.
    """
    problem = as_problem(problem)
    b = coefficient_values(problem, coefficients)
    numerics = _check_numerics(numerics)
    threads = _threads(threads)
    if distance is None and time is None:
        return _btcfit.evaluate(problem._native, b, numerics, threads)
    if time is None:
        raise ProblemError("evaluate: time is needed when distance is given")
    if distance is None:
        if len(problem) == 0:
            raise ProblemError("evaluate: the problem has no observations to take a distance from")
        distance = float(np.max(problem.distance))
    try:
        x, t = np.broadcast_arrays(np.asarray(distance, dtype=np.float64),
                                   np.asarray(time, dtype=np.float64))
    except (TypeError, ValueError) as e:
        raise ProblemError(f"evaluate: distance and time do not form points: {e}") from None
    values = _btcfit.evaluate_points(problem._native, b, np.ascontiguousarray(x).ravel(),
                                     np.ascontiguousarray(t).ravel(), numerics, threads)
    return values.reshape(x.shape)


class ProgressLine(NamedTuple):
    """One line of a fit's progress: for the annealing search the best set
    after an outer iteration of 500 trials (iteration 0: the initial set),
    for least squares each descent step, for the global method each start
    done with the best set so far. ``str(line)`` is the line in the layout
    of the report's progress table."""

    iteration: int
    ssq: float
    coefficients: np.ndarray
    text: str

    def __str__(self):
        return self.text


def _read_only(a):
    a.flags.writeable = False
    return a


class FitResult:
    """The result of :func:`fit`.

    Attributes:
        problem: the :class:`Problem` fitted.
        coefficients: the fitted set, all coefficients in deck order (fixed
            ones at their initial values), a NumPy array.
        ssq: the sum of squared residuals of the fitted set.
        iterations: annealing: the outer iteration at which the search
            ended; least squares: descent steps; global: starts descended
            from.
        progress: the progress table, a 2-D array with the columns
            iteration, SSQ and the coefficients.
        calculated: the model at the observations for the fitted set.
        method: "annealing", "least_squares" or "global".
        numerics: "legacy" or "accurate", those of every model call.
        termination: why the fit ended, a sentence;
            ``termination_reason`` the same as a key ("stalled",
            "goal_reached", "iteration_limit", "converged", "agreed",
            "starts_done", "cancelled").
        evaluations: model evaluations (one per coefficient set at every
            observation).
        varied: per coefficient, whether the fit varied it (after the
            deck's silent corrections); at_bound: which of those ended
            held on a bound.
    """

    __slots__ = ("problem", "_native", "coefficients", "progress", "calculated")

    def __init__(self, problem, native):
        self.problem = problem
        self._native = native
        self.coefficients = _read_only(native.coefficients)
        self.progress = _read_only(native.progress)
        self.calculated = _read_only(native.calculated)

    ssq = property(lambda self: self._native.ssq, doc="SSQ of the fitted set.")
    iterations = property(lambda self: self._native.iterations)
    method = property(lambda self: self._native.method, doc="The fit's method.")
    numerics = property(lambda self: self._native.numerics, doc="The model calls' numerics.")
    termination = property(lambda self: self._native.termination, doc="Why the fit ended.")
    termination_reason = property(lambda self: self._native.termination_reason)
    evaluations = property(lambda self: self._native.evaluations, doc="Model evaluations.")
    varied = property(lambda self: list(self._native.varied))
    at_bound = property(lambda self: list(self._native.at_bound))

    @property
    def names(self):
        """The coefficient names, deck order."""
        return self.problem.names

    @property
    def observed(self):
        """The observed concentrations."""
        return self.problem.concentration

    @property
    def residuals(self):
        """Observed minus calculated concentrations."""
        return self.problem.concentration - self.calculated

    def as_dict(self):
        """The fitted coefficients as a dict name -> value."""
        return dict(zip(self.names, map(float, self.coefficients)))

    def report(self):
        """The console program's report for this fit, byte for byte for an
        annealing fit: the echo (unless switched off), the progress table,
        the final line and observed against calculated concentrations.
        Lines end with CR LF."""
        return _btcfit.report(self.problem._native, self._native)

    def table(self):
        """Distance, time, observed, calculated and residual (observed minus
        calculated) per observation: a pandas DataFrame when pandas is
        installed, otherwise a dict of NumPy arrays by column."""
        columns = {"distance": self.problem.distance, "time": self.problem.time,
                   "observed": self.observed, "calculated": self.calculated,
                   "residual": self.residuals}
        try:
            import pandas
        except ImportError:
            return {k: np.array(v) for k, v in columns.items()}
        return pandas.DataFrame(columns)

    # The analysis of the fit (btcfit._analysis), on the C++ analysis library.
    def statistics(self, confidence=0.95, *, numerics=None, threads=0, check_step=True):
        """Linearized statistics at the fitted set (a :class:`Statistics`):
        standard errors, confidence intervals at the level ``confidence``
        (Student t for n − p degrees of freedom), covariance s²(JᵀJ)⁻¹ and
        correlation of the varied coefficients, R² and RMSE, from a
        central-difference Jacobian with steps
        h_k = 1e-5·max(|b_k|, 0.01·(upper_k − lower_k)). Where the data cannot
        determine the coefficients, ``verdict`` and ``message`` say why and
        name them. numerics: those of the model calls (None: the fit's)."""
        from ._analysis import statistics
        return statistics(self, confidence, numerics, threads, check_step)

    def refine(self, *, numerics=None, threads=0, max_iterations=500):
        """A bounded Levenberg-Marquardt descent from the fitted set within
        the bounds of the varied coefficients (a :class:`Refinement`, whose
        ``result`` is a :class:`FitResult`); says whether the fitted set was
        at a local minimum already."""
        from ._analysis import refine
        return refine(self, numerics, threads, max_iterations)

    def profiles(self, level=0.95, *, fill_points=0, refine_first=True, numerics=None,
                 threads=0):
        """Profile-likelihood intervals of every varied coefficient (a
        :class:`Profiles`): each coefficient held at values on both sides of
        the optimum, the others refined, the interval where SSQ stays at or
        below ssq_min·(1 + F(level; 1, n − p)/(n − p)), cut at the bounds.
        Taken about the refined set unless ``refine_first`` is False. Needs
        more observations than varied coefficients."""
        from ._analysis import profiles
        return profiles(self, level, fill_points, refine_first, numerics, threads)

    def profile(self, name, level=0.95, *, fill_points=0, refine_first=True, numerics=None,
                threads=0):
        """The profile-likelihood interval of one varied coefficient, by name
        or by its 1-based position (a :class:`ProfileInterval`)."""
        from ._analysis import profile
        return profile(self, name, level, fill_points, refine_first, numerics, threads)

    @property
    def criteria(self):
        """AIC, AICc and BIC of the fit's SSQ (a :class:`Criteria`)."""
        return _btcfit.criteria(self.problem._native, self._native)

    def to_json(self, *, profiles=True, label=""):
        """The fit, its statistics, refinement, criteria and (with
        ``profiles``, where n > p) profiles as one JSON document, the schema
        of ``btcfit-stats --json``."""
        from ._analysis import to_json
        return to_json(self, profiles, label)

    def plot(self, ax=None, points=200, *, units=None, residuals=True, title=None, figure=None):
        """A matplotlib Figure of the observed concentrations (points) and
        the fitted curves (lines), one legend entry per distance (or per
        time for depth profiles), with a panel of the residuals below.

        Args:
            ax: draw the curves into this Axes instead (no residual panel).
            points: points of each fitted curve.
            units: (length unit, time unit), e.g. ("cm", "h"), for the axis
                labels; None leaves the units out.
            residuals: draw the residual panel.
            title: the title; default the model and the fitted coefficients.
            figure: draw into this Figure or SubFigure (e.g. one of
                ``figure.subfigures(1, 2)`` to set two fits side by side).

        Needs matplotlib.
        """
        from ._plot import plot
        return plot(self, ax=ax, points=points, units=units, residuals=residuals, title=title,
                    figure=figure)

    def __eq__(self, other):
        if not isinstance(other, FitResult):
            return NotImplemented
        a, b = self._native, other._native
        return (self.problem == other.problem and a.ssq == b.ssq
                and a.iterations == b.iterations and a.method == b.method
                and a.numerics == b.numerics and a.termination_reason == b.termination_reason
                and a.evaluations == b.evaluations and list(a.varied) == list(b.varied)
                and list(a.at_bound) == list(b.at_bound)
                and np.array_equal(self.coefficients, other.coefficients)
                and np.array_equal(self.progress, other.progress)
                and np.array_equal(self.calculated, other.calculated))

    __hash__ = None

    def __reduce__(self):
        return (FitResult, (self.problem, self._native))

    def __repr__(self):
        values = ", ".join(f"{n}={v:.6g}" for n, v in self.as_dict().items())
        return (f"<btcfit.FitResult {self.method} ({self.numerics}) SSQ={self.ssq:.6g} "
                f"N={self.iterations}: {values}>")


def fit(problem, threads=None, progress=None, *, method="annealing", numerics=None, seed=1,
        starts=0, _cancel=None):
    """Fits the varied coefficients of a problem.

    Args:
        problem: a :class:`Problem` (or the path of an input deck).
        threads: threads that evaluate the model calls (and run the global
            method's descents side by side); None or 0: all usable cores.
            The result does not depend on it.
        progress: a callable that receives each :class:`ProgressLine` as
            soon as it is known, on the calling thread. An exception it
            raises stops the fit and reaches the caller.
        method: "annealing" (the default): the console program's
            randomised search, the same progress table, set and report as
            the console program for the same deck; use it to reproduce a
            report. "least_squares": a bounded Levenberg-Marquardt descent
            from the initial values; fast, local, for good initial values.
            "global": least-squares descents from a seeded design of starts
            spread over the bounds (the initial values among them); the best
            fit for your own data.
        numerics: "legacy" or "accurate"; None: legacy for the annealing
            search (so that it reproduces the report), accurate for the
            other methods. Recorded in ``result.numerics``.
        seed: the global method's seed; the same seed gives the same result
            on any number of threads.
        starts: the global method's number of starts (0: 8 per varied
            coefficient, at least 16).

    Returns:
        a :class:`FitResult`.

    Raises :class:`ProblemError` for a refused problem (including search
    bounds that exclude a varied coefficient) or options, :class:`DeckError`
    for an unreadable deck path, and ``KeyboardInterrupt`` when Ctrl-C
    stops the fit (within about a tenth of a second). The GIL is released
    while the engine computes, so other Python threads run meanwhile.
    """
    problem = as_problem(problem)
    if method not in METHODS:
        raise ProblemError(f"method {method!r} is not one of " + ", ".join(map(repr, METHODS)))
    numerics = _check_numerics(numerics)
    threads = _threads(threads)
    starts = _threads(starts, "starts")
    try:
        seed = operator.index(seed)
    except TypeError:
        raise ProblemError(f"seed {seed!r} is not a whole number") from None
    if not 0 <= seed < 2**64:
        raise ProblemError(f"seed {seed} is not in 0 .. 2**64 - 1")
    callback = None
    if progress is not None:
        def callback(iteration, ssq, coefficients, text):
            progress(ProgressLine(iteration, ssq, coefficients, text))
    native = _btcfit.fit(problem._native, method, numerics, seed, starts, threads, callback,
                         _cancel)
    return FitResult(problem, native)
