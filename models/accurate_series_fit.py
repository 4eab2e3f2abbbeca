"""The series work shared by the coefficient scripts of the accurate models
(accurate_erfcx_coefficients.py, accurate_bessel_coefficients.py):
Chebyshev series by mpmath, their power form, and the check of both against
the function (relative error 1.5e-17 before rounding; the power form's
rounding to double within 4 units in the last place).
"""
import mpmath as mp


def chebyshev(f, a, b, degree, nodes):
    """Chebyshev coefficients of f on [a, b] up to `degree`, from `nodes`
    Chebyshev nodes."""
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
        x = a + (b - a) * mp.mpf(i) / 400
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
