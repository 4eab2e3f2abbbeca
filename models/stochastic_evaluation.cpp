// Stochastic stream-tube models (codes 5 to 8): field-scale concentrations
// as averages of the tube concentrations over log-normal tube velocities.
//
// begin_stochastic prepares the distribution once per coefficient set;
// stochastic_observation integrates CAVG over the velocity range that LIMIT
// finds for one observation. An observation reads only what
// begin_stochastic wrote (CAVG puts CI back and sets C0, TPUL, VELO and
// DISP before it uses them), so observations may be evaluated on separate
// copies of the working fields.

#include <algorithm>
#include <cmath>

#include "models/romberg.hpp"
#include "models/stochastic.hpp"

namespace btcfit {

namespace {

// Single-precision constants of the program, widened to double.
constexpr double NSIG = double(3.9f);   // velocity bounds: mean -+ NSIG sigma
constexpr double FRONT = double(0.9f);  // lower guess from the front arrival
constexpr double QFAC = double(0.14f);  // lower guess from dispersion
constexpr double QOFF = double(0.05f);
static_assert(NSIG == 3.9000000953674316);
static_assert(FRONT == 0.8999999761581421);
static_assert(QFAC == 0.14000000059604645);
static_assert(QOFF == 0.05000000074505806);

constexpr double EPSREL = 1e-6;    // negligible fraction of the input
constexpr double XAFLOOR = 1e-10;  // floor of x / alpha under the logarithm

// The stream-tube integrand for ROMB: one velocity at a time, or the new
// velocities of a level together (the same values, computed side by side),
// in increasing order.
struct TubeIntegrand {
  ModelWork& w;
  const PulseGroup& p;
  double operator()(double v) const { return CAVG(w, p, v); }
  void batch(const double* v, double* f, int n) const { CAVG_many(w, p, n, v, f); }
};

}  // namespace

StochasticSetup begin_stochastic(ModelWork& w, const PulseGroup& p,
                                 const CoefColumn& B, int NCOEF) {
  const double b1 = B[NCOEF + 0];
  const double b2 = B[NCOEF + 1];
  const double b3 = B[NCOEF + 2];
  const double b4 = B[NCOEF + 3];
  const double b5 = B[NCOEF + 4];
  const double b6 = B[NCOEF + 5];
  const double b7 = B[NCOEF + 6];
  const double R = b3;

  w.PAR5 = b5 / R;
  w.PAR6 = b6 / R;
  w.SIGMA = b7;
  w.VLNMU = std::log(b1) - 0.5 * b7 * b7;  // so that the mean velocity is b1
  w.ALPHA = b2;
  if (w.MODE >= 7) w.TMLOAD = b4 / w.C0;

  StochasticSetup s;
  s.VMIN = std::exp(w.VLNMU - NSIG * w.SIGMA);
  s.VMAX = std::exp(w.VLNMU + NSIG * w.SIGMA);
  if (p.NPULSE > 1 && w.MODE < 7) w.C0 = p.CPULSE[1];
  s.EPS = EPSREL * std::max(w.CI, w.C0);
  s.B1 = b1;

  // MOD12, inside the integrand, is to give resident (1) or flux (2)
  // concentrations; the true code waits in MODSAV.
  w.MODSAV = w.MODE;
  w.MODE = (w.MODE == 6 || w.MODE == 8) ? 2 : 1;
  return s;
}

double stochastic_observation(ModelWork& w, const PulseGroup& p,
                              const StochasticSetup& s, double x, double t) {
  w.XCUR = x;
  w.TCUR = t;

  // First guess of the lower velocity limit: the slowest tubes that can
  // have carried solute to x by t, unless the profile holds solute already.
  double VLO;
  if (w.CI > 0.0) {
    VLO = s.VMIN;
  } else {
    const double q =
        QFAC * std::log(std::max(w.XCUR / w.ALPHA, XAFLOOR)) * w.XCUR / w.TCUR -
        QOFF;
    VLO = std::max(w.RFAC * std::min(FRONT * w.XCUR / w.TCUR, q), s.VMIN);
  }

  double VHI = 0.0;
  LIMIT(w, p, VLO, VHI, s.VMAX, s.EPS);
  if (VLO >= s.VMAX) return 0.0;

  double C = 0.0;
  ROMB(TubeIntegrand{w, p}, C, VLO, VHI);
  if (w.MODE == 2) C = C / s.B1;  // flux average over the mean velocity
  return C;
}

void end_stochastic(ModelWork& w) { w.MODE = w.MODSAV; }

}  // namespace btcfit
