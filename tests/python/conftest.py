import os
import pathlib
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
GOLDEN = ROOT / "tests" / "data" / "golden"
# The package from the build folder unless PYTHONPATH already names one.
BUILD = (ROOT / os.environ.get("BTCFIT_BUILD", "build")).resolve()
if not any(any((pathlib.Path(p) / "btcfit").glob("_btcfit*")) for p in sys.path if p):
    sys.path.insert(0, str(BUILD / "python"))

import btcfit  # noqa: E402


def golden_decks(status=None):
    """Names of the reference decks, those that end with `status` when given."""
    names = sorted(d.name for d in GOLDEN.iterdir() if (d / "deck").is_file())
    if status is None:
        return names
    return [n for n in names if int((GOLDEN / n / "status").read_text()) == status]


def golden_report(name):
    return (GOLDEN / name / "report.out").read_bytes().decode("ascii")


@pytest.fixture(scope="session")
def golden_fits():
    """Every reference deck that fits, read and fitted once: name -> FitResult."""
    return {n: btcfit.fit(btcfit.read_deck(GOLDEN / n / "deck")) for n in golden_decks(0)}
