"""Problems: the model, its coefficients, the observations and the input of
solute (btcfit.Problem, btcfit.Coefficient, btcfit.read_deck)."""

import collections.abc
import enum
import math
import operator
import os
import struct
import warnings

import numpy as np

from ._errors import DeckRoundingWarning, ProblemError
from . import _btcfit

Coefficient = _btcfit.Coefficient
Coefficient.__module__ = "btcfit"


class Model(enum.IntEnum):
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


class DataForm(enum.IntEnum):
    """What the observed concentrations (and times) are."""

    measured = 0                        # concentrations and times as measured
    reduced_concentration = 1           # (C - CI) / (C0 - CI)
    reduced_concentration_and_time = 2  # reduced C against v t / L


class Listing(enum.IntEnum):
    """What the report shows besides the fit."""

    none = 0
    observed_data = 1
    pd_distance = 2
    pd_time = 3


def as_model(value):
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
        code = operator.index(value)
    except TypeError:
        raise ProblemError(f"model {value!r} is neither a code 1..8 nor a model name") from None
    if not 1 <= code <= 8:
        raise ProblemError(f"model code {code} is not one of 1..8")
    return Model(code)


def _as_enum(cls, value, what):
    try:
        if isinstance(value, str):
            return cls[value.strip().lower()]
        return cls(operator.index(value))
    except (KeyError, ValueError, TypeError):
        raise ProblemError(
            f"{what} {value!r} is not one of "
            + ", ".join(f"{m.value} ({m.name})" for m in cls)) from None


def coefficient_count(model):
    """Number of coefficients of a model: 6 for codes 1 to 4, 7 for 5 to 8."""
    return _btcfit.coefficient_count(int(as_model(model)))


def coefficient_names(model):
    """The model's own names of its coefficients, deck order: V, D, R, T0,
    MU, GAMMA (codes 1, 2); V, D, R, T0, BETA, OMEGA (3, 4); V, ALPHA, R,
    T0, MU, GAMMA, SIGMA (5, 6); V, ALPHA, R, M0, MU, GAMMA, SIGMA (7, 8)."""
    return _btcfit.coefficient_names(int(as_model(model)))


def usable_threads():
    """The number of threads this process may use (at least 1)."""
    return _btcfit.usable_threads()


def _copy(c):
    return Coefficient(c.name, c.initial, c.lower, c.upper, c.vary)


def _as_coefficient(c, name=None):
    if isinstance(c, Coefficient):
        c = _copy(c)
        if name is not None and not c.name.strip():
            c.name = name
        return c
    if name is not None:
        # A dict's value: a number (fixed there) or (initial, lower, upper, vary).
        if isinstance(c, (int, float)) and not isinstance(c, bool):
            return Coefficient(name, c)
        if isinstance(c, (tuple, list)) and 1 <= len(c) <= 4:
            return Coefficient(name, *c)
        raise ProblemError(
            f"coefficient {name!r}: a btcfit.Coefficient, a number or (initial, lower, upper, "
            f"vary), not {c!r}")
    if isinstance(c, (tuple, list)) and 2 <= len(c) <= 5:
        return Coefficient(*c)
    raise ProblemError(
        f"a coefficient is a btcfit.Coefficient or (name, initial, lower, upper, vary), not {c!r}")


def _coefficients(model, coefficients):
    if isinstance(coefficients, collections.abc.Mapping):
        by_name = {}
        for name, c in coefficients.items():
            if not isinstance(name, str):
                raise ProblemError(f"coefficient key {name!r} is not a name")
            by_name[name] = _as_coefficient(c, name)
        # The C++ library places them, names the keys it does not know and
        # fixes the ones left out at their defaults.
        return _btcfit.coefficients_by_name(int(model), by_name)
    try:
        return [_as_coefficient(c) for c in coefficients]
    except TypeError:
        raise ProblemError("coefficients must be a sequence of btcfit.Coefficient "
                           "or a dict of them by name") from None


