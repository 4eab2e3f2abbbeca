// exp(-x) I0(x) and exp(-x) I1(x) / x, the kernel of the two-site model.
//
// Method: below x = 30 the power series I0(x) = sum t^k / (k!)^2 and
// 2 I1(x) / x = sum t^k / (k! (k+1)!), t = x^2 / 4, whose terms are all
// positive (no cancellation; each sum is good to a few units in the last
// place), times exp(-x). From x = 30 on the asymptotic series
// exp(-x) I_n(x) = (2 pi x)^(-1/2) sum_k (-1)^k a_k(n) / x^k, summed until
// its terms fall below 1e-17: its smallest term is near exp(-2x) < 1e-26
// there, so the truncation costs nothing at double precision. Only the
// project's exp and std::sqrt are used.
#include <cmath>

#include "models/accurate_kernels.hpp"
#include "models/exponential.hpp"

namespace btcfit::accurate_detail {
namespace {

constexpr double kSeriesBelow = 30.0;
constexpr double kTwoPi = 6.2831853071795864769;

}  // namespace

ScaledBessel scaled_bessel(double x) {
  if (x < kSeriesBelow) {
    const double t = 0.25 * x * x;
    double u0 = 1.0;  // t^k / (k!)^2
    double u1 = 1.0;  // t^k / (k! (k+1)!)
    double s0 = 1.0;
    double s1 = 1.0;
    for (int k = 1; k < 200; ++k) {
      u0 = u0 * t / (static_cast<double>(k) * k);
      u1 = u1 * t / (static_cast<double>(k) * (k + 1));
      s0 += u0;
      s1 += u1;
      if (u0 <= 1e-17 * s0) break;
    }
    const double e = fixed_exp(-x);
    return {e * s0, 0.5 * e * s1};
  }
  const double r = 1.0 / x;
  double a0 = 1.0;
  double a1 = 1.0;
  double s0 = 1.0;
  double s1 = 1.0;
  for (int k = 1; k < 60; ++k) {
    const double odd = 2.0 * k - 1.0;
    a0 = a0 * (odd * odd) * r / (8.0 * k);
    a1 = -a1 * (4.0 - odd * odd) * r / (8.0 * k);
    s0 += a0;
    s1 += a1;
    if (a0 <= 1e-17) break;
  }
  const double scale = 1.0 / std::sqrt(kTwoPi * x);
  return {scale * s0, scale * s1 * r};
}

}  // namespace btcfit::accurate_detail
