// fma_by_parts: the bits of std::fma (a*b + c rounded once, ties to even) on
// tens of millions of triples, including the cases where a sum of rounded
// parts goes wrong: exact ties, values a tiny amount off a tie, cancellation
// of the product by c, results near underflow and overflow, and every
// boundary of the range that is handed to the C library.
//
// Reference: std::fma of this machine, which IEEE 754 and C require to be
// correctly rounded (a hardware instruction on processors with FMA, an exact
// routine elsewhere). Tolerance: none; the bit patterns must be equal.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <ostream>
#include <random>
#include <string>

#include "models/fused_multiply_add.hpp"

namespace btcfit {
namespace {

// The double (-1)^sign 2^exponent (1 + mantissa 2^-52), for exponents of
// normal numbers.
double make(std::uint64_t sign, int exponent, std::uint64_t mantissa) {
  return std::bit_cast<double>((sign << 63) | (static_cast<std::uint64_t>(exponent + 1023) << 52) |
                               (mantissa & ((std::uint64_t{1} << 52) - 1)));
}

// A double with a random sign and significand and an exponent in [lo, hi]
// (lo >= -1022, hi <= 1023).
double random_in(std::mt19937_64& g, int lo, int hi) {
  const std::uint64_t r = g();
  const int e = lo + static_cast<int>(g() % static_cast<std::uint64_t>(hi - lo + 1));
  return make(r >> 63, e, r);
}

struct Triple {
  double a, b, c;
};

// The number of triples on which fma_by_parts and std::fma differ in any
// bit; the first one is reported.
long differences(const std::function<Triple(std::mt19937_64&)>& draw, long n, std::uint64_t seed) {
  std::mt19937_64 g(seed);
  long bad = 0;
  for (long i = 0; i < n; ++i) {
    const Triple t = draw(g);
    const double own = fma_by_parts(t.a, t.b, t.c);
    const double ref = std::fma(t.a, t.b, t.c);
    if (std::bit_cast<std::uint64_t>(own) != std::bit_cast<std::uint64_t>(ref) &&
        !(std::isnan(own) && std::isnan(ref))) {
      if (bad == 0) {
        ADD_FAILURE() << std::hexfloat << "fma(" << t.a << ", " << t.b << ", " << t.c
                      << "): " << own << ", std::fma " << ref;
      }
      ++bad;
    }
  }
  return bad;
}

struct Family {
  const char* name;
  long count;
  std::function<Triple(std::mt19937_64&)> draw;
};

// A product a*b with a pl part (a*b - fl(a*b)) of a chosen size: a = 2^i (1 +
// 2^-m), b = 2^j (1 +- 2^-n), so that a*b = 2^(i+j) (1 + 2^-m +- 2^-n +-
// 2^-(m+n)) needs m + n bits; with m + n > 53 it is not a double.
Triple short_product(std::mt19937_64& g) {
  const int m = 20 + static_cast<int>(g() % 33);
  const int n = 20 + static_cast<int>(g() % 33);
  const int i = static_cast<int>(g() % 41) - 20;
  const int j = static_cast<int>(g() % 41) - 20;
  const std::uint64_t s = g();
  const double a = std::ldexp(1.0 + std::ldexp(1.0, -m), i) * ((s & 1) ? -1.0 : 1.0);
  const double b = std::ldexp((s & 2) ? 1.0 - std::ldexp(1.0, -n) : 1.0 + std::ldexp(1.0, -n), j);
  return {a, b, 0.0};
}

const Family kFamilies[] = {
    // Operands of the sizes that the models' exp, log and pow multiply.
    {"moderate exponents", 10'000'000,
     [](std::mt19937_64& g) {
       return Triple{random_in(g, -60, 60), random_in(g, -60, 60), random_in(g, -120, 120)};
     }},
    // Any normal operands, c also zero or subnormal now and then.
    {"all exponents", 5'000'000,
     [](std::mt19937_64& g) {
       const double c = (g() % 16 == 0) ? std::bit_cast<double>(g() >> 12) : random_in(g, -1022, 1023);
       return Triple{random_in(g, -1022, 1023), random_in(g, -1022, 1023), c};
     }},
    // c within a few ulps of -a*b: the product's low part is all that is
    // left, sometimes exactly zero.
    {"cancellation", 4'000'000,
     [](std::mt19937_64& g) {
       const double a = random_in(g, -500, 500), b = random_in(g, -500, 500);
       const double p = a * b;
       const std::int64_t k = static_cast<std::int64_t>(g() % 9) - 4;
       const double c = -std::bit_cast<double>(std::bit_cast<std::uint64_t>(p) + static_cast<std::uint64_t>(k));
       return Triple{a, b, c};
     }},
    // Exact ties: a*b an odd multiple of half an ulp of c, or of a quarter
    // or an eighth, all products exact (26-bit factors).
    {"ties", 4'000'000,
     [](std::mt19937_64& g) {
       const std::uint64_t r = g();
       const double A = static_cast<double>(((g() >> 38) | 1));  // odd, < 2^26
       const double B = static_cast<double>(((g() >> 38) | 1));
       const int k = static_cast<int>(g() % 200) - 100;  // ulp of c is 2^k
       const double c = make(r >> 63, k + 52, r);
       const int d = 1 + static_cast<int>(g() % 4);      // product's lowest bit 2^(k-d)
       const int ea = static_cast<int>(g() % 21) - 10;
       const double a = std::ldexp(A, ea) * ((r & 1) ? -1.0 : 1.0);
       const double b = std::ldexp(B, k - d - ea);
       return Triple{a, b, c};
     }},
    // Near ties: the rounded product is exactly half an ulp of c (or a
    // neighbour of it) and its low part, far below, decides the rounding.
    {"near ties", 4'000'000,
     [](std::mt19937_64& g) {
       Triple t = short_product(g);
       const double p = t.a * t.b;
       int e = 0;
       std::frexp(p, &e);                                     // |p| in [2^(e-1), 2^e)
       const int s = static_cast<int>(g() % 5) - 2;
       const std::uint64_t r = g();
       t.c = make(r >> 63, e - 1 + 53 + s, (g() % 4 == 0) ? 0 : r);  // ulp(c) near 2 |p|
       return t;
     }},
    // Products near 2^-968 .. 2^-1074 and c as small: the lower edge of the
    // exact range and subnormal results.
    {"underflow", 2'000'000,
     [](std::mt19937_64& g) {
       const int ea = -600 + static_cast<int>(g() % 200);
       const int eb = -975 - ea + static_cast<int>(g() % 16) - 8 - static_cast<int>(g() % 100);
       const double a = random_in(g, ea, ea), b = random_in(g, std::max(eb, -1022), std::max(eb, -1022));
       double c;
       switch (g() % 4) {
         case 0: c = -(a * b); break;
         case 1: c = std::bit_cast<double>(g() >> 11); break;  // subnormal or small normal
         case 2: c = random_in(g, -1022, -940); break;
         default: c = 0.0; break;
       }
       return Triple{a, b, c};
     }},
    // Products and c near the largest doubles: the upper edge of the range
    // and results that overflow.
    {"overflow", 2'000'000,
     [](std::mt19937_64& g) {
       const int ea = 400 + static_cast<int>(g() % 600);
       const int eb = 1016 - ea + static_cast<int>(g() % 10);
       const double a = random_in(g, std::min(ea, 1023), std::min(ea, 1023));
       const double b = random_in(g, std::min(eb, 1023), std::min(eb, 1023));
       const double c = (g() % 2) ? -(a * b) * 0.5 : random_in(g, 1015, 1023);
       return Triple{a, b, c};
     }},
    // Each operand's exponent at and around the limits of the exact range
    // (2^996 for a and b, 2^1021 for c, normal a and b).
    {"range boundaries", 2'000'000,
     [](std::mt19937_64& g) {
       const int edges[] = {-1022, -1021, -969, -968, -967, 994, 995, 996, 997, 1019, 1020, 1021, 1022, 1023};
       const int ea = edges[g() % 14], ec = edges[g() % 14];
       const int eb = (g() % 2) ? edges[g() % 14] : std::clamp(static_cast<int>(g() % 8) - 972 - ea, -1022, 1023);
       return Triple{random_in(g, ea, ea), random_in(g, std::clamp(eb, -1022, 1023), std::clamp(eb, -1022, 1023)),
                     random_in(g, ec, ec)};
     }},
    // Zeros of either sign, subnormal operands, infinities and NaN.
    {"special operands", 1'000'000,
     [](std::mt19937_64& g) {
       const double special[] = {0.0, -0.0, std::numeric_limits<double>::infinity(),
                                 -std::numeric_limits<double>::infinity(),
                                 std::numeric_limits<double>::quiet_NaN(),
                                 std::numeric_limits<double>::denorm_min(), -0x1p-1060,
                                 std::numeric_limits<double>::max(), 1.0, -1.0};
       Triple t{random_in(g, -1022, 1023), random_in(g, -1022, 1023), random_in(g, -1022, 1023)};
       const std::uint64_t which = g();
       if (which & 1) t.a = special[(which >> 8) % 10];
       if (which & 2) t.b = special[(which >> 16) % 10];
       if (which & 4) t.c = special[(which >> 24) % 10];
       return t;
     }},
};

void PrintTo(const Family& f, std::ostream* os) { *os << f.name; }

class FmaByParts : public testing::TestWithParam<Family> {};

TEST_P(FmaByParts, HasTheBitsOfStdFma) {
  const Family& f = GetParam();
  EXPECT_EQ(differences(f.draw, f.count, 0x5eed0000u + static_cast<std::uint64_t>(f.count)), 0)
      << "of " << f.count << " triples";
}

INSTANTIATE_TEST_SUITE_P(Families, FmaByParts, testing::ValuesIn(kFamilies),
                         [](const testing::TestParamInfo<Family>& info) {
                           std::string name;
                           for (const char* p = info.param.name; *p != '\0'; ++p) {
                             name += (*p == ' ') ? '_' : *p;
                           }
                           return name;
                         });

// Hand-checked cases where rounding c + fl(a*b) to nearest, and then adding
// the product's low part, would give another result.
TEST(FmaByParts, NearTieThatTwoRoundingsGetWrong) {
  // a*b = 1 - 2^-60 (a = 1 + 2^-30, b = 1 - 2^-30), c = 2^53 + 2, where the
  // ulp is 2: the exact sum 2^53 + 3 - 2^-60 lies just below the tie
  // 2^53 + 3 and rounds down to 2^53 + 2; fl(a*b) = 1 makes c + 1 the tie
  // itself, which rounds to the even 2^53 + 4.
  const double a = 1.0 + 0x1p-30, b = 1.0 - 0x1p-30, c = 0x1p53 + 2.0;
  EXPECT_EQ(fma_by_parts(a, b, c), 0x1p53 + 2.0);
  EXPECT_EQ((c + a * b), 0x1p53 + 4.0);  // the double rounding it avoids
  // a*b = 1 + 2^-29 + 2^-60 (a = b = 1 + 2^-30), c = 2^53 + 2: just above the
  // tie 2^53 + 3, rounds up to 2^53 + 4.
  EXPECT_EQ(fma_by_parts(1.0 + 0x1p-30, 1.0 + 0x1p-30, 0x1p53 + 2.0), 0x1p53 + 4.0);
}

TEST(FmaByParts, ExactCancellationLeavesTheLowPart) {
  // (1 + 2^-30)^2 - (1 + 2^-29) = 2^-60 exactly.
  EXPECT_EQ(fma_by_parts(1.0 + 0x1p-30, 1.0 + 0x1p-30, -(1.0 + 0x1p-29)), 0x1p-60);
  // x*y - fl(x*y) = 0 when the product is exact: +0, not -0.
  EXPECT_FALSE(std::signbit(fma_by_parts(3.0, 5.0, -15.0)));
}

TEST(FusedMultiplyAdd, IsStdFmaOnThisTarget) {
  // Outside WebAssembly the models call std::fma itself; the same triple as
  // above shows the single rounding.
  EXPECT_EQ(fused_multiply_add(1.0 + 0x1p-30, 1.0 - 0x1p-30, 0x1p53 + 2.0), 0x1p53 + 2.0);
}

}  // namespace
}  // namespace btcfit
