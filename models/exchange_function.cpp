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

#include <algorithm>
#include <cmath>

#include "models/exponential_erfc.hpp"

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

// Abramowitz and Stegun 7.1.26, signs of a2 and a4 folded into the nesting.
constexpr double kP = double(0.3275911f);
constexpr double kA1 = double(0.2548296f);
constexpr double kA2 = double(0.2844967f);
constexpr double kA3 = double(1.421414f);
constexpr double kA4 = double(1.453152f);
constexpr double kA5 = double(1.061405f);
static_assert(kP == 0.32759109139442444);
static_assert(kA1 == 0.2548295855522156);
static_assert(kA2 == 0.2844966948032379);
static_assert(kA3 == 1.4214140176773071);
static_assert(kA4 == 1.4531519412994385);
static_assert(kA5 == 1.0614049434661865);

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
    if (x == 0.0) return std::exp(-a);

    const double M = std::max(a, b);
    const double m = std::min(a, b);
    // Term count, truncated towards zero; compared in double so that huge
    // arguments cannot overflow an integer.
    const double N = std::trunc(kTermFactor * M + 2.0 * m + 11.0);

    if (N <= 25.0) {
      // Double series: sum_k (m^k/k!) sum_{j<=k} (M^j/j!) for a >= b, the
      // complement sum_k (m^(k+1)/(k+1)!) sum_{j<=k} (M^j/j!) for a < b.
      const int n = static_cast<int>(N);
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

}  // namespace btcfit
