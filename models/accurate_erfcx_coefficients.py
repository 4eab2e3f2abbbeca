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

mp.mp.dps = 40

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


def chebyshev(f, a, b, degree, nodes=48):
    xs = [mp.cos(mp.pi * (k + mp.mpf(1) / 2) / nodes) for k in range(nodes)]
    fs = [f((b - a) / 2 * x + (a + b) / 2) for x in xs]
    c = []
    for j in range(degree + 1):
        s = mp.fsum(fs[k] * mp.cos(mp.pi * j * (k + mp.mpf(1) / 2) / nodes) for k in range(nodes))
        c.append(2 * s / nodes)
    c[0] /= 2
    return c


def clenshaw(c, u):
    b1 = b2 = mp.mpf(0)
    for ck in reversed(c[1:]):
        b1, b2 = 2 * u * b1 - b2 + ck, b1
    return u * b1 - b2 + c[0]


def monomial(c):
    """The coefficients in powers of u of sum_k c[k] T_k(u)."""
    n = len(c)
    T = [[mp.mpf(1)] + [mp.mpf(0)] * (n - 1), [mp.mpf(0), mp.mpf(1)] + [mp.mpf(0)] * (n - 2)]
    for k in range(2, n):
        T.append([2 * (T[k - 1][j - 1] if j > 0 else 0) - T[k - 2][j] for j in range(n)])
    return [mp.fsum(c[k] * T[k][j] for k in range(n)) for j in range(n)]


def power_sum(a, u):
    return mp.fsum(a[j] * u ** j for j in range(len(a)))


def check(f, c, a, b):
    worst = mp.mpf(0)
    for i in range(401):
        x = a + (b - a) * i / 400
        u = (2 * x - a - b) / (b - a)
        worst = max(worst, abs(clenshaw(c, u) / f(x) - 1))
    if worst > 1.5e-17:
        raise SystemExit(f"series on [{a}, {b}] off by {worst}")
    # The power form with coefficients rounded to double: the rounding of
    # the coefficients moves a value by at most sum |a_j| / |f| times 2^-53,
    # which must stay below 4 units in the last place.
    m = [mp.mpf(float(x)) for x in monomial(c)]
    growth = mp.mpf(0)
    for i in range(401):
        x = a + (b - a) * mp.mpf(i) / 400
        u = (2 * x - a - b) / (b - a)
        growth = max(growth, mp.fsum(abs(m[j] * u ** j) for j in range(len(m))) / abs(f(x)))
    if growth > 4:
        raise SystemExit(f"power form on [{a}, {b}] loses digits: {growth}")
    return worst


def main():
    near = []
    worst = mp.mpf(0)
    for i in range(INTERVALS):
        a, b = i * WIDTH, (i + 1) * WIDTH
        c = chebyshev(erfcx, a, b, NEAR_DEGREE)
        worst = max(worst, check(erfcx, c, a, b))
        near.append(c)
    t = chebyshev(tail, mp.mpf(0), mp.mpf(1), TAIL_DEGREE)
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
