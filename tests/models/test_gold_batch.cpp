// Batched evaluation of Goldstein's J function and of the nonequilibrium
// integrand: every value must carry exactly the bits of the single call.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "models/exchange_function.hpp"
#include "models/nonequilibrium.hpp"
#include "models/romberg.hpp"

namespace btcfit {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kMax = std::numeric_limits<double>::max();
constexpr double kDenorm = std::numeric_limits<double>::denorm_min();

bool same_bits(double x, double y) { return std::memcmp(&x, &y, sizeof x) == 0; }

// The way GOLD takes for (a, b), for the coverage counts.
enum Way { kSaturated, kZeroProduct, kSeries, kExpansion, kWays };

Way way_of(double a, double b) {
  const double x = 2.0 * std::sqrt(std::max(a * b, 0.0));
  const double d = a + b - x;
  if (d > 17.0) return kSaturated;
  if (x == 0.0) return kZeroProduct;
  const double N = std::trunc(double(0.3f) * std::max(a, b) + 2.0 * std::min(a, b) + 11.0);
  return N <= 25.0 ? kSeries : kExpansion;
}

// Compares GOLD_batch on the whole list, cut into batches of varying
// length, with GOLD pair by pair; returns the number of differing values.
struct Checker {
  std::mt19937_64 rng{20240611};
  std::array<long, kWays> ways{};
  long checked = 0;
  long differ = 0;

