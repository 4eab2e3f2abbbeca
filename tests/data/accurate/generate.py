#!/usr/bin/env python3
"""Reference concentrations of the eight model codes at 30 significant digits.

Writes reference.csv beside this script (run from anywhere; takes a few
minutes on one core):

    python3 tests/data/accurate/generate.py

Independent of the program's C++ evaluation:
  * codes 1, 2 (and every stream tube of codes 5 to 8): the closed-form
    solutions evaluated directly with mpmath's exp and erfc at 30 digits;
  * codes 3, 4: the two-site model solved in the Laplace domain (the
    transformed equations have a closed-form solution) and inverted
    numerically with mpmath's Talbot method at 30 digits;
  * codes 5 to 8: the log-normal average over stream-tube velocities by
    mpmath's tanh-sinh quadrature, split at the velocities whose front
    reaches the observation.
The pulse superposition (several pulses, solute loads, the initial
concentration with the first pulse only), decay, production and the
reduced form are written out again here from the model description.

Each row: the model code, the data form IRED, the coefficients b1..b7
(b7 empty below code 5), CI, C0, XMAX, the pulse table (NPULSE, then
TPULSE(1..NPULSE+1) and CPULSE(1..NPULSE) separated by ';'), the distance
x and time t as the observation table holds them (t in reduced time when
IRED = 2), and the model value c in the form the model returns it
(reduced when IRED is 1 or 2), to 20 significant digits.
"""
import csv
import os
import random

import mpmath as mp

mp.mp.dps = 30
HERE = os.path.dirname(os.path.abspath(__file__))


# ---------------------------------------------------------------- closed forms
def eq_step(v, D, x, t, flux):
    """Step response A(t) of the equilibrium solution (no decay, production)."""
    s = mp.sqrt(4 * D * t)
    A1 = (x - v * t) / s
    A2 = (x + v * t) / s
    E1 = mp.erfc(A1)
    E2 = mp.exp(v * x / D) * mp.erfc(A2)
    if flux:
        return E1 / 2 + E2 / 2
    E3 = mp.exp(-A1 * A1)
    return E1 / 2 + mp.sqrt(v * v * t / (mp.pi * D)) * E3 - (1 + v * x / D + v * v * t / D) * E2 / 2


def eq_decay_step(v, D, mu, x, t, flux):
    s = mp.sqrt(4 * D * t)
    w = mp.sqrt(v * v + 4 * mu * D)
    em = mp.exp((v - w) * x / (2 * D)) * mp.erfc((x - w * t) / s)
    ep = mp.exp((v + w) * x / (2 * D)) * mp.erfc((x + w * t) / s)
    if flux:
        return em / 2 + ep / 2
    e3 = mp.exp(v * x / D - mu * t) * mp.erfc((x + v * t) / s)
    return v / (v + w) * em + v / (v - w) * ep + v * v / (2 * mu * D) * e3


def eq_pulse(v, D, T0, CI, C0, mu, gamma, flux, x, t):
    """One rectangular pulse of duration T0 started at time 0, time t."""
    if t <= 0:
        return mp.mpf(0)
    if mu == 0:
        A = eq_step(v, D, x, t, flux)
        G = mp.mpf(0)
        if gamma != 0:
            s = mp.sqrt(4 * D * t)
            A1 = (x - v * t) / s
            A2 = (x + v * t) / s
            E1 = mp.erfc(A1)
            E2 = mp.exp(v * x / D) * mp.erfc(A2)
            if flux:
                G = gamma * (t + (x - v * t) / (2 * v) * E1 - (x + v * t) / (2 * v) * E2)
            else:
                E3 = mp.exp(-A1 * A1)
                G = gamma * (t + (x - v * t + D / v) / (2 * v) * E1
                             - mp.sqrt(t / (4 * mp.pi * D)) * (x + v * t + 2 * D / v) * E3
                             + ((x + v * t) ** 2 / (4 * D) + t / 2 - D / (2 * v * v)) * E2)
        y = CI + (C0 - CI) * A + G
        if t - T0 > 0:
            y -= C0 * eq_step(v, D, x, t - T0, flux)
        return y
    Ginf = gamma / mu
    A = eq_step(v, D, x, t, flux)
    B = (1 - A) * mp.exp(-mu * t)
    y = Ginf + (CI - Ginf) * B + (C0 - Ginf) * eq_decay_step(v, D, mu, x, t, flux)
    if t - T0 > 0:
        y -= C0 * eq_decay_step(v, D, mu, x, t - T0, flux)
    return y


