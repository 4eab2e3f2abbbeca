// Stream-tube integrand and the search for its velocity range.
//
// CAVG is the concentration of one stream tube of velocity v, summed over
// the input pulses, times the log-normal density of v (times v for flux
// concentrations). LIMIT brackets the velocities over which CAVG is not
// negligible for the observation in XCUR, TCUR.

#include <algorithm>
#include <cmath>

#include "models/equilibrium.hpp"
#include "models/exponential.hpp"
#include "models/stochastic.hpp"
#include "models/stochastic_limit.hpp"

namespace btcfit {

namespace {

// Single-precision constant of the program, widened to double.
constexpr double SQRT2PI = double(2.50663f);  // sqrt(2 pi) of the density
static_assert(SQRT2PI == 2.5066299438476562);

constexpr double EXPCAP = 100.0;    // cap of the density exponent
constexpr double SUMFLOOR = 1e-70;  // tube sums below this count as 0

}  // namespace

// The tubes go through the pulse loop side by side (it does not depend on
// the velocity); their state is kept in arrays and handed to MOD12 as
// PulseSolution records. Tube 0 starts from the fields of w, every later
// tube from the fields the call before it leaves, which differ only in CI
// (put back to CISAVE) among the fields read before they are set.
void CAVG_many(ModelWork& w, const PulseGroup& p, int K, const double* v, double* out) {
  while (K > kCavgTubesMax) {
    CAVG_many(w, p, kCavgTubesMax, v, out);
    K -= kCavgTubesMax;
    v += kCavgTubesMax;
    out += kCavgTubesMax;
  }
  if (K <= 0) return;

  double Y[kCavgTubesMax];  // result holders of MOD12
  double S[kCavgTubesMax];  // tube concentrations, summed over the pulses
  double TPUL[kCavgTubesMax];
  double CI[kCavgTubesMax];
  PulseSolution q[kCavgTubesMax];
  double C0 = w.C0;
  const double VELO_last = v[K - 1] / w.RFAC;
  for (int k = 0; k < K; ++k) {
    Y[k] = 0.0;
    S[k] = 0.0;
    CI[k] = (k == 0) ? w.CI : p.CISAVE;
    TPUL[k] = w.TPUL;
    // Tube parameters: velocity and dispersion over R.
    q[k].v = v[k] / w.RFAC;
    q[k].D = w.ALPHA * q[k].v;
    q[k].mu = w.PAR5;
    q[k].gamma = w.PAR6;
    q[k].flux = (w.MODE == 2);
    q[k].X = w.XCUR;
    // Solute load: the input of a tube lasts the longer the slower it flows.
    if (w.MODSAV >= 7) TPUL[k] = w.TMLOAD / v[k];
  }

  // Tube concentration, summed over the pulses that have started.
  for (int j = 1; j <= p.NPULSE; ++j) {
    if (p.NPULSE != 1) {
      if (j == 2) {
        for (int k = 0; k < K; ++k) CI[k] = 0.0;
      }
      if (w.MODSAV < 7) {
        for (int k = 0; k < K; ++k) Y[k] = 0.0;
        C0 = p.CPULSE[j];
        if (C0 == 0.0 && j > 1) {
          // A pulse of clean water adds nothing.
          for (int k = 0; k < K; ++k) S[k] = S[k] + Y[k];
          continue;
        }
        for (int k = 0; k < K; ++k) TPUL[k] = p.TPULSE[j + 1] - p.TPULSE[j];
      } else {
        for (int k = 0; k < K; ++k) TPUL[k] = p.CPULSE[j] / (C0 * v[k]);
      }
    }
    const double theta = w.TCUR - p.TPULSE[j];
    if (theta <= 0.0) break;  // later pulses start later still
    for (int k = 0; k < K; ++k) {
      q[k].TPUL = TPUL[k];
      q[k].CI = CI[k];
      q[k].C0 = C0;
      q[k].T = theta;
      q[k].Y = Y[k];
    }
    MOD12_many(K, q);
    for (int k = 0; k < K; ++k) {
      Y[k] = q[k].Y;
      S[k] = S[k] + Y[k];
    }
  }

  // The fields as the call for the last tube leaves them.
  w.VELO = VELO_last;
  w.DISP = w.ALPHA * VELO_last;
  w.TPUL = TPUL[K - 1];
  w.C0 = C0;
  w.CI = p.CISAVE;

  // Log-normal density of v.
  double e[kCavgTubesMax];
  for (int k = 0; k < K; ++k) {
    const double d = std::log(v[k]) - w.VLNMU;
    e[k] = -std::min(d * d / (2.0 * w.SIGMA * w.SIGMA), EXPCAP);
  }
  exp_many(K, e, e);
  for (int k = 0; k < K; ++k) {
    const double f = e[k] / (SQRT2PI * w.SIGMA * v[k]);
    double Sk = S[k];
    if (Sk < SUMFLOOR) Sk = 0.0;
    out[k] = (w.MODE == 2) ? Sk * f * v[k] : Sk * f;
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
