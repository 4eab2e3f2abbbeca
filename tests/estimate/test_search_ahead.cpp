// Trials evaluated ahead of their judgement on several threads must give the
// search of a single thread exactly: the same progress table, the same end,
// the same record afterwards. Small problems whose searches end within a few
// outer iterations, so that the test also runs under the thread sanitizer.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "estimate/annealing.hpp"
#include "models/call_fields.hpp"
#include "models/model.hpp"
#include "models/observation_pool.hpp"
#include "support/small_problem.hpp"
#include "support/work_bits.hpp"

namespace {

using namespace btcfit;
using btcfit::testing_support::problem;
using btcfit::testing_support::same_work_bits;

struct SearchCase {
  const char* name;
  int mode;
  std::array<double, 7> coefficients;  // the set the observations come from
  std::array<double, 7> start_offset;  // the initial set is off by this much
  std::array<int, 7> varied;
  int npulse;
  int nob;
  int IRED = 0;
  // Reduced time of the last observation (0: as the problem has it).
  double last_time = 0.0;
};

struct SearchRun {
  std::vector<std::string> lines;
  SearchOutcome outcome;
  std::unique_ptr<ProblemRecord> rec;
};

SearchRun search(const SearchCase& c, ObservationPool* pool) {
  SearchRun run;
  run.rec = problem(c.mode, c.coefficients, c.nob, c.npulse);
  ProblemRecord& rec = *run.rec;
  rec.obs.IRED = c.IRED;
  if (c.last_time != 0.0) rec.obs.TOBS[c.nob] = c.last_time;
  rec.pulses.CPULSE[2] = 0.5;  // a second pulse (or load) that counts
  // Observations: the model's own values for `coefficients`, computed on a
  // copy (the evaluation may move reduced times by a rounding).
  {
    auto source = std::make_unique<ProblemRecord>(rec);
    MODEL(*source, source->COEF[0], source->CCALC);
    for (int i = 1; i <= c.nob; ++i) rec.COBS[i] = source->CCALC[i];
  }
  for (int k = 1; k <= rec.obs.NCOEF; ++k) {
    const double value = c.coefficients[k - 1];
    rec.coef(k, 1) = value + c.start_offset[k - 1];
    rec.obs.IVAR[k] = c.varied[k - 1];
    rec.BMIN[k] = value > 0.0 ? 0.5 * value : value;
    rec.BMAX[k] = value > 0.0 ? 2.0 * value : value;
  }
  SearchControl control;
  control.pool = pool;
  control.progress = [&](std::int32_t n, double ssq, const CoefColumn& set) {
    std::string line = std::to_string(n) + " " + std::to_string(ssq);
    for (int row = 0; row < 2 * rec.obs.NCOEF; ++row) {
      std::uint64_t bits;
      std::memcpy(&bits, &set[row], sizeof bits);
      line += ' ';
      line += std::to_string(bits);
    }
    run.lines.push_back(line);
  };
  // Trials are judged only when those after them in the window have been
  // evaluated: every acceptance throws evaluations away.
  control.judge_full_window = true;
  run.outcome = run_search(rec, control);
  return run;
}

class SearchAhead : public ::testing::TestWithParam<SearchCase> {};

TEST_P(SearchAhead, SameSearchAsOneThread) {
  const SearchCase& c = GetParam();
  const SearchRun serial = search(c, nullptr);
  // A few outer iterations, with trials accepted (improvements at least):
  // evaluations ahead are thrown away.
  ASSERT_GE(serial.outcome.N, 2);
  ASSERT_LE(serial.outcome.N, 12) << "search too long for the thread sanitizer";
  const CallFields serial_fields = CallFields::of(*serial.rec);
  for (int threads : {2, 3}) {
    ObservationPool pool(threads);
    {
      const SearchRun parallel = search(c, &pool);
      EXPECT_EQ(parallel.lines, serial.lines) << threads << " threads";
      EXPECT_EQ(parallel.outcome.N, serial.outcome.N);
      EXPECT_EQ(std::memcmp(&parallel.outcome.SSQ, &serial.outcome.SSQ, sizeof(double)), 0);
      // The record afterwards: the sets, and the fields of the last call.
      EXPECT_EQ(std::memcmp(&parallel.rec->COEF, &serial.rec->COEF, sizeof serial.rec->COEF), 0);
      const CallFields fields = CallFields::of(*parallel.rec);
      EXPECT_EQ(std::memcmp(&fields.TOBS, &serial_fields.TOBS, sizeof fields.TOBS), 0);
      EXPECT_TRUE(same_work_bits(fields.work, serial_fields.work));
      EXPECT_EQ(std::memcmp(&fields.CCALC, &serial_fields.CCALC, sizeof fields.CCALC), 0);
      EXPECT_EQ(fields.CISAVE, serial_fields.CISAVE);
      // The fields a call hands to the next are predicted right: no trial
      // is evaluated twice for them.
      EXPECT_EQ(parallel.outcome.fields_differed, 0);
      // Trials were accepted, so trials evaluated ahead were thrown away.
      EXPECT_GT(parallel.outcome.thrown_away, 0) << threads << " threads";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Models, SearchAhead,
    ::testing::Values(
        SearchCase{"NonequilibriumResident", 3, {20, 15, 2.5, 1, 0.4, 0.8, 0},
                   {5.0, -5.0, 0.8, 0, 0, 0, 0}, {1, 1, 1, 0, 0, 0, 0}, 1, 6},
        SearchCase{"NonequilibriumFluxReducedTimes", 4, {25, 25, 3, 2, 0.5, 0.5, 0},
                   {0.2, 0.1, -0.1, 0, 0, 0, 0}, {1, 1, 1, 0, 0, 0, 0}, 3, 6, 2},
        SearchCase{"StreamTubesPulses", 5, {1.2, 0.15, 1.3, 0, 0, 0, 0.35},
                   {0.1, 0, 0, 0, 0, 0, 0.1}, {1, 0, 0, 0, 0, 0, 1}, 3, 6},
        // The last observation's real time (reduced time times XMAX / V)
        // passes the start of the second pulse (2) as V changes; the call
        // then leaves the concentration of another pulse in C0, which the
        // next call sets anew.
        SearchCase{"StreamTubesPulsesReducedTimes", 5, {1.2, 0.15, 1.3, 0, 0, 0, 0.35},
                   {0.1, 0, 0, 0, 0, 0, 0.1}, {1, 0, 0, 0, 0, 0, 1}, 3, 6, 2, 2.0 / 12.5},
        SearchCase{"StreamTubesLoadsReducedTimes", 8, {1.0, 0.15, 1.5, 1, 0, 0, 0.4},
                   {0.1, 0, 0, 0, 0, 0, -0.1}, {1, 0, 0, 0, 0, 0, 1}, 2, 5, 2, 4.0 / 15.0}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