  void run(const std::vector<double>& a, const std::vector<double>& b) {
    const int n = static_cast<int>(a.size());
    std::vector<double> r(n, -7.0), r4(n, -7.0);
    std::uniform_int_distribution<int> len(1, 300);
    for (int start = 0; start < n;) {
      const int count = std::min(n - start, len(rng));
      GOLD_batch(a.data() + start, b.data() + start, r.data() + start, count);
      // The four-at-a-time sums of processors without AVX.
      gold_detail::GOLD_batch_in_groups(a.data() + start, b.data() + start, r4.data() + start,
                                        count, 4);
      start += count;
    }
    for (int i = 0; i < n; ++i) {
      ++ways[way_of(a[i], b[i])];
      ++checked;
      const double want = GOLD(a[i], b[i]);
      if (!same_bits(r[i], want) || !same_bits(r4[i], want)) {
        if (differ < 10) {
          ADD_FAILURE() << "GOLD(" << a[i] << ", " << b[i] << ") = " << want
                        << " but batch gives " << r[i] << " (in fours " << r4[i] << ")";
        }
        ++differ;
      }
    }
  }
};

const double kSpecial[] = {0.0,   -0.0,  kDenorm, 1e-310, 1e-300, 1e-200, 1e-17, 1e-8,
                           1e-3,  0.5,   1.0,     2.0,    7.5,    11.0,   16.9,  17.0,
                           17.1,  25.0,  40.0,    50.0,   60.0,   1e3,    1e8,   1e150,
                           1e300, kMax,  kInf,    -kInf,  kNaN,   -kNaN,  -1e-8, -0.5,
                           -1.0,  -5.0,  -20.0,   -60.0,  -1e300};

TEST(GoldBatch, TableOfAllWays) {
  Checker c;
  std::vector<double> a, b;
  for (double x : kSpecial) {
    for (double y : kSpecial) {
      a.push_back(x);
      b.push_back(y);
    }
  }
  // Each way alone and mixed, in short and long batches.
  const double pairs[][2] = {{0.5, 0.2},  {0.2, 0.5},   {3.0, 2.0},  {2.0, 3.0},  {7.5, 7.5},
                             {12.0, 10.0}, {10.0, 12.0}, {5.0, 0.0},  {0.0, 5.0},  {30.0, 1.0},
                             {1.0, 30.0}, {2.0, -0.5},  {18.0, 1e-4}, {1e-4, 18.0}, {100.0, 30.0},
                             {30.0, 100.0}, {16.9, 0.0}, {1e-12, 1e-12}, {40.0, 0.01}, {0.01, 40.0}};
  for (const auto& p : pairs) {
    a.push_back(p[0]);
    b.push_back(p[1]);
  }
  c.run(a, b);
  for (const auto& p : pairs) {
    double r = -1.0;
    GOLD_batch(&p[0], &p[1], &r, 1);
    EXPECT_TRUE(same_bits(r, GOLD(p[0], p[1]))) << p[0] << " " << p[1];
  }
  EXPECT_EQ(c.differ, 0);
  for (int w = 0; w < kWays; ++w) EXPECT_GT(c.ways[w], 0) << "way " << w;
}

TEST(GoldBatch, EmptyBatchWritesNothing) {
  double r = 3.0;
  GOLD_batch(nullptr, nullptr, &r, 0);
  EXPECT_EQ(r, 3.0);
}

TEST(GoldBatch, RandomArgumentsOverAllWays) {
  Checker c;
  std::mt19937_64 g(12345);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::uniform_int_distribution<int> pick(0, std::size(kSpecial) - 1);
  std::vector<double> a, b;
  const auto flush = [&] {
    c.run(a, b);
    a.clear();
    b.clear();
  };
  const auto add = [&](double x, double y) {
    a.push_back(x);
    b.push_back(y);
    if (a.size() == 100000) flush();
  };
  const auto log_uniform = [&](double lo, double hi) {
    return std::exp(std::log(lo) + unit(g) * (std::log(hi) - std::log(lo)));
  };
  for (int i = 0; i < 1500000; ++i) add(60.0 * unit(g), 60.0 * unit(g));
  for (int i = 0; i < 1000000; ++i) add(12.0 * unit(g), 12.0 * unit(g));
  for (int i = 0; i < 300000; ++i) {
    const double x = 60.0 * unit(g);
    add(x, x);  // equal arguments
  }
  for (int i = 0; i < 400000; ++i) {
    // Tiny to huge, either sign now and then.
    double x = log_uniform(1e-300, 1e300), y = log_uniform(1e-300, 1e300);
    if (unit(g) < 0.1) x = -x;
    if (unit(g) < 0.1) y = -y;
    if (unit(g) < 0.3) y = log_uniform(1e-12, 60.0);
    add(x, y);
  }
  for (int i = 0; i < 400000; ++i) {
    // Near the saturation bound (sqrt a - sqrt b)^2 = 17 and near the term
    // count bounds N = 25 and N = 1.
    const double M = 50.0 * unit(g);
    const double t = std::sqrt(M) + (unit(g) < 0.5 ? -1.0 : 1.0) * std::sqrt(17.0);
    const double m1 = t * t * (1.0 + 1e-12 * (unit(g) - 0.5));
    const double m2 = (15.0 - double(0.3f) * M) / 2.0 + 1e-9 * (unit(g) - 0.5);
    const double m3 = (-10.0 - double(0.3f) * M) / 2.0 + 1e-9 * (unit(g) - 0.5);
    const double m = i % 3 == 0 ? m1 : i % 3 == 1 ? m2 : m3;
    if (unit(g) < 0.5) {
      add(M, m);
    } else {
      add(m, M);
    }
  }
  for (int i = 0; i < 400000; ++i) {
    // Special values among ordinary ones.
    const double x = unit(g) < 0.5 ? kSpecial[pick(g)] : 60.0 * unit(g);
    const double y = unit(g) < 0.5 ? kSpecial[pick(g)] : 60.0 * unit(g);
    add(x, y);
  }
  flush();
  EXPECT_EQ(c.differ, 0) << "of " << c.checked;
  for (int w = 0; w < kWays; ++w) EXPECT_GT(c.ways[w], 10000) << "way " << w;
  EXPECT_GE(c.checked, 4000000);
}

TEST(GoldBatch, StoppingTestAroundTheBound) {
  // D within a few hundred ulps of 1e-8*T on either side, and far from it,
  // for T over the whole range the series can reach.
  std::mt19937_64 g(5150);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  long checked = 0, differ = 0;
  const auto check = [&](double D0, double T0, double D1, double T1) {
    const double D[2] = {D0, D1}, T[2] = {T0, T1};
    bool stop[2];
    gold_detail::series_stops(D, T, stop);
    for (int j = 0; j < 2; ++j) {
      ++checked;
      if (stop[j] != (D[j] / T[j] < 1e-8)) {
        if (differ < 10) ADD_FAILURE() << "D " << D[j] << " T " << T[j];
        ++differ;
      }
    }
  };
  for (int i = 0; i < 200000; ++i) {
    const double T = i % 2 ? std::ldexp(1.0 + unit(g), -990 + static_cast<int>(1989 * unit(g)))
                           : std::exp(60.0 * unit(g) - 5.0);
    double D = 1e-8 * T;
    const int steps = static_cast<int>(600 * unit(g)) - 300;
    for (int j = 0; j < std::abs(steps); ++j) D = std::nextafter(D, steps < 0 ? 0.0 : kInf);
    // The other lane: exactly on the bound, far below, far above or zero.
    const double far[4] = {1e-8 * T, 1e-12 * T, 1e-4 * T, 0.0};
    check(D, T, far[i % 4], T);
    check(far[(i + 1) % 4], T, D, T);
  }
  // Quotients of exactly 1e-8.
  for (int e = -990; e <= 990; e += 7) check(std::ldexp(1e-8, e), std::ldexp(1.0, e), 0.0, 1.0);
  EXPECT_EQ(differ, 0) << "of " << checked;
}

// Number of terms the series sums for (a, b), and the term count N, with
// GOLD's loop; 0 when the pair does not take the series.
struct Terms {
  int summed, N;
};

Terms series_terms(double a, double b) {
  if (way_of(a, b) != kSeries) return {0, 0};
  const double M = std::max(a, b), m = std::min(a, b);
  const int n = static_cast<int>(std::trunc(double(0.3f) * M + 2.0 * m + 11.0));
  const int s = (a < b) ? 1 : 0;
  double u = 1.0, U = 1.0, v = 1.0 + s * (m - 1.0), S = v;
  int k = 1;
  for (; k <= n; ++k) {
    u = u * M / k;
    U = U + u;
    v = v * m / (k + s);
    const double Snew = S + U * v;
    if ((Snew - S) / Snew < 1e-8) break;
    S = Snew;
  }
  return {std::min(k, n), n};
}

TEST(GoldBatch, ArgumentsWhereTheStoppingTestTurns) {
  // Bisection in b down to neighbouring doubles where the number of summed
  // terms changes at a fixed term count N: there the quotient of the
  // stopping test lies within a few ulps of 1e-8.
  Checker c;
  std::mt19937_64 g(99);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::vector<double> a, b;
  int found = 0;
  for (int trial = 0; trial < 20000; ++trial) {
    const double x = 0.01 + 14.0 * unit(g);
    double lo = 0.01 + 14.0 * unit(g), hi = lo * (1.0 + 0.5 * unit(g));
    const Terms tlo = series_terms(x, lo), thi = series_terms(x, hi);
    if (tlo.N == 0 || tlo.N != thi.N || tlo.summed == thi.summed) continue;
    for (int it = 0; it < 200 && std::nextafter(lo, hi) != hi; ++it) {
      const double mid = lo + 0.5 * (hi - lo);
      if (mid <= lo || mid >= hi) break;
      const Terms t = series_terms(x, mid);
      if (t.N != tlo.N) break;
      if (t.summed == tlo.summed) {
        lo = mid;
      } else {
        hi = mid;
      }
    }
    ++found;
    double y = lo;
    for (int j = 0; j < 4; ++j) y = std::nextafter(y, 0.0);
    for (int j = 0; j < 9; ++j, y = std::nextafter(y, kInf)) {
      a.push_back(x);  // either order: the complement takes its own series
      b.push_back(y);
      a.push_back(y);
      b.push_back(x);
    }
  }
  c.run(a, b);
  EXPECT_GT(found, 1000);
  EXPECT_EQ(c.differ, 0) << "of " << c.checked;
}

// ---------------------------------------------------------------------------
// The integrand and its integral over ln tau.

ModelWork random_work(std::mt19937_64& g) {
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  ModelWork w;
  w.MODE = unit(g) < 0.5 ? 3 : 4;
  w.RFAC = 1.0 + 4.0 * unit(g);
  w.PAR5 = std::min(0.05 + 0.95 * unit(g), 0.9999) * w.RFAC;
  w.DISP = 0.5 + 100.0 * unit(g);
  w.PAR6 = 0.01 + 10.0 * unit(g);
  w.XCUR = 0.05 + 1.5 * unit(g);
  w.TCUR = 0.1 + 10.0 * unit(g);
  return w;
}

TEST(GoldBatch, IntegrandBatchMatchesSingleCalls) {
  std::mt19937_64 g(777);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  long checked = 0, nonzero = 0, differ = 0;
  std::vector<double> tau(200), f(200);
  for (int trial = 0; trial < 4000; ++trial) {
    const ModelWork w = random_work(g);
    const int n = 1 + trial % 200;
    for (int i = 0; i < n; ++i) tau[i] = w.TCUR * std::pow(unit(g), 3.0) + 1e-12;
    if (trial % 7 == 0) tau[0] = w.TCUR;  // second argument of J zero
    CC0_batch(w, tau.data(), f.data(), n);
    for (int i = 0; i < n; ++i) {
      const double want = CC0(w, tau[i]);
      ++checked;
      if (want != 0.0) ++nonzero;
      if (!same_bits(f[i], want)) {
        if (differ < 10) ADD_FAILURE() << "CC0 at " << tau[i] << ": " << want << " vs " << f[i];
        ++differ;
      }
    }
  }
  EXPECT_EQ(differ, 0) << "of " << checked;
  EXPECT_GT(nonzero, checked / 10);
  EXPECT_LT(nonzero, checked);  // the cut-off is met as well
}

struct BatchedIntegrand {
  const ModelWork& w;
  double operator()(double tau) const { return CC0(w, tau); }
  void batch(const double* tau, double* f, int n) const { CC0_batch(w, tau, f, n); }
};

TEST(GoldBatch, RombergWithBatchMatchesSingleCalls) {
  static_assert(romberg_detail::BatchIntegrand<const BatchedIntegrand&>);
  std::mt19937_64 g(4242);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  int differ = 0;
  for (int trial = 0; trial < 3000; ++trial) {
    const ModelWork w = random_work(g);
    const double A = w.TCUR * (trial % 3 == 0 ? 1e-4 : unit(g)) + 1e-9;
    const double B = trial % 5 == 0 ? A : A + (w.TCUR - A) * unit(g);
    double single = -1.0, batched = -2.0;
    ROMB([&w](double tau) { return CC0(w, tau); }, single, A, B);
    const BatchedIntegrand F{w};
    ROMB(F, batched, A, B);
    if (!same_bits(single, batched)) {
      if (differ < 10) ADD_FAILURE() << "ROMB on [" << A << ", " << B << "]: " << single << " vs " << batched;
      ++differ;
    }
  }
  EXPECT_EQ(differ, 0);
}

TEST(GoldBatch, RombergCallsTheBatchForTheFirstLevelsThenPerLevel) {
  struct Counting {
    int* singles;
    int* batches;
    int* values;
    double operator()(double x) const {
      ++*singles;
      return 1.0 / x;
    }
    void batch(const double* x, double* f, int n) const {
      ++*batches;
      *values += n;
      for (int i = 0; i < n; ++i) f[i] = 1.0 / x[i];
    }
  };
  int singles = 0, batches = 0, values = 0;
  double S = 0.0;
  ROMB(Counting{&singles, &batches, &values}, S, 1.0, std::exp(1.0));
  // Levels 1 to 5 (16 abscissae) in one call, level 6 in another.
  EXPECT_EQ(singles, 0);
  EXPECT_EQ(batches, 2);
  EXPECT_EQ(values, 32);
  double T = 0.0;
  ROMB([](double x) { return 1.0 / x; }, T, 1.0, std::exp(1.0));
  EXPECT_TRUE(same_bits(S, T));
}

}  // namespace
}  // namespace btcfit
