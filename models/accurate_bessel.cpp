// exp(-x) I0(x) and exp(-x) I1(x) / x, the kernel of the two-site model.
//
// Method: both functions are smooth and bounded for x >= 0, so they are
// tabulated as Chebyshev series in power form (accurate_bessel_
// coefficients.hpp, made with mpmath at 40 digits): twenty intervals of
// width 1 on [0, 20), and
// beyond 20 the functions sqrt(x) exp(-x) I0(x) and sqrt(x) exp(-x) I1(x)
// of s = 20/x, which tend to 1/sqrt(2 pi) as x grows. The series are good
// to 1.4e-17 relative, so the results carry only the rounding of the
// coefficients and of the summation (Estrin's scheme), a few units in the
// last place. Only std::sqrt is used (no
// exp: the caller multiplies by its own exponential).
#include <cmath>

#include "models/accurate_bessel_coefficients.hpp"
#include "models/accurate_polynomial.hpp"
#include "models/accurate_kernels.hpp"

namespace btcfit::accurate_detail {

ScaledBessel scaled_bessel(double x) {
  if (x < kBesselSwitch) {
    const int i = static_cast<int>(x);
    const double u = 2.0 * x - (2 * i + 1);
    return {polynomial(kBesselI0Near[i], u), polynomial(kBesselI1Near[i], u)};
  }
  const double u = 2.0 * (kBesselSwitch / x) - 1.0;
  const double r = 1.0 / std::sqrt(x);
  return {r * polynomial(kBesselTail[0], u), r * polynomial(kBesselTail[1], u) / x};
}

}  // namespace btcfit::accurate_detail
