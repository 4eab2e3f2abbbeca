// The velocity-range search of the stream-tube models on any integrand.
//
// LIMIT (models/stochastic.hpp) runs this search on CAVG; the template lets
// the search be exercised on integrands of known shape as well.
#pragma once

#include <cmath>
#include <cstring>
#include <type_traits>

namespace btcfit {

// Single-precision constants of the search, widened to double.
inline constexpr double LIMIT_STEPEXP = double(0.1f);    // step-factor exponent
inline constexpr double LIMIT_DIFSTEP = double(1.001f);  // second slope point
inline constexpr double LIMIT_DIFDIV = double(0.001f);   // slope divisor
static_assert(LIMIT_STEPEXP == 0.10000000149011612);
static_assert(LIMIT_DIFSTEP == 1.0010000467300415);
static_assert(LIMIT_DIFDIV == 0.0010000000474974513);

inline constexpr double LIMIT_EDIV = 100.0;  // scan threshold is EPS / 100
inline constexpr int LIMIT_NSCAN = 3;        // scans per side
inline constexpr int LIMIT_NSTEP = 11;       // steps per scan
inline constexpr int LIMIT_NCORR = 5;        // correction steps

namespace limit_detail {

// An integrand that can also evaluate several velocities in one call:
// g.many(v, f, n) sets f[i] = g(v[i]) with the same values.
template <class Integrand>
concept ManyIntegrand = requires(Integrand& g, const double* v, double* f, int n) {
  g.many(v, f, n);
};

inline constexpr int kAhead = 16;  // most values evaluated ahead

// g with values evaluated ahead of need: the search asks for the points
// that its next steps may reach, they are evaluated together, and a later
// call for one of exactly those velocities takes the value from here. A
// velocity not evaluated ahead is evaluated on its own. The values are
// those of single calls, so the search takes the same course either way.
template <class Integrand>
struct Lookahead {
  explicit Lookahead(Integrand& integrand) : g(integrand) {}

  Integrand& g;
  double v[kAhead];
  double f[kAhead];
  int n = 0;

  void ahead(const double* vs, int m) {
    if constexpr (ManyIntegrand<Integrand>) {
      n = m;
      std::memcpy(v, vs, m * sizeof(double));
      g.many(v, f, n);
    }
  }
  double operator()(double x) {
    for (int i = 0; i < n; ++i) {
      if (std::memcmp(&v[i], &x, sizeof x) == 0) return f[i];
    }
    return g(x);
  }
};

}  // namespace limit_detail

// Velocity range [VLO, VHI] outside which g is negligible; VLO is the first
// guess on entry. g is any callable double(double) returning g(v) >= 0.
// Returns at once, setting nothing, when VLO >= VMAX. The slope at v is the
// forward difference (g(1.001 v) - g(v)) / (0.001 v), with g(v) the value
// already in hand.
//
// An integrand with `many` has its values evaluated ahead in groups: the
// next steps of a scan with their slope points, and the two points of a
// correction step. Which of them the search uses decides as before.
template <class Integrand>
void limit_search(Integrand&& gin, double& VLO, double& VHI, double VMAX,
                  double EPS) {
  using limit_detail::Lookahead;
  if (VLO >= VMAX) return;
  Lookahead<std::remove_reference_t<Integrand>> g(gin);
  const double E = EPS / LIMIT_EDIV;
  auto slope = [&g](double v, double gv) {
    return (g(LIMIT_DIFSTEP * v) - gv) / (LIMIT_DIFDIV * v);
  };
  // The next `steps` scan points from v (v, then v op F each time, as the
  // scan forms them) and the slope point of each.
  auto scan_ahead = [&g](double v, double F, int steps, bool up) {
    double vs[limit_detail::kAhead];
    for (int i = 0; i < steps; ++i) {
      vs[2 * i] = v;
      vs[2 * i + 1] = LIMIT_DIFSTEP * v;
      v = up ? v * F : v / F;
    }
    g.ahead(vs, 2 * steps);
  };
  // Both points of a correction step at v.
  auto pair_ahead = [&g](double v) {
    const double vs[2] = {v, LIMIT_DIFSTEP * v};
    g.ahead(vs, 2);
  };

  // Lower limit: scan upwards from the guess for a point above E; below the
  // peak, extrapolate the rising flank down towards zero concentration.
  double F = std::pow(VMAX / VLO, LIMIT_STEPEXP);
  for (int scan = 1; scan <= LIMIT_NSCAN; ++scan) {
    double gv = 0.0;
    bool found = false;
    for (int i = 1; i <= LIMIT_NSTEP; ++i) {
      // Most lower scans end at their first or second point.
      if (i % 2 == 1) scan_ahead(VLO, F, 2, true);
      gv = g(VLO);
      if (gv > E) {
        found = true;
        break;
      }
      VLO = VLO * F;
    }
    if (!found) {  // nothing above E up to VMAX: the range is empty
      VHI = VLO;
      return;
    }
    double s = slope(VLO, gv);
    if (s <= 0.0) {  // above the peak already: step back, finer steps
      VLO = VLO / F;
      F = std::pow(F, LIMIT_STEPEXP);
      continue;
    }
    if (gv < EPS) break;  // already in the negligible tail
    for (int k = 1; k <= LIMIT_NCORR; ++k) {
      const double vprev = VLO;
      const double gprev = gv;  // g of the point this step starts from
      VLO = VLO - gv / s;
      if (VLO <= 0.0) {
        VLO = vprev;
        break;
      }
      if (gprev < EPS) break;  // the step just taken stands
      pair_ahead(VLO);
      gv = g(VLO);
      s = slope(VLO, gv);
      if (s <= 0.0) break;
    }
    break;
  }

  // Upper limit: scan downwards from VMAX for a point above E; above the
  // peak, extrapolate the falling flank up towards zero concentration.
  F = std::pow(VMAX / VLO, LIMIT_STEPEXP);
  VHI = VMAX;
  for (int scan = 1; scan <= LIMIT_NSCAN; ++scan) {
    double gv = 0.0;
    bool found = false;
    for (int i = 1; i <= LIMIT_NSTEP; ++i) {
      // Upper scans take a few steps more.
      if (i % 4 == 1) scan_ahead(VHI, F, 4, false);
      gv = g(VHI);
      if (gv > E) {
        found = true;
        break;
      }
      VHI = VHI / F;
    }
    // Nothing above E: go on from where the scan stopped, with the slope
    // taken at that point.
    if (!found) gv = g(VHI);
    double s = slope(VHI, gv);
    if (s >= 0.0) {  // below the peak: step back, finer steps
      VHI = VHI * F;
      F = std::pow(F, LIMIT_STEPEXP);
      continue;
    }
    if (gv < EPS) return;  // already in the negligible tail
    for (int k = 1; k <= LIMIT_NCORR; ++k) {
      const double gprev = gv;  // g of the point this step starts from
      VHI = VHI - gv / s;
      if (gprev < EPS) return;  // the step just taken stands
      pair_ahead(VHI);
      gv = g(VHI);
      s = slope(VHI, gv);
      if (s >= 0.0) return;
    }
    return;
  }
}

}  // namespace btcfit
