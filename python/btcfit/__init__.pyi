import concurrent.futures
import enum
import os
from typing import Any, Callable, Iterable, Mapping, NamedTuple, Sequence, Union

import numpy as np
import numpy.typing as npt

__version__: str

ArrayLike = npt.ArrayLike
DeckPath = Union[str, os.PathLike[str]]

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

class Problem:
    def __init__(self, *, model: Union[int, str, Model], coefficients: Iterable[CoefficientLike],
                 concentration: ArrayLike = ..., distance: ArrayLike = ..., time: ArrayLike = ...,
                 initial_concentration: float = ..., input_concentration: float = ...,
                 pulses: Iterable[tuple[float, float]] = ...,
                 data_form: Union[int, str, DataForm] = ..., echo: bool = ...,
                 least_squares_line: bool = ..., listing: Union[int, str, Listing] = ...) -> None: ...
    @classmethod
    def from_deck(cls, text: str) -> Problem: ...
    def to_deck(self) -> str: ...
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
             threads: int = ...) -> np.ndarray: ...

class ProgressLine(NamedTuple):
    iteration: int
    ssq: float
    coefficients: np.ndarray
    text: str

class Statistics:
    names: list[str]
    values: np.ndarray
    std_error: np.ndarray
    ci_lower: np.ndarray
    ci_upper: np.ndarray
    covariance: np.ndarray
    correlation: np.ndarray
    jacobian: np.ndarray
    steps: np.ndarray
    calculated: np.ndarray
    n: int
    p: int
    dof: int
    ssq: float
    s2: float
    rmse: float
    r2: float
    t_quantile: float
    confidence: float
    message: str

class FitResult:
    problem: Problem
    coefficients: np.ndarray
    ssq: float
    iterations: int
    progress: np.ndarray
    calculated: np.ndarray
    @property
    def names(self) -> list[str]: ...
    @property
    def observed(self) -> np.ndarray: ...
    @property
    def residuals(self) -> np.ndarray: ...
    def as_dict(self) -> dict[str, float]: ...
    def report(self) -> str: ...
    def statistics(self, confidence: float = ...) -> Statistics: ...
    def plot(self, ax: Any = ..., points: int = ...) -> Any: ...

def fit(problem: Union[Problem, DeckPath], threads: int | None = ...,
        progress: Callable[[ProgressLine], object] | None = ...) -> FitResult: ...

def fit_many(problems: Iterable[Union[Problem, DeckPath]],
             executor: concurrent.futures.Executor | None = ...,
             threads_per_fit: int = ...,
             progress: Union[bool, Callable[[int], object]] = ...
             ) -> list[Union[FitResult, BaseException]]: ...
