// Stochastic stream-tube model with log-normal velocities (codes 5 to 8).
#pragma once

#include "driver/problem_record.hpp"

namespace btcfit {

// Tube concentration at velocity v, summed over the pulses, times the
// log-normal density (and times v for flux concentrations). Reads XCUR,
// TCUR, VLNMU, SIGMA, ALPHA, RFAC, PAR5, PAR6, TMLOAD, MODE, MODSAV from
// `w` and the pulse tables and CISAVE from `p`; writes VELO, DISP, TPUL,
// CI (restored) and C0.
double CAVG(ModelWork& w, const PulseGroup& p, double v);

// CAVG at v1 into c1, then at v2 into c2: the results and the working
// fields left in `w` are those of the two calls in this order; the two
// tubes are evaluated side by side.
// out[k] = CAVG(w, p, v[k]) for k = 0..K-1 as K calls in a row, bit for bit,
// with w left as the last call leaves it.
void CAVG_many(ModelWork& w, const PulseGroup& p, int K, const double* v, double* out);

// Most tubes that CAVG_many evaluates side by side.
inline constexpr int kCavgTubesMax = 16;

// Velocity range [VLO, VHI] outside which CAVG is negligible for the
// observation in XCUR, TCUR. VLO is the first guess on entry. Returns at once
// without setting anything when VLO >= VMAX.
void LIMIT(ModelWork& w, const PulseGroup& p, double& VLO, double& VHI,
           double VMAX, double EPS);

// Values that the stochastic evaluation computes once per model call and
// uses for every observation.
struct StochasticSetup {
  double VMIN = 0.0;
  double VMAX = 0.0;
  double EPS = 0.0;
  double B1 = 0.0;  // mean velocity, divisor of flux averages
};

// Entry of the stochastic evaluation: writes PAR5, PAR6, SIGMA, VLNMU,
// ALPHA, TMLOAD (codes 7, 8), C0 (codes 5, 6 with several pulses), and
// switches MODE to 1 or 2 with the true code in MODSAV. RFAC, CISAVE and
// (codes 5, 6) TPUL are already set by the dispatcher.
StochasticSetup begin_stochastic(ModelWork& w, const PulseGroup& p,
                                 const CoefColumn& B, int NCOEF);

// Field-scale concentration of one observation at distance x and time t,
// evaluated on `w` (a copy per worker is allowed: every observation starts
// from the state that begin_stochastic left).
double stochastic_observation(ModelWork& w, const PulseGroup& p,
                              const StochasticSetup& s, double x, double t);

// Exit: MODE = MODSAV.
void end_stochastic(ModelWork& w);

}  // namespace btcfit
