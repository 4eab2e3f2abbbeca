// Goldstein's J function,
//   J(a, b) = 1 - integral_0^a exp(-b - xi) I0(2 sqrt(b xi)) dxi.
//
// Four ways of evaluation: saturated values when (sqrt a - sqrt b)^2 > 17,
// the closed form for a zero product, a truncated double series for moderate
// arguments and an asymptotic expansion (Abramowitz and Stegun 9.8.2 for
// I0, 7.1.26 for erfc) for large ones. Series and expansion are written for
// the larger argument in the inner position; for a < b the complement is
// evaluated and converted at the end with
//   J(a, b) + J(b, a) = 1 + exp(-a - b) I0(2 sqrt(ab)).
// Constants other than the decision values are single-precision values
// carried in double arithmetic.
#include "models/exchange_function.hpp"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <algorithm>
#include <bit>
#include <cmath>

#include "models/exponential.hpp"
#include "models/exponential_erfc.hpp"
#include "models/exponential_erfc_batch.hpp"

namespace btcfit {

namespace {

constexpr double kTermFactor = double(0.3f);  // weight of M in the term count
static_assert(kTermFactor == 0.30000001192092896);

// Abramowitz and Stegun 9.8.2: sqrt(x) exp(-x) I0(x) for x >= 3.75.
constexpr double kC0 = double(0.39894228f);
constexpr double kC1 = double(0.01328592f);
constexpr double kC2 = double(0.00225319f);
constexpr double kC3 = double(-0.00157565f);
constexpr double kC4 = double(0.00916281f);
constexpr double kC5 = double(-0.02057706f);
constexpr double kC6 = double(0.02635537f);
constexpr double kC7 = double(-0.01647633f);
constexpr double kC8 = double(0.00392377f);
static_assert(kC0 == 0.3989422917366028);
static_assert(kC1 == 0.013285920023918152);
static_assert(kC2 == 0.002253189915791154);
static_assert(kC3 == -0.0015756499487906694);
static_assert(kC4 == 0.009162809699773788);
static_assert(kC5 == -0.02057706005871296);
static_assert(kC6 == 0.02635537087917328);
static_assert(kC7 == -0.016476329416036606);
static_assert(kC8 == 0.003923770040273666);

// Abramowitz and Stegun 7.1.26, the same coefficients as in EXF.
using exf_detail::kA1;
using exf_detail::kA2;
using exf_detail::kA3;
using exf_detail::kA4;
using exf_detail::kA5;
using exf_detail::kP;

// Terms of the asymptotic expansion.
constexpr double kSqrtPi = double(1.772454f);
constexpr double kG = double(0.1994711f);
constexpr double kE1 = double(1.666667f);
constexpr double kE2 = double(1.8f);
constexpr double kE3 = double(3.3f);
constexpr double kE4 = double(97.45313f);
constexpr double kE5 = double(0.3535534f);
static_assert(kSqrtPi == 1.772454023361206);
static_assert(kG == 0.1994711011648178);
static_assert(kE1 == 1.6666669845581055);
static_assert(kE2 == 1.7999999523162842);
static_assert(kE3 == 3.299999952316284);
static_assert(kE4 == 97.45313262939453);
static_assert(kE5 == 0.3535534143447876);

}  // namespace

double GOLD(double a, double b) {
  double r = 0.0;
  double eps = 0.0;
  const double x = 2.0 * std::sqrt(std::max(a * b, 0.0));
  const double d = a + b - x;

  if (!(d > 17.0)) {
    if (x == 0.0) return fixed_exp(-a);

    const double M = std::max(a, b);
    const double m = std::min(a, b);
    // Term count, truncated towards zero; compared in double so that huge
    // arguments cannot overflow an integer.
    const double N = std::trunc(kTermFactor * M + 2.0 * m + 11.0);

    if (N <= 25.0) {
      // Double series: sum_k (m^k/k!) sum_{j<=k} (M^j/j!) for a >= b, the
      // complement sum_k (m^(k+1)/(k+1)!) sum_{j<=k} (M^j/j!) for a < b.
      // A negative count (negative arguments, outside the model's range)
      // sums no terms; converting it to int would be undefined.
      const int n = N < 1.0 ? 0 : static_cast<int>(N);
      const int s = (a < b) ? 1 : 0;
      double u = 1.0;
      double U = 1.0;
      double v = 1.0 + s * (m - 1.0);
      double S = v;
      for (int k = 1; k <= n; ++k) {
        u = u * M / k;
        U = U + u;
        v = v * m / (k + s);
        const double Snew = S + U * v;
        if ((Snew - S) / Snew < 1e-8) {
          S = Snew;
          break;
        }
        S = Snew;
      }
      r = S * EXF(-a - b, 0.0);
    } else {
      // Asymptotic expansion of J(M, m).
      const double pM = std::sqrt(M);
      const double pm = std::sqrt(m);
      const double t = 3.75 / x;
      const double P =
          kC0 + t * (kC1 + t * (kC2 + t * (kC3 + t * (kC4 + t * (kC5 + t * (kC6 + t * (kC7 + t * kC8)))))));
      eps = EXF(-d, 0.0) * P / std::sqrt(x);
      const double y = pM - pm;
      const double tau = 1.0 / (1.0 + kP * y);
      const double F = tau * (kA1 - tau * (kA2 - tau * (kA3 - tau * (kA4 - kA5 * tau))));
      const double q = 0.25 / x;
      const double w = 1.0 - kSqrtPi * y * F;
      const double z1 = 0.5 - d * w;
      const double z2 = 0.75 - d * z1;
      const double z3 = 1.875 - d * z2;
      const double z4 = 6.5625 - d * z3;
      const double g = kG * (M - m) * q;
      const double h =
          g * (w + 1.5 * q * (z1 + kE1 * q * (z2 + 1.75 * q * (z3 + q * (z4 * (kE2 - kE3 * q * d) + kE4 * q)))));
      r = 0.5 * eps + eps * (kE5 * (pM + pm) * F + h) / P;
    }
  }

  if (a < b) r = eps + 1.0 - r;
  return r;
}

namespace {

// Smallest argument (and first term) taken by the side-by-side series.
constexpr double kSmallest = 0x1p-990;

// Start of the double series for one argument pair, exactly as GOLD forms
// it. False when GOLD takes another way (saturation, zero product,
// expansion), and for the pairs left to GOLD itself: an argument below
// 2^-990 (or NaN), a first term v below 2^-990 (v = 1 + (m - 1) can round
// to 0), or no term at all.
struct SeriesStart {
  double M, m, N, s, v;
};

inline bool series_start(double a, double b, SeriesStart& st) {
  if (!(a >= kSmallest && b >= kSmallest)) return false;
  const double x = 2.0 * std::sqrt(std::max(a * b, 0.0));
  const double d = a + b - x;
  if (d > 17.0) return false;
  if (x == 0.0) return false;
  const double M = std::max(a, b);
  const double m = std::min(a, b);
  const double N = std::trunc(kTermFactor * M + 2.0 * m + 11.0);
  if (!(N <= 25.0 && N >= 1.0)) return false;
  const int s = (a < b) ? 1 : 0;
  const double v = 1.0 + s * (m - 1.0);
  if (!(v >= kSmallest)) return false;
  st.M = M;
  st.m = m;
  st.N = N;
  st.s = s;
  st.v = v;
  return true;
}

// An empty lane: no term changes its sum.
constexpr SeriesStart kEmptyLane = {0.0, 0.0, 1.0, 0.0, 1.0};

// J from the series sum and E = EXF(-a - b, 0), as GOLD ends the series
// branch (eps = 0 there).
inline double series_result(double a, double b, double S, double E) {
  const double eps = 0.0;
  double r = S * E;
  if (a < b) r = eps + 1.0 - r;
  return r;
}

// The stopping test compares the rounded quotient (Snew - S)/Snew with
// 1e-8. Here M, m and v are at least 2^-990, all terms are non-negative
// and the sums stay between 2^-990 and e^60 (also in lanes whose series
// has ended and that go on forming terms, at most 25 in all, unused; an
// empty lane has T = 1, D = 0), so Snew = T lies in [2^-990, 2^1000] and
// D = Snew - S >= 0. Each rounded product below is off
// by at most half an ulp. D below the rounded product T*(1e-8 - 16 ulp)
// puts the quotient below the double just under 1e-8, so that it rounds
// below 1e-8; D at or above the rounded product T*(1e-8 + 16 ulp) puts it
// above 1e-8, so that it does not round below. Only in between is the
// quotient itself formed.
constexpr double kStop = 1e-8;
constexpr double kStopBelow = kStop - 0x1p-75;  // ulp(1e-8) = 2^-79
constexpr double kStopAbove = kStop + 0x1p-75;
static_assert(kStop - kStopBelow == 0x1p-75 && kStopAbove - kStop == 0x1p-75);
static_assert(kStop > 0x1p-27 && kStop < 0x1p-26);

#if defined(__x86_64__)

// below: the lanes where the quotient D/T certainly rounds below 1e-8;
// settled: below, or certainly not.
inline void settle(__m128d D, __m128d T, __m128d& below, __m128d& settled) {
  below = _mm_cmplt_pd(D, _mm_mul_pd(T, _mm_set1_pd(kStopBelow)));
  const __m128d above = _mm_cmpge_pd(D, _mm_mul_pd(T, _mm_set1_pd(kStopAbove)));
  settled = _mm_or_pd(below, above);
}

inline __m128d quotient_below(__m128d D, __m128d T) {
  return _mm_cmplt_pd(_mm_div_pd(D, T), _mm_set1_pd(kStop));
}

// Two series side by side, one per lane: terms u = M^k/k!, partial sums U,
// v = m^(k+s)/(k+s)!, sum S. A lane is active until its series has ended;
// its S then no longer changes.
struct SeriesPair {
  __m128d u, U, v, S, active;
};

// Term k of both series up to the stopping test, in GOLD's order of
// operations: u = u*M/k; U = U + u; v = v*m/(k + s); Snew = S + U*v.
// Returns Snew; D = Snew - S; below and settled as from settle().
inline __m128d next_sum(SeriesPair& p, const SeriesStart* st, __m128d k, __m128d& D,
                        __m128d& below, __m128d& settled) {
  const __m128d M = _mm_set_pd(st[1].M, st[0].M);
  const __m128d m = _mm_set_pd(st[1].m, st[0].m);
  const __m128d s = _mm_set_pd(st[1].s, st[0].s);
  p.u = _mm_div_pd(_mm_mul_pd(p.u, M), k);
  p.U = _mm_add_pd(p.U, p.u);
  p.v = _mm_div_pd(_mm_mul_pd(p.v, m), _mm_add_pd(k, s));
  const __m128d Snew = _mm_add_pd(p.S, _mm_mul_pd(p.U, p.v));
  D = _mm_sub_pd(Snew, p.S);
  settle(D, Snew, below, settled);
  return Snew;
}

// The series ends after term N or when the quotient is below 1e-8; S takes
// Snew in the lanes that were active.
inline void end_term(SeriesPair& p, const SeriesStart* st, __m128d k, __m128d Snew, __m128d stop) {
  const __m128d N = _mm_set_pd(st[1].N, st[0].N);
  const __m128d ends = _mm_and_pd(p.active, _mm_or_pd(stop, _mm_cmpge_pd(k, N)));
  p.S = _mm_or_pd(_mm_and_pd(p.active, Snew), _mm_andnot_pd(p.active, p.S));
  p.active = _mm_andnot_pd(ends, p.active);
}

// Term k of both series.
inline void add_term(SeriesPair& p, const SeriesStart* st, __m128d k) {
  __m128d D, below, settled;
  const __m128d Snew = next_sum(p, st, k, D, below, settled);
  if (_mm_movemask_pd(settled) != 3) below = quotient_below(D, Snew);
  end_term(p, st, k, Snew, below);
}

inline SeriesPair start_pair(const SeriesStart* st, int live) {
  SeriesPair p;
  const double on = std::bit_cast<double>(~0ull);
  p.u = _mm_set1_pd(1.0);
  p.U = p.u;
  p.v = _mm_set_pd(st[1].v, st[0].v);
  p.S = p.v;
  p.active = _mm_set_pd(live > 1 ? on : 0.0, live > 0 ? on : 0.0);
  return p;
}

// Sums S[j] of the four series st[j]; lanes from count on are empty.
inline void sum_series(const SeriesStart* st, int count, double* S) {
  // Two pairs side by side, so that the divisions of one overlap those of
  // the other.
  SeriesPair p0 = start_pair(st, count);
  SeriesPair p1 = start_pair(st + 2, count - 2);
  const __m128d one = _mm_set1_pd(1.0);
  __m128d k = one;
  do {
    add_term(p0, st, k);
    add_term(p1, st + 2, k);
    k = _mm_add_pd(k, one);
  } while (_mm_movemask_pd(_mm_or_pd(p0.active, p1.active)) != 0);
  _mm_storeu_pd(S, p0.S);
  _mm_storeu_pd(S + 2, p1.S);
}

// The same steps in four lanes (AVX), eight series at a time; each lane
// rounds as the two-lane steps do.
struct SeriesQuad {
  __m256d u, U, v, S, active;
};

#define BTCFIT_AVX __attribute__((target("avx")))

BTCFIT_AVX inline __m256d lanes4(const SeriesStart* st, double SeriesStart::*field) {
  return _mm256_set_pd(st[3].*field, st[2].*field, st[1].*field, st[0].*field);
}

BTCFIT_AVX inline void add_term4(SeriesQuad& p, const SeriesStart* st, __m256d k) {
  const __m256d M = lanes4(st, &SeriesStart::M);
  const __m256d m = lanes4(st, &SeriesStart::m);
  const __m256d s = lanes4(st, &SeriesStart::s);
  p.u = _mm256_div_pd(_mm256_mul_pd(p.u, M), k);
  p.U = _mm256_add_pd(p.U, p.u);
  p.v = _mm256_div_pd(_mm256_mul_pd(p.v, m), _mm256_add_pd(k, s));
  const __m256d Snew = _mm256_add_pd(p.S, _mm256_mul_pd(p.U, p.v));
  const __m256d D = _mm256_sub_pd(Snew, p.S);
  __m256d below = _mm256_cmp_pd(D, _mm256_mul_pd(Snew, _mm256_set1_pd(kStopBelow)), _CMP_LT_OQ);
  const __m256d above =
      _mm256_cmp_pd(D, _mm256_mul_pd(Snew, _mm256_set1_pd(kStopAbove)), _CMP_GE_OQ);
  if (_mm256_movemask_pd(_mm256_or_pd(below, above)) != 0xf) {
    below = _mm256_cmp_pd(_mm256_div_pd(D, Snew), _mm256_set1_pd(kStop), _CMP_LT_OQ);
  }
  const __m256d N = lanes4(st, &SeriesStart::N);
  const __m256d ends =
      _mm256_and_pd(p.active, _mm256_or_pd(below, _mm256_cmp_pd(k, N, _CMP_GE_OQ)));
  p.S = _mm256_blendv_pd(p.S, Snew, p.active);
  p.active = _mm256_andnot_pd(ends, p.active);
}

BTCFIT_AVX inline SeriesQuad start_quad(const SeriesStart* st, int live) {
  SeriesQuad p;
  const double on = std::bit_cast<double>(~0ull);
  p.u = _mm256_set1_pd(1.0);
  p.U = p.u;
  p.v = lanes4(st, &SeriesStart::v);
  p.S = p.v;
  p.active = _mm256_set_pd(live > 3 ? on : 0.0, live > 2 ? on : 0.0, live > 1 ? on : 0.0,
                           live > 0 ? on : 0.0);
  return p;
}

// Sums S[j] of the eight series st[j]; lanes from count on are empty.
BTCFIT_AVX void sum_series8(const SeriesStart* st, int count, double* S) {
  SeriesQuad p0 = start_quad(st, count);
  SeriesQuad p1 = start_quad(st + 4, count - 4);
  const __m256d one = _mm256_set1_pd(1.0);
  __m256d k = one;
  do {
    add_term4(p0, st, k);
    add_term4(p1, st + 4, k);
    k = _mm256_add_pd(k, one);
  } while (_mm256_movemask_pd(_mm256_or_pd(p0.active, p1.active)) != 0);
  _mm256_storeu_pd(S, p0.S);
  _mm256_storeu_pd(S + 4, p1.S);
}

#undef BTCFIT_AVX

#else  // one series after the other, with the operations of each lane

// Sums S[j] of the series st[j] for j < count.
inline void sum_series(const SeriesStart* st, int count, double* S) {
  for (int j = 0; j < count; ++j) {
    const SeriesStart& q = st[j];
    double u = 1.0, U = 1.0, v = q.v, sum = q.v;
    for (double k = 1.0;; k += 1.0) {
      u = u * q.M / k;
      U = U + u;
      v = v * q.m / (k + q.s);
      const double Snew = sum + U * v;
      const bool stop = (Snew - sum) / Snew < kStop;
      sum = Snew;
      if (stop || k >= q.N) break;
    }
    S[j] = sum;
  }
}

inline void sum_series8(const SeriesStart* st, int count, double* S) { sum_series(st, count, S); }

#endif  // __x86_64__

}  // namespace

namespace gold_detail {

void series_stops(const double* D, const double* T, bool* stop) {
#if !defined(__x86_64__)
  for (int j = 0; j < 2; ++j) stop[j] = D[j] / T[j] < kStop;
  return;
#else
  __m128d below, settled;
  const __m128d d = _mm_loadu_pd(D), t = _mm_loadu_pd(T);
  settle(d, t, below, settled);
  if (_mm_movemask_pd(settled) != 3) below = quotient_below(d, t);
  const int mask = _mm_movemask_pd(below);
  stop[0] = (mask & 1) != 0;
  stop[1] = (mask & 2) != 0;
#endif
}

}  // namespace gold_detail

void GOLD_batch(const double* a, const double* b, double* r, int n) {
  gold_detail::GOLD_batch_in_groups(a, b, r, n, exp_detail::processor_has_avx() ? 8 : 4);
}

void gold_detail::GOLD_batch_in_groups(const double* a, const double* b, double* r, int n,
                                       int group) {
  // Argument pairs that take the series are gathered, in order, and summed
  // eight at a time with AVX, else four at a time; every other pair is evaluated by GOLD. The factors
  // EXF(-a - b, 0) of the series results are formed together at the end.
  constexpr int kGroupMost = 8;
  const int kGroup = (group == 8) ? 8 : 4;
  constexpr int kChunk = 128;
  SeriesStart st[kGroupMost];
  int at[kGroupMost];
  int held = 0;
  double sums[kChunk], ea[kChunk], ef[kChunk];
  int summed_at[kChunk];
  int summed = 0;
  const auto sum_held = [&] {
    double S[kGroupMost];
    for (int j = held; j < kGroup; ++j) st[j] = kEmptyLane;
    if (kGroup == 8) {
      sum_series8(st, held, S);
    } else {
      sum_series(st, held, S);
    }
    for (int j = 0; j < held; ++j) {
      summed_at[summed] = at[j];
      sums[summed] = S[j];
      ++summed;
    }
    held = 0;
  };
  const auto finish_summed = [&] {
    for (int k = 0; k < summed; ++k) {
      const int i = summed_at[k];
      ea[k] = -a[i] - b[i];
    }
    exf_zero_many(summed, ea, ef);
    for (int k = 0; k < summed; ++k) {
      const int i = summed_at[k];
      r[i] = series_result(a[i], b[i], sums[k], ef[k]);
    }
    summed = 0;
  };
  for (int i = 0; i < n; ++i) {
    if (series_start(a[i], b[i], st[held])) {
      at[held] = i;
      if (++held == kGroup) sum_held();
    } else {
      r[i] = GOLD(a[i], b[i]);
    }
    if (summed > kChunk - kGroupMost) finish_summed();
  }
  if (held > 0) sum_held();
  finish_summed();
}

}  // namespace btcfit
