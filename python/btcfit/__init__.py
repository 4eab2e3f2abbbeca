"""btcfit: analytical solutions of the one-dimensional convection-dispersion
equation fitted to breakthrough data.

    >>> import btcfit
    >>> problem = btcfit.read_deck("column.in")       # or btcfit.Problem(...)
    >>> result = btcfit.fit(problem)
    >>> print(result.report())                         # the console report
    >>> print(result.statistics())                     # errors, intervals, R²

The fit is the same annealing search as the console program's, with the same
progress table, fitted set and report for the same deck, on any number of
threads. The engine runs with the GIL released; Ctrl-C stops a fit.
"""

import enum as _enum
import operator as _operator
import os as _os
from typing import NamedTuple as _NamedTuple

import numpy as _np

from ._errors import Cancelled, DeckError, Error, ProblemError
from . import _btcfit

__all__ = [
    "Cancelled", "Coefficient", "DataForm", "DeckError", "Error", "FitResult", "Listing",
    "Model", "Problem", "ProblemError", "ProgressLine", "Statistics", "coefficient_count",
    "evaluate", "fit", "fit_many", "read_deck", "usable_threads",
]

__version__ = "1.0.0"


class Model(_enum.IntEnum):
    """The eight analytical solutions; the value is the deck's model code.

    Resident models give the concentration in the liquid phase at a point,
    flux models the flux-averaged concentration.
    """

    equilibrium_resident = 1
    equilibrium_flux = 2
    nonequilibrium_resident = 3
    nonequilibrium_flux = 4
    stream_tube_pulse_resident = 5
    stream_tube_pulse_flux = 6
    stream_tube_load_resident = 7
    stream_tube_load_flux = 8


class DataForm(_enum.IntEnum):
    """What the observed concentrations (and times) are."""

    measured = 0                        # concentrations and times as measured
    reduced_concentration = 1           # (C - CI) / (C0 - CI)
    reduced_concentration_and_time = 2  # reduced C against v t / L


class Listing(_enum.IntEnum):
    """What the report shows besides the fit."""

    none = 0
    observed_data = 1
    pd_distance = 2
    pd_time = 3


def coefficient_count(model):
    """Number of coefficients of a model: 6 for codes 1 to 4, 7 for 5 to 8."""
    return _btcfit.coefficient_count(int(_as_model(model)))


def usable_threads():
    """The number of threads this process may use (at least 1)."""
    return _btcfit.usable_threads()


class Coefficient:
    """One model coefficient, in deck order.

    Args:
        name: up to 6 characters, as the report shows them.
        initial: the search's starting value (and the value when not varied).
        lower, upper: the bounds of the search (used only when varied).
        vary: True to fit the coefficient, False to keep it at ``initial``.

    The meaning follows from the position and the model: codes 1, 2: V, D,
    R, T0, MU, GAMMA; codes 3, 4: V, D, R, T0, BETA, OMEGA; codes 5-8: mean
    velocity, dispersivity, R, T0 (or input mass over C0 for 7, 8), decay,
    production, standard deviation of ln v.
    """

    __slots__ = ("name", "initial", "lower", "upper", "vary")

    def __init__(self, name, initial, lower=0.0, upper=0.0, vary=False):
        try:
            self.name = str(name)
            self.initial = float(initial)
            self.lower = float(lower)
            self.upper = float(upper)
        except (TypeError, ValueError) as e:
            raise ProblemError(f"coefficient {name!r}: {e}") from None
        self.vary = bool(vary)

    def _astuple(self):
        return (self.name, self.initial, self.lower, self.upper, self.vary)

    def __eq__(self, other):
        return isinstance(other, Coefficient) and self._astuple() == other._astuple()

    def __reduce__(self):
        return (Coefficient, self._astuple())

    def __repr__(self):
        return "Coefficient({!r}, {!r}, {!r}, {!r}, vary={!r})".format(*self._astuple())


