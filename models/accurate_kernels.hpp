// The kernels of accurate_model, one family per file:
//   accurate_erfc.cpp            erfcx, erfc and exp(a) erfc(b)
//   accurate_bessel.cpp          exp(-x) I0(x) and exp(-x) I1(x) / x
//   accurate_quadrature.hpp      adaptive Gauss-Kronrod quadrature
//   accurate_equilibrium.cpp     one pulse of the equilibrium solution
//   accurate_nonequilibrium.cpp  one pulse of the two-site solution, J(a, b)
//   accurate_stream_tube.cpp     the stream-tube average of one observation
//   accurate_model.cpp           the dispatcher (accurate.hpp)
#pragma once

#include "problem/problem_record.hpp"

namespace btcfit::accurate_detail {

// exp(x^2) erfc(x) for every finite x, to a few units in the last place
// (overflows to +inf only for x < -26.6, where the value exceeds 1e308).
double erfcx(double x);

// erfc(x), to a few units in the last place of the value.
double erfc(double x);

// exp(a) erfc(b) given w = a - b^2 (passed so that callers that know w in
// closed form do not lose digits forming it): exp(w) erfcx(b) for b >= 0,
// 2 exp(a) - exp(w) erfcx(-b) for b < 0. Finite whenever the true value is.
double exp_erfc(double a, double b, double w);
inline double exp_erfc(double a, double b) { return exp_erfc(a, b, a - b * b); }

// exp(-x) I0(x) and exp(-x) I1(x) / x for x >= 0 (I0, I1: modified Bessel
// functions of the first kind), to a few units in the last place.
struct ScaledBessel {
  double i0;
  double i1_over_x;
};
ScaledBessel scaled_bessel(double x);

// Goldstein's J(a, b) = 1 - integral_0^a exp(-b - s) I0(2 sqrt(b s)) ds for
// a, b >= 0, to about 1e-14 absolute.
double goldstein_j(double a, double b);

// One rectangular pulse of the equilibrium solution, in MOD12's terms:
// velocity v and dispersion D (both divided by R), pulse duration T0,
// initial and input concentration, first-order decay mu and zero-order
// production gamma (divided by R), flux or resident concentration.
struct EquilibriumPulse {
  double v;
  double D;
  double T0;
  double CI;
  double C0;
  double mu;
  double gamma;
  bool flux;
};

// Concentration at distance x, time t since the pulse started; 0 for t <= 0.
double equilibrium_pulse(const EquilibriumPulse& p, double x, double t);

// The step response A of the equilibrium solution without decay and
// production (0 before, 1 long after the front), t > 0.
double equilibrium_step(double v, double D, double x, double t, bool flux);

// One pulse of the two-site solution in dimensionless form: Peclet number
// P, retardation R, fraction beta (already capped), exchange coefficient
// omega, the pulse duration T0 in time units and the concentrations of the
// pulse; distances in units of XMAX and pore volumes as MOD34 takes them; flux or
// resident concentration.
struct TwoSitePulse {
  double P;
  double R;
  double beta;
  double omega;
  double T0;  // pulse duration in time units (the inlet rule of flux concentrations)
  double CI;
  double C0;
  bool flux;
};

// The step response of the equilibrium phase, integrated over the time
// spent there, at distance Z > 0 and pore volume theta > 0.
double two_site_step(const TwoSitePulse& p, double Z, double theta);

// The stream-tube model of codes 5 to 8 for one coefficient set, in
// CAVG's terms (stochastic.hpp): retardation R, dispersivity alpha, decay
// mu and production gamma (divided by R), sigma and mean of ln v (so that
// the mean velocity is exp(lnv_mean + sigma^2 / 2)), the initial
// concentration, C0 and the pulse duration as the dispatcher leaves them,
// the load over C0 (codes 7, 8) and the pulse or load table.
struct StreamTubes {
  bool flux;  // flux-averaged (not resident) concentrations
  bool load;  // solute loads (codes 7, 8) rather than pulses (5, 6)
  double R;
  double alpha;
  double mu;
  double gamma;
  double sigma;
  double lnv_mean;
  double CI;
  double C0;
  double TPUL;
  double TMLOAD;
  const PulseGroup* pulses;
};

// The field-scale concentration at distance x and time t: the average of
// the tube concentrations over the log-normal velocities (weighted by v
// and divided by the mean velocity for flux concentrations).
double stream_tube_average(const StreamTubes& s, double x, double t);

// The concentration of the tube of velocity v, summed over the pulses.
double tube_concentration(const StreamTubes& s, double v, double x, double t);

}  // namespace btcfit::accurate_detail
