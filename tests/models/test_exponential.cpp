// The four-lane exp against the C library's exp, bit for bit.
#include "models/exponential.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

namespace btcfit {
namespace {

std::uint64_t bits_of(double x) {
  std::uint64_t u;
  std::memcpy(&u, &x, sizeof u);
  return u;
}

// Counts the arguments whose wide result differs from std::exp and reports
// the first one.
void expect_same_as_library(const std::vector<double>& x) {
  std::vector<double> y(x.size());
  exp_detail::exp_many_wide(static_cast<int>(x.size()), x.data(), y.data());
  std::size_t bad = 0;
  for (std::size_t i = 0; i < x.size(); ++i) {
    const double want = std::exp(x[i]);
    if (bits_of(y[i]) != bits_of(want) && !(std::isnan(want) && std::isnan(y[i]))) {
      if (bad == 0) {
        ADD_FAILURE() << "exp(" << std::hexfloat << x[i] << ") = " << y[i] << ", library "
                      << want;
      }
      ++bad;
    }
  }
  EXPECT_EQ(bad, 0u);
}

class WideExp : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!exp_detail::processor_has_wide_exp()) GTEST_SKIP() << "no AVX2 and FMA here";
    if (!exp_detail::wide_exp_in_use()) {
      GTEST_SKIP() << "this C library's exp is not the table evaluation";
    }
  }
};

TEST_F(WideExp, UniformArgumentsOfTheModels) {
  // The erfc products keep exponents within +-100; a few more beyond.
  std::mt19937_64 gen(20261209);
  std::uniform_real_distribution<double> u(-110.0, 110.0);
  std::vector<double> x(4'000'003);
  for (double& v : x) v = u(gen);
  expect_same_as_library(x);
}

TEST_F(WideExp, RandomBitPatternsOfEveryMagnitude) {
  // Exponent fields across the whole double range, so that tiny, huge,
  // subnormal, infinite and NaN arguments mix with ordinary ones in the
  // same groups of four.
  std::mt19937_64 gen(7);
  std::vector<double> x(2'000'001);
  for (double& v : x) {
    const std::uint64_t mant = gen() & ((std::uint64_t{1} << 52) - 1);
    const std::uint64_t sign = gen() & 1;
    const std::uint64_t expo = 0x3c0 + gen() % 0x50;  // 2^-63 .. 2^16
    std::uint64_t u = (sign << 63) | (expo << 52) | mant;
    if (gen() % 97 == 0) u = gen();  // anything at all, now and then
    std::memcpy(&v, &u, sizeof v);
  }
  expect_same_as_library(x);
}

TEST_F(WideExp, EdgesOfTheTableEvaluation) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  std::vector<double> x = {0.0,  -0.0,   0x1p-54, -0x1p-54, 0x1.fffffffffffffp-55,
                           511.9, -511.9, 512.0,   -512.0,   709.78,
                           -708.4, -745.2, 1000.0, -1000.0,  inf,
                           -inf,  nan,    1.0,     -1.0,     0.6931471805599453};
  // Points where k*ln2/128 rounding changes: halfway between table steps.
  for (int k = -1000; k <= 1000; ++k) {
    const double c = (k + 0.5) * (0.6931471805599453 / 128.0);
    x.push_back(std::nextafter(c, -inf));
    x.push_back(c);
    x.push_back(std::nextafter(c, inf));
  }
  // Every length of a call, so the tail groups of one to three are covered.
  for (std::size_t n = 1; n <= 9; ++n) {
    expect_same_as_library(std::vector<double>(x.begin(), x.begin() + n));
  }
  expect_same_as_library(x);
}

TEST(ExpMany, SameArrayInAndOutAndEveryPath) {
  // exp_many, whichever evaluation it chose, gives the library's values,
  // also when it overwrites its arguments.
  std::vector<double> x;
  for (int k = -300; k <= 300; ++k) x.push_back(k * 0.337);
  std::vector<double> y = x;
  exp_many(static_cast<int>(y.size()), y.data(), y.data());
  for (std::size_t i = 0; i < x.size(); ++i) {
    EXPECT_EQ(bits_of(y[i]), bits_of(std::exp(x[i]))) << x[i];
  }
}

}  // namespace
}  // namespace btcfit