def _as_model(value):
    if isinstance(value, str):
        try:
            return Model[value.strip().lower()]
        except KeyError:
            raise ProblemError(
                f"unknown model {value!r}: a code 1..8 or one of "
                + ", ".join(m.name for m in Model)) from None
    try:
        if isinstance(value, bool):
            raise TypeError
        code = _operator.index(value)
    except TypeError:
        raise ProblemError(f"model {value!r} is neither a code 1..8 nor a model name") from None
    if not 1 <= code <= 8:
        raise ProblemError(f"model code {code} is not one of 1..8")
    return Model(code)


def _as_enum(cls, value, what):
    try:
        if isinstance(value, str):
            return cls[value.strip().lower()]
        return cls(_operator.index(value))
    except (KeyError, ValueError, TypeError):
        raise ProblemError(
            f"{what} {value!r} is not one of "
            + ", ".join(f"{m.value} ({m.name})" for m in cls)) from None


def _as_coefficient(c):
    if isinstance(c, Coefficient):
        return Coefficient(*c._astuple())
    if isinstance(c, (tuple, list)) and 2 <= len(c) <= 5:
        return Coefficient(*c)
    raise ProblemError(
        f"a coefficient is a btcfit.Coefficient or (name, initial, lower, upper, vary), not {c!r}")


def _as_observations(values, what):
    try:
        a = _np.array(values, dtype=_np.float64)
    except (TypeError, ValueError) as e:
        raise ProblemError(f"{what} is not a sequence of numbers: {e}") from None
    if a.ndim != 1:
        raise ProblemError(f"{what} must be one-dimensional, not of shape {a.shape}")
    a.flags.writeable = False
    return a


def _as_float(value, what):
    try:
        return float(value)
    except (TypeError, ValueError):
        raise ProblemError(f"{what} {value!r} is not a number") from None


