// exp(A)*erfc(B) for several argument pairs at once: every result has the
// bits of the one-pair evaluation, over all branches and guards.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "models/exponential_erfc.hpp"
#include "models/exponential_erfc_batch.hpp"
#include "tube_reference.hpp"

namespace btcfit {
namespace {

using tube_reference::EXF_reference;

// Bits of x, every NaN counted as one: the sign and payload of a NaN
// result follow the processor's rules for NaN operands and the order in
// which a compiler puts the operands of a product, and no output shows them.
std::uint64_t bits(double x) {
  if (x != x) x = std::numeric_limits<double>::quiet_NaN();
  std::uint64_t u;
  std::memcpy(&u, &x, sizeof u);
  return u;
}

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kDenorm = std::numeric_limits<double>::denorm_min();
constexpr double kMax = std::numeric_limits<double>::max();

// Values that sit on or next to a branch point or a guard.
std::vector<double> edge_values() {
  std::vector<double> e = {0.0,   -0.0,   kInf,    -kInf,   kNaN,  -kNaN,
                           kMax,  -kMax,  kDenorm, -kDenorm, 1e-300, -1e-300,
                           1e-160, -1e-160, 1.0,   -1.0,    0.5,   -0.5};
  for (double c : {3.0, -3.0, 100.0, -100.0, 10.0, -10.0, std::sqrt(100.0),
                   std::sqrt(200.0), -std::sqrt(200.0)}) {
    double lo = c, hi = c;
    e.push_back(c);
    for (int k = 0; k < 4; ++k) {
      lo = std::nextafter(lo, -kInf);
      hi = std::nextafter(hi, kInf);
      e.push_back(lo);
      e.push_back(hi);
    }
  }
  return e;
}

// Argument pairs drawn from all regions: both approximations, negative B,
// exponents on either side of the +-100 guards, A = 0 (as in E1), A near
// B*B +- 100 (the guard on W), edge values mixed in.
class PairSource {
 public:
  explicit PairSource(std::uint64_t seed) : rng_(seed), edges_(edge_values()) {}

  void next(double& A, double& B) {
    const int kind = static_cast<int>(rng_() % 10);
    switch (kind) {
      case 0:  // wide uniform
        A = uni(-130.0, 130.0);
        B = uni(-15.0, 15.0);
        break;
      case 1:  // around the switch at |B| = 3
        A = uni(-20.0, 20.0);
        B = (rng_() & 1 ? 3.0 : -3.0) + uni(-1e-3, 1e-3);
        if (rng_() % 4 == 0) B = ulps_from(rng_() & 1 ? 3.0 : -3.0);
        break;
      case 2:  // E1 of the tube solution: A = 0
        A = (rng_() & 1) ? 0.0 : -0.0;
        B = uni(-12.0, 12.0);
        break;
      case 3: {  // W = A - B*B near +-100
        B = uni(-12.0, 12.0);
        const double W = (rng_() & 1 ? 100.0 : -100.0) + uni(-1e-9, 1e-9) * 100.0;
        A = W + B * B;
        if (rng_() % 3 == 0) A = ulps_from(A);
        break;
      }
      case 4:  // |A| near 100 with B <= 0 or B == 0
        A = ulps_from((rng_() & 1) ? 100.0 : -100.0);
        B = (rng_() % 3 == 0) ? 0.0 : -std::fabs(uni(0.0, 12.0));
        break;
      case 5:  // B = 0: the guarded exponential
        A = uni(-110.0, 110.0);
        B = (rng_() & 1) ? 0.0 : -0.0;
        break;
      case 6:  // edge values in either place
        A = pick();
        B = pick();
        break;
      case 7:  // small and tiny B
        A = uni(-5.0, 5.0);
        B = std::ldexp(uni(-1.0, 1.0), -static_cast<int>(rng_() % 1080));
        break;
      case 8:  // large B: continued fraction or guard
        A = uni(-300.0, 300.0) * (rng_() % 4 == 0 ? 1e3 : 1.0);
        B = uni(-1.0, 1.0) * std::ldexp(1.0, static_cast<int>(rng_() % 40));
        break;
      default:  // E2-like: A = v X / D, B = (X + v tau)/s
        A = uni(0.0, 120.0);
        B = std::sqrt(A) * uni(0.5, 2.0);
        break;
    }
    if (rng_() % 50 == 0) A = pick();
    if (rng_() % 50 == 0) B = pick();
  }

 private:
  double uni(double lo, double hi) {
    return std::uniform_real_distribution<double>(lo, hi)(rng_);
  }
  double pick() { return edges_[rng_() % edges_.size()]; }
  double ulps_from(double c) {
    const int k = static_cast<int>(rng_() % 9) - 4;
    double x = c;
    for (int i = 0; i < std::abs(k); ++i) x = std::nextafter(x, k < 0 ? -kInf : kInf);
    return x;
  }

