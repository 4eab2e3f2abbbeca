// One pulse of the equilibrium convection-dispersion solution (models 1, 2
// and the stream tubes of 5 to 8), in closed form.
//
// Method: the closed forms of MOD12 (equilibrium.hpp) with each product
// exp(a) erfc(b) taken as exp(a - b^2) erfcx(b), where a - b^2 is written
// in closed form: with A1 = (x - v t)/sqrt(4 D t), A2 = (x + v t)/
// sqrt(4 D t), v x / D - A2^2 = -A1^2, and with w = sqrt(v^2 + 4 mu D) both
// (v -+ w) x / (2D) - ((x -+ w t)/sqrt(4 D t))^2 equal -A1^2 - mu t. No
// exponential larger than exp(v x / D) for a negative A2 is ever formed,
// so large Peclet numbers lose nothing, and every term is good to a few
// units in the last place of the largest term of its sum.
#include <cmath>

#include "models/accurate_kernels.hpp"
#include "models/exponential.hpp"

namespace btcfit::accurate_detail {
namespace {

constexpr double kPi = 3.1415926535897932385;

// The common terms of one pass at time t > 0.
struct PassTerms {
  double s;    // sqrt(4 D t)
  double A1;   // (x - v t) / s
  double A2;   // (x + v t) / s
  double E1;   // erfc(A1)
  double E2;   // exp(v x / D) erfc(A2)
  double E3;   // exp(-A1^2)
};

PassTerms pass_terms(double v, double D, double x, double t) {
  PassTerms q;
  q.s = std::sqrt(4.0 * D * t);
  q.A1 = (x - v * t) / q.s;
  q.A2 = (x + v * t) / q.s;
  q.E3 = fixed_exp(-(q.A1 * q.A1));
  q.E1 = (q.A1 >= 0.0) ? q.E3 * erfcx(q.A1) : 2.0 - q.E3 * erfcx(-q.A1);
  q.E2 = exp_erfc(v * x / D, q.A2, -(q.A1 * q.A1));
  return q;
}

// The step response A(t) from the common terms.
double step_of(const PassTerms& q, double v, double D, double x, double t, bool flux) {
  if (flux) return 0.5 * q.E1 + 0.5 * q.E2;
  const double P1 = v * std::sqrt(t / (kPi * D));
  return 0.5 * q.E1 + P1 * q.E3 - 0.5 * (1.0 + v * x / D + v * v * t / D) * q.E2;
}

// H(t) of the solution with decay: the response to a unit step input.
double decay_step(double v, double D, double mu, double x, double t, const PassTerms& q,
                  bool flux) {
  const double w = std::sqrt(v * v + 4.0 * mu * D);
  const double W = -(q.A1 * q.A1) - mu * t;
  const double em = exp_erfc((v - w) * x / (2.0 * D), (x - w * t) / q.s, W);
  const double ep = exp_erfc((v + w) * x / (2.0 * D), (x + w * t) / q.s, W);
  if (flux) return 0.5 * em + 0.5 * ep;
  const double e3 = exp_erfc(v * x / D - mu * t, q.A2, W);
  return (v / (v + w)) * em + (v / (v - w)) * ep + (v * v / (2.0 * mu * D)) * e3;
}

}  // namespace

double equilibrium_step(double v, double D, double x, double t, bool flux) {
  const PassTerms q = pass_terms(v, D, x, t);
  return step_of(q, v, D, x, t, flux);
}

double equilibrium_pulse(const EquilibriumPulse& p, double x, double t) {
  if (!(t > 0.0)) return 0.0;
  const double v = p.v;
  const double D = p.D;
  double y;
  const PassTerms q = pass_terms(v, D, x, t);
  if (p.mu == 0.0) {
    const double A = step_of(q, v, D, x, t, p.flux);
    double G = 0.0;
    if (p.gamma != 0.0) {
      if (p.flux) {
        G = p.gamma * (t + ((x - v * t) / (2.0 * v)) * q.E1 - ((x + v * t) / (2.0 * v)) * q.E2);
      } else {
        G = p.gamma * (t + ((x - v * t + D / v) / (2.0 * v)) * q.E1 -
                       std::sqrt(t / (4.0 * kPi * D)) * (x + v * t + 2.0 * D / v) * q.E3 +
                       ((x + v * t) * (x + v * t) / (4.0 * D) + 0.5 * t - D / (2.0 * v * v)) *
                           q.E2);
      }
    }
    y = p.CI + (p.C0 - p.CI) * A + G;
    const double t2 = t - p.T0;
    if (t2 > 0.0) y -= p.C0 * equilibrium_step(v, D, x, t2, p.flux);
    return y;
  }
  const double Ginf = p.gamma / p.mu;
  const double A = step_of(q, v, D, x, t, p.flux);
  const double Bterm = (1.0 - A) * fixed_exp(-p.mu * t);
  const double H = decay_step(v, D, p.mu, x, t, q, p.flux);
  y = Ginf + (p.CI - Ginf) * Bterm + (p.C0 - Ginf) * H;
  const double t2 = t - p.T0;
  if (t2 > 0.0) {
    const PassTerms q2 = pass_terms(v, D, x, t2);
    y -= p.C0 * decay_step(v, D, p.mu, x, t2, q2, p.flux);
  }
  return y;
}

}  // namespace btcfit::accurate_detail
