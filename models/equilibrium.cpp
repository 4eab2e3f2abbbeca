// Equilibrium convection-dispersion solution for one rectangular pulse.
//
// The pulse is the difference of two step inputs: pass 1 (tau = T) gives the
// step response that starts at time 0, with the initial-concentration and
// production terms; pass 2 (tau = T - TPUL) subtracts C0 times the step
// response of the step that ends the pulse. A pass with tau <= 0 is skipped.
// Resident concentrations use the third-type inlet condition. All rates and
// transport parameters arrive already divided by the retardation factor.
#include "models/array_loop.hpp"
#include "models/equilibrium.hpp"

#include <cmath>

#include "models/exponential.hpp"
#include "models/exponential_erfc.hpp"
#include "models/exponential_erfc_batch.hpp"
#include "problem/model_traits.hpp"

namespace btcfit {

namespace {

constexpr double kPi = double(3.141593f);
// Stands for 1/(4 pi) in the resident production term.
constexpr double kQuarterInvPi = double(0.079577f);

static_assert(kPi == 3.1415929794311523);
static_assert(kQuarterInvPi == 0.0795769989490509);

// A tube without decay (mu = 0) as both passes see it.
struct PlainTube {
  double v, D, vXD, X;
  bool flux;

  // EXF calls of a pass: E1 and E2, and E3 for resident concentrations.
  int erfc_count() const { return flux ? 2 : 3; }

  // Arguments of E1 = EXF(0, (X - v tau)/s), E2 = EXF(v X/D, (X + v tau)/s)
  // and (resident) E3 = EXF(-(X - v tau)^2/(4 D tau), 0), `stride` apart.
  void erfc_args(double tau, double* As, double* Bs, int stride = 1) const {
    const double s = std::sqrt(4.0 * D * tau);
    As[0] = 0.0;
    Bs[0] = (X - v * tau) / s;
    As[stride] = vXD;
    Bs[stride] = (X + v * tau) / s;
    if (!flux) {
      As[2 * stride] = -((X - v * tau) * (X - v * tau)) / (4.0 * D * tau);
      Bs[2 * stride] = 0.0;
    }
  }

