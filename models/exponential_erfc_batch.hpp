// exp(A)*erfc(B) for a few independent argument pairs at once.
//
// exf_one is the scalar evaluation (EXF in models/exponential_erfc.hpp is
// this function out of line). exf_batch evaluates up to eight pairs with the
// same operations, on the same operands and in the same order per pair as
// exf_one, so every result has the bits of exf_one; it only runs the
// rational approximations (and the continued fractions) of two pairs side
// by side in the two lanes of an SSE2 register, which shortens the chain of
// dependent divisions of the continued fraction. The guards and the
// exponentials stay per pair.
#pragma once

#if defined(__x86_64__)
#include <emmintrin.h>
#endif

#include <cmath>

#include "models/exponential.hpp"

namespace btcfit {

namespace exf_detail {

// Abramowitz and Stegun 7.1.26, signs of a2 and a4 folded into the nesting.
// The coefficients are single-precision values carried in double
// arithmetic; the widened values are the ones in effect.
inline constexpr double kP = double(0.3275911f);
inline constexpr double kA1 = double(0.2548296f);
inline constexpr double kA2 = double(0.2844967f);
inline constexpr double kA3 = double(1.421414f);
inline constexpr double kA4 = double(1.453152f);
inline constexpr double kA5 = double(1.061405f);
// 1/sqrt(pi), numerator of the continued fraction.
inline constexpr double kQ = double(0.5641896f);

static_assert(kP == 0.32759109139442444);
static_assert(kA1 == 0.2548295855522156);
static_assert(kA2 == 0.2844966948032379);
static_assert(kA3 == 1.4214140176773071);
static_assert(kA4 == 1.4531519412994385);
static_assert(kA5 == 1.0614049434661865);
static_assert(kQ == 0.564189612865448);

// exp(X*X)*erfc(X) of the rational approximation at X = 0 (t = 1):
// 0.9999999105930328, the value that EXF(A, 0) multiplies exp(A) by.
inline constexpr double kF0 =
    1.0 * (kA1 - 1.0 * (kA2 - 1.0 * (kA3 - 1.0 * (kA4 - kA5 * 1.0))));
static_assert(kF0 == 0.9999999105930328);

// Largest |exponent| that is evaluated; beyond it results are fixed.
inline constexpr double kCap = 100.0;
// Bound between the rational approximation and the continued fraction.
inline constexpr double kSplit = 3.0;

// exp(X*X)*erfc(X), rational approximation (X <= 3).
inline double rational(double X) {
  const double t = 1.0 / (1.0 + kP * X);
  return t * (kA1 - t * (kA2 - t * (kA3 - t * (kA4 - kA5 * t))));
}

// exp(X*X)*erfc(X), continued fraction (X > 3); the innermost denominator
// is X + 2.5/X + 1.
inline double continued_fraction(double X) {
  return kQ / (X + 0.5 / (X + 1.0 / (X + 1.5 / (X + 2.0 / (X + 2.5 / X + 1.0)))));
}

#if defined(__x86_64__)
// The two functions above in both lanes of X; each lane sees exactly the
// scalar operations (SSE2 arithmetic rounds every lane as the scalar
// instructions do).
inline __m128d rational2(__m128d X) {
  const __m128d one = _mm_set1_pd(1.0);
  const __m128d t = _mm_div_pd(one, _mm_add_pd(one, _mm_mul_pd(_mm_set1_pd(kP), X)));
  __m128d q = _mm_sub_pd(_mm_set1_pd(kA4), _mm_mul_pd(_mm_set1_pd(kA5), t));
  q = _mm_sub_pd(_mm_set1_pd(kA3), _mm_mul_pd(t, q));
  q = _mm_sub_pd(_mm_set1_pd(kA2), _mm_mul_pd(t, q));
  q = _mm_sub_pd(_mm_set1_pd(kA1), _mm_mul_pd(t, q));
  return _mm_mul_pd(t, q);
}

inline __m128d continued_fraction2(__m128d X) {
  __m128d d = _mm_add_pd(_mm_add_pd(X, _mm_div_pd(_mm_set1_pd(2.5), X)), _mm_set1_pd(1.0));
  d = _mm_add_pd(X, _mm_div_pd(_mm_set1_pd(2.0), d));
  d = _mm_add_pd(X, _mm_div_pd(_mm_set1_pd(1.5), d));
  d = _mm_add_pd(X, _mm_div_pd(_mm_set1_pd(1.0), d));
  d = _mm_add_pd(X, _mm_div_pd(_mm_set1_pd(0.5), d));
  return _mm_div_pd(_mm_set1_pd(kQ), d);
}
#endif  // __x86_64__

// f[i] = continued_fraction(x[i]) and f[i] = rational(x[i]) for i < n,
// four at a time with AVX where the processor has it, else two at a time
// (x86-64), one at a time elsewhere.
void continued_fraction_many(int n, const double* x, double* f);
void rational_many(int n, const double* x, double* f);

// exf_one for n pairs, four at a time without branches; only where
// exf_wide_in_use() (AVX2 and FMA, and exp_many's check passed).
bool exf_wide_in_use();
void exf_many_wide(int n, const double* A, const double* B, double* R);

// exp(A); exp(0) is 1 exactly, which saves the call for the frequent A = 0.
inline double exp_or_one(double A) { return A == 0.0 ? 1.0 : fixed_exp(A); }

}  // namespace exf_detail

// exp(A)*erfc(B), formed as exp(A - B*B) times an approximation of
// exp(B*B)*erfc(B); a negative B uses erfc(B) = 2 - erfc(|B|). Exponents
// outside the window +-100 give fixed values (mostly 0).
inline double exf_one(double A, double B) {
  using namespace exf_detail;
  // The guarded exponential EXF(A, 0), the most frequent call: the general
  // steps below reduce to this, with the same result bits.
  if (B == 0.0) {
    if (std::fabs(A) > kCap) return 0.0;
    return fixed_exp(A) * kF0;
  }
  double R = 0.0;
  if (B <= 0.0 && std::fabs(A) > kCap) return 0.0;
  const double W = A - B * B;
  if (std::fabs(W) > kCap && B >= 0.0) return 0.0;
  if (!(W < -kCap)) {
    const double X = std::fabs(B);
    const double F = (X <= kSplit) ? rational(X) : continued_fraction(X);
    // A NaN B makes F = |B| (quieted) and exp(W) NaN as well; the result
    // is then F, whatever order of operands a compiler gives the product.
    R = (F != F) ? F : fixed_exp(W) * F;
  }
  if (B < 0.0) R = 2.0 * exp_or_one(A) - R;
  return R;
}

// Most argument pairs that exf_batch takes at once.
inline constexpr int kExfBatchMax = 96;

// exf_batch on processors without AVX2 and FMA: the pairs are sorted by
// branch, the approximations run two (or four, with AVX) at a time.
inline void exf_batch_sorted(int n, const double* A, const double* B, double* R) {
  using namespace exf_detail;
  enum : unsigned char { kZero, kGuardedExp, kGeneral };
  unsigned char kind[kExfBatchMax];
  bool withF[kExfBatchMax];  // exp(W)*F is part of the result
  double W[kExfBatchMax], X[kExfBatchMax], F[kExfBatchMax];
  // Pairs on the continued fraction, pairs on the rational form.
  int cf[kExfBatchMax], ra[kExfBatchMax];
  int ncf = 0, nra = 0;

  for (int i = 0; i < n; ++i) {
    const double a = A[i], b = B[i];
    kind[i] = kZero;
    withF[i] = false;
    W[i] = 0.0;
    if (b == 0.0) {
      if (!(std::fabs(a) > kCap)) kind[i] = kGuardedExp;
      continue;
    }
    if (b <= 0.0 && std::fabs(a) > kCap) continue;
    W[i] = a - b * b;
    if (std::fabs(W[i]) > kCap && b >= 0.0) continue;
    kind[i] = kGeneral;
    if (!(W[i] < -kCap)) {
      withF[i] = true;
      X[i] = std::fabs(b);
      if (X[i] <= kSplit) {
        ra[nra++] = i;
      } else {
        cf[ncf++] = i;  // also a NaN X, as in the scalar comparison
      }
    }
  }

  // The continued fractions and the rational forms, each as one run of
  // arguments.
  double xs[kExfBatchMax], fs[kExfBatchMax];
  for (int k = 0; k < ncf; ++k) xs[k] = X[cf[k]];
  continued_fraction_many(ncf, xs, fs);
  for (int k = 0; k < ncf; ++k) F[cf[k]] = fs[k];
  for (int k = 0; k < nra; ++k) xs[k] = X[ra[k]];
  rational_many(nra, xs, fs);
  for (int k = 0; k < nra; ++k) F[ra[k]] = fs[k];

  // The exponentials of all pairs in one sweep: exp(A) of the guarded
  // exponentials, exp(W) of the products and exp(A) of the reflections.
  double xe[2 * kExfBatchMax], ye[2 * kExfBatchMax];
  int atW[kExfBatchMax], atA[kExfBatchMax];
  int ne = 0;
  for (int i = 0; i < n; ++i) {
    atW[i] = atA[i] = -1;
    if (kind[i] == kGuardedExp) {
      atA[i] = ne;
      xe[ne++] = A[i];
    } else if (kind[i] == kGeneral) {
      if (withF[i] && F[i] == F[i]) {
        atW[i] = ne;
        xe[ne++] = W[i];
      }
      if (B[i] < 0.0 && A[i] != 0.0) {
        atA[i] = ne;
        xe[ne++] = A[i];
      }
    }
  }
  if (ne > 0) exp_many(ne, xe, ye);

  for (int i = 0; i < n; ++i) {
    if (kind[i] == kZero) {
      R[i] = 0.0;
    } else if (kind[i] == kGuardedExp) {
      R[i] = ye[atA[i]] * kF0;
    } else {
      double r = 0.0;
      // A NaN B makes F = |B| (quieted) and exp(W) NaN as well; the
      // one-pair product exp(W)*F is then F, the first operand of its
      // multiplication: spelt out here, where the operand order might differ.
      if (withF[i]) r = (F[i] != F[i]) ? F[i] : ye[atW[i]] * F[i];
      if (B[i] < 0.0) r = 2.0 * (A[i] == 0.0 ? 1.0 : ye[atA[i]]) - r;
      R[i] = r;
    }
  }
}

// R[i] = exf_one(A[i], B[i]) for i < n (1 <= n <= kExfBatchMax), bit for bit.
inline void exf_batch(int n, const double* A, const double* B, double* R) {
  if (exf_detail::exf_wide_in_use()) {
    exf_detail::exf_many_wide(n, A, B, R);
  } else {
    exf_batch_sorted(n, A, B, R);
  }
}

// R[i] = exf_one(A[i], B[i]) for any number n >= 0 of pairs.
inline void exf_many(int n, const double* A, const double* B, double* R) {
  for (int i = 0; i < n; i += kExfBatchMax) {
    exf_batch(n - i < kExfBatchMax ? n - i : kExfBatchMax, A + i, B + i, R + i);
  }
}

// R[i] = exf_one(A[i], 0) (the guarded exponential) for n >= 0 arguments;
// R must not overlap A.
inline void exf_zero_many(int n, const double* A, double* R) {
  using namespace exf_detail;
  if (n <= 0) return;
  exp_many(n, A, R);
  for (int i = 0; i < n; ++i) R[i] = (std::fabs(A[i]) > kCap) ? 0.0 : R[i] * kF0;
}

// The same for a fixed number N of pairs.
template <int N>
inline void exf_batch(const double (&A)[N], const double (&B)[N], double (&R)[N]) {
  static_assert(N >= 1 && N <= kExfBatchMax);
  exf_batch(N, A, B, R);
}

}  // namespace btcfit
