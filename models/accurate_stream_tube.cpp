// The stream-tube average of models 5 to 8 for one observation.
//
// Method: with v = exp(m + sigma z) (m the mean of ln v) the log-normal
// average becomes an average over the standard normal density phi(z), and
// the flux average, weighted by v and divided by the mean velocity, one
// over phi(z - sigma). The integrand is the tube concentration (the
// closed-form pulse solutions of accurate_equilibrium.cpp) times that
// density, smooth in z; the range is cut at 9 standard deviations, where
// the density has fallen below 1e-18 of its peak, and split at the
// velocities whose tube front (the start or end of a pulse or load)
// reaches the observation at its time (and, for loads, where the load's
// duration reaches the time: smooth there, but not analytic). Gauss-Kronrod
// quadrature refines the pieces adaptively to a relative 1e-10 of the
// integral of the absolute integrand by the error estimate of
// accurate_quadrature.hpp, which overstates the error by orders of
// magnitude (the table of tests/data/accurate is met to 1e-10 and better).
#include <algorithm>
#include <cmath>

#include "models/accurate_kernels.hpp"
#include "models/accurate_quadrature.hpp"
#include "models/exponential.hpp"
#include "models/logarithm.hpp"

namespace btcfit::accurate_detail {
namespace {

constexpr double kRelTol = 1e-10;
constexpr double kDensityCut = 9.0;
constexpr double kInvSqrtTwoPi = 0.39894228040143267794;
constexpr int kMostPoints = 3 * 2 * MAXPULSE + 2;

}  // namespace

double tube_concentration(const StreamTubes& s, double v, double x, double t) {
  const PulseGroup& p = *s.pulses;
  const bool loads = s.load;
  EquilibriumPulse e{v / s.R, s.alpha * v / s.R, s.TPUL, s.CI, s.C0, s.mu, s.gamma, s.flux};
  if (loads) e.T0 = s.TMLOAD / v;
  double sum = 0.0;
  for (int j = 1; j <= p.NPULSE; ++j) {
    if (p.NPULSE != 1) {
      if (j == 2) e.CI = 0.0;
      if (!loads) {
        e.C0 = p.CPULSE[j];
        if (e.C0 == 0.0 && j > 1) continue;
        e.T0 = p.TPULSE[j + 1] - p.TPULSE[j];
      } else {
        e.T0 = p.CPULSE[j] / (s.C0 * v);
      }
    }
    const double theta = t - p.TPULSE[j];
    if (!(theta > 0.0)) break;
    sum += equilibrium_pulse(e, x, theta);
  }
  return sum;
}

double stream_tube_average(const StreamTubes& s, double x, double t) {
  const PulseGroup& p = *s.pulses;
  const double centre = s.flux ? s.sigma : 0.0;
  const double lo = centre - kDensityCut;
  const double hi = centre + kDensityCut;
  const auto integrand = [&](double z) {
    const double v = fixed_exp(s.lnv_mean + s.sigma * z);
    const double d = z - centre;
    return tube_concentration(s, v, x, t) * kInvSqrtTwoPi * fixed_exp(-0.5 * (d * d));
  };

  // Velocities at which a front reaches x at time t: the start of pulse j
  // (v t_j / R = x) and its end (v (t_j - T0) / R = x for a fixed duration
  // T0, v t_j - M / C0 = R x for a load M, whose duration is M / (C0 v)).
  double pts[kMostPoints];
  int n = 0;
  pts[n++] = lo;
  if (x > 0.0 && s.sigma > 0.0) {
    const auto add_front = [&](double vf) {
      if (!(vf > 0.0)) return;
      const double z = (fixed_log(vf) - s.lnv_mean) / s.sigma;
      if (!(z > lo && z < hi)) return;
      pts[n++] = z;
    };
    const bool loads = s.load;
    for (int j = 1; j <= p.NPULSE && n + 6 < kMostPoints; ++j) {
      const double tj = t - p.TPULSE[j];
      if (!(tj > 0.0)) break;
      add_front(s.R * x / tj);
      if (loads) {
        const double mass = (p.NPULSE != 1) ? p.CPULSE[j] / s.C0 : s.TMLOAD;
        add_front((s.R * x + mass) / tj);
        // Where the load ends by time t (its duration M / (C0 v) reaches t).
        add_front(mass / tj);
      } else {
        const double T0 = (p.NPULSE != 1) ? p.TPULSE[j + 1] - p.TPULSE[j] : s.TPUL;
        if (tj - T0 > 0.0) add_front(s.R * x / (tj - T0));
      }
    }
  }
  std::sort(pts + 1, pts + n);
  int m = 1;
  for (int i = 1; i < n; ++i) {
    if (pts[i] > pts[m - 1] && pts[i] < hi) pts[m++] = pts[i];
  }
  pts[m++] = hi;
  return adaptive_integral(integrand, pts, m, kRelTol, 1e-300);
}

}  // namespace btcfit::accurate_detail
