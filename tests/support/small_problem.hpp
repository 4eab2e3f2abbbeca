// A small problem of any model code, built in memory: short enough for the
// tests of the threads to run under the thread sanitizer.
#pragma once

#include <array>
#include <memory>

#include "problem/problem_record.hpp"

namespace btcfit::testing_support {

// Model `mode`, coefficient set 1 = `coefficients`, `nob` observations at
// three distances and evenly spaced times, `npulse` pulses (or loads) of
// decreasing concentration, the second one of concentration 0.
inline std::unique_ptr<ProblemRecord> problem(int mode,
                                              const std::array<double, 7>& coefficients, int nob,
                                              int npulse) {
  auto rec = std::make_unique<ProblemRecord>();
  rec->work.MODE = mode;
  rec->obs.NCOEF = mode >= 5 ? 7 : 6;
  rec->obs.NOB = nob;
  for (int k = 1; k <= rec->obs.NCOEF; ++k) rec->coef(k, 1) = coefficients[k - 1];
  rec->work.C0 = rec->C0DECK = 1.0;
  rec->pulses.NPULSE = npulse;
  for (int j = 1; j <= npulse; ++j) {
    rec->pulses.TPULSE[j + (mode >= 7 ? 0 : 1)] = 2.0 * j;
    rec->pulses.CPULSE[j] = j == 2 ? 0.0 : 1.0 / j;
  }
  for (int i = 1; i <= nob; ++i) {
    rec->obs.XOBS[i] = 5.0 * (1 + i % 3);
    rec->obs.TOBS[i] = 0.7 * i;
  }
  rec->work.XMAX = 15.0;
  return rec;
}

}  // namespace btcfit::testing_support
