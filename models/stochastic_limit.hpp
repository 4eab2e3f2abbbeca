// The velocity-range search of the stream-tube models on any integrand.
//
// LIMIT (models/stochastic.hpp) runs this search on CAVG; the template lets
// the search be exercised on integrands of known shape as well.
#pragma once

#include <cmath>

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

// Velocity range [VLO, VHI] outside which g is negligible; VLO is the first
// guess on entry. g is any callable double(double) returning g(v) >= 0.
// Returns at once, setting nothing, when VLO >= VMAX. The slope at v is the
// forward difference (g(1.001 v) - g(v)) / (0.001 v), with g(v) the value
// already in hand.
template <class Integrand>
void limit_search(Integrand&& g, double& VLO, double& VHI, double VMAX,
                  double EPS) {
  if (VLO >= VMAX) return;
  const double E = EPS / LIMIT_EDIV;
  auto slope = [&g](double v, double gv) {
    return (g(LIMIT_DIFSTEP * v) - gv) / (LIMIT_DIFDIV * v);
  };

  // Lower limit: scan upwards from the guess for a point above E; below the
  // peak, extrapolate the rising flank down towards zero concentration.
  double F = std::pow(VMAX / VLO, LIMIT_STEPEXP);
  for (int scan = 1; scan <= LIMIT_NSCAN; ++scan) {
    double gv = 0.0;
    bool found = false;
    for (int i = 1; i <= LIMIT_NSTEP; ++i) {
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
      gv = g(VHI);
      s = slope(VHI, gv);
      if (s >= 0.0) return;
    }
    return;
  }
}

}  // namespace btcfit