class Problem:
    """A transport problem: the model, its coefficients, the observations
    and the input of solute, as an input deck describes them.

    Build it from keyword arguments, or read a deck with
    :func:`btcfit.read_deck` (or :meth:`Problem.from_deck` for deck text)::

        problem = btcfit.Problem(
            model="equilibrium_flux",
            coefficients=[btcfit.Coefficient("V", 25.0, 1.0, 100.0, True), ...],
            concentration=c, distance=x, time=t,     # equal-length sequences
            input_concentration=1.0, data_form=1)

    Args:
        model: a code 1..8, a :class:`Model` or its name.
        coefficients: :class:`Coefficient` objects (or tuples
            ``(name, initial, lower, upper, vary)``), all of the model's
            coefficients in deck order (:func:`coefficient_count`).
        concentration, distance, time: the observations, any sequences of
            numbers of equal length (NumPy arrays, lists, a pandas
            DataFrame's columns), at most 90.
        initial_concentration: CI, of the profile at time 0 (default 0).
        input_concentration: C0, of the pulse (default 1).
        pulses: several pulses as (end time, concentration) pairs (codes
            1-6), or solute loads as (time, mass over water content) pairs
            (codes 7, 8); 2 to 10 of them, or none for one pulse of C0 and
            duration T0.
        data_form: 0 measured, 1 reduced concentrations, 2 reduced
            concentrations against reduced time (a :class:`DataForm`).
        echo, least_squares_line, listing: what the report shows besides
            the fit (the deck's control switches).

    The problem is checked when it is made: a refused problem raises
    :class:`ProblemError`. It does not change afterwards; use
    :meth:`replace` for a changed copy. Problems pickle.
    """

    __slots__ = ("_parts",)

    def __init__(self, *, model, coefficients, concentration=(), distance=(), time=(),
                 initial_concentration=0.0, input_concentration=1.0, pulses=(),
                 data_form=DataForm.measured, echo=True, least_squares_line=False,
                 listing=Listing.none):
        try:
            coefficients = [_as_coefficient(c) for c in coefficients]
        except TypeError:
            raise ProblemError("coefficients must be a sequence of btcfit.Coefficient") from None
        try:
            pulses = [(float(t), float(v)) for t, v in pulses]
        except (TypeError, ValueError):
            raise ProblemError("pulses must be (time, value) pairs of numbers") from None
        concentration = _as_observations(concentration, "concentration")
        distance = _as_observations(distance, "distance")
        time = _as_observations(time, "time")
        if not len(concentration) == len(distance) == len(time):
            raise ProblemError(
                "concentration, distance and time differ in length "
                f"({len(concentration)}, {len(distance)}, {len(time)})")
        self._parts = (
            int(_as_model(model)), coefficients, concentration, distance, time,
            _as_float(initial_concentration, "initial_concentration"),
            _as_float(input_concentration, "input_concentration"), pulses,
            int(_as_enum(DataForm, data_form, "data_form")), bool(echo),
            bool(least_squares_line), int(_as_enum(Listing, listing, "listing")))
        _btcfit.check(self._native())

    @classmethod
    def _from_parts(cls, parts):
        (model, coefficients, c, x, t, ci, c0, pulses, form, echo, lsq, listing) = parts
        return cls(model=model, coefficients=[Coefficient(*k) for k in coefficients],
                   concentration=c, distance=x, time=t, initial_concentration=ci,
                   input_concentration=c0, pulses=pulses, data_form=form, echo=echo,
                   least_squares_line=lsq, listing=listing)

    @classmethod
    def from_deck(cls, text):
        """The problem of an input deck given as text (fixed-column records).

        Raises :class:`DeckError` for an unreadable field or a missing
        record, :class:`ProblemError` for a deck the console program
        refuses after reading it.
        """
        return cls._from_parts(_btcfit.read_deck_text(str(text)))

    def _native(self):
        p = list(self._parts)
        p[1] = [c._astuple() for c in p[1]]
        return tuple(p)

    def to_deck(self):
        """The problem as input-deck text that reads back to the same problem
        and that the console program accepts. Raises :class:`ProblemError`
        when a value cannot be written exactly in the deck's 10-column fields
        (more than about 8 significant digits)."""
        return _btcfit.write_deck(self._native())

    def replace(self, **changes):
        """A copy with the given keyword arguments of the constructor changed."""
        fields = self._fields()
        unknown = set(changes) - set(fields)
        if unknown:
            raise TypeError(f"Problem has no field {sorted(unknown)[0]!r}")
        fields.update(changes)
        return Problem(**fields)

    def _fields(self):
        return dict(model=self.model, coefficients=self.coefficients,
                    concentration=self.concentration, distance=self.distance, time=self.time,
                    initial_concentration=self.initial_concentration,
                    input_concentration=self.input_concentration, pulses=self.pulses,
                    data_form=self.data_form, echo=self.echo,
                    least_squares_line=self.least_squares_line, listing=self.listing)

    model = property(lambda self: Model(self._parts[0]), doc="The model (:class:`Model`).")
    coefficients = property(lambda self: [Coefficient(*c._astuple()) for c in self._parts[1]],
                            doc="The coefficients in deck order (copies).")
    concentration = property(lambda self: self._parts[2],
                             doc="Observed concentrations (read-only array).")
    distance = property(lambda self: self._parts[3], doc="Observation distances (read-only array).")
    time = property(lambda self: self._parts[4],
                    doc="Observation times, or reduced times for data_form 2 (read-only array).")
    initial_concentration = property(lambda self: self._parts[5], doc="CI.")
    input_concentration = property(lambda self: self._parts[6], doc="C0.")
    pulses = property(lambda self: list(self._parts[7]), doc="(time, value) pairs.")
    data_form = property(lambda self: DataForm(self._parts[8]), doc="A :class:`DataForm`.")
    echo = property(lambda self: self._parts[9], doc="The report echoes the problem.")
    least_squares_line = property(lambda self: self._parts[10], doc="One more banner line.")
    listing = property(lambda self: Listing(self._parts[11]), doc="A :class:`Listing`.")

    @property
    def names(self):
        """The coefficient names without surrounding blanks."""
        return [c.name.strip() for c in self._parts[1]]

    @property
    def varied(self):
        """Which coefficients the fit varies, after the deck's silent
        corrections (several pulses fix T0, reduced time fixes V)."""
        return [bool(c[4]) for c in _btcfit.check(self._native())[1]]

    def __len__(self):
        """The number of observations."""
        return len(self._parts[2])

    def __eq__(self, other):
        if not isinstance(other, Problem):
            return NotImplemented
        a, b = self._parts, other._parts
        return all(_np.array_equal(x, y) if isinstance(x, _np.ndarray) else x == y
                   for x, y in zip(a, b))

    def __reduce__(self):
        return (Problem._from_parts, (self._native(),))

    def __repr__(self):
        coefficients = ", ".join(
            f"{c.name.strip()}={c.initial:g}" + (f" [{c.lower:g}, {c.upper:g}]" if c.vary else "")
            for c in self._parts[1])
        return (f"<btcfit.Problem {self.model.name}, {len(self)} observations, "
                f"{coefficients}>")


