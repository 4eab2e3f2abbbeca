import concurrent.futures
import enum
import os
from typing import Any, Callable, Iterable, Iterator, Literal, Mapping, NamedTuple, Sequence, Union

import numpy as np
import numpy.typing as npt

__version__: str

ArrayLike = npt.ArrayLike
DeckPath = Union[str, os.PathLike[str]]
MethodName = Literal["annealing", "least_squares", "global"]
NumericsName = Literal["legacy", "accurate"]

class Error(Exception): ...

class DeckError(Error, ValueError):
    message: str
    record: int
    first_column: int
    last_column: int
    def __init__(self, message: str, record: int = ..., first_column: int = ...,
                 last_column: int = ...) -> None: ...

class ProblemError(Error, ValueError): ...
class Cancelled(Error): ...
class DeckRoundingWarning(UserWarning): ...

class Model(enum.IntEnum):
    equilibrium_resident = 1
    equilibrium_flux = 2
    nonequilibrium_resident = 3
    nonequilibrium_flux = 4
    stream_tube_pulse_resident = 5
    stream_tube_pulse_flux = 6
    stream_tube_load_resident = 7
    stream_tube_load_flux = 8

class DataForm(enum.IntEnum):
    measured = 0
    reduced_concentration = 1
    reduced_concentration_and_time = 2

class Listing(enum.IntEnum):
    none = 0
    observed_data = 1
    pd_distance = 2
    pd_time = 3

def coefficient_count(model: Union[int, str, Model]) -> int: ...
def coefficient_names(model: Union[int, str, Model]) -> list[str]: ...
def usable_threads() -> int: ...

class Coefficient:
    name: str
    initial: float
    lower: float
    upper: float
    vary: bool
    def __init__(self, name: str, initial: float, lower: float = ..., upper: float = ...,
                 vary: bool = ...) -> None: ...

CoefficientLike = Union[Coefficient, Sequence[Any]]
# A dict value: a Coefficient, a number (fixed there) or (initial, lower, upper, vary).
NamedCoefficient = Union[Coefficient, float, Sequence[Any]]

class Problem:
    def __init__(self, *, model: Union[int, str, Model],
                 coefficients: Union[Iterable[CoefficientLike], Mapping[str, NamedCoefficient]],
                 concentration: ArrayLike = ..., distance: ArrayLike = ..., time: ArrayLike = ...,
                 initial_concentration: float = ..., input_concentration: float = ...,
                 pulses: Iterable[tuple[float, float]] = ...,
                 data_form: Union[int, str, DataForm] = ..., echo: bool = ...,
                 least_squares_line: bool = ..., listing: Union[int, str, Listing] = ...) -> None: ...
    @classmethod
    def from_deck(cls, text: str) -> Problem: ...
    def to_deck(self, exact: bool = ...) -> str: ...
    def replace(self, **changes: Any) -> Problem: ...
    @property
    def model(self) -> Model: ...
    @property
    def coefficients(self) -> list[Coefficient]: ...
    @property
    def concentration(self) -> np.ndarray: ...
    @property
    def distance(self) -> np.ndarray: ...
    @property
    def time(self) -> np.ndarray: ...
    @property
    def initial_concentration(self) -> float: ...
    @property
    def input_concentration(self) -> float: ...
    @property
    def pulses(self) -> list[tuple[float, float]]: ...
    @property
    def data_form(self) -> DataForm: ...
    @property
    def echo(self) -> bool: ...
    @property
    def least_squares_line(self) -> bool: ...
    @property
    def listing(self) -> Listing: ...
    @property
    def names(self) -> list[str]: ...
    @property
    def varied(self) -> list[bool]: ...
    def __len__(self) -> int: ...

def read_deck(path: DeckPath) -> Problem: ...

def evaluate(problem: Union[Problem, DeckPath],
             coefficients: Union[ArrayLike, Mapping[str, float], None] = ...,
             distance: ArrayLike | None = ..., time: ArrayLike | None = ...,
             threads: int = ..., numerics: NumericsName | None = ...) -> np.ndarray: ...

class ProgressLine(NamedTuple):
    iteration: int
    ssq: float
    coefficients: np.ndarray
    text: str

class Statistics:
    n: int
    p: int
    dof: int
    ssq: float
    s2: float
    rmse: float
    r2: float
    calculated: np.ndarray
    names: list[str]
    positions: list[int]
    values: np.ndarray
    steps: np.ndarray
    step_sensitivity: np.ndarray
    verdict: Literal["determined", "too_few_observations", "not_finite", "singular"]
    message: str
    undetermined: list[str]
    t_quantile: float
    confidence: float
    covariance: np.ndarray
    correlation: np.ndarray
    std_error: np.ndarray
    ci_lower: np.ndarray
    ci_upper: np.ndarray
    numerics: NumericsName