  // Step response A of a pass from its E1, E2 and E3 (E3 unused for flux
  // concentrations).
  double step(double tau, double E1, double E2, double E3) const {
    double P1, P3;
    if (flux) {
      E3 = 0.0;
      P1 = 0.0;
      P3 = 0.5;
    } else {
      P1 = v * std::sqrt(tau / (kPi * D));
      P3 = -0.5 * (1.0 + vXD + v * v * tau / D);
    }
    return 0.5 * E1 + P1 * E3 + P3 * E2;
  }
};

constexpr int kMaxTubes = kPlainMax;
constexpr int kSlots = 2 * kMaxTubes;  // passes of one batch
static_assert(kSlots <= kExfBatchMax);  // one exf_batch call per kind of EXF

// The erfc arguments of n passes (slots) at once, the expressions of
// PlainTube::erfc_args, E1, E2 and E3 kinds kSlots apart. This and the
// loops below are run through array_loop (models/array_loop.hpp): every
// slot still sees the same operations in the same order.
__attribute__((always_inline)) inline void slot_args(
    int n, const double* __restrict v, const double* __restrict D, const double* __restrict X,
    const double* __restrict tau, const double* __restrict vXD, double* __restrict As,
    double* __restrict Bs) {
  for (int i = 0; i < n; ++i) {
    const double s = std::sqrt(4.0 * D[i] * tau[i]);
    As[i] = 0.0;
    Bs[i] = (X[i] - v[i] * tau[i]) / s;
    As[kSlots + i] = vXD[i];
    Bs[kSlots + i] = (X[i] + v[i] * tau[i]) / s;
    As[2 * kSlots + i] = -((X[i] - v[i] * tau[i]) * (X[i] - v[i] * tau[i])) / (4.0 * D[i] * tau[i]);
    Bs[2 * kSlots + i] = 0.0;
  }
}

// PlainTube::step for n resident slots, A[i] from E1, E2, E3 kSlots apart.
__attribute__((always_inline)) inline void resident_steps(
    int n, const double* __restrict v, const double* __restrict D, const double* __restrict tau,
    const double* __restrict vXD, const double* __restrict E, double* __restrict A) {
  for (int i = 0; i < n; ++i) {
    const double P1 = v[i] * std::sqrt(tau[i] / (kPi * D[i]));
    const double P3 = -0.5 * (1.0 + vXD[i] + v[i] * v[i] * tau[i] / D[i]);
    A[i] = 0.5 * E[i] + P1 * E[2 * kSlots + i] + P3 * E[kSlots + i];
  }
}

// v X / D of each tube (the exponent of E2), as an array loop like the
// others.
__attribute__((always_inline)) inline void peclet(int K, const double* __restrict v,
                                                       const double* __restrict X,
                                                       const double* __restrict D,
                                                       double* __restrict vXD) {
  for (int k = 0; k < K; ++k) vXD[k] = v[k] * X[k] / D[k];
}

// PlainTube::step for n flux slots (E3 and its factor are 0).
__attribute__((always_inline)) inline void flux_steps(int n, const double* __restrict E,
                                                           double* __restrict A) {
  for (int i = 0; i < n; ++i) A[i] = 0.5 * E[i] + 0.0 * 0.0 + 0.5 * E[kSlots + i];
}

// Y = CI + (C0 - CI) A1 + G with G = 0, then Y - C0 A2, for solutions
// whose steps A1 and A2 are K apart.
__attribute__((always_inline)) inline void pulse_differences(int K,
                                                                  const double* __restrict CI,
                                                                  const double* __restrict C0,
                                                                  const double* __restrict A,
                                                                  double* __restrict Y) {
  for (int k = 0; k < K; ++k) {
    const double G = 0.0;
    const double Y1 = CI[k] + (C0[k] - CI[k]) * A[k] + G;
    Y[k] = Y1 - C0[k] * A[K + k];
  }
}

}  // namespace

// MOD12 without decay for K <= kMaxTubes solutions given as arrays: the EXF
// calls of both passes of all of them (E1, E2 and E3 of each) go through
// one batch; every value is formed as in a pass of one solution on its own.
void plain_solutions(int K, const PlainSolutions& a) {
  // Lanes: E1 of every pass first, then E2, then E3, kSlots apart, so that
  // each run of the batch holds calls of one kind.
  double vXD[kMaxTubes];
  double As[3 * kSlots], Bs[3 * kSlots], E[3 * kSlots];
  double step[kSlots];
  int at1[kMaxTubes], at2[kMaxTubes];  // slot of pass 1, pass 2 (-1: skipped)
  array_loop<peclet>(K, a.v, a.X, a.D, vXD);
  // The slots of pass 1 of every solution, then of pass 2, the skipped
  // passes (tau <= 0) left out. Where every solution has the pass (the
  // usual case), its slots are the solutions' own arrays; else copies of
  // those that have it, placed without branches (every entry is written,
  // only a pass that applies advances the count).
  struct PassSlots {
    const double *v, *D, *X, *tau, *vXD;
    int n;
  };
  PassSlots pass[2];
  double taus[2][kMaxTubes];
  double cv[2][kMaxTubes], cD[2][kMaxTubes], cX[2][kMaxTubes], cvXD[2][kMaxTubes];
  int n = 0;
  int nflux = 0;
  for (int p = 0; p < 2; ++p) {
    int* at = (p == 0) ? at1 : at2;
    double* tau = taus[p];
    int all = 1;
    for (int k = 0; k < K; ++k) {
      tau[k] = (p == 0) ? a.T[k] : a.T[k] - a.TPUL[k];
      all &= !(tau[k] <= 0.0);
    }
    if (all) {
      for (int k = 0; k < K; ++k) {
        at[k] = n + k;
        nflux += int(a.flux[k]);
      }
      pass[p] = {a.v, a.D, a.X, tau, vXD, K};
    } else {
      int m = 0;
      for (int k = 0; k < K; ++k) {
        const int on = !(tau[k] <= 0.0);
        at[k] = on ? n + m : -1;
        cv[p][m] = a.v[k];
        cD[p][m] = a.D[k];
        cX[p][m] = a.X[k];
        tau[m] = tau[k];  // m <= k
        cvXD[p][m] = vXD[k];
        nflux += on & int(a.flux[k]);
        m += on;
      }
      pass[p] = {cv[p], cD[p], cX[p], tau, cvXD[p], m};
    }
    n += pass[p].n;
  }
  if (n == 0) return;
  const int n1 = pass[0].n;
  const PassSlots& p1 = pass[0];
  const PassSlots& p2 = pass[1];
  array_loop<slot_args>(n1, p1.v, p1.D, p1.X, p1.tau, p1.vXD, As, Bs);
  array_loop<slot_args>(p2.n, p2.v, p2.D, p2.X, p2.tau, p2.vXD, As + n1, Bs + n1);
  exf_batch(n, As, Bs, E);
  exf_batch(n, As + kSlots, Bs + kSlots, E + kSlots);
  if (nflux < n) exf_zero_many(n, As + 2 * kSlots, E + 2 * kSlots);
  // Step responses of the passes: all resident, all flux, else one by one.
  if (nflux == 0) {
    array_loop<resident_steps>(n1, p1.v, p1.D, p1.tau, p1.vXD, E, step);
    array_loop<resident_steps>(p2.n, p2.v, p2.D, p2.tau, p2.vXD, E + n1, step + n1);
  } else if (nflux == n) {
    array_loop<flux_steps>(n, E, step);
  } else {
    for (int k = 0; k < K; ++k) {
      const PlainTube tb{a.v[k], a.D[k], vXD[k], a.X[k], a.flux[k]};
      for (int p = 0; p < 2; ++p) {
        const int i = (p == 0) ? at1[k] : at2[k];
        if (i >= 0) {
          const double tau = pass[p].tau[i - (p == 0 ? 0 : n1)];
          step[i] = tb.step(tau, E[i], E[kSlots + i], tb.flux ? 0.0 : E[2 * kSlots + i]);
        }
      }
    }
  }

  // Both passes of every solution and no production: pass 1 in slots 0..K-1,
  // pass 2 in K..2K-1, combined as an array loop.
  bool production = false;
  for (int k = 0; k < K; ++k) production |= (a.gamma[k] != 0.0);
  if (n == 2 * K && !production) {
    array_loop<pulse_differences>(K, a.CI, a.C0, step, a.Y);
    return;
  }

  for (int k = 0; k < K; ++k) {
    double& Y = a.Y[k];
    const double C0 = a.C0[k];
    if (at1[k] >= 0) {
      const double X = a.X[k];
      const double CI = a.CI[k];
      const double gamma = a.gamma[k];
      const double v = a.v[k];
      const double D = a.D[k];
      const double tau = a.T[k];
      const double E1 = E[at1[k]];
      const double E2 = E[kSlots + at1[k]];
      const double E3 = a.flux[k] ? 0.0 : E[2 * kSlots + at1[k]];
      const double A = step[at1[k]];
      double G = 0.0;
      if (gamma != 0.0) {
        if (a.flux[k]) {
          G = gamma * (tau + ((X - v * tau) / (2.0 * v)) * E1 -
                       ((X + v * tau) / (2.0 * v)) * E2);
        } else {
          G = gamma *
              (tau + ((X - v * tau + D / v) / (2.0 * v)) * E1 -
               std::sqrt(kQuarterInvPi * tau / D) * (X + v * tau + 2.0 * D / v) * E3 +
               ((X + v * tau) * (X + v * tau) / (4.0 * D) + tau / 2.0 - D / (2.0 * v * v)) *
                   E2);
        }
      }
      Y = CI + (C0 - CI) * A + G;
    }
    if (at2[k] >= 0) {
      Y = Y - C0 * step[at2[k]];
    }
  }
}

namespace {

// plain_solutions on records.
void mod12_plain(int K, PulseSolution* q) {
  double v[kMaxTubes], D[kMaxTubes], X[kMaxTubes], T[kMaxTubes], TPUL[kMaxTubes];
  double CI[kMaxTubes], C0[kMaxTubes], gamma[kMaxTubes], Y[kMaxTubes];
  bool flux[kMaxTubes];
  for (int k = 0; k < K; ++k) {
    v[k] = q[k].v;
    D[k] = q[k].D;
    X[k] = q[k].X;
    T[k] = q[k].T;
    TPUL[k] = q[k].TPUL;
    CI[k] = q[k].CI;
    C0[k] = q[k].C0;
    gamma[k] = q[k].gamma;
    flux[k] = q[k].flux;
    Y[k] = q[k].Y;
  }
  plain_solutions(K, {v, D, X, T, TPUL, CI, C0, gamma, flux, Y});
  for (int k = 0; k < K; ++k) q[k].Y = Y[k];
}

// MOD12 with first-order decay for K <= kMaxDecay solutions, the EXF calls
// of all passes in one batch. G_inf is the steady state of production
// against decay. Per pass the lanes hold E1, E2 (and E3 for resident
// concentrations) of the step response and exp(-mu tau), on pass 1 only,
// then the decaying fronts em, ep (and, resident, the fourth term).
constexpr int kDecayLanes = 7;  // most lanes of one pass
constexpr int kMaxDecay = kExfBatchMax / (2 * kDecayLanes);

void mod12_decay(int K, PulseSolution* q) {
  double As[kExfBatchMax], Bs[kExfBatchMax], E[kExfBatchMax];
  int at[kMaxDecay][2];  // first lane of pass 1, pass 2 (-1: skipped)
  int n = 0;
  for (int k = 0; k < K; ++k) {
    const PulseSolution& c = q[k];
    const double v = c.v, D = c.D, X = c.X, mu = c.mu;
    const PlainTube tube{v, D, v * X / D, X, c.flux};
    for (int pass = 1; pass <= 2; ++pass) {
      at[k][pass - 1] = -1;
      const double tau = (pass == 1) ? c.T : c.T - c.TPUL;
      if (tau <= 0.0) continue;
      at[k][pass - 1] = n;
      const double s = std::sqrt(4.0 * D * tau);
      const double A2 = (X + v * tau) / s;
      if (pass == 1) {
        // The step response, as without decay.
        tube.erfc_args(tau, As + n, Bs + n);
        n += tube.erfc_count();
        As[n] = -mu * tau;
        Bs[n] = 0.0;
        ++n;
      }
      const double wr = std::sqrt(v * v + 4.0 * mu * D);
      As[n] = (v - wr) * X / (2.0 * D);
      Bs[n] = (X - wr * tau) / s;
      As[n + 1] = (v + wr) * X / (2.0 * D);
      Bs[n + 1] = (X + wr * tau) / s;
      n += 2;
      if (!c.flux) {
        As[n] = v * X / D - mu * tau;
        Bs[n] = A2;
        ++n;
      }
    }
  }
  if (n == 0) return;
  exf_batch(n, As, Bs, E);

  for (int k = 0; k < K; ++k) {
    PulseSolution& c = q[k];
    const double v = c.v, D = c.D, X = c.X, mu = c.mu;
    const bool flux = c.flux;
    const PlainTube tube{v, D, v * X / D, X, flux};
    const double Ginf = c.gamma / mu;
    double& Y = c.Y;
    for (int pass = 1; pass <= 2; ++pass) {
      int e = at[k][pass - 1];
      if (e < 0) continue;
      const double tau = (pass == 1) ? c.T : c.T - c.TPUL;
      double B = 0.0;
      if (pass == 1) {
        const double A = tube.step(tau, E[e], E[e + 1], flux ? 0.0 : E[e + 2]);
        e += tube.erfc_count();
        B = (1.0 - A) * E[e];
        ++e;
      }
      const double wr = std::sqrt(v * v + 4.0 * mu * D);
      const double em = E[e];
      const double ep = E[e + 1];
      double H;
      if (flux) {
        H = 0.5 * em + 0.5 * ep;
      } else {
        H = (v / (v + wr)) * em + (v / (v - wr)) * ep + (v * v / (2.0 * mu * D)) * E[e + 2];
      }
      if (pass == 2) {
        Y = Y - c.C0 * H;
        break;
      }
      Y = Ginf + (c.CI - Ginf) * B + (c.C0 - Ginf) * H;
    }
  }
}

}  // namespace

PulseSolution pulse_solution(const ModelWork& w, double Y, double X, double T) {
  PulseSolution q;
  q.v = w.VELO;
  q.D = w.DISP;
  q.TPUL = w.TPUL;
  q.CI = w.CI;
  q.C0 = w.C0;
  q.mu = w.PAR5;
  q.gamma = w.PAR6;
  q.X = X;
  q.T = T;
  q.Y = Y;
  q.flux = model_traits(w.MODE).flux;
  return q;
}

void MOD12_many(int K, PulseSolution* q) {
  // Runs of solutions with decay and runs without go together, as many
  // as one batch of EXF calls takes.
  int k = 0;
  while (k < K) {
    const bool decay = (q[k].mu != 0.0);
    const int most = decay ? kMaxDecay : kMaxTubes;
    int m = 1;
    while (m < most && k + m < K && (q[k + m].mu != 0.0) == decay) ++m;
    if (decay) {
      mod12_decay(m, q + k);
    } else {
      mod12_plain(m, q + k);
    }
    k += m;
  }
}

void MOD12(const ModelWork& w, double& Y, double X, double T) {
  PulseSolution q = pulse_solution(w, Y, X, T);
  MOD12_many(1, &q);
  Y = q.Y;
}

}  // namespace btcfit
