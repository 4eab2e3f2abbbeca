#!/usr/bin/env python3
"""From a CSV file of breakthrough data to a comparison of an equilibrium
and a nonequilibrium fit, with profile intervals and a figure.

    PYTHONPATH=build/python /usr/bin/python3 examples/csv_to_comparison.py \
        [--csv examples/column.csv] [--numerics legacy|accurate] figure.png

The CSV holds the columns depth_cm, time_h and concentration (reduced,
C/C0, of a step input). Both models are fitted with the global method (a
multistart of least-squares descents: the best fit for your own data),
then compared by AICc weights and the F test of the nested pair, and each
varied coefficient gets its profile-likelihood interval beside the
linearized one. The figure shows both fits with their residuals.
"""
import argparse
import pathlib

import numpy as np

import btcfit

HERE = pathlib.Path(__file__).resolve().parent


def read_csv(path):
    try:
        import pandas
    except ImportError:
        data = np.genfromtxt(path, delimiter=",", names=True)
        return {name: data[name] for name in data.dtype.names}
    return pandas.read_csv(path)


def problems(data):
    """The two models for the same observations. Units: cm and hours; the
    bounds are wide, the initial values rough guesses. Flux concentrations
    fix only V/R and D/R, so the pore-water velocity V, known from the
    flow rate and the water content, is kept at 12 cm/h."""
    observations = dict(concentration=data["concentration"], distance=data["depth_cm"],
                        time=data["time_h"], data_form="reduced_concentration")
    C = btcfit.Coefficient
    equilibrium = btcfit.Problem(
        model="equilibrium_flux",
        coefficients={"V": 12.0, "D": C("D", 10.0, 0.1, 500.0, True),
                      "R": C("R", 1.5, 1.0, 10.0, True)},
        **observations)
    nonequilibrium = btcfit.Problem(
        model="nonequilibrium_flux",
        coefficients={"V": 12.0, "D": C("D", 10.0, 0.1, 500.0, True),
                      "R": C("R", 1.5, 1.0, 10.0, True), "BETA": C("BETA", 0.5, 0.05, 1.0, True),
                      "OMEGA": C("OMEGA", 1.0, 0.01, 50.0, True)},
        **observations)
    return {"equilibrium": equilibrium, "two-site": nonequilibrium}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("figure", help="where to save the figure (PNG, PDF, SVG ...)")
    parser.add_argument("--csv", default=HERE / "column.csv", help="the data (default: %(default)s)")
    parser.add_argument("--numerics", choices=["legacy", "accurate"], default=None,
                        help="numerics of the model calls (default: the library's, accurate)")
    args = parser.parse_args()

    data = read_csv(args.csv)
    fits = {}
    for label, problem in problems(data).items():
        fits[label] = btcfit.fit(problem, method="global", numerics=args.numerics, seed=1)
        r = fits[label]
        print(f"{label}: SSQ = {r.ssq:.6g} after {r.evaluations} model evaluations "
              f"({r.termination}); " + ", ".join(
                  f"{n} = {v:.4g}" for n, v, vary in zip(r.names, r.coefficients, r.varied)
                  if vary))

    print("\nComparison (AICc weights; F test of the extra coefficients):")
    table = btcfit.compare(fits)
    if hasattr(table, "to_string"):  # a pandas DataFrame
        columns = ["model", "p", "ssq", "aicc", "delta_aicc", "weight", "nested_in", "f",
                   "p_value"]
        print(table[columns].to_string(float_format="{:.4g}".format))
    else:
        print(table)

    for label, r in fits.items():
        print(f"\n{label}: 95 % profile intervals (the others refined) and linearized ones")
        print(r.profiles())

    from matplotlib.figure import Figure
    figure = Figure(figsize=(14, 6.2), layout="constrained")
    for sub, (label, r) in zip(figure.subfigures(1, 2), fits.items()):
        r.plot(figure=sub, units=("cm", "h"))
    figure.savefig(args.figure, dpi=110)
    print(f"\nfigure saved to {args.figure}")


if __name__ == "__main__":
    main()
