"""btcfit: analytical solutions of the one-dimensional convection-dispersion
equation fitted to breakthrough data.

    >>> import btcfit
    >>> problem = btcfit.read_deck("column.in")       # or btcfit.Problem(...)
    >>> result = btcfit.fit(problem, method="global")  # the best fit
    >>> print(result.statistics())                     # errors, intervals, R²
    >>> print(result.profiles())                       # profile intervals
    >>> btcfit.compare([result, other])                # AICc weights, F tests

The default method, the annealing search, is the console program's: the
same progress table, fitted set and report for the same deck, on any number
of threads. Every number comes from the C++ library; the engine runs with
the GIL released, and Ctrl-C stops a fit.
"""

from ._errors import Cancelled, DeckError, DeckRoundingWarning, Error, ProblemError
from ._problem import (Coefficient, DataForm, Listing, Model, Problem, coefficient_count,
                       coefficient_names, read_deck, usable_threads)
from ._fit import FitResult, ProgressLine, evaluate, fit
from ._analysis import (ComparisonTable, Criteria, ProfileInterval, ProfilePoint, Profiles,
                        Refinement, Statistics, compare)
from ._many import fit_many

__all__ = [
    "Cancelled", "Coefficient", "ComparisonTable", "Criteria", "DataForm", "DeckError",
    "DeckRoundingWarning", "Error", "FitResult", "Listing", "Model", "Problem", "ProblemError",
    "ProfileInterval", "ProfilePoint", "Profiles", "ProgressLine", "Refinement", "Statistics",
    "coefficient_count", "coefficient_names", "compare", "evaluate", "fit", "fit_many",
    "read_deck", "usable_threads",
]

__version__ = "1.1.0"
