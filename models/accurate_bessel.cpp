// exp(-x) I0(x) and exp(-x) I1(x) / x, the kernel of the two-site model.
//
// Method: both functions are smooth and bounded for x >= 0, so they are
// tabulated as Chebyshev series (accurate_bessel_coefficients.hpp, made
// with mpmath at 40 digits): ten intervals of width 2 on [0, 20), and
// beyond 20 the functions sqrt(x) exp(-x) I0(x) and sqrt(x) exp(-x) I1(x)
// of s = 20/x, which tend to 1/sqrt(2 pi) as x grows. The series are good
// to 1.4e-17 relative, so the results carry only the rounding of the
// summation, a few units in the last place. Only std::sqrt is used (no
// exp: the caller multiplies by its own exponential).
#include <cmath>

#include "models/accurate_bessel_coefficients.hpp"
#include "models/accurate_chebyshev.hpp"
#include "models/accurate_kernels.hpp"

namespace btcfit::accurate_detail {

ScaledBessel scaled_bessel(double x) {
  if (x < kBesselSwitch) {
    const int i = static_cast<int>(0.5 * x);
    const double u = x - (2 * i + 1);
    return {chebyshev_sum(kBesselI0Near[i], u), chebyshev_sum(kBesselI1Near[i], u)};
  }
  const double u = 2.0 * (kBesselSwitch / x) - 1.0;
  const double r = 1.0 / std::sqrt(x);
  return {r * chebyshev_sum(kBesselTail[0], u), r * chebyshev_sum(kBesselTail[1], u) / x};
}

}  // namespace btcfit::accurate_detail
