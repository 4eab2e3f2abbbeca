// A stream-tube problem prepared as the model dispatcher leaves it before
// the stochastic evaluation: CISAVE = CI, RFAC = b3 and, for codes 5 and 6,
// TPUL = b4 (reduced time not used, so the time scale is 1).
#pragma once

#include <initializer_list>

#include "problem/problem_record.hpp"

namespace btcfit::stochastic_test {

inline constexpr int kNcoef = 7;

// The value x, hidden from the optimiser: expected values are then computed
// by the run-time library like the program's, not folded at compile time
// (folded pow, exp and log may differ from the library's in the last bit).
inline double opaque(double x) {
  volatile double v = x;
  return v;
}

struct Coefs {
  double v = 1.0;       // b1: mean tube velocity
  double alpha = 0.15;  // b2: dispersivity
  double R = 1.4;       // b3: retardation factor
  double b4 = 2.0;      // b4: pulse duration (5, 6) or input mass (7, 8)
  double mu = 0.0;      // b5: first-order decay
  double gamma = 0.0;   // b6: zero-order production
  double sigma = 0.3;   // b7: standard deviation of ln v
};

struct Pulse {
  double time;  // start of the pulse (5, 6) or time of the input (7, 8)
  double conc;  // concentration (5, 6) or mass (7, 8)
};

struct Problem {
  ModelWork w;
  PulseGroup p;
  CoefColumn B{};
};

// `n` = 0 means a single pulse (NPULSE = 1, TPULSE(1) = 0) described by C0
// and b4. For codes 5 and 6 the end of the last pulse is `last_end`.
inline Problem make_problem(int code, const Coefs& c, double CI, double C0,
                            const Pulse* pulses, int n, double last_end) {
  Problem pr;
  pr.w.MODE = code;
  pr.w.CI = CI;
  pr.w.C0 = C0;
  pr.p.NPULSE = 1;
  if (n > 0) {
    pr.p.NPULSE = n;
    for (int j = 1; j <= n; ++j) {
      pr.p.TPULSE[j] = pulses[j - 1].time;
      pr.p.CPULSE[j] = pulses[j - 1].conc;
    }
    if (code <= 6) pr.p.TPULSE[n + 1] = last_end;
  }
  const double b[kNcoef] = {c.v, c.alpha, c.R, c.b4, c.mu, c.gamma, c.sigma};
  for (int k = 1; k <= kNcoef; ++k) pr.B[kNcoef + k - 1] = b[k - 1];
  // Dispatcher entry.
  pr.p.CISAVE = pr.w.CI;
  pr.w.RFAC = c.R;
  if (code <= 6) pr.w.TPUL = c.b4;
  return pr;
}

inline Problem make_problem(int code, const Coefs& c, double CI, double C0,
                            std::initializer_list<Pulse> pulses = {},
                            double last_end = 0.0) {
  return make_problem(code, c, CI, C0, pulses.begin(),
                      static_cast<int>(pulses.size()), last_end);
}

}  // namespace btcfit::stochastic_test
