// Stream-tube integrand and the search for its velocity range.
//
// CAVG is the concentration of one stream tube of velocity v, summed over
// the input pulses, times the log-normal density of v (times v for flux
// concentrations). LIMIT brackets the velocities over which CAVG is not
// negligible for the observation in XCUR, TCUR.

#include <algorithm>
#include <cmath>

#include "models/equilibrium.hpp"
#include "models/array_loop.hpp"
#include "models/exponential.hpp"
#include "models/logarithm.hpp"
#include "models/stochastic.hpp"
#include "models/stochastic_limit.hpp"
#include "problem/model_traits.hpp"

namespace btcfit {

namespace {

// Single-precision constant of the program, widened to double.
constexpr double SQRT2PI = double(2.50663f);  // sqrt(2 pi) of the density
static_assert(SQRT2PI == 2.5066299438476562);

constexpr double EXPCAP = 100.0;    // cap of the density exponent
constexpr double SUMFLOOR = 1e-70;  // tube sums below this count as 0

// The per-tube arithmetic as plain loops over arrays (see
// models/array_loop.hpp).

// Tube velocity and dispersion over R, and (solute loads) the input time.
__attribute__((always_inline)) inline void tube_parameters(
    int K, const double* __restrict v, double RFAC, double ALPHA, bool load, double TMLOAD,
    double* __restrict vR, double* __restrict D, double* __restrict TPUL) {
  for (int k = 0; k < K; ++k) {
    vR[k] = v[k] / RFAC;
    D[k] = ALPHA * vR[k];
  }
  if (load) {
    for (int k = 0; k < K; ++k) TPUL[k] = TMLOAD / v[k];
  }
}

// Exponent of the log-normal density from ln v.
__attribute__((always_inline)) inline void density_exponents(
    int K, const double* __restrict lnv, double VLNMU, double SIGMA, double* __restrict e) {
  for (int k = 0; k < K; ++k) {
    const double d = lnv[k] - VLNMU;
    e[k] = -std::min(d * d / (2.0 * SIGMA * SIGMA), EXPCAP);
  }
}

// Tube sums times the density (times v for flux concentrations).
__attribute__((always_inline)) inline void weighted_sums(
    int K, const double* __restrict v, const double* __restrict e, const double* __restrict S,
    double SIGMA, bool flux, double* __restrict out) {
  for (int k = 0; k < K; ++k) {
    const double f = e[k] / (SQRT2PI * SIGMA * v[k]);
    const double Sk = S[k] < SUMFLOOR ? 0.0 : S[k];
    out[k] = flux ? Sk * f * v[k] : Sk * f;
  }
}

}  // namespace

// The tubes go through the pulse loop side by side (it does not depend on
// the velocity); their state is kept in arrays and handed to MOD12 as
// arrays (plain_solutions) or, with decay, as PulseSolution records. Tube k belongs to the observation at X[k], T[k]
// and leaves the pulse loop at the first pulse that starts after T[k].
// Tube 0 starts from the fields of w, every later tube from the fields the
// call before it leaves, which differ only in CI (put back to CISAVE) among
// the fields read before they are set. `last` receives TPUL and C0 as the
// pulse loop of tube K-1 leaves them.
void cavg_tubes(const ModelWork& w, const PulseGroup& p, int K, const double* v,
                const double* X, const double* T, double* out, TubeFields& last) {
  if (K <= 0) return;
  double Y[kCavgTubesMax];  // result holders of MOD12
  double S[kCavgTubesMax];  // tube concentrations, summed over the pulses
  double TPUL[kCavgTubesMax];
  double CI[kCavgTubesMax];
  double C0k[kCavgTubesMax];  // C0 as each tube's loop has it
  bool alive[kCavgTubesMax];  // still in the pulse loop
  int at[kCavgTubesMax];
  double vR[kCavgTubesMax], D[kCavgTubesMax];
  const bool load = model_traits(w.MODE).load;
  array_loop<tube_parameters>(K, v, w.RFAC, w.ALPHA, model_traits(w.MODE).load, w.TMLOAD, vR, D, TPUL);
  double C0 = w.C0;
  for (int k = 0; k < K; ++k) {
    Y[k] = 0.0;
    S[k] = 0.0;
    CI[k] = (k == 0) ? w.CI : p.CISAVE;
    // Solute load: the input of a tube lasts the longer the slower it
    // flows (TMLOAD / v, set above).
    if (!load) TPUL[k] = w.TPUL;
    C0k[k] = C0;
    alive[k] = true;
  }
  // The solutions of the tubes in the pulse loop, as arrays (no decay) or
  // as records (decay).
  const bool decay = (w.PAR5 != 0.0);
  const bool flux = model_traits(w.MODE).flux;
  double sv[kCavgTubesMax], sD[kCavgTubesMax], sX[kCavgTubesMax], sT[kCavgTubesMax];
  double sTPUL[kCavgTubesMax], sCI[kCavgTubesMax], sC0[kCavgTubesMax], sY[kCavgTubesMax];
  double sgamma[kCavgTubesMax];
  bool sflux[kCavgTubesMax];
  PulseSolution q[kCavgTubesMax];
  for (int k = 0; k < K; ++k) {
    sgamma[k] = w.PAR6;
    sflux[k] = flux;
  }
  static_assert(kCavgTubesMax <= kPlainMax);

  // Tube concentration, summed over the pulses that have started.
  for (int j = 1; j <= p.NPULSE; ++j) {
    if (p.NPULSE != 1) {
      if (j == 2) {
        for (int k = 0; k < K; ++k) CI[k] = 0.0;
      }
      if (!load) {
        C0 = p.CPULSE[j];
        for (int k = 0; k < K; ++k) {
          if (!alive[k]) continue;
          Y[k] = 0.0;
          C0k[k] = C0;
        }
        if (C0 == 0.0 && j > 1) {
          // A pulse of clean water adds nothing.
          for (int k = 0; k < K; ++k) {
            if (alive[k]) S[k] = S[k] + Y[k];
          }
          continue;
        }
        for (int k = 0; k < K; ++k) {
          if (alive[k]) TPUL[k] = p.TPULSE[j + 1] - p.TPULSE[j];
        }
      } else {
        for (int k = 0; k < K; ++k) {
          if (alive[k]) TPUL[k] = p.CPULSE[j] / (C0 * v[k]);
        }
      }
    }
    // Later pulses start later still: a tube whose observation precedes
    // this pulse is done.
    double theta[kCavgTubesMax];
    int m = 0;
    for (int k = 0; k < K; ++k) {
      if (!alive[k]) continue;
      theta[k] = T[k] - p.TPULSE[j];
      if (theta[k] <= 0.0) {
        alive[k] = false;
        continue;
      }
      at[m++] = k;
    }
    if (m == 0) break;
    if (m == K && !decay) {  // every tube, in place
      plain_solutions(K, {vR, D, X, theta, TPUL, CI, C0k, sgamma, sflux, Y});
      for (int k = 0; k < K; ++k) S[k] = S[k] + Y[k];
      continue;
    }
    if (decay) {
      for (int i = 0; i < m; ++i) {
        const int k = at[i];
        q[i] = PulseSolution{vR[k], D[k], TPUL[k], CI[k], C0k[k],
                             w.PAR5, w.PAR6, X[k], theta[k], Y[k], flux};
      }
      MOD12_many(m, q);
      for (int i = 0; i < m; ++i) sY[i] = q[i].Y;
    } else {
      for (int i = 0; i < m; ++i) {
        const int k = at[i];
        sv[i] = vR[k];
        sD[i] = D[k];
        sX[i] = X[k];
        sT[i] = theta[k];
        sTPUL[i] = TPUL[k];
        sCI[i] = CI[k];
        sC0[i] = C0k[k];
        sY[i] = Y[k];
      }
      plain_solutions(m, {sv, sD, sX, sT, sTPUL, sCI, sC0, sgamma, sflux, sY});
    }
    for (int i = 0; i < m; ++i) {
      const int k = at[i];
      Y[k] = sY[i];
      S[k] = S[k] + Y[k];
    }
  }
  last.TPUL = TPUL[K - 1];
  last.C0 = C0k[K - 1];

  // Log-normal density of v.
  double lnv[kCavgTubesMax], e[kCavgTubesMax];
  for (int k = 0; k < K; ++k) lnv[k] = fixed_log(v[k]);
  array_loop<density_exponents>(K, lnv, w.VLNMU, w.SIGMA, e);
  exp_many(K, e, e);
  array_loop<weighted_sums>(K, v, e, S, w.SIGMA, model_traits(w.MODE).flux, out);
}

void CAVG_many(ModelWork& w, const PulseGroup& p, int K, const double* v, double* out) {
  double X[kCavgTubesMax], T[kCavgTubesMax];
  for (int k = 0; k < kCavgTubesMax; ++k) {
    X[k] = w.XCUR;
    T[k] = w.TCUR;
  }
  for (; K > 0; K -= kCavgTubesMax, v += kCavgTubesMax, out += kCavgTubesMax) {
    const int n = K < kCavgTubesMax ? K : kCavgTubesMax;
    TubeFields last;
    cavg_tubes(w, p, n, v, X, T, out, last);
    // The fields as the call for the last tube leaves them.
    w.VELO = v[n - 1] / w.RFAC;
    w.DISP = w.ALPHA * w.VELO;
    w.TPUL = last.TPUL;
    w.C0 = last.C0;
    w.CI = p.CISAVE;
  }
}

double CAVG(ModelWork& w, const PulseGroup& p, double v) {
  double c;
  CAVG_many(w, p, 1, &v, &c);
  return c;
}

namespace {

// CAVG as the search's integrand, one velocity or several at a time.
struct TubeAverage {
  ModelWork& w;
  const PulseGroup& p;
  double operator()(double v) const { return CAVG(w, p, v); }
  void many(const double* v, double* f, int n) const { CAVG_many(w, p, n, v, f); }
};

}  // namespace

// The search evaluates some velocities ahead of need (values it may not
// use); the working fields that CAVG sets before it reads them (VELO, DISP,
// TPUL, C0) are then left as the last evaluation set them, CI is CISAVE as
// after every CAVG call.
void LIMIT(ModelWork& w, const PulseGroup& p, double& VLO, double& VHI,
           double VMAX, double EPS) {
  limit_search(TubeAverage{w, p}, VLO, VHI, VMAX, EPS);
}

}  // namespace btcfit
