#!/usr/bin/env python3
"""Fits the equilibrium model to a breakthrough curve given as arrays,
prints the fit statistics and saves a plot.

    PYTHONPATH=build/python /usr/bin/python3 examples/fit_column.py [plot.png]

The data are a flux-concentration breakthrough curve at the outlet of a
30 cm column after a pulse of 2 days, as reduced concentrations.
"""
import sys

import numpy as np

import btcfit

time = np.array([0.5, 1.0, 1.25, 1.5, 1.75, 2.0, 2.25, 2.5, 2.75, 3.0,
                 3.25, 3.5, 3.75, 4.0, 4.5, 5.0])
concentration = np.array([0.0035, 0.0221, 0.0800, 0.1958, 0.3931, 0.5638, 0.7004, 0.8197,
                          0.8902, 0.9229, 0.8858, 0.7755, 0.5969, 0.4327, 0.1795, 0.0717])

problem = btcfit.Problem(
    model="equilibrium_flux",
    coefficients=[
        btcfit.Coefficient("V", 20.0, 1.0, 100.0, vary=True),   # cm/day
        btcfit.Coefficient("D", 20.0, 0.1, 200.0, vary=True),   # cm²/day
        # Flux concentrations at one distance fix only V/R and D/R: R is
        # known from a batch test and kept.
        btcfit.Coefficient("R", 1.2),
        btcfit.Coefficient("T0", 2.0),                           # pulse of 2 days
        btcfit.Coefficient("MU", 0.0),
        btcfit.Coefficient("GAMMA", 0.0),
    ],
    concentration=concentration, distance=np.full_like(time, 30.0), time=time,
    input_concentration=1.0, data_form="reduced_concentration")

# Every 20th line of the progress table as the search goes.
result = btcfit.fit(problem, progress=lambda line: line.iteration % 20 or print(line))
print(result)
print(result.statistics())

output = sys.argv[1] if len(sys.argv) > 1 else "fit_column.png"
try:
    result.plot().savefig(output, dpi=120)
    print("plot saved to", output)
except ImportError as e:
    print(e)
