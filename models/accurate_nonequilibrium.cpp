// One pulse of the two-site/two-region solution (models 3 and 4), and
// Goldstein's J function.
//
// Method: MOD34 (nonequilibrium.hpp) writes the response to a step input as
//   S(theta) = integral_0^theta g(tau) J(k tau, m (theta - tau)) dtau,
// k = omega / (beta R), m = omega / ((1 - beta) R), g the pulse response of
// the equilibrium phase (retardation beta R) after a time tau spent there.
// Integrating by parts moves the derivative from the equilibrium step
// response G (g = G', G(0) = 0) onto J, whose derivatives are closed forms:
//   S(theta) = G(theta) exp(-k theta)
//            + integral_0^theta G(tau) K(tau) dtau,
//   K(tau) = exp(-(sqrt(a) - sqrt(b))^2) [k e^-x I0(x) + 2 k m tau e^-x I1(x)/x],
// a = k tau, b = m (theta - tau), x = 2 sqrt(a b). K is the density of the
// time spent in the equilibrium phase, exp(-k theta) the chance of never
// leaving it; both are bounded and smooth (no J to evaluate, no end-point
// singularity), so the integral is well suited to Gauss-Kronrod quadrature.
// G is the closed-form equilibrium step response (accurate_equilibrium.cpp).
// The range is cut where the integrand is below exp(-49) of its scale: left
// of the front of G (its erfc argument above 7) and outside the window of
// the kernel (|sqrt(a) - sqrt(b)| above 8, bounded with the smallest slope
// of sqrt(a) - sqrt(b)); the pieces are split at the front and at the
// kernel's peak tau = theta beta, and refined adaptively to a relative
// 1e-10 of the integral of |G K| by the error estimate of
// accurate_quadrature.hpp (which overstates the error by orders of
// magnitude: the table of tests/data/accurate is met to 1e-10 and better). The largest
// error against a 30-digit reference is stated in tests/data/accurate.
#include <algorithm>
#include <cmath>

#include "models/accurate_kernels.hpp"
#include "models/accurate_quadrature.hpp"
#include "models/exponential.hpp"

namespace btcfit::accurate_detail {
namespace {

constexpr double kRelTol = 1e-10;
constexpr double kFrontCut = 7.0;   // erfc argument beyond which G is below 1e-22
constexpr double kKernelCut = 8.0;  // |sqrt(a) - sqrt(b)| beyond which K is below 1e-27

int sorted_points(double* pts, int n, double lo, double hi) {
  int m = 0;
  double out[16];
  out[m++] = lo;
  std::sort(pts, pts + n);
  for (int i = 0; i < n; ++i) {
    if (pts[i] > out[m - 1] && pts[i] < hi) out[m++] = pts[i];
  }
  out[m++] = hi;
  std::copy(out, out + m, pts);
  return m;
}

}  // namespace

double two_site_step(const TwoSitePulse& p, double Z, double theta) {
  const double Rm = p.beta * p.R;  // retardation of the equilibrium phase
  const double Rk = p.R - Rm;      // of the kinetic phase
  const double v = 1.0 / Rm;
  const double D = 1.0 / (p.P * Rm);
  const auto G = [&](double tau) { return equilibrium_step(v, D, Z, tau, p.flux); };
  const double Gtheta = G(theta);
  if (p.omega == 0.0) return Gtheta;
  const double k = p.omega / Rm;
  const double m = p.omega / Rk;
  const double atom = Gtheta * fixed_exp(-k * theta);

  // Front of G and its width (the erfc argument moves by 1 per width on
  // its left side), the peak of the kernel, and a width over which
  // sqrt(a) - sqrt(b) changes by at least 1 anywhere in (0, theta).
  const double front = Rm * Z;
  const double wf = 2.0 * Rm * std::sqrt(Z / p.P);
  const double peak = theta * Rm / p.R;
  const double wk_bound = 2.0 * std::sqrt(theta) / (std::sqrt(k) + std::sqrt(m));
  const double lo = std::max({0.0, front - kFrontCut * wf, peak - kKernelCut * wk_bound});
  const double hi = std::min(theta, peak + kKernelCut * wk_bound);
  if (!(hi > lo)) return atom;

  const auto integrand = [&](double tau) {
    if (!(tau > 0.0)) return 0.0;
    const double g = G(tau);
    if (g == 0.0) return 0.0;
    const double a = k * tau;
    const double b = m * (theta - tau);
    const double d = std::sqrt(a) - std::sqrt(b);
    const ScaledBessel I = scaled_bessel(2.0 * std::sqrt(a * b));
    return g * fixed_exp(-(d * d)) * (k * I.i0 + 2.0 * k * m * tau * I.i1_over_x);
  };
  double pts[16] = {front, peak};
  const int n = sorted_points(pts, 2, lo, hi);
  return atom + adaptive_integral(integrand, pts, n, kRelTol, 1e-300);
}

double goldstein_j(double a, double b) {
  if (!(a > 0.0)) return 1.0;
  if (!(b > 0.0)) return fixed_exp(-a);
  // 1 - J is the integral over s in [0, a] of exp(-(sqrt(s) - sqrt(b))^2)
  // e^-x I0(x), x = 2 sqrt(b s): a bump around s = b of width about
  // 2 sqrt(b) + 1, cut where sqrt(s) - sqrt(b) passes -+8.
  const double rb = std::sqrt(b);
  const double lo = (rb > kKernelCut) ? (rb - kKernelCut) * (rb - kKernelCut) : 0.0;
  const double hi = std::min(a, (rb + kKernelCut) * (rb + kKernelCut));
  if (!(hi > lo)) return (a <= lo) ? 1.0 : 0.0;
  const auto integrand = [&](double s) {
    const double d = std::sqrt(s) - rb;
    return fixed_exp(-(d * d)) * scaled_bessel(2.0 * std::sqrt(b * s)).i0;
  };
  const double w = 2.0 * rb + 1.0;
  double pts[16] = {b - 2.0 * w, b - w, b, b + w, b + 2.0 * w};
  const int n = sorted_points(pts, 5, lo, hi);
  return 1.0 - adaptive_integral(integrand, pts, n, 1e-15, 1e-300);
}

}  // namespace btcfit::accurate_detail
