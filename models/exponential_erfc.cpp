// exp(A)*erfc(B) without forming the two factors separately.
//
// For X = |B| the product is exp(A - X*X) * [exp(X*X)*erfc(X)]; the bracket
// comes from the rational approximation of Abramowitz and Stegun 7.1.26
// (with its exp(-X*X) factor left out) for X <= 3, and from a truncated
// continued fraction beyond. A negative B uses erfc(B) = 2 - erfc(|B|).
// The coefficients are single-precision values carried in double
// arithmetic; the widened values are the ones in effect.
#include "models/exponential_erfc.hpp"

#include <cmath>

namespace btcfit {

namespace {

// Abramowitz and Stegun 7.1.26, signs of a2 and a4 folded into the nesting.
constexpr double kP = double(0.3275911f);
constexpr double kA1 = double(0.2548296f);
constexpr double kA2 = double(0.2844967f);
constexpr double kA3 = double(1.421414f);
constexpr double kA4 = double(1.453152f);
constexpr double kA5 = double(1.061405f);
// 1/sqrt(pi), numerator of the continued fraction.
constexpr double kQ = double(0.5641896f);

static_assert(kP == 0.32759109139442444);
static_assert(kA1 == 0.2548295855522156);
static_assert(kA2 == 0.2844966948032379);
static_assert(kA3 == 1.4214140176773071);
static_assert(kA4 == 1.4531519412994385);
static_assert(kA5 == 1.0614049434661865);
static_assert(kQ == 0.564189612865448);

// exp(X*X)*erfc(X) of the rational approximation at X = 0 (t = 1):
// 0.9999999105930328, the value that EXF(A, 0) multiplies exp(A) by.
constexpr double kF0 = 1.0 * (kA1 - 1.0 * (kA2 - 1.0 * (kA3 - 1.0 * (kA4 - kA5 * 1.0))));
static_assert(kF0 == 0.9999999105930328);

}  // namespace

double EXF(double A, double B) {
  // The guarded exponential EXF(A, 0), the most frequent call: the general
  // steps below reduce to this, with the same result bits.
  if (B == 0.0) {
    if (std::fabs(A) > 100.0) return 0.0;
    return std::exp(A) * kF0;
  }
  double R = 0.0;
  if (B <= 0.0 && std::fabs(A) > 100.0) return 0.0;
  const double W = A - B * B;
  if (std::fabs(W) > 100.0 && B >= 0.0) return 0.0;
  if (!(W < -100.0)) {
    const double X = std::fabs(B);
    double F;
    if (X <= 3.0) {
      const double t = 1.0 / (1.0 + kP * X);
      F = t * (kA1 - t * (kA2 - t * (kA3 - t * (kA4 - kA5 * t))));
    } else {
      // The innermost denominator is X + 2.5/X + 1.
      F = kQ / (X + 0.5 / (X + 1.0 / (X + 1.5 / (X + 2.0 / (X + 2.5 / X + 1.0)))));
    }
    R = std::exp(W) * F;
  }
  if (B < 0.0) R = 2.0 * std::exp(A) - R;
  return R;
}

}  // namespace btcfit
