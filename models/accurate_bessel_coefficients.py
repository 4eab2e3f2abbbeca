#!/usr/bin/env python3
"""Writes accurate_bessel_coefficients.hpp: Chebyshev series of
exp(-x) I0(x) and exp(-x) I1(x) / x (modified Bessel functions of the first
kind), computed with mpmath at 40 digits and written in power form (coefficients
of u^k on the interval's variable u in [-1, 1]).

  [0, 20): 20 intervals of width 1, the two functions themselves, degree 16;
  [20, inf): sqrt(x) exp(-x) I0(x) and sqrt(x) exp(-x) I1(x) as functions
             of s = 20/x on (0, 1], degree 10 (both tend to 1/sqrt(2 pi)).

The script checks every truncated series against mpmath on a dense grid
and stops if a relative error exceeds 1.5e-17 (before rounding to double).

    python3 models/accurate_bessel_coefficients.py > models/accurate_bessel_coefficients.hpp
"""
import mpmath as mp

from accurate_series_fit import check, chebyshev, monomial

mp.mp.dps = 40

NODES = 60

NEAR_DEGREE = 16
TAIL_DEGREE = 10
WIDTH = 1
INTERVALS = 20
SWITCH = 20


def i0(x):
    return mp.exp(-x) * mp.besseli(0, x)


def i1x(x):
    return mp.exp(-x) * mp.besseli(1, x) / x if x != 0 else mp.mpf(1) / 2


def tail0(s):
    if s == 0:
        return 1 / mp.sqrt(2 * mp.pi)
    x = SWITCH / s
    return mp.sqrt(x) * i0(x)


def tail1(s):
    if s == 0:
        return 1 / mp.sqrt(2 * mp.pi)
    x = SWITCH / s
    return mp.sqrt(x) * x * i1x(x)


def table(name, rows):
    lines = [f"inline constexpr double {name} = {{"]
    for c in rows:
        lines.append("    {" + ", ".join(repr(float(x)) for x in monomial(c)) + "},")
    lines.append("};")
    return lines


def main():
    worst = mp.mpf(0)
    near0, near1 = [], []
    for i in range(INTERVALS):
        a, b = mp.mpf(i * WIDTH), mp.mpf((i + 1) * WIDTH)
        c0 = chebyshev(i0, a, b, NEAR_DEGREE, NODES)
        c1 = chebyshev(i1x, a, b, NEAR_DEGREE, NODES)
        worst = max(worst, check(i0, c0, a, b), check(i1x, c1, a, b))
        near0.append(c0)
        near1.append(c1)
    t0 = chebyshev(tail0, mp.mpf(0), mp.mpf(1), TAIL_DEGREE, NODES)
    t1 = chebyshev(tail1, mp.mpf(0), mp.mpf(1), TAIL_DEGREE, NODES)
    worst = max(worst, check(tail0, t0, mp.mpf(0), mp.mpf(1)),
                check(tail1, t1, mp.mpf(0), mp.mpf(1)))
    out = ["// exp(-x) I0(x) and exp(-x) I1(x) / x as polynomials (Chebyshev series in",
           "// power form); written by accurate_bessel_coefficients.py (mpmath, 40 digits).",
           f"// Largest relative error of the series before rounding: {mp.nstr(worst, 2)}.",
           "#pragma once", "", "namespace btcfit::accurate_detail {", "",
           f"inline constexpr int kBesselIntervals = {INTERVALS};  // of width {WIDTH} on [0, {SWITCH})",
           f"inline constexpr double kBesselSwitch = {SWITCH};",
           f"inline constexpr int kBesselNearTerms = {NEAR_DEGREE + 1};",
           f"inline constexpr int kBesselTailTerms = {TAIL_DEGREE + 1};", "",
           f"// Interval i, [{WIDTH}i, {WIDTH}(i+1)): sum_k c[i][k] u^k, u = (2x - {WIDTH}(2i + 1)) / {WIDTH}.",
           *table("kBesselI0Near[kBesselIntervals][kBesselNearTerms]", near0), "",
           *table("kBesselI1Near[kBesselIntervals][kBesselNearTerms]", near1), "",
           f"// x >= {SWITCH}: sqrt(x) exp(-x) I0(x) and sqrt(x) exp(-x) I1(x) as",
           f"// sum_k c[k] u^k, u = 2s - 1, s = {SWITCH}/x.",
           *table("kBesselTail[2][kBesselTailTerms]", [t0, t1]), "",
           "}  // namespace btcfit::accurate_detail"]
    print("\n".join(out))


main()
