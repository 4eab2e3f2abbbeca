// Stream-tube integrand and the search for its velocity range.
//
// CAVG is the concentration of one stream tube of velocity v, summed over
// the input pulses, times the log-normal density of v (times v for flux
// concentrations). LIMIT brackets the velocities over which CAVG is not
// negligible for the observation in XCUR, TCUR.

#include <algorithm>
#include <cmath>
#include <type_traits>

#include "models/equilibrium.hpp"
#include "models/stochastic.hpp"
#include "models/stochastic_limit.hpp"

namespace btcfit {

namespace {

// Single-precision constant of the program, widened to double.
constexpr double SQRT2PI = double(2.50663f);  // sqrt(2 pi) of the density
static_assert(SQRT2PI == 2.5066299438476562);

constexpr double EXPCAP = 100.0;    // cap of the density exponent
constexpr double SUMFLOOR = 1e-70;  // tube sums below this count as 0

// CAVG for K velocities v[0..K-1] (K = 1 or 2), with the results and the
// working fields of K calls in a row: tube k starts from the fields that
// call k-1 left (the same as on entry, but CI = CISAVE), and w ends as the
// last call leaves it. The pulse loop does not depend on the velocity, so
// the tubes go through it side by side.
template <int K>
inline void cavg_tubes(ModelWork& w, const PulseGroup& p, const double* v, double* out) {
  static_assert(K == 1 || K == 2);
  // Tube 0 when there are two; tube K-1 works on w itself. A single tube
  // needs no copy.
  [[maybe_unused]] std::conditional_t<K == 2, ModelWork, char> first;
  ModelWork* wk[K];
  if constexpr (K == 2) {
    first = w;
    wk[0] = &first;
    w.CI = p.CISAVE;  // as the call for v[0] leaves it
  }
  wk[K - 1] = &w;

  double Y[K];  // result holders handed to MOD12
  double S[K];  // tube concentrations, summed over the pulses
  for (int k = 0; k < K; ++k) {
    ModelWork& t = *wk[k];
    Y[k] = 0.0;
    S[k] = 0.0;
    // Tube parameters: velocity and dispersion over R.
    t.VELO = v[k] / t.RFAC;
    t.DISP = t.ALPHA * t.VELO;
    // Solute load: the input of a tube lasts the longer the slower it flows.
    if (t.MODSAV >= 7) t.TPUL = t.TMLOAD / v[k];
  }

  // Tube concentration, summed over the pulses that have started.
  for (int j = 1; j <= p.NPULSE; ++j) {
    if (p.NPULSE != 1) {
      bool clean = false;
      for (int k = 0; k < K; ++k) {
        ModelWork& t = *wk[k];
        if (j == 2) t.CI = 0.0;
        if (t.MODSAV < 7) {
          Y[k] = 0.0;
          t.C0 = p.CPULSE[j];
          if (t.C0 == 0.0 && j > 1) {
            S[k] = S[k] + Y[k];  // a pulse of clean water adds nothing
            clean = true;
            continue;
          }
          t.TPUL = p.TPULSE[j + 1] - p.TPULSE[j];
        } else {
          t.TPUL = p.CPULSE[j] / (t.C0 * v[k]);
        }
      }
      if (clean) continue;  // the same pulse for every tube
    }
    const double theta = w.TCUR - p.TPULSE[j];
    if (theta <= 0.0) break;  // later pulses start later still
    if constexpr (K == 1) {
      MOD12(w, Y[0], w.XCUR, theta);
    } else {
      MOD12_pair(*wk[0], Y[0], *wk[1], Y[1], w.XCUR, theta);
    }
    for (int k = 0; k < K; ++k) S[k] = S[k] + Y[k];
  }

  for (int k = 0; k < K; ++k) {
    ModelWork& t = *wk[k];
    t.CI = p.CISAVE;

    // Log-normal density of v.
    const double d = std::log(v[k]) - t.VLNMU;
    const double f =
        std::exp(-std::min(d * d / (2.0 * t.SIGMA * t.SIGMA), EXPCAP)) /
        (SQRT2PI * t.SIGMA * v[k]);

    double Sk = S[k];
    if (Sk < SUMFLOOR) Sk = 0.0;
    out[k] = (t.MODE == 2) ? Sk * f * v[k] : Sk * f;
  }
}

}  // namespace

double CAVG(ModelWork& w, const PulseGroup& p, double v) {
  double c;
  cavg_tubes<1>(w, p, &v, &c);
  return c;
}

void CAVG_pair(ModelWork& w, const PulseGroup& p, double v1, double v2, double& c1,
               double& c2) {
  const double v[2] = {v1, v2};
  double c[2];
  cavg_tubes<2>(w, p, v, c);
  c1 = c[0];
  c2 = c[1];
}

void LIMIT(ModelWork& w, const PulseGroup& p, double& VLO, double& VHI,
           double VMAX, double EPS) {
  limit_search([&w, &p](double v) { return CAVG(w, p, v); }, VLO, VHI, VMAX,
               EPS);
}

}  // namespace btcfit
