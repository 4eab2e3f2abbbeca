#!/bin/sh
# Runs the Python package's pytest suite for CTest:
#   run_pytest.sh PYTHON BUILD_DIR
# Exit 77 (CTest: skipped) with the reason when the package is not built in
# BUILD_DIR/python or pytest is missing; otherwise pytest's own status, so
# that a run collecting no test (status 5) fails.
python=$1
build=$2
tests=$(dirname "$0")
if ! ls "$build"/python/btcfit/_btcfit*.so >/dev/null 2>&1; then
  echo "SKIPPED: the Python package btcfit is not built in $build/python" \
       "(it needs Python 3's headers, pybind11 and the analysis library: run .ci/install-deps)"
  exit 77
fi
if ! "$python" -c "import pytest" >/dev/null 2>&1; then
  echo "SKIPPED: pytest is not installed for $python (Debian package python3-pytest)"
  exit 77
fi
PYTHONPATH="$build/python" BTCFIT_BUILD="$build" exec "$python" -m pytest -q -p no:cacheprovider "$tests"