def read_deck(path):
    """Reads an input deck file (fixed-column records) into a :class:`Problem`.

    Raises :class:`DeckError` (with ``record``, ``first_column`` and
    ``last_column``) for a file that cannot be opened, an unreadable field or
    a missing record, and :class:`ProblemError` for a deck the console
    program refuses after reading it (model code, counts).
    """
    return Problem._from_parts(_btcfit.read_deck(_os.fspath(path)))


def _as_problem(problem):
    if isinstance(problem, Problem):
        return problem
    if isinstance(problem, (str, _os.PathLike)):
        return read_deck(problem)
    raise TypeError(f"expected a btcfit.Problem or a deck path, not {type(problem).__name__}")


def _coefficient_values(problem, coefficients):
    if coefficients is None:
        return _np.array([c.initial for c in problem._parts[1]])
    if isinstance(coefficients, dict):
        values = _np.array([c.initial for c in problem._parts[1]])
        names = problem.names
        for name, value in coefficients.items():
            if name not in names:
                raise ProblemError(f"no coefficient named {name!r}; the names are {names}")
            values[names.index(name)] = value
        return values
    try:
        return _np.array(coefficients, dtype=_np.float64)
    except (TypeError, ValueError) as e:
        raise ProblemError(f"coefficients are not numbers: {e}") from None


