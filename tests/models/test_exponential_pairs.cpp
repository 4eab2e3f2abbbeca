// exp_pair, the two-lane exp of the WebAssembly build: where it accepts a
// pair, each lane has the bits of fixed_exp (reference: fixed_exp, itself
// tested against the reference C library in test_fixed_math.cpp; tolerance:
// none). It must accept the pairs of the main range that the models meet, or
// it would bring no speed; it must refuse what lies outside the main range.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <ostream>
#include <random>
#include <string>

#include "models/exponential.hpp"
#include "models/exponential_pairs.hpp"

namespace btcfit {
namespace {

using exp_detail::DoublePair;
using exp_detail::exp_pair;

struct Range {
  const char* name;
  double lo, hi;
  long count;
  double min_accepted;  // share of pairs that exp_pair must accept
};

const Range kRanges[] = {
    // The arguments of the models' exponentials: mostly negative, moderate.
    {"models", -60.0, 5.0, 6'000'000, 0.99},
    // The whole main range 2^-54 <= |x| < 512 and a little beyond: a pair
    // is inside with probability (512/520)^2 = 0.9695.
    {"main range", -520.0, 520.0, 4'000'000, 0.96},
    // Near zero: index 0 of the table and a zero rounded quotient, which the
    // exact sums refuse (a zero factor) and fixed_exp takes.
    {"near zero", -0.01, 0.01, 2'000'000, 0.0},
};

void PrintTo(const Range& r, std::ostream* os) { *os << r.name; }

class ExpPair : public testing::TestWithParam<Range> {};

// Whether exp_pair accepts x; where it does, each lane is compared with
// fixed_exp bit for bit, every difference counted in `bad` and the first
// one reported.
bool accepted_with_bits_of_fixed_exp(DoublePair x, long& bad) {
  DoublePair y;
  if (!exp_pair(x, y)) return false;
  for (int lane = 0; lane < 2; ++lane) {
    const double want = fixed_exp(x[lane]);
    if (std::bit_cast<std::uint64_t>(y[lane]) != std::bit_cast<std::uint64_t>(want)) {
      if (bad == 0) ADD_FAILURE() << std::hexfloat << "exp(" << x[lane] << "): " << y[lane] << ", fixed_exp " << want;
      ++bad;
    }
  }
  return true;
}

TEST_P(ExpPair, AcceptedPairsHaveTheBitsOfFixedExp) {
  const Range& range = GetParam();
  std::mt19937_64 g(0xe2a1 + static_cast<std::uint64_t>(range.count));
  std::uniform_real_distribution<double> u(range.lo, range.hi);
  long accepted = 0, bad = 0;
  for (long i = 0; i < range.count; ++i) {
    const DoublePair x{u(g), u(g)};
    if (accepted_with_bits_of_fixed_exp(x, bad)) ++accepted;
  }
  EXPECT_EQ(bad, 0);
  EXPECT_GE(static_cast<double>(accepted), range.min_accepted * static_cast<double>(range.count));
}

INSTANTIATE_TEST_SUITE_P(Ranges, ExpPair, testing::ValuesIn(kRanges),
                         [](const testing::TestParamInfo<Range>& info) {
                           std::string name;
                           for (const char* p = info.param.name; *p != '\0'; ++p) name += (*p == ' ') ? '_' : *p;
                           return name;
                         });

// Arguments where the steps' sums come nearest a rounding boundary: x 128/ln 2
// within a few ulps of a half-integer (the rounded quotient's tie), and x
// next to a multiple of ln 2/128 (r near 0, the polynomial's sums on the
// constants' own values) or next to a half step (|r| at its largest, the
// sums farthest from their constants). Every pair exp_pair accepts must have
// fixed_exp's bits; fixed_exp is compared with the reference library's exp
// elsewhere.
TEST(ExpPair, SumsNearTheirRoundingBoundaries) {
  std::mt19937_64 g(0x5eed);
  std::uniform_int_distribution<int> step(-65000, 65000);
  std::uniform_int_distribution<int> ulps(-8, 8);
  std::uniform_int_distribution<int> offset(0, 2);  // 1: a whole step; 0, 2: a half step
  long accepted = 0, bad = 0;
  for (long i = 0; i < 2'000'000; ++i) {
    DoublePair x;
    for (int lane = 0; lane < 2; ++lane) {
      const double k = step(g) + (offset(g) == 1 ? 0.0 : 0.5);
      double v = k / exp_detail::kInvLn2N;
      for (int u = ulps(g); u != 0; u += (u > 0 ? -1 : 1)) {
        v = std::nextafter(v, u > 0 ? INFINITY : -INFINITY);
      }
      x[lane] = v;
    }
    if (accepted_with_bits_of_fixed_exp(x, bad)) ++accepted;
  }
  EXPECT_EQ(bad, 0);
  EXPECT_GT(accepted, 1'000'000);
}

TEST(ExpPair, RefusesArgumentsOutsideTheMainRange) {
  const double outside[] = {0.0, -0.0, 0x1p-60, 512.0, -600.0, 1000.0,
                            std::numeric_limits<double>::infinity(),
                            std::numeric_limits<double>::quiet_NaN()};
  for (double x : outside) {
    DoublePair y;
    EXPECT_FALSE(exp_pair(DoublePair{1.0, x}, y)) << x;
    EXPECT_FALSE(exp_pair(DoublePair{x, -2.0}, y)) << x;
  }
  DoublePair y;
  ASSERT_TRUE(exp_pair(DoublePair{1.0, -2.0}, y));
  EXPECT_EQ(y[0], fixed_exp(1.0));
  EXPECT_EQ(y[1], fixed_exp(-2.0));
}

}  // namespace
}  // namespace btcfit
