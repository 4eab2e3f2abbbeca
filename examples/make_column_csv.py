#!/usr/bin/env python3
"""Writes examples/column.csv, the breakthrough data of
csv_to_comparison.py: a known truth with seeded noise.

    PYTHONPATH=build/python /usr/bin/python3 examples/make_column_csv.py [column.csv]

The truth is the two-site nonequilibrium model for flux concentrations
(model 4) of a step input at two depths of a column, in cm and hours:
V = 12 cm/h, D = 18 cm²/h, R = 2.2, BETA = 0.45, OMEGA = 0.8, computed
with the accurate numerics; then normal noise of standard deviation 0.01
(NumPy's default generator, seed 20261209), written with 4 decimals.
"""
import sys

import numpy as np

import btcfit

TRUTH = {"V": 12.0, "D": 18.0, "R": 2.2, "BETA": 0.45, "OMEGA": 0.8}
DEPTHS = (15.0, 30.0)
TIMES = np.round(np.linspace(0.5, 12.0, 24), 3)


def main(path):
    truth = btcfit.Problem(model="nonequilibrium_flux", coefficients=TRUTH,
                           concentration=[0.0], distance=[DEPTHS[-1]], time=[1.0])
    x = np.repeat(DEPTHS, len(TIMES))
    t = np.tile(TIMES, len(DEPTHS))
    c = btcfit.evaluate(truth, distance=x, time=t, numerics="accurate")
    noisy = c + np.random.default_rng(20261209).normal(0.0, 0.01, size=c.shape)
    with open(path, "w") as out:
        out.write("depth_cm,time_h,concentration\n")
        for row in zip(x, t, noisy):
            out.write(f"{row[0]:g},{row[1]:g},{row[2]:.4f}\n")


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "examples/column.csv")