# ----------------------------------------------------------- two-site model
def two_site_step(P, R, beta, omega, Z, theta, flux):
    """Step response in pore volumes theta, by Laplace inversion.

    beta R dc1/dT + (1-beta) R dc2/dT = (1/P) c1'' - c1',
    (1-beta) R dc2/dT = omega (c1 - c2): c2 = omega c1 / ((1-beta) R s + omega),
    c1 = a exp(lambda Z), lambda = P/2 (1 - sqrt(1 + 4 q / P)),
    q = beta R s + omega (1-beta) R s / ((1-beta) R s + omega); the flux
    concentration has the inlet value 1/s, the resident one the third-type
    inlet condition c1 - c1'/P = 1/s.
    """
    P, R, beta, omega, Z = (mp.mpf(a) for a in (P, R, beta, omega, Z))

    def F(s):
        q = beta * R * s + omega * (1 - beta) * R * s / ((1 - beta) * R * s + omega)
        lam = P / 2 * (1 - mp.sqrt(1 + 4 * q / P))
        if flux:
            return mp.exp(lam * Z) / s
        return mp.exp(lam * Z) / (s * (1 - lam / P))

    return mp.invertlaplace(F, mp.mpf(theta), method='talbot')


# ---------------------------------------------------------------- the models
def model(row):
    """The model value of one row, as the model dispatcher defines it."""
    code, ired = row['code'], row['ired']
    b = [None] + [mp.mpf(x) if x is not None else None for x in row['b']]
    CI, C0, XMAX = mp.mpf(row['CI']), mp.mpf(row['C0']), mp.mpf(row['XMAX'])
    npulse, tp, cp = row['npulse'], [None] + [mp.mpf(x) for x in row['tpulse']], \
        [None] + [mp.mpf(x) for x in row['cpulse']]
    x = mp.mpf(row['x'])
    fact = XMAX / b[1] if ired == 2 else mp.mpf(1)
    t = fact * mp.mpf(row['t'])
    R = b[3]
    flux = code % 2 == 0
    if code <= 4:
        tpul0 = fact * b[4]

        def pulse(ci, c0, tpul, tau):
            if code <= 2:
                return eq_pulse(b[1] / R, b[2] / R, tpul, ci, c0, b[5] / R, b[6] / R, flux, x, tau)
            V, L = b[1], XMAX
            P = L * V / b[2]
            beta = min(b[5], mp.mpf('0.9999'))
            Z = x / L
            if Z <= 0:
                if flux:
                    return c0 if tau <= tpul else mp.mpf(0)
                Z = mp.mpf('1e-10')
            TT, TT0 = V * tau / L, tpul * V / L
            if TT <= 0:
                return mp.mpf(0)
            y = ci + (c0 - ci) * two_site_step(P, R, beta, b[6], Z, TT, flux)
            if TT - TT0 > 0:
                y -= c0 * two_site_step(P, R, beta, b[6], Z, TT - TT0, flux)
            return y

        c = mp.mpf(0)
        ci, c0, tpul = CI, C0, tpul0
        for i in range(1, npulse + 1):
            if npulse != 1:
                c0 = cp[i]
                if i == 2:
                    ci = mp.mpf(0)
                if c0 == 0 and i > 1:
                    continue
                tpul = tp[i + 1] - tp[i]
            tau = t - tp[i]
            if tau < 0:
                break
            c += pulse(ci, c0, tpul, tau)
    else:
        alpha, mu, gamma, sigma = b[2], b[5] / R, b[6] / R, b[7]
        m = mp.log(b[1]) - sigma * sigma / 2
        loads = code >= 7
        c0_start = cp[1] if (npulse > 1 and not loads) else C0
        tmload = b[4] / C0

        def tube(v):
            ci, c0 = CI, c0_start
            tpul = tmload / v if loads else fact * b[4]
            total = mp.mpf(0)
            for j in range(1, npulse + 1):
                if npulse != 1:
                    if j == 2:
                        ci = mp.mpf(0)
                    if not loads:
                        c0 = cp[j]
                        if c0 == 0 and j > 1:
                            continue
                        tpul = tp[j + 1] - tp[j]
                    else:
                        tpul = cp[j] / (C0 * v)
                theta = t - tp[j]
                if theta <= 0:
                    break
                total += eq_pulse(v / R, alpha * v / R, tpul, ci, c0, mu, gamma, flux, x, theta)
            return total

        centre = sigma if flux else mp.mpf(0)

        def f(z):
            v = mp.exp(m + sigma * z)
            return tube(v) * mp.exp(-(z - centre) ** 2 / 2) / mp.sqrt(2 * mp.pi)

        # Split where a tube front reaches x at time t.
        cuts = set()
        for j in range(1, npulse + 1):
            tj = t - tp[j]
            if tj <= 0:
                break
            fronts = [R * x / tj]
            if loads:
                mass = cp[j] / C0 if npulse != 1 else tmload
                fronts.append((R * x + mass) / tj)
                # where the load ends by time t: smooth, but not analytic
                fronts.append(mass / tj)
            else:
                T0 = tp[j + 1] - tp[j] if npulse != 1 else fact * b[4]
                if tj - T0 > 0:
                    fronts.append(R * x / (tj - T0))
            for vf in fronts:
                z = (mp.log(vf) - m) / sigma
                if centre - 14 < z < centre + 14:
                    cuts.add(z)
        # Pieces of at most one standard deviation, so that every piece is
        # smooth on its own scale; the quadrature's error estimate is checked.
        pts = [centre - 14]
        for z in sorted(cuts) + [centre + 14]:
            while z - pts[-1] > 1:
                pts.append(pts[-1] + 1)
            if z > pts[-1]:
                pts.append(z)
        c, err = mp.quad(f, pts, error=True)
        if err > mp.mpf('1e-22'):
            raise SystemExit(f'stream-tube quadrature error {err} in row {row}')
    if ired != 0:
        c = (c - CI) / (C0 - CI)
    return c


