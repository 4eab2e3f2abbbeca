// fixed_exp, fixed_log and fixed_pow: the bits of the reference C library
// (x86-64 with fused multiply-add) on every platform.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

#include "models/exponential.hpp"
#include "models/logarithm.hpp"
#include "models/power.hpp"
#include "models/stochastic_limit.hpp"

namespace btcfit {
namespace {

// Arguments drawn from the bits of a fixed generator (the same sequence on
// every platform): kind 0 any bit pattern, 1 a uniform mantissa with an
// exponent in [lo, hi].
double argument(std::mt19937_64& g, int kind, int lo, int hi, bool negative_too) {
  const std::uint64_t r = g();
  if (kind == 0) return std::bit_cast<double>(r);
  const std::uint64_t mant = r & ((std::uint64_t{1} << 52) - 1);
  const std::uint64_t expo = static_cast<std::uint64_t>(lo + static_cast<int>((r >> 52) % (hi - lo + 1)));
  const std::uint64_t sign = negative_too ? (r >> 63) : 0;
  return std::bit_cast<double>((sign << 63) | ((expo + 1023) << 52) | mant);
}

bool same_result(double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b) || (std::isnan(a) && std::isnan(b));
}

template <class Own, class Library>
long count_differences(Own own, Library library, std::mt19937_64& g, long n, int lo, int hi,
                       bool negative_too) {
  long bad = 0;
  for (long i = 0; i < n; ++i) {
    const double x = argument(g, i % 8 == 0 ? 0 : 1, lo, hi, negative_too);
    const double a = own(x), b = library(x);
    if (!same_result(a, b)) {
      if (bad == 0) ADD_FAILURE() << std::hexfloat << "at " << x << ": " << a << " vs " << b;
      ++bad;
    }
  }
  return bad;
}

// The library of this machine is the reference only on x86-64 with FMA
// (there it evaluates exp and log with fused multiply-adds).
bool library_is_reference() {
#if defined(__x86_64__) && defined(__GLIBC__)
  return __builtin_cpu_supports("fma");
#else
  return false;
#endif
}

TEST(FixedMath, LogHasTheLibraryBitsOnMillionsOfArguments) {
  if (!library_is_reference()) GTEST_SKIP() << "not the reference C library here";
  std::mt19937_64 g(16);
  const auto own = [](double x) { return fixed_log(x); };
  const auto lib = [](double x) { return std::log(x); };
  // Near 1 (the polynomial of its own), the models' range, every exponent.
  EXPECT_EQ(count_differences(own, lib, g, 2'000'000, -1, 0, false), 0);
  EXPECT_EQ(count_differences(own, lib, g, 2'000'000, -60, 60, false), 0);
  EXPECT_EQ(count_differences(own, lib, g, 1'000'000, -1074, 1023, true), 0);
  const double specials[] = {0.0, -0.0, 1.0, -1.0, 0x1p-1074, 0x1p-1022, 0x1.fffffffffffffp1023,
                             std::numeric_limits<double>::infinity(),
                             -std::numeric_limits<double>::infinity(),
                             std::numeric_limits<double>::quiet_NaN(), 1.0 - 0x1p-4,
                             1.0 + 0x1.09p-4, std::nextafter(1.0 + 0x1.09p-4, 0.0)};
  for (double x : specials) {
    const double a = fixed_log(x), b = std::log(x);
    EXPECT_TRUE(same_result(a, b))
        << std::hexfloat << x << ": " << a << " vs " << b;
  }
}

TEST(FixedMath, ExpHasTheLibraryBitsOnMillionsOfArguments) {
  if (!library_is_reference()) GTEST_SKIP() << "not the reference C library here";
  std::mt19937_64 g(61);
  const auto own = [](double x) { return fixed_exp(x); };
  const auto lib = [](double x) { return std::exp(x); };
  // The main range, then the ends where results overflow or turn subnormal.
  EXPECT_EQ(count_differences(own, lib, g, 2'000'000, -56, 8, true), 0);
  EXPECT_EQ(count_differences(own, lib, g, 1'000'000, 9, 9, true), 0);
  EXPECT_EQ(count_differences(own, lib, g, 500'000, -1074, 1023, true), 0);
}

// Arguments of pow: a row draws x, then y, from the generator's bits (and
// from fixed_log), so that a row gives the same pairs on every platform.
using Gen = std::mt19937_64;

struct PowDraw {
  const char* what;
  long compared;              // pairs compared with the library
  std::uint64_t fingerprint;  // of fixed_pow on 100'000 pairs
  double (*x)(Gen&);
  double (*y)(Gen&, double x);
};

const PowDraw kPowDraws[] = {
    {"scan factors of the velocity search", 2'000'000, 17599280011111524310u,
     [](Gen& g) { return argument(g, 1, 0, 20, false); },
     [](Gen&, double) { return LIMIT_STEPEXP; }},
    {"factors just above 1", 1'000'000, 1249166104908088248u,
     [](Gen& g) { return 1.0 + argument(g, 1, -53, -1, false); },
     [](Gen&, double) { return LIMIT_STEPEXP; }},
    {"every positive exponent, moderate y", 1'000'000, 7251004542175218801u,
     [](Gen& g) { return argument(g, 1, -1022, 1023, false); },
     [](Gen& g, double) { return argument(g, 1, -12, 3, true); }},
    {"results near overflow and in the subnormal range", 500'000, 11253066525217536274u,
     [](Gen& g) { return argument(g, 1, -1022, 1023, false); },
     [](Gen& g, double x) {
       const double t = static_cast<double>(g() >> 11) * 0x1p-53;
       return (g() & 1 ? 700.0 + 12.0 * t : -700.0 - 50.0 * t) / fixed_log(x);
     }},
    {"subnormal x", 200'000, 10751396921723730022u,
     [](Gen& g) { return std::bit_cast<double>(g() >> 12); },
     [](Gen& g, double) { return argument(g, 1, -8, 0, true); }},
    {"negative x, integer y", 300'000, 12572538411880201365u,
     [](Gen& g) { return -argument(g, 1, -10, 10, false); },
     [](Gen& g, double) { return static_cast<double>(static_cast<int>(g() % 201) - 100); }},
    {"tiny and huge y", 300'000, 16757459337250244864u,
     [](Gen& g) { return argument(g, 1, -3, 3, false); },
     [](Gen& g, double) { return argument(g, 1, -80, 70, true); }},
    {"x near 1, large y", 500'000, 9888061900597321589u,
     [](Gen& g) { return 1.0 + argument(g, 1, -53, -20, true); },
     [](Gen& g, double) { return argument(g, 1, 20, 62, true); }},
    {"any bits", 500'000, 7911207091750924075u,
     [](Gen& g) { return std::bit_cast<double>(g()); },
     [](Gen& g, double) { return std::bit_cast<double>(g()); }},
};

TEST(FixedMath, PowHasTheLibraryBitsOnMillionsOfArguments) {
  if (!library_is_reference()) GTEST_SKIP() << "not the reference C library here";
  std::uint64_t seed = 71;
  for (const PowDraw& d : kPowDraws) {
    Gen g(seed++);
    long bad = 0;
    for (long i = 0; i < d.compared; ++i) {
      const double x = d.x(g);
      const double y = d.y(g, x);
      const double a = fixed_pow(x, y), b = std::pow(x, y);
      if (!same_result(a, b) && bad++ == 0) {
        ADD_FAILURE() << d.what << std::hexfloat << ": pow(" << x << ", " << y << ") " << a
                      << " vs " << b;
      }
    }
    EXPECT_EQ(bad, 0) << d.what;
  }
  // Zeros, ones, infinities, NaN, the ends of the range and integers of
  // either parity against each other.
  const double inf = std::numeric_limits<double>::infinity();
  const double specials[] = {0.0,  -0.0, 1.0,  -1.0, 0.5,  -0.5,  2.0,  -2.0, 3.0, -3.0, inf,
                             -inf, std::numeric_limits<double>::quiet_NaN(), 0x1p-1074,
                             -0x1p-1074, 0x1p-1022, 0x1.fffffffffffffp1023, 0x1p-66, -0x1p-66,
                             0x1p63, -0x1p63, 0x1p53, 0x1p53 + 2.0, LIMIT_STEPEXP};
  for (double x : specials) {
    for (double y : specials) {
      EXPECT_TRUE(same_result(fixed_pow(x, y), std::pow(x, y)))
          << std::hexfloat << "pow(" << x << ", " << y << ") " << fixed_pow(x, y) << " vs "
          << std::pow(x, y);
    }
  }
}

// A fingerprint of many results, recorded on the reference machine; the
// same on every platform and build, so that it catches there what the
// comparison with the library cannot.
constexpr std::uint64_t kEmptyPrint = 0xcbf29ce484222325;

std::uint64_t mixed(std::uint64_t h, double y) {
  return (h ^ std::bit_cast<std::uint64_t>(std::isnan(y) ? std::numeric_limits<double>::quiet_NaN() : y)) *
         0x100000001b3;
}

std::uint64_t fingerprint(double (*f)(double), int lo, int hi, bool negative_too) {
  std::mt19937_64 g(2016);
  std::uint64_t h = kEmptyPrint;
  for (int i = 0; i < 300'000; ++i) h = mixed(h, f(argument(g, 1, lo, hi, negative_too)));
  return h;
}

TEST(FixedMath, SameBitsOnEveryPlatform) {
  EXPECT_EQ(fingerprint(fixed_log, -1, 0, false), 15454949393491811460u);
  EXPECT_EQ(fingerprint(fixed_log, -1074, 1023, false), 3427474158794466968u);
  EXPECT_EQ(fingerprint(fixed_exp, -56, 9, true), 7175005400782848742u);
  for (const PowDraw& d : kPowDraws) {
    Gen g(2016);
    std::uint64_t h = kEmptyPrint;
    for (int i = 0; i < 100'000; ++i) {
      const double x = d.x(g);
      h = mixed(h, fixed_pow(x, d.y(g, x)));
    }
    EXPECT_EQ(h, d.fingerprint) << d.what;
  }
}

}  // namespace
}  // namespace btcfit
