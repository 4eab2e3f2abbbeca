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
// PulseSolution records. Tube k belongs to the observation at X[k], T[k]
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
  PulseSolution base[kCavgTubesMax];  // what does not change with the pulse
  PulseSolution q[kCavgTubesMax];
  int at[kCavgTubesMax];
  double C0 = w.C0;
  for (int k = 0; k < K; ++k) {
    Y[k] = 0.0;
    S[k] = 0.0;
    CI[k] = (k == 0) ? w.CI : p.CISAVE;
    TPUL[k] = w.TPUL;
    C0k[k] = C0;
    alive[k] = true;
    // Tube parameters: velocity and dispersion over R.
    base[k].v = v[k] / w.RFAC;
    base[k].D = w.ALPHA * base[k].v;
    base[k].mu = w.PAR5;
    base[k].gamma = w.PAR6;
    base[k].flux = (w.MODE == 2);
    base[k].X = X[k];
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
    int m = 0;
    for (int k = 0; k < K; ++k) {
      if (!alive[k]) continue;
      const double theta = T[k] - p.TPULSE[j];
      if (theta <= 0.0) {
        alive[k] = false;
        continue;
      }
      PulseSolution& qk = q[m];
      qk = base[k];
      qk.TPUL = TPUL[k];
      qk.CI = CI[k];
      qk.C0 = C0k[k];
      qk.T = theta;
      qk.Y = Y[k];
      at[m++] = k;
    }
    if (m == 0) break;
    MOD12_many(m, q);
    for (int i = 0; i < m; ++i) {
      const int k = at[i];
      Y[k] = q[i].Y;
      S[k] = S[k] + Y[k];
    }
  }
  last.TPUL = TPUL[K - 1];
  last.C0 = C0k[K - 1];

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