  std::mt19937_64 rng_;
  std::vector<double> edges_;
};

TEST(ExfPair, OnePairMatchesTheScalarStepsBitForBit) {
  PairSource src(1);
  for (int n = 0; n < 2000000; ++n) {
    double A, B;
    src.next(A, B);
    const double ref = EXF_reference(A, B);
    ASSERT_EQ(bits(EXF(A, B)), bits(ref)) << "A=" << A << " B=" << B;
    ASSERT_EQ(bits(exf_one(A, B)), bits(ref)) << "A=" << A << " B=" << B;
  }
}

// Both evaluations of a batch: the one this processor uses and the sorted
// one of processors without AVX2 and FMA.
template <int N>
void check_batches(std::uint64_t seed, int count) {
  PairSource src(seed);
  for (int n = 0; n < count; ++n) {
    double A[N], B[N], R[N], S[N];
    for (int i = 0; i < N; ++i) src.next(A[i], B[i]);
    exf_batch<N>(A, B, R);
    exf_batch_sorted(N, A, B, S);
    for (int i = 0; i < N; ++i) {
      const double ref = EXF_reference(A[i], B[i]);
      ASSERT_EQ(bits(R[i]), bits(ref))
          << "N=" << N << " lane " << i << " A=" << A[i] << " B=" << B[i];
      ASSERT_EQ(bits(S[i]), bits(ref))
          << "sorted, N=" << N << " lane " << i << " A=" << A[i] << " B=" << B[i];
    }
  }
}

TEST(ExfPair, BatchesOfEveryWidthMatchBitForBit) {
  check_batches<1>(11, 500000);
  check_batches<2>(12, 1500000);
  check_batches<3>(13, 500000);
  check_batches<4>(14, 1500000);
  check_batches<6>(15, 300000);
  check_batches<8>(16, 500000);
  check_batches<37>(17, 40000);
  check_batches<kExfBatchMax>(18, 40000);
}

TEST(ExfPair, GuardedExponentialsOfManyArguments) {
  // exf_zero_many against EXF(A, 0): edge values, both sides of the
  // +-100 guard, and random exponents, in runs of every length up to 200.
  std::vector<double> as = edge_values();
  for (double a : {100.0, -100.0, std::nextafter(100.0, 200.0), std::nextafter(-100.0, -200.0),
                   99.99, -99.99, 1e-20, -1e-20, 700.0, -750.0}) {
    as.push_back(a);
  }
  PairSource src(41);
  while (as.size() < 20000) {
    double A, B;
    src.next(A, B);
    as.push_back(A);
  }
  std::vector<double> r(as.size());
  for (std::size_t start = 0, len = 1; start < as.size(); start += len, len = len % 200 + 1) {
    const int n = static_cast<int>(std::min(len, as.size() - start));
    exf_zero_many(n, as.data() + start, r.data() + start);
  }
  for (std::size_t i = 0; i < as.size(); ++i) {
    ASSERT_EQ(bits(r[i]), bits(EXF_reference(as[i], 0.0))) << "A=" << as[i];
  }
}

TEST(ExfPair, EveryCombinationOfEdgeValuesInTwoLanes) {
  const std::vector<double> e = edge_values();
  std::vector<double> as = e;
  for (double a : {0.0, 2.0, 50.0, -50.0, 99.5, -99.5, 101.0, -101.0}) as.push_back(a);
  for (double a0 : as)
    for (double b0 : e)
      for (double b1 : e) {
        const double A[2] = {a0, -a0};
        const double B[2] = {b0, b1};
        double R[2];
        double S[2];
        exf_batch<2>(A, B, R);
        exf_batch_sorted(2, A, B, S);
        for (int q = 0; q < 2; ++q) {
          const double ref = EXF_reference(A[q], B[q]);
          ASSERT_EQ(bits(R[q]), bits(ref)) << A[q] << " " << B[q];
          ASSERT_EQ(bits(S[q]), bits(ref)) << "sorted " << A[q] << " " << B[q];
        }
      }
}

TEST(ExfPair, LanesOnDifferentBranchesKeepTheirOwnResults) {
  // Rational form, continued fraction, guard and B < 0 in every order.
  const double A[] = {0.0, 0.0, 3.0, 0.0, 200.0, 0.0, 1.0};
  const double B[] = {1.0, 4.0, 2.9, -5.0, 1.0, -20.0, 0.0};
  const int n = sizeof A / sizeof A[0];
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j)
      for (int k = 0; k < n; ++k)
        for (int l = 0; l < n; ++l) {
          const double a[4] = {A[i], A[j], A[k], A[l]};
          const double b[4] = {B[i], B[j], B[k], B[l]};
          double r[4], sorted[4];
          exf_batch<4>(a, b, r);
          exf_batch_sorted(4, a, b, sorted);
          for (int q = 0; q < 4; ++q) {
            ASSERT_EQ(bits(r[q]), bits(EXF_reference(a[q], b[q])));
            ASSERT_EQ(bits(sorted[q]), bits(EXF_reference(a[q], b[q])));
          }
        }
}

}  // namespace
}  // namespace btcfit
