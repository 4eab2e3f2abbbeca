// Stochastic stream-tube model with log-normal velocities (codes 5 to 8).
#pragma once

#include "problem/problem_record.hpp"

namespace btcfit {

// Tube concentration at velocity v, summed over the pulses, times the
// log-normal density (and times v for flux concentrations). Reads XCUR,
// TCUR, VLNMU, SIGMA, ALPHA, RFAC, PAR5, PAR6, TMLOAD, MODE from
// `w` and the pulse tables and CISAVE from `p`; writes VELO, DISP, TPUL,
// CI (restored) and C0.
double CAVG(ModelWork& w, const PulseGroup& p, double v);

// out[k] = CAVG(w, p, v[k]) for k = 0..K-1 as K calls in a row, bit for bit,
// with w left as the last call leaves it.
void CAVG_many(ModelWork& w, const PulseGroup& p, int K, const double* v, double* out);

// Most tubes that cavg_tubes evaluates side by side.
inline constexpr int kCavgTubesMax = 16;

// TPUL and C0 as the pulse loop of a tube leaves them.
struct TubeFields {
  double TPUL;
  double C0;
};

// CAVG for K <= kCavgTubesMax tubes of possibly different observations:
// tube k at velocity v[k] for the observation at distance X[k] and time
// T[k] (in place of XCUR, TCUR), the first as a CAVG call on w, each later
// one as a call after it. w is not changed; `last` receives the TPUL and
// C0 that the call for tube K-1 leaves.
void cavg_tubes(const ModelWork& w, const PulseGroup& p, int K, const double* v,
                const double* X, const double* T, double* out, TubeFields& last);

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
// ALPHA, TMLOAD (codes 7, 8) and C0 (codes 5, 6 with several pulses); the
// model code stays as it is (the tubes give flux or resident
// concentrations as the code's traits say). RFAC, CISAVE and
// (codes 5, 6) TPUL are already set by the dispatcher.
StochasticSetup begin_stochastic(ModelWork& w, const PulseGroup& p,
                                 const CoefColumn& B, int NCOEF);

// Field-scale concentration of one observation at distance x and time t,
// evaluated on `w` (a copy per worker is allowed: every observation starts
// from the state that begin_stochastic left).
double stochastic_observation(ModelWork& w, const PulseGroup& p,
                              const StochasticSetup& s, double x, double t);

// stochastic_observation for the observations at x[i], t[i], i < m, into
// C[i], bit for bit, with the requests for tube values of all of them
// evaluated together (cavg_tubes) as they come. w, as begin_stochastic
// left it, is not changed (CI equal to CISAVE, as in every model call).
// v_last[i] receives the last velocity that observation i asked for (0
// when none), whose CAVG call leaves the working fields as the serial
// evaluation of that observation leaves them.
void stochastic_lockstep(const ModelWork& w, const PulseGroup& p, const StochasticSetup& s,
                         int m, const double* x, const double* t, double* C,
                         double* v_last);

// Where a lockstep evaluation gets its observations: take(context, number,
// x, t) gives the next one (its number, distance and time), false when
// there is none. `first` of them (at least one) are started at once; the
// others are taken one by one whenever fewer than `low` (at least one) are
// left in progress.
struct ObservationSource {
  bool (*take)(void* context, int& number, double& x, double& t);
  void* context;
  int first;
  int low;
};

// stochastic_lockstep for the observations of `source`: C[number] and
// v_last[number] receive the concentration and the last velocity asked for.
void stochastic_lockstep(const ModelWork& w, const PulseGroup& p, const StochasticSetup& s,
                         const ObservationSource& source, double* C, double* v_last);

}  // namespace btcfit