class ProfilePoint:
    value: float
    ssq: float

class ProfileInterval:
    name: str
    position: int
    value: float
    lower: float
    upper: float
    lower_at_bound: bool
    upper_at_bound: bool
    lower_found: bool
    upper_found: bool
    linear_lower: float
    linear_upper: float
    points: list[ProfilePoint]

class _NativeFitResult:
    coefficients: np.ndarray
    ssq: float
    iterations: int
    method: MethodName
    numerics: NumericsName
    termination: str
    evaluations: int

class Profiles:
    n: int
    p: int
    level: float
    ssq_min: float
    f_quantile: float
    threshold: float
    least_ssq: float
    evaluations: int
    optimum: _NativeFitResult
    intervals: list[ProfileInterval]
    def __len__(self) -> int: ...
    def __getitem__(self, name: str) -> ProfileInterval: ...

class Criteria:
    n: int
    p: int
    k: int
    ssq: float
    aic: float
    aicc: float
    bic: float

class Refinement:
    result: FitResult
    start_ssq: float
    start_at_local_minimum: bool
    message: str
    @property
    def ssq(self) -> float: ...
    @property
    def relative_decrease(self) -> float: ...

class FitResult:
    problem: Problem
    coefficients: np.ndarray
    progress: np.ndarray
    calculated: np.ndarray
    @property
    def ssq(self) -> float: ...
    @property
    def iterations(self) -> int: ...
    @property
    def method(self) -> MethodName: ...
    @property
    def numerics(self) -> NumericsName: ...
    @property
    def termination(self) -> str: ...
    @property
    def termination_reason(self) -> str: ...
    @property
    def evaluations(self) -> int: ...
    @property
    def varied(self) -> list[bool]: ...
    @property
    def at_bound(self) -> list[bool]: ...
    @property
    def names(self) -> list[str]: ...
    @property
    def observed(self) -> np.ndarray: ...
    @property
    def residuals(self) -> np.ndarray: ...
    @property
    def criteria(self) -> Criteria: ...
    def as_dict(self) -> dict[str, float]: ...
    def report(self) -> str: ...
    def table(self) -> Any: ...
    def statistics(self, confidence: float = ..., *, numerics: NumericsName | None = ...,
                   threads: int = ..., check_step: bool = ...) -> Statistics: ...
    def refine(self, *, numerics: NumericsName | None = ..., threads: int = ...,
               max_iterations: int = ...) -> Refinement: ...
    def profiles(self, level: float = ..., *, fill_points: int = ..., refine_first: bool = ...,
                 numerics: NumericsName | None = ..., threads: int = ...) -> Profiles: ...
    def profile(self, name: Union[str, int], level: float = ..., *, fill_points: int = ...,
                refine_first: bool = ..., numerics: NumericsName | None = ...,
                threads: int = ...) -> ProfileInterval: ...
    def to_json(self, *, profiles: bool = ..., label: str = ...) -> str: ...
    def plot(self, ax: Any = ..., points: int = ..., *,
             units: tuple[str, str] | tuple[str, str, str] | None = ..., residuals: bool = ...,
             title: str | None = ..., figure: Any = ...) -> Any: ...

def fit(problem: Union[Problem, DeckPath], threads: int | None = ...,
        progress: Callable[[ProgressLine], object] | None = ..., *,
        method: MethodName = ..., numerics: NumericsName | None = ..., seed: int = ...,
        starts: int = ...) -> FitResult: ...

class ComparisonTable:
    columns: tuple[str, ...]
    rows: list[dict[str, Any]]
    nested: list[dict[str, Any]]
    best: str | None
    def __len__(self) -> int: ...
    def __iter__(self) -> Iterator[dict[str, Any]]: ...
    def __getitem__(self, index: int) -> dict[str, Any]: ...
    def to_pandas(self) -> Any: ...

def compare(results: Union[Iterable[FitResult], Mapping[str, FitResult]],
            labels: Sequence[str] | None = ...) -> Any: ...

def fit_many(problems: Iterable[Union[Problem, DeckPath]],
             executor: concurrent.futures.Executor | None = ...,
             threads_per_fit: int = ...,
             progress: Union[bool, Callable[[int], object]] = ..., *,
             method: MethodName = ..., numerics: NumericsName | None = ..., seed: int = ...
             ) -> list[Union[FitResult, BaseException]]: ...
