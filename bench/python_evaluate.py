#!/usr/bin/env python3
"""btcfit.evaluate of the equilibrium model (flux concentrations, one pulse,
no decay or production) on 10^6 points against the same closed form written
with NumPy and scipy.special.erfc, on one and on two threads.

    PYTHONPATH=build/python /usr/bin/python3 bench/python_evaluate.py [POINTS] [RUNS]

Prints the best time of RUNS runs of each, the time per point and the ratio
NumPy / btcfit (above 1: btcfit is faster), and checks that both give the
same curve (the engine's exp(A)·erfc(B) is an approximation good to
about 1e-4 where the two erfc terms nearly cancel, so the values agree to
that and not to the last bit).
"""
import sys
import threading
import time

import numpy as np
from scipy.special import erfc

import btcfit

POINTS = int(sys.argv[1]) if len(sys.argv) > 1 else 1_000_000
RUNS = int(sys.argv[2]) if len(sys.argv) > 2 else 9

V, D, R, T0, C0 = 25.0, 30.0, 1.5, 2.0, 1.0
problem = btcfit.Problem(
    model="equilibrium_flux",
    coefficients=[("V", V), ("D", D), ("R", R), ("T0", T0), ("MU", 0.0), ("GAMMA", 0.0)],
    input_concentration=C0)

rng = np.random.default_rng(17)
x = rng.uniform(5.0, 50.0, POINTS)
t = rng.uniform(0.1, 10.0, POINTS)


def step(x, tau, v, d):
    """Flux step response: 1/2 erfc((x - v tau)/(2 sqrt(d tau)))
    + 1/2 exp(v x/d) erfc((x + v tau)/(2 sqrt(d tau))); 0 for tau <= 0."""
    on = tau > 0
    tau = np.where(on, tau, 1.0)
    s = np.sqrt(4.0 * d * tau)
    a = 0.5 * erfc((x - v * tau) / s) + 0.5 * np.exp(v * x / d) * erfc((x + v * tau) / s)
    return np.where(on, a, 0.0)


def numpy_pulse(x, t):
    # The transport parameters divided by the retardation factor.
    v, d = V / R, D / R
    return C0 * (step(x, t, v, d) - step(x, t - T0, v, d))


def numpy_two_threads(x, t):
    out = np.empty_like(x)
    half = len(x) // 2
    parts = [slice(0, half), slice(half, None)]

    def work(s):
        out[s] = numpy_pulse(x[s], t[s])
    threads = [threading.Thread(target=work, args=(s,)) for s in parts]
    for th in threads:
        th.start()
    for th in threads:
        th.join()
    return out


def best_of_turns(f, g):
    """Best times of f and g over RUNS runs that take turns, so that both
    see the machine in the same minutes."""
    tf, tg = [], []
    for _ in range(RUNS):
        for f_or_g, times in ((f, tf), (g, tg)):
            start = time.perf_counter()
            f_or_g()
            times.append(time.perf_counter() - start)
    return min(tf), min(tg)


reference = numpy_pulse(x, t)
ours = btcfit.evaluate(problem, distance=x, time=t)
worst = np.max(np.abs(ours - reference))
assert worst < 1e-3, worst

print(f"{POINTS} points, equilibrium flux model, best of {RUNS} runs")
print(f"{'threads':>7} {'btcfit s':>10} {'NumPy s':>10} {'btcfit ns/pt':>13} "
      f"{'NumPy ns/pt':>12} {'NumPy/btcfit':>13}")
for threads in (1, 2):
    ours, theirs = best_of_turns(
        lambda: btcfit.evaluate(problem, distance=x, time=t, threads=threads),
        lambda: numpy_pulse(x, t) if threads == 1 else numpy_two_threads(x, t))
    print(f"{threads:>7} {ours:>10.4f} {theirs:>10.4f} {ours / POINTS * 1e9:>13.1f} "
          f"{theirs / POINTS * 1e9:>12.1f} {theirs / ours:>13.2f}")
print(f"largest difference of the values: {worst:.2e}")
