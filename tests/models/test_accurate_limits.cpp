// No NaN at the limits of the models' ranges: every accurate value of a
// step response without decay or production is finite and a reduced
// concentration, within [-1e-10, 1 + 1e-10] (the accuracy of the values),
// at t -> 0, x -> 0, large Peclet numbers, omega -> 0 and large, beta -> 1
// and small sigma.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "models/accurate.hpp"
#include "problem/model_traits.hpp"

namespace btcfit {
namespace {

struct Limit {
  const char* what;
  int code;
  double D;      // dispersion coefficient (codes 1-4) or dispersivity (5-8)
  double b5;     // beta (codes 3, 4)
  double b6;     // omega (codes 3, 4)
  double sigma;  // codes 5-8
  double x;
  double t;
};

double value(const Limit& l) {
  ProblemRecord rec;
  rec.work.MODE = l.code;
  rec.obs.NCOEF = model_traits(l.code).coefficient_count;
  rec.obs.IRED = 1;
  rec.work.C0 = rec.C0DECK = 1.0;
  rec.work.XMAX = 1.0;
  rec.pulses.NPULSE = 1;
  const int n = rec.obs.NCOEF;
  CoefColumn B{};
  B[n + 0] = 1.0;
  B[n + 1] = l.D;
  B[n + 2] = 2.0;
  B[n + 3] = 1e6;
  if (l.code <= 4) {
    B[n + 4] = (l.code >= 3) ? l.b5 : 0.0;
    B[n + 5] = (l.code >= 3) ? l.b6 : 0.0;
  } else {
    B[n + 6] = l.sigma;
  }
  double c = 0.0;
  accurate_model(rec, B, std::span<const double>(&l.x, 1), std::span<const double>(&l.t, 1),
                 std::span<double>(&c, 1));
  return c;
}

std::vector<Limit> limits() {
  std::vector<Limit> out;
  for (int code = 1; code <= 8; ++code) {
    const double s = 0.5;
    out.push_back({"t -> 0", code, 0.01, 0.5, 1.0, s, 1.0, 1e-300});
    out.push_back({"t small", code, 0.01, 0.5, 1.0, s, 1.0, 1e-9});
    out.push_back({"x = 0", code, 0.01, 0.5, 1.0, s, 0.0, 0.5});
    out.push_back({"x -> 0", code, 0.01, 0.5, 1.0, s, 1e-12, 0.5});
    out.push_back({"x -> 0, t -> 0", code, 0.01, 0.5, 1.0, s, 1e-12, 1e-12});
    out.push_back({"Peclet 1e6", code, 1e-6, 0.5, 1.0, s, 1.0, 2.0});
    out.push_back({"Peclet 1e6 at the front", code, 1e-6, 0.5, 1.0, s, 1.0, 1.0});
    out.push_back({"Peclet 1e-3", code, 1e3, 0.5, 1.0, s, 1.0, 2.0});
    out.push_back({"late", code, 0.01, 0.5, 1.0, s, 1.0, 1e4});
    if (code == 3 || code == 4) {
      out.push_back({"omega = 0", code, 0.01, 0.5, 0.0, s, 1.0, 1.2});
      out.push_back({"omega 1e-12", code, 0.01, 0.5, 1e-12, s, 1.0, 1.2});
      out.push_back({"omega 1e6", code, 0.01, 0.5, 1e6, s, 1.0, 2.0});
      out.push_back({"beta = 1", code, 0.01, 1.0, 1.0, s, 1.0, 1.2});
      out.push_back({"beta 0.99999", code, 0.01, 0.99999, 10.0, s, 1.0, 1.2});
      out.push_back({"beta 1e-6", code, 0.01, 1e-6, 1.0, s, 1.0, 1.2});
    }
    if (code >= 5) {
      out.push_back({"sigma 1e-3", code, 0.01, 0.0, 0.0, 1e-3, 1.0, 2.0});
      out.push_back({"sigma 1e-9", code, 0.01, 0.0, 0.0, 1e-9, 1.0, 2.0});
      out.push_back({"sigma = 0", code, 0.01, 0.0, 0.0, 0.0, 1.0, 2.0});
      out.push_back({"sigma 3", code, 0.01, 0.0, 0.0, 3.0, 1.0, 2.0});
    }
  }
  return out;
}

class AccurateLimits : public ::testing::TestWithParam<Limit> {};

TEST_P(AccurateLimits, FiniteReducedConcentration) {
  const Limit& l = GetParam();
  const double c = value(l);
  SCOPED_TRACE(std::string(l.what) + ", code " + std::to_string(l.code));
  ASSERT_TRUE(std::isfinite(c)) << c;
  EXPECT_GE(c, -1e-10);
  EXPECT_LE(c, 1.0 + 1e-10);
}

INSTANTIATE_TEST_SUITE_P(Limits, AccurateLimits, ::testing::ValuesIn(limits()));

// Limits whose value is known: omega = 0 leaves only the equilibrium sites
// (the equilibrium solution with retardation beta R), a very large omega
// the equilibrium solution with R, sigma = 0 a single tube of the mean
// velocity; each compared with the equilibrium code to 1e-10 (omega 1e6:
// the exchange leaves a lag of order 1/omega, tolerance 1e-4).
TEST(AccurateLimits, KnownLimitsAgreeWithEquilibrium) {
  const auto eq = [](int code, double R, double D, double x, double t) {
    ProblemRecord rec;
    rec.work.MODE = code;
    rec.obs.NCOEF = model_traits(code).coefficient_count;
    rec.obs.IRED = 1;
    rec.work.C0 = rec.C0DECK = 1.0;
    rec.work.XMAX = 1.0;
    rec.pulses.NPULSE = 1;
    CoefColumn B{};
    const int n = rec.obs.NCOEF;
    B[n + 0] = 1.0;
    B[n + 1] = D;
    B[n + 2] = R;
    B[n + 3] = 1e6;
    double c = 0.0;
    accurate_model(rec, B, std::span<const double>(&x, 1), std::span<const double>(&t, 1),
                   std::span<double>(&c, 1));
    return c;
  };
  for (int flux = 0; flux < 2; ++flux) {
    EXPECT_NEAR(value({"omega = 0", 3 + flux, 0.05, 0.5, 0.0, 0.0, 1.0, 1.2}),
                eq(1 + flux, 1.0, 0.05, 1.0, 1.2), 1e-10);
    EXPECT_NEAR(value({"omega 1e6", 3 + flux, 0.05, 0.5, 1e6, 0.0, 1.0, 2.1}),
                eq(1 + flux, 2.0, 0.05, 1.0, 2.1), 1e-4);
    // sigma = 0: dispersivity 0.05 at v = 1 is D = 0.05.
    EXPECT_NEAR(value({"sigma = 0", 5 + flux, 0.05, 0.0, 0.0, 0.0, 1.0, 2.1}),
                eq(1 + flux, 2.0, 0.05, 1.0, 2.1), 1e-10);
  }
}

}  // namespace
}  // namespace btcfit
