#!/usr/bin/env python3
"""Writes accurate_erfcx_coefficients.hpp: Chebyshev series of the scaled
complementary error function erfcx(x) = exp(x^2) erfc(x), computed with
mpmath at 40 digits and written in power form (coefficients of u^k on the
interval's variable u in [-1, 1]), which sums faster than the recurrence of
the Chebyshev form.

  [0, 8): 16 intervals of width 1/2, erfcx itself, degree 14 on each;
  [8, inf): x sqrt(pi) erfcx(x) as a function of s = 64/x^2 on (0, 1],
            degree 11.

Each series is truncated where the neglected coefficients are below 1e-18
of the function's value; the script checks the truncated series against
mpmath on a dense grid and stops if any relative error exceeds 1.5e-17
(before rounding the coefficients to double).

    python3 models/accurate_erfcx_coefficients.py > models/accurate_erfcx_coefficients.hpp
"""
import mpmath as mp

from accurate_series_fit import check, chebyshev, monomial

mp.mp.dps = 40

NODES = 48

NEAR_DEGREE = 14
TAIL_DEGREE = 11
WIDTH = mp.mpf(1) / 2
INTERVALS = 16


def erfcx(x):
    return mp.exp(x * x) * mp.erfc(x)


def tail(s):
    if s == 0:
        return mp.mpf(1)
    x = 8 / mp.sqrt(s)
    return x * mp.sqrt(mp.pi) * erfcx(x)


def main():
    near = []
    worst = mp.mpf(0)
    for i in range(INTERVALS):
        a, b = i * WIDTH, (i + 1) * WIDTH
        c = chebyshev(erfcx, a, b, NEAR_DEGREE, NODES)
        worst = max(worst, check(erfcx, c, a, b))
        near.append(c)
    t = chebyshev(tail, mp.mpf(0), mp.mpf(1), TAIL_DEGREE, NODES)
    worst = max(worst, check(tail, t, mp.mpf(0), mp.mpf(1)))
    out = []
    out.append("// erfcx(x) = exp(x^2) erfc(x) as polynomials (Chebyshev series in power")
    out.append("// form); written by accurate_erfcx_coefficients.py (mpmath, 40 digits).")
    out.append(f"// Largest relative error of the series before rounding: {mp.nstr(worst, 2)}.")
    out.append("#pragma once")
    out.append("")
    out.append("namespace btcfit::accurate_detail {")
    out.append("")
    out.append(f"inline constexpr int kErfcxIntervals = {INTERVALS};  // of width 1/2 on [0, 8)")
    out.append(f"inline constexpr int kErfcxNearTerms = {NEAR_DEGREE + 1};")
    out.append(f"inline constexpr int kErfcxTailTerms = {TAIL_DEGREE + 1};")
    out.append("")
    out.append("// Interval i, [i/2, (i+1)/2): erfcx(x) = sum_k c[i][k] u^k, u = 4x - 2i - 1.")
    out.append("inline constexpr double kErfcxNear[kErfcxIntervals][kErfcxNearTerms] = {")
    for c in near:
        out.append("    {" + ", ".join(repr(float(x)) for x in monomial(c)) + "},")
    out.append("};")
    out.append("")
    out.append("// x >= 8: x sqrt(pi) erfcx(x) = sum_k c[k] u^k, u = 2s - 1, s = 64/x^2.")
    out.append("inline constexpr double kErfcxTail[kErfcxTailTerms] = {")
    out.append("    " + ", ".join(repr(float(x)) for x in monomial(t)) + "};")
    out.append("")
    out.append("}  // namespace btcfit::accurate_detail")
    print("\n".join(out))


main()