def evaluate(problem, coefficients=None, distance=None, time=None, threads=1):
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

    The values are bit for bit those of the C++ library, which are those
    the fit computes. Raises :class:`ProblemError` for a refused problem or
    a wrong number of coefficients.
    """
    problem = _as_problem(problem)
    b = _coefficient_values(problem, coefficients)
    if distance is None and time is None:
        return _btcfit.evaluate(problem._native(), b)
    if time is None:
        raise ProblemError("evaluate: time is needed when distance is given")
    if distance is None:
        if len(problem) == 0:
            raise ProblemError("evaluate: the problem has no observations to take a distance from")
        distance = float(_np.max(problem.distance))
    try:
        x, t = _np.broadcast_arrays(_np.asarray(distance, dtype=_np.float64),
                                    _np.asarray(time, dtype=_np.float64))
    except (TypeError, ValueError) as e:
        raise ProblemError(f"evaluate: distance and time do not form points: {e}") from None
    threads = _operator.index(threads)
    values = _btcfit.evaluate_points(problem._native(), b, _np.ascontiguousarray(x).ravel(),
                                     _np.ascontiguousarray(t).ravel(), threads)
    return values.reshape(x.shape)


class ProgressLine(_NamedTuple):
    """One line of the search's progress table: the best set after an outer
    iteration of 500 trials (iteration 0: the initial set). ``str(line)`` is
    the line as the report shows it."""

    iteration: int
    ssq: float
    coefficients: _np.ndarray
    text: str

    def __str__(self):
        return self.text


class FitResult:
    """The result of :func:`fit`.

    Attributes:
        problem: the :class:`Problem` fitted.
        coefficients: the fitted set, all coefficients in deck order (fixed
            ones at their initial values), a NumPy array.
        names: the coefficient names.
        ssq: the sum of squared residuals of the fitted set.
        iterations: the outer iteration at which the search ended.
        progress: the progress table, a 2-D array with the columns
            iteration, SSQ and the coefficients.
        calculated: the model at the observations for the fitted set.
    """

    def __init__(self, problem, coefficients, ssq, iterations, progress, calculated):
        self.problem = problem
        self.coefficients = coefficients
        self.ssq = float(ssq)
        self.iterations = int(iterations)
        self.progress = progress
        self.calculated = calculated
        for a in (coefficients, progress, calculated):
            a.flags.writeable = False

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
        """The console program's report for this fit, byte for byte: the
        echo (unless switched off), the progress table, the final line and
        observed against calculated concentrations. Lines end with CR LF."""
        return _btcfit.report(self.problem._native(), self.coefficients, self.ssq,
                              self.iterations, self.progress, self.calculated)

    def statistics(self, confidence=0.95):
        """Standard errors, confidence intervals, correlation matrix, R² and
        RMSE of the varied coefficients at the fitted set (a
        :class:`Statistics`), from a central-difference Jacobian of
        :func:`evaluate` and the covariance s²(JᵀJ)⁻¹, s² = SSQ/(n−p)."""
        from ._statistics import compute
        return compute(self, confidence)

    def plot(self, ax=None, points=200):
        """A matplotlib Figure of the observed concentrations and the fitted
        curves (one per distance, or per time for profiles). Draws into
        ``ax`` when given. Needs matplotlib."""
        from ._statistics import plot
        return plot(self, ax, points)

    def __eq__(self, other):
        if not isinstance(other, FitResult):
            return NotImplemented
        return (self.problem == other.problem and self.ssq == other.ssq
                and self.iterations == other.iterations
                and _np.array_equal(self.coefficients, other.coefficients)
                and _np.array_equal(self.progress, other.progress)
                and _np.array_equal(self.calculated, other.calculated))

    def __reduce__(self):
        return (FitResult, (self.problem, _np.array(self.coefficients), self.ssq,
                            self.iterations, _np.array(self.progress),
                            _np.array(self.calculated)))

    def __repr__(self):
        values = ", ".join(f"{n}={v:.6g}" for n, v in self.as_dict().items())
        return f"<btcfit.FitResult SSQ={self.ssq:.6g} N={self.iterations}: {values}>"


def fit(problem, threads=None, progress=None, *, _cancel=None):
    """Fits the varied coefficients of a problem with the annealing search,
    exactly as the console program does for the same deck.

    Args:
        problem: a :class:`Problem` (or the path of an input deck).
        threads: threads that evaluate the model calls; None or 0: all
            usable cores. The result does not depend on it.
        progress: a callable that receives each :class:`ProgressLine` as
            soon as it is known (every 500 trials), on the calling thread.
            An exception it raises stops the fit and reaches the caller.

    Returns:
        a :class:`FitResult`.

    Raises :class:`ProblemError` for a refused problem (including search
    bounds that exclude a varied coefficient), :class:`DeckError` for an
    unreadable deck path, and ``KeyboardInterrupt`` when Ctrl-C stops the
    fit (within about a tenth of a second). The GIL is released while the
    engine computes, so other Python threads run meanwhile.
    """
    problem = _as_problem(problem)
    threads = 0 if threads is None else _operator.index(threads)
    callback = None
    if progress is not None:
        def callback(iteration, ssq, coefficients, text):
            progress(ProgressLine(iteration, ssq, coefficients, text))
    c, ssq, iterations, table, calculated = _btcfit.fit(problem._native(), threads, callback,
                                                        _cancel)
    return FitResult(problem, c, ssq, iterations, table, calculated)


from ._statistics import Statistics  # noqa: E402
from ._many import fit_many  # noqa: E402
