// The velocity-range search of the stream-tube models on any integrand.
//
// LIMIT (models/stochastic.hpp) runs this search on CAVG; the template lets
// the search be exercised on integrands of known shape as well.
#pragma once

#include <type_traits>

#include "models/lockstep.hpp"

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

// How far the search asks for values ahead of need: the next `lower`
// (`upper`) steps of a scan of the lower (upper) limit, each with its slope
// point (at most 8 steps are taken), and then also the two points of a
// correction step together. {0, 0}: one velocity at a time, as the search
// needs them.
struct LimitAhead {
  int lower = 0;
  int upper = 0;
};

// Most lower scans end at their first or second point, upper scans take a
// few steps more: the lookahead for a search run on its own.
inline constexpr LimitAhead kLimitAheadAlone{2, 4};

// The integrand at the lower limit, when the search has evaluated it there
// (known): the quadrature that follows need not evaluate it again.
struct LimitValue {
  bool known = false;
  double g = 0.0;
};

// The search as a computation that pauses for integrand values: VLO (the
// first guess on entry) and VHI are set as limit_search sets them. Which
// of the values asked for ahead it uses decides as without them. at_VLO,
// if given, receives g(VLO) when the search ends with that value in hand.
// VLO, VHI and at_VLO must outlive it.
Steps limit_steps(LimitAhead ahead, double& VLO, double& VHI, double VMAX, double EPS,
                  LimitValue* at_VLO = nullptr);

namespace limit_detail {

// An integrand that can also evaluate several velocities in one call:
// g.many(v, f, n) sets f[i] = g(v[i]) with the same values.
template <class Integrand>
concept ManyIntegrand = requires(Integrand& g, const double* v, double* f, int n) {
  g.many(v, f, n);
};

}  // namespace limit_detail

// Velocity range [VLO, VHI] outside which g is negligible; VLO is the first
// guess on entry. g is any callable double(double) returning g(v) >= 0.
// Returns at once, setting nothing, when VLO >= VMAX. The slope at v is the
// forward difference (g(1.001 v) - g(v)) / (0.001 v), with g(v) the value
// already in hand.
//
// An integrand with `many` has its values evaluated ahead in groups (see
// limit_steps); others are called one velocity at a time, in the order
// the search needs them.
template <class Integrand>
void limit_search(Integrand&& g, double& VLO, double& VHI, double VMAX, double EPS) {
  constexpr bool many = limit_detail::ManyIntegrand<std::remove_reference_t<Integrand>>;
  run_steps(limit_steps(many ? kLimitAheadAlone : LimitAhead{}, VLO, VHI, VMAX, EPS),
            [&g](const ValueRequest& r) {
    if constexpr (many) {
      if (r.n > 1) {
        g.many(r.v, r.f, r.n);
        return;
      }
    }
    for (int i = 0; i < r.n; ++i) r.f[i] = g(r.v[i]);
  });
}

}  // namespace btcfit
