// erfcx, erfc and exp(a) erfc(b) to close to double precision.
//
// Method: erfcx(x) = exp(x^2) erfc(x) is smooth and slowly varying for
// x >= 0, so it is tabulated as Chebyshev series in power form
// (accurate_erfcx_coefficients.hpp, made with mpmath at 40 digits; summed by
// Estrin's scheme, whose steps do not wait on each other): sixteen intervals of
// width 1/2 on [0, 8), and beyond 8 the function x sqrt(pi) erfcx(x) of
// s = 64/x^2, which tends to 1 as x grows. The series are good to 2e-18
// relative, so the result carries only the rounding of the coefficients and
// of the summation, a few units in the last place. Negative arguments use erfc(-x) = 2 - erfc(x). erfc(x) is
// then exp(-x^2) erfcx(x) with the project's own exp, and a product
// exp(a) erfc(b) is exp(a - b^2) erfcx(b): the large exponentials of the
// convection-dispersion solutions (a = v x / D) never appear on their own.
#include <cmath>

#include "models/accurate_polynomial.hpp"
#include "models/accurate_erfcx_coefficients.hpp"
#include "models/accurate_kernels.hpp"
#include "models/exponential.hpp"

namespace btcfit::accurate_detail {
namespace {

constexpr double kSqrtPi = 1.7724538509055160273;

// erfcx for x >= 0 (NaN stays NaN).
double erfcx_nonnegative(double x) {
  if (x < 8.0) {
    const int i = static_cast<int>(2.0 * x);
    return polynomial(kErfcxNear[i], 4.0 * x - (2 * i + 1));
  }
  const double y = 8.0 / x;
  return polynomial(kErfcxTail, 2.0 * (y * y) - 1.0) / (x * kSqrtPi);
}

}  // namespace

double erfcx(double x) {
  if (x >= 0.0) return erfcx_nonnegative(x);
  if (!(x < 0.0)) return x;  // NaN
  return 2.0 * fixed_exp(x * x) - erfcx_nonnegative(-x);
}

double erfc(double x) {
  if (x >= 0.0) return fixed_exp(-(x * x)) * erfcx_nonnegative(x);
  if (!(x < 0.0)) return x;  // NaN
  return 2.0 - fixed_exp(-(x * x)) * erfcx_nonnegative(-x);
}

double exp_erfc(double a, double b, double w) {
  if (b >= 0.0) return fixed_exp(w) * erfcx_nonnegative(b);
  return 2.0 * fixed_exp(a) - fixed_exp(w) * erfcx_nonnegative(-b);
}

}  // namespace btcfit::accurate_detail
