// exp(A)*erfc(B) without forming the two factors separately.
//
// For X = |B| the product is exp(A - X*X) * [exp(X*X)*erfc(X)]; the bracket
// comes from the rational approximation of Abramowitz and Stegun 7.1.26
// (with its exp(-X*X) factor left out) for X <= 3, and from a truncated
// continued fraction beyond. A negative B uses erfc(B) = 2 - erfc(|B|).
// The steps are in models/exponential_erfc_batch.hpp, shared with the
// evaluation of several argument pairs at once.
#include "models/exponential_erfc.hpp"

#include "models/exponential_erfc_batch.hpp"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "models/exponential.hpp"
#include "models/exponential_lanes.hpp"

namespace btcfit {

double EXF(double A, double B) { return exf_one(A, B); }

namespace exf_detail {

#if defined(__x86_64__)

namespace {

// The SSE2 functions in four lanes; each lane rounds as the scalar
// instructions do.
__attribute__((target("avx"))) inline __m256d rational4(__m256d X) {
  const __m256d one = _mm256_set1_pd(1.0);
  const __m256d t =
      _mm256_div_pd(one, _mm256_add_pd(one, _mm256_mul_pd(_mm256_set1_pd(kP), X)));
  __m256d q = _mm256_sub_pd(_mm256_set1_pd(kA4), _mm256_mul_pd(_mm256_set1_pd(kA5), t));
  q = _mm256_sub_pd(_mm256_set1_pd(kA3), _mm256_mul_pd(t, q));
  q = _mm256_sub_pd(_mm256_set1_pd(kA2), _mm256_mul_pd(t, q));
  q = _mm256_sub_pd(_mm256_set1_pd(kA1), _mm256_mul_pd(t, q));
  return _mm256_mul_pd(t, q);
}

__attribute__((target("avx"))) inline __m256d continued_fraction4(__m256d X) {
  __m256d d = _mm256_add_pd(_mm256_add_pd(X, _mm256_div_pd(_mm256_set1_pd(2.5), X)),
                            _mm256_set1_pd(1.0));
  d = _mm256_add_pd(X, _mm256_div_pd(_mm256_set1_pd(2.0), d));
  d = _mm256_add_pd(X, _mm256_div_pd(_mm256_set1_pd(1.5), d));
  d = _mm256_add_pd(X, _mm256_div_pd(_mm256_set1_pd(1.0), d));
  d = _mm256_add_pd(X, _mm256_div_pd(_mm256_set1_pd(0.5), d));
  return _mm256_div_pd(_mm256_set1_pd(kQ), d);
}

template <bool CF>
void by_twos(int n, const double* x, double* f) {
  int i = 0;
  for (; i + 2 <= n; i += 2) {
    const __m128d X = _mm_loadu_pd(x + i);
    _mm_storeu_pd(f + i, CF ? continued_fraction2(X) : rational2(X));
  }
  if (i < n) f[i] = CF ? continued_fraction(x[i]) : rational(x[i]);
}

// The continued fraction (CF) or the rational form on groups of four; the
// last one to three arguments are padded with copies of the last one.
template <bool CF>
__attribute__((target("avx"))) void by_fours(int n, const double* x, double* f) {
  if (n <= 0) return;
  int i = 0;
  for (; i + 4 <= n; i += 4) {
    const __m256d X = _mm256_loadu_pd(x + i);
    _mm256_storeu_pd(f + i, CF ? continued_fraction4(X) : rational4(X));
  }
  if (i < n) {
    alignas(32) double in[4], out[4];
    for (int k = 0; k < 4; ++k) in[k] = x[i + k < n ? i + k : n - 1];
    const __m256d X = _mm256_load_pd(in);
    _mm256_store_pd(out, CF ? continued_fraction4(X) : rational4(X));
    for (int k = i; k < n; ++k) f[k] = out[k - i];
  }
}

// exp(x) in four lanes where exp4 can take every needed lane; lanes that
// the library must evaluate go to it one by one.
__attribute__((target("avx2,fma"))) inline __m256d exp4_or_library(__m256d x) {
  if (_mm256_movemask_pd(_mm256_castsi256_pd(exp_detail::main_range4(x))) == 0xf) {
    return exp_detail::exp4(x);
  }
  alignas(32) double v[4];
  _mm256_store_pd(v, x);
  for (double& e : v) e = fixed_exp(e);
  return _mm256_load_pd(v);
}

// exf_one in four lanes, as masks instead of branches, with F the
// approximation of exp(X*X)*erfc(X) at X = |B| that exf_one would use; every
// result is chosen as the scalar branches choose it.
__attribute__((target("avx2,fma"))) inline __m256d exf4(__m256d A, __m256d B, __m256d F) {
  const __m256d zero = _mm256_setzero_pd();
  const __m256d one = _mm256_set1_pd(1.0);
  const __m256d cap = _mm256_set1_pd(kCap);
  const __m256d sign = _mm256_set1_pd(-0.0);
  const __m256d absA = _mm256_andnot_pd(sign, A);
  const __m256d bigA = _mm256_cmp_pd(absA, cap, _CMP_GT_OQ);
  const __m256d b0 = _mm256_cmp_pd(B, zero, _CMP_EQ_OQ);
  const __m256d bneg = _mm256_cmp_pd(B, zero, _CMP_LT_OQ);
  const __m256d a0 = _mm256_cmp_pd(A, zero, _CMP_EQ_OQ);

  const __m256d W = _mm256_sub_pd(A, _mm256_mul_pd(B, B));
  // B <= 0 with |A| > cap, or |W| > cap with B >= 0: the result is 0.
  const __m256d zero1 = _mm256_and_pd(_mm256_cmp_pd(B, zero, _CMP_LE_OQ), bigA);
  const __m256d zero2 = _mm256_and_pd(
      _mm256_cmp_pd(_mm256_andnot_pd(sign, W), cap, _CMP_GT_OQ),
      _mm256_cmp_pd(B, zero, _CMP_GE_OQ));
  const __m256d general = _mm256_andnot_pd(_mm256_or_pd(b0, _mm256_or_pd(zero1, zero2)),
                                           _mm256_castsi256_pd(_mm256_set1_epi64x(-1)));
  // exp(W)*F takes part unless W < -cap.
  const __m256d withF =
      _mm256_andnot_pd(_mm256_cmp_pd(W, _mm256_sub_pd(zero, cap), _CMP_LT_OQ), general);

  // exp(A) serves the guarded exponentials (B = 0, |A| <= cap) and the
  // reflections (B < 0); exp(W) the products. Lanes that need neither, and
  // A = 0 (exp(0) = 1), evaluate exp(1) instead, which exp4 takes.
  const __m256d needA = _mm256_andnot_pd(
      a0, _mm256_or_pd(_mm256_andnot_pd(bigA, b0), _mm256_and_pd(general, bneg)));
  // Groups of one kind of call often need only one of them.
  __m256d expA = one;
  if (_mm256_movemask_pd(needA) != 0) {
    expA = _mm256_blendv_pd(one, exp4_or_library(_mm256_blendv_pd(one, A, needA)), needA);
  }
  __m256d expW = one;
  if (_mm256_movemask_pd(withF) != 0) {
    expW = exp4_or_library(_mm256_blendv_pd(one, W, withF));
  }

  const __m256d guarded = _mm256_andnot_pd(bigA, _mm256_mul_pd(expA, _mm256_set1_pd(kF0)));
  // A NaN F (from a NaN B) is the result of the product, as in exf_one.
  const __m256d product = _mm256_blendv_pd(_mm256_mul_pd(expW, F), F,
                                           _mm256_cmp_pd(F, F, _CMP_UNORD_Q));
  __m256d r = _mm256_and_pd(withF, product);
  r = _mm256_blendv_pd(r, _mm256_sub_pd(_mm256_mul_pd(_mm256_set1_pd(2.0), expA), r), bneg);
  r = _mm256_and_pd(general, r);
  return _mm256_blendv_pd(r, guarded, b0);
}

// F of four arguments X = |B|: the continued fraction where X > kSplit (or
// X is NaN, as the scalar comparison decides), the rational form elsewhere.
// A group of one kind evaluates only that kind; a mixed group evaluates
// both and takes each lane from the one its comparison chooses. Neighbouring
// pairs usually have similar arguments, so mixed groups are few.
__attribute__((target("avx2,fma"))) inline __m256d approximation4(__m256d X) {
  const int cf = _mm256_movemask_pd(_mm256_cmp_pd(X, _mm256_set1_pd(kSplit), _CMP_NLE_UQ));
  if (cf == 0xf) return continued_fraction4(X);
  if (cf == 0) return rational4(X);
  const __m256d useCF = _mm256_cmp_pd(X, _mm256_set1_pd(kSplit), _CMP_NLE_UQ);
  return _mm256_blendv_pd(rational4(X), continued_fraction4(X), useCF);
}

// exf_one on n pairs, four at a time; the last one to three pairs are
// padded with (0, 0).
__attribute__((target("avx2,fma"))) void exf_wide(int n, const double* A, const double* B,
                                                  double* R) {
  const __m256d sign = _mm256_set1_pd(-0.0);
  int i = 0;
  for (; i + 4 <= n; i += 4) {
    const __m256d b = _mm256_loadu_pd(B + i);
    const __m256d F = approximation4(_mm256_andnot_pd(sign, b));
    _mm256_storeu_pd(R + i, exf4(_mm256_loadu_pd(A + i), b, F));
  }
  if (i < n) {
    alignas(32) double a[4] = {0.0, 0.0, 0.0, 0.0}, b[4] = {0.0, 0.0, 0.0, 0.0}, r[4];
    for (int k = i; k < n; ++k) {
      a[k - i] = A[k];
      b[k - i] = B[k];
    }
    const __m256d bb = _mm256_load_pd(b);
    const __m256d F = approximation4(_mm256_andnot_pd(sign, bb));
    _mm256_store_pd(r, exf4(_mm256_load_pd(a), bb, F));
    for (int k = i; k < n; ++k) R[k] = r[k - i];
  }
}

}  // namespace

void continued_fraction_many(int n, const double* x, double* f) {
  if (exp_detail::processor_has_avx()) {
    by_fours<true>(n, x, f);
  } else {
    by_twos<true>(n, x, f);
  }
}

void rational_many(int n, const double* x, double* f) {
  if (exp_detail::processor_has_avx()) {
    by_fours<false>(n, x, f);
  } else {
    by_twos<false>(n, x, f);
  }
}

bool exf_wide_in_use() { return exp_detail::wide_exp_in_use(); }

void exf_many_wide(int n, const double* A, const double* B, double* R) {
  exf_wide(n, A, B, R);
}

#else  // one value at a time: the same operations per value

void continued_fraction_many(int n, const double* x, double* f) {
  for (int i = 0; i < n; ++i) f[i] = continued_fraction(x[i]);
}

void rational_many(int n, const double* x, double* f) {
  for (int i = 0; i < n; ++i) f[i] = rational(x[i]);
}

bool exf_wide_in_use() { return false; }

void exf_many_wide(int n, const double* A, const double* B, double* R) {
  for (int i = 0; i < n; ++i) R[i] = exf_one(A[i], B[i]);
}

#endif  // __x86_64__

}  // namespace exf_detail

}  // namespace btcfit