def _as_observations(values, what):
    try:
        a = np.array(values, dtype=np.float64)
    except (TypeError, ValueError) as e:
        raise ProblemError(f"{what} is not a sequence of numbers: {e}") from None
    if a.ndim != 1:
        raise ProblemError(f"{what} must be one-dimensional, not of shape {a.shape}")
    return a


def _as_float(value, what):
    try:
        return float(value)
    except (TypeError, ValueError):
        raise ProblemError(f"{what} {value!r} is not a number") from None


def _read_only(a):
    a.flags.writeable = False
    return a


class Problem:
    """A transport problem: the model, its coefficients, the observations
    and the input of solute, as an input deck describes them.

    Build it from keyword arguments, or read a deck with
    :func:`btcfit.read_deck` (or :meth:`Problem.from_deck` for deck text)::

        problem = btcfit.Problem(
            model="equilibrium_flux",
            coefficients={"V": btcfit.Coefficient("V", 25.0, 1.0, 100.0, True),
                          "D": btcfit.Coefficient("D", 30.0, 1.0, 500.0, True)},
            concentration=c, distance=x, time=t,     # equal-length sequences
            input_concentration=1.0, data_form=1)

    Args:
        model: a code 1..8, a :class:`Model` or its name.
        coefficients: either a dict by the model's names
            (:func:`coefficient_names`) of :class:`Coefficient` objects
            (or numbers, fixed there), the ones left out fixed at their
            defaults: R = 1, T0 = 1e30 (a step input), MU = GAMMA = 0; V, D
            or ALPHA, BETA, OMEGA, SIGMA and M0 must be given. Or a list of
            all of the model's coefficients in deck order
            (:func:`coefficient_count`), as :class:`Coefficient` objects or
            tuples ``(name, initial, lower, upper, vary)``; the names are
            then free labels.
        concentration, distance, time: the observations, any sequences of
            numbers of equal length (NumPy arrays, lists, a pandas
            DataFrame's columns).
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

    The problem is checked when it is made: a refused problem, including
    a varied coefficient whose lower bound is above its upper one, raises
    :class:`ProblemError`. It does not change afterwards; use
    :meth:`replace` for a changed copy. Problems pickle.
    """

    __slots__ = ("_native", "_concentration", "_distance", "_time")

    def __init__(self, *, model, coefficients, concentration=(), distance=(), time=(),
                 initial_concentration=0.0, input_concentration=1.0, pulses=(),
                 data_form=DataForm.measured, echo=True, least_squares_line=False,
                 listing=Listing.none, _from_deck=False):
        model = as_model(model)
        coefficients = _coefficients(model, coefficients)
        try:
            pulses = [(float(t), float(v)) for t, v in pulses]
        except (TypeError, ValueError):
            raise ProblemError("pulses must be (time, value) pairs of numbers") from None
        native = _btcfit.Problem(
            model=int(model), coefficients=coefficients,
            concentration=_as_observations(concentration, "concentration"),
            distance=_as_observations(distance, "distance"),
            time=_as_observations(time, "time"),
            initial_concentration=_as_float(initial_concentration, "initial_concentration"),
            input_concentration=_as_float(input_concentration, "input_concentration"),
            pulses=pulses, data_form=int(_as_enum(DataForm, data_form, "data_form")),
            echo=bool(echo), least_squares_line=bool(least_squares_line),
            listing=int(_as_enum(Listing, listing, "listing")), from_deck=bool(_from_deck))
        self._adopt(native)

    def _adopt(self, native):
        checked = _btcfit.check(native)
        for c in checked.coefficients:
            if c.vary and c.lower > c.upper:
                raise ProblemError(
                    f"coefficient {c.name.strip()!r}: its lower bound {c.lower:g} is above its "
                    f"upper bound {c.upper:g}; a varied coefficient needs lower < upper")
        self._native = native
        self._concentration = _read_only(native.concentration)
        self._distance = _read_only(native.distance)
        self._time = _read_only(native.time)

    @classmethod
    def _from_native(cls, native):
        problem = cls.__new__(cls)
        problem._adopt(native)
        return problem

    @classmethod
    def from_deck(cls, text):
        """The problem of an input deck given as text (fixed-column records).

        Raises :class:`DeckError` for an unreadable field or a missing
        record, :class:`ProblemError` for a deck the console program
        refuses after reading it.
        """
        return cls._from_native(_btcfit.read_deck_text(str(text)))

    def to_deck(self, exact=False):
        """The problem as input-deck text that the console program accepts.

        Every real is written in the shortest form that reads back to the
        same value. A value that needs more than the deck's 10-column field
        holds (about 8 significant digits; fewer for a negative value with a
        two-digit exponent) is rounded to the most digits that fit, with a
        :class:`DeckRoundingWarning` naming each value rounded; the deck then
        reads back to the rounded problem. ``exact=True`` refuses such a
        value with :class:`ProblemError` instead.
        """
        try:
            return _btcfit.write_deck(self._native)
        except ProblemError as e:
            if exact:
                raise
            refused = e
        rounded, changes = self._rounded_for_deck()
        if not changes:
            raise refused
        shown = "; ".join(changes[:8]) + (f"; and {len(changes) - 8} more"
                                          if len(changes) > 8 else "")
        warnings.warn(f"to_deck rounded {len(changes)} value(s) to fit the deck's 10-column "
                      f"fields: {shown}", DeckRoundingWarning, stacklevel=2)
        return _btcfit.write_deck(rounded._native)

    def _rounded_for_deck(self):
        changes = []

        def fit(value, what):
            v = deck_value(value)
            if not _same(v, value):
                changes.append(f"{what}: {value!r} -> {v!r}")
            return v

        coefficients = []
        for k, c in enumerate(self._native.coefficients):
            label = f"coefficient {k + 1} ({c.name.strip()})"
            coefficients.append(Coefficient(c.name, fit(c.initial, label), fit(c.lower, label +
                                            " lower bound"), fit(c.upper, label + " upper bound"),
                                            c.vary))
        pulses = [(fit(t, f"the time of pulse {j + 1}"), fit(v, f"the value of pulse {j + 1}"))
                  for j, (t, v) in enumerate(self.pulses)]
        columns = [np.array([fit(v, f"the {what} of observation {i + 1}")
                             for i, v in enumerate(values)])
                   for what, values in (("concentration", self._concentration),
                                        ("distance", self._distance), ("time", self._time))]
        fields = self._fields()
        fields.update(
            coefficients=coefficients, pulses=pulses, concentration=columns[0],
            distance=columns[1], time=columns[2],
            initial_concentration=fit(self.initial_concentration, "the initial concentration"),
            input_concentration=fit(self.input_concentration, "the input concentration"))
        return Problem(**fields), changes

    def replace(self, **changes):
        """A copy with the given keyword arguments of the constructor changed."""
        fields = self._fields()
        unknown = set(changes) - set(fields)
        if unknown:
            raise TypeError(f"Problem has no field {sorted(unknown)[0]!r}")
        fields.update(changes)
        # A deck's problem changed in code is still checked as a deck's.
        return Problem(**fields, _from_deck=self._native.from_deck)

    def _fields(self):
        return dict(model=self.model, coefficients=self.coefficients,
                    concentration=self.concentration, distance=self.distance, time=self.time,
                    initial_concentration=self.initial_concentration,
                    input_concentration=self.input_concentration, pulses=self.pulses,
                    data_form=self.data_form, echo=self.echo,
                    least_squares_line=self.least_squares_line, listing=self.listing)

    model = property(lambda self: Model(self._native.model), doc="The model (:class:`Model`).")
    coefficients = property(lambda self: self._native.coefficients,
                            doc="The coefficients in deck order (copies).")
    concentration = property(lambda self: self._concentration,
                             doc="Observed concentrations (read-only array).")
    distance = property(lambda self: self._distance,
                        doc="Observation distances (read-only array).")
    time = property(lambda self: self._time,
                    doc="Observation times, or reduced times for data_form 2 (read-only array).")
    initial_concentration = property(lambda self: self._native.initial_concentration, doc="CI.")
    input_concentration = property(lambda self: self._native.input_concentration, doc="C0.")
    pulses = property(lambda self: self._native.pulses, doc="(time, value) pairs.")
    data_form = property(lambda self: DataForm(self._native.data_form),
                         doc="A :class:`DataForm`.")
    echo = property(lambda self: self._native.echo, doc="The report echoes the problem.")
    least_squares_line = property(lambda self: self._native.least_squares_line,
                                  doc="One more banner line.")
    listing = property(lambda self: Listing(self._native.listing), doc="A :class:`Listing`.")

    @property
    def names(self):
        """The coefficient names without surrounding blanks."""
        return [c.name.strip() for c in self._native.coefficients]

    @property
    def varied(self):
        """Which coefficients the fit varies, after the deck's silent
        corrections (several pulses fix T0, reduced time fixes V)."""
        return [c.vary for c in _btcfit.check(self._native).coefficients]

    def __len__(self):
        """The number of observations."""
        return len(self._concentration)

    def __eq__(self, other):
        if not isinstance(other, Problem):
            return NotImplemented
        a, b = self._fields(), other._fields()
        return all(np.array_equal(a[k], b[k]) if isinstance(a[k], np.ndarray) else a[k] == b[k]
                   for k in a)

    __hash__ = None

    def __reduce__(self):
        return (_problem_from_fields, (self._fields(), self._native.from_deck))

    def __repr__(self):
        coefficients = ", ".join(
            f"{c.name.strip()}={c.initial:g}" + (f" [{c.lower:g}, {c.upper:g}]" if c.vary else "")
            for c in self._native.coefficients)
        return (f"<btcfit.Problem {self.model.name}, {len(self)} observations, "
                f"{coefficients}>")


