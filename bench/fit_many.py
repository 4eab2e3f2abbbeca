#!/usr/bin/env python3
"""Throughput of many fits on this machine: eight fits of a slow reference
deck (default nonequilibrium-flux) three ways:

  many     btcfit.fit_many, one thread per fit, fits side by side
  serial1  one fit after another, one thread each
  serial2  one fit after another, every core on each fit

    PYTHONPATH=build/python /usr/bin/python3 bench/fit_many.py [DECK] [FITS]

Prints the wall times and the ratios many/serial1 and many/serial2 (the
fewer seconds per fit, the better; on two cores the aim is <= 0.55), and
checks that every fit gives the same report.
"""
import pathlib
import sys
import time

import btcfit

root = pathlib.Path(__file__).resolve().parents[1]
deck = sys.argv[1] if len(sys.argv) > 1 else root / "tests/data/golden/nonequilibrium-flux/deck"
count = int(sys.argv[2]) if len(sys.argv) > 2 else 8
problem = btcfit.read_deck(deck)
cores = btcfit.usable_threads()


def timed(f):
    start = time.perf_counter()
    results = f()
    return time.perf_counter() - start, results


many, r1 = timed(lambda: btcfit.fit_many([problem] * count, threads_per_fit=1, progress=False))
serial1, r2 = timed(lambda: [btcfit.fit(problem, threads=1) for _ in range(count)])
serial2, r3 = timed(lambda: [btcfit.fit(problem, threads=cores) for _ in range(count)])
reports = {r.report() for r in r1 + r2 + r3}
assert len(reports) == 1, "fits differ"

print(f"{count} fits of {deck} on {cores} usable cores")
print(f"  fit_many, 1 thread per fit:        {many:7.2f} s")
print(f"  one after another, 1 thread:       {serial1:7.2f} s   many/serial1 = {many / serial1:.2f}")
print(f"  one after another, {cores} threads:      {serial2:7.2f} s   many/serial2 = {many / serial2:.2f}")
