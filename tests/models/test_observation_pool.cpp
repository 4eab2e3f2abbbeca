// The observations of a model call evaluated side by side must give exactly
// the serial values, whatever the number of threads, and leave the working
// fields as a serial evaluation does. Small problems, so that the test also
// runs under the thread sanitizer.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "problem/problem_record.hpp"
#include "models/model.hpp"
#include "models/observation_pool.hpp"
#include "support/small_problem.hpp"
#include "support/work_bits.hpp"

namespace {

using namespace btcfit;
using btcfit::testing_support::problem;
using btcfit::testing_support::same_work_bits;

struct PoolCase {
  const char* name;
  int mode;
  std::array<double, 7> coefficients;
  int npulse;
  int nob = 7;
};

class PoolIdentity : public ::testing::TestWithParam<PoolCase> {};

TEST_P(PoolIdentity, SameBitsAsSerial) {
  const PoolCase& c = GetParam();
  auto serial = problem(c.mode, c.coefficients, c.nob, c.npulse);
  MODEL(*serial, serial->COEF[0], serial->CCALC);
  for (int threads : {2, 3, 5}) {
    ObservationPool pool(threads);
    auto parallel = problem(c.mode, c.coefficients, c.nob, c.npulse);
    for (int repeat = 0; repeat < 3; ++repeat) {
      MODEL(*parallel, parallel->COEF[0], parallel->CCALC, &pool);
      EXPECT_EQ(std::memcmp(parallel->CCALC.data(), serial->CCALC.data(),
                            sizeof serial->CCALC),
                0)
          << threads << " threads";
      // The working fields end as the serial evaluation left them.
      EXPECT_TRUE(same_work_bits(parallel->work, serial->work));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Models, PoolIdentity,
    ::testing::Values(PoolCase{"EquilibriumDecayPulses", 1, {12, 20, 1.5, 2, 0.05, 0.01, 0}, 3, 40},
                      PoolCase{"EquilibriumFlux", 2, {12, 20, 1.5, 2, 0, 0, 0}, 1, 30},
                      PoolCase{"NonequilibriumResident", 3, {20, 15, 2.5, 1, 0.4, 0.8, 0}, 1},
                      PoolCase{"NonequilibriumFluxPulses", 4, {25, 25, 3, 2, 0.5, 0.5, 0}, 3},
                      PoolCase{"StreamTubesPulses", 5, {1.2, 0.15, 1.3, 0, 0, 0, 0.35}, 3, 12},
                      PoolCase{"StreamTubesLoads", 8, {1.0, 0.15, 1.5, 1, 0, 0, 0.4}, 2}),
    [](const auto& info) { return std::string(info.param.name); });

// Many short jobs in a row: every observation is taken exactly once.
TEST(ObservationPool, EveryObservationOnce) {
  ObservationPool pool(3);
  ModelWork work;
  std::array<double, MAXOBS + 1> out{};
  auto task = [](const void*, ModelWork& w, int j) {
    w.XCUR = j;  // the last observation's fields are kept
    return 2.0 * j;
  };
  for (int n : {1, 2, 3, 17, 90}) {
    for (int round = 0; round < 200; ++round) {
      out.fill(-1.0);
      pool.run(n, work, task, nullptr, out);
      for (int j = 1; j <= n; ++j) ASSERT_EQ(out[j], 2.0 * j);
      ASSERT_EQ(out[n + (n < MAXOBS ? 1 : 0)], n < MAXOBS ? -1.0 : 2.0 * n);
      ASSERT_EQ(work.XCUR, double(n));
    }
  }
}

}  // namespace
