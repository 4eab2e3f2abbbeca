// Two fits on two threads of one process share nothing: each gives the
// result it gives alone (also run under the thread sanitizer).
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "btcfit/btcfit.hpp"

namespace {

using namespace btcfit;

// A small nonequilibrium problem whose search ends within a few outer
// iterations: observations made by the model itself, a start off the truth.
Problem small_problem() {
  Problem p;
  p.model = Model::nonequilibrium_resident;
  const double truth[] = {20, 15, 2.5, 1, 0.4, 0.8};
  const double offset[] = {5, -5, 0.8, 0, 0, 0};
  const char* names[] = {"V", "D", "R", "T0", "BETA", "OMEGA"};
  for (int k = 0; k < 6; ++k) {
    p.coefficients.push_back(
        {names[k], truth[k] + offset[k], 0.5 * truth[k], 2.0 * truth[k], k < 3});
  }
  for (int i = 1; i <= 6; ++i) p.observations.push_back({0.0, 5.0 * (1 + i % 3), 0.7 * i});
  p.input_concentration = 1.0;
  const std::vector<double> c = evaluate(p, std::vector<double>(truth, truth + 6));
  for (std::size_t i = 0; i < c.size(); ++i) p.observations[i].concentration = c[i];
  return p;
}

void expect_same(const FitResult& a, const FitResult& b) {
  ASSERT_EQ(a.coefficients.size(), b.coefficients.size());
  EXPECT_EQ(std::memcmp(a.coefficients.data(), b.coefficients.data(),
                        a.coefficients.size() * sizeof(double)),
            0);
  EXPECT_EQ(std::memcmp(&a.ssq, &b.ssq, sizeof a.ssq), 0);
  EXPECT_EQ(a.iterations, b.iterations);
  ASSERT_EQ(a.progress.size(), b.progress.size());
  ASSERT_EQ(a.calculated.size(), b.calculated.size());
  EXPECT_EQ(std::memcmp(a.calculated.data(), b.calculated.data(),
                        a.calculated.size() * sizeof(double)),
            0);
}

TEST(ConcurrentFits, EachAsAlone) {
  const Problem problem = small_problem();
  FitOptions options;
  options.threads = 2;
  const FitResult alone = fit(problem, options);
  ASSERT_GE(alone.iterations, 2);
  FitResult first, second;
  std::thread a([&] { first = fit(problem, options); });
  std::thread b([&] { second = fit(problem, options); });
  a.join();
  b.join();
  expect_same(first, alone);
  expect_same(second, alone);
}

}  // namespace
