// The velocity-range search as a computation that pauses for integrand
// values (see models/stochastic_limit.hpp).
#include "models/stochastic_limit.hpp"

#include <algorithm>
#include <cstring>

#include "models/power.hpp"

namespace btcfit {

namespace {

constexpr int kAhead = 16;  // most values asked for ahead

// Values asked for ahead of need: a later need for one of exactly those
// velocities takes the value from here, any other velocity is asked for
// on its own.
struct Lookahead {
  explicit Lookahead(bool on) : enabled(on) {}

  bool enabled;
  double v[kAhead];
  double f[kAhead];
  int n = 0;

  // The request for vs[0..m) (none when not enabled).
  Values ahead(const double* vs, int m) {
    if (!enabled) return Values{};
    n = m;
    for (int i = 0; i < m; ++i) v[i] = vs[i];
    return Values{{v, f, m}};
  }
};

// co_await ValueAt{look, x} gives g(x): at once when it was asked for
// ahead, else after a request for x alone.
struct ValueAt {
  const Lookahead& look;
  double x;
  double value = 0.0;

  bool await_ready() noexcept {
    for (int i = 0; i < look.n; ++i) {
      if (std::memcmp(&look.v[i], &x, sizeof x) == 0) {
        value = look.f[i];
        return true;
      }
    }
    return false;
  }
  void await_suspend(Steps::Handle h) noexcept { h.promise().request = {&x, &value, 1}; }
  double await_resume() const noexcept { return value; }
};

// The next `steps` scan points from v (v, then v op F each time, as the
// scan forms them) and the slope point of each, into vs.
int scan_points(double* vs, double v, double F, int steps, bool up) {
  for (int i = 0; i < steps; ++i) {
    vs[2 * i] = v;
    vs[2 * i + 1] = LIMIT_DIFSTEP * v;
    v = up ? v * F : v / F;
  }
  return 2 * steps;
}

}  // namespace

Steps limit_steps(LimitAhead ahead, double& VLO, double& VHI, double VMAX, double EPS,
                  LimitValue* at_VLO) {
  if (at_VLO != nullptr) *at_VLO = LimitValue{};
  if (VLO >= VMAX) co_return;
  // A scan step and its slope point take two places of the lookahead.
  ahead.lower = std::clamp(ahead.lower, 0, kAhead / 2);
  ahead.upper = std::clamp(ahead.upper, 0, kAhead / 2);
  Lookahead look(ahead.lower > 0 || ahead.upper > 0);
  double vs[kAhead];
  const double E = EPS / LIMIT_EDIV;

  // Lower limit: scan upwards from the guess for a point above E; below the
  // peak, extrapolate the rising flank down towards zero concentration.
  double F = fixed_pow(VMAX / VLO, LIMIT_STEPEXP);
  LimitValue low;  // g(VLO), while VLO is a point evaluated
  for (int scan = 1; scan <= LIMIT_NSCAN; ++scan) {
    double gv = 0.0;
    bool found = false;
    for (int i = 1; i <= LIMIT_NSTEP; ++i) {
      if (ahead.lower > 0 && (i - 1) % ahead.lower == 0) {
        co_await look.ahead(vs, scan_points(vs, VLO, F, ahead.lower, true));
      }
      gv = co_await ValueAt{look, VLO};
      if (gv > E) {
        found = true;
        break;
      }
      VLO = VLO * F;
    }
    if (!found) {  // nothing above E up to VMAX: the range is empty
      VHI = VLO;
      co_return;
    }
    // Slope: forward difference with the value in hand.
    double s = (co_await ValueAt{look, LIMIT_DIFSTEP * VLO} - gv) / (LIMIT_DIFDIV * VLO);
    if (s <= 0.0) {  // above the peak already: step back, finer steps
      VLO = VLO / F;
      F = fixed_pow(F, LIMIT_STEPEXP);
      continue;
    }
    low = {true, gv};
    if (gv < EPS) break;  // already in the negligible tail
    for (int k = 1; k <= LIMIT_NCORR; ++k) {
      const double vprev = VLO;
      const double gprev = gv;  // g of the point this step starts from
      VLO = VLO - gv / s;
      low.known = false;
      if (VLO <= 0.0) {
        VLO = vprev;
        low = {true, gprev};
        break;
      }
      if (gprev < EPS) break;  // the step just taken stands
      vs[0] = VLO;
      vs[1] = LIMIT_DIFSTEP * VLO;
      co_await look.ahead(vs, 2);
      gv = co_await ValueAt{look, VLO};
      low = {true, gv};
      s = (co_await ValueAt{look, LIMIT_DIFSTEP * VLO} - gv) / (LIMIT_DIFDIV * VLO);
      if (s <= 0.0) break;
    }
    break;
  }
  if (at_VLO != nullptr) *at_VLO = low;

  // Upper limit: scan downwards from VMAX for a point above E; above the
  // peak, extrapolate the falling flank up towards zero concentration.
  F = fixed_pow(VMAX / VLO, LIMIT_STEPEXP);
  VHI = VMAX;
  for (int scan = 1; scan <= LIMIT_NSCAN; ++scan) {
    double gv = 0.0;
    bool found = false;
    for (int i = 1; i <= LIMIT_NSTEP; ++i) {
      if (ahead.upper > 0 && (i - 1) % ahead.upper == 0) {
        co_await look.ahead(vs, scan_points(vs, VHI, F, ahead.upper, false));
      }
      gv = co_await ValueAt{look, VHI};
      if (gv > E) {
        found = true;
        break;
      }
      VHI = VHI / F;
    }
    // Nothing above E: go on from where the scan stopped, with the slope
    // taken at that point.
    if (!found) gv = co_await ValueAt{look, VHI};
    double s = (co_await ValueAt{look, LIMIT_DIFSTEP * VHI} - gv) / (LIMIT_DIFDIV * VHI);
    if (s >= 0.0) {  // below the peak: step back, finer steps
      VHI = VHI * F;
      F = fixed_pow(F, LIMIT_STEPEXP);
      continue;
    }
    if (gv < EPS) co_return;  // already in the negligible tail
    for (int k = 1; k <= LIMIT_NCORR; ++k) {
      const double gprev = gv;  // g of the point this step starts from
      VHI = VHI - gv / s;
      if (gprev < EPS) co_return;  // the step just taken stands
      vs[0] = VHI;
      vs[1] = LIMIT_DIFSTEP * VHI;
      co_await look.ahead(vs, 2);
      gv = co_await ValueAt{look, VHI};
      s = (co_await ValueAt{look, LIMIT_DIFSTEP * VHI} - gv) / (LIMIT_DIFDIV * VHI);
      if (s >= 0.0) co_return;
    }
    co_return;
  }
}

}  // namespace btcfit