# ------------------------------------------------------------------ the rows
def loguniform(rng, lo, hi):
    return float(mp.exp(rng.uniform(float(mp.log(lo)), float(mp.log(hi)))))


def rows():
    rng = random.Random(20261209)
    out = []
    for code in range(1, 9):
        for k in range(56):
            pe = loguniform(rng, 1, 200)
            V = round(rng.uniform(0.5, 5), 3)
            XMAX = rng.choice([1.0, 10.0, 30.0])
            x = XMAX * rng.choice([0.3, 0.6, 1.0])
            R = round(rng.uniform(1, 5), 3)
            ired = 1
            CI, C0 = 0.0, 1.0
            b5 = b6 = 0.0
            b7 = None
            pulse = k % 2 == 0  # even rows: a pulse; odd rows: a step
            p0 = rng.uniform(0.2, 2.0)  # pulse length in pore volumes
            if code <= 4:
                D = round(V * XMAX / pe, 6)
                b2 = D
                b4 = p0 * XMAX / V if pulse else 1e4 * XMAX / V
            else:
                b2 = round(XMAX / pe, 6)  # dispersivity
                b7 = round(rng.uniform(0.1, 1.0), 3)
                if code <= 6:
                    b4 = p0 * XMAX / V if pulse else 1e4 * XMAX / V
                else:
                    b4 = C0 * p0 * XMAX if pulse else 1e4 * XMAX
            if code in (3, 4):
                b5 = round(rng.uniform(0.2, 0.95), 3)
                b6 = loguniform(rng, 0.01, 10)
            elif k % 7 == 3:
                b5 = round(loguniform(rng, 0.01, 0.5), 4)  # decay
                b6 = round(rng.uniform(0, 0.1), 4)  # production
            elif k % 7 == 5:
                b6 = round(rng.uniform(0.01, 0.1), 4)
            if k % 9 == 4:
                CI = 0.2
            npulse, tpulse, cpulse = 1, [0.0, 0.0], [C0]
            if k % 8 == 6:
                # several pulses, one of clean water, or two solute loads
                T = XMAX / V
                if code <= 6:
                    npulse = 3
                    tpulse = [0.0, 0.4 * T, 0.9 * T, 1.5 * T]
                    cpulse = [1.0, 0.0, 0.5]
                else:
                    npulse = 2
                    tpulse = [0.0, 0.7 * T, 0.0]
                    cpulse = [0.5 * C0 * XMAX, 0.8 * C0 * XMAX]
            if k % 11 == 10:
                ired = 2
            if k % 2 == 0:
                pv = rng.uniform(0.2, 5.0)
            else:
                pv = R * rng.uniform(0.5, 1.6)
            t = round(pv * x / V, 5)
            if ired == 2:
                t = round(t * V / XMAX, 6)  # reduced time
            b1 = V
            b = [b1, b2, R, b4, b5, b6, b7]
            out.append(dict(code=code, ired=ired, b=b, CI=CI, C0=C0, XMAX=XMAX, npulse=npulse,
                            tpulse=tpulse[:npulse + 1], cpulse=cpulse[:npulse], x=x, t=t))
    return out


def fmt(v):
    return '' if v is None else repr(float(v))


def main():
    table = rows()
    path = os.path.join(HERE, 'reference.csv')
    with open(path, 'w', newline='') as fh:
        w = csv.writer(fh, lineterminator='\n')
        w.writerow(['code', 'ired', 'b1', 'b2', 'b3', 'b4', 'b5', 'b6', 'b7', 'CI', 'C0', 'XMAX',
                    'npulse', 'tpulse', 'cpulse', 'x', 't', 'c'])
        for i, row in enumerate(table):
            c = model(row)
            w.writerow([row['code'], row['ired']] + [fmt(v) for v in row['b']] +
                       [fmt(row['CI']), fmt(row['C0']), fmt(row['XMAX']), row['npulse'],
                        ';'.join(fmt(v) for v in row['tpulse']),
                        ';'.join(fmt(v) for v in row['cpulse']),
                        fmt(row['x']), fmt(row['t']), mp.nstr(c, 20, min_fixed=-30, max_fixed=30)])
            if i % 50 == 49:
                print(f'{i + 1} rows', flush=True)
    print(f'wrote {len(table)} rows to {path}')


if __name__ == '__main__':
    main()