def _problem_from_fields(fields, from_deck=False):
    return Problem(**fields, _from_deck=from_deck)


def _same(a, b):
    return struct.pack("<d", a) == struct.pack("<d", b)


def _deck_text(value, digits):
    text = f"{value:.{digits}g}"
    if "e" in text:
        mantissa, exponent = text.split("e")
        sign = "-" if exponent.startswith("-") else ""
        text = f"{mantissa}e{sign}{exponent.lstrip('+-').lstrip('0') or '0'}"
    if "." not in text and "e" not in text:
        text += "."
    return text


def deck_value(value):
    """The value as a deck's 10-column field holds it: itself when some text
    of at most 10 characters reads back to it exactly, otherwise rounded to
    the most significant digits (at most 8) whose text fits."""
    value = float(value)
    if not math.isfinite(value):
        return value
    for digits in range(1, 18):
        text = _deck_text(value, digits)
        if len(text) <= 10 and _same(float(text), value):
            return value
    for digits in range(8, 0, -1):
        text = _deck_text(value, digits)
        if len(text) <= 10:
            return float(text)
    return value


def read_deck(path):
    """Reads an input deck file (fixed-column records) into a :class:`Problem`.

    Raises :class:`DeckError` (with ``record``, ``first_column`` and
    ``last_column``) for a file that cannot be opened, an unreadable field or
    a missing record, and :class:`ProblemError` for a deck the console
    program refuses after reading it (model code, counts, crossed bounds).
    """
    return Problem._from_native(_btcfit.read_deck(os.fspath(path)))


def as_problem(problem):
    if isinstance(problem, Problem):
        return problem
    if isinstance(problem, (str, os.PathLike)):
        return read_deck(problem)
    raise TypeError(f"expected a btcfit.Problem or a deck path, not {type(problem).__name__}")
