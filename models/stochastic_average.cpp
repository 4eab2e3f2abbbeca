// Stream-tube integrand and the search for its velocity range.
//
// CAVG is the concentration of one stream tube of velocity v, summed over
// the input pulses, times the log-normal density of v (times v for flux
// concentrations). LIMIT brackets the velocities over which CAVG is not
// negligible for the observation in XCUR, TCUR.

#include <algorithm>
#include <cmath>

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

}  // namespace

double CAVG(ModelWork& w, const PulseGroup& p, double v) {
  double Y = 0.0;  // result holder handed to MOD12

  // Tube parameters: velocity and dispersion over R.
  w.VELO = v / w.RFAC;
  w.DISP = w.ALPHA * w.VELO;
  // Solute load: the input of a tube lasts the longer the slower it flows.
  if (w.MODSAV >= 7) w.TPUL = w.TMLOAD / v;

  // Tube concentration, summed over the pulses that have started.
  double S = 0.0;
  for (int j = 1; j <= p.NPULSE; ++j) {
    if (p.NPULSE != 1) {
      if (j == 2) w.CI = 0.0;
      if (w.MODSAV < 7) {
        Y = 0.0;
        w.C0 = p.CPULSE[j];
        if (w.C0 == 0.0 && j > 1) {
          S = S + Y;  // a pulse of clean water adds nothing
          continue;
        }
        w.TPUL = p.TPULSE[j + 1] - p.TPULSE[j];
      } else {
        w.TPUL = p.CPULSE[j] / (w.C0 * v);
      }
    }
    const double theta = w.TCUR - p.TPULSE[j];
    if (theta <= 0.0) break;  // later pulses start later still
    MOD12(w, Y, w.XCUR, theta);
    S = S + Y;
  }
  w.CI = p.CISAVE;

  // Log-normal density of v.
  const double d = std::log(v) - w.VLNMU;
  const double f =
      std::exp(-std::min(d * d / (2.0 * w.SIGMA * w.SIGMA), EXPCAP)) /
      (SQRT2PI * w.SIGMA * v);

  if (S < SUMFLOOR) S = 0.0;
  if (w.MODE == 2) return S * f * v;
  return S * f;
}

void LIMIT(ModelWork& w, const PulseGroup& p, double& VLO, double& VHI,
           double VMAX, double EPS) {
  limit_search([&w, &p](double v) { return CAVG(w, p, v); }, VLO, VHI, VMAX,
               EPS);
}

}  // namespace btcfit
