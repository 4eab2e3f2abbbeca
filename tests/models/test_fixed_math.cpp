// fixed_exp and fixed_log: the bits of the reference C library (x86-64
// with fused multiply-add) on every platform.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>

#include "models/exponential.hpp"
#include "models/logarithm.hpp"

namespace btcfit {
namespace {

std::uint64_t bits_of(double x) {
  std::uint64_t u;
  std::memcpy(&u, &x, sizeof u);
  return u;
}

double from_bits(std::uint64_t u) {
  double x;
  std::memcpy(&x, &u, sizeof x);
  return x;
}

// Arguments drawn from the bits of a fixed generator (the same sequence on
// every platform): kind 0 any bit pattern, 1 a uniform mantissa with an
// exponent in [lo, hi].
double argument(std::mt19937_64& g, int kind, int lo, int hi, bool negative_too) {
  const std::uint64_t r = g();
  if (kind == 0) return from_bits(r);
  const std::uint64_t mant = r & ((std::uint64_t{1} << 52) - 1);
  const std::uint64_t expo = static_cast<std::uint64_t>(lo + static_cast<int>((r >> 52) % (hi - lo + 1)));
  const std::uint64_t sign = negative_too ? (r >> 63) : 0;
  return from_bits((sign << 63) | ((expo + 1023) << 52) | mant);
}

template <class Own, class Library>
long count_differences(Own own, Library library, std::mt19937_64& g, long n, int lo, int hi,
                       bool negative_too) {
  long bad = 0;
  for (long i = 0; i < n; ++i) {
    const double x = argument(g, i % 8 == 0 ? 0 : 1, lo, hi, negative_too);
    const double a = own(x), b = library(x);
    if (bits_of(a) != bits_of(b) && !(std::isnan(a) && std::isnan(b))) {
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
    EXPECT_TRUE(bits_of(a) == bits_of(b) || (std::isnan(a) && std::isnan(b)))
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

// A fingerprint of many results, recorded on the reference machine; the
// same on every platform and build, so that it catches there what the
// comparison with the library cannot.
std::uint64_t fingerprint(double (*f)(double), int lo, int hi, bool negative_too) {
  std::mt19937_64 g(2016);
  std::uint64_t h = 0xcbf29ce484222325;
  for (int i = 0; i < 300'000; ++i) {
    const double y = f(argument(g, 1, lo, hi, negative_too));
    h = (h ^ bits_of(std::isnan(y) ? std::numeric_limits<double>::quiet_NaN() : y)) *
        0x100000001b3;
  }
  return h;
}

TEST(FixedMath, SameBitsOnEveryPlatform) {
  EXPECT_EQ(fingerprint(fixed_log, -1, 0, false), 15454949393491811460u);
  EXPECT_EQ(fingerprint(fixed_log, -1074, 1023, false), 3427474158794466968u);
  EXPECT_EQ(fingerprint(fixed_exp, -56, 9, true), 7175005400782848742u);
}

}  // namespace
}  // namespace btcfit
